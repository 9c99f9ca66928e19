// Writing the configuration the operator edited into the transmitter of one channel: only what
// differs from what the device reported, in the order units, polling address, damping, transfer
// function, range; then the whole device information is read again.
#include <cmath>
#include <utility>

#include "hart/hart_proc_common.h"

using namespace quarn::hartproc;
using quarn::core::goOn;

namespace {

constexpr uint32_t kSelectWaitMs = 200;
constexpr uint32_t kUnitsWaitMs = 2000;
constexpr uint32_t kAfterUnitsMs = 100;
constexpr uint32_t kWriteWaitMs = 500;
constexpr uint32_t kRangeWaitMs = 1000;
constexpr uint32_t kHighestAddress = 200;

uint8_t lowByte(uint32_t v) { return static_cast<uint8_t>(v & 0xFFu); }

THartDev& device() { return Dev.hart[Dev.hartCh]; }

// Every write first counts and notifies.
void progress() {
  ++Dev.hartProgress;
  Update();
}

void toReadChain() {
  fRet[RET_HART_READ_DEV_INFO] = {Hart_WriteAllParam_fin, Hart_WriteAllParam_fin};
  now(Hart_ReadDeviceInfo);
}

// A parameter step: a value the device already reports is not written and `unchanged` runs at once;
// otherwise the write counts, `send` sends it and `reply` takes the device's reply after `waitMs`.
template <typename Send>
int32_t writeIfChanged(bool changed, Send&& send, TStepFn reply, uint32_t waitMs, TStepFn unchanged) {
  if (!changed) {
    now(unchanged);
    return 0;
  }
  progress();
  return quarn::core::requestThen(true, std::forward<Send>(send), reply, waitMs);
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
  return writeIfChanged(
      units != device().rangeUnits, [units] { TxCmd_b(44, units); }, Hart_WriteAllParam_UnitsAc, kUnitsWaitMs,
      Hart_WriteAllParam_Adr);
}

QUARN_API int32_t Hart_WriteAllParam_UnitsAc(void) {
  return goOn(replied(Hart_WriteAllParam_UnitsAc, kUnitsWaitMs), Hart_WriteAllParam_Adr, kAfterUnitsMs);
}

QUARN_API int32_t Hart_WriteAllParam_Adr(void) {
  uint8_t address = lowByte(Dev.hartWrAddress);
  if (address > kHighestAddress) address = 0;
  // The analog output stays active only at address 0.
  return writeIfChanged(
      address != device().pollingAddress, [address] { TxCmd_bb(6, address, address == 0 ? 1 : 0); },
      Hart_WriteAllParam_AcAdr, kWriteWaitMs, Hart_WriteAllParam_damp);
}

QUARN_API int32_t Hart_WriteAllParam_AcAdr(void) {
  return goOn(replied(Hart_WriteAllParam_AcAdr, kWriteWaitMs), Hart_WriteAllParam_damp, 0);
}

QUARN_API int32_t Hart_WriteAllParam_damp(void) {
  // NaN on either side compares unequal, so it is written.
  return writeIfChanged(
      Dev.hartWrDamping != device().damping, [] { TxCmd_f(34, Dev.hartWrDamping); },
      Hart_WriteAllParam_Acdamp, kWriteWaitMs, Hart_WriteAllParam_fn);
}

QUARN_API int32_t Hart_WriteAllParam_Acdamp(void) {
  return goOn(replied(Hart_WriteAllParam_Acdamp, kWriteWaitMs), Hart_WriteAllParam_fn, 0);
}

QUARN_API int32_t Hart_WriteAllParam_fn(void) {
  const uint8_t function = lowByte(Dev.hartWrFunction);
  return writeIfChanged(
      function != device().transferFunction, [function] { TxCmd_b(47, function); }, Hart_WriteAllParam_Acfn,
      kWriteWaitMs, Hart_WriteAllParam_PVrange);
}

QUARN_API int32_t Hart_WriteAllParam_Acfn(void) {
  return goOn(replied(Hart_WriteAllParam_Acfn, kWriteWaitMs), Hart_WriteAllParam_PVrange, 0);
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
  if (!replied(Hart_WriteAllParam_PV_Ac_range, kRangeWaitMs)) return 0;
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
