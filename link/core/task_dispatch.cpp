// SetTask, the host's one way in; Meas, the common end of every task; Update, the notification.
#include "platform/quarn_host.h"
#include "quarn_core.h"
#include "scheduler_internal.h"
#include "weak_refs.h"

namespace {

constexpr uint32_t kSetTaskPauseMs = 200;
constexpr int32_t kRepeatBudget = 3;
constexpr uint32_t kTimerPeriodMs = 20;

void resetTaskFields(uint32_t task, void* arg) {
  Dev.task = task;
  Dev.taskArg = arg;
  Dev.retCode = 0;
  Dev.reserved11 = 0;
  Dev.checkState = 0;
  Dev.hartStage = 0;
  Dev.hartProgress = 0;
  Dev.errCode = 0;
  Dev.errText = nullptr;
  Clear_dscAll();
}

// A procedure task: the continuation pair of its slot, and its first step run at once.
struct ProcedureTask {
  uint32_t task;
  int slot;
  TStepFn ok;
  TStepFn err;
  TStepFn first;
};

// Looked up at run time: the weak steps resolve only when the library is loaded.
const ProcedureTask* findProcedureTask(uint32_t task) {
  static const ProcedureTask kTasks[] = {
      {TASK_CONNECT, RET_CONNECT, Meas, Connect, Connect},
      {TASK_MEASURE, RET_MEAS_CONTROL, Meas, Connect_Loose, MeasControl_1},
      {TASK_MEASURE_REGUL, RET_MEAS_CONTROL, Meas, Connect_Loose, MeasControl_1},
      {TASK_CONTROL, RET_CONTROL, Meas, Meas, Control},
      {TASK_SETTINGS_READ, RET_READ_SETTINGS, Meas, Meas, ReadSettings},
      {TASK_SETTINGS_WRITE, RET_WRITE_SETTINGS, Meas, Meas, WriteSettings},
      {TASK_SET_SENSOR_TYPE, RET_SET_SENSOR_TYPE, Meas, Meas, SetSensorType},
      {TASK_HART_SEARCH, RET_HART_SEARCH, Meas, Meas, Hart_Search},
      {TASK_HART_SET_0, RET_HART_SET_0, Meas, Meas, Hart_Set_0},
      {TASK_HART_RESET, RET_HART_RESET_DEV, Meas, Meas, Hart_ResetDev},
      {TASK_HART_WRITE, RET_HART_WRITE_ALL_PARAM, Meas, Meas, Hart_WriteAllParam},
      {TASK_HART_CHECK_I, RET_HART_CHECK_I, Meas, Meas, Hart_Check_I},
      {TASK_HART_TUNE_I, RET_HART_TUNE_I, Meas, Meas, Hart_Tune_I},
      {TASK_HART_TUNE_TRIM, RET_HART_TUNE_TRIM, Meas, Meas, Hart_Tune_Trim},
      {TASK_HART_EXIT_I_OUT, RET_HART_EXIT_I_OUT, Meas, Meas, HART_Exit_I_out},
      {TASK_SET_0_KD, RET_SET_0_KD, Meas, Meas, Set_0_KD},
      {TASK_HART_REPAIR_MAN, RET_HART_REPAIR_MAN, Meas, Meas, Hart_RepairMan},
      {TASK_CHECK_HART, RET_CHECK_HART, Meas, Meas, Check_HART},
      {TASK_CHECK, RET_CHECK, Meas, Meas, Check_start},
  };
  for (const ProcedureTask& entry : kTasks)
    if (entry.task == task) return &entry;
  return nullptr;
}

int32_t dispatch(uint32_t task, void* arg) {
  resetTaskFields(task, arg);
  quarn_sleep_ms(kSetTaskPauseMs);
  // Drops whatever the interrupted procedure was still waiting for.
  if (quarn_link_purge) quarn_link_purge();
  cRepeat = kRepeatBudget;

  switch (task) {
    case TASK_CHECK_ARG:
      return arg ? 0 : -1;
    case TASK_GET_RECORD:
      // The host passes the address of its record pointer; without one there is nowhere to write.
      if (!arg) return -1;
      *static_cast<TDev**>(arg) = &Dev;
      return 0;
    case TASK_TIMER_STOP:
      KillTimerProc();
      return 0;
    case TASK_TIMER_START:
      SetTimerProc(kTimerPeriodMs);
      return 0;
    default:
      break;
  }
  if (const ProcedureTask* entry = findProcedureTask(task)) {
    fRet[entry->slot] = TRetPair{entry->ok, entry->err};
    // The running procedure is abandoned: its successor is simply replaced. A procedure that is not
    // part of this build is not started (and abandons nothing).
    if (entry->first) quarn::core::startTask(entry->first);
  }
  return 0;
}

}  // namespace

extern "C" {

QUARN_API void Update(void) {
  if (Dev.onUpdate) Dev.onUpdate();
  Dev.event = 0;
}

QUARN_API int32_t SetTask(uint32_t task, void* arg) { return dispatch(task, arg); }

QUARN_API int32_t Meas(void) {
  Dev.task = TASK_MEASURE;
  Clear_dscAll();
  Dev.retCode = 1;
  // The host still sees the error of the procedure that has just ended.
  const uint32_t generation = quarn::core::taskGeneration();
  Update();
  // A host that started a task from its callback keeps that task: resuming the measuring cycle here
  // would replace the step the new task just scheduled. (Meas may also be called outside a step,
  // where the scheduler's own guard does not apply.) A task that schedules nothing changes nothing.
  if (generation != quarn::core::taskGeneration()) return 0;
  ClearDevErrorCode();
  ToNext0(MeasControl_1);
  return 0;
}

}  // extern "C"
