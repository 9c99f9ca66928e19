// The verification run: point after point, wait until the reference and every enabled channel have
// settled, record one result per point, and end with result code 14.
#include <cmath>
#include <cstring>

#include "calibrator/calibrator.h"
#include "calibrator/cycle_readings.h"
#include "calibrator/link_deps.h"
#include "calibrator/model_flags.h"
#include "calibrator/procedure_state.h"
#include "calibrator/verification.h"
#include "core/TDevValues.h"
#include "core/registry.h"
#include "core/verdict_limit.h"

using quarn::cal::quarnModel;

namespace {

constexpr int32_t kRefSourceDorv = REF_SOURCE_EXTERNAL;
constexpr int32_t kRefWindow = 3;
constexpr int32_t kChannelWindow = 5;
constexpr uint32_t kRetVerificationFinished = RETCODE_VERIFICATION_DONE;

bool pointIndexValid(int32_t k) { return k >= 0 && k < POV_POINTS_MAX; }

// A channel's hold time before a point's own hold time was added to it (the Brenk adds it per
// point), and the value then written: the next point starts again from the base instead of adding
// to the last point's sum. A hold time that differs from the one written was set anew by the host
// and becomes the base.
struct PointHold {
  uint32_t base = 0;
  uint32_t written = 0;
  bool added = false;
};
PointHold g_pointHold[4];

}  // namespace

namespace {

// The measuring cycle still returns into the verification run or the relay check: one of them is
// under way. Another task (the hosts' stop starts the plain measuring cycle) has replaced the slot.
bool runUnderWay() {
  const TStepFn step = fRet[RET_MEAS_CONTROL].ok;
  for (TStepFn runStep :
       {Check_1, CheckRelay_10, CheckRelay_11, CheckRelay_12, CheckRelay_13, CheckRelay_14, CheckRelay_15})
    if (step == runStep) return true;
  return false;
}

}  // namespace

namespace quarn::cal {
void resetVerificationRun() {
  for (PointHold& h : g_pointHold) h = PointHold{};
}

void stopRunOnLostLink() {
  if (!runUnderWay()) return;
  // A run does not outlive its link. After a reconnect the calibrator is in whatever state it came
  // back in (a restarted Brenk measures instead of regulating, the setpoint is gone) and the record's
  // setpoint is NaN: a run that went on would record its next point at a pressure nobody set, or wait
  // for ever. So the measuring cycle that resumes after the reconnect is plain measuring, the results
  // recorded so far stay, and the point being measured and every later one stay unrecorded.
  fRet[RET_MEAS_CONTROL] = quarn::core::initialPair(RET_MEAS_CONTROL);
  // The Brenk's regulation was the run's; the settings read after a reconnect takes the device's own.
  if (!quarnModel()) Dev.controlMode = CONTROL_MODE_MEASURE;
  Dev.errCode = ERR_LINK_LOST;
  Dev.errText = quarn_error_text(ERR_LINK_LOST);
  Dev.retCode = RETCODE_RUN_LINK_LOST;
}
}  // namespace quarn::cal

namespace {

// The number of points the run walks through: never more than the result table holds.
int32_t pointsToRun() { return Dev.pointCount < POV_POINTS_MAX ? Dev.pointCount : POV_POINTS_MAX; }

// The reference has settled when it is inside its corridor and has not left it since the last look.
// Otherwise the channels start their hold again from the next sample.
bool referenceSettled() {
  if (Dev.refStat.inCorridor && !Dev.refStat.corridorChanged) return true;
  Dev.refStat.corridorChanged = 0;
  StatValue_ClearDevs();
  Dev.refStat.min = Dev.refStat.value;
  Dev.refStat.max = Dev.refStat.value;
  return false;
}

// A channel's device is within errOk x vrCoeff (a missing error is not), by the hosts' own rule.
bool withinPermissibleError(int c) {
  return quarn_within_limit(Dev.ch[c].reducedError, Dev.devCh[c].errOk, Dev.povHeader.vrCoeff) != 0;
}

// Every channel selected by `selected` has held its pressure steady for the hold time; with
// `errorTest`, hard mode also holds a channel back until its device is within its limit.
template <typename Selected>
bool channelsSettled(Selected selected, bool errorTest) {
  for (int c = 0; c < 4; ++c) {
    if (!selected(c)) continue;
    if (!Dev.ch[c].pStat.stable) return false;
    if (errorTest && Dev.povHeader.hardMode && !withinPermissibleError(c)) return false;
  }
  return true;
}

bool channelEnabled(int c) { return Dev.devCh[c].enabled != 0; }

// The Quarn measures through its input valve: with the valve closed the reading is not the pressure
// at the devices, unless the external transducer is the reference.
bool inputClosedOnQuarn() {
  return quarnModel() && Dev.inputOn == 0 && Dev.settings.refSource != kRefSourceDorv;
}

// The cycle that has just ended read everything a result is made of: a reference pressure, and the
// currents of the enabled channels converted against that reference. A cycle with an error answer
// leaves NaN in pRef while the statistics still show the earlier cycles as settled, and a failed Kesto
// reading leaves the channels' last values in place; a result taken then would be a missing or mixed
// record. The point waits for the next cycle that read everything, and is judged again then.
bool cycleReadEverything() {
  if (!quarn::cal::cycleReadings.reference || !std::isfinite(Dev.pRef)) return false;
  bool anyChannel = false;
  for (int c = 0; c < 4; ++c) {
    if (!channelEnabled(c)) continue;
    anyChannel = true;
    const TMeasCh& m = Dev.ch[c];
    if (!std::isfinite(m.current) || !std::isfinite(m.pFromIKPa) || !std::isfinite(m.reducedError))
      return false;
  }
  return !anyChannel || quarn::cal::cycleReadings.currents;
}

// Another measuring cycle with Check_1 as its continuation; a measuring failure ends the run
// through the failure member of slot 4.
void nextCycle() {
  fRet[RET_MEAS_CONTROL] = TRetPair{Check_1, fRet[RET_CHECK].err};
  ToNext(MeasControl_1, 0);
}

}  // namespace

