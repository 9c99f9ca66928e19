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
  int numberFormatId(int decimals);

  XmlPart* styles_;
  std::map<std::pair<int, int>, int> made_;
};

}  // namespace xlsxgen
