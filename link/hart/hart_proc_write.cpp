// Writing the configuration the operator edited into the transmitter of one channel: only what
// differs from what the device reported, in the order units, polling address, damping, transfer
// function, range; then the whole device information is read again.
#include <cmath>

#include "hart/hart_proc_common.h"

using namespace quarn::hartproc;

namespace {

constexpr uint32_t kSelectWaitMs = 200;
constexpr uint32_t kUnitsWaitMs = 2000;
constexpr uint32_t kAfterUnitsMs = 100;
constexpr uint32_t kWriteWaitMs = 500;
constexpr uint32_t kRangeWaitMs = 1000;
constexpr uint32_t kHighestAddress = 200;

uint8_t lowByte(uint32_t v) { return static_cast<uint8_t>(v & 0xFFu); }

THartDev& device() { return Dev.hart[Dev.hartCh]; }

// Every write step first counts and notifies.
void progress() {
  ++Dev.hartProgress;
  Update();
}

void toReadChain() {
  fRet[RET_HART_READ_DEV_INFO] = {Hart_WriteAllParam_fin, Hart_WriteAllParam_fin};
  now(Hart_ReadDeviceInfo);
}

}  // namespace

extern "C" {

QUARN_API int32_t Hart_WriteAllParam(void) {
  Dev.hartProgress = 0;
  Update();
  if (!validChannel(Dev.hartCh)) {
    now(fRet[RET_HART_WRITE_ALL_PARAM].err);
    return 0;
  }
  selectChannel(Dev.hartCh);
  after(Hart_WriteAllParam_1, kSelectWaitMs);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_1(void) {
  Dev.hartProgress = 1;
  Update();
  now(Hart_WriteAllParam_Units);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_Units(void) {
  const uint8_t units = lowByte(Dev.hartWrUnits);
  if (units == device().rangeUnits) {
    now(Hart_WriteAllParam_Adr);
    return 0;
  }
  progress();
  TxCmd_b(44, units);
  after(Hart_WriteAllParam_UnitsAc, kUnitsWaitMs);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_UnitsAc(void) {
  if (hartReply(Hart_WriteAllParam_UnitsAc, kUnitsWaitMs) == Reply::Busy) return 0;
  after(Hart_WriteAllParam_Adr, kAfterUnitsMs);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_Adr(void) {
  uint8_t address = lowByte(Dev.hartWrAddress);
  if (address > kHighestAddress) address = 0;
  if (address == device().pollingAddress) {
    now(Hart_WriteAllParam_damp);
    return 0;
  }
  progress();
  // The analog output stays active only at address 0.
  TxCmd_bb(6, address, address == 0 ? 1 : 0);
  after(Hart_WriteAllParam_AcAdr, kWriteWaitMs);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_AcAdr(void) {
  if (hartReply(Hart_WriteAllParam_AcAdr, kWriteWaitMs) == Reply::Busy) return 0;
  now(Hart_WriteAllParam_damp);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_damp(void) {
  // NaN on either side compares unequal, so it is written.
  if (Dev.hartWrDamping == device().damping) {
    now(Hart_WriteAllParam_fn);
    return 0;
  }
  progress();
  TxCmd_f(34, Dev.hartWrDamping);
  after(Hart_WriteAllParam_Acdamp, kWriteWaitMs);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_Acdamp(void) {
  if (hartReply(Hart_WriteAllParam_Acdamp, kWriteWaitMs) == Reply::Busy) return 0;
  now(Hart_WriteAllParam_fn);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_fn(void) {
  const uint8_t function = lowByte(Dev.hartWrFunction);
  if (function == device().transferFunction) {
    now(Hart_WriteAllParam_PVrange);
    return 0;
  }
  progress();
  TxCmd_b(47, function);
  after(Hart_WriteAllParam_Acfn, kWriteWaitMs);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_Acfn(void) {
  if (hartReply(Hart_WriteAllParam_Acfn, kWriteWaitMs) == Reply::Busy) return 0;
  now(Hart_WriteAllParam_PVrange);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_PVrange(void) {
  if (Dev.hartWrLower == device().lowerRange && Dev.hartWrUpper == device().upperRange) {
    toReadChain();
    return 0;
  }
  progress();
  // The range goes with the units just written.
  TxCmd_bff(35, lowByte(Dev.hartWrUnits), Dev.hartWrUpper, Dev.hartWrLower);
  after(Hart_WriteAllParam_PV_Ac_range, kRangeWaitMs);
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_PV_Ac_range(void) {
  // A busy device is asked again before the step counts.
  if (hartReply(Hart_WriteAllParam_PV_Ac_range, kRangeWaitMs) == Reply::Busy) return 0;
  progress();
  toReadChain();
  return 0;
}

QUARN_API int32_t Hart_WriteAllParam_fin(void) {
  Hart_Dev_Data_Upd();
  if (validChannel(Dev.hartCh)) device().found = 1;
  SetDevRetCode(4);
  Update();
  now(fRet[RET_HART_WRITE_ALL_PARAM].ok);
  return 0;
}

}  // extern "C"
