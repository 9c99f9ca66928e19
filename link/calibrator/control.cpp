// Pressure control: carries the requested valve states (Quarn) or operating mode and setpoint
// (Brenk) to the calibrator, sending only what differs from what it last acknowledged.
#include <cmath>

#include "calibrator/answer_fields.h"
#include "calibrator/calibrator.h"
#include "calibrator/model_flags.h"
#include "calibrator/uail_link.h"
#include "calibrator/valve_state.h"

using namespace quarn::cal;

namespace {
constexpr uint8_t kRqSetpoint = 2;
constexpr uint8_t kRqMode = 3;
constexpr uint32_t kAnswerWaitMs = 800;

// Outcome of an unanswered command: again from the start while attempts are left.
void retryOrFail(const Answer& a) {
  if (spendRepeat(a))
    next(Control);
  else
    next(fRet[RET_CONTROL].err);
}
}  // namespace

extern "C" {

QUARN_API int32_t Control(void) {
  useCalibratorPort(kAddrCalibrator);
  if (static_cast<int32_t>(Dev.controlMode) == _oldControl_Mode) {
    next(quarnModel() ? fRet[RET_CONTROL].ok : Control_2);
    return 0;
  }
  if (quarnModel() && !valveStatesReported && static_cast<int32_t>(Dev.controlMode) == controlModeAtConnect) {
    // Neither reported by the device nor asked for by the host since the connection: the valve flags
    // are the connection's zeros, and sending them would close an open input valve. The command
    // goes out once the state word has been read (or the host asks).
    next(fRet[RET_CONTROL].ok);
    return 0;
  }
  if (quarnModel())
    sendInts(kRqMode, Dev.inputOn ? 1 : 0, Dev.ventOn ? 1 : 0);
  else
    sendInt(kRqMode, static_cast<int32_t>(Dev.controlMode));
  next(Control_1, kAnswerWaitMs);
  return 0;
}

QUARN_API int32_t Control_1(void) {
  const Answer a = takeAnswer();
  if (!a.complete) {
    retryOrFail(a);
    return 0;
  }
  // An answer flagged as error does not acknowledge: the mode goes out again next time.
  if (a.ok) {
    if (quarnModel()) {
      // The device reports the valve states it has taken; unreadable fields keep the request.
      int32_t v = 0;
      if (fieldInt(a.text, 0, v)) Dev.inputOn = v != 0 ? 1 : 0;
      if (fieldInt(a.text, 1, v)) Dev.ventOn = v != 0 ? 1 : 0;
      valveStatesReported = true;
    }
    _oldControl_Mode = static_cast<int32_t>(Dev.controlMode);
    Dev.event = 4;
    Update();
  }
  next(Control_2);
  return 0;
}

QUARN_API int32_t Control_2(void) {
  // The Quarn takes no setpoint: pTarget only centres its readiness corridors.
  if (quarnModel() || Dev.pTarget == _oldControl_Ptarget) {
    next(fRet[RET_CONTROL].ok);
    return 0;
  }
  // Limited to the working range; the lower limit wins when the two cross. NaN passes unchanged.
  if (Dev.pTarget > Dev.calInfo.pLimitMax) Dev.pTarget = Dev.calInfo.pLimitMax;
  if (Dev.pTarget < Dev.calInfo.pLimitMin) Dev.pTarget = Dev.calInfo.pLimitMin;
  sendFloatHex(kRqSetpoint, Dev.pTarget);
  next(Control_3, kAnswerWaitMs);
  return 0;
}

QUARN_API int32_t Control_3(void) {
  const Answer a = takeAnswer();
  if (a.complete) {
    _oldControl_Ptarget = Dev.pTarget;
    next(fRet[RET_CONTROL].ok);
    return 0;
  }
  retryOrFail(a);
  return 0;
}

QUARN_API int32_t Set_P(uint8_t selector) {
  Dev.pTarget = selector == 0 ? Dev.trimPmin : Dev.trimPmax;
  StatValue_ClearAll();
  Dev.refStat.target = Dev.pTarget;
  return 0;
}

}  // extern "C"
