// Validation of the verification parameters in the shared record and the readiness settings derived
// from them, as the parameters screen applies them before a run.
#pragma once

#include <string>

#include "TDev.h"

namespace quarn::data {

enum RangeCheck {
  kRangeOk = 0,
  kRangeNoChannel = -1,         // no channel enabled
  kRangeBeyondCalibrator = -2,  // a device range exceeds the linked calibrator's working limits
  kRangeMismatch = -3,          // device ranges differ by more than 5 % of the first one's span
  kRangeEmpty = -4,             // upper limit equals lower limit
  kRangeNotANumber = -5,        // a limit in kPa is not a finite number
};

// Compares the enabled channels' kPa ranges with the first enabled one (tolerance 5 % of its span)
// and, while the calibrator is linked, with its working limits (a range may run downwards, Min above
// Max). On success sets povLo to the first one's Min and povSpan to its Max - Min, negative for a
// range that runs downwards, so that the points' targets lie inside the range.
int checkRanges(TDev& dev);

struct ParamsCheck {
  bool valid = false;  // ParamsValid: a run may start
  int rangeResult = kRangeNoChannel;
  std::string message;  // UTF-8 text for the screen's error label; empty when there is nothing to say
};
// checkRanges with its message, then the permissible-error test, whose message takes precedence.
ParamsCheck checkParams(TDev& dev);

// Readiness of the reference and of every enabled channel from tRdy, dRdy, vrCoeff, errOk, the
// calibrator's readiness corridor and averaging, around the current setpoint and over the size of
// povSpan.
// Sample windows are kept within the statistics ring (1..200) and the hold time within its field.
void setReadiness(TDev& dev);

// Whether a readiness value (dRdy, vrCoeff) is too small to be used; the screen paints its box red.
inline bool readinessValueTooSmall(float v) { return !(v > 1e-7f); }

}  // namespace quarn::data
