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
// The running timer's period, and the tick of the last timer call that ran a step.
uint32_t g_periodMs = 20;
uint32_t g_lastRunTick = 0;
// The tick the timer's next call was last set for (valid while the timer runs).
bool g_pacedValid = false;
uint32_t g_pacedDue = 0;

uint32_t nextTimerId() {
  ++g_lastTimerId;
  if (g_lastTimerId == 0) g_lastTimerId = 1;
  return g_lastTimerId;
}

// True while the platform's timer runs TimerProc from an expiration of its own.
bool g_callFromTimer = false;

// What the platform's timer calls at every period.
void onTimerPeriod(uint32_t nowMs) {
  g_callFromTimer = true;
  TimerProc(nullptr, 0, TimerID, nowMs);
  g_callFromTimer = false;
}

bool runningStepAbandoned() { return g_stepDepth > 0 && g_runningGeneration != g_taskGeneration; }

void setDeadline(uint32_t deadline) {
  Dev.deadline = deadline;
  g_deadlinePassed = false;
}

bool deadlineSeenReached(uint32_t tick) {
  const uint32_t deadline = Dev.deadline;
  return (g_deadlinePassed && deadline == g_passedDeadline) || quarn_tick_reached(tick, deadline);
}

bool deadlineReached(uint32_t tick) {
  const uint32_t deadline = Dev.deadline;
  if (g_deadlinePassed && deadline == g_passedDeadline) return true;
  if (!quarn_tick_reached(tick, deadline)) return false;
  g_deadlinePassed = true;
  g_passedDeadline = deadline;
  return true;
}

// Tells the running timer when the next call is needed, so that a host sleeps until then instead of
// waking every period for calls that find nothing due. The pending step runs at the first call at
// or after its deadline, and a call runs one step at most: the next call is at the deadline, but not
// sooner than one period after the call that ran the last step. That is the call a periodic timer
// would run the step at when the step was scheduled from a timer call (ToNext0 one period later, a
// delay at its deadline). With nothing pending the timer keeps its period.
void pace() {
  if (TimerID == 0 || OnTimer == nullptr) return;
  const uint32_t now = quarn_now_ms();
  const uint32_t untilDeadline = deadlineSeenReached(now) ? 0u : Dev.deadline - now;
  const uint32_t sinceRun = now - g_lastRunTick;
  const uint32_t untilPeriod = sinceRun < g_periodMs ? g_periodMs - sinceRun : 0u;
  const uint32_t wait = untilDeadline > untilPeriod ? untilDeadline : untilPeriod;
  const uint32_t due = now + wait;
  // Asked for already (a call that found its step not yet due), or the period after a call the
  // timer made itself, which the timer brings anyway.
  const bool known = (g_pacedValid && due == g_pacedDue) || (g_callFromTimer && untilDeadline <= untilPeriod);
  g_pacedDue = due;
  g_pacedValid = true;
  if (!known) quarn::platform::callTimerIn(wait);
}

int32_t runStep(TStepFn step) {
  const uint32_t outerGeneration = g_runningGeneration;
  g_runningGeneration = g_taskGeneration;
  ++g_stepDepth;
  const int32_t result = step();
  --g_stepDepth;
  g_runningGeneration = outerGeneration;
  // What the step scheduled (or left pending) decides the next call.
  if (g_stepDepth == 0) pace();
  return result;
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
  if (g_stepDepth == 0) pace();
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
  if (g_stepDepth == 0) pace();
  return 0;
}

QUARN_API int32_t ToNextOnError(TStepFn step, uint32_t ms) {
  if (runningStepAbandoned()) return 0;
  cTimerDelay = ms;
  OnTimer = step;
  if (g_stepDepth == 0) pace();
  return 0;
}

QUARN_API void QUARN_STDCALL TimerProc(void* /*hwnd*/, uint32_t /*msg*/, uintptr_t /*id*/, uint32_t time) {
  Dev.tick = time;
  if (g_stepDepth > 0) return;
  // Looked at also with nothing pending, so that a deadline passed then is still known as passed
  // when a later step keeps it (ToNextOnError, SetTask's first step).
  const bool due = deadlineReached(time);
  if (OnTimer == nullptr) return;
  if (!due) {
    quarn_sleep_ms(1);
    pace();
    return;
  }
  g_lastRunTick = time;
  runStep(OnTimer);
  // The successor the step scheduled, or the step itself when it scheduled nothing.
  appendHistory(OnTimer);
}

QUARN_API int32_t SetTimerProc(uint32_t periodMs) {
  if (TimerID != 0) return 0;
  if (!quarn::platform::armTimer(periodMs, onTimerPeriod)) return -1;
  TimerID = nextTimerId();
  g_periodMs = periodMs < quarn::platform::kShortestPeriodMs ? quarn::platform::kShortestPeriodMs : periodMs;
  g_lastRunTick = quarn_now_ms() - g_periodMs;
  g_pacedValid = false;
  pace();
  return 0;
}

QUARN_API int32_t KillTimerProc(void) {
  if (TimerID == 0) return -1;
  if (!quarn::platform::disarmTimer()) return -2;
  TimerID = 0;
  return 0;
}

}  // extern "C"
