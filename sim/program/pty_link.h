// One simulator port served on a pseudo-terminal: the host opens the slave path like a serial port;
// the simulator reads the host's bytes from the master, learns the host's line settings from the
// terminal attributes (a pseudo-terminal keeps the speed and the stop bits, not the parity), and
// writes the answer bytes when they are due.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "quarnsim/line_port.h"

namespace quarnsim {

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
};

}  // namespace quarnsim
