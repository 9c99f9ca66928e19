// The periodic timer of this platform: a timerfd the host watches in its event loop (quarn_timer_fd,
// quarn_timer_dispatch). Whoever arms it registers the callback the dispatch runs; the timer knows
// nothing of what runs on it.
#pragma once

#include <cstdint>

namespace quarn::platform {

// Runs in the host's thread, once per dispatch that found expirations, with the current tick.
using TimerCallback = void (*)(uint32_t nowMs);

// Arms the timer with the period (raised to the shortest period it takes) and the callback. False
// when the system refuses; the timer then stays as it was.
bool armTimer(uint32_t periodMs, TimerCallback callback);
// Disarms it. False when the system refuses: the timer may still be armed and keeps its callback.
bool disarmTimer();

}  // namespace quarn::platform
