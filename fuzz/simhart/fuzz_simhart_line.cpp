// Feeds arbitrary host bytes into the HART line of four transmitters. The first input byte picks the
// mode: raw bytes in random chunks, or well-formed requests (good checksum, the device's own long
// address) whose command and data come from the input, so the command handlers see every value.
// Every answer must be a well-formed slave frame and every loop signal a finite value within the
// output stage's limits.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "quarnsim/hart_line.h"
#include "quarnsim/transmitter.h"

namespace {

using quarnsim::HartLine;
using quarnsim::OutputType;
using quarnsim::TransferFunction;
using quarnsim::Transmitter;
using quarnsim::TransmitterConfig;

TransmitterConfig configFor(int channel) {
  TransmitterConfig c;
  c.deviceId = 0x10 + static_cast<uint32_t>(channel);
  c.pollingAddress = static_cast<uint8_t>(channel == 2 ? 5 : 0);
  c.hartRevision = channel == 1 ? 5 : 7;
  c.function = channel == 3 ? TransferFunction::SquareRoot : TransferFunction::Linear;
  c.output = static_cast<OutputType>(channel + 1 > 4 ? 1 : channel + 1);
  c.refuseCommand45 = channel == 3;
  c.analogGain = 1.003;
  c.analogOffset = 0.02;
  return c;
}

// An answer is preambles, delimiter 0x06/0x86, address, command, count >= 2, data, good checksum.
void checkAnswers(const std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < out.size()) {
    size_t preambles = 0;
    while (i < out.size() && out[i] == 0xFF) ++i, ++preambles;
    if (preambles < 2 || i >= out.size()) abort();
    const size_t start = i;
    const uint8_t delimiter = out[i];
    if ((delimiter & 0x7F) != 0x06) abort();
    const size_t header = 1 + ((delimiter & 0x80) ? 5 : 1) + 2;
    if (out.size() - start < header) abort();
    const size_t count = out[start + header - 1];
    if (count < 2 || out.size() - start < header + count + 1) abort();
    uint8_t sum = 0;
    for (size_t k = start; k < start + header + count; ++k) sum ^= out[k];
    if (sum != out[start + header + count]) abort();
    i = start + header + count + 1;
  }
}

void checkSignals(Transmitter* const* devices) {
  for (int ch = 0; ch < 4; ++ch) {
    const double s = devices[ch]->loopCurrent();
    if (!std::isfinite(s) || s < 0 || s > 30) abort();
  }
}

// The four configurations, made once: the same for every input.
const TransmitterConfig& configOf(int channel) {
  static const TransmitterConfig configs[4] = {configFor(0), configFor(1), configFor(2), configFor(3)};
  return configs[channel];
}

// A request frame into `f`, whose storage is reused from one record to the next.
void request(std::vector<uint8_t>& f, const TransmitterConfig& c, uint8_t command, const uint8_t* data,
             size_t n) {
  f = {0xFF,
       0xFF,
       0xFF,
       0xFF,
       0xFF,
       0x82,
       static_cast<uint8_t>((c.expandedDeviceType >> 8) | 0x80),
       static_cast<uint8_t>(c.expandedDeviceType),
       static_cast<uint8_t>(c.deviceId >> 16),
       static_cast<uint8_t>(c.deviceId >> 8),
       static_cast<uint8_t>(c.deviceId),
       command,
       static_cast<uint8_t>(n)};
  f.insert(f.end(), data, data + n);
  uint8_t sum = 0;
  for (size_t k = 5; k < f.size(); ++k) sum ^= f[k];
  f.push_back(sum);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The same four transmitters for every input, each started over as a new one of its configuration
  // (SimHartTransmitter.StartingOverGivesWhatANewTransmitterGives holds that to a new transmitter).
  static Transmitter t0(configOf(0)), t1(configOf(1)), t2(configOf(2)), t3(configOf(3));
  Transmitter* devices[4] = {&t0, &t1, &t2, &t3};
  for (int ch = 0; ch < 4; ++ch) devices[ch]->startOver(configOf(ch));
  HartLine line;
  for (int ch = 0; ch < 4; ++ch) line.attach(ch, devices[ch]);
  double now = 0;
  for (auto* d : devices) d->setPressure(300, now);

  const uint8_t mode = data[0];
  size_t pos = 1;
  line.selectChannel(mode & 0x03);
  if (mode & 0x80) {
    // Structured: [channel, command, length, data...] records.
    std::vector<uint8_t> frame;
    frame.reserve(5 + 8 + 255 + 1);
    while (pos + 3 <= size) {
      const int channel = data[pos] & 0x03;
      const uint8_t command = data[pos + 1];
      size_t n = data[pos + 2];
      pos += 3;
      if (n > size - pos) n = size - pos;
      line.selectChannel(channel);
      request(frame, devices[channel]->config(), command, data + pos, n);
      pos += n;
      checkAnswers(line.onHostBytes(frame.data(), frame.size()));
      now += 0.5;
      for (auto* d : devices) d->setPressure(300 + 50 * std::sin(now), now);
      checkSignals(devices);
    }
  } else {
    // Raw: chunks whose length is taken from the stream.
    while (pos < size) {
      size_t n = (data[pos] & 0x3F) + 1;
      ++pos;
      if (n > size - pos) n = size - pos;
      checkAnswers(line.onHostBytes(data + pos, n));
      pos += n;
      if (pos < size && data[pos - 1] == 0x55) line.reset();
      checkSignals(devices);
    }
  }
  return 0;
}
