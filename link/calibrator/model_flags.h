// Which calibrator model the procedures talk to.
#pragma once

#include "calibrator/calibrator.h"
#include "calibrator/link_deps.h"

namespace quarn::cal {

// The Quarn branch of a step: the connection procedure sets exactly one of the two flags. Before
// any connection the record's model field decides.
inline bool quarnModel() {
  if (isQuarn) return true;
  if (isBrenk) return false;
  return Dev.model == 1;
}

}  // namespace quarn::cal
