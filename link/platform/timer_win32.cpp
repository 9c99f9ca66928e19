// The library's periodic timer on Windows: a waitable timer the host waits for in its own thread
// (quarn_timer_fd gives its handle), then calls quarn_timer_dispatch, which runs the registered
// callback in that thread. The library creates no window and needs no message loop: the host waits
// as it likes (WaitForSingleObject, MsgWaitForMultipleObjects in a window's loop, ...).
//
// The timer is a manual-reset timer armed for one expiry at a time. It stays signalled until the
// dispatch has run, as a timerfd stays readable until it is read, so a host may look at it (a wait
// with time-out 0) without consuming anything. The dispatch counts the periods that have passed
// since the expiry, arms the next expiry on the same grid of periods and calls the callback once.
// The scheduler moves the next expiry to when a step is due (callTimerIn); the periods run on from
// there, so the host sleeps through the periods in which nothing would run.
//
// While the timer is armed the system's timer resolution is raised to 1 ms: at the default 15.6 ms,
// every expiry and every 1 ms pause of a timer call whose step is not yet due would be rounded up
// to the next 15.6 ms, and the pauses alone would take most of the host thread's time.
//
// The handle is created once and stays open; arming and disarming only change its setting.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// windows.h first: mmsystem.h needs its types.
#include <mmsystem.h>

#include <cstdint>

#include "platform/quarn_host.h"
#include "platform/timer.h"

namespace {

// 100 ns units of the waitable timer per millisecond.
constexpr LONGLONG kUnitsPerMs = 10000;

HANDLE g_timer = nullptr;
bool g_armed = false;
uint32_t g_periodMs = 0;
uint64_t g_dueMs = 0;  // the armed expiry, on the real clock below
bool g_fineResolution = false;
quarn::platform::TimerCallback g_callback = nullptr;

// Real time in ms. The timer runs in real time whatever clock a host installed for the library.
uint64_t realMs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart > 0 ? f.QuadPart : 1;
  }();
  LARGE_INTEGER c{};
  QueryPerformanceCounter(&c);
  return static_cast<uint64_t>(c.QuadPart / frequency) * 1000u +
         static_cast<uint64_t>(c.QuadPart % frequency) * 1000u / static_cast<uint64_t>(frequency);
}

HANDLE timerHandle() {
  // Manual reset: signalled until the next SetWaitableTimer, whoever waits for it.
  if (!g_timer) g_timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
  return g_timer;
}

// Arms one expiry at the given real time (at once when it has passed); clears the signalled state.
bool armExpiry(uint64_t dueMs) {
  const uint64_t now = realMs();
  LARGE_INTEGER relative{};
  relative.QuadPart = dueMs > now ? -static_cast<LONGLONG>(dueMs - now) * kUnitsPerMs : -1;
  return SetWaitableTimer(g_timer, &relative, 0, nullptr, nullptr, FALSE) != 0;
}

void fineResolution(bool on) {
  if (on && !g_fineResolution) {
    g_fineResolution = timeBeginPeriod(1) == TIMERR_NOERROR;
  } else if (!on && g_fineResolution) {
    timeEndPeriod(1);
    g_fineResolution = false;
  }
}

}  // namespace

namespace quarn::platform {

bool armTimer(uint32_t periodMs, TimerCallback callback) {
  if (!timerHandle()) return false;
  const uint32_t period = periodMs < kShortestPeriodMs ? kShortestPeriodMs : periodMs;
  const uint64_t due = realMs() + period;
  if (!armExpiry(due)) return false;
  g_periodMs = period;
  g_dueMs = due;
  g_callback = callback;
  g_armed = true;
  fineResolution(true);
  return true;
}

bool disarmTimer() {
  if (!g_timer) return false;
  // A cancel keeps a manual-reset timer signalled; setting it once more clears that first.
  LARGE_INTEGER anHour{};
  anHour.QuadPart = -3600LL * 1000 * kUnitsPerMs;
  if (!SetWaitableTimer(g_timer, &anHour, 0, nullptr, nullptr, FALSE) || !CancelWaitableTimer(g_timer))
    return false;
  g_armed = false;
  fineResolution(false);
  return true;
}

void callTimerIn(uint32_t ms) {
  if (!g_armed || !g_timer) return;
  const uint64_t due = realMs() + ms;
  // Refused (it cannot be for a handle armed before): the timer keeps its period.
  if (armExpiry(due)) g_dueMs = due;
}

bool nextCall(double* inMs, double* periodMs) {
  if (!g_armed) return false;
  const uint64_t now = realMs();
  if (inMs) *inMs = g_dueMs > now ? static_cast<double>(g_dueMs - now) : 0.0;
  if (periodMs) *periodMs = g_periodMs;
  return true;
}

}  // namespace quarn::platform

extern "C" {

// The handle as an int: kernel handles hold 32 significant bits (the value a 32-bit and a 64-bit
// process exchange), so a host gets it back with (HANDLE)(intptr_t)quarn_timer_fd().
QUARN_API int quarn_timer_fd(void) {
  const HANDLE h = timerHandle();
  return h ? static_cast<int>(reinterpret_cast<intptr_t>(h)) : -1;
}

QUARN_API int quarn_timer_dispatch(void) {
  if (!g_timer || !g_armed || WaitForSingleObject(g_timer, 0) != WAIT_OBJECT_0) return 0;
  // Expiries that piled up while the thread was busy make one call, like a coalesced system timer.
  const uint64_t now = realMs();
  const uint64_t periods = now >= g_dueMs ? (now - g_dueMs) / g_periodMs + 1 : 1;
  g_dueMs += periods * g_periodMs;
  armExpiry(g_dueMs);
  if (g_callback) g_callback(quarn_now_ms());
  return periods > INT32_MAX ? INT32_MAX : static_cast<int>(periods);
}

}  // extern "C"

#endif  // _WIN32
