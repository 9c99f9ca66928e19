// Request frames as a HART primary master writes them, built byte by byte for the transmitter tests
// (independent of the simulator's own frame code), and a reader for the answers.
#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace simhart_test {

inline std::vector<uint8_t> floatBytes(float value) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  return {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 8),
          static_cast<uint8_t>(bits)};
}

inline float floatAt(const std::vector<uint8_t>& d, size_t i) {
  const uint32_t bits =
      (uint32_t{d[i]} << 24) | (uint32_t{d[i + 1]} << 16) | (uint32_t{d[i + 2]} << 8) | d[i + 3];
  return std::bit_cast<float>(bits);
}

inline std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Five preambles, delimiter 0x82, five address bytes, command, count, data, checksum, one 0xFF.
inline std::vector<uint8_t> longRequest(const uint8_t address[5], uint8_t command,
                                        const std::vector<uint8_t>& data = {}) {
  std::vector<uint8_t> f(5, 0xFF);
  f.push_back(0x82);
  f.insert(f.end(), address, address + 5);
  f.push_back(command);
  f.push_back(static_cast<uint8_t>(data.size()));
  f.insert(f.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (size_t i = 5; i < f.size(); ++i) sum ^= f[i];
  f.push_back(sum);
  f.push_back(0xFF);
  return f;
}

// The eleven-byte poll of command 0 by polling address.
inline std::vector<uint8_t> shortPoll(uint8_t pollingAddress) {
  const uint8_t a = static_cast<uint8_t>(0x80 | pollingAddress);
  return {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, a, 0x00, 0x00, static_cast<uint8_t>(0x02 ^ a), 0xFF};
}

// An answer frame split into its fields; `valid` is false when the frame is malformed or its
// checksum is wrong.
struct Answer {
  bool valid = false;
  uint8_t delimiter = 0;
  std::vector<uint8_t> address;
  uint8_t command = 0;
  uint8_t responseCode = 0;
  uint8_t deviceStatus = 0;
  std::vector<uint8_t> data;
  size_t preambles = 0;
};

inline Answer readAnswer(const std::vector<uint8_t>& f) {
  Answer a;
  size_t i = 0;
  while (i < f.size() && f[i] == 0xFF) ++i;
  a.preambles = i;
  if (i >= f.size()) return a;
  const size_t start = i;
  a.delimiter = f[i++];
  const size_t addressLength = (a.delimiter & 0x80) ? 5 : 1;
  if (f.size() < i + addressLength + 2) return a;
  a.address.assign(f.begin() + static_cast<long>(i), f.begin() + static_cast<long>(i + addressLength));
  i += addressLength;
  a.command = f[i++];
  const size_t count = f[i++];
  if (count < 2 || f.size() < i + count + 1) return a;
  a.responseCode = f[i];
  a.deviceStatus = f[i + 1];
  a.data.assign(f.begin() + static_cast<long>(i + 2), f.begin() + static_cast<long>(i + count));
  i += count;
  uint8_t sum = 0;
  for (size_t k = start; k < i; ++k) sum ^= f[k];
  a.valid = sum == f[i];
  return a;
}

}  // namespace simhart_test
