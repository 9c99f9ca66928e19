// Zero adjustment of the calibrator's reference modules: one command, the calibrator does the rest;
// the measuring cycle that follows shows the result. Whether the calibrator took the command is
// reported, so the host tells success only when it did.
#include "calibrator/calibrator.h"
#include "calibrator/uail_link.h"
#include "core/TDevValues.h"

using namespace quarn::cal;

namespace {
constexpr uint8_t kRqZero = 4;
}

extern "C" {

QUARN_API int32_t Set_0_KD(void) {
  next(Set_0_KD_1, 500);
  return 0;
}

QUARN_API int32_t Set_0_KD_1(void) {
  useCalibratorPort(kAddrCalibrator);
  takeAnswer();  // whatever the interrupted procedure left on the line
  send(kRqZero);
  next(Set_0_KD_2, 500);
  return 0;
}

QUARN_API int32_t Set_0_KD_2(void) {
  // An error-free answer: the calibrator adjusts now (result code). An error answer or none (the
  // calibrator refused, or is gone): the adjustment failed (error code).
  if (takeAnswer().ok)
    SetDevRetCode(RETCODE_ZERO_ACCEPTED);
  else
    _SetDevErrorCode(ERR_ZERO_FAILED);
  fRet[RET_MEAS_CONTROL] = {Meas, Connect_Loose};
  next(MeasControl_1);
  return 0;
}

}  // extern "C"
