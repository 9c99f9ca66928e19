// Waiting for the answer to a HART request. Every step waits its fixed window and then takes what
// has arrived. In a fast device search (a host setting) the answer is taken as soon as its frame is
// complete, and a request that draws no answer ends when the device's time to start one has passed;
// the Kesto module's answer to the search's channel select is taken as soon as it is complete too.
#include <algorithm>

#include "core/scheduler_internal.h"
#include "hart/hart_internal.h"
#include "hart/hart_proc_common.h"
#include "uail/uail_internal.h"

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

// The search that runs with fast windows: the task it belongs to (a new task ends it).
bool g_fastRun = false;
uint32_t g_fastTask = 0;

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

// The Kesto module's answer to the channel select, collected in a fast search.
struct CollectedSelect {
  uint32_t giveUpAt = 0;
  uint8_t bytes[RS_RX_BUF_SIZE]{};
  int32_t count = 0;
};
CollectedSelect g_select;

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

void startSearchWindows() {
  g_fastRun = g_fastSearch;
  g_fastTask = quarn::core::taskGeneration();
}

void endSearchWindows() { g_fastRun = false; }

bool fastWindows() { return g_fastRun && g_fastTask == quarn::core::taskGeneration(); }

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

void awaitSelectAnswer(TStepFn next, uint32_t windowMs) {
  if (!fastWindows()) {
    after(next, windowMs);
    return;
  }
  g_select.giveUpAt = quarn_now_ms() + windowMs;
  g_select.count = 0;
  after(next, std::min(kLookMs, windowMs));
}

bool selectAnswerReady(TStepFn self) {
  if (!fastWindows()) return true;
  const int32_t taken = ReadPortAsync0();
  const int32_t n = std::min<int32_t>(taken, static_cast<int32_t>(sizeof g_select.bytes) - g_select.count);
  if (n > 0) {
    std::copy(pRS->rxBuf, pRS->rxBuf + n, g_select.bytes + g_select.count);
    g_select.count += n;
  }
  // A UAIL answer ends with CR after its start character.
  const uint8_t* begin = g_select.bytes;
  const uint8_t* end = begin + g_select.count;
  const uint8_t* start = std::find(begin, end, static_cast<uint8_t>('!'));
  const uint32_t now = quarn_now_ms();
  if (std::find(start, end, static_cast<uint8_t>('\r')) != end || reached(now, g_select.giveUpAt))
    return true;
  after(self, std::max<uint32_t>(1, std::min(kLookMs, g_select.giveUpAt - now)));
  return false;
}

bool selectAnswerOk() {
  if (!fastWindows()) return kestoAnswerOk();
  return quarn::uail::receive(g_select.bytes, g_select.count) == 1 && ::uail.rxErr == 0;
}

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
