// The built-in simulator inside quarn-cli, in virtual time (--sim-virtual): the bench's engine is
// plugged into the bound library as a virtual port, and the library runs on the host's virtual clock
// (Host::useVirtualTime), so the exchanges are those of a run against quarn-sim without the real
// time between them. Tests and demonstrations use it; a run with --sim stays the real-time check.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "quarnsim/engine.h"

namespace cli {

class InProcessSim {
 public:
  // The bench from quarn-sim's bench options (--scenario, --model, --channels, --fault, --set ...);
  // `--hart-log FILE` writes the HART commands each channel's transmitter heard when the bench goes.
  // `error` names an option it cannot take. The bench is registered with the host's library once
  // plug() succeeds.
  static std::unique_ptr<InProcessSim> create(const std::vector<std::string>& args, std::string& error);
  ~InProcessSim();
  InProcessSim(const InProcessSim&) = delete;
  InProcessSim& operator=(const InProcessSim&) = delete;

  // Registers the calibrator's port as a virtual port of the host's library; returns its number,
  // 0 when no number is free or the library cannot take virtual ports.
  uint32_t plug(Host& host);
  // Takes the port away again (before the engine goes).
  void unplug();

  quarnsim::Engine& engine() { return *engine_; }

 private:
  explicit InProcessSim(quarnsim::Scenario scenario);
  void writeHartLog() const;

  struct PortContext {
    quarnsim::LinePort* port = nullptr;
    Host* host = nullptr;
  };
  std::unique_ptr<quarnsim::Engine> engine_;
  PortContext context_;
  Host* host_ = nullptr;
  uint32_t portNo_ = 0;
  std::string hartLog_;
};

}  // namespace cli
