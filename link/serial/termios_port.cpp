// Ports of the system: a serial device or a pseudo-terminal, opened non-blocking and exclusive, raw,
// 8 data bits, two stop bits, no flow control. (win32_port.cpp is the Windows table.)
#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "serial/port_backend.h"
#include "serial/port_table.h"
#include "serial/serial_port.h"

namespace quarn::serial {
namespace {

struct DevicePort {
  int fd;
  termios requested;  // the settings last applied
};

// Plain static storage, one entry per slot of the open-port table.
DevicePort g_ports[kMaxOpenPorts];

DevicePort& of(void* port) { return *static_cast<DevicePort*>(port); }

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

// Raw, 8 data bits, two stop bits, no flow control; the given speed and parity. Bytes with a parity
// error are delivered as received (no checking that would replace them). A read asks for at least one
// byte (VMIN 1, no inter-byte timer) on a descriptor that never blocks: an empty input queue answers
// EAGAIN, so a read that returns 0 can only come from a device that hung up (an adapter unplugged, the
// other side of a pseudo-terminal closed). With VMIN 0 both would read as 0 and every read would need
// an error query before it.
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
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return cfsetispeed(&t, speed) == 0 && cfsetospeed(&t, speed) == 0;
}

bool goneErrno(int err) { return err != EAGAIN && err != EWOULDBLOCK && err != EINTR; }

bool identify(const platform::PortTarget& target, uint64_t* identity) {
  struct stat st {};
  if (stat(target.path, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  *identity = static_cast<uint64_t>(st.st_rdev);
  return true;
}

void* open(uint32_t slot, const platform::PortTarget& target, const LineSettings& line) {
  if (slot >= kMaxOpenPorts || speedOf(line.baud) == B0) return nullptr;
  const int fd = ::open(target.path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  termios t{};
  const bool ok = isatty(fd) && ioctl(fd, TIOCEXCL) == 0 && tcgetattr(fd, &t) == 0 && applyLine(t, line) &&
                  tcsetattr(fd, TCSANOW, &t) == 0 && tcflush(fd, TCIOFLUSH) == 0;
  if (!ok) {
    ::close(fd);
    return nullptr;
  }
  g_ports[slot] = DevicePort{fd, t};
  return &g_ports[slot];
}

bool detached(void*) { return false; }

bool alive(void* port) {
  pollfd pfd{of(port).fd, 0, 0};
  if (::poll(&pfd, 1, 0) < 0) return errno == EINTR;
  return (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

// A hung-up or vanished terminal refuses every write with EIO, so the write tells a gone device by
// itself.
int32_t write(void* port, const uint8_t* bytes, uint32_t n) {
  const ssize_t taken = ::write(of(port).fd, bytes, n);
  if (taken >= 0) return static_cast<int32_t>(taken);
  return goneErrno(errno) ? -1 : 0;
}

int32_t available(void* port) {
  int n = 0;
  if (ioctl(of(port).fd, FIONREAD, &n) != 0) return -1;
  return n < 0 ? 0 : n;
}

// One system call: the bytes, 0 for an empty queue (EAGAIN), -1 for a device that hung up (0 from
// read, see applyLine) or failed (EIO and the like).
int32_t read(void* port, uint8_t* buf, uint32_t max) {
  const ssize_t n = ::read(of(port).fd, buf, max);
  if (n < 0) return goneErrno(errno) ? -1 : 0;
  if (n == 0) return -1;
  return static_cast<int32_t>(n);
}

uint32_t queuedOutput(void* port) {
  int queued = 0;
  if (ioctl(of(port).fd, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
  return static_cast<uint32_t>(queued);
}

bool setLine(void* port, const LineSettings& line) {
  DevicePort& p = of(port);
  termios t{};
  if (tcgetattr(p.fd, &t) != 0) return false;
  const speed_t speed = speedOf(line.baud);
  if (speed == B0) return false;
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
  if (line.parity == RS_PARITY_ODD) t.c_cflag |= PARENB | PARODD;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
  if (tcsetattr(p.fd, TCSANOW, &t) != 0) return false;
  p.requested = t;
  return true;
}

void purge(void* port) { tcflush(of(port).fd, TCIOFLUSH); }

void close(void* port) {
  DevicePort& p = of(port);
  if (p.fd >= 0) ::close(p.fd);
  p.fd = -1;
}

bool requestedTermios(void* port, termios* out) {
  *out = of(port).requested;
  return true;
}

}  // namespace

const PortBackend kTermiosPort{
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
    .requestedTermios = requestedTermios,
    .transfersReportLoss = true,
};

}  // namespace quarn::serial

#endif  // _WIN32
