#include "Suitability.h"

#include <algorithm>

#include "verdict_limit.h"

namespace quarn::data {

bool withinLimit(float reducedError, float errOk, float vrCoeff) {
  return quarn_within_limit(reducedError, errOk, vrCoeff) != 0;
}

bool recordWithinLimit(const TDev& dev, int record, int c) {
  if (c < 0 || c >= 4 || record < 0 || record >= POV_POINTS_MAX) return false;
  return withinLimit(dev.results[record].ch[c].reducedError, dev.devCh[c].errOk, dev.povHeader.vrCoeff);
}

std::optional<bool> channelSuitable(const TDev& dev, int c) {
  if (c < 0 || c >= 4 || !dev.devCh[c].enabled) return std::nullopt;
  if (dev.pointIdx <= 0) return false;
  const int n = std::min(dev.pointIdx, POV_POINTS_MAX);
  for (int k = 0; k < n; ++k)
    if (dev.results[k].valid && !recordWithinLimit(dev, k, c)) return false;
  return true;
}

}  // namespace quarn::data
