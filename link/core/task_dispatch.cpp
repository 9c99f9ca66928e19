// SetTask, the host's one way in; Meas, the common end of every task; Update, the notification.
#include "core/quarn_core.h"
#include "core/registry.h"
#include "core/scheduler_internal.h"
#include "platform/quarn_host.h"

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

int32_t dispatch(uint32_t task, void* arg) {
  resetTaskFields(task, arg);
  quarn_sleep_ms(kSetTaskPauseMs);
  // Drops whatever the interrupted procedure was still waiting for.
  quarn::core::purgeAreas();
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
  if (const quarn::core::Procedure* procedure = quarn::core::procedureOfTask(task)) {
    fRet[procedure->slot] = procedure->forTasks;
    // The running procedure is abandoned: its successor is simply replaced. A procedure without a
    // first step (none registered) is not started and abandons nothing.
    if (procedure->first) quarn::core::startTask(procedure->first);
  }
  return 0;
}

}  // namespace

extern "C" {

QUARN_API void Update(void) {
  if (Dev.onUpdate) Dev.onUpdate();
  Dev.event = 0;
}

QUARN_API int32_t QUARN_STDCALL SetTask(uint32_t task, void* arg) { return dispatch(task, arg); }

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
  // Back to the measuring cycle, the procedure of its slot; without one nothing is left pending.
  ToNext0(quarn::core::firstStep(RET_MEAS_CONTROL));
  return 0;
}

}  // extern "C"
