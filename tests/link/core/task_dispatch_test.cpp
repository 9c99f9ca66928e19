// SetTask (reset, pause, purge, dispatch, results), Meas, the continuation table and Begin_ points,
// over the procedure tables of the calibrator and HART areas with stand-in steps.
#include <string>

#include "calibrator/calibrator.h"
#include "calibrator/verification.h"
#include "core_fixture.h"
#include "hart/hart_procedures.h"

using quarn::test::field;

namespace {

class TaskDispatchTest : public CoreTest {
 protected:
  // Puts junk into every field SetTask resets.
  static void dirtyTaskFields() {
    Dev.task = 99;
    Dev.taskArg = &Dev;
    Dev.retCode = 7;
    Dev.reserved11 = 8;
    Dev.checkState = 1;
    Dev.hartStage = 3;
    Dev.hartProgress = 40;
    Dev.errCode = 12;
    Dev.errText = "x";
    for (int i = 0; i < 3; ++i) Dev.dsc[i] = "busy";
    cRepeat = 0;
  }
};

int32_t pendingSentinel() { return 0; }

struct ProcedureTaskCase {
  uint32_t task;
  int slot;
  TStepFn ok;
  TStepFn err;
  TStepFn first;
  const char* firstName;
};

TEST_F(TaskDispatchTest, EachProcedureTaskWritesItsPairAndRunsItsFirstStepAtOnce) {
  const ProcedureTaskCase cases[] = {
      {3, RET_CONNECT, Meas, Connect, Connect, "Connect"},
      {4, RET_MEAS_CONTROL, Meas, Connect_Loose, MeasControl_1, "MeasControl_1"},
      {5, RET_MEAS_CONTROL, Meas, Connect_Loose, MeasControl_1, "MeasControl_1"},
      {6, RET_CONTROL, Meas, Meas, Control, "Control"},
      {7, RET_READ_SETTINGS, Meas, Meas, ReadSettings, "ReadSettings"},
      {8, RET_WRITE_SETTINGS, Meas, Meas, WriteSettings, "WriteSettings"},
      {9, RET_SET_SENSOR_TYPE, Meas, Meas, SetSensorType, "SetSensorType"},
      {10, RET_HART_SEARCH, Meas, Meas, Hart_Search, "Hart_Search"},
      {11, RET_HART_SET_0, Meas, Meas, Hart_Set_0, "Hart_Set_0"},
      {12, RET_HART_RESET_DEV, Meas, Meas, Hart_ResetDev, "Hart_ResetDev"},
      {13, RET_HART_WRITE_ALL_PARAM, Meas, Meas, Hart_WriteAllParam, "Hart_WriteAllParam"},
      {14, RET_HART_CHECK_I, Meas, Meas, Hart_Check_I, "Hart_Check_I"},
      {15, RET_HART_TUNE_I, Meas, Meas, Hart_Tune_I, "Hart_Tune_I"},
      {16, RET_HART_TUNE_TRIM, Meas, Meas, Hart_Tune_Trim, "Hart_Tune_Trim"},
      {17, RET_HART_EXIT_I_OUT, Meas, Meas, HART_Exit_I_out, "HART_Exit_I_out"},
      {18, RET_SET_0_KD, Meas, Meas, Set_0_KD, "Set_0_KD"},
      {19, RET_HART_REPAIR_MAN, Meas, Meas, Hart_RepairMan, "Hart_RepairMan"},
      {20, RET_CHECK_HART, Meas, Meas, Check_HART, "Check_HART"},
      {21, RET_CHECK, Meas, Meas, Check_start, "Check_start"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.task);
    fakes::reset();
    for (TRetPair& pair : fRet) pair = {nullptr, nullptr};
    dirtyTaskFields();
    ToNext0(pendingSentinel);
    const uint64_t sleptBefore = clock.sleptMs();
    int arg = 0;

    EXPECT_EQ(SetTask(c.task, &arg), 0);

    EXPECT_EQ(fRet[c.slot].ok, c.ok);
    EXPECT_EQ(fRet[c.slot].err, c.err);
    for (int slot = 0; slot < RET_COUNT; ++slot)
      if (slot != c.slot) {
        EXPECT_EQ(fRet[slot].ok, nullptr) << "slot " << slot;
      }
    ASSERT_EQ(fakes::calls, std::vector<std::string>{c.firstName});
    EXPECT_EQ(OnTimer, c.first);  // the pending step was replaced
    EXPECT_EQ(Dev.task, c.task);
    EXPECT_EQ(field(Dev.taskArg), &arg);
    EXPECT_EQ(clock.sleptMs() - sleptBefore, 200u);
    EXPECT_EQ(fakes::purges, 1);
    EXPECT_EQ(cRepeat, 3);
  }
}

TEST_F(TaskDispatchTest, EveryTaskResetsTheTaskFieldsPausesAndPurges) {
  struct Case {
    uint32_t task;
    bool nullArg;
    int32_t result;
  };
  // Tasks that schedule nothing leave the pending step alone.
  for (const Case c :
       {Case{0, false, 0}, Case{0, true, -1}, Case{1, false, 0}, Case{1, true, 0}, Case{24, true, 0},
        Case{25, false, 0}, Case{1000, true, 0}, Case{0xFFFFFFFFu, false, 0}}) {
    SCOPED_TRACE(testing::Message() << "task " << c.task << (c.nullArg ? " null" : " arg"));
    fakes::reset();
    dirtyTaskFields();
    ToNext0(pendingSentinel);
    const uint64_t sleptBefore = clock.sleptMs();
    int value = 0;
    void* arg = c.nullArg ? nullptr : &value;

    EXPECT_EQ(SetTask(c.task, arg), c.result);

    EXPECT_EQ(Dev.task, c.task);
    EXPECT_EQ(field(Dev.taskArg), arg);
    EXPECT_EQ(Dev.retCode, 0u);
    EXPECT_EQ(Dev.reserved11, 0u);
    EXPECT_EQ(Dev.checkState, 0u);
    EXPECT_EQ(Dev.hartStage, 0u);
    EXPECT_EQ(Dev.hartProgress, 0u);
    EXPECT_EQ(Dev.errCode, 0u);
    EXPECT_EQ(field(Dev.errText), nullptr);
    for (int i = 0; i < 3; ++i) EXPECT_STREQ(Dev.dsc[i], "");
    EXPECT_EQ(clock.sleptMs() - sleptBefore, 200u);
    EXPECT_EQ(fakes::purges, 1);
    EXPECT_EQ(cRepeat, 3);
    EXPECT_EQ(OnTimer, &pendingSentinel);
    EXPECT_TRUE(fakes::calls.empty());
    EXPECT_EQ(value, 0);
  }
}

TEST_F(TaskDispatchTest, Task2HandsOutTheRecordAndNeverWritesThroughANullArgument) {
  TDev* record = nullptr;
  ToNext0(pendingSentinel);
  EXPECT_EQ(SetTask(TASK_GET_RECORD, &record), 0);
  EXPECT_EQ(record, &Dev);
  EXPECT_EQ(OnTimer, &pendingSentinel);  // schedules nothing
  EXPECT_EQ(SetTask(TASK_GET_RECORD, nullptr), -1);
  EXPECT_EQ(Dev.task, uint32_t{TASK_GET_RECORD});
}

// A procedure of the test's own: waits 100 ms, then ends in its success continuation.
int g_abandonedSecondStepRuns = 0;
int g_abandonedEnds = 0;
int32_t abandonedEnd() {
  ++g_abandonedEnds;
  return 0;
}
int32_t abandonedSecond() {
  ++g_abandonedSecondStepRuns;
  ToNext0(fRet[RET_CHECK].ok);
  return 0;
}
int32_t abandonedFirst() {
  ToNext(abandonedSecond, 100);
  return 0;
}

TEST_F(TaskDispatchTest, ANewTaskAbandonsTheRunningProcedure) {
  g_abandonedSecondStepRuns = g_abandonedEnds = 0;
  fRet[RET_CHECK] = {abandonedEnd, abandonedEnd};
  ToNext0(abandonedFirst);
  clock.tick();  // the first step has run and waits for 100 ms
  ASSERT_EQ(OnTimer, &abandonedSecond);

  SetTask(TASK_HART_SEARCH, nullptr);
  clock.runFor(1000);
  EXPECT_EQ(g_abandonedSecondStepRuns, 0);
  EXPECT_EQ(g_abandonedEnds, 0);
  EXPECT_GE(fakes::count("Hart_Search"), 1);
}

TEST_F(TaskDispatchTest, MeasNotifiesTheEndedTasksErrorThenClearsItAndResumesMeasuring) {
  Dev.onUpdate = recordNotification;
  // A procedure that fails: reports error 4 and ends in its failure continuation.
  fakes::actions["Control"] = [] {
    _SetDevErrorCode(ERR_FIXED_CURRENT);
    ToNext0(fRet[RET_CONTROL].err);
    return 0;
  };
  Dev.dsc[0] = dsc_[0];
  SetTask(TASK_CONTROL, nullptr);
  ASSERT_TRUE(clock.runUntil([] { return fakes::count("MeasControl_1") > 0; }, 200));

  const std::string failure = cp1251("Сбой\tустановки фиксированного входа!");
  ASSERT_EQ(seen.size(), 2u);
  // The report itself.
  EXPECT_EQ(seen[0].errCode, 4u);
  EXPECT_EQ(seen[0].task, uint32_t{TASK_CONTROL});
  // Meas's notification: back in the measuring task, result 1, the error still visible.
  EXPECT_EQ(seen[1].task, 4u);
  EXPECT_EQ(seen[1].retCode, 1u);
  EXPECT_EQ(seen[1].errCode, 4u);
  EXPECT_EQ(seen[1].errText, failure);
  EXPECT_EQ(seen[1].event, 0u);
  // Afterwards.
  EXPECT_EQ(Dev.errCode, 0u);
  EXPECT_STREQ(Dev.errText, "Ok");
  EXPECT_EQ(Dev.task, 4u);
  EXPECT_EQ(Dev.retCode, 1u);
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(Dev.dsc[i], "");
  EXPECT_EQ(Dev.event, 0u);
}

TEST_F(TaskDispatchTest, MeasSchedulesTheMeasuringCycleForTheNextTimerCall) {
  Dev.event = 2;
  EXPECT_EQ(Meas(), 0);
  EXPECT_EQ(Dev.event, 0u);  // reset even without a callback
  EXPECT_EQ(OnTimer, &MeasControl_1);
  EXPECT_EQ(Dev.deadline, clock.now() + 1);
  EXPECT_TRUE(fakes::calls.empty());
  clock.tick();
  EXPECT_EQ(fakes::count("MeasControl_1"), 1);
}

// A host that starts the next task from inside the notification of the ended one, once; reset by the
// test that uses it, so a repeated run starts it again.
bool g_searchStarted = false;
void startSearchFromCallback() {
  if (g_searchStarted) return;
  g_searchStarted = true;
  SetTask(TASK_HART_SEARCH, nullptr);
}

TEST_F(TaskDispatchTest, ATaskStartedFromMeassNotificationIsNotOverwritten) {
  g_searchStarted = false;
  Dev.onUpdate = startSearchFromCallback;
  Meas();
  EXPECT_EQ(OnTimer, &Hart_Search);
  EXPECT_EQ(Dev.task, uint32_t{TASK_HART_SEARCH});
  EXPECT_EQ(field(Dev.errText), nullptr);  // the new task's reset stands
}

// A step that reports an error (which notifies) and then ends in its failure continuation; the host
// starts other tasks from inside that notification.
int g_reportThenEndRuns = 0;
int32_t reportThenEnd() {
  ++g_reportThenEndRuns;
  _SetDevErrorCode(ERR_MEASURE_INPUT);
  ToNext0(fRet[RET_HART_CHECK_I].err);
  return 0;
}
std::vector<uint32_t> g_tasksFromCallback;
void startTasksFromCallback() {
  const std::vector<uint32_t> tasks = std::move(g_tasksFromCallback);
  g_tasksFromCallback.clear();
  for (const uint32_t task : tasks) SetTask(task, nullptr);
}

TEST_F(TaskDispatchTest, ATaskStartedFromAStepsNotificationIsNotOverwrittenByThatStep) {
  struct Case {
    std::vector<uint32_t> tasks;
    TStepFn expectedPending;
  };
  const Case cases[] = {
      {{TASK_HART_SEARCH}, Hart_Search},
      {{TASK_HART_SEARCH, TASK_CONTROL}, Control},  // the last one started wins
      {{TASK_HART_SEARCH, 1}, Hart_Search},         // a task that schedules nothing changes nothing
      {{}, Meas},                                   // no new task: the step ends as it says
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tasks.size());
    fRet[RET_HART_CHECK_I] = {Meas, Meas};
    g_tasksFromCallback = c.tasks;
    Dev.onUpdate = startTasksFromCallback;
    g_reportThenEndRuns = 0;
    ToNext0(reportThenEnd);
    // (A SetTask of the previous case has paused the clock past the timer grid: the first call may
    // find the step not yet due.)
    ASSERT_TRUE(clock.runUntil([] { return g_reportThenEndRuns == 1; }, 100));
    EXPECT_EQ(OnTimer, c.expectedPending);
    // The scheduler takes the next step's scheduling again.
    ToNext0(pendingSentinel);
    EXPECT_EQ(OnTimer, &pendingSentinel);
    OnTimer = nullptr;
  }
}

