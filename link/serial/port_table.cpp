// Open ports and their handles. Every operation on a device goes through the operations table of the
// port's kind (port_backend.h); this table keeps the handles, the transmit buffers and the order of
// the bytes.
#include "serial/port_table.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/port_map.h"
#include "platform/quarn_host.h"
#include "serial/port_backend.h"
#include "serial/serial_port.h"

namespace quarn::serial {
namespace {

struct Port {
  bool used;
  uint32_t generation;  // of the current opening; part of the handle
  int32_t portNo;
  const PortBackend* kind;
  void* device;       // the kind's state of this port
  uint64_t identity;  // of the device or peer (one opening at a time)
  uint8_t* tx;        // transmit buffer (malloc), txLen bytes waiting
  uint32_t txLen;
  uint32_t txCap;
};

// Plain static storage (see port_table.h).
Port g_ports[kMaxOpenPorts];
uint32_t g_nextGeneration = 1;

// Handle layout: generation in the upper 23 bits, slot + 1 in the lower 9 bits. Generations stay
// below 0x7FFFFF so no handle is ever all bits set; slot + 1 is never 0, so no handle is 0.
constexpr uint32_t kSlotBits = 9;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1u;
constexpr uint32_t kGenerationLimit = (1u << (32 - kSlotBits)) - 1u;
static_assert(kMaxOpenPorts <= kSlotMask, "slot index must fit the handle");

uint32_t makeHandle(uint32_t slot, uint32_t generation) { return (generation << kSlotBits) | (slot + 1u); }

Port* find(uint32_t h) {
  if (h == RS_HANDLE_NONE || h == RS_HANDLE_INVALID) return nullptr;
  const uint32_t slotPlusOne = h & kSlotMask;
  if (slotPlusOne == 0 || slotPlusOne > kMaxOpenPorts) return nullptr;
  Port& p = g_ports[slotPlusOne - 1];
  if (!p.used || p.generation != (h >> kSlotBits)) return nullptr;
  return &p;
}

// The table of a kind of port.
const PortBackend* kindOf(platform::PortKind kind) {
  switch (kind) {
    case platform::PortKind::kDevice:
#ifdef _WIN32
      return &kWin32Port;
#else
      return &kTermiosPort;
#endif
    case platform::PortKind::kVirtual:
      return &kVirtualPort;
    case platform::PortKind::kNone:
      break;
  }
  return nullptr;
}

// Moves waiting output on as far as the device takes it. False: the device is gone.
bool pump(Port& p) {
  uint32_t done = 0;
  bool ok = true;
  while (done < p.txLen) {
    const int32_t n = p.kind->write(p.device, p.tx + done, p.txLen - done);
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  if (done > 0) {
    std::memmove(p.tx, p.tx + done, p.txLen - done);
    p.txLen -= done;
  }
  return ok;
}

bool reserveTx(Port& p, uint32_t need) {
  if (need <= p.txCap) return true;
  uint32_t cap = p.txCap ? p.txCap : 256u;
  while (cap < need) cap *= 2u;
  auto* grown = static_cast<uint8_t*>(std::realloc(p.tx, cap));
  if (!grown) return false;
  p.tx = grown;
  p.txCap = cap;
  return true;
}

void release(Port& p) {
  p.kind->close(p.device);
  std::free(p.tx);
  p = Port{};
}

void discardBoth(Port& p) {
  p.kind->purge(p.device);
  p.txLen = 0;
}

// A device or a virtual peer is used by one opening at a time, as an exclusive open would give.
// A port whose peer has gone for good is dead and is released here.
bool inUse(const PortBackend* kind, uint64_t identity) {
  for (Port& p : g_ports) {
    if (!p.used) continue;
    if (p.kind->detached(p.device)) {
      release(p);
      continue;
    }
    if (p.kind == kind && p.identity == identity) return true;
  }
  return false;
}

}  // namespace

uint32_t openPort(int32_t portNo, const LineSettings& line) {
  if (portNo < RS_PORT_FIRST || portNo > RS_PORT_LAST) return RS_HANDLE_INVALID;
  platform::PortTarget target;
  if (!platform::resolvePort(static_cast<uint32_t>(portNo), &target)) return RS_HANDLE_INVALID;
  const PortBackend* kind = kindOf(target.kind);
  uint64_t identity = 0;
  if (!kind || !kind->identify(target, &identity) || inUse(kind, identity)) return RS_HANDLE_INVALID;
  uint32_t slot = 0;
  while (slot < kMaxOpenPorts && g_ports[slot].used) ++slot;
  if (slot == kMaxOpenPorts) return RS_HANDLE_INVALID;

  void* device = kind->open(slot, target, line);
  if (!device) return RS_HANDLE_INVALID;
  Port& p = g_ports[slot];
  p = Port{};
  p.used = true;
  p.generation = g_nextGeneration;
  p.portNo = portNo;
  p.kind = kind;
  p.device = device;
  p.identity = identity;
  g_nextGeneration = g_nextGeneration + 1 >= kGenerationLimit ? 1 : g_nextGeneration + 1;
  return makeHandle(slot, p.generation);
}

bool isOpen(uint32_t h) { return find(h) != nullptr; }

int32_t portNumber(uint32_t h) {
  const Port* p = find(h);
  return p ? p->portNo : 0;
}

bool poll(uint32_t h) {
  Port* p = find(h);
  return p && p->kind->alive(p->device) && pump(*p);
}

int32_t available(uint32_t h) {
  Port* p = find(h);
  return p ? p->kind->available(p->device) : -1;
}

int32_t read(uint32_t h, uint8_t* buf, uint32_t max) {
  Port* p = find(h);
  if (!p) return -1;
  if (max == 0) return 0;
  return p->kind->read(p->device, buf, max);
}

int write(uint32_t h, const uint8_t* bytes, uint32_t n) {
  Port* p = find(h);
  if (!p) return -1;
  if (n > kTxPendingMax - p->txLen) {
    if (!pump(*p)) return -1;
    if (n > kTxPendingMax - p->txLen) return 0;
  }
  if (!reserveTx(*p, p->txLen + n)) return 0;
  std::memcpy(p->tx + p->txLen, bytes, n);
  p->txLen += n;
  return pump(*p) ? 1 : -1;
}

int32_t receive(uint32_t h, uint8_t* buf, uint32_t max) {
  Port* p = find(h);
  if (!p) return -1;
  const PortBackend& kind = *p->kind;
  if (kind.transfersReportLoss && max > 0) return pump(*p) ? kind.read(p->device, buf, max) : -1;
  if (!kind.alive(p->device) || !pump(*p)) return -1;
  const int32_t waiting = kind.available(p->device);
  if (waiting <= 0 || max == 0) return waiting < 0 ? -1 : 0;
  return kind.read(p->device, buf,
                   static_cast<uint32_t>(waiting) < max ? static_cast<uint32_t>(waiting) : max);
}

int send(uint32_t h, const uint8_t* bytes, uint32_t n) {
  Port* p = find(h);
  if (!p) return -1;
  if (!p->kind->transfersReportLoss && !(p->kind->alive(p->device) && pump(*p))) return -1;
  return write(h, bytes, n);
}

uint32_t pendingTx(uint32_t h) {
  const Port* p = find(h);
  return p ? p->txLen : 0;
}

void drain(uint32_t h, uint32_t maxMs) {
  for (uint32_t waited = 0;; ++waited) {
    Port* p = find(h);
    if (!p || !pump(*p)) return;
    if (p->txLen == 0 && p->kind->queuedOutput(p->device) == 0) return;
    if (waited >= maxMs) return;
    quarn_sleep_ms(1);
  }
}

bool setLine(uint32_t h, const LineSettings& line) {
  Port* p = find(h);
  return p && p->kind->setLine(p->device, line);
}

void purge(uint32_t h) {
  if (Port* p = find(h)) discardBoth(*p);
}

void close(uint32_t h, bool discard) {
  Port* p = find(h);
  if (!p) return;
  if (discard) discardBoth(*p);
  release(*p);
}

void markLost(uint32_t h) {
  if (h == RS_HANDLE_NONE || h == RS_HANDLE_INVALID) return;
  for (TRS* rec : {&rs, &rsDorv}) {
    if (rec->hCom == h) rec->hCom = RS_HANDLE_INVALID;
    for (uint32_t& entry : rec->hPort)
      if (entry == h) entry = RS_HANDLE_INVALID;
  }
  if (Port* p = find(h)) release(*p);
}

void closeAll() {
  for (uint32_t slot = 0; slot < kMaxOpenPorts; ++slot)
    if (g_ports[slot].used) release(g_ports[slot]);
}

#ifdef _WIN32
bool requestedDcb(uint32_t h, _DCB* out) {
  Port* p = find(h);
  return p && out && p->kind->requestedDcb && p->kind->requestedDcb(p->device, out);
}
#else
bool requestedTermios(uint32_t h, termios* out) {
  Port* p = find(h);
  return p && out && p->kind->requestedTermios && p->kind->requestedTermios(p->device, out);
}
#endif

uint32_t openCount() {
  uint32_t n = 0;
  for (const Port& p : g_ports)
    if (p.used) ++n;
  return n;
}

}  // namespace quarn::serial
