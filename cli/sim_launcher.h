// Starts the built-in instrument simulator (quarn-sim, beside this program) on pseudo-terminals and
// learns the paths it serves.
#pragma once

#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

namespace cli {

class SimLauncher {
 public:
  ~SimLauncher();
  // Starts quarn-sim with the given arguments and waits (up to timeoutMs) until it has printed
  // `expectedPorts` pseudo-terminal paths. Returns false with `error` set on failure.
  bool start(const std::vector<std::string>& args, size_t expectedPorts, int timeoutMs, std::string& error);
  // Ends the simulator (SIGTERM, SIGKILL when it does not end within a few seconds). Returns false,
  // with a line on stderr, when it had not ended cleanly: a crash, a sanitizer report, a non-zero
  // status, or no exit on SIGTERM. True when it ended cleanly or was never started.
  bool stop();
  const std::vector<std::string>& paths() const { return paths_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::thread drain_;  // keeps reading the simulator's output so it never blocks on a full pipe
  std::vector<std::string> paths_;
};

}  // namespace cli
