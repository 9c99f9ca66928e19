// A run's own copy of what it uses, taken when it starts: the devices with their serial numbers,
// ranges, tolerances, units and signals, the points, the readiness, the calibrator's display unit
// and decimals (all in a copy of the shared record), the protocol page's texts and each device's
// method document. While the run lasts its results come from the live record (follow()); from then
// on the snapshot is the run. The results list, the protocol workbook, its PDF and the history entry
// are made from it, so whatever the parameters, a HART search or the operator change afterwards,
// a protocol of the run shows the devices the run measured.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ProjectModel.h"
#include "TDev.h"

namespace quarn::data {

// The protocol page's placeholder controls with their texts (control name, UTF-8 text).
using ProtocolFields = std::vector<std::pair<std::string, std::string>>;

class RunSnapshot {
 public:
  // The record as prepared for the run (prepareVerification), the project it was prepared from and
  // the protocol page's texts of that project (report::protocolPlaceholders).
  RunSnapshot(const TDev& dev, const Project& project, ProtocolFields fields);
  // A run whose protocol texts and method documents are already known (a run from the history).
  // `pointSet` 1..5, 0 when not known.
  RunSnapshot(const TDev& dev, ProtocolFields fields, std::array<std::string, kChannelCount> channelMethods,
              int pointSet);
  RunSnapshot(const RunSnapshot& other);
  RunSnapshot& operator=(const RunSnapshot& other);
  RunSnapshot(RunSnapshot&&) noexcept = default;
  RunSnapshot& operator=(RunSnapshot&&) noexcept = default;
  ~RunSnapshot();

  // The run's record: its inputs as they were at the start, its results as the run left them.
  const TDev& record() const { return *record_; }

  // Takes what the run produced so far from the live record - results, point index and count,
  // relay contacts, the reference's upper limit, the calibrator's state - and keeps the run's own
  // devices, header, readiness, points, relay settings, mode and calibrator settings.
  void follow(const TDev& live);

  // The operator's deletions in the results list ("Удалить запись", "Удалить всё").
  void deleteResult(int index);
  void deleteAllResults();

  const ProtocolFields& protocolFields() const { return fields_; }
  // Each channel's method document (empty for a channel that is off or has none).
  const std::array<std::string, kChannelCount>& channelMethods() const { return methods_; }
  // The method statement of the run: the documents of its devices, each once, joined by "; ".
  std::string methodStatement() const;
  int pointSet() const { return pointSet_; }  // 1..5; 0 when not known
  bool relayCheck() const { return record_->povMode == 1; }
  bool anyChannelEnabled() const;

 private:
  std::unique_ptr<TDev> record_;
  ProtocolFields fields_;
  std::array<std::string, kChannelCount> methods_;
  int pointSet_ = 0;
};

}  // namespace quarn::data
