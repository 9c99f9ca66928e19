#include "report_job.h"

#include <algorithm>
#include <cstring>

#include "quarn/cp1251.h"
#include "sheet_grid.h"
#include "xlsx_error.h"

namespace xlsxgen {

namespace {

constexpr std::size_t kMaxText = 32767;  // characters of one cell

void checkCount(int32_t count, int32_t limit, const char* what) {
  if (count < 0 || count > limit)
    throw XlsxError(std::string("Неверный блок обмена: ") + what + " = " + std::to_string(count) +
                    " (допустимо 0.." + std::to_string(limit) + ")");
}

}  // namespace

std::string textFromBlock(const char* cp1251) {
  if (!cp1251) return {};
  std::string raw(cp1251, strnlen(cp1251, kMaxText));
  // Plain ASCII text (numbers, most names) is the same in UTF-8.
  if (std::all_of(raw.begin(), raw.end(),
                  [](char c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n'; }))
    return raw;
  std::string clean;
  clean.reserve(raw.size());
  for (char c : raw)
    if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') clean += c;
  return quarn::text::cp1251ToUtf8(clean);
}

ReportJob readExchangeBlock(const TXlsxExchange& block) {
  checkCount(block.hiddenCount, XLSX_HIDDEN_MAX, "число скрываемых листов");
  checkCount(block.pairCount, XLSX_PAIRS_MAX, "число пар замены");
  checkCount(block.columnCount, XLSX_COLUMN_LIMIT - 1, "число ячеек таблиц");
  checkCount(block.tableCount, XLSX_TABLES_MAX, "число таблиц");

  ReportJob job;
  if (block.templatePath) job.templatePath = textFromBlock(block.templatePath);
  if (block.outputPath) job.outputPath = textFromBlock(block.outputPath);
  for (int32_t i = 0; i < block.hiddenCount; ++i)
    if (block.hidden[i]) job.hiddenSheets.push_back(textFromBlock(block.hidden[i]));
  for (int32_t i = 0; i < block.pairCount; ++i) {
    const TXlsxPair& pair = block.pairs[i];
    if (!pair.key) continue;
    // A key left empty once the characters a workbook cannot hold are dropped would match
    // everywhere (and never stop matching when replaced by nothing).
    std::string key = textFromBlock(pair.key);
    if (key.empty()) continue;
    job.pairs.emplace_back(std::move(key), textFromBlock(pair.value));
  }
  job.columnCount = block.columnCount;
  for (int32_t t = 0; t < block.tableCount; ++t) {
    const TXlsxTable& table = block.tables[t];
    if (!table.name) continue;
    ReportTable out{textFromBlock(table.name), {}, {}};
    out.cells.reserve(static_cast<std::size_t>(block.columnCount));
    out.decimals.reserve(static_cast<std::size_t>(block.columnCount));
    for (int32_t i = 0; i < block.columnCount; ++i) {
      if (table.cells[i])
        out.cells.emplace_back(textFromBlock(table.cells[i]));
      else
        out.cells.emplace_back(std::nullopt);
      const auto& cell = out.cells.back();
      const auto decimals = cell && !cell->empty() ? numberDecimals(*cell) : std::nullopt;
      out.decimals.push_back(decimals ? *decimals : -1);
    }
    job.tables.push_back(std::move(out));
  }
  return job;
}

int cellDecimals(const ReportTable& table, std::size_t i) {
  if (i < table.decimals.size()) return table.decimals[i];
  const auto& cell = table.cells.at(i);
  const auto decimals = cell && !cell->empty() ? numberDecimals(*cell) : std::nullopt;
  return decimals ? *decimals : -1;
}

}  // namespace xlsxgen
