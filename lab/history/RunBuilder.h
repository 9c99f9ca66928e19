// Between the shared record and the run history: a run record made from TDev at the end of a run
// (plus what only the host knows), and the record's values put back into a TDev, so the protocol can
// be made again from a stored run. Plain C++, for the workstation and the headless host alike.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CalibrationRuns.h"
#include "HistoryRecord.h"
#include "RunSnapshot.h"
#include "TDev.h"

namespace quarn::history {

// What the host knows about a run that the record does not hold.
struct HostContext {
  std::string workstation;  // defaultWorkstationName() unless the host has its own
  int64_t startedAtMs = 0;
  int64_t finishedAtMs = 0;
  int utcOffsetMin = 0;  // utcOffsetMinutes(startedAtMs)
  RunTag tag = RunTag::AsFound;
  std::string method;  // the run's method statement
  int pointSet = 0;    // 1..5 of the project's point sets; 0 when not known
  // Texts of the protocol page's placeholder controls in order: (control name, text).
  std::vector<std::pair<std::string, std::string>> protocolFields;
  // Measurement-method document of each channel's device (index 0 = channel 1).
  std::array<std::string, 4> deviceMethods;
};

// The run as the record holds it after the end of a verification (retCode 14) or a relay check
// (15): calibrator and reference, conditions, readiness, protocol data, each enabled channel's
// device with its valid result records and verdict, and for a relay check the eight contacts.
RunRecord buildRunRecord(const TDev& dev, const HostContext& host);

// The entry of a run from its own snapshot: when, where and its tag from `host`, the point set, the
// protocol texts and the devices' method documents from the run.
RunRecord buildRunRecord(const data::RunSnapshot& run, HostContext host);

// The stored run back into a record, the part the protocol is made from: protocol header and
// conditions, readiness, decimals and display unit, the devices (enabled) and the others disabled,
// result records at their places, point targets, relay settings and contacts, mode and kind.
// Fields the run does not hold are left as they are.
void runRecordToDev(const RunRecord& run, TDev& dev);

// A stored run as a run snapshot (its record from runRecordToDev, its protocol texts and method
// documents as stored), so its protocol is made again the way a run's is (report::makeRunReport).
data::RunSnapshot snapshotOfStoredRun(const RunRecord& run);

// A stored calibration as the runs its protocol is made from (report::makeCalibrationReport): the
// snapshots of its runs, its sensor and current trims (other adjustments between the runs are not the
// calibration's) and the reasons the run that ended it carries. The one way a calibration's protocol
// is made again from stored runs, whichever history holds them.
data::CalibrationRuns calibrationRunsOfStored(const StoredCalibration& calibration);

// The adjustment a finished HART job of the library made to the devices it worked on: current trim
// (task 15), sensor trim (16), zero (11), restored manufacturer trim (19), written range (13); none for
// any other task.
std::optional<AdjustmentKind> adjustmentOfTask(uint32_t task);

// What a host usually passes.
int64_t nowUtcMs();
int utcOffsetMinutes(int64_t msUtc);   // the local offset from UTC at that moment
std::string defaultWorkstationName();  // the machine's host name
// "$XDG_DATA_HOME/quarn/history.db", else "$HOME/.local/share/quarn/history.db"; empty when neither
// is set. The folder is not made here.
std::string defaultHistoryPath();

}  // namespace quarn::history