// Tasks that schedule no step (no such task, the record, the timer) started from a notification:
// the notifying step, or Meas, goes on as if nothing had been started.
TEST_F(TaskDispatchTest, ATaskThatSchedulesNothingStartedFromANotificationLeavesTheStepItsSuccessor) {
  const std::vector<uint32_t> cases[] = {
      {1}, {TASK_CHECK_ARG}, {TASK_GET_RECORD}, {24}, {TASK_TIMER_STOP, TASK_TIMER_START},
  };
  Dev.onUpdate = startTasksFromCallback;
  for (const std::vector<uint32_t>& tasks : cases) {
    SCOPED_TRACE(testing::Message() << "task " << tasks[0]);
    // A step that reports and ends in its failure continuation.
    fakes::reset();
    fRet[RET_HART_CHECK_I] = {Meas, Meas};
    g_tasksFromCallback = tasks;
    g_reportThenEndRuns = 0;
    ToNext0(reportThenEnd);
    ASSERT_TRUE(clock.runUntil([] { return g_reportThenEndRuns == 1; }, 100));
    EXPECT_EQ(OnTimer, &Meas);
    EXPECT_TRUE(clock.runUntil([] { return fakes::count("MeasControl_1") == 1; }, 100));
    EXPECT_EQ(g_reportThenEndRuns, 1) << "the step ran again";

    // Meas: measuring resumes and the ended task's error is cleared.
    g_tasksFromCallback = tasks;
    Dev.errCode = ERR_MEASURE_INPUT;
    Meas();
    EXPECT_EQ(OnTimer, &MeasControl_1);
    EXPECT_EQ(Dev.errCode, 0u);
    EXPECT_STREQ(Dev.errText, "Ok");
    OnTimer = nullptr;
  }
}

