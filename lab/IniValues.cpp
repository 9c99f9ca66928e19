#include "IniValues.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "quarn/cp1251.h"

namespace quarn::data {
namespace {

std::string_view trimBlanks(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Parses the longest float prefix of s (optional sign, digits, point, exponent); returns the number of
// characters taken, 0 when none.
std::size_t floatPrefix(std::string_view s, double& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const std::size_t start = i;
  std::size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && isDigit(s[j])) {
      while (j < s.size() && isDigit(s[j])) ++j;
      i = j;
    }
  }
  // from_chars takes no leading '+' and is independent of the locale.
  double v = 0;
  auto res = std::from_chars(s.data() + start, s.data() + i, v, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    v = std::numeric_limits<double>::infinity();  // reported as not finite by the callers
  } else if (res.ec != std::errc()) {
    return 0;
  }
  out = negative ? -v : v;
  return i;
}

}  // namespace

std::optional<long long> parseInteger(std::string_view text) {
  std::string_view t = trimBlanks(text);
  bool negative = false;
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  if (t.empty()) return std::nullopt;
  unsigned long long v = 0;
  auto res = std::from_chars(t.data(), t.data() + t.size(), v, base);
  if (res.ec != std::errc() || res.ptr != t.data() + t.size()) return std::nullopt;
  if (v > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return std::nullopt;
  const auto s = static_cast<long long>(v);
  return negative ? -s : s;
}

std::optional<double> parseFloat(std::string_view text) {
  const std::string_view t = trimBlanks(text);
  double v = 0;
  const std::size_t n = floatPrefix(t, v);
  if (n == 0 || n != t.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::string formatFloat(double value) {
  if (!std::isfinite(value) || value == 0) return "0";  // also no "-0"
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string s(buf);
  // The C locale's "%g" is the point form already; the exponent is shortened to "E-5" / "E20".
  const std::size_t e = s.find('e');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e);
    std::string_view ex = std::string_view(s).substr(e + 1);
    std::string sign;
    if (!ex.empty() && (ex.front() == '+' || ex.front() == '-')) {
      if (ex.front() == '-') sign = "-";
      ex.remove_prefix(1);
    }
    while (ex.size() > 1 && ex.front() == '0') ex.remove_prefix(1);
    s = mant + "E" + sign + std::string(ex);
  }
  return s;
}

double scanNumber(std::string_view text) {
  std::string_view t = text;
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t' || t.front() == '\n' || t.front() == '\r'))
    t.remove_prefix(1);
  double v = 0;
  if (floatPrefix(t, v) == 0 || !std::isfinite(v)) return 0;
  return v;
}

std::string cutUtf8(std::string_view utf8, std::size_t limit) {
  std::size_t i = 0, count = 0;
  while (i < utf8.size() && count < limit) {
    text::nextCodePoint(utf8, i);
    ++count;
  }
  return std::string(utf8.substr(0, i));
}

bool readBool(const IniDocument& ini, std::string_view section, std::string_view key, bool def) {
  return readInteger(ini, section, key, def ? 1 : 0) != 0;
}

long long readInteger(const IniDocument& ini, std::string_view section, std::string_view key, long long def) {
  const auto v = ini.get(section, key);
  if (!v) return def;
  return parseInteger(*v).value_or(def);
}

double readFloat(const IniDocument& ini, std::string_view section, std::string_view key, double def) {
  const auto v = ini.get(section, key);
  if (!v) return def;
  return parseFloat(*v).value_or(def);
}

std::string readTextUtf8(const IniDocument& ini, std::string_view section, std::string_view key,
                         std::string_view defUtf8, std::size_t limit) {
  const auto v = ini.get(section, key);
  if (!v) return std::string(defUtf8);
  // One Windows-1251 byte is one character, so the limit cuts bytes before the conversion.
  const std::string_view raw = limit > 0 && v->size() > limit ? v->substr(0, limit) : *v;
  return text::cp1251ToUtf8(raw);
}

std::optional<std::vector<std::string>> readMemoUtf8(const IniDocument& ini, std::string_view section,
                                                     std::string_view name) {
  const std::string base = std::string(name) + "_str";
  if (!ini.hasKey(section, base + "0")) return std::nullopt;
  std::vector<std::string> lines;
  for (std::size_t n = 0;; ++n) {
    const auto v = ini.get(section, base + std::to_string(n));
    if (!v) break;
    lines.push_back(text::cp1251ToUtf8(*v));
  }
  return lines;
}

void writeBool(IniDocument& ini, std::string_view section, std::string_view key, bool value) {
  ini.set(section, key, value ? "1" : "0");
}

void writeInteger(IniDocument& ini, std::string_view section, std::string_view key, long long value) {
  ini.set(section, key, std::to_string(value));
}

void writeFloat(IniDocument& ini, std::string_view section, std::string_view key, double value) {
  ini.set(section, key, formatFloat(value));
}

void writeTextUtf8(IniDocument& ini, std::string_view section, std::string_view key, std::string_view utf8) {
  ini.set(section, key, text::utf8ToCp1251(utf8));
}

void writeMemoUtf8(IniDocument& ini, std::string_view section, std::string_view name,
                   const std::vector<std::string>& lines) {
  const std::string base = std::string(name) + "_str";
  for (std::size_t n = 0; n < lines.size(); ++n)
    writeTextUtf8(ini, section, base + std::to_string(n), lines[n]);
}

}  // namespace quarn::data
