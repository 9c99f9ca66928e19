// One run of quarn-cli: the global options, the bound library, the simulator when asked for, and
// the helpers every command uses (connect, wait for the end of a task).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Outcome.h"
#include "host.h"
#include "json_out.h"
#include "sim_in_process.h"
#include "sim_launcher.h"

namespace cli {

struct Options {
  std::string port;                  // device path or number; "" / "0" / "all" = search every port
  uint32_t model = 1;                // 1 Quarn, 0 Brenk
  bool sim = false;                  // start the built-in simulator on a pseudo-terminal
  bool simVirtual = false;           // with sim: the simulator inside this process, in virtual time
  std::vector<std::string> simArgs;  // extra arguments for the simulator
  double timeoutS = 15;
  std::string library;  // explicit library file (after the default places)
};

// Thrown by commands for a failure with its exit status and one-line reason.
struct Failure {
  int status;
  std::string reason;
};

// A failure of the data layer (lab/: Outcome, Result) as the command's: its reason, before it what
// the command was doing, with the exit status of a plain failure. No failure of the data layer (a
// file missing, unreadable or damaged, a refusal, a history error) is about the calibrator's link,
// which alone ends with kNoCalibrator.
template <class Failed>
[[noreturn]] void fail(const Failed& failed, const std::string& doing = "") {
  throw Failure{kFailure, doing + failed.why()};
}
inline void orFail(const quarn::data::Outcome& o, const std::string& doing = "") {
  if (!o) fail(o, doing);
}
// The value of a data-layer result (moved out of it), or its reason as the command's failure.
template <class T, class F>
T valueOrFail(quarn::data::Result<T, F> r, const std::string& doing = "") {
  if (!r) fail(r.error(), doing);
  return std::move(r.value());
}

class Session {
 public:
  explicit Session(Options o) : opts(std::move(o)) {}
  ~Session();

  // Binds the library, starts the simulator when asked, resolves the port.
  void open();
  // Unbinds the library and ends the simulator. Returns false when the simulator had not ended
  // cleanly (see SimLauncher::stop).
  bool close();
  // Starts the connection (task 3) and waits until the link is up and measuring has begun.
  void connect();
  // Starts a task and waits until the library is back in the measuring cycle (task 4 ended by Meas).
  // Returns false on timeout.
  bool runTask(uint32_t task, void* arg = nullptr);
  uint32_t timeoutMs() const { return static_cast<uint32_t>(opts.timeoutS * 1000.0); }

  Options opts;
  Host host;
  SimLauncher sim;
  std::unique_ptr<InProcessSim> inProcess;  // --sim-virtual
  // What the common end step reported last (the error of the task that just ended).
  uint32_t lastEndErr = 0;
  std::string lastEndText;
  uint32_t lastTaskSeen = TASK_MEASURE;
  uint64_t endCount = 0;      // notifications from the common end step
  uint64_t measureCount = 0;  // notifications with a new measurement
  std::vector<Host::Listener> extraListeners;
};

// A listener that refers to a command's locals: added at construction, removed when the command's
// scope ends (returns or throws).
class ScopedListener {
 public:
  ScopedListener(Session& s, Host::Listener listener) : s_(s), index_(s.extraListeners.size()) {
    s.extraListeners.push_back(std::move(listener));
  }
  ~ScopedListener() {
    if (index_ < s_.extraListeners.size())
      s_.extraListeners.erase(s_.extraListeners.begin() + static_cast<long>(index_));
  }
  ScopedListener(const ScopedListener&) = delete;
  ScopedListener& operator=(const ScopedListener&) = delete;

 private:
  Session& s_;
  size_t index_;
};

// Commands. Each returns the exit status; failures may also be thrown as Failure.
int cmdProbe(Session& s, const std::vector<std::string>& args);
int cmdMeasure(Session& s, const std::vector<std::string>& args);
int cmdControl(Session& s, const std::vector<std::string>& args);
int cmdSettings(Session& s, const std::vector<std::string>& args);

// JSON views of the record shared by several commands.
// `readings`: what the cycle read (quarn_cycle_readings()); every other value of the record is null.
Json measurementJson(const TDev& d, uint32_t readings);
Json settingsJson(const TDev& d);
Json calInfoJson(const TDev& d);

// Small argument helpers.
std::string takeValue(const std::vector<std::string>& args, size_t& i);
double parseNumber(const std::string& text, const std::string& what);

}  // namespace cli
