// References in formulas and ranges when a row is multiplied or a sheet renamed.
#include "cell_ref.h"

#include <gtest/gtest.h>

using namespace xlsxgen;

namespace {

TEST(CellRef, RangesFollowARowMultipliedThreeTimes) {
  const RowInsertion ins{5, 2};  // row 5 is there three times afterwards
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"A4", "A4"},         {"A5", "A5"},       {"A6", "A8"},       {"$B$9", "$B$11"},
      {"A1:H40", "A1:H42"}, {"A5:A5", "A5:A7"}, {"A6:C6", "A8:C8"}, {"A1:A4", "A1:A4"},
      {"3:5", "3:7"},       {"$6:$6", "$8:$8"}, {"B:B", "B:B"},     {"not a ref", "not a ref"},
  };
  for (const auto& c : cases) EXPECT_EQ(shiftRange(c.in, ins), c.out) << c.in;
  EXPECT_EQ(shiftRangeList("A1 B6:C7 D5", ins), "A1 B8:C9 D5");
}

TEST(CellRef, FormulaReferencesAreFoundAndOnlyThey) {
  const RowInsertion ins{5, 2};
  const RefEditor shiftOwn = [&](FormulaRef& r) {
    if (!r.qualified || r.sheet == "Лист 1") shiftFormulaRef(r, ins);
  };
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"SUM(D5:D5)+A6", "SUM(D5:D7)+A8"},
      {"LOG10(A6)", "LOG10(A8)"},  // a function name is not a cell
      {"\"A6 stays in text\"&A6", "\"A6 stays in text\"&A8"},
      {"'Лист 1'!A6+Other!A6", "'Лист 1'!A8+Other!A6"},  // another sheet's rows did not move
      {"'It''s'!A6", "'It''s'!A6"},
      {"1.5E3+A6*2", "1.5E3+A8*2"},
      {"$A$6+A$6+$A6", "$A$8+A$8+$A8"},
      {"Table1[Col]", "Table1[Col]"},
      {"SUM(6:6)", "SUM(8:8)"},
      {"", ""},
      {"'unterminated", "'unterminated"},
      {"\"unterminated", "\"unterminated"},
  };
  for (const auto& c : cases) EXPECT_EQ(rewriteFormula(c.in, nullptr, shiftOwn), c.out) << c.in;
}

TEST(CellRef, RenamedSheetIsQuotedWhereverItIsNamed) {
  const SheetRenamer rename = [](const std::string& s) -> std::optional<std::string> {
    if (s == "&DEV_SH_1" || s == "Old") return std::string("Протокол 1 (к.1)");
    return std::nullopt;
  };
  EXPECT_EQ(rewriteFormula("'&DEV_SH_1'!$A$1:$H$40", rename, nullptr), "'Протокол 1 (к.1)'!$A$1:$H$40");
  EXPECT_EQ(rewriteFormula("Old!A1+Keep!A1", rename, nullptr), "'Протокол 1 (к.1)'!A1+Keep!A1");
  EXPECT_EQ(rewriteFormula("'Old'!#REF!", rename, nullptr), "'Протокол 1 (к.1)'!#REF!");
  EXPECT_EQ(quoteSheetName("It's"), "'It''s'");
}

}  // namespace
