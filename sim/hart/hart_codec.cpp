#include "hart_codec.h"

#include <bit>
#include <cstring>

namespace quarnsim::hart {

uint8_t checksum(const uint8_t* bytes, size_t n) {
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum ^= bytes[i];
  return sum;
}

void putFloat(std::vector<uint8_t>& out, float value) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  out.push_back(static_cast<uint8_t>(bits >> 24));
  out.push_back(static_cast<uint8_t>(bits >> 16));
  out.push_back(static_cast<uint8_t>(bits >> 8));
  out.push_back(static_cast<uint8_t>(bits));
}

float getFloat(const uint8_t* bytes) {
  const uint32_t bits = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                        uint32_t{bytes[3]};
  return std::bit_cast<float>(bits);
}

void putU24(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

uint32_t getU24(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 16) | (uint32_t{bytes[1]} << 8) | uint32_t{bytes[2]};
}

void putU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

namespace {

// The packed-ASCII alphabet is 0x20..0x5F; its 6-bit code is the low six bits of the character.
char toPackable(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (c < 0x20 || c > 0x5F) return '?';
  return c;
}

}  // namespace

std::vector<uint8_t> packAscii(const std::string& text, size_t chars) {
  chars -= chars % 4;
  std::vector<uint8_t> out;
  out.reserve(chars / 4 * 3);
  for (size_t i = 0; i < chars; i += 4) {
    uint8_t c[4];
    for (size_t k = 0; k < 4; ++k) {
      const char ch = i + k < text.size() ? toPackable(text[i + k]) : ' ';
      c[k] = static_cast<uint8_t>(ch) & 0x3F;
    }
    out.push_back(static_cast<uint8_t>((c[0] << 2) | (c[1] >> 4)));
    out.push_back(static_cast<uint8_t>(((c[1] & 0x0F) << 4) | (c[2] >> 2)));
    out.push_back(static_cast<uint8_t>(((c[2] & 0x03) << 6) | c[3]));
  }
  return out;
}

std::string unpackAscii(const uint8_t* bytes, size_t n) {
  std::string text;
  for (size_t i = 0; i + 3 <= n; i += 3) {
    const uint8_t b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
    const uint8_t codes[4] = {
        static_cast<uint8_t>(b0 >> 2), static_cast<uint8_t>(((b0 & 0x03) << 4) | (b1 >> 4)),
        static_cast<uint8_t>(((b1 & 0x0F) << 2) | (b2 >> 6)), static_cast<uint8_t>(b2 & 0x3F)};
    for (uint8_t c : codes) text.push_back(static_cast<char>(c < 32 ? c + 64 : c));
  }
  return text;
}

std::string normalizePacked(const std::string& text, size_t chars) {
  const std::vector<uint8_t> packed = packAscii(text, chars);
  std::string back = unpackAscii(packed.data(), packed.size());
  while (!back.empty() && back.back() == ' ') back.pop_back();
  return back;
}

double pressureUnitToKPa(uint8_t unitsCode) {
  switch (unitsCode) {
    case 1:
      return 0.24884;  // inches of water at 68 °F
    case 2:
      return 3.38638;  // inches of mercury at 0 °C
    case 3:
      return 2.98608;  // feet of water at 68 °F
    case 4:
      return 0.00980665;  // millimetres of water at 68 °F
    case 5:
      return 0.133322;  // millimetres of mercury at 0 °C
    case 6:
      return 6.8947587;  // psi
    case 7:
      return 100.0;  // bar
    case 8:
      return 0.1;  // millibar
    case 9:
      return 0.0980665;  // grams per square centimetre
    case 10:
      return 98.0665;  // kilograms-force per square centimetre
    case 11:
      return 0.001;  // pascal
    case 12:
      return 1.0;  // kilopascal
    case 13:
      return 0.133322;  // torr
    case 14:
      return 101.325;  // atmosphere
    case 145:
      return 0.24884;  // inches of water at 60 °F
    case 175:
      return 6.8947587;  // psi absolute
    case 176:
      return 0.00980665;  // kilograms-force per square metre
    case 237:
      return 1000.0;  // megapascal
    case 238:
      return 0.249089;  // inches of water at 4 °C
    case 239:
      return 0.00980665;  // millimetres of water at 4 °C
    default:
      return 0.0;
  }
}

}  // namespace quarnsim::hart
