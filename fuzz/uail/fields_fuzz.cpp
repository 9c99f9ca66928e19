// Fuzz target: the field readers on any text, as the current answer and as a given text, with
// destinations exactly as large as the readers may fill.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "uail/uail.h"

namespace {

constexpr char kMark = 0x5A;

// A field copy's result: 0 with a terminated text inside the destination, or a refusal (-1, -2) that
// wrote nothing.
void checkCopy(int32_t result, const char* dest, size_t size) {
  if (result == 0) {
    if (size == 0 || std::memchr(dest, '\0', size) == nullptr) std::abort();
    return;
  }
  if (result != -1 && result != -2) std::abort();
  for (size_t i = 0; i < size; ++i)
    if (dest[i] != kMark) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t k = static_cast<int8_t>(data[0]);
  const uint32_t destSize = data[1] % 24;
  // The text, zero-terminated, in a buffer of its own size (so a read past it is caught).
  std::vector<char> text(data + 2, data + size);
  text.push_back('\0');

  // The destinations start filled with a mark, so the check depends on the input alone: a copy that
  // succeeds ends its text inside the destination, a refused one leaves the destination as it was.
  std::vector<char> dest(destSize ? destSize : 1, kMark);
  checkCopy(quarn_uail_copy_field(k, dest.data(), destSize, text.data()), dest.data(), destSize);
  char field[UAIL_FIELD_COPY_SIZE];
  std::memset(field, kMark, sizeof field);
  checkCopy(UAIL_getCopyStr1(k, field, text.data()), field, sizeof field);
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
  UAIL_getAsInt(k, &i);
  UAIL_getAsFloatStr(k, &f);
  // A refused hexadecimal field leaves its four bytes as they were.
  for (auto read : {UAIL_getAsFloatHex, UAIL_getAsIntHex}) {
    uint8_t hex[4];
    std::memset(hex, kMark, sizeof hex);
    const int32_t result = read(k, hex);
    if (result != 0 && result != -1) std::abort();
    if (result == -1)
      for (uint8_t b : hex)
        if (b != static_cast<uint8_t>(kMark)) std::abort();
  }
  std::vector<char> copy(destSize ? destSize : 1, kMark);
  checkCopy(quarn_uail_copy_answer_field(k, copy.data(), destSize), copy.data(), destSize);
  static TUailParce parts;
  UAIL_ParceRX(&uail, &parts);
  return 0;
}
