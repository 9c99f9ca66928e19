// The history commands that talk to a lab's PostgreSQL server (cmd_history_server.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "HistoryRecord.h"

namespace cli {

// `history sync [--server URI] [--workstation ID] [--settings FILE] [--history FILE]`.
int historySync(const std::vector<std::string>& args);
// `history check --server URI [--workstation ID] [--server-only] [--history FILE]`.
int historyCheckServer(const std::vector<std::string>& args);
// `history list --server URI [--workstation ID]` with the list's own filters: `serverArgs` holds the
// server options as given (name, value, …).
int historyListServer(const std::vector<std::string>& serverArgs, const quarn::history::ListFilter& filter);
// `history show RUN --workstation ID [--server URI]`: the run of that workstation on the lab server,
// printed as the local show prints a run.
int historyShowServer(const std::vector<std::string>& serverArgs, int64_t run);
// `history pair SERIAL --workstation ID [--server URI]`: the device's pair among that workstation's runs.
int historyPairServer(const std::vector<std::string>& serverArgs, const std::string& serial);
// `history report RUN --report OUT.xlsx --workstation ID [--server URI]`: the protocol made again from
// the content the server stores.
int historyReportServer(const std::vector<std::string>& serverArgs, int64_t run,
                        const std::string& reportPath, const std::string& templatePath);

// Where a calibration's runs come from when the run that ended it is reported: the history file's
// calibrationOf, or the lab server's.
using CalibrationSource =
    std::function<quarn::history::Result<quarn::history::StoredCalibration>(int64_t runId)>;

// The protocol of a stored run (from the history file or the lab server) into `reportPath`, with
// the stored entry at its foot (a calibration's: both runs and the trims between them, found through
// `calibrationOf`); prints {"run", "report"} (and a calibration's "asFound", "adjustments"). A relay
// check has none (Failure).
int reportOfStoredRun(const quarn::history::StoredRun& stored, const CalibrationSource& calibrationOf,
                      const std::string& reportPath, const std::string& templatePath);

}  // namespace cli
