// Between SetTask and the scheduler: a task the host starts while a step runs (from its notification
// callback) abandons that step, so whatever the step schedules after the host's call is dropped.
#pragma once

namespace quarn::core {

// SetTask is about to dispatch: scheduling is the new task's from here on.
void taskStarting();
// SetTask has dispatched: if a step is running, it belongs to the abandoned procedure.
void taskStarted();

}  // namespace quarn::core
