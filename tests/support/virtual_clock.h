// Virtual time for tests of the library: the clock is VirtualClock (virtual_timer_clock.h).
//
// QuarnTest is a fixture base: a fresh virtual clock, InitDev, and an idle scheduler for every test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "platform/quarn_host.h"
#include "quarn_core.h"
#include "virtual_timer_clock.h"

namespace quarn::test {

// Fixture base: virtual clock, freshly initialised record, nothing pending, no host callback.
// Notifications can be counted with countUpdates() as Dev.onUpdate.
class QuarnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitDev();
    OnTimer = nullptr;
    cTimerDelay = 0;
    cRepeat = 0;
    Dev.onUpdate = nullptr;
    updates = 0;
  }
  void TearDown() override {
    OnTimer = nullptr;
    Dev.onUpdate = nullptr;
  }

  static void countUpdates() { ++updates; }
  static inline int updates = 0;

  VirtualClock clock;
};

// The library's destructor runs the shut-down sequence at process exit, whose waits would take real
// time once the tests' virtual clocks are gone. Shut the library down in virtual time after the last
// test instead; the destructor then has nothing left to do.
class QuarnExitInVirtualTime : public ::testing::Environment {
 public:
  void TearDown() override {
    VirtualClock clock;
    ExitDll();
  }
};
inline const bool kQuarnExitInVirtualTimeRegistered =
    (::testing::AddGlobalTestEnvironment(new QuarnExitInVirtualTime), true);

}  // namespace quarn::test
