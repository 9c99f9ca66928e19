// Fixtures of the serial tests: clean port records and no open port around every test, a virtual
// clock (the 1 ms pauses of mode switches and closes cost nothing), and a pseudo-terminal whose
// slave path the library opens as a serial device.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "serial/port_table.h"
#include "serial/serial_port.h"
#include "virtual_clock.h"

namespace quarn::test {

inline void resetSerial() {
  quarn::serial::closeAll();
  std::memset(&rs, 0, sizeof rs);
  std::memset(&rsDorv, 0, sizeof rsDorv);
  pRS = &rs;
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override { resetSerial(); }
  void TearDown() override { resetSerial(); }
  VirtualClock clock;
};

// Waits in real time (bytes written to a pseudo-terminal reach the other side a moment later).
inline bool eventually(const std::function<bool()>& done, int maxMs = 2000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

#ifndef _WIN32
// A pseudo-terminal pair (POSIX only).
class Pty {
 public:
  Pty() {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() {
    closeMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& path() const { return path_; }
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // The device side writes bytes for the library.
  void send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // Bytes waiting on the library's side of the line.
  int waitingForLibrary() const {
    int n = 0;
    ioctl(slave_, FIONREAD, &n);
    return n;
  }
  // Everything the library has sent so far.
  std::string take() {
    std::string out;
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  // The line settings as the device side sees them.
  termios lineSettings() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};
#endif

}  // namespace quarn::test
