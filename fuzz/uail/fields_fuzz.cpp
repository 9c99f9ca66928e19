// Fuzz target: the field readers on any text, as the current answer and as a given text, with
// destinations exactly as large as the readers may fill.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "uail/uail.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t k = static_cast<int8_t>(data[0]);
  const uint32_t destSize = data[1] % 24;
  // The text, zero-terminated, in a buffer of its own size (so a read past it is caught).
  std::vector<char> text(data + 2, data + size);
  text.push_back('\0');

  std::vector<char> dest(destSize ? destSize : 1);
  quarn_uail_copy_field(k, dest.data(), destSize, text.data());
  char field[UAIL_FIELD_COPY_SIZE];
  UAIL_getCopyStr1(k, field, text.data());
  if (std::memchr(field, '\0', sizeof field) == nullptr) std::abort();
  UAIL_getAsStr(k, text.data());

  std::vector<uint8_t> bytes(static_cast<size_t>(destSize));
  UAIL_ASCIItoHex(bytes.data(), text.data(), static_cast<int32_t>(destSize));
  std::vector<char> hexText(2 * text.size() + 1);
  UAIL_HexToASCII(hexText.data(), text.data(), static_cast<int32_t>(text.size()));

  // The same text as the current answer (the receiver's buffer holds at most 1023 characters).
  UAIL_Init(&uail);
  const size_t n = strnlen(text.data(), UAIL_RX_BUF_SIZE - 1);
  std::memcpy(uail.buf, text.data(), n);
  uail.buf[n] = '\0';
  uail.len = static_cast<uint32_t>(n);
  int32_t i = 0;
  float f = 0;
  uint8_t hex[4];
  UAIL_getAsInt(k, &i);
  UAIL_getAsFloatStr(k, &f);
  UAIL_getAsFloatHex(k, hex);
  UAIL_getAsIntHex(k, hex);
  std::vector<char> copy(destSize ? destSize : 1);
  quarn_uail_copy_answer_field(k, copy.data(), destSize);
  static TUailParce parts;
  UAIL_ParceRX(&uail, &parts);
  return 0;
}
