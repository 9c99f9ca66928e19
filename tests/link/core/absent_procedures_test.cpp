// The core linked without any area (no procedure, no hook): it must run, and schedule nothing it
// lacks.
#include "core/registry.h"
#include "virtual_clock.h"

using quarn::test::field;

namespace {

using AbsentProceduresTest = quarn::test::QuarnTest;

int32_t pending() { return 0; }

TEST_F(AbsentProceduresTest, TasksOfAbsentProceduresResetButScheduleNothing) {
  for (uint32_t task = 3; task <= 21; ++task) {
    SCOPED_TRACE(task);
    ToNext0(pending);
    Dev.retCode = 9;
    EXPECT_EQ(SetTask(task, nullptr), 0);
    EXPECT_EQ(Dev.task, task);
    EXPECT_EQ(Dev.retCode, 0u);
    EXPECT_EQ(cRepeat, 3);
    EXPECT_EQ(OnTimer, &pending);
  }
  // Nothing dispatched, so no slot was written.
  for (int slot = 0; slot < RET_COUNT; ++slot) {
    EXPECT_EQ(fRet[slot].ok, &Meas) << "slot " << slot;
    EXPECT_EQ(fRet[slot].err, &Meas) << "slot " << slot;
  }
}

TEST_F(AbsentProceduresTest, SlotsNoAreaClaimsEndInMeasBothWays) {
  for (TRetPair& pair : fRet) pair = {nullptr, nullptr};
  Init_ReturnFns();
  for (int slot = 0; slot < RET_COUNT; ++slot) {
    EXPECT_EQ(fRet[slot].ok, &Meas) << "slot " << slot;
    EXPECT_EQ(fRet[slot].err, &Meas) << "slot " << slot;
  }
}

TEST_F(AbsentProceduresTest, MeasAndBeginWithoutTheirStepsLeaveNothingBroken) {
  Dev.onUpdate = countUpdates;
  ToNext0(pending);
  Meas();
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(OnTimer, nullptr);  // no measuring cycle to return to: nothing pending, no busy loop
  clock.runFor(100);

  // The Begin_ entry points' body for a slot without a procedure: the pair is stored, nothing runs.
  ToNext0(pending);
  quarn::core::begin(RET_HART_SEARCH, pending, Meas);
  EXPECT_EQ(fRet[RET_HART_SEARCH].ok, &pending);
  EXPECT_EQ(OnTimer, &pending);
  quarn::core::begin(RET_COUNT, Meas, Meas);  // no such slot: nothing written
}

TEST_F(AbsentProceduresTest, StartUpAndShutDownWithoutTheLink) {
  EXPECT_EQ(InitDll(), 0);
  EXPECT_EQ(InitDll(), 0);
  EXPECT_NE(TimerID, 0u);
  EXPECT_EQ(field(Dev.uailPtr), nullptr);
  Dev.onUpdate = countUpdates;
  EXPECT_EQ(ExitDll(), 0);
  EXPECT_EQ(field(Dev.onUpdate), nullptr);
  EXPECT_EQ(TimerID, 0u);
  EXPECT_EQ(ExitDll(), 0);
}

}  // namespace
