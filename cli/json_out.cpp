#include "json_out.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quarn/cp1251.h"

namespace cli {

Json number(float v) {
  if (!std::isfinite(v)) return nullptr;
  // The shortest decimal form of the float, read back as a double, prints as that same short form.
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf - 1, v);
  *res.ptr = '\0';
  return std::strtod(buf, nullptr);
}

Json text(const char* s, size_t maxLen) {
  if (!s) return nullptr;
  return quarn::text::cp1251ToUtf8(std::string(s, strnlen(s, maxLen)));
}

void emit(const Json& j) {
  const std::string line = j.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace cli
