// HART wire encodings: packed ASCII, floats and 24-bit integers most significant byte first, and the
// factors that bring HART pressure units to kPa.
#include <cstring>

#include "hart/hart_internal.h"
#include "hart/hart_master.h"

namespace {

// Pressure units that HART_to_kPa_factor takes as kPa although they are not, with their factors.
float factorMissingFromTheTable(uint32_t code) {
  switch (code) {
    case 1:
      return 0.248642f;  // inches of water at 68 °F
    case 2:
      return 3.38638f;  // inches of mercury at 0 °C
    case 3:
      return 2.98370f;  // feet of water at 68 °F
    case 8:
      return 0.1f;  // mbar
    case 9:
      return 0.0980665f;  // g/cm²
    case 13:
      return 0.133322f;  // torr
    case 145:
      return 0.248843f;  // inches of water at 60 °F
    case 170:
      return 0.0980638f;  // cm of water at 4 °C
    case 171:
      return 9.80638f;  // m of water at 4 °C
    case 172:
      return 1.33322f;  // cm of mercury at 0 °C
    case 173:
      return 0.0478803f;  // pounds per square foot
    case 174:
      return 0.1f;  // hPa
    case 175:
      return 6.8947587f;  // psia, as psi in the table
    case 177:
      return 2.98898f;  // feet of water at 4 °C
    case 178:
      return 2.98612f;  // feet of water at 60 °F
    case 179:
      return 133.322f;  // m of mercury at 0 °C
    case 180:
      return 6894757.3f;  // million psi
    case 238:
      return 0.249082f;  // inches of water at 4 °C
    case 239:
      return 0.00980638f;  // mm of water at 4 °C
    default:
      return 1.0f;
  }
}

}  // namespace

namespace quarn::hart {

float pressureFactorKPa(uint32_t unitsCode) {
  const float f = HART_to_kPa_factor(unitsCode);
  return f == 1.0f ? factorMissingFromTheTable(unitsCode) : f;
}

}  // namespace quarn::hart

extern "C" {

QUARN_API int32_t SHARTtoString(char* text, const uint8_t* bytes, int32_t n) {
  if (!text || !bytes || n < 3) return 0;
  const int32_t groups = n / 3;
  for (int32_t g = 0; g < groups; ++g) {
    const uint8_t b0 = bytes[3 * g], b1 = bytes[3 * g + 1], b2 = bytes[3 * g + 2];
    const uint8_t codes[4] = {
        static_cast<uint8_t>(b0 >> 2), static_cast<uint8_t>(((b0 & 3) << 4) | (b1 >> 4)),
        static_cast<uint8_t>(((b1 & 15) << 2) | (b2 >> 6)), static_cast<uint8_t>(b2 & 63)};
    // Codes 0..31 stand for 0x40..0x5F (the capital letters), 32..63 for space..0x3F.
    for (int k = 0; k < 4; ++k) text[4 * g + k] = static_cast<char>(codes[k] < 32 ? codes[k] + 64 : codes[k]);
  }
  return 4 * groups;
}

QUARN_API int32_t StringToHART(const char* text, uint8_t* bytes) {
  if (!text || !bytes) return 0;
  const size_t len = std::strlen(text);
  if (len < 4) return 0;
  const size_t groups = len / 4;  // one to three trailing characters are dropped
  for (size_t g = 0; g < groups; ++g) {
    uint8_t c[4];
    for (int k = 0; k < 4; ++k) c[k] = static_cast<uint8_t>(text[4 * g + k]) & 63;
    bytes[3 * g] = static_cast<uint8_t>((c[0] << 2) | (c[1] >> 4));
    bytes[3 * g + 1] = static_cast<uint8_t>(((c[1] & 15) << 4) | (c[2] >> 2));
    bytes[3 * g + 2] = static_cast<uint8_t>(((c[2] & 3) << 6) | c[3]);
  }
  return static_cast<int32_t>(3 * groups);
}

QUARN_API float hex2float(const uint8_t* bytes) {
  if (!bytes) return 0.0f;
  const uint32_t bits = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                        uint32_t{bytes[3]};
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

QUARN_API uint8_t* float2hex(uint32_t bits, uint8_t* bytes) {
  if (!bytes) return bytes;
  bytes[0] = static_cast<uint8_t>(bits >> 24);
  bytes[1] = static_cast<uint8_t>(bits >> 16);
  bytes[2] = static_cast<uint8_t>(bits >> 8);
  bytes[3] = static_cast<uint8_t>(bits);
  return bytes;
}

QUARN_API uint32_t hex2u24(const uint8_t* bytes) {
  if (!bytes) return 0;
  return (uint32_t{bytes[0]} << 16) | (uint32_t{bytes[1]} << 8) | uint32_t{bytes[2]};
}

QUARN_API float HART_to_kPa_factor(uint32_t unitsCode) {
  // Only these units carry a factor; every other code, kPa and the other pressure codes among them,
  // is taken as kPa.
  switch (unitsCode) {
    case 4:
      return 0.00980665f;  // mm of water at 68 °F
    case 5:
      return 0.133322f;  // mm of mercury
    case 6:
      return 6.8947587f;  // psi
    case 7:
      return 100.0f;  // bar
    case 10:
      return 98.0665f;  // kgf/cm²
    case 11:
      return 0.001f;  // Pa
    case 14:
      return 101.325f;  // atm
    case 176:
      return 0.00980665f;  // kgf/m²
    case 237:
      return 1000.0f;  // MPa
    default:
      return 1.0f;
  }
}

QUARN_API double pow2sgn(float x) {
  const double d = x;
  return d < 0 ? -(d * d) : d * d;
}

}  // extern "C"
