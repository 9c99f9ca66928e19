// The step scheduler: when steps run, what the deadline means, the history ring, the tick wrap.
#include <cstdint>
#include <functional>
#include <vector>

#include "core_fixture.h"

using quarn::test::field;
using quarn::test::VirtualClock;

namespace {

std::vector<uint32_t> g_runTicks;  // Dev.tick at each run of the probe step
int32_t probeStep() {
  g_runTicks.push_back(Dev.tick);
  ToNext0(nullptr);  // a finished procedure: nothing pending afterwards
  return 42;
}
int32_t idleStep() { return 0; }  // schedules nothing: stays pending
int32_t recordingStep() {         // records its run, schedules nothing
  g_runTicks.push_back(Dev.tick);
  return 42;
}  // schedules nothing: stays pending
int g_idleRuns = 0;
int32_t countingIdleStep() {
  ++g_idleRuns;
  return 0;
}
int32_t chainB() {
  g_runTicks.push_back(Dev.tick);
  OnTimer = nullptr;
  return 0;
}
int32_t chainA() { return ToNext(chainB, 0); }

class SchedulerTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    g_runTicks.clear();
    g_idleRuns = 0;
  }
};

TEST_F(SchedulerTest, ToNextWithZeroRunsAtOnceAndToNext0WaitsForTheTimer) {
  // ToNext(.., 0): run inside the caller, result passed back, deadline untouched, no history entry.
  Dev.deadline = 12345;
  EXPECT_EQ(ToNext(recordingStep, 0), 42);
  EXPECT_EQ(g_runTicks.size(), 1u);
  EXPECT_EQ(Dev.deadline, 12345u);
  EXPECT_EQ(cTimerDelay, 0u);
  EXPECT_EQ(Dev.stepHistIdx, 0);

  // ToNext0: pending, due at now + 1, in the history; runs at the next timer call only.
  ToNext0(recordingStep);
  EXPECT_EQ(g_runTicks.size(), 1u);
  EXPECT_EQ(OnTimer, &recordingStep);
  EXPECT_EQ(cTimerDelay, 1u);
  EXPECT_EQ(Dev.deadline, clock.now() + 1);
  EXPECT_EQ(Dev.stepHistIdx, 1);
  EXPECT_EQ(field(Dev.stepHist[0]), &recordingStep);
  const uint32_t t = clock.tick();
  ASSERT_EQ(g_runTicks.size(), 2u);
  EXPECT_EQ(g_runTicks[1], t);
}

TEST_F(SchedulerTest, ADelayIsRoundedUpToTheFirstTimerCallAtOrAfterTheDeadline) {
  struct Case {
    uint32_t delay;
    uint32_t expectedAfter;  // ms from scheduling to the run, timer calls every 20 ms
  };
  for (const Case c :
       {Case{1, 20}, Case{20, 20}, Case{21, 40}, Case{100, 100}, Case{101, 120}, Case{1500, 1500}}) {
    SCOPED_TRACE(c.delay);
    g_runTicks.clear();
    const uint32_t start = clock.now();
    EXPECT_EQ(ToNext(probeStep, c.delay), 0);
    EXPECT_EQ(cTimerDelay, c.delay);
    EXPECT_EQ(Dev.deadline, start + c.delay);
    clock.runUntil([] { return !g_runTicks.empty(); }, c.delay + 200);
    ASSERT_EQ(g_runTicks.size(), 1u);
    EXPECT_EQ(g_runTicks[0] - start, c.expectedAfter);
  }
}

TEST_F(SchedulerTest, ToNextOnErrorKeepsTheDeadline) {
  // Deadline already passed: the step runs at the next timer call, not 500 ms later.
  ToNext(idleStep, 40);
  clock.runFor(100);
  const uint32_t start = clock.now();
  ToNextOnError(probeStep, 500);
  EXPECT_EQ(cTimerDelay, 500u);
  clock.tick();
  ASSERT_EQ(g_runTicks.size(), 1u);
  EXPECT_EQ(g_runTicks[0] - start, 20u);

  // Deadline still ahead: the old deadline holds, the new delay is not added.
  g_runTicks.clear();
  const uint32_t again = clock.now();
  ToNext(idleStep, 100);
  ToNextOnError(probeStep, 500);
  clock.runUntil([] { return !g_runTicks.empty(); }, 1000);
  ASSERT_EQ(g_runTicks.size(), 1u);
  EXPECT_EQ(g_runTicks[0] - again, 100u);
}

