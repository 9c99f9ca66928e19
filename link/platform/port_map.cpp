// The port map: registrations of hosts, the fixed numbering of the system's serial devices, and the
// presence list the menus show (port_map.h has the rule).
#include "platform/port_map.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/quarn_host.h"

namespace quarn::platform {
namespace {

#ifdef _WIN32

// COM1..COM9 by their plain names, COM10 and above in the device namespace ("\\.\COM10"), which
// the plain name does not reach. Every number 1..253 is a possible COM port.
void systemDevicePath(uint32_t portNo, char* buf, uint32_t size) {
  if (portNo < 1 || portNo > QUARN_PORT_MAX) return;
  std::snprintf(buf, size, portNo < 10 ? "COM%u" : "\\\\.\\COM%u", portNo);
}

// For the menus only: a COM name the system knows, or one that opens (or is busy: another program
// has it). Opening is the fallback for systems that keep COM ports outside the DOS device list.
bool devicePresent(uint32_t n) {
  char name[kPortPathMax];
  standardDevicePath(n, name, sizeof name);
  if (!*name) return false;
  char target[512];
  char plain[16];
  std::snprintf(plain, sizeof plain, "COM%u", n);
  if (QueryDosDeviceA(plain, target, sizeof target) != 0) return true;
  const HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return true;
  }
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY;
}

// Opening a COM port touches the device (its modem lines), so a number is not tried before it is
// opened for real; a port that is not there fails that open.
bool presentForOpening(uint32_t) { return true; }

#else

struct DeviceFamily {
  const char* prefix;  // "/dev/ttyS"
  const char* name;    // "ttyS"
  uint32_t first;      // number of index 0
  uint32_t count;
};

constexpr DeviceFamily kFamilies[] = {
    {"/dev/ttyS", "ttyS", 1, 32},
    {"/dev/ttyUSB", "ttyUSB", 33, 32},
    {"/dev/ttyACM", "ttyACM", 65, 32},
};

void systemDevicePath(uint32_t portNo, char* buf, uint32_t size) {
  for (const auto& family : kFamilies) {
    if (portNo >= family.first && portNo < family.first + family.count) {
      std::snprintf(buf, size, "%s%u", family.prefix, portNo - family.first);
      break;
    }
  }
}

bool isCharDevice(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISCHR(st.st_mode);
}

// A ttyS node exists for every possible UART; the kernel reports type 0 for those without hardware.
bool uartKnownOrUnreported(const char* name) {
  char sysPath[kPortPathMax + 32];
  std::snprintf(sysPath, sizeof sysPath, "/sys/class/tty/%s/type", name);
  const int fd = open(sysPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char text[16] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return true;
  return std::strtol(text, nullptr, 10) != 0;
}

bool devicePresent(uint32_t n) {
  char path[kPortPathMax];
  if (!*standardDevicePath(n, path, sizeof path)) return false;
  if (!isCharDevice(path)) return false;
  if (n <= kFamilies[0].count) return uartKnownOrUnreported(path + 5);  // past "/dev/"
  return true;
}

// Checked live, so a device plugged in after the last rescan is found by a search.
bool presentForOpening(uint32_t n) { return devicePresent(n); }

#endif

struct Registration {
  PortKind kind;
  char path[kPortPathMax];
  quarn_vport_ops ops;
  uint32_t serial;  // changes with every (un)registration of the number
};

// Index = port number; entry 0 unused. Plain data: no constructors or destructors run.
Registration g_reg[QUARN_PORT_MAX + 1];
uint32_t g_regSerial = 0;
// Presence of the fixed devices after the last rescan, and the texts quarn_port_path hands out.
bool g_present[QUARN_PORT_MAX + 1];
char g_pathText[QUARN_PORT_MAX + 1][kPortPathMax];
bool g_scanned = false;

bool validNumber(uint32_t n) { return n >= 1 && n <= QUARN_PORT_MAX; }

void refreshPathText(uint32_t n) {
  char* text = g_pathText[n];
  switch (g_reg[n].kind) {
    case PortKind::kVirtual:
      std::snprintf(text, kPortPathMax, "virtual:%u", n);
      return;
    case PortKind::kDevice:
      std::snprintf(text, kPortPathMax, "%s", g_reg[n].path);
      return;
    case PortKind::kNone:
      break;
  }
  if (g_present[n])
    standardDevicePath(n, text, kPortPathMax);
  else
    text[0] = '\0';
}

int rescan() {
  int mapped = 0;
  for (uint32_t n = 1; n <= QUARN_PORT_MAX; ++n) {
    g_present[n] = devicePresent(n);
    refreshPathText(n);
    if (g_pathText[n][0]) ++mapped;
  }
  g_scanned = true;
  return mapped;
}

void ensureScanned() {
  if (!g_scanned) rescan();
}

// Detaches a number's registration; every port opened through it notices (virtualStillRegistered).
void clearRegistration(uint32_t n) {
  g_reg[n].kind = PortKind::kNone;
  g_reg[n].path[0] = '\0';
  g_reg[n].ops = quarn_vport_ops{};
  g_reg[n].serial = ++g_regSerial;
}

}  // namespace

const char* standardDevicePath(uint32_t portNo, char* buf, uint32_t size) {
  if (!buf || size == 0) return "";
  buf[0] = '\0';
  systemDevicePath(portNo, buf, size);
  return buf;
}

bool resolvePort(uint32_t portNo, PortTarget* out) {
  if (!out) return false;
  *out = PortTarget{};
  if (!validNumber(portNo)) return false;
  out->portNo = portNo;
  const Registration& reg = g_reg[portNo];
  if (reg.kind == PortKind::kVirtual) {
    out->kind = PortKind::kVirtual;
    out->ops = reg.ops;
    out->registration = reg.serial;
    return true;
  }
  if (reg.kind == PortKind::kDevice) {
    out->kind = PortKind::kDevice;
    std::snprintf(out->path, sizeof out->path, "%s", reg.path);
    return true;
  }
  if (!presentForOpening(portNo)) return false;
  out->kind = PortKind::kDevice;
  standardDevicePath(portNo, out->path, sizeof out->path);
  return true;
}

bool virtualStillRegistered(uint32_t portNo, uint32_t registration) {
  return validNumber(portNo) && g_reg[portNo].kind == PortKind::kVirtual &&
         g_reg[portNo].serial == registration;
}

}  // namespace quarn::platform

