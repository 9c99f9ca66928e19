/* The record's headers are C headers: the hosts' and the library's shared vocabulary (TDev.h, the
 * named field values, the verdict's comparison) must build in a C translation unit. Linked into
 * core_tests; nothing calls it. */
#include "TDev.h"
#include "TDevValues.h"
#include "verdict_limit.h"

int quarn_record_headers_c(const TDev* dev) {
  return dev->event == EVENT_MEASUREMENT && dev->settings.refSource == REF_SOURCE_EXTERNAL &&
         dev->retCode == RETCODE_VERIFICATION_DONE && dev->linkState == LINK_STATE_LINKED &&
         dev->controlMode == CONTROL_MODE_VENT &&
         quarn_within_limit(dev->ch[0].reducedError, dev->devCh[0].errOk, dev->povHeader.vrCoeff);
}
