#include "pty_link.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quarnsim {

namespace {

uint32_t baudOf(speed_t speed) {
  switch (speed) {
    case B300:
      return 300;
    case B600:
      return 600;
    case B1200:
      return 1200;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    default:
      return 0;
  }
}

}  // namespace

TrafficLog::~TrafficLog() {
  flush();
  if (file_) std::fclose(file_);
}

std::string TrafficLog::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) return "log " + path + ": " + std::strerror(errno);
  return "";
}

void TrafficLog::bytes(const std::string& line, bool fromHost, const uint8_t* data, size_t n,
                       uint32_t nowMs) {
  if (!file_ || n == 0) return;
  if (!frame_.empty() && (line != line_ || fromHost != fromHost_)) endFrame();
  for (size_t i = 0; i < n; ++i) {
    if (frame_.empty()) {
      line_ = line;
      fromHost_ = fromHost;
      frameMs_ = nowMs;
    }
    const uint8_t b = data[i];
    char text[8];
    if (b == '\r')
      frame_ += "\\r";
    else if (b == '\n')
      frame_ += "\\n";
    else if (b == '\\')
      frame_ += "\\\\";
    else if (b >= 0x20 && b < 0x7F)
      frame_ += static_cast<char>(b);
    else {
      std::snprintf(text, sizeof text, "\\x%02X", b);
      frame_ += text;
    }
    if (b == '\r') endFrame();
  }
}

void TrafficLog::endFrame() {
  if (frame_.empty()) return;
  std::fprintf(file_, "%8.3f %s %s %s\n", static_cast<double>(frameMs_ - startMs_) / 1000.0, line_.c_str(),
               fromHost_ ? "host:" : "sim: ", frame_.c_str());
  std::fflush(file_);
  frame_.clear();
}

void TrafficLog::flush() {
  if (file_) endFrame();
}

PtyLink::PtyLink(std::string name, LinePort& port, std::string linkPath)
    : name_(std::move(name)), port_(port), linkPath_(std::move(linkPath)) {}

PtyLink::~PtyLink() { stop(); }

std::string PtyLink::start(uint32_t nowMs) {
  stop();
  int master = -1, slave = -1;
  char path[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD | CSTOPB;
  cfsetispeed(&raw, B9600);
  cfsetospeed(&raw, B9600);
  if (openpty(&master, &slave, path, &raw, nullptr) != 0)
    return std::string("openpty: ") + std::strerror(errno);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  master_ = master;
  slaveKeep_ = slave;
  slavePath_ = path;
  if (!linkPath_.empty()) {
    unlink(linkPath_.c_str());
    if (symlink(slavePath_.c_str(), linkPath_.c_str()) != 0) {
      const std::string error = "symlink " + linkPath_ + ": " + std::strerror(errno);
      stop();
      return error;
    }
  }
  baud_ = 0;
  followLineSettings();
  port_.open(nowMs);
  return "";
}

void PtyLink::stop() {
  if (log_) log_->flush();
  unsent_.clear();
  if (master_ >= 0) {
    port_.close();
    close(master_);
    master_ = -1;
  }
  if (slaveKeep_ >= 0) {
    close(slaveKeep_);
    slaveKeep_ = -1;
  }
  if (!linkPath_.empty()) unlink(linkPath_.c_str());
}

void PtyLink::followLineSettings() {
  termios t{};
  if (slaveKeep_ < 0 || tcgetattr(slaveKeep_, &t) != 0) return;
  const uint32_t baud = baudOf(cfgetospeed(&t));
  const int stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
  if (baud == baud_ && stopBits == stopBits_) return;
  baud_ = baud;
  stopBits_ = stopBits;
  port_.setLine(baud, -1, stopBits);  // parity unknown on a pseudo-terminal: the speed decides
}

bool PtyLink::service(uint32_t nowMs) {
  if (master_ < 0) return false;
  nowMs_ = nowMs;
  followLineSettings();
  uint8_t buffer[1024];
  for (;;) {
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n > 0) {
      if (log_) log_->bytes(name_, true, buffer, static_cast<size_t>(n), nowMs);
      port_.write(buffer, static_cast<size_t>(n), nowMs);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // EAGAIN: nothing more; EIO cannot happen while we hold the slave open
  }
  const int due = port_.available(nowMs);
  if (due > 0) {
    const int n = port_.read(buffer, std::min<size_t>(static_cast<size_t>(due), sizeof buffer), nowMs);
    if (n > 0) unsent_.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    // A host that writes requests and never reads overruns its input queue, as on a real line.
    constexpr size_t kMaxUnsent = 64 * 1024;
    if (unsent_.size() > kMaxUnsent) unsent_.erase(0, unsent_.size() - kMaxUnsent);
  }
  flushUnsent();
  return true;
}

void PtyLink::flushUnsent() {
  while (!unsent_.empty()) {
    const ssize_t w = ::write(master_, unsent_.data(), unsent_.size());
    if (w > 0) {
      if (log_)
        log_->bytes(name_, false, reinterpret_cast<const uint8_t*>(unsent_.data()), static_cast<size_t>(w),
                    nowMs_);
      unsent_.erase(0, static_cast<size_t>(w));
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // the terminal's queue is full while the host does not read: try again later
    }
  }
}

std::optional<uint32_t> PtyLink::nextDueInMs(uint32_t nowMs) const {
  if (!unsent_.empty()) return 10u;
  const auto due = port_.nextByteDueMs();
  if (!due) return std::nullopt;
  const int32_t delta = static_cast<int32_t>(*due - nowMs);
  return delta > 0 ? static_cast<uint32_t>(delta) : 0u;
}

}  // namespace quarnsim
