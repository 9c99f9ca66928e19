// One simulator port served on a pseudo-terminal: the host opens the slave path like a serial port;
// the simulator reads the host's bytes from the master, learns the host's line settings from the
// terminal attributes (a pseudo-terminal keeps the speed and the stop bits, not the parity), and
// writes the answer bytes when they are due.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "quarnsim/line_port.h"

namespace quarnsim {

// The bytes that cross the lines, for people and tests: one line per frame and direction,
//   "  1.234 calibrator host: \xFF:1;1;30721\r"   (what the host sent)
//   "  1.301 calibrator sim:  !1;0000C842;...\r"   (what the simulator answered)
// with the seconds since the start. Printable ASCII is written as it is, every other byte as \xHH,
// CR as \r and LF as \n; a frame ends after a CR, or where the other side starts to speak.
class TrafficLog {
 public:
  explicit TrafficLog(uint32_t startMs) : startMs_(startMs) {}
  ~TrafficLog();
  TrafficLog(const TrafficLog&) = delete;
  TrafficLog& operator=(const TrafficLog&) = delete;

  // "" or an error text.
  std::string open(const std::string& path);
  // Bytes of one line in one direction (fromHost: written by the host).
  void bytes(const std::string& line, bool fromHost, const uint8_t* data, size_t n, uint32_t nowMs);
  // Writes out what is held (a line going away, the end).
  void flush();

 private:
  void endFrame();

  uint32_t startMs_;
  std::FILE* file_ = nullptr;
  std::string line_;  // whose frame is held
  bool fromHost_ = false;
  uint32_t frameMs_ = 0;
  std::string frame_;
};

class PtyLink {
 public:
  PtyLink(std::string name, LinePort& port, std::string linkPath);
  ~PtyLink();
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  // Creates the pseudo-terminal (and the symlink, when asked for). "" or an error text.
  std::string start(uint32_t nowMs);
  // Closes it (the host sees the device go away) and removes the symlink.
  void stop();
  bool running() const { return master_ >= 0; }

  const std::string& name() const { return name_; }
  const std::string& slavePath() const { return slavePath_; }
  int pollFd() const { return master_; }

  // Takes what the host wrote, follows its line settings and writes what is due. Returns false when
  // the pseudo-terminal failed.
  bool service(uint32_t nowMs);
  // Milliseconds until the next answer byte is due, if any.
  std::optional<uint32_t> nextDueInMs(uint32_t nowMs) const;
  // Logs the bytes of this line from now on (null: none).
  void setLog(TrafficLog* log) { log_ = log; }

 private:
  void followLineSettings();
  void flushUnsent();

  std::string name_;
  LinePort& port_;
  std::string linkPath_;
  int master_ = -1;
  int slaveKeep_ = -1;  // our own handle on the slave: the master never sees a hang-up between hosts
  std::string slavePath_;
  uint32_t baud_ = 0;
  int stopBits_ = 0;
  std::string unsent_;  // answer bytes the terminal's queue had no room for yet
  TrafficLog* log_ = nullptr;
  uint32_t nowMs_ = 0;  // of the current service call
};

}  // namespace quarnsim
