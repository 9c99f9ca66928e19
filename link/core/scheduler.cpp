// The step scheduler: one pending step (OnTimer) with a deadline, run by the periodic timer.
#include "platform/quarn_host.h"
#include "quarn_core.h"
#include "scheduler_internal.h"

extern "C" {

QUARN_API TStepFn OnTimer = nullptr;
QUARN_API uint32_t cTimerDelay = 0;
QUARN_API int32_t cRepeat = 0;

}  // extern "C"

namespace {

// Set while a step runs, so that a timer call nested inside it (a host that pumps its event loop
// from the notification callback) cannot run a second step in the middle of the first.
bool g_stepRunning = false;
// Set when the host started a task while the running step was inside its notification: the rest of
// that step belongs to an abandoned procedure and may no longer schedule.
bool g_runningStepAbandoned = false;

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

void taskStarting() { g_runningStepAbandoned = false; }

void taskStarted() { g_runningStepAbandoned = g_stepRunning; }

}  // namespace quarn::core

extern "C" {

QUARN_API void dbgAddToStack(TStepFn value) { appendHistory(value); }

QUARN_API void ToNext0(TStepFn step) {
  if (g_runningStepAbandoned) return;
  appendHistory(step);
  cTimerDelay = 1;
  Dev.deadline = quarn_now_ms() + 1;
  OnTimer = step;
}

QUARN_API int32_t ToNext(TStepFn step, uint32_t ms) {
  if (g_runningStepAbandoned) return 0;
  cTimerDelay = ms;
  if (ms == 0) {
    OnTimer = step;
    return step ? step() : 0;
  }
  Dev.deadline = quarn_now_ms() + ms;
  OnTimer = step;
  return 0;
}

QUARN_API int32_t ToNextOnError(TStepFn step, uint32_t ms) {
  if (g_runningStepAbandoned) return 0;
  cTimerDelay = ms;
  OnTimer = step;
  return 0;
}

QUARN_API void TimerProc(void* /*hwnd*/, uint32_t /*msg*/, uintptr_t /*id*/, uint32_t time) {
  Dev.tick = time;
  if (OnTimer == nullptr || g_stepRunning) return;
  // Wrap-safe: a deadline scheduled just before the 32-bit tick wraps is still due just after it.
  if (!quarn_tick_reached(Dev.tick, Dev.deadline)) {
    quarn_sleep_ms(1);
    return;
  }
  g_stepRunning = true;
  OnTimer();
  g_stepRunning = false;
  g_runningStepAbandoned = false;
  // The successor the step scheduled, or the step itself when it scheduled nothing.
  appendHistory(OnTimer);
}

}  // extern "C"
