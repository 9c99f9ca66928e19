// Virtual time for the library, without a test framework (tests and benchmarks share it).
//
// VirtualClock installs itself as the library's clock: quarn_now_ms() reads it and quarn_sleep_ms()
// advances it at once, so SetTask's 200 ms pause and every deadline cost nothing. Its driver stands
// in for the 20 ms system timer: each period it moves the clock to the next point of a 20 ms grid (or
// leaves it where a sleep has already taken it) and calls TimerProc with that tick, like the real
// timer dispatch does.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/quarn_host.h"
#include "quarn_core.h"

namespace quarn::test {

// A copy of a field of the packed record. gtest's macros bind their arguments to references, and a
// reference to a misaligned pointer or float is undefined behaviour (UBSan reports it):
// EXPECT_EQ(field(Dev.onUpdate), nullptr).
template <typename T>
T field(T value) {
  return value;
}

class VirtualClock {
 public:
  static constexpr uint32_t kTimerPeriodMs = 20;

  explicit VirtualClock(uint32_t startMs = 1000) : now_(startMs), lastTick_(startMs) {
    const quarn_clock clock{this, &VirtualClock::nowThunk, &VirtualClock::sleepThunk};
    quarn_set_clock(&clock);
  }
  ~VirtualClock() { quarn_set_clock(nullptr); }
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  uint32_t now() const { return now_; }
  // Moves the clock to an absolute tick (also backwards; the next timer period starts from there).
  void set(uint32_t ms) {
    now_ = ms;
    lastTick_ = ms;
  }
  void advance(uint32_t ms) { now_ += ms; }
  // Total time spent in quarn_sleep_ms, and the number of sleeps, since construction.
  uint64_t sleptMs() const { return sleptMs_; }
  uint32_t sleeps() const { return sleeps_; }

  // One timer period: the clock moves to the next 20 ms grid point unless a sleep already took it
  // further, then TimerProc runs with that tick. Returns the tick.
  uint32_t tick() {
    uint32_t target = lastTick_ + kTimerPeriodMs;
    if (quarn_tick_reached(now_, target)) target = now_;
    now_ = target;
    lastTick_ = target;
    TimerProc(nullptr, 0, TimerID, target);
    return target;
  }
  // Timer periods for `ms` of virtual time; returns the number of timer calls.
  uint32_t runFor(uint32_t ms) {
    const uint32_t end = now_ + ms;
    uint32_t calls = 0;
    while (!quarn_tick_reached(now_, end)) {
      tick();
      ++calls;
    }
    return calls;
  }
  // Timer periods until the predicate holds (checked before each period) or `maxMs` have passed.
  bool runUntil(const std::function<bool()>& done, uint32_t maxMs) {
    const uint32_t end = now_ + maxMs;
    while (!done()) {
      if (quarn_tick_reached(now_, end)) return false;
      tick();
    }
    return true;
  }

 private:
  static uint32_t nowThunk(void* ctx) { return static_cast<VirtualClock*>(ctx)->now_; }
  static void sleepThunk(void* ctx, uint32_t ms) {
    auto* self = static_cast<VirtualClock*>(ctx);
    self->now_ += ms;
    self->sleptMs_ += ms;
    ++self->sleeps_;
  }

  uint32_t now_;
  uint32_t lastTick_;
  uint64_t sleptMs_ = 0;
  uint32_t sleeps_ = 0;
};

}  // namespace quarn::test