TEST_F(TaskDispatchTest, InitialContinuationPairs) {
  for (TRetPair& pair : fRet) pair = {nullptr, nullptr};
  Init_ReturnFns();
  const TRetPair expected[RET_COUNT] = {
      {Meas, Connect},    {Connect, Connect}, {Meas, Connect_NotFound},
      {Meas, Meas},       {Meas, Meas},       {Meas, Meas},
      {nullptr, nullptr}, {Meas, Meas},       {Meas, Meas},
      {Meas, Meas},       {Meas, Meas},       {Meas, Meas},
      {Meas, Meas},       {Meas, Meas},       {Meas, Meas},
      {Meas, Meas},       {Meas, Meas},       {Meas, Meas},
      {Meas, Meas},       {Meas, Meas},       {Meas, Meas},
      {Meas, Meas},       {Meas, Meas},       {Meas, Meas},
      {Meas, Meas},
  };
  for (int slot = 0; slot < RET_COUNT; ++slot) {
    EXPECT_EQ(fRet[slot].ok, expected[slot].ok) << "slot " << slot;
    EXPECT_EQ(fRet[slot].err, expected[slot].err) << "slot " << slot;
  }

  TRetPair pair{Connect, Connect};
  Init_ReturnFnsMeasControl(&pair);
  EXPECT_EQ(pair.ok, &Meas);
  EXPECT_EQ(pair.err, &Meas);
  Init_ReturnFnsMeasControl(nullptr);
}

