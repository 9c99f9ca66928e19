// A1 cell references, ranges and the references inside formulas, with the row arithmetic the report
// needs when a row is multiplied: rows below it move down, ranges that reach it grow.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace xlsxgen {

// One end of a reference. col/row are 1-based; 0 means the part is absent (whole rows or columns).
struct CellRef {
  int col = 0;
  int row = 0;
  bool colAbsolute = false;
  bool rowAbsolute = false;
};

std::optional<CellRef> parseCellRef(std::string_view text);  // "B12", "$B$12"
std::string formatCellRef(const CellRef& ref);
std::string columnName(int col);

// Rows inserted below row `row`: `count` new rows; references to rows after `row` move down, and a
// range that ends on or after `row` grows with them (so a range over the marker row covers its copies).
struct RowInsertion {
  int row = 0;
  int count = 0;
  int shiftSingle(int r) const { return r > row ? r + count : r; }
  int shiftStart(int r) const { return r > row ? r + count : r; }
  int shiftEnd(int r) const { return r >= row ? r + count : r; }
};

// "A1" or "A1:C3" (also whole rows "3:5") shifted by an insertion; unparsable text comes back as is.
std::string shiftRange(std::string_view range, const RowInsertion& ins);
// A space-separated list of ranges (sqref).
std::string shiftRangeList(std::string_view list, const RowInsertion& ins);

// A reference met inside a formula. `sheet` is the sheet qualifier without quotes (empty when the
// reference is unqualified). `second` is set for a range.
struct FormulaRef {
  std::string sheet;
  bool qualified = false;
  CellRef first;
  std::optional<CellRef> second;
};

// Rewrites a formula: every sheet qualifier goes through `renameSheet` (return a new name to replace
// it), every reference through `editRef` (change the rows in place). Strings in quotes are left alone.
using SheetRenamer = std::function<std::optional<std::string>(const std::string& sheet)>;
using RefEditor = std::function<void(FormulaRef& ref)>;
std::string rewriteFormula(std::string_view formula, const SheetRenamer& renameSheet,
                           const RefEditor& editRef);

// A sheet name as it appears before "!" in a formula: always quoted, quotes doubled.
std::string quoteSheetName(std::string_view name);

}  // namespace xlsxgen

namespace xlsxgen {
// Applies an insertion to the rows of a formula reference (ranges grow, rows below move).
void shiftFormulaRef(FormulaRef& ref, const RowInsertion& ins);
}  // namespace xlsxgen
