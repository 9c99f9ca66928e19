// One-channel device jobs: zero setting (43, then 1 to read the new primary variable), device reset
// (42), and restoring manufacturer settings (136 twice, 42, then the whole device information again).
#include "hart/hart_proc_common.h"

using namespace quarn::hartproc;

namespace {

constexpr uint32_t kZeroWaitMs = 1000;
constexpr uint32_t kReadPvWaitMs = 800;
constexpr uint32_t kResetSelectWaitMs = 200;
constexpr uint32_t kResetWaitMs = 800;
constexpr uint32_t kRestoreSelectWaitMs = 200;
constexpr uint32_t kRestoreWaitMs = 1000;

// Channel index behind the task argument; -1 when there is none or it is out of range.
int32_t channelFromTaskArg() {
  if (!Dev.taskArg) return -1;
  const int32_t ch = *static_cast<const int32_t*>(Dev.taskArg);
  return validChannel(ch) ? ch : -1;
}

void zeroFailed() {
  SetDevRetCode(7);
  now(fRet[RET_HART_SET_0].err);
}

}  // namespace

extern "C" {

/* ---- Zero ---------------------------------------------------------------------------------------- */

QUARN_API int32_t Hart_Set_0(void) {
  const int32_t ch = channelFromTaskArg();
  if (ch < 0 || Dev.hart[ch].found == 0) {
    zeroFailed();
    return 0;
  }
  selectChannel(ch);
  after(Hart_Set_0_2, kZeroWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Set_0_2(void) {
  if (!kestoAnswerOk()) {
    zeroFailed();
    return 0;
  }
  TxCmd(43);
  after(Hart_Set_0_3, kZeroWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Set_0_3(void) {
  const Reply reply = hartReply(Hart_Set_0_3, kZeroWaitMs);
  if (reply == Reply::Busy) return 0;
  if (reply != Reply::Good) {
    zeroFailed();
    return 0;
  }
  TxCmd(1);
  after(Hart_Set_0_4, kReadPvWaitMs);
  return 0;
}

QUARN_API int32_t Hart_Set_0_4(void) {
  if (hartReply(Hart_Set_0_4, kReadPvWaitMs) == Reply::Busy) return 0;
  Dev.event = 8;
  Update();
  now(fRet[RET_HART_SET_0].ok);
  return 0;
}

/* ---- Reset --------------------------------------------------------------------------------------- */

QUARN_API int32_t Hart_ResetDev(void) {
  const int32_t ch = channelFromTaskArg();
  if (ch < 0 || Dev.hart[ch].found == 0) {
    now(fRet[RET_HART_RESET_DEV].ok);
    return 0;
  }
  selectChannel(ch);
  after(Hart_ResetDev_2, kResetSelectWaitMs);
  return 0;
}

QUARN_API int32_t Hart_ResetDev_2(void) {
  if (!kestoAnswerOk()) {
    now(fRet[RET_HART_RESET_DEV].ok);
    return 0;
  }
  TxCmd(42);
  after(Hart_ResetDev_3, kResetWaitMs);
  return 0;
}

QUARN_API int32_t Hart_ResetDev_3(void) {
  if (hartReply(Hart_ResetDev_3, kResetWaitMs) == Reply::Busy) return 0;
  now(fRet[RET_HART_RESET_DEV].ok);
  return 0;
}

/* ---- Restore manufacturer settings --------------------------------------------------------------- */

QUARN_API int32_t Hart_RepairMan(void) {
  const int32_t ch = Dev.hartCh;
  if (!validChannel(ch) || Dev.hart[ch].found == 0) {
    // Reported before the continuation runs: Meas would replace the code before anyone saw it.
    SetDevRetCode(9);
    now(fRet[RET_HART_REPAIR_MAN].ok);
    return 0;
  }
  Update();
  selectChannel(ch);
  ++Dev.hartProgress;
  after(Hart_RepairMan_1, kRestoreSelectWaitMs);
  return 0;
}

QUARN_API int32_t Hart_RepairMan_1(void) {
  RxUail();
  TxCmd_bb(136, 0, 0);
  ++Dev.hartProgress;
  after(Hart_RepairMan_2, kRestoreWaitMs);
  return 0;
}

QUARN_API int32_t Hart_RepairMan_2(void) {
  if (hartReply(Hart_RepairMan_2, kRestoreWaitMs) == Reply::Busy) return 0;
  TxCmd_bb(136, 0, 1);
  ++Dev.hartProgress;
  after(Hart_RepairMan_3, kRestoreWaitMs);
  return 0;
}

QUARN_API int32_t Hart_RepairMan_3(void) {
  if (hartReply(Hart_RepairMan_3, kRestoreWaitMs) == Reply::Busy) return 0;
  TxCmd(42);
  ++Dev.hartProgress;
  after(Hart_RepairMan_4, kRestoreWaitMs);
  return 0;
}

QUARN_API int32_t Hart_RepairMan_4(void) {
  if (hartReply(Hart_RepairMan_4, kRestoreWaitMs) == Reply::Busy) return 0;
  ++Dev.hartProgress;
  fRet[RET_HART_READ_DEV_INFO] = {fRet[RET_HART_REPAIR_MAN].ok, fRet[RET_HART_REPAIR_MAN].ok};
  now(Hart_ReadDeviceInfo);
  return 0;
}

}  // extern "C"
