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

void appendTextFromBlock(std::string& out, const char* cp1251) {
  if (!cp1251) return;
  const std::string_view raw(cp1251, strnlen(cp1251, kMaxText));
  // Plain ASCII text (numbers, most names) is the same in UTF-8.
  if (std::all_of(raw.begin(), raw.end(),
                  [](char c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n'; })) {
    out.append(raw);
    return;
  }
  std::string clean;
  clean.reserve(raw.size());
  for (char c : raw)
    if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') clean += c;
  out += quarn::text::cp1251ToUtf8(clean);
}

std::string textFromBlock(const char* cp1251) {
  std::string out;
  appendTextFromBlock(out, cp1251);
  return out;
}

std::optional<std::string_view> ReportTable::text(std::size_t i) const {
  const TableCell& cell = cells.at(i);
  if (!cell.given) return std::nullopt;
  return std::string_view(texts).substr(cell.offset, cell.size);
}

namespace {

// Records the text appended to the table's texts since `start` as a new cell.
void addCell(ReportTable& table, std::size_t start) {
  // The block holds at most 200 texts of 32767 characters a table: far below the limits.
  const std::size_t size = table.texts.size() - start;
  if (size > TableCell::kMaxSize || table.texts.size() > UINT32_MAX)
    throw XlsxError("Неверный блок обмена: слишком длинный текст таблицы");
  TableCell cell;
  cell.offset = static_cast<std::uint32_t>(start);
  cell.size = static_cast<std::uint32_t>(size);
  cell.given = true;
  if (size > 0) {
    const auto decimals = numberDecimals(std::string_view(table.texts).substr(start));
    cell.decimals = decimals ? std::min(*decimals, TableCell::kMaxDecimals) : -1;
  }
  table.cells.push_back(cell);
}

}  // namespace

void ReportTable::add(std::optional<std::string_view> text) {
  if (!text) {
    cells.emplace_back();
    return;
  }
  const std::size_t start = texts.size();
  texts.append(*text);
  addCell(*this, start);
}

void ReportTable::addFromBlock(const char* cp1251) {
  if (!cp1251) {
    cells.emplace_back();
    return;
  }
  const std::size_t start = texts.size();
  appendTextFromBlock(texts, cp1251);
  addCell(*this, start);
}

ReportJob readExchangeBlock(const TXlsxExchange& block) {
  checkCount(block.hiddenCount, XLSX_HIDDEN_MAX, "число скрываемых листов");
  checkCount(block.pairCount, XLSX_PAIRS_MAX, "число пар замены");
  checkCount(block.columnCount, XLSX_COLUMN_LIMIT - 1, "число ячеек таблиц");
  checkCount(block.tableCount, XLSX_TABLES_MAX, "число таблиц");

  ReportJob job;
  job.tables.reserve(static_cast<std::size_t>(block.tableCount));
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
    ReportTable& out = job.tables.emplace_back();
    out.name = textFromBlock(table.name);
    out.cells.reserve(static_cast<std::size_t>(block.columnCount));
    out.texts.reserve(static_cast<std::size_t>(block.columnCount) * 8);  // most cells hold a short number
    for (int32_t i = 0; i < block.columnCount; ++i) out.addFromBlock(table.cells[i]);
  }
  return job;
}

int cellDecimals(const ReportTable& table, std::size_t i) { return table.cells.at(i).decimals; }

}  // namespace xlsxgen
