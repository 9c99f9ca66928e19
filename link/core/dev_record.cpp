// The shared record and its initial values.
#include <cmath>
#include <cstring>

#include "core/quarn_core.h"
#include "core/registry.h"
#include "platform/quarn_host.h"

extern "C" {

QUARN_API TDev Dev;

}  // extern "C"

namespace {

constexpr float kNoValue = NAN;
constexpr float kUnitFactorKPa = 1.0f;
constexpr float kDefaultUpperLimitKPa = 6000.0f;
constexpr int32_t kDefaultReadyTimeS = 5;
constexpr float kDefaultSteadyBandPercent = 0.05f;
constexpr float kDefaultCorridorShare = 0.7f;
constexpr int32_t kCycleStatWindow = 5;
constexpr uint8_t kCurrentOutput4to20 = 1;

// A HART device record with nothing found: its integrity fields and the 4-20 mA output type.
void initHartRecord(THartDev& hart) {
  std::memset(&hart, 0, sizeof hart);
  hart.size = THARTDEV_SIZE;
  hart.endMark = THARTDEV_END_MARK;
  hart.outputType = kCurrentOutput4to20;
}

void initHartCheck(THartChk& chk) {
  std::memset(&chk, 0, sizeof chk);
  for (int i = 0; i < 3; ++i) {
    chk.meas[i] = kNoValue;
    chk.dev[i] = kNoValue;
  }
}

// What the relay check's preparation leaves behind at load: no switching pressures yet, and the
// reference's hold time and band from the readiness settings (the span is still 0).
void initRelayDefaults() {
  for (TRelayResult& relay : Dev.relays) {  // packed record: byte alignment, safe to bind
    relay.pOn = kNoValue;
    relay.pOff = kNoValue;
  }
  Dev.refStat.holdMs = static_cast<uint32_t>(Dev.povHeader.tRdy) * 1000u;
  Dev.refStat.stableBand = Dev.povHeader.dRdy * Dev.calInfo.span / 100.0f;
}

}  // namespace

extern "C" {

QUARN_API int32_t InitDev(void) {
  std::memset(&Dev, 0, sizeof Dev);
  Dev.size = static_cast<uint32_t>(sizeof(TDev));
  Dev.signature = QUARN_TDEV_SIGNATURE;
  // A deadline of 0 would lie in the future for the wrap-safe comparison on a host up for more than
  // 2^31 ms; a first step that stays pending must run at the next timer call.
  Dev.deadline = quarn_now_ms();
  Dev.pRef = kNoValue;
  // Fields of the packed record are written in place, never bound to references of their type.
  for (int k = 0; k < 4; ++k) {
    Dev.kestoCurrent[k] = kNoValue;
    Dev.chSkip[k] = 1;
  }
  // The display unit is kPa until the first settings read; its inverse must agree, or a setpoint
  // typed before that read would become 0 kPa.
  Dev.settings.unitFactor = kUnitFactorKPa;
  Dev.settings.unitFactorInv = 1.0f / kUnitFactorKPa;
  Dev.calInfo.pLimitMax = kDefaultUpperLimitKPa;
  for (THartDev& hart : Dev.hart) initHartRecord(hart);
  for (THartChk& chk : Dev.hartChk) initHartCheck(chk);
  Dev.povHeader.tRdy = kDefaultReadyTimeS;
  Dev.povHeader.dRdy = kDefaultSteadyBandPercent;
  Dev.povHeader.vrCoeff = kDefaultCorridorShare;
  Dev.cycleStat.window = kCycleStatWindow;
  Clear_dscAll();

  initRelayDefaults();
  Init_ReturnFns();
  // The areas' own initial state: the relay check's defaults, the UAIL receiver and its address in
  // uailPtr.
  quarn::core::startAreas();
  return 0;
}

}  // extern "C"