int32_t customOk() { return 0; }
int32_t customErr() { return 0; }

TEST_F(TaskDispatchTest, BeginEntryPointsStoreThePairAndScheduleTheFirstStepForTheNextCall) {
  struct Case {
    int32_t (*begin)(TStepFn, TStepFn);
    int slot;
    TStepFn first;
    const char* firstName;
  };
  const Case cases[] = {
      {Begin_Connect, RET_CONNECT, Connect, "Connect"},
      {Begin_ConnectLoose, RET_CONNECT_LOOSE, Connect_Loose, "Connect_Loose"},
      {Begin_MeasControl, RET_MEAS_CONTROL, MeasControl_1, "MeasControl_1"},
      {Begin_Control, RET_CONTROL, Control, "Control"},
      {Begin_Check, RET_CHECK, Check_start, "Check_start"},
      {Begin_CheckHart, RET_CHECK_HART, Check_HART, "Check_HART"},
      {Begin_Check_I, RET_HART_CHECK_I, Hart_Check_I, "Hart_Check_I"},
      {Begin_ProcBrenkextDorv, RET_PROC_BRENK_EXT_DORV, ProcBrenkextDorv, "ProcBrenkextDorv"},
      {Begin_Hart_Search, RET_HART_SEARCH, Hart_Search, "Hart_Search"},
      {Begin_Hart_ReadDevInfo, RET_HART_READ_DEV_INFO, Hart_ReadDeviceInfo, "Hart_ReadDeviceInfo"},
      {Begin_Hart_WriteAllParam, RET_HART_WRITE_ALL_PARAM, Hart_WriteAllParam, "Hart_WriteAllParam"},
      {Begin_Hart_Tune_I, RET_HART_TUNE_I, Hart_Tune_I, "Hart_Tune_I"},
      {Begin_Hart_Tune_Trim, RET_HART_TUNE_TRIM, Hart_Tune_Trim, "Hart_Tune_Trim"},
      {Begin_Hart_Set_0, RET_HART_SET_0, Hart_Set_0, "Hart_Set_0"},
      {Begin_Hart_ResetDev, RET_HART_RESET_DEV, Hart_ResetDev, "Hart_ResetDev"},
      {Begin_Hart_Exit_I_out, RET_HART_EXIT_I_OUT, HART_Exit_I_out, "HART_Exit_I_out"},
      {Begin_Hart_RepairManuf, RET_HART_REPAIR_MAN, Hart_RepairMan, "Hart_RepairMan"},
      {Begin_SettingsRead, RET_READ_SETTINGS, ReadSettings, "ReadSettings"},
      {Begin_SettingsWrite, RET_WRITE_SETTINGS, WriteSettings, "WriteSettings"},
      {Begin_Kesto_Meas, RET_KESTO_START_READ, Kesto_StartRead, "Kesto_StartRead"},
      {Begin_Kesto_ReadErrNC, RET_KESTO_READ_ERR, Kesto_ReadErrorOpenFile, "Kesto_ReadErrorOpenFile"},
      {Begin_SetSensorType, RET_SET_SENSOR_TYPE, SetSensorType, "SetSensorType"},
      {Begin_RedExtDorv_Info, RET_WAIT_EXT_DORV_INFO, WaitExtDorv_info, "WaitExtDorv_info"},
      {Begin_Set_0_KD, RET_SET_0_KD, Set_0_KD, "Set_0_KD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstName);
    fakes::reset();
    c.begin(customOk, customErr);
    EXPECT_EQ(fRet[c.slot].ok, &customOk);
    EXPECT_EQ(fRet[c.slot].err, &customErr);
    EXPECT_EQ(OnTimer, c.first);
    EXPECT_TRUE(fakes::calls.empty());
    clock.tick();
    EXPECT_EQ(fakes::calls, std::vector<std::string>{c.firstName});
    OnTimer = nullptr;
  }
}

}  // namespace
