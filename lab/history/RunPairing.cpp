#include "RunPairing.h"

#include <cmath>

namespace quarn::history {

namespace {

const DeviceResult* deviceWithSerial(const RunRecord& r, const std::string& serial) {
  for (const DeviceResult& d : r.devices)
    if (d.serial == serial) return &d;
  return nullptr;
}

bool sameTarget(float a, float b) { return !std::isnan(a) && !std::isnan(b) && std::fabs(a - b) <= 1e-3f; }

std::vector<PointChange> matchPoints(const DeviceResult* found, const DeviceResult* left) {
  std::vector<PointChange> out;
  const std::vector<PointResult> none;
  const std::vector<PointResult>& fp = found ? found->points : none;
  const std::vector<PointResult>& lp = left ? left->points : none;
  std::vector<bool> used(lp.size(), false);
  for (const PointResult& f : fp) {
    PointChange c;
    c.targetPrc = f.targetPrc;
    c.asFound = f;
    for (std::size_t k = 0; k < lp.size(); ++k) {
      if (used[k]) continue;
      const bool byTarget = sameTarget(f.targetPrc, lp[k].targetPrc);
      const bool byOrder = std::isnan(f.targetPrc) && std::isnan(lp[k].targetPrc);
      if (byTarget || byOrder) {
        used[k] = true;
        c.asLeft = lp[k];
        c.errorChange = lp[k].reducedError - f.reducedError;
        break;
      }
    }
    out.push_back(c);
  }
  for (std::size_t k = 0; k < lp.size(); ++k) {
    if (used[k]) continue;
    PointChange c;
    c.targetPrc = lp[k].targetPrc;
    c.asLeft = lp[k];
    out.push_back(c);
  }
  return out;
}

}  // namespace

PairChoice choosePair(const std::vector<RunTag>& tags) {
  PairChoice c;
  const std::size_t n = tags.size();
  for (std::size_t i = 0; i < n; ++i)
    if (tags[i] == RunTag::AsLeft) {
      c.asLeft = i;
      break;
    }
  for (std::size_t i = c.asLeft == PairChoice::kNone ? 0 : c.asLeft + 1; i < n; ++i)
    if (tags[i] == RunTag::AsFound) {
      c.asFound = i;
      break;
    }
  c.looked = c.asFound != PairChoice::kNone ? c.asFound + 1 : n;
  return c;
}

RunPair makeRunPair(const std::string& serial, std::optional<StoredRun> asFound,
                    std::optional<StoredRun> asLeft, const std::vector<Adjustment>& adjustments) {
  RunPair out;
  out.serial = serial;
  out.asFound = std::move(asFound);
  out.asLeft = std::move(asLeft);
  out.points = matchPoints(out.asFound ? deviceWithSerial(out.asFound->record, serial) : nullptr,
                           out.asLeft ? deviceWithSerial(out.asLeft->record, serial) : nullptr);
  if (out.asFound && out.asLeft)
    for (const Adjustment& a : adjustments)
      if (a.atMs >= out.asFound->record.startedAtMs && a.atMs <= out.asLeft->record.startedAtMs)
        out.adjustments.push_back(a);
  return out;
}

CalibrationChoice chooseCalibrationAsFound(int64_t asLeftId, int64_t asLeftStartedAtMs,
                                           const std::vector<DeviceRun>& newestFirst) {
  CalibrationChoice c;
  for (const DeviceRun& r : newestFirst) {
    if (r.startedAtMs >= asLeftStartedAtMs || r.runId == asLeftId) continue;
    c.looked = r.runId;
    if (r.tag == RunTag::AsFound && !r.cancelled) c.asFound = r.runId;
    break;
  }
  return c;
}

}  // namespace quarn::history
