// The history commands that talk to a lab's PostgreSQL server (cmd_history_server.cpp).
#pragma once

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

}  // namespace cli
