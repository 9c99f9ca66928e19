// The port map: port numbers 1..253 to the devices behind them.
//
// A number reaches, in this order of precedence:
//  1. a virtual port a host registered for it (an in-process peer, quarn_port_register_virtual);
//  2. a device path a host registered for it (e.g. a pseudo-terminal, quarn_port_register_path);
//  3. the system's serial device of the fixed numbering below, when it is present:
//       1 .. 32   /dev/ttyS0   .. /dev/ttyS31    (COM1 is ttyS0)
//       33 .. 64  /dev/ttyUSB0 .. /dev/ttyUSB31
//       65 .. 96  /dev/ttyACM0 .. /dev/ttyACM31
//     A device keeps its number whatever else is plugged in. ttyS entries whose UART the kernel
//     reports as unknown (no hardware behind the node) count as absent.
//     Numbers 97..253 are reached only through registrations.
//     On Windows number N is COMN: "COM1".."COM9", "\\.\COM10".."\\.\COM253".
//
// All state is plain static storage, so the map stays usable from the library's destructor.
#pragma once

#include <cstdint>

#include "platform/quarn_host.h"

namespace quarn::platform {

inline constexpr uint32_t kPortPathMax = 256;

enum class PortKind { kNone, kDevice, kVirtual };

// What a port number reaches right now.
struct PortTarget {
  PortKind kind = PortKind::kNone;
  uint32_t portNo = 0;
  char path[kPortPathMax] = {};  // kDevice
  quarn_vport_ops ops = {};      // kVirtual
  uint32_t registration = 0;     // kVirtual: identity of the registration (see virtualStillRegistered)
};

// Resolves a number for opening; false (kind kNone) when nothing usable is behind it.
bool resolvePort(uint32_t portNo, PortTarget* out);

// True while the virtual registration an opened port came from is still in place. A port whose peer
// was unregistered must not call the peer's functions any more.
bool virtualStillRegistered(uint32_t portNo, uint32_t registration);

// The fixed device path (or COM name) of a number (rule 3 above), "" when the number has none.
// Presence is not checked.
const char* standardDevicePath(uint32_t portNo, char* buf, uint32_t size);

}  // namespace quarn::platform
