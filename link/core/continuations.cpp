// The continuation table fRet, its initial pairs, and the Begin_ entry points' common body.
#include "core/quarn_core.h"
#include "core/registry.h"

extern "C" {

QUARN_API TRetPair fRet[RET_COUNT] = {};

QUARN_API void Init_ReturnFns(void) {
  for (int slot = 0; slot < RET_COUNT; ++slot) fRet[slot] = quarn::core::initialPair(slot);
}

QUARN_API void Init_ReturnFnsMeasControl(TRetPair* pair) {
  if (pair) *pair = TRetPair{Meas, Meas};
}

}  // extern "C"

namespace quarn::core {

int32_t begin(int slot, TStepFn ok, TStepFn err) {
  if (slot < 0 || slot >= RET_COUNT) return 0;
  fRet[slot] = TRetPair{ok, err};
  if (const TStepFn first = firstStep(slot)) ToNext0(first);
  return 0;
}

}  // namespace quarn::core
