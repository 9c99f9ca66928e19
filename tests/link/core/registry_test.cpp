// The registry of areas on its own: which areas it refuses, and the order in which it runs the areas'
// hooks. The core starts here with no area; each test registers its own (static: the registry keeps
// the addresses).
#include "core/registry.h"

#include <string>
#include <vector>

#include "virtual_clock.h"

namespace {

using quarn::core::Area;
using quarn::core::kEndInMeas;
using quarn::core::Procedure;

int32_t stepA() { return 0; }
int32_t stepB() { return 0; }

TEST(Registry, AnAreaClaimingWhatIsTakenOrReservedIsRefusedWhole) {
  static const Procedure base[] = {{RET_CONNECT, stepA, kEndInMeas, {TASK_CONNECT}, kEndInMeas}};
  static const Area baseArea{.name = "base", .procedures = base};
  ASSERT_TRUE(quarn::core::registerArea(baseArea));

  // Every bad area starts with a row that would fit (slot 3, task 6); none of it may stay behind.
  const Procedure fitting{RET_CONTROL, stepB, kEndInMeas, {TASK_CONTROL}, kEndInMeas};
  struct Case {
    const char* what;
    Procedure bad;
  };
  const Case cases[] = {
      {"a slot another area has", {RET_CONNECT, stepB, kEndInMeas}},
      {"a task another area has", {RET_CHECK, stepB, kEndInMeas, {TASK_CONNECT}, kEndInMeas}},
      {"the area's own slot twice", {RET_CONTROL, stepB, kEndInMeas}},
      {"the area's own task twice", {RET_CHECK, stepB, kEndInMeas, {TASK_CONTROL}, kEndInMeas}},
      {"a slot below the table", {-1, stepB, kEndInMeas}},
      {"a slot past the table", {RET_COUNT, stepB, kEndInMeas}},
      {"SetTask's own task 2", {RET_CHECK, stepB, kEndInMeas, {TASK_GET_RECORD}, kEndInMeas}},
      {"the timer's task 22", {RET_CHECK, stepB, kEndInMeas, {TASK_TIMER_STOP}, kEndInMeas}},
      {"a task past the timer's", {RET_CHECK, stepB, kEndInMeas, {24}, kEndInMeas}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Procedure rows[] = {fitting, c.bad};
    const Area area{.name = "bad", .procedures = rows};
    EXPECT_FALSE(quarn::core::registerArea(area));
    EXPECT_EQ(quarn::core::firstStep(RET_CONTROL), nullptr);
    EXPECT_EQ(quarn::core::procedureOfTask(TASK_CONTROL), nullptr);
    EXPECT_EQ(quarn::core::firstStep(RET_CONNECT), &stepA);
    EXPECT_EQ(quarn::core::procedureOfTask(TASK_CONNECT), &base[0]);
  }

  // A row may name one task twice; registering an area again changes nothing.
  static const Procedure twice[] = {
      {RET_CONTROL, stepB, kEndInMeas, {TASK_CONTROL, TASK_CONTROL}, kEndInMeas}};
  static const Area twiceArea{.name = "twice", .procedures = twice};
  EXPECT_TRUE(quarn::core::registerArea(twiceArea));
  EXPECT_TRUE(quarn::core::registerArea(twiceArea));
  EXPECT_EQ(quarn::core::procedureOfTask(TASK_CONTROL), &twice[0]);
  EXPECT_EQ(quarn::core::firstStep(RET_CONTROL), &stepB);
}

std::vector<std::string> g_hooks;

TEST(Registry, TheAreasHooksRunInTheOrderTheAreasWereRegistered) {
  quarn::test::VirtualClock clock;
  static const Area first{.name = "first",
                          .procedures = {},
                          .start = [] { g_hooks.push_back("start 1"); },
                          .shutdown = [] { g_hooks.push_back("shutdown 1"); },
                          .purge = [] { g_hooks.push_back("purge 1"); }};
  // An area may leave any hook out.
  static const Area second{.name = "second", .procedures = {}, .start = [] { g_hooks.push_back("start 2"); }};
  static const Area third{.name = "third",
                          .procedures = {},
                          .shutdown = [] { g_hooks.push_back("shutdown 3"); },
                          .purge = [] { g_hooks.push_back("purge 3"); }};
  static const Area* const areas[] = {&first, &second, &third};
  g_hooks.clear();
  quarn::core::libraryLoaded(areas);  // registers, then InitDll (InitDev runs the start hooks)
  SetTask(1, nullptr);
  ExitDll();
  quarn::core::libraryUnloading();  // the host's ExitDll has already shut down
  EXPECT_EQ(g_hooks, (std::vector<std::string>{"start 1", "start 2", "purge 1", "purge 3", "shutdown 1",
                                               "shutdown 3"}));
}

}  // namespace
