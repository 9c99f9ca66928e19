// The device side of the protocol: appending answer fields to an answer text. The library exports
// these for device programs and tools; it does not use them itself.
#include <cstdio>
#include <cstring>

#include "uail/uail.h"

namespace {

// Appends `text` (n characters) to dst; -1 (dst unchanged) when it does not fit.
int32_t append(char* dst, uint32_t size, const char* text, size_t n) {
  if (!dst || size == 0) return -1;
  const size_t used = strnlen(dst, size);
  if (used == size || n >= size - used) return -1;
  std::memcpy(dst + used, text, n);
  dst[used + n] = '\0';
  return static_cast<int32_t>(used + n);
}

int32_t appendText(char* dst, uint32_t size, const char* text) {
  return append(dst, size, text, std::strlen(text));
}

}  // namespace

extern "C" {

QUARN_API int32_t UART_Push_Ok(char* dst, uint32_t size) { return appendText(dst, size, "$0;"); }

QUARN_API int32_t UART_Push_Str(char* dst, uint32_t size, const char* text) {
  if (!text || !dst) return -1;
  const size_t n = std::strlen(text);
  if (n + 1 >= size) return -1;
  const size_t used = strnlen(dst, size);
  if (used == size || n + 1 >= size - used) return -1;
  std::memcpy(dst + used, text, n);
  dst[used + n] = ';';
  dst[used + n + 1] = '\0';
  return static_cast<int32_t>(used + n + 1);
}

QUARN_API int32_t UART_Push_Int(char* dst, uint32_t size, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d;", value);
  return appendText(dst, size, text);
}

QUARN_API int32_t UART_Push_Flt(char* dst, uint32_t size, float value) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%f;", static_cast<double>(value));
  if (n < 0 || static_cast<size_t>(n) >= sizeof text) return -1;
  return appendText(dst, size, text);
}

QUARN_API int32_t UART_Push_FloatHex(char* dst, uint32_t size, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  char text[10];
  UAIL_HexToASCII(text, bytes, 4);
  text[8] = ';';
  text[9] = '\0';
  return appendText(dst, size, text);
}

QUARN_API int32_t UART_Push_Hex(char* dst, uint32_t size, const void* bytes, uint32_t count) {
  if (!dst || !bytes || size == 0) return -1;
  const size_t used = strnlen(dst, size);
  if (used == size || static_cast<uint64_t>(count) * 2u + 1u >= size - used) return -1;
  UAIL_HexToASCII(dst + used, bytes, static_cast<int32_t>(count));
  dst[used + 2u * count] = ';';
  dst[used + 2u * count + 1] = '\0';
  return static_cast<int32_t>(used + 2u * count + 1);
}

}  // extern "C"