using namespace quarn::platform;

extern "C" {

QUARN_API int quarn_port_register_path(uint32_t port_no, const char* path) {
  if (!validNumber(port_no) || !path || !*path || std::strlen(path) >= kPortPathMax) return -1;
  ensureScanned();
  clearRegistration(port_no);
  g_reg[port_no].kind = PortKind::kDevice;
  std::snprintf(g_reg[port_no].path, kPortPathMax, "%s", path);
  refreshPathText(port_no);
  return 0;
}

QUARN_API int quarn_port_register_virtual(uint32_t port_no, const quarn_vport_ops* ops) {
  if (!validNumber(port_no) || !ops) return -1;
  ensureScanned();
  clearRegistration(port_no);
  g_reg[port_no].kind = PortKind::kVirtual;
  g_reg[port_no].ops = *ops;
  refreshPathText(port_no);
  return 0;
}

QUARN_API void quarn_port_unregister(uint32_t port_no) {
  if (!validNumber(port_no)) return;
  ensureScanned();
  clearRegistration(port_no);
  refreshPathText(port_no);
}

QUARN_API int quarn_port_rescan(void) { return rescan(); }

QUARN_API const char* quarn_port_path(uint32_t port_no) {
  if (!validNumber(port_no)) return "";
  ensureScanned();
  return g_pathText[port_no];
}

QUARN_API uint32_t quarn_port_number(const char* path) {
  if (!path || !*path) return 0;
  ensureScanned();
  for (uint32_t n = 1; n <= QUARN_PORT_MAX; ++n)
    if (g_pathText[n][0] && std::strcmp(g_pathText[n], path) == 0) return n;
  return 0;
}

}  // extern "C"
