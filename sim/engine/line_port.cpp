#include "quarnsim/line_port.h"

#include <algorithm>

#include "bench.h"

namespace quarnsim {

namespace {
constexpr uint32_t kUailBaud = 9600;
constexpr uint32_t kHartBaud = 1200;
}  // namespace

bool LinePort::present() const { return engine_.impl_->present(); }

LineMode LinePort::mode() const {
  if (role_ == Role::Dorv) {
    const uint32_t wanted = engine_.impl_->scenario.dorvBaud;
    return (wanted == 0 || baud_ == wanted) && parity_ != 1 ? LineMode::Uail : LineMode::Unusable;
  }
  if (baud_ == kUailBaud && parity_ != 1) return LineMode::Uail;
  if (baud_ == kHartBaud && parity_ != 0) return LineMode::Hart;
  return LineMode::Unusable;
}

double LinePort::byteTimeMs() const {
  const bool parityBit = parity_ == 1 || (parity_ < 0 && baud_ == kHartBaud);
  const int bits = 1 + 8 + (parityBit ? 1 : 0) + (stopBits_ == 1 ? 1 : 2);
  return baud_ ? bits * 1000.0 / baud_ : 1.0;
}

int LinePort::open(uint32_t nowMs) {
  const int64_t now = engine_.impl_->hostToUs(nowMs);
  if (!present()) return -1;
  open_ = true;
  out_.clear();
  hostTxFreeUs_ = now;
  receiver_.reset();
  if (role_ == Role::Calibrator) engine_.impl_->hart.reset();
  return 0;
}

void LinePort::close() {
  open_ = false;
  out_.clear();
  receiver_.reset();
  if (role_ == Role::Calibrator) engine_.impl_->hart.reset();
}

void LinePort::setLine(uint32_t baud, int parity, int stopBits) {
  const bool changed = baud != baud_ || parity != parity_;
  baud_ = baud;
  parity_ = parity;
  stopBits_ = stopBits;
  if (!changed) return;
  // What is still on the wire was sent at the old speed: the host's UART garbles it; the device
  // starts over at the new speed.
  const int64_t now = engine_.impl_->hostUs;
  while (!out_.empty() && out_.back().atUs > now) out_.pop_back();
  receiver_.reset();
  if (role_ == Role::Calibrator) engine_.impl_->hart.reset();
}

int LinePort::write(const uint8_t* data, size_t n, uint32_t nowMs) {
  Engine::Impl& impl = *engine_.impl_;
  const int64_t now = impl.hostToUs(nowMs);
  if (!present()) return -1;
  if (n == 0 || data == nullptr) return 0;
  const int64_t byteUs = static_cast<int64_t>(byteTimeMs() * 1000.0);
  const int64_t start = std::max(now, hostTxFreeUs_);
  hostTxFreeUs_ = start + static_cast<int64_t>(n) * byteUs;

  switch (mode()) {
    case LineMode::Uail:
      for (size_t i = 0; i < n; ++i) {
        if (const auto result = receiver_.feed(data[i])) {
          impl.onRequest(*this, *result, start + static_cast<int64_t>(i + 1) * byteUs);
        }
      }
      break;
    case LineMode::Hart:
      if (role_ == Role::Calibrator && !impl.wholeBenchSilent()) {  // a silent bench passes nothing on
        impl.advanceBench(hostTxFreeUs_);
        const std::vector<uint8_t> answer = impl.hart.onHostBytes(data, n);
        if (!answer.empty()) {
          // The selected channel's transmitter answers, after its own turnaround when it has one.
          const int channel = impl.hart.selectedChannel();
          const auto& own = channel >= 0 && channel < 4 ? impl.scenario.channelTurnaround[channel]
                                                        : std::optional<DelayRange>();
          const DelayRange& range = own ? *own : impl.scenario.hartTurnaround;
          const double delayMs = impl.random.uniform(range.minMs, range.maxMs);
          send(answer, hostTxFreeUs_ + static_cast<int64_t>(delayMs * 1000.0));
        }
      }
      break;
    case LineMode::Unusable:
      break;  // wrong speed or parity: noise to the device
  }
  return static_cast<int>(n);
}

void LinePort::send(const std::vector<uint8_t>& bytes, int64_t startUs) {
  const int64_t byteUs = static_cast<int64_t>(byteTimeMs() * 1000.0);
  int64_t at = std::max(startUs, deviceTxFreeUs_);
  for (uint8_t byte : bytes) {
    at += byteUs;
    out_.push_back({byte, at, baud_});
  }
  deviceTxFreeUs_ = at;
}

int LinePort::available(uint32_t nowMs) {
  const int64_t now = engine_.impl_->hostToUs(nowMs);
  if (!present()) return -1;
  int count = 0;
  for (const OutByte& b : out_) {
    if (b.atUs > now) break;
    ++count;
  }
  return count;
}

int LinePort::read(uint8_t* buffer, size_t max, uint32_t nowMs) {
  const int64_t now = engine_.impl_->hostToUs(nowMs);
  if (!present()) return -1;
  size_t n = 0;
  while (n < max && !out_.empty() && out_.front().atUs <= now) {
    buffer[n++] = out_.front().byte;
    out_.pop_front();
  }
  return static_cast<int>(n);
}

void LinePort::purge() {
  const int64_t now = engine_.impl_->hostUs;
  while (!out_.empty() && out_.front().atUs <= now) out_.pop_front();
  // What the host had not sent yet is discarded with its transmit queue.
  hostTxFreeUs_ = std::min(hostTxFreeUs_, now);
  receiver_.reset();
}

std::optional<uint32_t> LinePort::nextByteDueMs() const {
  if (out_.empty()) return std::nullopt;
  return engine_.impl_->usToHostMs(out_.front().atUs);
}

}  // namespace quarnsim
