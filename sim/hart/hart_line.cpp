#include "quarnsim/hart_line.h"

#include "hart_frame.h"
#include "quarnsim/transmitter.h"

namespace quarnsim {

namespace {
// A modem needs a couple of preamble bytes to lock onto the carrier before the delimiter.
constexpr int kMinPreambles = 2;
// Preambles are counted up to this many (more than any device asks for).
constexpr int kMostCounted = 255;
}  // namespace

void HartLine::attach(int channel, Transmitter* transmitter) {
  if (channel >= 0 && channel < kChannels) channels_[channel] = transmitter;
}

void HartLine::selectChannel(int channel) {
  selected_ = (channel >= 0 && channel < kChannels) ? channel : -1;
  reset();
}

void HartLine::reset() {
  frame_.clear();
  expected_ = 0;
  preambles_ = 0;
  framePreambles_ = 0;
  trailerPending_ = false;
}

std::vector<uint8_t> HartLine::onHostBytes(const uint8_t* data, size_t n) {
  std::vector<uint8_t> out;
  if (data == nullptr) return out;
  for (size_t i = 0; i < n; ++i) consume(data[i], out);
  return out;
}

void HartLine::consume(uint8_t byte, std::vector<uint8_t>& out) {
  if (frame_.empty()) {
    // Hunting: count preamble bytes; the first other byte after enough of them is a delimiter.
    if (byte == 0xFF) {
      // The byte a master writes after a frame's checksum closes that frame; it is not a preamble
      // of the next one.
      if (trailerPending_) {
        trailerPending_ = false;
        return;
      }
      if (preambles_ < kMostCounted) ++preambles_;
      return;
    }
    trailerPending_ = false;
    const bool enough = preambles_ >= kMinPreambles;
    framePreambles_ = preambles_;
    preambles_ = 0;
    if (!enough || !hart::isRequestDelimiter(byte)) return;
    frame_.push_back(byte);
    return;
  }

  frame_.push_back(byte);
  const size_t header = hart::headerLength(frame_[0]);
  if (frame_.size() == header) expected_ = header + frame_.back() + 1;  // + data + checksum
  if (expected_ == 0 || frame_.size() < expected_) return;

  Transmitter* device = selected_ >= 0 ? channels_[selected_] : nullptr;
  // A device's receiver needs the preambles it asked for in its command 0 answer to catch a frame
  // addressed to it by its long address. The identifying poll (a short frame) comes before the master
  // can know that number and is caught after the modem's own minimum.
  const bool longFrame = (frame_[0] & hart::kLongAddressBit) != 0;
  if (device != nullptr && longFrame && framePreambles_ < device->config().requestPreambles) device = nullptr;
  if (device != nullptr) {
    std::vector<uint8_t> answer = device->handleFrame(frame_);
    out.insert(out.end(), answer.begin(), answer.end());
  }
  frame_.clear();
  expected_ = 0;
  trailerPending_ = true;
}

}  // namespace quarnsim
