// ftoStr: a value as the record's value texts show it, with the calibrator's number of decimals.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/quarn_core.h"

namespace {

constexpr float kNoValueBelow = -9e30f;
constexpr int kMaxDecimals = 9;
constexpr char kMissingText[] = "- - - -";

int32_t formatValue(char* dst, float value) {
  if (!dst) return -1;
  if (value < kNoValueBelow) {
    std::strcpy(dst, "\t");
    return 1;
  }
  // A missing value (NaN) or an infinity is shown as the record's no-value text, never "nan"/"inf".
  if (!std::isfinite(value)) {
    std::strcpy(dst, kMissingText);
    return static_cast<int32_t>(sizeof kMissingText - 1);
  }
  // The decimals come from the device's settings: keep them to what a format can take.
  int decimals = Dev.settings.decimals;
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxDecimals) decimals = kMaxDecimals;
  char format[8];
  std::snprintf(format, sizeof format, "%%.%df", decimals);
  char text[64];
  const int n = std::snprintf(text, sizeof text, format, static_cast<double>(value));
  // The destinations are the record's 20-byte value texts; a value that long is garbage anyway.
  if (n < 0 || n >= QUARN_FTOSTR_MAX) {
    std::strcpy(dst, kMissingText);
    return static_cast<int32_t>(sizeof kMissingText - 1);
  }
  std::memcpy(dst, text, static_cast<size_t>(n) + 1);
  return n;
}

}  // namespace

extern "C" {

QUARN_API int32_t ftoStr(char* dst, float value) { return formatValue(dst, value); }

QUARN_API int32_t ftoStr_std(char* dst, float value) { return formatValue(dst, value); }

}  // extern "C"
