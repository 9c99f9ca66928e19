// Field access on UAIL answers: field k is the text after the k-th ';' and ends at the next ';' or at
// the end of the text. Every reader stays inside the zero-terminated text it is given and inside the
// destination size it knows.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "uail/uail.h"
#include "uail/uail_internal.h"

namespace {

// Start of field k, or null when the text has fewer than k separators.
const char* fieldStart(const char* text, int32_t k) {
  const char* p = text;
  for (int32_t i = 0; i < k; ++i) {
    p = std::strchr(p, ';');
    if (!p) return nullptr;
    ++p;
  }
  return p;
}

// Field k of the current answer, null when there is none. The answer's text ends with the ';' of its
// last field: what starts at the end of the text is no field, for every reader alike.
const char* answerField(int32_t k) {
  if (k < 0 || !uail.buf) return nullptr;
  const char* p = fieldStart(uail.buf, k);
  return p && *p != '\0' ? p : nullptr;
}

// Up to `count` bytes from pairs of upper-case hexadecimal digits. The text may end at a byte
// boundary before `count` bytes (0); any other character is refused (-1).
int32_t decodeHexPairs(const char* text, uint8_t* dest, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    if (text[0] == '\0') return 0;
    const int32_t hi = ASCIItoHexChar(text[0]);
    const int32_t lo = ASCIItoHexChar(text[1]);
    if (hi < 0 || lo < 0) return -1;
    dest[i] = static_cast<uint8_t>((hi << 4) | lo);
    text += 2;
  }
  return 0;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

namespace quarn::uail {

bool parseInt32(const char* text, int32_t* out) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  int64_t value = 0;
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) return false;
  }
  *out = static_cast<int32_t>(negative ? -value : value);
  return true;
}

}  // namespace quarn::uail

extern "C" {

QUARN_API int32_t ASCIItoHexChar(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

QUARN_API const char* UAIL_getAsStr(int32_t k, const char* text) {
  if (!text || k < 0) return "error arg!";
  const char* p = fieldStart(text, k);
  return p ? p : "error parse!";
}

QUARN_API int32_t quarn_uail_copy_field(int32_t k, char* dest, uint32_t size, const char* text) {
  if (!dest || !text || k < 0 || size < 1) return -1;
  if (*text == ';') ++text;
  const char* p = fieldStart(text, k);
  // Past the last separator there is no field (an answer's text always ends with ';').
  if (!p || *p == '\0') return -2;
  uint32_t n = 0;
  while (p[n] != '\0' && p[n] != ';' && n + 1 < size) {
    dest[n] = p[n];
    ++n;
  }
  dest[n] = '\0';
  return 0;
}

QUARN_API int32_t UAIL_getCopyStr1(int32_t k, char* dest, const char* text) {
  return quarn_uail_copy_field(k, dest, UAIL_FIELD_COPY_SIZE, text);
}

QUARN_API int32_t quarn_uail_copy_answer_field(int32_t k, char* dest, uint32_t size) {
  if (!uail.buf) return -1;
  return quarn_uail_copy_field(k, dest, size, uail.buf);
}

QUARN_API int32_t UAIL_getCopyStr(int32_t k, char* dest) {
  return quarn_uail_copy_answer_field(k, dest, UAIL_FIELD_COPY_SIZE);
}

QUARN_API int32_t UAIL_getAsInt(int32_t k, int32_t* dest) {
  const char* p = answerField(k);
  int32_t value = 0;
  if (!dest || !p || !quarn::uail::parseInt32(p, &value)) return -1;
  *dest = value;
  return 0;
}

QUARN_API int32_t UAIL_getAsFloatStr(int32_t k, float* dest) {
  const char* p = answerField(k);
  if (!dest || !p) return -1;
  return std::sscanf(p, "%f", dest) == 1 ? 0 : -1;
}

QUARN_API int32_t UAIL_getAsFloatHex(int32_t k, void* dest) {
  const char* p = answerField(k);
  if (!dest || !p) return -1;
  // Decoded aside first: a refused field leaves the destination as it was.
  uint8_t bytes[4];
  std::memcpy(bytes, dest, sizeof bytes);
  if (decodeHexPairs(p, bytes, 4) != 0) return -1;
  std::memcpy(dest, bytes, sizeof bytes);
  return 0;
}

QUARN_API int32_t UAIL_getAsIntHex(int32_t k, void* dest) { return UAIL_getAsFloatHex(k, dest); }

QUARN_API int32_t UAIL_ASCIItoHex(uint8_t* dest, const char* text, int32_t count) {
  if (!dest || !text) return -1;
  return decodeHexPairs(text, dest, count);
}

QUARN_API char* UAIL_HexToASCII(char* dest, const void* bytes, int32_t count) {
  if (!dest) return dest;
  const auto* b = static_cast<const uint8_t*>(bytes);
  int32_t i = 0;
  for (; b && i < count; ++i) {
    dest[2 * i] = kHexDigits[b[i] >> 4];
    dest[2 * i + 1] = kHexDigits[b[i] & 0x0F];
  }
  dest[2 * i] = '\0';
  return dest;
}

QUARN_API int32_t quarn_uail_file_read_ac(uint8_t* dest, uint32_t size) {
  if (!dest || !uail.buf || !quarn::uail::lastAnswerComplete() || uail.rxErr != 0) return -1;
  uint32_t n = uail.len / 2;
  if (n > size) n = size;
  if (n > UAIL_RX_BUF_SIZE / 2) n = UAIL_RX_BUF_SIZE / 2;
  // The kept text ends at its ';' well before the end, so every pair decoded lies inside it.
  for (uint32_t i = 0; i < n; ++i) {
    const int32_t hi = ASCIItoHexChar(uail.buf[2 * i]);
    const int32_t lo = hi < 0 ? -1 : ASCIItoHexChar(uail.buf[2 * i + 1]);
    if (hi < 0 || lo < 0) return -1;
    dest[i] = static_cast<uint8_t>((hi << 4) | lo);
  }
  return 0;
}

QUARN_API int32_t UAIL_File_Read_Ac(uint8_t* dest) {
  return quarn_uail_file_read_ac(dest, UAIL_RX_BUF_SIZE / 2);
}

QUARN_API int32_t UAIL_ParceRX(const TUail* rx, TUailParce* out) {
  if (!rx || !rx->buf || !out) return -1;
  const size_t len = strnlen(rx->buf, UAIL_RX_BUF_SIZE - 1);
  std::memcpy(out->text, rx->buf, len);
  out->text[len] = '\0';
  out->addr = rx->addr;
  int32_t code = 0;
  if (out->text[0] == '$') {
    if (!quarn::uail::parseInt32(out->text + 1, &code)) code = 0;
  } else if (!quarn::uail::parseInt32(out->text, &code)) {
    code = 0;
  }
  out->code = code;
  int32_t count = 0;
  out->fields[0] = out->text;
  for (char* p = out->text; *p != '\0'; ++p) {
    if (*p != ';') continue;
    if (count == UAIL_PARCE_MAX_SEPS) break;
    *p = '\0';
    out->fields[++count] = p + 1;
  }
  out->fields[count + 1] = nullptr;
  out->count = count;
  return count;
}

}  // extern "C"
