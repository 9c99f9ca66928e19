// Whether a channel's device passed the verification: every recorded result within the permissible
// error times the analysis coefficient.
#pragma once

#include <optional>

#include "TDev.h"

namespace quarn::data {

// Nothing for a channel that is not enabled. False when no point has been recorded; otherwise true
// when every valid record among the first pointIdx has |reducedError| <= errOk x vrCoeff (equality
// passes; a missing value does not).
std::optional<bool> channelSuitable(const TDev& dev, int channel);

}  // namespace quarn::data
