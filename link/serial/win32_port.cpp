// Ports of the system on Windows: a COM port opened for overlapped I/O and not shared, 8 data bits,
// two stop bits, no flow control, the requested speed and parity. (termios_port.cpp is the POSIX
// table.)
//
// Nothing blocks. A read takes what waits in the driver's input queue: ClearCommError tells how
// much, and with ReadIntervalTimeout = MAXDWORD (the other read time-outs 0) a read returns at once
// with what there is, even from a driver whose count was a moment old. A write copies its bytes
// into the port's own buffer and starts one overlapped write of them; while that write is in flight
// the port takes nothing more, so the open-port table keeps the later bytes and moves them on at a
// later call, in order. Write time-outs are 0: a write ends when the driver has sent it.
//
// ClearCommError is the error query before every transfer: it fails once the device is gone (a USB
// adapter pulled out; under Wine, the terminal the COM name is linked to closed), and the port is
// then lost.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "serial/port_backend.h"
#include "serial/port_table.h"
#include "serial/serial_port.h"

namespace quarn::serial {
namespace {

// Bytes one overlapped write takes at most.
constexpr uint32_t kWriteChunk = 4096;
// Sizes of the driver's queues, asked for at open.
constexpr DWORD kQueueBytes = 2000;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

struct ComPort {
  HANDLE handle;
  HANDLE readEvent;
  HANDLE writeEvent;
  OVERLAPPED write;  // of the write in flight
  bool writing;
  uint32_t writeLen;
  uint8_t* writeBuf;  // kWriteChunk bytes (malloc): the bytes of the write in flight
  DCB requested;      // the line state last applied
};

// Plain static storage, one entry per slot of the open-port table.
ComPort g_ports[kMaxOpenPorts];

ComPort& of(void* port) { return *static_cast<ComPort*>(port); }

// The speeds a COM port is asked for (as the POSIX table knows them).
bool knownBaud(uint32_t baud) {
  switch (baud) {
    case 300:
    case 600:
    case 1200:
    case 2400:
    case 4800:
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200:
      return true;
    default:
      return false;
  }
}

void setSpeedAndParity(DCB& dcb, const LineSettings& line) {
  dcb.BaudRate = line.baud;
  dcb.Parity = line.parity == RS_PARITY_ODD ? ODDPARITY : NOPARITY;
}

// Binary, 8 data bits, two stop bits, no hardware or software flow control, DTR and RTS off, no
// abort on errors, NUL bytes kept. Parity checking is on for a port opened without parity and off
// for one opened with it, so a byte with a parity error is delivered as received either way (no
// error character replaces it). Other flags stay as the driver reports them.
void applyLine(DCB& dcb, const LineSettings& line) {
  setSpeedAndParity(dcb, line);
  dcb.ByteSize = 8;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fBinary = TRUE;
  dcb.fParity = line.parity == RS_PARITY_ODD ? FALSE : TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = FALSE;
}

// "COM5", "com5" and "\\.\COM5" are one device: the name without the namespace prefix, upper case,
// hashed (FNV-1a).
uint64_t nameIdentity(const char* path) {
  if (std::strncmp(path, "\\\\.\\", 4) == 0) path += 4;
  uint64_t hash = 1469598103934665603ull;
  for (const char* c = path; *c; ++c) {
    hash ^= static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(*c)));
    hash *= 1099511628211ull;
  }
  return hash;
}

// Ends the write in flight when the driver has finished it; `waitForIt` cancels it first and waits
// for the cancel. False when it is still in flight. A write that failed (other than by a cancel or
// a purge) sets *failed.
bool collectWrite(ComPort& p, bool waitForIt, bool* failed) {
  if (!p.writing) return true;
  if (waitForIt) CancelIoEx(p.handle, &p.write);
  DWORD done = 0;
  if (!GetOverlappedResult(p.handle, &p.write, &done, waitForIt ? TRUE : FALSE)) {
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return false;
    if (error != ERROR_OPERATION_ABORTED && failed) *failed = true;
  }
  p.writing = false;
  p.writeLen = 0;
  return true;
}

bool identify(const platform::PortTarget& target, uint64_t* identity) {
  if (!target.path[0]) return false;
  *identity = nameIdentity(target.path);
  return true;
}

void release(ComPort& p) {
  if (p.writing) collectWrite(p, true, nullptr);
  if (p.handle != INVALID_HANDLE_VALUE && p.handle != nullptr) CloseHandle(p.handle);
  if (p.readEvent) CloseHandle(p.readEvent);
  if (p.writeEvent) CloseHandle(p.writeEvent);
  std::free(p.writeBuf);
  p = ComPort{};
  p.handle = INVALID_HANDLE_VALUE;
}

