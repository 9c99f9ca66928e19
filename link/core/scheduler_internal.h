// Between SetTask and the scheduler: a task that replaces the pending step while a step runs (the
// host started it from the step's notification) abandons the running step, so whatever that step
// schedules after the host's call is dropped.
#pragma once

#include <cstdint>

#include "core/quarn_core.h"

namespace quarn::core {

// Runs a task's first step at once, as the new pending step; a step running now (whose
// notification started the task) is abandoned from here on. Returns the step's result.
int32_t startTask(TStepFn first);
// Counts the tasks started with startTask, so a caller can tell whether one was started meanwhile.
uint32_t taskGeneration();

}  // namespace quarn::core
