// Library-wide state of the calibrator procedures.
#include "calibrator/calibrator.h"
#include "calibrator/cycle_readings.h"
#include "calibrator/procedure_state.h"
#include "calibrator/valve_state.h"

extern "C" {
QUARN_API uint8_t isQuarn = 0;
QUARN_API uint8_t isBrenk = 0;
QUARN_API int32_t _oldControl_Mode = -1;
QUARN_API float _oldControl_Ptarget = -9999.9f;
QUARN_API TMeasKesto measKesto = {};
}

static_assert(sizeof(TMeasKesto) == 60, "Kesto image layout");

namespace quarn::cal {

void resetProcedureState() {
  isQuarn = 0;
  isBrenk = 0;
  _oldControl_Mode = -1;
  _oldControl_Ptarget = -9999.9f;
  measKesto = {};
  valveStatesReported = false;
  controlModeAtConnect = 0;
  cycleReadings = {};
  resetModuleAddress();
  resetKestoReading();
  resetVerificationRun();
}

}  // namespace quarn::cal
