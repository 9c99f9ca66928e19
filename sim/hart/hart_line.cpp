#include "quarnsim/hart_line.h"

#include "quarnsim/transmitter.h"

namespace quarnsim {

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
}
std::vector<uint8_t> HartLine::onHostBytes(const uint8_t*, size_t) { return {}; }
void HartLine::consume(uint8_t, std::vector<uint8_t>&) {}

}  // namespace quarnsim
