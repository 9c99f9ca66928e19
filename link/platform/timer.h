// The periodic timer of this platform: a timerfd (on Windows a waitable timer) the host watches in
// its event loop (quarn_timer_fd, quarn_timer_dispatch). Whoever arms it registers the callback the dispatch
// runs; the timer knows nothing of what runs on it.
#pragma once

#include <cstdint>

namespace quarn::platform {

// The shortest period the timer takes (a period of 0 would stop a timerfd instead of starting it).
inline constexpr uint32_t kShortestPeriodMs = 10;

// Runs in the host's thread, once per dispatch that found expirations, with the current tick.
using TimerCallback = void (*)(uint32_t nowMs);

// Arms the timer with the period (raised to the shortest period it takes) and the callback. False
// when the system refuses; the timer then stays as it was.
bool armTimer(uint32_t periodMs, TimerCallback callback);
// Disarms it. False when the system refuses: the timer may still be armed and keeps its callback.
bool disarmTimer();

// Asks an armed timer for its next call `ms` from now (0: as soon as possible) instead of one period
// after the last; from that call on the period runs again until the next request. Lets a host sleep
// until the scheduler's next deadline instead of waking every period. A timer that can only keep
// its period may ignore the request: calls then come more often than needed, never later.
void callTimerIn(uint32_t ms);

#ifdef _WIN32
// When the waitable timer's next expiry is set for, in ms from now (0: due), and the period the
// dispatch keeps; false while the timer is disarmed. (On POSIX the descriptor itself tells.)
bool nextCall(double* inMs, double* periodMs);
#endif

}  // namespace quarn::platform
