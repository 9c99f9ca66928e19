// The relay check: below, above and again below each selected relay's switching point, each time
// until the reference has settled in its corridor; and the evaluation of the contact inputs, which
// records the reference pressure at every switching edge.
#include <cmath>

#include "calibrator/calibrator.h"
#include "calibrator/link_deps.h"
#include "calibrator/verification.h"
#include "core/TDevValues.h"

namespace {

constexpr int kContactInputs = 8;
// The corridor test needs two samples (a single sample never counts as inside).
constexpr int32_t kMinRefWindow = 2;
constexpr uint32_t kRetRelayCheckFinished = RETCODE_RELAY_CHECK_DONE;

// Set at load: the first evaluation only takes the inputs as they are.
bool g_firstEvaluation = true;

bool relaySelected(int idx) { return Dev.relayOn[idx] != 0; }

// What the check and its start at load have in common: fresh reference data, the reference's band
// and hold from the readiness settings, no switching pressures.
void prepare() {
  StatValue_Clear(&Dev.refStat);
  Dev.pointIdx = 0;
  Dev.retCode = 0;
  relayIdx = 0;
  Dev.refStat.stableBand = Dev.povHeader.dRdy * Dev.calInfo.span / 100.0f;
  Dev.refStat.holdMs = static_cast<uint32_t>(Dev.povHeader.tRdy) * 1000u;
  for (TRelayResult& r : Dev.relays) {  // packed record: byte alignment, safe to bind
    r.pOn = NAN;
    r.pOff = NAN;
  }
}

// One measuring cycle that returns into `step`; the failure member of slot 2 stays as it is.
void cycleInto(TStepFn step) {
  fRet[RET_MEAS_CONTROL].ok = step;
  ToNext(MeasControl_1, 0);
}

// A new target for the pressure control and the reference corridor, then cycles into `wait`. The
// reference's data start again with it: whether the reference is in the corridor is judged on
// samples taken towards the new target, never on the last evaluation against the previous one (a
// cycle that brings no sample, an error answer or a failed transducer read, would otherwise count
// the new step as settled at once).
void approach(float target, TStepFn wait) {
  StatValue_Clear(&Dev.refStat);
  Dev.refStat.target = target;
  Dev.pTarget = target;
  Update();
  cycleInto(wait);
}

float below() { return Dev.relayP[relayIdx] - Dev.relayHyst[relayIdx]; }
float above() { return Dev.relayP[relayIdx] + Dev.relayHyst[relayIdx]; }

// Waits, cycle after cycle, until the reference is in its corridor; then counts the step.
bool settled(TStepFn self) {
  if (!Dev.refStat.inCorridor) {
    cycleInto(self);
    return false;
  }
  ++Dev.pointIdx;
  return true;
}

}  // namespace

extern "C" {

QUARN_API int32_t relayIdx = 0;

QUARN_API void InitRelay(void) {
  prepare();
  g_firstEvaluation = true;
}

QUARN_API int32_t CheckRelay(void) {
  if (!relaySelected(0) && !relaySelected(1)) {
    ToNext(fRet[RET_CHECK_RELAY].ok, 0);
    return 0;
  }
  prepare();
  // A readiness time of 1 s gives the reference a window of one sample, which would keep the check
  // waiting for ever.
  if (Dev.refStat.window < kMinRefWindow) Dev.refStat.window = kMinRefWindow;
  if (!relaySelected(0)) relayIdx = 1;
  cycleInto(CheckRelay_10);
  return 0;
}

QUARN_API int32_t CheckRelay_10(void) {
  approach(below(), CheckRelay_11);
  return 0;
}

QUARN_API int32_t CheckRelay_11(void) {
  if (settled(CheckRelay_11)) ToNext(CheckRelay_12, 0);
  return 0;
}

QUARN_API int32_t CheckRelay_12(void) {
  approach(above(), CheckRelay_13);
  return 0;
}

QUARN_API int32_t CheckRelay_13(void) {
  if (settled(CheckRelay_13)) ToNext(CheckRelay_14, 0);
  return 0;
}

QUARN_API int32_t CheckRelay_14(void) {
  approach(below(), CheckRelay_15);
  return 0;
}

QUARN_API int32_t CheckRelay_15(void) {
  if (!settled(CheckRelay_15)) return 0;
  if (relayIdx == 0 && relaySelected(1)) {
    relayIdx = 1;
    ToNext(CheckRelay_10, 0);
  } else {
    ToNext(CheckRelay_fin, 0);
  }
  return 0;
}

QUARN_API int32_t CheckRelay_fin(void) {
  Dev.pointIdx = 0;
  Dev.checkState = 0;
  Dev.retCode = kRetRelayCheckFinished;
  Update();
  ToNext(fRet[RET_CHECK_RELAY].ok, 0);
  return 0;
}

QUARN_API void relayDataToDev(void) {
  const uint32_t b = Dev.relayInputs;
  if (g_firstEvaluation) {
    Dev.relayInputsPrev = b;
    g_firstEvaluation = false;
    return;
  }
  const uint32_t prev = Dev.relayInputsPrev;
  bool changed = false;
  for (int k = 0; k < kContactInputs; ++k) {
    const uint32_t bit = 1u << k;
    Dev.relays[k].state = (b & bit) ? 0u : 1u;
    if (((b ^ prev) & bit) == 0) continue;
    changed = true;
    if (b & bit)
      Dev.relays[k].pOff = Dev.pRef;
    else
      Dev.relays[k].pOn = Dev.pRef;
  }
  if (changed) Dev.relayInputsPrev = b;
}

}  // extern "C"
