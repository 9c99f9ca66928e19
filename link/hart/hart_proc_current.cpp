// The current-output check: every selected transmitter is fixed at 4, 12 and 20 mA in turn, the loop
// currents are measured by the Kesto module and the deviations computed; and leaving fixed-current
// mode on every usable channel with a found device.
#include <cmath>

#include "hart/hart_proc_common.h"

using namespace quarn::hartproc;

namespace {

constexpr uint32_t kSelectWaitMs = 300;
constexpr uint32_t kFixWaitMs = 1000;
constexpr uint32_t kSettleMs = 2000;
constexpr uint32_t kExitSelectWaitMs = 250;
constexpr uint32_t kExitWaitMs = 1000;
constexpr uint32_t kLastStage = 2;

void reportFixedCurrentFailure() {
  Dev.errCode = ERR_FIXED_CURRENT;
  Dev.errText = quarn_error_text(ERR_FIXED_CURRENT);
  Update();
}

}  // namespace

extern "C" {

/* ---- Check --------------------------------------------------------------------------------------- */

QUARN_API int32_t Hart_Check_I(void) {
  Dev.hartCh = -1;
  Dev.hartProgress = 0;
  Dev.hartStage = 0;
  Update();
  after(Hart_Check_I_1_Kesto_SelectCh, 1);
  return 0;
}

QUARN_API int32_t Hart_Check_I_1_Kesto_SelectCh(void) {
  if (Kesto_SelectNextHARTch() >= 0) {
    after(Hart_Check_I_2_Set_I_out, kSelectWaitMs);
    return 0;
  }
  Dev.dsc[1] = dsc_[DSC_MEASURE_CURRENT];
  Update();
  after(Hart_Check_I_4_MeasI, kSettleMs);
  return 0;
}

QUARN_API int32_t Hart_Check_I_2_Set_I_out(void) {
  if (!kestoAnswerOkWithRepeats(Hart_Check_I_2_Set_I_out, kSelectWaitMs, fRet[RET_HART_CHECK_I].err))
    return 0;
  const uint32_t stage = Dev.hartStage <= kLastStage ? Dev.hartStage : kLastStage;
  TxCmd_f(40, kSetPoints[stage]);
  Dev.dsc[1] = dsc_[DSC_SET_4MA + stage];
  Update();
  after(Hart_Check_I_3_Set_I_outAc, kFixWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Check_I_3_Set_I_outAc(void) {
  const Reply reply = hartReply(Hart_Check_I_3_Set_I_outAc, kFixWaitMs);
  if (reply == Reply::Busy) return 0;
  if (reply == Reply::Good) {
    after(Hart_Check_I_1_Kesto_SelectCh, 1);
    return 0;
  }
  reportFixedCurrentFailure();
  after(fRet[RET_HART_CHECK_I].err, 1);
  return 0;
}

QUARN_API int32_t Hart_Check_I_4_MeasI(void) {
  fRet[RET_KESTO_START_READ] = {Hart_Check_I_5_MeasI_fin, Hart_Check_I_5_MeasI_error};
  now(Kesto_StartRead);
  return 0;
}

QUARN_API int32_t Hart_Check_I_5_MeasI_error(void) {
  _SetDevErrorCode(ERR_MEASURE_INPUT);
  after(fRet[RET_HART_CHECK_I].err, 1);
  return 0;
}

QUARN_API int32_t Hart_Check_I_5_MeasI_fin(void) {
  const uint32_t stage = Dev.hartStage <= kLastStage ? Dev.hartStage : kLastStage;
  const float setPoint = kSetPoints[stage];
  for (int32_t ch = 0; ch < kChannels; ++ch) {
    THartChk& chk = Dev.hartChk[ch];
    if (!chk.active) continue;
    const float current = Dev.kestoCurrent[ch];
    const float span = std::fabs(Dev.devCh[ch].el_Max - Dev.devCh[ch].el_Min);
    chk.meas[stage] = current;
    // A channel without an output range has no deviation (rather than an infinite one).
    const bool measurable = !std::isnan(current) && span > 0.0f && std::isfinite(span);
    chk.dev[stage] = measurable ? (current - setPoint) / span * 100.0f : NAN;
  }
  Update();
  if (stage < kLastStage) {
    Dev.hartCh = -1;
    Dev.hartStage = stage + 1;
    now(Hart_Check_I_1_Kesto_SelectCh);
    return 0;
  }
  if (Dev.task == TASK_HART_CHECK_I) {
    fRet[RET_HART_EXIT_I_OUT] = {Hart_Check_I_fin, Hart_Check_I_fin};
    now(HART_Exit_I_out);
    return 0;
  }
  // Inside the current trim: the devices stay in fixed-current mode.
  now(fRet[RET_HART_CHECK_I].ok);
  return 0;
}

QUARN_API int32_t Hart_Check_I_fin(void) {
  SetDevRetCode(1);
  now(fRet[RET_HART_CHECK_I].ok);
  return 0;
}

/* ---- Leaving fixed-current mode ----------------------------------------------------------------- */

QUARN_API int32_t HART_Exit_I_out(void) {
  Dev.hartCh = 0;
  fRet[RET_KESTO_READ_ERR] = {HART_Exit_I_out_1, HART_Exit_I_out_1};
  Dev.dsc[1] = dsc_[DSC_EXIT_FIXED_CURRENT];
  now(Kesto_ReadErrorOpenFile);
  return 0;
}

QUARN_API int32_t HART_Exit_I_out_1(void) {
  // Only a found device can be in fixed-current mode, and only a found device has a long address: a
  // channel without one would get the request at the zero (broadcast) address.
  int32_t ch = Dev.hartCh < 0 ? 0 : Dev.hartCh;
  while (ch < kChannels && !(usable(ch) && Dev.hart[ch].found)) ++ch;
  if (ch >= kChannels) {
    after(fRet[RET_HART_EXIT_I_OUT].ok, 1);
    return 0;
  }
  selectChannel(ch);
  Update();
  after(HART_Exit_I_out_2, kExitSelectWaitMs);
  return 0;
}

QUARN_API int32_t HART_Exit_I_out_2(void) {
  if (!kestoAnswerOkWithRepeats(HART_Exit_I_out_2, kExitSelectWaitMs, fRet[RET_HART_EXIT_I_OUT].err))
    return 0;
  TxCmd_f(40, 0.0f);
  after(HART_Exit_I_out_3, kExitWaitMs);
  return 0;
}

QUARN_API int32_t HART_Exit_I_out_3(void) {
  const Reply reply = hartReply(HART_Exit_I_out_3, kExitWaitMs);
  if (reply == Reply::Busy) return 0;
  if (reply == Reply::Good) {
    ++Dev.hartCh;
    after(HART_Exit_I_out_1, 1);
    return 0;
  }
  TxCmd_f(40, 0.0f);
  after(HART_Exit_I_out_4, kExitWaitMs);
  return 0;
}

QUARN_API int32_t HART_Exit_I_out_4(void) {
  const Reply reply = hartReply(HART_Exit_I_out_4, kExitWaitMs);
  if (reply == Reply::Busy) return 0;
  if (reply != Reply::Good) reportFixedCurrentFailure();
  ++Dev.hartCh;
  now(HART_Exit_I_out_1);
  return 0;
}

}  // extern "C"
