#include "sim_in_process.h"

#include <cstdio>

#include "quarnsim/scenario.h"
#include "quarnsim/transmitter.h"

namespace cli {

std::unique_ptr<InProcessSim> InProcessSim::create(const std::vector<std::string>& args, std::string& error) {
  quarnsim::Scenario scenario;
  std::vector<std::string> rest;
  std::string hartLog;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--hart-log" && i + 1 < args.size())
      hartLog = args[++i];
    else
      rest.push_back(args[i]);
  }
  error = quarnsim::applyBenchOptions(scenario, rest);
  if (!error.empty()) {
    error = "simulator: " + error;
    return nullptr;
  }
  if (!rest.empty()) {
    error = "the simulator inside quarn-cli (--sim-virtual) takes no option " + rest.front();
    return nullptr;
  }
  auto sim = std::unique_ptr<InProcessSim>(new InProcessSim(std::move(scenario)));
  sim->hartLog_ = hartLog;
  return sim;
}

InProcessSim::InProcessSim(quarnsim::Scenario scenario)
    : engine_(std::make_unique<quarnsim::Engine>(std::move(scenario))) {}

InProcessSim::~InProcessSim() {
  unplug();
  writeHartLog();
}

// Every HART command each channel's transmitter heard, one line a channel ("ch 2: 0 13 40 45"), so a
// run can be checked for what reached which device.
void InProcessSim::writeHartLog() const {
  if (hartLog_.empty()) return;
  FILE* f = std::fopen(hartLog_.c_str(), "w");
  if (!f) return;
  for (int ch = 0; ch < 4; ++ch) {
    std::fprintf(f, "ch %d:", ch + 1);
    for (uint8_t cmd : engine_->transmitter(ch).commandsSeen()) std::fprintf(f, " %d", cmd);
    std::fprintf(f, "\n");
  }
  std::fclose(f);
}

uint32_t InProcessSim::plug(Host& host) {
  auto* registerVirtual =
      host.library().symbol<int (*)(uint32_t, const quarn_vport_ops*)>("quarn_port_register_virtual");
  if (!registerVirtual || !host.library().portPath) return 0;
  context_ = PortContext{&engine_->calibratorPort(), &host};
  quarn_vport_ops ops{};
  ops.ctx = &context_;
  // Every call carries the library's tick, the only clock the engine knows; open carries none, so it
  // takes the host's.
  ops.open = [](void* ctx) {
    auto* c = static_cast<PortContext*>(ctx);
    return c->port->open(c->host->nowMs());
  };
  ops.close = [](void* ctx) { static_cast<PortContext*>(ctx)->port->close(); };
  ops.set_line = [](void* ctx, uint32_t baud, int parity, int stopBits) {
    static_cast<PortContext*>(ctx)->port->setLine(baud, parity, stopBits);
  };
  ops.write = [](void* ctx, const uint8_t* data, uint32_t n, uint32_t nowMs) {
    return static_cast<PortContext*>(ctx)->port->write(data, n, nowMs);
  };
  ops.available = [](void* ctx, uint32_t nowMs) {
    return static_cast<PortContext*>(ctx)->port->available(nowMs);
  };
  ops.read = [](void* ctx, uint8_t* buffer, uint32_t max, uint32_t nowMs) {
    return static_cast<PortContext*>(ctx)->port->read(buffer, max, nowMs);
  };
  ops.purge = [](void* ctx) { static_cast<PortContext*>(ctx)->port->purge(); };
  // The highest number nothing is mapped to, as a pseudo-terminal of quarn-sim would get.
  for (uint32_t n = QUARN_PORT_MAX; n >= 1; --n) {
    const char* path = host.library().portPath(n);
    if (path && *path) continue;
    if (registerVirtual(n, &ops) != 0) return 0;
    host_ = &host;
    portNo_ = n;
    return n;
  }
  return 0;
}

void InProcessSim::unplug() {
  if (host_ && portNo_ && host_->library().handle && host_->library().portUnregister)
    host_->library().portUnregister(portNo_);
  host_ = nullptr;
  portNo_ = 0;
}

}  // namespace cli
