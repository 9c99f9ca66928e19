// Plugs a port of the in-process simulator into the library as a virtual port, so tests run the
// library against the simulated bench in virtual time: every call of the library carries its own
// clock value, which is the only clock the simulator knows.
//
//   quarnsim::Engine bench(scenario);
//   quarn::test::SimVport port(7, bench.calibratorPort());   // port 7 is now the calibrator
//   quarn::test::SimVport dorv(9, bench.dorvPort());         // the Dorv transducer's own port
//
// The registration ends with the SimVport object. Faults and bench state are reached through the
// Engine (setConnected, addFault, pressureKPa, transmitter(...)).
#pragma once

#include <cstdint>

#include "platform/quarn_host.h"
#include "quarnsim/engine.h"
#include "quarnsim/line_port.h"

namespace quarn::test {

// The operations table for one simulator port (the port must outlive the registration).
inline quarn_vport_ops simVportOps(quarnsim::LinePort& port) {
  quarn_vport_ops ops{};
  ops.ctx = &port;
  ops.open = [](void* ctx) {
    // open carries no clock value of its own: take the library's.
    return static_cast<quarnsim::LinePort*>(ctx)->open(quarn_now_ms());
  };
  ops.close = [](void* ctx) { static_cast<quarnsim::LinePort*>(ctx)->close(); };
  ops.set_line = [](void* ctx, uint32_t baud, int parity, int stopBits) {
    static_cast<quarnsim::LinePort*>(ctx)->setLine(baud, parity, stopBits);
  };
  ops.write = [](void* ctx, const uint8_t* data, uint32_t n, uint32_t nowMs) {
    return static_cast<quarnsim::LinePort*>(ctx)->write(data, n, nowMs);
  };
  ops.available = [](void* ctx, uint32_t nowMs) {
    return static_cast<quarnsim::LinePort*>(ctx)->available(nowMs);
  };
  ops.read = [](void* ctx, uint8_t* buffer, uint32_t max, uint32_t nowMs) {
    return static_cast<quarnsim::LinePort*>(ctx)->read(buffer, max, nowMs);
  };
  ops.purge = [](void* ctx) { static_cast<quarnsim::LinePort*>(ctx)->purge(); };
  return ops;
}

// Registers a simulator port under a port number for the lifetime of the object.
class SimVport {
 public:
  SimVport(uint32_t portNo, quarnsim::LinePort& port) : portNo_(portNo) {
    const quarn_vport_ops ops = simVportOps(port);
    registered_ = quarn_port_register_virtual(portNo, &ops) == 0;
  }
  ~SimVport() {
    if (registered_) quarn_port_unregister(portNo_);
  }
  SimVport(const SimVport&) = delete;
  SimVport& operator=(const SimVport&) = delete;

  bool registered() const { return registered_; }
  uint32_t portNo() const { return portNo_; }

 private:
  uint32_t portNo_;
  bool registered_ = false;
};

}  // namespace quarn::test
