// The core linked without any procedure or link hook: it must run, and schedule nothing it lacks.
#include "steps.h"
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
  EXPECT_EQ(fRet[RET_CONNECT].ok, &Meas);
  EXPECT_EQ(fRet[RET_CONNECT].err, nullptr);
  EXPECT_EQ(fRet[RET_MEAS_CONTROL].err, nullptr);
}

TEST_F(AbsentProceduresTest, InitialPairsOfAbsentStepsAreNull) {
  Init_ReturnFns();
  EXPECT_EQ(fRet[RET_CONNECT].ok, &Meas);
  EXPECT_EQ(fRet[RET_CONNECT].err, nullptr);
  EXPECT_EQ(fRet[RET_CONNECT_LOOSE].ok, nullptr);
  EXPECT_EQ(fRet[RET_MEAS_CONTROL].err, nullptr);
  EXPECT_EQ(fRet[RET_CONTROL].ok, &Meas);
}

TEST_F(AbsentProceduresTest, MeasAndBeginWithoutTheirStepsLeaveNothingBroken) {
  Dev.onUpdate = countUpdates;
  ToNext0(pending);
  Meas();
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(OnTimer, nullptr);  // no measuring cycle to return to: nothing pending, no busy loop
  clock.runFor(100);

  ToNext0(pending);
  Begin_Hart_Search(Meas, Meas);
  EXPECT_EQ(fRet[RET_HART_SEARCH].ok, &Meas);
  EXPECT_EQ(OnTimer, &pending);
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
