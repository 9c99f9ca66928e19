#include "Suitability.h"

#include <algorithm>
#include <cmath>

namespace quarn::data {

std::optional<bool> channelSuitable(const TDev& dev, int c) {
  if (c < 0 || c >= 4 || !dev.devCh[c].enabled) return std::nullopt;
  if (dev.pointIdx <= 0) return false;
  const float limit = dev.devCh[c].errOk * dev.povHeader.vrCoeff;
  const int n = std::min(dev.pointIdx, POV_POINTS_MAX);
  for (int k = 0; k < n; ++k) {
    const TPovResult& r = dev.results[k];
    if (r.valid && !(std::fabs(r.ch[c].reducedError) <= limit)) return false;
  }
  return true;
}

}  // namespace quarn::data
