// The library's periodic timer: a timerfd the host watches in its event loop. When the descriptor is
// readable the host calls quarn_timer_dispatch, which runs the registered callback in the host's
// thread. The scheduler moves the next expiration to when a step is due (callTimerIn), so the host
// sleeps through the periods in which nothing would run.
//
// The descriptor is created once and stays open; arming and disarming only change its setting, so a
// watcher never sees a closed descriptor.
//
// This is the POSIX timer; timer_win32.cpp is the Windows one.
#ifndef _WIN32
#include "platform/timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/quarn_host.h"

namespace {

int g_timerFd = -1;
bool g_armed = false;
uint32_t g_periodMs = 0;
quarn::platform::TimerCallback g_callback = nullptr;

int timerDescriptor() {
  if (g_timerFd < 0) g_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  return g_timerFd;
}

timespec span(uint32_t ms) {
  return timespec{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
}

itimerspec periodic(uint32_t periodMs) { return itimerspec{span(periodMs), span(periodMs)}; }

}  // namespace

namespace quarn::platform {

bool armTimer(uint32_t periodMs, TimerCallback callback) {
  const int fd = timerDescriptor();
  if (fd < 0) return false;
  const uint32_t ms = periodMs < kShortestPeriodMs ? kShortestPeriodMs : periodMs;
  const itimerspec period = periodic(ms);
  if (timerfd_settime(fd, 0, &period, nullptr) != 0) return false;
  g_callback = callback;
  g_armed = true;
  g_periodMs = ms;
  return true;
}

bool disarmTimer() {
  const itimerspec off{};
  if (g_timerFd < 0 || timerfd_settime(g_timerFd, 0, &off, nullptr) != 0) return false;
  g_armed = false;
  return true;
}

void callTimerIn(uint32_t ms) {
  if (!g_armed || g_timerFd < 0) return;
  // A zero first expiration would disarm a timerfd; "at once" is the shortest one it takes.
  const timespec first = ms == 0 ? timespec{0, 1} : span(ms);
  const itimerspec next{span(g_periodMs), first};
  // Refused (it cannot be for a timerfd armed before): the timer keeps its period.
  timerfd_settime(g_timerFd, 0, &next, nullptr);
}

}  // namespace quarn::platform

extern "C" {

QUARN_API int quarn_timer_fd(void) { return timerDescriptor(); }

QUARN_API int quarn_timer_dispatch(void) {
  if (g_timerFd < 0) return 0;
  uint64_t expirations = 0;
  ssize_t n;
  do {
    n = read(g_timerFd, &expirations, sizeof expirations);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof expirations) || expirations == 0) return 0;
  // Expirations that piled up while the thread was busy make one call, like a coalesced system timer.
  if (g_armed && g_callback) g_callback(quarn_now_ms());
  return expirations > INT32_MAX ? INT32_MAX : static_cast<int>(expirations);
}

}  // extern "C"

#endif  // _WIN32
