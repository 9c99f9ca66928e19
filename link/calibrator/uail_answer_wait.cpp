// Waiting for a UAIL answer. A step waits its fixed window and then takes what has arrived. A task
// that asks for early answers (the fast HART search) takes each answer as soon as it has ended (the
// CR after its start character), never later than the window; the next task waits the fixed windows
// again.
#include <algorithm>

#include "calibrator/uail_link.h"
#include "core/scheduler_internal.h"
#include "uail/uail_internal.h"

namespace quarn::cal {

namespace {

// Between looks at the port while the answer has not ended: one period of the library's timer.
constexpr uint32_t kLookMs = 20;

// The task whose answers are taken early.
bool g_early = false;
uint32_t g_earlyTask = 0;

// The answer being collected for the step awaitAnswer scheduled.
struct Collected {
  bool armed = false;
  uint32_t task = 0;      // the task that awaits it
  uint32_t giveUpAt = 0;  // the end of the step's window: what has arrived is taken
  uint8_t bytes[RS_RX_BUF_SIZE]{};
  int32_t count = 0;  // at most RS_RX_BUF_SIZE - 2, as one read of the port record takes
};
Collected g_answer;

bool collecting() { return g_answer.armed && g_answer.task == quarn::core::taskGeneration(); }

void collect() {
  const int32_t taken = ReadPortAsync0();
  const int32_t n = std::min<int32_t>(taken, RS_RX_BUF_SIZE - 2 - g_answer.count);
  if (n <= 0) return;
  std::copy(pRS->rxBuf, pRS->rxBuf + n, g_answer.bytes + g_answer.count);
  g_answer.count += n;
}

bool ended() {
  const uint8_t* begin = g_answer.bytes;
  const uint8_t* end = begin + g_answer.count;
  const uint8_t* start = std::find(begin, end, static_cast<uint8_t>('!'));
  return std::find(start, end, static_cast<uint8_t>('\r')) != end;
}

}  // namespace

void answerEarlyInThisTask(bool on) {
  g_early = on;
  g_earlyTask = quarn::core::taskGeneration();
}

bool earlyAnswers() { return g_early && g_earlyTask == quarn::core::taskGeneration(); }

void awaitAnswer(TStepFn step, uint32_t windowMs) {
  if (!earlyAnswers()) {
    g_answer.armed = false;
    ToNext(step, windowMs);
    return;
  }
  g_answer.armed = true;
  g_answer.task = quarn::core::taskGeneration();
  g_answer.giveUpAt = quarn_now_ms() + windowMs;
  g_answer.count = 0;
  ToNext(step, std::min(kLookMs, windowMs));
}

bool answerEnded(TStepFn self) {
  if (!collecting()) return true;
  collect();
  const uint32_t now = quarn_now_ms();
  if (ended() || quarn_tick_reached(now, g_answer.giveUpAt)) return true;
  ToNext(self, std::max<uint32_t>(1, std::min(kLookMs, g_answer.giveUpAt - now)));
  return false;
}

Answer takeAnswer() {
  Answer a;
  a.budgetBefore = cRepeat;
  if (collecting()) {
    // What the looks collected, with anything that came since, goes to the receiver as one read.
    g_answer.armed = false;
    collect();
    std::copy(g_answer.bytes, g_answer.bytes + g_answer.count, pRS->rxBuf);
    pRS->rxBuf[g_answer.count] = 0;
    a.complete = quarn::uail::receive(pRS->rxBuf, g_answer.count) == 1;
  } else {
    a.complete = RxUail() == 1;
  }
  a.received = pRS && pRS->rxBuf[0] != 0;
  if (a.complete) {
    a.ok = ::uail.rxErr == 0;
    a.from = ::uail.addr;
    if (::uail.buf) a.text = std::string_view(::uail.buf, ::uail.len < UAIL_RX_BUF_SIZE ? ::uail.len : 0);
  }
  return a;
}

}  // namespace quarn::cal
