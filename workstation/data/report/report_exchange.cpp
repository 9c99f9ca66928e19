#include "report_exchange.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quarn/cp1251.h"
#include "quarn/library_binding.h"

namespace quarn::report {

namespace {

TXlsxExchange block{};
MessageSink messageSink;
std::string lastError;
std::string lastOutput;

void show(const std::string& caption, const std::string& text) { ShowMessage(caption, text); }

char* copyText(const char* text) { return ::strdup(text ? text : ""); }

void fillOperationTable() {
  block.ops[0] = reinterpret_cast<TXlsxOp>(&SetFiles);
  block.ops[1] = reinterpret_cast<TXlsxOp>(&AddHiddenSheet);
  block.ops[2] = reinterpret_cast<TXlsxOp>(&Add_ReplacePair);
  block.ops[3] = reinterpret_cast<TXlsxOp>(&AddPairFmt);
  block.ops[4] = reinterpret_cast<TXlsxOp>(&SetColumnCount);
  block.ops[5] = reinterpret_cast<TXlsxOp>(&AddTable);
  block.ops[6] = reinterpret_cast<TXlsxOp>(&AddCell);
  block.ops[7] = reinterpret_cast<TXlsxOp>(&AddFloatCell);
  block.ops[8] = reinterpret_cast<TXlsxOp>(&Checksum);
  block.ops[9] = reinterpret_cast<TXlsxOp>(&RunReport);
  block.ops[10] = reinterpret_cast<TXlsxOp>(&FreeReport);
}

TXlsxTable* findTable(const char* name) {
  for (int32_t i = 0; i < block.tableCount && i < XLSX_TABLES_MAX; ++i)
    if (block.tables[i].name && std::strcmp(block.tables[i].name, name) == 0) return &block.tables[i];
  return nullptr;
}

}  // namespace

void setMessageSink(MessageSink sink) { messageSink = std::move(sink); }

void ShowMessage(const std::string& caption, const std::string& text) {
  if (messageSink) {
    messageSink(caption, text);
  } else {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
}

TXlsxExchange& ReportBlock() {
  if (!block.ops[0]) fillOperationTable();
  return block;
}

int SetFiles(const char* templatePath, const char* outputPath) {
  if (!templatePath || !outputPath || !*templatePath || !*outputPath) return -1;
  std::free(block.templatePath);
  std::free(block.outputPath);
  block.templatePath = copyText(templatePath);
  block.outputPath = copyText(outputPath);
  return 0;
}

int AddHiddenSheet(const char* name) {
  if (!name || block.hiddenCount < 0 || block.hiddenCount >= XLSX_HIDDEN_MAX) return -1;
  block.hidden[block.hiddenCount++] = copyText(name);
  return 0;
}

int Add_ReplacePair(const char* key, const char* value) {
  if (!key || !*key || block.pairCount < 0 || block.pairCount >= XLSX_PAIRS_MAX) return -1;
  const std::size_t keyLength = std::strlen(key);
  for (int32_t i = 0; i < block.pairCount; ++i) {
    const char* listed = block.pairs[i].key;
    if (!listed) continue;
    if (keyLength > std::strlen(listed) && std::strstr(key, listed)) {
      show("  Add_ReplacePair()", " Нужно изменить порядок добавлния!\n Добавляется идентификатор  " +
                                      text::cp1251ToUtf8(key) + "\n Он длинее уже добавленного  " +
                                      text::cp1251ToUtf8(listed) + "\n (сначала длинные)");
      return -1;
    }
  }
  block.pairs[block.pairCount].key = copyText(key);
  block.pairs[block.pairCount].value = copyText(value);
  ++block.pairCount;
  return 0;
}

int AddPairFmt(const char* keyFormat, int number, const char* value) {
  if (!keyFormat) return -1;
  std::string key = keyFormat;
  // Only the one "%d" is filled; no other conversion is interpreted.
  if (const auto at = key.find("%d"); at != std::string::npos) key.replace(at, 2, std::to_string(number));
  return Add_ReplacePair(key.c_str(), value);
}

int SetColumnCount(int n) {
  if (n < 0 || n >= XLSX_COLUMN_LIMIT) return -1;
  block.columnCount = n;
  return 0;
}

int AddTable(const char* name) {
  if (!name || block.tableCount < 0 || block.tableCount >= XLSX_TABLES_MAX) return -1;
  const int32_t t = block.tableCount++;
  block.tables[t].name = copyText(name);
  for (int i = 0; i < XLSX_TABLE_CELLS; ++i) block.tables[t].cells[i] = nullptr;
  return 0;
}

int AddCell(const char* tableName, const char* text) {
  if (!tableName || !text) return -1;
  TXlsxTable* table = findTable(tableName);
  if (!table) return -1;
  // A cell is empty while it has no text at all; an empty text still takes its place, so the
  // tables stay aligned row by row.
  for (int32_t i = 0; i < block.columnCount && i < XLSX_TABLE_CELLS; ++i) {
    if (!table->cells[i]) {
      table->cells[i] = copyText(text);
      return 0;
    }
  }
  return -1;
}

int AddFloatCell(const char* table, double value, int decimals) {
  if (!std::isfinite(value) || std::fabs(value) > 1e27) return AddCell(table, " ");
  const int d = decimals < 0 ? 0 : decimals > 15 ? 15 : decimals;
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", d, value);
  return AddCell(table, text);
}

int Checksum() {
  ReportBlock();
  block.checksum = xlsx_exchange_checksum(&block);
  return 0;
}

int RunReport() {
  lastError.clear();
  lastOutput.clear();
  void* library = nullptr;
  const std::string beside = host::programFolder();
  if (!beside.empty()) library = ::dlopen((beside + kReportLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) library = ::dlopen(kReportLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    lastError = "Библиотека " + std::string(kReportLibrary) + " не найдена!";
    show("Error", lastError);
    return -1;
  }
  auto make = reinterpret_cast<TMakeXLSX>(::dlsym(library, "MakeXLSX"));
  if (!make) {
    lastError = "Функция MakeXLSX не найдена!";
    show("Error", lastError);
    ::dlclose(library);
    return -2;
  }
  const int result = make(&ReportBlock());
  if (auto error = reinterpret_cast<TMakeXLSX_LastError>(::dlsym(library, "MakeXLSX_LastError")))
    lastError = text::cp1251ToUtf8(error());
  if (auto output = reinterpret_cast<TMakeXLSX_LastOutput>(::dlsym(library, "MakeXLSX_LastOutput")))
    lastOutput = output();
  ::dlclose(library);
  if (result != 0 && !lastError.empty()) show("Ошибка формирования протокола", lastError);
  return result;
}

// The block is packed and its addresses are not aligned: fields are read and written directly,
// never through references or pointers to them.
int FreeReport() {
  std::free(block.templatePath);
  block.templatePath = nullptr;
  std::free(block.outputPath);
  block.outputPath = nullptr;
  for (int i = 0; i < XLSX_HIDDEN_MAX; ++i) {
    std::free(block.hidden[i]);
    block.hidden[i] = nullptr;
  }
  for (int i = 0; i < XLSX_PAIRS_MAX; ++i) {
    std::free(block.pairs[i].key);
    block.pairs[i].key = nullptr;
    std::free(block.pairs[i].value);
    block.pairs[i].value = nullptr;
  }
  for (int t = 0; t < XLSX_TABLES_MAX; ++t) {
    std::free(block.tables[t].name);
    block.tables[t].name = nullptr;
    for (int i = 0; i < XLSX_TABLE_CELLS; ++i) {
      std::free(block.tables[t].cells[i]);
      block.tables[t].cells[i] = nullptr;
    }
  }
  block.hiddenCount = 0;
  block.pairCount = 0;
  block.tableCount = 0;
  block.columnCount = 0;
  block.checksum = 0;
  return 0;
}

const std::string& LastReportError() { return lastError; }
const std::string& LastReportOutput() { return lastOutput; }

}  // namespace quarn::report
