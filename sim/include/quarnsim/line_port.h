// The simulator's end of one serial line. The host writes request bytes and reads answer bytes;
// every call carries the host's millisecond clock, and the port lets answer bytes through only as
// fast as the line speed allows, after the device's turnaround. The host's line settings decide
// how its bytes are understood: the UAIL mode (9600 baud, no parity), the HART mode of the
// calibrator line (1200 baud, odd parity), anything else is noise to the device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "quarnsim/uail_codec.h"

namespace quarnsim {

class Engine;

enum class LineMode { Uail, Hart, Unusable };

class LinePort {
 public:
  enum class Role { Calibrator, Dorv };

  // 0 when the port opens, -1 while the device is away (disconnected).
  int open(uint32_t nowMs);
  void close();
  // Host line settings: speed, parity (0 none, 1 odd, -1 unknown: judge by the speed alone, as on a
  // pseudo-terminal), stop bits (1 or 2).
  void setLine(uint32_t baud, int parity, int stopBits);
  // Host writes; returns n, or -1 while the device is away.
  int write(const uint8_t* data, size_t n, uint32_t nowMs);
  // Answer bytes that have arrived by nowMs; -1 while the device is away.
  int available(uint32_t nowMs);
  int read(uint8_t* buffer, size_t max, uint32_t nowMs);
  // Discards what has arrived and what the host has half sent; bytes still on the wire keep coming.
  void purge();

  bool isOpen() const { return open_; }
  bool present() const;
  uint32_t baud() const { return baud_; }
  LineMode mode() const;
  // Host time at which the next answer byte arrives, if one is on its way.
  std::optional<uint32_t> nextByteDueMs() const;
  // Milliseconds one character takes with the current settings.
  double byteTimeMs() const;
  Role role() const { return role_; }
  // Device side: puts answer bytes on the line, the first leaving at `startUs` (engine time) or
  // when the previous answer has been sent.
  void send(const std::vector<uint8_t>& bytes, int64_t startUs);

 private:
  friend class Engine;
  LinePort(Engine& engine, Role role) : engine_(engine), role_(role) {}

  struct OutByte {
    uint8_t byte;
    int64_t atUs;   // arrival at the host, engine microseconds
    uint32_t baud;  // speed it was sent at
  };

  Engine& engine_;
  Role role_;
  bool open_ = false;
  uint32_t baud_ = 9600;
  int parity_ = 0;
  int stopBits_ = 2;
  std::deque<OutByte> out_;
  int64_t hostTxFreeUs_ = 0;    // host transmitter busy until
  int64_t deviceTxFreeUs_ = 0;  // device transmitter busy until
  uail::RequestReceiver receiver_;
  std::vector<uint8_t> hartPending_;  // HART bytes written, handed to the modem as they arrive
};

}  // namespace quarnsim
