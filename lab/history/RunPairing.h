// A device's as-found and as-left runs side by side: which of its runs make the pair, how their
// points line up and which adjustments of the device lie between them. The history file and a lab
// server's copy of a workstation's history choose and match alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HistoryRecord.h"

namespace quarn::history {

// Which of a serial's runs (newest first, cancelled ones left out) make its pair: the latest as-left
// run and the latest as-found run before it; without an as-left run, the latest as-found run alone.
struct PairChoice {
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t asFound = kNone;  // index into the runs
  std::size_t asLeft = kNone;
  // The choice looked at the first `looked` runs: a read checks each of them (an edited tag of a
  // newer run would change the choice unseen).
  std::size_t looked = 0;
};
PairChoice choosePair(const std::vector<RunTag>& tagsNewestFirst);

// The pair of `serial` from its chosen runs: each point of the as-found run beside its counterpart
// in the as-left run (the same target percent in walk order, so an up and a down scan through 50 %
// pair in turn; points entered by hand in their order) with the change of the reduced error, and,
// with both runs, those of the device's `adjustments` (all of them, oldest first) made from the
// as-found run's start to the as-left run's start.
RunPair makeRunPair(const std::string& serial, std::optional<StoredRun> asFound,
                    std::optional<StoredRun> asLeft, const std::vector<Adjustment>& adjustments);

// A device's run as the choice of a calibration's as-found run sees it.
struct DeviceRun {
  int64_t runId = 0;
  int64_t startedAtMs = 0;
  RunTag tag = RunTag::AsFound;
  bool cancelled = false;
};
struct CalibrationChoice {
  int64_t looked = 0;   // the run looked at (a read checks it); 0: none
  int64_t asFound = 0;  // the calibration's as-found run; 0: none
};
// The as-found run of the calibration that ended with the as-left run `asLeftId` (started at
// `asLeftStartedAtMs`), among the runs of its first device (newest first, cancelled ones included). A
// calibration stores its as-found run, the trims and its as-left run, nothing else of the device
// between them: the device's run just before the as-left one is its as-found run. When that run is
// cancelled or not an as-found run, the calibration has none; an older as-found run would be another
// occasion's.
CalibrationChoice chooseCalibrationAsFound(int64_t asLeftId, int64_t asLeftStartedAtMs,
                                           const std::vector<DeviceRun>& newestFirst);

}  // namespace quarn::history
