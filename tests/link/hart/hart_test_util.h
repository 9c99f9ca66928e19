// Helpers of the HART master tests: valid records and answer frames built independently of the
// library's own builders.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "core/TDev.h"

namespace hart_test {

// A cleared, valid record (as the library's clearing leaves it).
inline THartDev validRecord() {
  THartDev dev;
  std::memset(&dev, 0, sizeof dev);
  dev.size = THARTDEV_SIZE;
  dev.endMark = THARTDEV_END_MARK;
  dev.outputType = 1;
  return dev;
}

inline void appendFloat(std::vector<uint8_t>& out, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(bits >> shift));
}

struct Answer {
  uint8_t command = 0;
  uint8_t responseCode = 0;
  uint8_t deviceStatus = 0;
  std::vector<uint8_t> data;
  bool longAddress = true;
  uint8_t address[5] = {0xA6, 0x06, 0x01, 0x02, 0x03};
  int preambles = 5;
};

// A slave-to-master frame: preamble, 0x86 / 0x06, address, command, byte count, status, data,
// checksum.
inline std::vector<uint8_t> frame(const Answer& a) {
  std::vector<uint8_t> out(static_cast<size_t>(a.preambles), 0xFF);
  const size_t start = out.size();
  out.push_back(a.longAddress ? 0x86 : 0x06);
  if (a.longAddress)
    out.insert(out.end(), a.address, a.address + 5);
  else
    out.push_back(a.address[0]);
  out.push_back(a.command);
  out.push_back(static_cast<uint8_t>(a.data.size() + 2));
  out.push_back(a.responseCode);
  out.push_back(a.deviceStatus);
  out.insert(out.end(), a.data.begin(), a.data.end());
  uint8_t sum = 0;
  for (size_t i = start; i < out.size(); ++i) sum ^= out[i];
  out.push_back(sum);
  return out;
}

inline std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

}  // namespace hart_test
