// Channel selection for HART, the copy of the HART data into the verification records, and the
// answer check of the Kesto channel select.
#include "hart/hart_proc_common.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "hart/hart_internal.h"
#include "quarn/cp1251.h"

namespace quarn::hartproc {

uint32_t selectChannel(int32_t ch) {
  if (!validChannel(ch)) return 0;
  Dev.hartCh = ch;
  // A step of the external transducer may have left its own port current.
  pRS = &rs;
  uail.addr = kKestoAddress;
  hdi = &Dev.hart[ch];
  Dev.dsc[0] = dsc_[DSC_CHANNEL_1 + ch];
  return Uail_txI(kRqSelectChannel, ch);
}

bool kestoAnswerOk() { return IsRxUailOk() == 1; }

namespace {

// The answer check with repeats, for an answer that `answerOk` takes and a repeat whose answer
// `awaitAgain` schedules `self` for.
bool answerOkWithRepeats(bool (*answerOk)(), void (*awaitAgain)(TStepFn, uint32_t), TStepFn self,
                         uint32_t windowMs, TStepFn onFail) {
  const int32_t budget = cRepeat;
  if (answerOk()) return true;
  // The receiver renews the budget for any complete answer, also one with an error code.
  if (cRepeat > budget) cRepeat = budget;
  const int32_t before = cRepeat--;
  if (before >= 1) {
    Uail_RepeatTx();
    awaitAgain(self, windowMs);
    return false;
  }
  ToNext0(onFail);
  // A port that has gone (the calibrator's line pulled, its adapter unplugged, the instrument's
  // pseudo-terminal closed) is a lost link, not a channel the module failed to select.
  _SetDevErrorCode(quarn_rs_handle_valid(pRS->hCom) ? ERR_KESTO_CHANNEL : ERR_LINK_LOST);
  return false;
}

}  // namespace

bool kestoAnswerOkWithRepeats(TStepFn self, uint32_t windowMs, TStepFn onFail) {
  return answerOkWithRepeats(kestoAnswerOk, after, self, windowMs, onFail);
}

bool searchSelectAnswerOkWithRepeats(TStepFn self, uint32_t windowMs, TStepFn onFail) {
  return answerOkWithRepeats(selectAnswerOk, awaitSelectAnswer, self, windowMs, onFail);
}

namespace {

constexpr int32_t kResponseBusy = 32;
// A busy device gets this pause before the request goes out again.
constexpr uint32_t kBusyPauseMs = 200;

// The step waiting for the repeated request's answer, and its window.
TStepFn g_busyStep = nullptr;
uint32_t g_busyWindowMs = 0;

// Shown while a busy device is asked again: a warning in the form of the devices' own warnings.
const char* const kBusyWarning = CP1251("Предупреждение: Устройство занято.");

int32_t repeatAfterBusy() {
  quarn::hart::repeatLastRequest();
  awaitAnswer(g_busyStep, g_busyWindowMs);
  return 0;
}

}  // namespace

Reply hartReply(TStepFn self, uint32_t windowMs) {
  return hartReplyParsed(quarn::hart::receiveAnswer(), self, windowMs);
}

Reply hartReplyParsed(int32_t parsed, TStepFn self, uint32_t windowMs) {
  if (parsed == kResponseBusy && self && cRepeat >= 1) {
    --cRepeat;
    Dev.errCode = ERR_HART_RESPONSE;
    Dev.errText = kBusyWarning;
    Update();
    g_busyStep = self;
    g_busyWindowMs = windowMs;
    after(repeatAfterBusy, kBusyPauseMs);
    return Reply::Busy;
  }
  return quarn::hart::concludeAnswer(parsed) == 1 ? Reply::Good : Reply::Other;
}

namespace {

void copyText(char* dst, std::size_t size, const char* src) {
  std::size_t n = 0;
  if (src)
    while (n + 1 < size && src[n] != '\0') ++n;
  if (n) std::memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

}  // namespace quarn::hartproc

using namespace quarn::hartproc;

extern "C" {

QUARN_API float quarn_hart_range_kpa_factor(uint32_t unitsCode) {
  return quarn::hart::pressureFactorKPa(unitsCode);
}

QUARN_API uint32_t Kesto_SelectHARTch(int32_t ch) { return selectChannel(ch); }

QUARN_API int32_t Kesto_SelectNextHARTch(void) {
  for (int32_t ch = Dev.hartCh < 0 ? 0 : Dev.hartCh + 1; ch < kChannels; ++ch) {
    if (usable(ch) && Dev.hartChk[ch].active == 1) {
      selectChannel(ch);
      return ch;
    }
  }
  return -1;
}

QUARN_API void Hart_Dev_Data_Upd1(int32_t ch) {
  if (!validChannel(ch)) return;
  const THartDev& h = Dev.hart[ch];
  if (h.found == 0) return;
  TDevChannel& d = Dev.devCh[ch];
  const float f = quarn_hart_range_kpa_factor(h.rangeUnits);
  d.enabled = static_cast<int32_t>(h.found);
  // The model text may be longer than the record's name: it is cut to fit.
  copyText(d.name, sizeof d.name, h.deviceTypeName);
  std::snprintf(d.sn, sizeof d.sn, "%u", static_cast<unsigned>(h.deviceId));
  d.tDamp = h.damping;
  d.fnCode = h.transferFunction;
  d.Min = h.lowerRange;
  d.Max = h.upperRange;
  d.MinKpa = h.lowerRange * f;
  d.MaxKpa = h.upperRange * f;
  d.toKpaMul = f;
  copyText(d.Unit, sizeof d.Unit, h.dynVar[0].unitsText);
  copyText(d.el_Unit, sizeof d.el_Unit, CP1251("мА"));
  switch (h.outputType) {
    case 1:
      d.el_Min = 4, d.el_Max = 20, d.elTypeSignal = 0;
      break;
    case 0:
      d.el_Min = 0, d.el_Max = 5, d.elTypeSignal = 2;
      break;
    case 2:
      d.el_Min = 5, d.el_Max = 0, d.elTypeSignal = 3;
      break;
    case 3:
      d.el_Min = 20, d.el_Max = 4, d.elTypeSignal = 1;
      break;
    default:
      break;
  }
}

QUARN_API void Hart_Dev_Data_Upd(void) {
  for (int32_t ch = 0; ch < kChannels; ++ch) Hart_Dev_Data_Upd1(ch);
}

}  // extern "C"
