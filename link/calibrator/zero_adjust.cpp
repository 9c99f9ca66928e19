// Zero adjustment of the calibrator's reference modules: one command, the calibrator does the rest;
// the measuring cycle that follows shows the result.
#include "calibrator/calibrator.h"
#include "calibrator/uail_link.h"

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
  takeAnswer();
  fRet[RET_MEAS_CONTROL] = {Meas, Connect_Loose};
  next(MeasControl_1);
  return 0;
}

}  // extern "C"
