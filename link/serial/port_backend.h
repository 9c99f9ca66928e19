// One operations table per kind of port. The open-port table (port_table.cpp) keeps handles, the
// transmit buffer and the order of bytes; everything that touches the device goes through the table
// of the port's kind. A new kind of port is a new table; nothing else changes.
//
// Each kind keeps the state of its open ports itself, one entry per slot of the open-port table, in
// plain static storage (the library's destructor may still close ports).
#pragma once

#ifdef _WIN32
struct _DCB;
#else
#include <termios.h>
#endif

#include <cstdint>

#include "platform/port_map.h"
#include "serial/port_table.h"

namespace quarn::serial {

struct PortBackend {
  // The identity of the device or peer a target reaches: a device or peer is used by one opening at
  // a time. False when the target cannot be opened at all (no such device).
  bool (*identify)(const platform::PortTarget& target, uint64_t* identity);
  // Opens the target for the open-port table's slot with the library's line settings: the port's
  // state, null when the device refuses.
  void* (*open)(uint32_t slot, const platform::PortTarget& target, const LineSettings& line);
  // True when the device or peer is gone for good (a virtual peer unregistered): the port is dead.
  bool (*detached)(void* port);
  // The error query before a transfer: false when the device is gone.
  bool (*alive)(void* port);
  // Hands bytes to the device: how many it took (0: none now), -1 when it is gone.
  int32_t (*write)(void* port, const uint8_t* bytes, uint32_t n);
  // Bytes waiting to be read; -1 when the device is gone.
  int32_t (*available)(void* port);
  // Reads up to max waiting bytes (never more); -1 when the device is gone.
  int32_t (*read)(void* port, uint8_t* buf, uint32_t max);
  // Bytes still in the system's output queue.
  uint32_t (*queuedOutput)(void* port);
  // Changes speed and parity; false when the device refuses.
  bool (*setLine)(void* port, const LineSettings& line);
  // Discards what waits in both directions of the device.
  void (*purge)(void* port);
  // Releases the device.
  void (*close)(void* port);
#ifdef _WIN32
  // The line state (device control block) last applied, where the kind has one (null otherwise).
  bool (*requestedDcb)(void* port, _DCB* out) = nullptr;
#else
  // The terminal settings last requested, where the kind has them (null otherwise).
  bool (*requestedTermios)(void* port, termios* out) = nullptr;
#endif
  // True when `write` and `read` themselves report a device that is gone (-1), and `read` of an
  // empty input queue returns 0 at once: a transfer then needs no error query (`alive`) before it,
  // and a read no count of the waiting bytes (`available`) before it. One system call per transfer
  // instead of two or three.
  bool transfersReportLoss = false;
};

#ifdef _WIN32
// A COM port of the system (under Wine: the terminal its COM name is linked to).
extern const PortBackend kWin32Port;
#else
// A serial device or a pseudo-terminal, through termios.
extern const PortBackend kTermiosPort;
#endif
// An in-process peer a host registered (quarn_vport_ops), for as long as it stays registered.
extern const PortBackend kVirtualPort;

}  // namespace quarn::serial
