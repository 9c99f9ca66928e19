// The library's clock: the system's monotonic millisecond tick, or a clock a host installs (tests
// install a virtual one whose sleep advances time at once).
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <time.h>
#endif

#include "platform/quarn_host.h"

namespace {

#ifdef _WIN32

// The performance counter, not the 15.6 ms system tick: deadlines of a few tens of ms need the
// millisecond. Split so that counter * 1000 cannot overflow however long the machine is up.
uint32_t systemNow(void*) {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart > 0 ? f.QuadPart : 1;
  }();
  LARGE_INTEGER c{};
  QueryPerformanceCounter(&c);
  const uint64_t ms =
      static_cast<uint64_t>(c.QuadPart / frequency) * 1000u +
      static_cast<uint64_t>(c.QuadPart % frequency) * 1000u / static_cast<uint64_t>(frequency);
  return static_cast<uint32_t>(ms);
}

// A plain, non-alertable sleep: no completion routine runs inside it.
void systemSleep(void*, uint32_t ms) { Sleep(ms); }

#else

uint32_t systemNow(void*) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void systemSleep(void*, uint32_t ms) {
  timespec req{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
  while (nanosleep(&req, &req) != 0) {
  }
}

#endif

quarn_clock g_clock{nullptr, systemNow, systemSleep};

}  // namespace

extern "C" {

QUARN_API void quarn_set_clock(const quarn_clock* clock) {
  if (clock && clock->now_ms && clock->sleep_ms)
    g_clock = *clock;
  else
    g_clock = quarn_clock{nullptr, systemNow, systemSleep};
}

QUARN_API uint32_t quarn_now_ms(void) { return g_clock.now_ms(g_clock.ctx); }

QUARN_API void quarn_sleep_ms(uint32_t ms) { g_clock.sleep_ms(g_clock.ctx, ms); }

// Signed difference: correct across the 2^32 ms wrap as long as the two ticks are less than
// 24.8 days apart.
QUARN_API int quarn_tick_reached(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) >= 0; }

}  // extern "C"
