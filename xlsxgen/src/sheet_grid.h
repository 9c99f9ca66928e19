// Cells of one worksheet: an index of its rows and cells by number (rows and cells without an "r"
// attribute get one), reading a cell's text and writing texts and numbers into cells.
#pragma once

#include <map>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace xlsxgen {

class SheetGrid {
 public:
  explicit SheetGrid(pugi::xml_node worksheet);

  pugi::xml_node sheetData() const { return sheetData_; }
  pugi::xml_node row(int r) const;
  pugi::xml_node cell(int r, int c) const;
  // The cell, created in column order (and its row in row order) when missing.
  pugi::xml_node ensureCell(int r, int c);
  // Rebuilds the index after rows were added or renumbered.
  void reindex();
  const std::map<int, pugi::xml_node>& rows() const { return rows_; }

 private:
  pugi::xml_node sheetData_;
  std::map<int, pugi::xml_node> rows_;
};

int cellColumn(pugi::xml_node cell);
// Sets the row number of a row element and of its cells.
void renumberRow(pugi::xml_node row, int r);

// The text a cell shows for a string (shared, inline or formula result) or the raw value otherwise.
std::string cellText(pugi::xml_node cell, const std::vector<std::string>& sharedStrings);
// A constant text cell (shared or inline string): the cells whose placeholders are replaced.
bool isTextConstant(pugi::xml_node cell);
void setCellString(pugi::xml_node cell, const std::string& text);
// A text whose blanks a reader would trim or fold unless its element says xml:space="preserve".
bool needsSpacePreserve(std::string_view text);
void setCellNumber(pugi::xml_node cell, const std::string& number);
void clearCell(pugi::xml_node cell);

// A plain decimal number ("-1.50", "3", "2.5e3") and its count of digits after the point; nullopt
// for anything else, a value beyond the range of a double included. Independent of the locale.
std::optional<int> numberDecimals(std::string_view text);

}  // namespace xlsxgen
