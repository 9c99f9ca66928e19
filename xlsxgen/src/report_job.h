// The work a report exchange block asks for, read out of the block into UTF-8 texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xlsx_exchange.h"

namespace xlsxgen {

// One cell of a table in 8 bytes: where its text lies in the table's `texts`, or that none was given.
struct TableCell {
  static constexpr std::uint32_t kMaxSize = (1u << 24) - 1;  // far beyond a cell's 32767 characters
  static constexpr int kMaxDecimals = 63;  // more digits count as this many: no format shows them

  std::uint32_t offset = 0;
  std::uint32_t size : 24 = 0;
  // The digits after the point of a number text (at most kMaxDecimals), -1 for any other text and
  // for none.
  std::int32_t decimals : 7 = -1;
  bool given : 1 = false;
};
static_assert(sizeof(TableCell) == 8);

// A table of the job. Its cells' texts lie one after another in one string rather than in a string
// each: the tables of a protocol hold thousands of short texts.
struct ReportTable {
  std::string name;
  std::string texts;
  std::vector<TableCell> cells;  // the first n cells

  // The text of cell i (UTF-8); nullopt where none was given.
  std::optional<std::string_view> text(std::size_t i) const;
  // The same, empty where none was given; i must be below the number of cells.
  std::string_view view(std::size_t i) const {
    const TableCell& cell = cells[i];
    return std::string_view(texts.data() + cell.offset, cell.size);
  }
  // Appends a cell (nullopt: none given) and works out its decimals.
  void add(std::optional<std::string_view> text);
  // Appends a cell from the exchange block (null: none given), converted as textFromBlock does.
  void addFromBlock(const char* cp1251);
};

// The digits after the point of cell i of a table when it holds a number text, else -1.
int cellDecimals(const ReportTable& table, std::size_t i);

struct ReportJob {
  std::optional<std::string> templatePath;  // UTF-8
  std::optional<std::string> outputPath;
  std::vector<std::string> hiddenSheets;
  std::vector<std::pair<std::string, std::string>> pairs;  // key -> value, in list order
  int columnCount = 0;
  std::vector<ReportTable> tables;
};

// Reads the block. Throws XlsxError when a count is outside its limit. Null texts are skipped where
// an item needs them (a hidden-sheet name, a pair key, a table name) and read as empty otherwise; so
// is a pair whose key holds nothing but characters a workbook cannot hold.
ReportJob readExchangeBlock(const TXlsxExchange& block);

// A Windows-1251 text as UTF-8, without the control characters a workbook cannot hold (TAB and LF
// stay), cut at the longest text a cell holds.
std::string textFromBlock(const char* cp1251);
// The same, appended to `out`.
void appendTextFromBlock(std::string& out, const char* cp1251);

}  // namespace xlsxgen
