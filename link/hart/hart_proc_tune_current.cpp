// The current-output trim: a current check measures the loop at 4 and 20 mA, then each selected
// device gets the zero and gain trims (45, 46) with the measured currents, or, when it refuses 45,
// new output coefficients through its own commands (128, 122, 123); a second check records the
// result and the devices leave fixed-current mode.
#include <cmath>

#include "hart/hart_proc_common.h"

using namespace quarn::hartproc;

namespace {

constexpr uint32_t kSelectWaitMs = 200;
constexpr uint32_t kWaitMs = 800;

// The fixed currents at which the check measured meas[0] and meas[2].
constexpr float kLowSetPoint = 4.0f;
constexpr float kHighSetPoint = 20.0f;

THartChk& chk() { return Dev.hartChk[currCh_Tune_I]; }

void trimFailed() {
  Dev.errCode = ERR_CURRENT_TRIM;
  Dev.errText = quarn_error_text(ERR_CURRENT_TRIM);
  Update();
  now(fRet[RET_HART_TUNE_I].err);
}

}  // namespace

extern "C" {

QUARN_API int32_t currCh_Tune_I = 0;

QUARN_API void quarn_hart_output_trim(float k, float b, float m4, float m20, float* kNew, float* bNew) {
  // NaN compares unequal, so a missing measurement gives NaN coefficients the device refuses.
  float kp = k;
  if (m4 != m20 && k != 0.0f)
    kp = static_cast<float>(static_cast<double>(k) * (kHighSetPoint - kLowSetPoint) /
                            (static_cast<double>(m20) - m4));
  const float bp = static_cast<float>(static_cast<double>(b) + static_cast<double>(kHighSetPoint) * k -
                                      static_cast<double>(m20) * kp);
  if (kNew) *kNew = kp;
  if (bNew) *bNew = bp;
}

QUARN_API int32_t Hart_Tune_I(void) {
  fRet[RET_HART_CHECK_I] = {Hart_Tune_I_1, Meas};
  now(Hart_Check_I);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_1(void) {
  currCh_Tune_I = 0;
  now(Hart_Tune_I_2);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_2(void) {
  int32_t ch = currCh_Tune_I < 0 ? 0 : currCh_Tune_I;
  while (ch < kChannels && !(Dev.hart[ch].found && Dev.hartChk[ch].active)) ++ch;
  if (ch >= kChannels) {
    now(Hart_Tune_I_fin);
    return 0;
  }
  currCh_Tune_I = ch;
  selectChannel(ch);
  after(Hart_Tune_I_3, kSelectWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_3(void) {
  if (!kestoAnswerOk()) {
    now(fRet[RET_HART_TUNE_I].err);
    return 0;
  }
  Dev.dsc[1] = dsc_[DSC_TRIM_CURRENT];
  // Polling address 0 with the loop current enabled: only then does the output follow command 40.
  TxCmd_bb(6, 0, 1);
  after(Hart_Tune_I_31, kWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_31(void) {
  if (hartReply(Hart_Tune_I_31, kWaitMs) == Reply::Busy) return 0;
  TxCmd_f(40, kLowSetPoint);
  after(Hart_Tune_I_32, kWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_32(void) {
  if (hartReply(Hart_Tune_I_32, kWaitMs) == Reply::Busy) return 0;
  TxCmd_f(45, chk().meas[0]);
  after(Hart_Tune_I_35, kWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_35(void) {
  const Reply reply = hartReply(Hart_Tune_I_35, kWaitMs);
  if (reply == Reply::Busy) return 0;
  if (reply != Reply::Good) {
    now(Hart_Tune_I_Old_1);
    return 0;
  }
  TxCmd_f(40, kHighSetPoint);
  after(Hart_Tune_I_4, kWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_4(void) {
  if (hartReply(Hart_Tune_I_4, kWaitMs) == Reply::Busy) return 0;
  TxCmd_f(46, chk().meas[2]);
  after(Hart_Tune_I_5, kWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_5(void) {
  const Reply reply = hartReply(Hart_Tune_I_5, kWaitMs);
  if (reply == Reply::Busy) return 0;
  if (reply != Reply::Good) {
    now(fRet[RET_HART_TUNE_I].err);
    return 0;
  }
  ++currCh_Tune_I;
  now(Hart_Tune_I_2);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_fin(void) {
  fRet[RET_HART_CHECK_I] = {Hart_Tune_I_fin_1, Hart_Tune_I_fin_1};
  now(Hart_Check_I);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_fin_1(void) {
  fRet[RET_HART_EXIT_I_OUT] = {Hart_Tune_I_fin_2, Hart_Tune_I_fin_2};
  now(HART_Exit_I_out);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_fin_2(void) {
  if (Dev.task == TASK_HART_TUNE_I) SetDevRetCode(1);
  now(fRet[RET_HART_TUNE_I].ok);
  return 0;
}

/* ---- Device-specific trim ------------------------------------------------------------------------ */

QUARN_API int32_t Hart_Tune_I_Old_1(void) {
  ClearDevErrorCode();
  TxCmd(128);
  after(Hart_Tune_I_Old_11, kWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_Old_11(void) {
  const Reply reply = hartReply(Hart_Tune_I_Old_11, kWaitMs);
  if (reply == Reply::Busy) return 0;
  if (reply != Reply::Good) {
    trimFailed();
    return 0;
  }
  ClearDevErrorCode();
  TxCmd(122);
  after(Hart_Tune_I_Old_2, kWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Tune_I_Old_2(void) {
  const Reply reply = hartReply(Hart_Tune_I_Old_2, kWaitMs);
  if (reply == Reply::Busy) return 0;
  if (reply != Reply::Good) {
    trimFailed();
    return 0;
  }
  const THartDev& dev = Dev.hart[currCh_Tune_I];
  float k = 0, b = 0;
  quarn_hart_output_trim(dev.calibValueA, dev.calibValueB, chk().meas[0], chk().meas[2], &k, &b);
  TxCmd_ff(123, k, b);
  after(Hart_Tune_I_5, kWaitMs);
  return 0;
}

}  // extern "C"
