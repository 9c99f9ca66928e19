#include "calibrator/answer_fields.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace quarn::cal {

bool answerField(std::string_view text, int k, std::string_view& field) {
  if (k < 0) return false;
  std::size_t pos = 0;
  for (int i = 0; i < k; ++i) {
    const std::size_t sep = text.find(';', pos);
    if (sep == std::string_view::npos) return false;
    pos = sep + 1;
  }
  // Answer texts end with ';': nothing after the last separator is no field.
  if (k > 0 && pos >= text.size()) return false;
  const std::size_t end = text.find(';', pos);
  field = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
  return true;
}

bool fieldInt(std::string_view text, int k, int32_t& out) {
  std::string_view f;
  if (!answerField(text, k, f) || f.empty() || f.size() > 16) return false;
  const std::string s(f);
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || end != s.c_str() + s.size() ||
      !(s[0] == '-' || s[0] == '+' || (s[0] >= '0' && s[0] <= '9')))
    return false;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

bool fieldUInt(std::string_view text, int k, uint32_t& out) {
  std::string_view f;
  if (!answerField(text, k, f) || f.empty() || f.size() > 16) return false;
  const std::string s(f);
  if (s[0] < '0' || s[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 10);
  if (errno != 0 || end != s.c_str() + s.size() || v > UINT32_MAX) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool fieldFloat(std::string_view text, int k, float& out) {
  std::string_view f;
  if (!answerField(text, k, f) || f.empty() || f.size() > 64) return false;
  const std::string s(f);
  char* end = nullptr;
  const float v = std::strtof(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

namespace {
int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool hexBits(std::string_view digits, uint32_t& bits) {
  if (digits.size() != 8) return false;
  uint32_t v = 0;
  for (int b = 0; b < 4; ++b) {
    const int hi = hexDigit(digits[2 * b]);
    const int lo = hexDigit(digits[2 * b + 1]);
    if (hi < 0 || lo < 0) return false;
    v |= static_cast<uint32_t>(hi * 16 + lo) << (8 * b);
  }
  bits = v;
  return true;
}

bool fieldHexBits(std::string_view text, int k, uint32_t& bits) {
  std::string_view f;
  return answerField(text, k, f) && hexBits(f, bits);
}

bool fieldHexFloat(std::string_view text, int k, float& out) {
  uint32_t bits = 0;
  if (!fieldHexBits(text, k, bits)) return false;
  std::memcpy(&out, &bits, sizeof out);
  return true;
}

void bitsToHex(uint32_t bits, char* dst) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int b = 0; b < 4; ++b) {
    const unsigned byte = (bits >> (8 * b)) & 0xFFu;
    dst[2 * b] = kDigits[byte >> 4];
    dst[2 * b + 1] = kDigits[byte & 0xF];
  }
  dst[8] = '\0';
}

void floatToHex(float v, char* dst) {
  uint32_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  bitsToHex(bits, dst);
}

void copyText(char* dst, std::size_t size, std::string_view src) {
  if (!dst || size == 0) return;
  const std::size_t n = src.size() < size - 1 ? src.size() : size - 1;
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

void formatValue(char* dst, std::size_t size, float v, int32_t decimals) {
  if (!dst || size == 0) return;
  if (v < -9e30f) {
    copyText(dst, size, "\t");
    return;
  }
  if (!std::isfinite(v)) {
    copyText(dst, size, kNoValueText);
    return;
  }
  const int n = decimals < 0 ? 0 : (decimals > 9 ? 9 : decimals);
  char buf[64];
  const int len = std::snprintf(buf, sizeof buf, "%.*f", n, static_cast<double>(v));
  if (len < 0 || static_cast<std::size_t>(len) >= size || static_cast<std::size_t>(len) >= sizeof buf)
    copyText(dst, size, kNoValueText);
  else
    copyText(dst, size, std::string_view(buf, static_cast<std::size_t>(len)));
}

}  // namespace quarn::cal