extern "C" {

QUARN_API void SetStep(int32_t k) {
  if (!pointIndexValid(k)) return;
  const float setpoint = Dev.points[k].prc / 100.0f * Dev.povSpan + Dev.povLo;
  Dev.pTarget = setpoint;
  StatValue_ClearAll();
  Dev.refStat.target = setpoint;
  const bool brenk = !quarnModel();
  const float holdS = Dev.points[k].holdS;
  for (int c = 0; c < 4; ++c) {
    if (!channelEnabled(c)) continue;
    Dev.ch[c].pStat.target = setpoint;
    if (brenk) {
      // A point's own hold time adds to the channel's (the workstation leaves it at 0).
      PointHold& h = g_pointHold[c];
      uint32_t& holdMs = Dev.ch[c].pStat.holdMs;
      if (!h.added || holdMs != h.written) h.base = holdMs;
      const double hold = static_cast<double>(h.base) + 1000.0 * holdS;
      if (hold >= 0.0 && hold < 4294967296.0) {
        holdMs = static_cast<uint32_t>(hold);
        h.written = holdMs;
        h.added = true;
      }
    }
  }
}

QUARN_API void AddCurentToResult(int32_t k) {
  if (!pointIndexValid(k)) return;
  TPovResult& r = Dev.results[k];
  r.valid = 1;
  r.pRef = Dev.pRef;
  for (int c = 0; c < 4; ++c) {
    const TDevChannel& dc = Dev.devCh[c];
    if (!dc.enabled) continue;
    const TMeasCh& m = Dev.ch[c];
    TPovChResult& out = r.ch[c];
    out.current = m.current;
    out.reducedError = m.reducedError;
    out.pFromI = m.pFromI;
    out.pFromIKPa = m.pFromIKPa;
    const float kpaSpan = dc.MaxKpa - dc.MinKpa;
    // Without a kPa span nothing more can be derived, for this channel or the later ones.
    if (kpaSpan == 0.0f) return;
    out.iExpected = dc.el_Min + (dc.el_Max - dc.el_Min) * (r.pRef - dc.MinKpa) / kpaSpan;
    const double u = Calc_U_DD(&Dev.ch[c].pStat, &Dev.refStat, 0, c);
    out.uncertainty = dc.toKpaMul != 0.0f ? static_cast<float>(u / dc.toKpaMul) : NAN;
  }
}

QUARN_API void AddPoint(void) { AddCurentToResult(Dev.pointIdx); }

QUARN_API int32_t IsAllOk(void) {
  if (!referenceSettled()) return 0;
  if (!channelsSettled(channelEnabled, true)) return 0;
  return inputClosedOnQuarn() ? 0 : 1;
}

QUARN_API int32_t IsAllReady(void) {
  if (!referenceSettled()) return 0;
  return channelsSettled([](int c) { return Dev.trimOn[c] != 0; }, false) ? 1 : 0;
}

QUARN_API int32_t Check_start(void) {
  std::memset(Dev.results, 0, sizeof Dev.results);
  if (!quarnModel()) Dev.controlMode = 1;
  Dev.pointIdx = 0;
  SetStep(0);
  if (Dev.povMode == 1) {
    ToNext(CheckRelay, 0);
    return 0;
  }
  // A range error has been reported by the check itself; the run goes on with the range it has.
  DiapIsBad(&Dev.povMode);
  StatValue_ClearAll();
  Dev.refStat.window = kRefWindow;
  for (TMeasCh& m : Dev.ch) {
    m.pStat.window = kChannelWindow;
    m.iStat.window = kChannelWindow;
    // The span is negative for a range that runs downwards; a band is a size.
    m.pStat.stableBand = Dev.povHeader.dRdy / 100.0f * std::fabs(Dev.povSpan);
  }
  nextCycle();
  return 0;
}

QUARN_API int32_t Check_1(void) {
  if (referenceSettled() && channelsSettled(channelEnabled, true) && !inputClosedOnQuarn() &&
      cycleReadEverything()) {
    AddCurentToResult(Dev.pointIdx);
    ++Dev.pointIdx;
    if (Dev.pointIdx >= pointsToRun()) {
      ToNext(Check_fin, 0);
      return 0;
    }
    SetStep(Dev.pointIdx);
  }
  nextCycle();
  return 0;
}

QUARN_API int32_t Check_fin(void) {
  Dev.controlMode = 0;
  Dev.retCode = kRetVerificationFinished;
  Update();
  ToNext(fRet[RET_CHECK].ok, 0);
  return 0;
}

}  // extern "C"
