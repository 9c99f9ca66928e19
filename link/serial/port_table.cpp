// Open ports, their handles and their two backends (termios device, virtual port).
#include "serial/port_table.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/port_map.h"
#include "platform/quarn_host.h"
#include "serial/serial_port.h"

namespace quarn::serial {
namespace {

using platform::PortKind;

struct Port {
  bool used;
  uint32_t generation;  // of the current opening; part of the handle
  int32_t portNo;
  PortKind kind;
  int fd;                 // kDevice
  dev_t device;           // kDevice: the device node, used by one opening at a time
  termios requested;      // kDevice: the settings last applied
  quarn_vport_ops ops;    // kVirtual
  uint32_t registration;  // kVirtual
  uint8_t* tx;            // transmit buffer (malloc), txLen bytes waiting
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

bool virtualUsable(const Port& p) {
  return p.kind == PortKind::kVirtual && platform::virtualStillRegistered(p.portNo, p.registration);
}

speed_t speedOf(uint32_t baud) {
  switch (baud) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

// Raw, 8 data bits, two stop bits, no flow control, reads never wait; the given speed and parity.
// Bytes with a parity error are delivered as received (no checking that would replace them).
bool applyLine(termios& t, const LineSettings& line) {
  const speed_t speed = speedOf(line.baud);
  if (speed == B0) return false;
  cfmakeraw(&t);
  t.c_iflag &=
      ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP | IGNBRK | BRKINT);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CRTSCTS | HUPCL);
  t.c_cflag |= CS8 | CSTOPB | CREAD | CLOCAL;
  if (line.parity == RS_PARITY_ODD) t.c_cflag |= PARENB | PARODD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return cfsetispeed(&t, speed) == 0 && cfsetospeed(&t, speed) == 0;
}

bool fdGone(int fd) {
  pollfd pfd{fd, 0, 0};
  if (::poll(&pfd, 1, 0) < 0) return errno != EINTR;
  return (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool goneErrno(int err) { return err != EAGAIN && err != EWOULDBLOCK && err != EINTR; }

// Moves waiting output on as far as the device takes it. False: the device is gone.
bool pump(Port& p) {
  uint32_t done = 0;
  bool ok = true;
  while (done < p.txLen) {
    if (p.kind == PortKind::kDevice) {
      const ssize_t n = ::write(p.fd, p.tx + done, p.txLen - done);
      if (n > 0) {
        done += static_cast<uint32_t>(n);
        continue;
      }
      if (n < 0 && goneErrno(errno)) ok = false;
      break;
    }
    if (!virtualUsable(p) || !p.ops.write) {
      ok = false;
      break;
    }
    const int n = p.ops.write(p.ops.ctx, p.tx + done, p.txLen - done, quarn_now_ms());
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n) > p.txLen - done ? p.txLen - done : static_cast<uint32_t>(n);
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
  if (p.kind == PortKind::kDevice) {
    if (p.fd >= 0) ::close(p.fd);
  } else if (p.kind == PortKind::kVirtual && virtualUsable(p) && p.ops.close) {
    p.ops.close(p.ops.ctx);
  }
  std::free(p.tx);
  p = Port{};
  p.fd = -1;
}

void discardBoth(Port& p) {
  if (p.kind == PortKind::kDevice)
    tcflush(p.fd, TCIOFLUSH);
  else if (virtualUsable(p) && p.ops.purge)
    p.ops.purge(p.ops.ctx);
  p.txLen = 0;
}

// A device or a virtual peer is used by one opening at a time, as an exclusive open would give.
// A port whose virtual peer has been unregistered is dead and is released here.
bool inUse(const platform::PortTarget& target, dev_t device) {
  for (Port& p : g_ports) {
    if (!p.used) continue;
    if (p.kind == PortKind::kVirtual && !virtualUsable(p)) {
      release(p);
      continue;
    }
    if (target.kind == PortKind::kDevice && p.kind == PortKind::kDevice && p.device == device) return true;
    if (target.kind == PortKind::kVirtual && p.kind == PortKind::kVirtual &&
        p.registration == target.registration)
      return true;
  }
  return false;
}

int openDevice(const char* path, const LineSettings& line, termios* applied) {
  const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  const bool ok = isatty(fd) && ioctl(fd, TIOCEXCL) == 0 && tcgetattr(fd, &t) == 0 && applyLine(t, line) &&
                  tcsetattr(fd, TCSANOW, &t) == 0 && tcflush(fd, TCIOFLUSH) == 0;
  if (!ok) {
    ::close(fd);
    return -1;
  }
  *applied = t;
  return fd;
}

}  // namespace

uint32_t openPort(int32_t portNo, const LineSettings& line) {
  if (portNo < RS_PORT_FIRST || portNo > RS_PORT_LAST) return RS_HANDLE_INVALID;
  platform::PortTarget target;
  if (!platform::resolvePort(static_cast<uint32_t>(portNo), &target)) return RS_HANDLE_INVALID;
  struct stat st {};
  if (target.kind == PortKind::kDevice && (stat(target.path, &st) != 0 || !S_ISCHR(st.st_mode)))
    return RS_HANDLE_INVALID;
  if (inUse(target, st.st_rdev)) return RS_HANDLE_INVALID;
  uint32_t slot = 0;
  while (slot < kMaxOpenPorts && g_ports[slot].used) ++slot;
  if (slot == kMaxOpenPorts) return RS_HANDLE_INVALID;

  Port p{};
  p.fd = -1;
  p.portNo = portNo;
  p.kind = target.kind;
  if (target.kind == PortKind::kDevice) {
    if (speedOf(line.baud) == B0) return RS_HANDLE_INVALID;
    p.fd = openDevice(target.path, line, &p.requested);
    if (p.fd < 0) return RS_HANDLE_INVALID;
    p.device = st.st_rdev;
  } else {
    p.ops = target.ops;
    p.registration = target.registration;
    if (p.ops.open && p.ops.open(p.ops.ctx) != 0) return RS_HANDLE_INVALID;
    if (p.ops.set_line) p.ops.set_line(p.ops.ctx, line.baud, line.parity, 2);
    if (p.ops.purge) p.ops.purge(p.ops.ctx);
  }
  p.used = true;
  p.generation = g_nextGeneration;
  g_nextGeneration = g_nextGeneration + 1 >= kGenerationLimit ? 1 : g_nextGeneration + 1;
  g_ports[slot] = p;
  return makeHandle(slot, p.generation);
}

bool isOpen(uint32_t h) { return find(h) != nullptr; }

int32_t portNumber(uint32_t h) {
  const Port* p = find(h);
  return p ? p->portNo : 0;
}

bool poll(uint32_t h) {
  Port* p = find(h);
  if (!p) return false;
  if (p->kind == PortKind::kDevice) {
    if (fdGone(p->fd)) return false;
  } else {
    if (!virtualUsable(*p)) return false;
    if (p->ops.available && p->ops.available(p->ops.ctx, quarn_now_ms()) < 0) return false;
  }
  return pump(*p);
}

int32_t available(uint32_t h) {
  Port* p = find(h);
  if (!p) return -1;
  if (p->kind == PortKind::kDevice) {
    int n = 0;
    if (ioctl(p->fd, FIONREAD, &n) != 0) return -1;
    return n < 0 ? 0 : n;
  }
  if (!virtualUsable(*p)) return -1;
  if (!p->ops.available) return 0;
  const int n = p->ops.available(p->ops.ctx, quarn_now_ms());
  return n < 0 ? -1 : n;
}

int32_t read(uint32_t h, uint8_t* buf, uint32_t max) {
  Port* p = find(h);
  if (!p) return -1;
  if (max == 0) return 0;
  if (p->kind == PortKind::kDevice) {
    const ssize_t n = ::read(p->fd, buf, max);
    if (n < 0) return goneErrno(errno) ? -1 : 0;
    return static_cast<int32_t>(n);
  }
  if (!virtualUsable(*p)) return -1;
  if (!p->ops.read) return 0;
  const int n = p->ops.read(p->ops.ctx, buf, max, quarn_now_ms());
  if (n < 0) return -1;
  return static_cast<uint32_t>(n) > max ? static_cast<int32_t>(max) : n;
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

uint32_t pendingTx(uint32_t h) {
  const Port* p = find(h);
  return p ? p->txLen : 0;
}

void drain(uint32_t h, uint32_t maxMs) {
  for (uint32_t waited = 0;; ++waited) {
    Port* p = find(h);
    if (!p || !pump(*p)) return;
    int queued = 0;
    if (p->kind == PortKind::kDevice && ioctl(p->fd, TIOCOUTQ, &queued) != 0) queued = 0;
    if (p->txLen == 0 && queued <= 0) return;
    if (waited >= maxMs) return;
    quarn_sleep_ms(1);
  }
}

bool setLine(uint32_t h, const LineSettings& line) {
  Port* p = find(h);
  if (!p) return false;
  if (p->kind == PortKind::kVirtual) {
    if (!virtualUsable(*p)) return false;
    if (p->ops.set_line) p->ops.set_line(p->ops.ctx, line.baud, line.parity, 2);
    return true;
  }
  termios t{};
  if (tcgetattr(p->fd, &t) != 0) return false;
  const speed_t speed = speedOf(line.baud);
  if (speed == B0) return false;
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
  if (line.parity == RS_PARITY_ODD) t.c_cflag |= PARENB | PARODD;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
  if (tcsetattr(p->fd, TCSANOW, &t) != 0) return false;
  p->requested = t;
  return true;
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

bool requestedTermios(uint32_t h, termios* out) {
  const Port* p = find(h);
  if (!p || p->kind != PortKind::kDevice || !out) return false;
  *out = p->requested;
  return true;
}

uint32_t openCount() {
  uint32_t n = 0;
  for (const Port& p : g_ports)
    if (p.used) ++n;
  return n;
}

}  // namespace quarn::serial
