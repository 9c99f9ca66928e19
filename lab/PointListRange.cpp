#include "PointListRange.h"

#include <cmath>
#include <cstdio>

#include "IniValues.h"

namespace quarn::data {

void PointListRange::set(float min, float max) {
  if (max != min) {
    min_ = min;
    max_ = max;
    span_ = max - min;
  } else {
    min_ = 0;
    max_ = 600;
  }
}

namespace {
std::string printed(const char* format, double v) {
  if (!std::isfinite(v) || std::fabs(v) > 1e27) return "";  // what the screens show for such values
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}
}  // namespace

std::string pointValueText(float value) { return printed("%.7g", value); }
std::string gridNumberText(float value) { return printed("%.5g", value); }
std::string dampingText(float seconds) { return printed("%.1f", seconds); }

PointRowTexts pointRowTexts(const PointDef& point, const PointListRange& range) {
  if (!point.exist) return {kPointOffText, "", "", ""};
  return {kPointOnText, pointValueText(point.valuePrc), pointValueText(range.valueOf(point.valuePrc)),
          pointValueText(point.timeSec)};
}

void applyPointEdit(PointDef& point, int column, std::string_view text, const PointListRange& range) {
  switch (column) {
    case kPointOn:
      point.exist = text == kPointOnText;
      break;
    case kPointPercent:
      point.valuePrc = parseGridNumber(text);
      break;
    case kPointValue: {
      // A percentage beyond single precision (a value typed far outside a tiny span) would be
      // infinite in the record.
      const float prc = range.percentOf(parseGridNumber(text));
      point.valuePrc = std::isfinite(prc) ? prc : 0.0f;
      break;
    }
    case kPointTime:
      point.timeSec = parseGridNumber(text);
      break;
    default:
      break;
  }
}

float parseGridNumber(std::string_view text) {
  std::string t(text);
  if (const auto comma = t.find(','); comma != std::string::npos) t[comma] = '.';
  if (t.empty()) return 0;
  for (char c : t)
    if (c != '-' && c != '.' && (c < '0' || c > '9')) return 0;
  const double v = scanNumber(t);
  return std::fabs(v) <= 3.4e38 ? static_cast<float>(v) : 0.0f;
}

}  // namespace quarn::data