TEST_F(SchedulerTest, AStepThatSchedulesNothingRunsAgainAtEveryTimerCall) {
  ToNext0(countingIdleStep);
  clock.runFor(100);
  EXPECT_EQ(g_idleRuns, 5);
  // After each run the still pending step was appended: 1 (ToNext0) + 5.
  EXPECT_EQ(Dev.stepHistIdx, 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(field(Dev.stepHist[i]), &countingIdleStep);
}

TEST_F(SchedulerTest, TimerCallStoresTheTickAndWaitsOneMillisecondWhenTheStepIsNotDue) {
  TimerProc(nullptr, 0, 0, 777);
  EXPECT_EQ(Dev.tick, 777u);  // also with nothing pending
  EXPECT_EQ(clock.sleeps(), 0u);

  ToNext(probeStep, 100);
  const uint32_t before = clock.now();
  TimerProc(nullptr, 0, 0, before + 10);
  EXPECT_TRUE(g_runTicks.empty());
  EXPECT_EQ(clock.sleeps(), 1u);
  EXPECT_EQ(clock.sleptMs(), 1u);
}

TEST_F(SchedulerTest, AChainedStepRunsInTheSameTimerCall) {
  ToNext0(chainA);
  const uint32_t t = clock.tick();
  ASSERT_EQ(g_runTicks.size(), 1u);
  EXPECT_EQ(g_runTicks[0], t);
  EXPECT_EQ(OnTimer, nullptr);
}

TEST_F(SchedulerTest, HistoryRingWrapsFromTheLastSlotToTheFirst) {
  for (int i = 0; i < STEP_HIST_SIZE - 1; ++i) ToNext0(idleStep);
  EXPECT_EQ(Dev.stepHistIdx, STEP_HIST_SIZE - 1);
  ToNext0(probeStep);
  EXPECT_EQ(field(Dev.stepHist[STEP_HIST_SIZE - 1]), &probeStep);
  EXPECT_EQ(Dev.stepHistIdx, 0);
  dbgAddToStack(countingIdleStep);
  EXPECT_EQ(field(Dev.stepHist[0]), &countingIdleStep);
  EXPECT_EQ(Dev.stepHistIdx, 1);
}

TEST_F(SchedulerTest, AHistoryIndexOutOfRangeInTheRecordIsNotUsedAsAnIndex) {
  // The host can write the record; a bad index must not write outside the ring.
  for (const int32_t bad : {-1, STEP_HIST_SIZE, 100000, INT32_MIN}) {
    SCOPED_TRACE(bad);
    Dev.stepHistIdx = bad;
    ToNext0(probeStep);
    EXPECT_EQ(field(Dev.stepHist[0]), &probeStep);
    EXPECT_EQ(Dev.stepHistIdx, 1);
  }
}

TEST_F(SchedulerTest, DeadlinesAcrossTheTickWrap) {
  struct Case {
    uint32_t start;
    uint32_t delay;
    uint32_t expectedAfter;
  };
  // A deadline just before the wrap is met by a call just after it, and a deadline just after the
  // wrap is not met by a call just before it.
  for (const Case c : {Case{0xFFFFFFE0u, 30, 40}, Case{0xFFFFFFE0u, 100, 100}, Case{0xFFFFFF00u, 300, 300},
                       Case{0xFFFFFFFFu, 1, 20}}) {
    SCOPED_TRACE(c.start);
    g_runTicks.clear();
    clock.set(c.start);
    ToNext(probeStep, c.delay);
    clock.runUntil([] { return !g_runTicks.empty(); }, c.delay + 200);
    ASSERT_EQ(g_runTicks.size(), 1u);
    EXPECT_EQ(g_runTicks[0] - c.start, c.expectedAfter);
  }
}

// A host that pumps its event loop inside the notification callback delivers a timer call while a
// step runs; that call must not start a second step in the middle of the first.
int g_nestedRuns = 0;
int32_t stepWithNestedTimerCall() {
  ++g_nestedRuns;
  TimerProc(nullptr, 0, 0, Dev.tick + 20);
  OnTimer = nullptr;
  return 0;
}

TEST_F(SchedulerTest, ATimerCallNestedInAStepDoesNotRunAStep) {
  g_nestedRuns = 0;
  ToNext0(stepWithNestedTimerCall);
  const uint32_t t = clock.tick();
  EXPECT_EQ(g_nestedRuns, 1);
  EXPECT_EQ(Dev.tick, t + 20);  // the nested call still records its tick
}

// A host that pumps its event loop inside a notification delivers timer calls while a step runs,
// however the step was entered. None of them may run a step nested inside the running one.
int g_pumpDepth = 0;
int g_pumpDeepest = 0;
int g_pumpRuns = 0;
int32_t pumpingStep() {  // notifies once with a pumping host, schedules nothing
  ++g_pumpRuns;
  ++g_pumpDepth;
  if (g_pumpDepth > g_pumpDeepest) g_pumpDeepest = g_pumpDepth;
  if (g_pumpDepth == 1) TimerProc(nullptr, 0, 0, quarn_now_ms() + 20);
  --g_pumpDepth;
  return 0;
}

TEST_F(SchedulerTest, ATimerCallInsideAStepRunsNothingWhicheverWayTheStepWasEntered) {
  struct Case {
    const char* name;
    std::function<void(VirtualClock&)> enter;
  };
  const Case cases[] = {{"first step of SetTask",
                         [](VirtualClock&) {
                           fakes::actions["Connect"] = pumpingStep;
                           SetTask(TASK_CONNECT, nullptr);
                         }},
                        {"ToNext with 0 from the host", [](VirtualClock&) { ToNext(pumpingStep, 0); }},
                        {"the timer", [](VirtualClock& c) {
                           ToNext0(pumpingStep);
                           c.runUntil([] { return g_pumpRuns > 0; }, 100);
                         }}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::reset();
    g_pumpDepth = g_pumpDeepest = g_pumpRuns = 0;
    c.enter(clock);
    EXPECT_EQ(g_pumpRuns, 1);
    EXPECT_EQ(g_pumpDeepest, 1);
    OnTimer = nullptr;
  }
}

// The wrap-safe comparison alone takes a deadline more than 2^31 ms behind the tick for one ahead.
TEST_F(SchedulerTest, ADeadlineFarBehindTheTickIsDue) {
  {
    SCOPED_TRACE("record initialised on a host up for more than 2^31 ms");
    clock.set(0x90000000u);
    InitDev();
    // Connect's stand-in schedules nothing: it stays pending and must run at the next timer call.
    SetTask(TASK_CONNECT, nullptr);
    EXPECT_EQ(fakes::count("Connect"), 1);
    EXPECT_TRUE(clock.runUntil([] { return fakes::count("Connect") == 2; }, 60));
    OnTimer = nullptr;
  }
  {
    SCOPED_TRACE("nothing pending for more than 2^31 ms, then a step that keeps the deadline");
    ToNext0(probeStep);  // ends with nothing pending
    clock.tick();
    ASSERT_EQ(g_runTicks.size(), 1u);
    clock.tick();  // nothing pending: the deadline has passed
    clock.set(clock.now() + 0x80000000u + 1000u);
    ToNextOnError(recordingStep, 500);
    const uint32_t t = clock.tick();
    ASSERT_EQ(g_runTicks.size(), 2u);
    EXPECT_EQ(g_runTicks[1], t);
  }
}

TEST_F(SchedulerTest, NullStepsMeanNothingPending) {
  ToNext0(idleStep);
  ToNext0(nullptr);
  EXPECT_EQ(OnTimer, nullptr);
  ToNext0(idleStep);
  EXPECT_EQ(ToNext(nullptr, 0), 0);
  EXPECT_EQ(OnTimer, nullptr);
  clock.runFor(100);  // nothing to run, no crash
}

}  // namespace
