// Windows-1251 text: the single-byte encoding of every text inside the shared record, the project
// files and the settings file. Sources stay UTF-8; CP1251("…") converts a literal at compile time,
// and the runtime functions convert texts for display, output and files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarn::text {

// Unicode code points of the bytes 0x80..0xBF (0xC0..0xFF are U+0410..U+044F in order).
inline constexpr char32_t kHigh1251[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98 (0x98 is unassigned)
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

// Code point of one Windows-1251 byte.
constexpr char32_t decodeByte(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return 0x0410 + (b - 0xC0);
  char32_t cp = kHigh1251[b - 0x80];
  return cp ? cp : 0xFFFD;
}

// Windows-1251 byte of a code point; -1 when the encoding has none.
constexpr int encodeCodePoint(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(0xC0 + (cp - 0x0410));
  for (int i = 0; i < 64; ++i)
    if (kHigh1251[i] == cp) return 0x80 + i;
  return -1;
}

// Reads one UTF-8 sequence at s[i]; advances i. Malformed input yields U+FFFD and one byte.
constexpr char32_t nextCodePoint(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int extra = b0 < 0x80 ? 0 : (b0 & 0xE0) == 0xC0 ? 1 : (b0 & 0xF0) == 0xE0 ? 2 : (b0 & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0 || i + extra >= s.size() + (extra == 0 ? 1 : 0)) {
    ++i;
    return extra == 0 ? b0 : 0xFFFD;
  }
  char32_t cp = extra == 0 ? b0 : b0 & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto bk = static_cast<unsigned char>(s[i + k]);
    if ((bk & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (bk & 0x3F);
  }
  i += extra + 1;
  return cp;
}

// UTF-8 → Windows-1251; characters the encoding lacks become `replacement`.
inline std::string utf8ToCp1251(std::string_view s, char replacement = '?') {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const int b = encodeCodePoint(nextCodePoint(s, i));
    out.push_back(b < 0 ? replacement : static_cast<char>(b));
  }
  return out;
}

// Windows-1251 → UTF-8.
inline std::string cp1251ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (unsigned char b : s) {
    const char32_t cp = decodeByte(b);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// Compile-time conversion of a UTF-8 literal; a character outside Windows-1251 fails the build.
template <std::size_t N>
struct Utf8Literal {
  char s[N]{};
  consteval Utf8Literal(const char (&in)[N]) {
    for (std::size_t i = 0; i < N; ++i) s[i] = in[i];
  }
};

template <Utf8Literal L>
struct Encoded1251 {
  static constexpr std::array<char, sizeof(L.s)> make() {
    std::array<char, sizeof(L.s)> out{};
    std::string_view in(L.s, sizeof(L.s) - 1);
    std::size_t o = 0;
    for (std::size_t i = 0; i < in.size();) {
      const int b = encodeCodePoint(nextCodePoint(in, i));
      if (b < 0) throw "character outside Windows-1251";
      out[o++] = static_cast<char>(b);
    }
    return out;
  }
  static constexpr std::array<char, sizeof(L.s)> bytes = make();
};

}  // namespace quarn::text

// A Windows-1251 C string with static storage, made from a UTF-8 literal at compile time.
#define CP1251(literal) (::quarn::text::Encoded1251<::quarn::text::Utf8Literal(literal)>::bytes.data())
