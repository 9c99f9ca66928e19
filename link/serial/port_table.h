// The open ports of the library behind the 32-bit handles of the port records.
//
// A handle names one slot of a fixed table and the generation of that slot's current opening, so a
// handle of a port that was closed or lost never reaches a port opened later in the same slot (and
// never a reused file descriptor). What touches the device goes through the operations table of the
// port's kind (port_backend.h): a system port (a termios device: a real serial port or a
// pseudo-terminal; on Windows a COM port) or an in-process virtual port.
//
// Every port has a transmit buffer for the bytes the device has not taken yet; any later operation on
// the port (write, read, poll, purge) moves them on first, so bytes go out in order and none is lost.
// All state is plain static storage: the library's destructor may still use it.
#pragma once

#ifdef _WIN32
struct _DCB;
#else
#include <termios.h>
#endif

#include <cstdint>

namespace quarn::serial {

// Slots of the table: enough for a search over all 253 numbers plus the ports in use.
inline constexpr uint32_t kMaxOpenPorts = 511;
// Bytes a port keeps for the device at most; a write that would exceed it is refused.
inline constexpr uint32_t kTxPendingMax = 64u * 1024u;

struct LineSettings {
  uint32_t baud = 0;
  int parity = 0;  // 0 none, 1 odd
};

// Opens port `portNo` with the library's line settings: the handle, or 0xFFFFFFFF when the number
// reaches nothing, the device refuses, or this process has the number open already.
uint32_t openPort(int32_t portNo, const LineSettings& line);
// True when the handle names an open port.
bool isOpen(uint32_t h);
// Port number of an open handle, 0 otherwise.
int32_t portNumber(uint32_t h);

// The error query before every transfer: moves pending output on and checks the device is still
// there. False: the device is gone; the caller marks the handle lost.
bool poll(uint32_t h);
// Bytes waiting to be read; -1 when the device is gone.
int32_t available(uint32_t h);
// Reads up to max waiting bytes; -1 when the device is gone.
int32_t read(uint32_t h, uint8_t* buf, uint32_t max);
// Hands bytes to the device; what it does not take now waits in the port's transmit buffer.
// 1 started; 0 refused (transmit buffer full); -1 the device is gone.
int write(uint32_t h, const uint8_t* bytes, uint32_t n);
// A whole transfer as the port records make it, with the device's error query where it needs one.
// receive: moves pending output on, then takes up to max waiting bytes: the count (0: none), -1 when
// the device is gone. send: as write. A kind whose transfers report a gone device themselves
// (PortBackend::transfersReportLoss) gets one system call per transfer; any other kind is asked
// (alive) before, and for a read counted (available) too.
int32_t receive(uint32_t h, uint8_t* buf, uint32_t max);
int send(uint32_t h, const uint8_t* bytes, uint32_t n);
// Bytes still in the port's own transmit buffer.
uint32_t pendingTx(uint32_t h);
// Waits (on the library's clock, 1 ms steps, at most maxMs) until the transmit buffer and the
// system's output queue are empty. Used only before closing at shut-down.
void drain(uint32_t h, uint32_t maxMs);
// Changes speed and parity of an open port; false when the device refuses.
bool setLine(uint32_t h, const LineSettings& line);
// Discards both directions: received bytes, the system's output queue and the transmit buffer.
void purge(uint32_t h);
// Closes the port; with `discard` both directions are purged first. The handle is dead afterwards.
void close(uint32_t h, bool discard);
// Marks a handle lost in both port records (hCom and the hPort entry holding it become
// 0xFFFFFFFF) and releases the port.
void markLost(uint32_t h);
// Closes every open port (shut-down).
void closeAll();

#ifdef _WIN32
// The device control block the library last applied to a COM port (false for virtual ports and dead
// handles). A COM port that Wine links to a pseudo-terminal does not keep the parity either.
bool requestedDcb(uint32_t h, _DCB* out);
#else
// The terminal settings the library last requested for a device port (false for virtual ports and
// dead handles). A pseudo-terminal does not keep every flag, so tests look here for the parity.
bool requestedTermios(uint32_t h, termios* out);
#endif
// Number of ports open now.
uint32_t openCount();

}  // namespace quarn::serial
