// Cell formats for numbers written into the report: a number printed by the host with d decimals
// keeps showing d decimals when its cell has the General format (which would show 4.000 as 4).
#pragma once

#include <map>
#include <utility>

#include "workbook.h"

namespace xlsxgen {

class NumberStyles {
 public:
  // `styles` is the workbook's styles part or null when the package has none.
  explicit NumberStyles(XmlPart* styles) : styles_(styles) {}
  // The cell format index to use for a number with `decimals` digits after the point in a cell of
  // format `base`: `base` itself unless that shows numbers as General.
  int forDecimals(int base, int decimals);

 private:
  int formatFor(int base, int decimals);
  int numberFormatId(int decimals);

  XmlPart* styles_;
  std::map<std::pair<int, int>, int> made_;
  // The last answer: the numbers of one table column mostly share their format and decimals.
  int lastBase_ = -1, lastDecimals_ = -1, lastFormat_ = -1;
};

}  // namespace xlsxgen
