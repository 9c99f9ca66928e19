// Virtual ports: an in-process peer a host registered for a port number (quarn_vport_ops), reached
// for as long as that registration stays in place. A peer that was unregistered is never called
// again: its port counts as gone.
#include "platform/port_map.h"
#include "platform/quarn_host.h"
#include "serial/port_backend.h"
#include "serial/port_table.h"

namespace quarn::serial {
namespace {

struct VirtualPort {
  quarn_vport_ops ops;
  uint32_t portNo;
  uint32_t registration;
};

// Plain static storage, one entry per slot of the open-port table.
VirtualPort g_ports[kMaxOpenPorts];

VirtualPort& of(void* port) { return *static_cast<VirtualPort*>(port); }

bool registered(const VirtualPort& p) { return platform::virtualStillRegistered(p.portNo, p.registration); }

// The peer runs on the stop bits the library's line settings always use.
constexpr int kStopBits = 2;

bool identify(const platform::PortTarget& target, uint64_t* identity) {
  *identity = target.registration;
  return true;
}

void* open(uint32_t slot, const platform::PortTarget& target, const LineSettings& line) {
  if (slot >= kMaxOpenPorts) return nullptr;
  const quarn_vport_ops& ops = target.ops;
  if (ops.open && ops.open(ops.ctx) != 0) return nullptr;
  if (ops.set_line) ops.set_line(ops.ctx, line.baud, line.parity, kStopBits);
  if (ops.purge) ops.purge(ops.ctx);
  g_ports[slot] = VirtualPort{ops, target.portNo, target.registration};
  return &g_ports[slot];
}

bool detached(void* port) { return !registered(of(port)); }

bool alive(void* port) {
  const VirtualPort& p = of(port);
  if (!registered(p)) return false;
  return !p.ops.available || p.ops.available(p.ops.ctx, quarn_now_ms()) >= 0;
}

int32_t write(void* port, const uint8_t* bytes, uint32_t n) {
  const VirtualPort& p = of(port);
  if (!registered(p) || !p.ops.write) return -1;
  const int taken = p.ops.write(p.ops.ctx, bytes, n, quarn_now_ms());
  if (taken < 0) return -1;
  return static_cast<uint32_t>(taken) > n ? static_cast<int32_t>(n) : taken;
}

int32_t available(void* port) {
  const VirtualPort& p = of(port);
  if (!registered(p)) return -1;
  if (!p.ops.available) return 0;
  const int n = p.ops.available(p.ops.ctx, quarn_now_ms());
  return n < 0 ? -1 : n;
}

int32_t read(void* port, uint8_t* buf, uint32_t max) {
  const VirtualPort& p = of(port);
  if (!registered(p)) return -1;
  if (!p.ops.read) return 0;
  const int n = p.ops.read(p.ops.ctx, buf, max, quarn_now_ms());
  if (n < 0) return -1;
  return static_cast<uint32_t>(n) > max ? static_cast<int32_t>(max) : n;
}

uint32_t queuedOutput(void*) { return 0; }

bool setLine(void* port, const LineSettings& line) {
  const VirtualPort& p = of(port);
  if (!registered(p)) return false;
  if (p.ops.set_line) p.ops.set_line(p.ops.ctx, line.baud, line.parity, kStopBits);
  return true;
}

void purge(void* port) {
  const VirtualPort& p = of(port);
  if (registered(p) && p.ops.purge) p.ops.purge(p.ops.ctx);
}

void close(void* port) {
  const VirtualPort& p = of(port);
  if (registered(p) && p.ops.close) p.ops.close(p.ops.ctx);
}

}  // namespace

const PortBackend kVirtualPort{
    .identify = identify,
    .open = open,
    .detached = detached,
    .alive = alive,
    .write = write,
    .available = available,
    .read = read,
    .queuedOutput = queuedOutput,
    .setLine = setLine,
    .purge = purge,
    .close = close,
};

}  // namespace quarn::serial
