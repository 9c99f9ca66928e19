// Waiting for the answer to a HART request. Every step waits its fixed window and then takes what
// has arrived. In a fast device search (a host setting) the answer is taken as soon as its frame is
// complete, and a request that draws no answer ends when the device's time to start one has passed;
// the Kesto module's answers in the search (its channel status, each channel select) are taken as
// soon as they have ended too: the search turns on the calibrator's early UAIL answers for itself.
#include <algorithm>

#include "calibrator/uail_link.h"
#include "hart/hart_internal.h"
#include "hart/hart_proc_common.h"

namespace quarn::hartproc {

namespace {

// A HART slave starts its answer within 28 of its characters (11 bits at 1200 baud) after the end of
// the request: 256.7 ms.
constexpr uint32_t kSlaveTimeoutMs = 257;
// One character on the calibrator's port (the two stop bits it sends at 1200 baud): the first byte of
// an answer has arrived one character after the device started it.
constexpr uint32_t kLineCharMs = 10;
// A frame's delimiter, address, command and byte count can be there at the earliest this many
// characters after the request: a short preamble and a short address.
constexpr uint32_t kEarliestHeaderChars = 6;
// Between looks at the port while no answer has begun: one period of the library's timer.
constexpr uint32_t kLookMs = 20;
constexpr uint32_t kLongestTurnaroundMs = 1000;

bool g_fastSearch = false;
uint32_t g_turnaroundMs = QUARN_HART_TURNAROUND_DEFAULT_MS;

// The answer being collected in a fast search.
struct Collected {
  uint32_t request = 0;   // requestsSent() when it was awaited
  uint32_t silentAt = 0;  // no frame begun by then: no answer
  uint32_t giveUpAt = 0;  // the end of the step's fixed window: what has arrived is taken
  uint8_t bytes[255]{};   // Hart_DeForm reads 255 bytes at most
  uint32_t count = 0;
  bool broken = false;  // taken, with bytes but no decodable frame
};
Collected g_answer;

bool reached(uint32_t tick, uint32_t at) { return quarn_tick_reached(tick, at) != 0; }

void collect() {
  const int32_t taken = ReadPortAsync0();
  if (taken <= 0) return;
  const uint32_t room = sizeof g_answer.bytes - g_answer.count;
  const uint32_t n = std::min(static_cast<uint32_t>(taken), room);
  std::copy(pRS->rxBuf, pRS->rxBuf + n, g_answer.bytes + g_answer.count);
  g_answer.count += n;
}

}  // namespace

// The fast windows last as long as the search's task: a new task ends them with its early answers.
void startSearchWindows() { quarn::cal::answerEarlyInThisTask(g_fastSearch); }

void endSearchWindows() { quarn::cal::answerEarlyInThisTask(false); }

bool fastWindows() { return quarn::cal::earlyAnswers(); }

void awaitAnswer(TStepFn next, uint32_t windowMs) {
  if (!fastWindows()) {
    after(next, windowMs);
    return;
  }
  const uint32_t now = quarn_now_ms();
  uint32_t requestEnd = quarn::hart::lastRequestEndMs();
  // Nothing was written just now (a refused request): the wait starts here.
  if (reached(now, requestEnd)) requestEnd = now;
  g_answer.request = quarn::hart::requestsSent();
  g_answer.silentAt = requestEnd + kSlaveTimeoutMs + kLineCharMs + g_turnaroundMs;
  g_answer.giveUpAt = now + windowMs;
  g_answer.count = 0;
  g_answer.broken = false;
  const uint32_t firstLook = requestEnd + kEarliestHeaderChars * kLineCharMs - now;
  after(next, std::max<uint32_t>(1, std::min(firstLook, windowMs)));
}

Reply takeAnswer(TStepFn self, uint32_t windowMs) {
  // A request this wait did not see (sent by another path) is taken the plain way.
  if (!fastWindows() || g_answer.request != quarn::hart::requestsSent()) return hartReply(self, windowMs);
  collect();
  const quarn::hart::AnswerProgress progress = quarn::hart::answerProgress(g_answer.bytes, g_answer.count);
  const uint32_t now = quarn_now_ms();
  const bool silent =
      progress.stage == quarn::hart::AnswerProgress::NoFrame && reached(now, g_answer.silentAt);
  if (progress.stage != quarn::hart::AnswerProgress::Whole && !silent && !reached(now, g_answer.giveUpAt)) {
    // Look again when the missing bytes can have arrived (at the port's character time; a device's
    // own characters, with one stop bit, come a little sooner). Before an answer has begun, look a
    // little later, and at the time-out itself; a look closer than one period to the one before
    // would be run one period after it, so the last look before the time-out is the time-out.
    uint32_t wait = progress.missing * kLineCharMs;
    if (progress.stage == quarn::hart::AnswerProgress::NoFrame) {
      const uint32_t untilSilent = g_answer.silentAt - now;
      wait = untilSilent >= 2 * kLookMs ? kLookMs : untilSilent;
    }
    wait = std::max<uint32_t>(1, std::min(wait, g_answer.giveUpAt - now));
    after(self, wait);
    return Reply::Pending;
  }
  const int32_t parsed = Hart_DeForm(g_answer.bytes, g_answer.count, hdi);
  g_answer.broken = parsed < 0 && g_answer.count > 0;
  return hartReplyParsed(parsed, self, windowMs);
}

bool answerBroken() { return fastWindows() && g_answer.broken; }

void awaitSelectAnswer(TStepFn next, uint32_t windowMs) { quarn::cal::awaitAnswer(next, windowMs); }

bool selectAnswerReady(TStepFn self) { return quarn::cal::answerEnded(self); }

bool selectAnswerOk() { return quarn::cal::takeAnswer().ok; }

}  // namespace quarn::hartproc

using namespace quarn::hartproc;

extern "C" {

QUARN_API void quarn_hart_set_fast_search(int on, uint32_t turnaroundMs) {
  g_fastSearch = on != 0;
  g_turnaroundMs = std::min(turnaroundMs, kLongestTurnaroundMs);
}

QUARN_API int quarn_hart_fast_search(uint32_t* turnaroundMs) {
  if (turnaroundMs) *turnaroundMs = g_turnaroundMs;
  return g_fastSearch ? 1 : 0;
}

}  // extern "C"
