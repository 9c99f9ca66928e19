// The HART check sequence: a device search, the range check of the devices found, and the check run
// of the verification over them.
//
// It chains the HART search with the verification's range check and run, so it could sit with either.
// It sits here, with the HART procedures, because the HART area already builds on the calibrator area
// (channel select, measuring cycle) while the calibrator area never calls into HART: placed with the
// verification, it would be the one call from the calibrator procedures back into the HART area.
#include <cstring>

#include "calibrator/verification.h"
#include "hart/hart_proc_common.h"

using namespace quarn::hartproc;

extern "C" {

QUARN_API int32_t Check_HART(void) {
  Dev.dsc[1] = dsc_[DSC_HART_SEARCH];
  Dev.checkState = 1;
  std::memset(Dev.results, 0, sizeof Dev.results);
  fRet[RET_HART_SEARCH] = {Check_HART_1, Meas};
  now(Hart_Search);
  return 0;
}

QUARN_API int32_t Check_HART_1(void) {
  if (Dev.hartFirstCh < 0) {
    SetDevRetCode(1);
    now(fRet[RET_CHECK_HART].ok);
    return 0;
  }
  for (int32_t ch = 0; ch < kChannels; ++ch) {
    const uint32_t found = Dev.hart[ch].found;
    Dev.hartChk[ch].active = found;
    Dev.trimOn[ch] = found;
    Dev.devCh[ch].enabled = static_cast<int32_t>(found);
  }
  // The range check has reported its own error code and text; the sequence ends on any failure,
  // also on ranges that are not set (a run over them would record nothing meaningful).
  switch (DiapIsBad(&Dev.povMode)) {
    case 0:
      update_maxDeviation();
      now(Check_HART_3);
      return 0;
    case -1:
      _SetDevErrorCode(ERR_NO_DEVICES);
      break;
    case -2:
      _SetDevErrorCode(ERR_RANGE_EXCEEDS);
      break;
    case -3:
      _SetDevErrorCode(ERR_RANGES_DIFFER);
      break;
    default:
      _SetDevErrorCode(ERR_RANGES_UNSET);
      break;
  }
  now(Check_HART_fin);
  return 0;
}

QUARN_API int32_t Check_HART_3(void) {
  Dev.pointIdx = 0;
  Dev.dsc[0] = quarn_text_empty;
  Dev.dsc[1] = quarn_text_empty;
  fRet[RET_CHECK] = {Check_HART_fin, Check_HART_fin};
  now(Check_start);
  return 0;
}

QUARN_API int32_t Check_HART_fin(void) {
  SetDevRetCode(13);
  now(fRet[RET_CHECK_HART].ok);
  return 0;
}

}  // extern "C"
