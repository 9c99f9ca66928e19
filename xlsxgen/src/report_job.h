// The work a report exchange block asks for, read out of the block into UTF-8 texts.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "xlsx_exchange.h"

namespace xlsxgen {

struct ReportTable {
  std::string name;
  std::vector<std::optional<std::string>> cells;  // the first n cells; nullopt where none was given
  // For each cell, the digits after the point of a number text, -1 for any other text (every sheet
  // that shows the table asks; readExchangeBlock works it out once). Empty: not worked out.
  std::vector<int> decimals;
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

}  // namespace xlsxgen
