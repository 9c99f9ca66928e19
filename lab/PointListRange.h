// The range the point list shows its points in, and the conversions between a point's percentage
// and its value in that range; the point list's rows and cell edits; the device grid's number cells.
#pragma once

#include <limits>
#include <string>
#include <string_view>

#include "ProjectModel.h"

namespace quarn::data {

class PointListRange {
 public:
  // Start-up range 0 .. 600.
  PointListRange() = default;

  // A range with different ends replaces the span; equal ends set 0 .. 600 but keep the span. The
  // span is max - min: negative for a device whose range runs downwards (Min above Max), so 100 %
  // is its Max, the pressure the verification run sets for that point.
  void set(float min, float max);
  float min() const { return min_; }
  float max() const { return max_; }
  float span() const { return span_; }

  // "значение" of a point: min + percent / 100 x span. Worked out in double precision, so that 60 %
  // of 1600 shows as 960 and not as 960.0001 (a difference below the single-precision target's own
  // resolution).
  float valueOf(float percent) const { return toFloat(min_ + static_cast<double>(percent) / 100.0 * span_); }
  // The percentage of an edited value; 0 while the span is 0 (a range that was never set).
  float percentOf(float value) const {
    return span_ != 0 ? toFloat((static_cast<double>(value) - min_) / span_ * 100.0) : 0.0f;
  }

 private:
  // Beyond single precision the result is infinite (the callers test for it), not undefined.
  static float toFloat(double v) {
    if (v >= -3.4028234e38 && v <= 3.4028234e38) return static_cast<float>(v);
    return v > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  }

  float min_ = 0;
  float max_ = 600;
  float span_ = 600;
};

// A point's value as the list shows it: general format, 7 significant digits.
std::string pointValueText(float value);

// Columns of the point list after the row number: "вкл." (a toggle between " " and "v"), " %",
// "значение" and the hidden "время, сек.".
enum PointColumn { kPointOn = 0, kPointPercent = 1, kPointValue = 2, kPointTime = 3, kPointColumns = 4 };
inline constexpr const char* kPointOffText = " ";
inline constexpr const char* kPointOnText = "v";

// The cells of one row (UTF-8): a point that is not switched on shows empty cells but its toggle.
struct PointRowTexts {
  std::string on, percent, value, time;
};
PointRowTexts pointRowTexts(const PointDef& point, const PointListRange& range);

// An edited cell of the point list into its point: the toggle switches the point, " %" sets the
// percentage, "значение" the percentage of that value in the range, the hidden column the time.
// Numbers are read as the device grid reads its number cells. A percentage outside 0..100 (typed, or
// of a typed value) is refused: the point stays as it was and the reason is returned (UTF-8); ""
// when the edit was taken.
std::string applyPointEdit(PointDef& point, int column, std::string_view text, const PointListRange& range);

// A number cell of the device grid: its first ',' counts as '.'; empty, or holding any character but
// '-', '+', digits, '.' and the exponent's 'e' / 'E', it is 0; otherwise the leading number.
float parseGridNumber(std::string_view text);
// Numbers in the device grid: general format with 5 significant digits; the damping time with one
// decimal. A value those would round shows as many more digits as it takes to read back unchanged
// (101971.6, not 1.0197e+05).
std::string gridNumberText(float value);
std::string dampingText(float seconds);

}  // namespace quarn::data
