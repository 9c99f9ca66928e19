// The library's periodic timer: a timerfd the host watches in its event loop. When the descriptor is
// readable the host calls quarn_timer_dispatch, which runs the registered callback in the host's
// thread.
//
// The descriptor is created once and stays open; arming and disarming only change its setting, so a
// watcher never sees a closed descriptor.
#include "platform/timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/quarn_host.h"

namespace {

// The shortest period the timer takes; 0 would disarm a timerfd instead of starting it.
constexpr uint32_t kMinPeriodMs = 10;

int g_timerFd = -1;
bool g_armed = false;
quarn::platform::TimerCallback g_callback = nullptr;

int timerDescriptor() {
  if (g_timerFd < 0) g_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  return g_timerFd;
}

itimerspec periodic(uint32_t periodMs) {
  const timespec period{static_cast<time_t>(periodMs / 1000u),
                        static_cast<long>(periodMs % 1000u) * 1000000L};
  return itimerspec{period, period};
}

}  // namespace

namespace quarn::platform {

bool armTimer(uint32_t periodMs, TimerCallback callback) {
  const int fd = timerDescriptor();
  if (fd < 0) return false;
  const itimerspec period = periodic(periodMs < kMinPeriodMs ? kMinPeriodMs : periodMs);
  if (timerfd_settime(fd, 0, &period, nullptr) != 0) return false;
  g_callback = callback;
  g_armed = true;
  return true;
}

bool disarmTimer() {
  const itimerspec off{};
  if (g_timerFd < 0 || timerfd_settime(g_timerFd, 0, &off, nullptr) != 0) return false;
  g_armed = false;
  return true;
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
