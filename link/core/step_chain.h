// The common shape of a step in a chain of requests.
//
// A procedure sends one request per step; the step that runs after the answer window looks at the
// answer, and either the request is repeated (or the procedure ends) or the chain goes on: the next
// request is sent and the step that takes its answer is scheduled. How an answer is looked at (UAIL
// answer, Kesto channel select, HART reply) belongs to its protocol's taker, which schedules the
// repeat or the failure itself and says whether it accepted the answer; the rest is this helper.
#pragma once

#include <cstdint>
#include <utility>

#include "core/quarn_core.h"

namespace quarn::core {

// `accepted`: what the taker of the previous answer decided (false: it has scheduled a repeat or the
// procedure's end, and the step is done). Otherwise `request` sends the next request and `then` runs
// after `waitMs` (0: at once, inside this step). Returns the step's result.
template <typename Request>
int32_t requestThen(bool accepted, Request&& request, TStepFn then, uint32_t waitMs) {
  if (!accepted) return 0;
  std::forward<Request>(request)();
  ToNext(then, waitMs);
  return 0;
}

// The same for a step that sends nothing before it goes on.
inline int32_t goOn(bool accepted, TStepFn then, uint32_t waitMs) {
  return requestThen(
      accepted, [] {}, then, waitMs);
}

}  // namespace quarn::core
