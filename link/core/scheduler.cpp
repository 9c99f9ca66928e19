// The step scheduler: one pending step (OnTimer) with a deadline, run by the periodic timer, and the
// start and stop of that timer.
#include "core/quarn_core.h"
#include "core/scheduler_internal.h"
#include "platform/quarn_host.h"
#include "platform/timer.h"

extern "C" {

QUARN_API TStepFn OnTimer = nullptr;
QUARN_API uint32_t cTimerDelay = 0;
QUARN_API int32_t cRepeat = 0;
QUARN_API uint32_t TimerID = 0;

}  // extern "C"

namespace {

// Steps running now (0 or 1, more while a step chains another with ToNext(step, 0)). A timer call
// that arrives meanwhile (a host that pumps its event loop from the notification callback) only
// records its tick: a step never runs nested inside the running one, whether that one was run by the
// timer, by SetTask or by ToNext(step, 0).
int g_stepDepth = 0;
// Tasks that replaced the pending step, and the count the innermost running step started under.
// When they differ, a task started from that step's notification has taken over: what the step
// schedules from then on is dropped. A task that schedules nothing leaves the step as it was.
uint32_t g_taskGeneration = 0;
uint32_t g_runningGeneration = 0;
// The last deadline a timer call found reached. It stays reached however far the tick moves on,
// which the wrap-safe comparison alone gets wrong once the deadline is more than 2^31 ms behind.
bool g_deadlinePassed = false;
uint32_t g_passedDeadline = 0;

// Identifiers handed out for started timers; never 0.
uint32_t g_lastTimerId = 0;

uint32_t nextTimerId() {
  ++g_lastTimerId;
  if (g_lastTimerId == 0) g_lastTimerId = 1;
  return g_lastTimerId;
}

// What the platform's timer calls at every period.
void onTimerPeriod(uint32_t nowMs) { TimerProc(nullptr, 0, TimerID, nowMs); }

bool runningStepAbandoned() { return g_stepDepth > 0 && g_runningGeneration != g_taskGeneration; }

int32_t runStep(TStepFn step) {
  const uint32_t outerGeneration = g_runningGeneration;
  g_runningGeneration = g_taskGeneration;
  ++g_stepDepth;
  const int32_t result = step();
  --g_stepDepth;
  g_runningGeneration = outerGeneration;
  return result;
}

void setDeadline(uint32_t deadline) {
  Dev.deadline = deadline;
  g_deadlinePassed = false;
}

bool deadlineReached(uint32_t tick) {
  const uint32_t deadline = Dev.deadline;
  if (g_deadlinePassed && deadline == g_passedDeadline) return true;
  if (!quarn_tick_reached(tick, deadline)) return false;
  g_deadlinePassed = true;
  g_passedDeadline = deadline;
  return true;
}

void appendHistory(TStepFn step) {
  // The index lives in the shared record, which the host may write: never trust it as an index.
  int32_t idx = Dev.stepHistIdx;
  if (idx < 0 || idx >= STEP_HIST_SIZE) idx = 0;
  Dev.stepHist[idx] = step;
  ++idx;
  if (idx > STEP_HIST_SIZE - 1) idx = 0;
  Dev.stepHistIdx = idx;
}

}  // namespace

namespace quarn::core {

int32_t startTask(TStepFn first) {
  ++g_taskGeneration;
  // SetTask schedules for the new task, also from inside the notification of a step it abandons.
  const uint32_t outerGeneration = g_runningGeneration;
  g_runningGeneration = g_taskGeneration;
  const int32_t result = ToNext(first, 0);
  g_runningGeneration = outerGeneration;
  return result;
}

uint32_t taskGeneration() { return g_taskGeneration; }

}  // namespace quarn::core

extern "C" {

QUARN_API void dbgAddToStack(TStepFn value) { appendHistory(value); }

QUARN_API void ToNext0(TStepFn step) {
  if (runningStepAbandoned()) return;
  appendHistory(step);
  cTimerDelay = 1;
  setDeadline(quarn_now_ms() + 1);
  OnTimer = step;
}

QUARN_API int32_t ToNext(TStepFn step, uint32_t ms) {
  if (runningStepAbandoned()) return 0;
  cTimerDelay = ms;
  if (ms == 0) {
    OnTimer = step;
    return step ? runStep(step) : 0;
  }
  setDeadline(quarn_now_ms() + ms);
  OnTimer = step;
  return 0;
}

QUARN_API int32_t ToNextOnError(TStepFn step, uint32_t ms) {
  if (runningStepAbandoned()) return 0;
  cTimerDelay = ms;
  OnTimer = step;
  return 0;
}

QUARN_API void TimerProc(void* /*hwnd*/, uint32_t /*msg*/, uintptr_t /*id*/, uint32_t time) {
  Dev.tick = time;
  if (g_stepDepth > 0) return;
  // Looked at also with nothing pending, so that a deadline passed then is still known as passed
  // when a later step keeps it (ToNextOnError, SetTask's first step).
  const bool due = deadlineReached(time);
  if (OnTimer == nullptr) return;
  if (!due) {
    quarn_sleep_ms(1);
    return;
  }
  runStep(OnTimer);
  // The successor the step scheduled, or the step itself when it scheduled nothing.
  appendHistory(OnTimer);
}

QUARN_API int32_t SetTimerProc(uint32_t periodMs) {
  if (TimerID != 0) return 0;
  if (!quarn::platform::armTimer(periodMs, onTimerPeriod)) return -1;
  TimerID = nextTimerId();
  return 0;
}

QUARN_API int32_t KillTimerProc(void) {
  if (TimerID == 0) return -1;
  if (!quarn::platform::disarmTimer()) return -2;
  TimerID = 0;
  return 0;
}

}  // extern "C"
