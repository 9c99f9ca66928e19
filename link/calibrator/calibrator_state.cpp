// Library-wide state of the calibrator procedures.
#include "calibrator/calibrator.h"

extern "C" {
QUARN_API uint8_t isQuarn = 0;
QUARN_API uint8_t isBrenk = 0;
QUARN_API int32_t _oldControl_Mode = -1;
QUARN_API float _oldControl_Ptarget = -9999.9f;
QUARN_API TMeasKesto measKesto = {};
}

static_assert(sizeof(TMeasKesto) == 60, "Kesto image layout");
