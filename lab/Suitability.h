// The verdict on a device under test: whether a reduced error is within the permissible error times
// the analysis coefficient, for one result record and for a whole channel. The results table's
// colours, quarn-cli's "suitable", the protocol and the run history all take it from here.
#pragma once

#include <optional>

#include "TDev.h"

namespace quarn::data {

// |reducedError| <= errOk x vrCoeff, the product rounded to single precision (the comparison the
// library's hard mode makes too, verdict_limit.h). Equality passes; NaN does not.
bool withinLimit(float reducedError, float errOk, float vrCoeff);

// Result record `record` of `channel` within its channel's limit (a missing value is not).
bool recordWithinLimit(const TDev& dev, int record, int channel);

// Nothing for a channel that is not enabled. False when no point has been recorded; otherwise true
// when every valid record among the first pointIdx is within the limit.
std::optional<bool> channelSuitable(const TDev& dev, int channel);

}  // namespace quarn::data
