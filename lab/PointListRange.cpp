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

// The text of `value` in `format` when it reads back as the same float; otherwise the shortest
// general form that does (up to 9 significant digits, enough for every float). A number cell is
// read again whenever the grid is applied, so a text that rounds the value would change the record,
// and the next save the project, without the operator having typed anything.
std::string exactText(const char* format, float value) {
  std::string text = printed(format, value);
  for (int digits = 5; digits <= 9; ++digits) {
    if (text.empty() || parseGridNumber(text) == value) break;
    char general[8];
    std::snprintf(general, sizeof general, "%%.%dg", digits);
    text = printed(general, value);
  }
  return text;
}
}  // namespace

std::string pointValueText(float value) { return printed("%.7g", value); }
std::string gridNumberText(float value) { return exactText("%.5g", value); }
std::string dampingText(float seconds) { return exactText("%.1f", seconds); }

PointRowTexts pointRowTexts(const PointDef& point, const PointListRange& range) {
  if (!point.exist) return {kPointOffText, "", "", ""};
  return {kPointOnText, pointValueText(point.valuePrc), pointValueText(range.valueOf(point.valuePrc)),
          pointValueText(point.timeSec)};
}

std::string applyPointEdit(PointDef& point, int column, std::string_view text, const PointListRange& range) {
  // A point lies within the device's range: the run would set a pressure outside it (and past the
  // calibrator's limit) for a percentage beyond 0..100.
  const auto percent = [&point](float prc) -> std::string {
    if (prc >= 0 && prc <= 100) {
      point.valuePrc = prc;
      return {};
    }
    return "Точка " + printed("%.7g", prc) + " % вне диапазона датчика (0…100 %): не принята.";
  };
  switch (column) {
    case kPointOn:
      point.exist = text == kPointOnText;
      break;
    case kPointPercent:
      return percent(parseGridNumber(text));
    case kPointValue: {
      // A percentage beyond single precision (a value typed far outside a tiny span) would be
      // infinite in the record.
      const float prc = range.percentOf(parseGridNumber(text));
      if (!std::isfinite(prc)) return "Значение " + std::string(text) + " вне диапазона датчика: не принято.";
      return percent(prc);
    }
    case kPointTime:
      point.timeSec = parseGridNumber(text);
      break;
    default:
      break;
  }
  return {};
}

float parseGridNumber(std::string_view text) {
  std::string t(text);
  if (const auto comma = t.find(','); comma != std::string::npos) t[comma] = '.';
  if (t.empty()) return 0;
  // The exponent form ("1e+08", "5e-05") is what the grid itself shows for very large and very
  // small values, so it reads back.
  for (char c : t)
    if (c != '-' && c != '+' && c != '.' && c != 'e' && c != 'E' && (c < '0' || c > '9')) return 0;
  const double v = scanNumber(t);
  return std::fabs(v) <= 3.4e38 ? static_cast<float>(v) : 0.0f;
}

}  // namespace quarn::data
