// CRC-16 of the UAIL frames: reflected polynomial 0xA001 (0x8005), start 0xFFFF, no final inversion,
// least significant bit first (the CRC-16 known as MODBUS).
#include <array>
#include <cstdint>

#include "uail/uail.h"

namespace {

constexpr std::array<uint16_t, 256> makeTable() {
  std::array<uint16_t, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint16_t crc = static_cast<uint16_t>(byte);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u) : crc >> 1;
    table[byte] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = makeTable();

}  // namespace

extern "C" {

QUARN_API uint16_t UpdateMemCRC(uint8_t byte, uint16_t crc) {
  return static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFFu]);
}

QUARN_API uint32_t CalcMemCRC(const void* bytes, uint16_t count) {
  uint16_t crc = 0xFFFF;
  const auto* p = static_cast<const uint8_t*>(bytes);
  if (!p) return crc;
  for (uint16_t i = 0; i < count; ++i) crc = UpdateMemCRC(p[i], crc);
  return crc;
}

}  // extern "C"
