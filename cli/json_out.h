// JSON output of the headless host: one object per line on stdout.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace cli {

using Json = nlohmann::ordered_json;

// A float as a JSON number that reads back to the same float (shortest form); NaN and infinities
// become null.
Json number(float v);
// A Windows-1251 text of the record (bounded by its field size) as UTF-8.
Json text(const char* s, size_t maxLen);
template <size_t N>
Json text(const char (&field)[N]) {
  return text(field, N);
}
// A field of the packed record by value: binding a reference to a misaligned member is undefined.
template <typename T>
T val(T v) {
  return v;
}
// Prints one object on its own line and flushes.
void emit(const Json& j);

}  // namespace cli
