#include "ParamsCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quarn::data {

int checkRanges(TDev& dev) {
  int first = -1;
  for (int c = 0; c < 4; ++c)
    if (dev.devCh[c].enabled) {
      first = c;
      break;
    }
  if (first < 0) return kRangeNoChannel;
  const float lo = dev.devCh[first].MinKpa;
  const float hi = dev.devCh[first].MaxKpa;
  const float span = std::fabs(hi - lo);
  const float tol = 0.05f * span;
  for (int c = first; c < 4; ++c) {
    const TDevChannel& ch = dev.devCh[c];
    if (!ch.enabled) continue;
    // Infinite or missing limits would pass every comparison below and make an endless span.
    if (!std::isfinite(ch.MinKpa) || !std::isfinite(ch.MaxKpa) || !std::isfinite(span))
      return kRangeNotANumber;
    if (ch.MaxKpa < hi - tol || ch.MaxKpa > hi + tol || ch.MinKpa < lo - tol || ch.MinKpa > lo + tol)
      return kRangeMismatch;
    // A range may run downwards (Min above Max: a vacuum or reverse-acting device); its upper end is
    // then its Min.
    if (dev.linked && (std::fmax(ch.MinKpa, ch.MaxKpa) > dev.calInfo.pLimitMax ||
                       std::fmin(ch.MinKpa, ch.MaxKpa) < dev.calInfo.pLimitMin))
      return kRangeBeyondCalibrator;
  }
  if (lo == hi) return kRangeEmpty;
  // The points run from the first device's Min (0 %) to its Max (100 %): downwards for a range that
  // runs downwards, so that every target lies inside the devices' range.
  dev.povLo = lo;
  dev.povSpan = hi - lo;
  return kRangeOk;
}

ParamsCheck checkParams(TDev& dev) {
  ParamsCheck r;
  r.rangeResult = checkRanges(dev);
  switch (r.rangeResult) {
    case kRangeEmpty:
      r.message = "Диапазон датчика не задан (Pв = Pн)!";
      break;
    case kRangeMismatch:
      r.message = "Диапазоны датчиков не совпадают!";
      break;
    case kRangeBeyondCalibrator:
      r.message = "Диапазон калибратора меньше диапазона датчика !";
      break;
    case kRangeNotANumber:
      r.message = "Диапазон датчика задан неверно!";
      break;
    default:
      break;
  }
  for (const TDevChannel& ch : dev.devCh)
    if (ch.enabled && !(ch.errOk >= 1e-9f)) {  // a NaN tolerance fails as well
      r.message = "Допустимая погрешность слишком мала!";
      r.valid = false;
      return r;
    }
  r.valid = r.rangeResult == kRangeOk;
  return r;
}

namespace {
int32_t windowOf(long long samples) {
  return static_cast<int32_t>(std::clamp<long long>(samples, 1, STAT_RING_SIZE));
}
}  // namespace

void setReadiness(TDev& dev) {
  const float span = std::fabs(dev.povSpan);  // negative for a range that runs downwards
  const TPovHeader& h = dev.povHeader;
  const long long holdMs = std::clamp<long long>(static_cast<long long>(h.tRdy) * 1000, 0, UINT32_MAX);
  const float band = span * h.dRdy / 100.0f;

  TStatValue& ref = dev.refStat;
  ref.target = dev.pTarget;
  ref.holdMs = static_cast<uint32_t>(holdMs);
  ref.stableBand = band;
  ref.readyCorridor = span * dev.settings.readyBand1 / 100.0f;
  ref.window = windowOf(h.tRdy);

  for (int c = 0; c < 4; ++c) {
    if (!dev.devCh[c].enabled) continue;
    TStatValue& p = dev.ch[c].pStat;
    p.target = dev.pTarget;
    p.holdMs = static_cast<uint32_t>(holdMs);
    p.stableBand = band;
    p.readyCorridor = span * dev.devCh[c].errOk * h.vrCoeff / 100.0f;
    p.window = windowOf(dev.settings.averaging);
  }
}

}  // namespace quarn::data