void* open(uint32_t slot, const platform::PortTarget& target, const LineSettings& line) {
  if (slot >= kMaxOpenPorts || !knownBaud(line.baud)) return nullptr;
  // Read and write, not shared, an existing device only, overlapped transfers.
  const HANDLE h = CreateFileA(target.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  ComPort& p = g_ports[slot];
  p = ComPort{};
  p.handle = h;
  p.readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  p.writeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  p.writeBuf = static_cast<uint8_t*>(std::malloc(kWriteChunk));

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  DWORD errors = 0;
  bool ok = p.readEvent && p.writeEvent && p.writeBuf && SetupComm(h, kQueueBytes, kQueueBytes) &&
            GetCommState(h, &dcb);
  if (ok) {
    applyLine(dcb, line);
    ok = SetCommState(h, &dcb) && ClearCommError(h, &errors, nullptr) && PurgeComm(h, kPurgeAll) &&
         SetCommTimeouts(h, &timeouts) && SetCommMask(h, EV_RXCHAR | EV_RXFLAG);
  }
  if (!ok) {
    release(p);
    return nullptr;
  }
  p.requested = dcb;
  return &p;
}

bool detached(void*) { return false; }

bool alive(void* port) {
  ComPort& p = of(port);
  bool failed = false;
  collectWrite(p, false, &failed);
  DWORD errors = 0;
  COMSTAT status{};
  return !failed && ClearCommError(p.handle, &errors, &status);
}

int32_t write(void* port, const uint8_t* bytes, uint32_t n) {
  ComPort& p = of(port);
  bool failed = false;
  if (!collectWrite(p, false, &failed)) return 0;
  if (failed) return -1;
  const uint32_t take = n < kWriteChunk ? n : kWriteChunk;
  std::memcpy(p.writeBuf, bytes, take);
  p.write = OVERLAPPED{};
  p.write.hEvent = p.writeEvent;
  ResetEvent(p.writeEvent);
  DWORD written = 0;
  if (WriteFile(p.handle, p.writeBuf, take, &written, &p.write)) return static_cast<int32_t>(take);
  if (GetLastError() != ERROR_IO_PENDING) return -1;
  p.writing = true;
  p.writeLen = take;
  return static_cast<int32_t>(take);
}

int32_t available(void* port) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(of(port).handle, &errors, &status)) return -1;
  return status.cbInQue > INT32_MAX ? INT32_MAX : static_cast<int32_t>(status.cbInQue);
}

int32_t read(void* port, uint8_t* buf, uint32_t max) {
  ComPort& p = of(port);
  OVERLAPPED ov{};
  ov.hEvent = p.readEvent;
  ResetEvent(p.readEvent);
  DWORD got = 0;
  if (ReadFile(p.handle, buf, max, &got, &ov)) return static_cast<int32_t>(got);
  if (GetLastError() != ERROR_IO_PENDING) return -1;
  // A driver that keeps the read pending all the same: it ends with what it has when cancelled.
  // `buf` is the caller's, so the read is over before this returns.
  if (!GetOverlappedResult(p.handle, &ov, &got, FALSE)) {
    if (GetLastError() != ERROR_IO_INCOMPLETE) return -1;
    CancelIoEx(p.handle, &ov);
    if (!GetOverlappedResult(p.handle, &ov, &got, TRUE) && GetLastError() != ERROR_OPERATION_ABORTED)
      return -1;
  }
  return static_cast<int32_t>(got);
}

uint32_t queuedOutput(void* port) {
  ComPort& p = of(port);
  collectWrite(p, false, nullptr);
  DWORD errors = 0;
  COMSTAT status{};
  const uint32_t inDriver = ClearCommError(p.handle, &errors, &status) ? status.cbOutQue : 0;
  return p.writeLen + inDriver;
}

bool setLine(void* port, const LineSettings& line) {
  ComPort& p = of(port);
  if (!knownBaud(line.baud)) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(p.handle, &dcb)) return false;
  setSpeedAndParity(dcb, line);
  if (!SetCommState(p.handle, &dcb)) return false;
  setSpeedAndParity(p.requested, line);
  return true;
}

void purge(void* port) {
  ComPort& p = of(port);
  // The write in flight is part of what is discarded.
  if (p.writing) collectWrite(p, true, nullptr);
  PurgeComm(p.handle, kPurgeAll);
}

void close(void* port) { release(of(port)); }

bool requestedDcb(void* port, DCB* out) {
  *out = of(port).requested;
  return true;
}

}  // namespace

const PortBackend kWin32Port{
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
    .requestedDcb = requestedDcb,
};

}  // namespace quarn::serial

#endif  // _WIN32
