#include "report_exchange.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quarn/cp1251.h"
#include "quarn/library_binding.h"

namespace quarn::report {

namespace {

TXlsxExchange block{};
MessageSink messageSink;
std::string lastError;
std::string lastOutput;
std::string libraryPath;

void show(const std::string& caption, const std::string& text) { ShowMessage(caption, text); }

char* copyText(const char* text) { return ::strdup(text ? text : ""); }

// The tables' cell texts, copied one after another into chunks kept from one report to the next
// rather than each into an allocation of its own: a report of four channels with 199 points has
// some 5800 short cells, which as separate allocations took four times their size and as many
// allocations and releases per report. A release empties the chunks; they stay valid until then.
class CellTexts {
 public:
  char* copy(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    while (current_ < chunks_.size() && chunks_[current_].size - used_ < size) {
      ++current_;
      used_ = 0;
    }
    if (current_ == chunks_.size()) {
      // Not cleared: only the bytes texts are copied into are ever written.
      const std::size_t bytes = std::max(size, kChunkBytes);
      chunks_.push_back({std::make_unique_for_overwrite<char[]>(bytes), bytes});
      used_ = 0;
    }
    char* out = chunks_[current_].bytes.get() + used_;
    std::memcpy(out, text, size);
    used_ += size;
    return out;
  }
  // Forgets every text; the first chunk is kept for the next report, the others let go.
  void clear() {
    if (chunks_.size() > 1) chunks_.resize(1);
    current_ = 0;
    used_ = 0;
  }

 private:
  static constexpr std::size_t kChunkBytes = 64u << 10;
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t size;
  };
  std::vector<Chunk> chunks_;
  std::size_t current_ = 0;  // the chunk the next text goes to
  std::size_t used_ = 0;     // bytes of it taken
};
CellTexts cellTexts;

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

// The tables by name and where each one's next cell goes, so that a cell costs neither a scan of the
// tables nor one of the cells already filled (a report of four channels with 199 points fills
// about 5600). AddTable and FreeReport keep it in step with the block; a name listed twice finds
// its first table, as a search of the block would.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
std::unordered_map<std::string, int32_t, NameHash, std::equal_to<>> tableByName;
std::array<int32_t, XLSX_TABLES_MAX> nextCell{};
// How far the operations have filled each list since the last release, so that a release frees
// those texts instead of walking every slot of the block (some 8000 addresses).
struct Filled {
  int32_t hidden = 0;
  int32_t pairs = 0;
  int32_t tables = 0;
};
Filled filled;

// The keys Add_ReplacePair listed, found by what they start with, so that a new key is compared only
// with the listed keys that start where some part of it does: a report lists hundreds of keys, and
// a search of every listed key in every new one made the pairs' check the larger part of a report's
// assembly. Keys of three bytes or more are filed under their first three bytes, shorter ones apart;
// each list holds slots in the order they were listed. The pairs are written only here.
struct ListedKeys {
  std::unordered_map<uint32_t, std::vector<int32_t>> byStart;
  std::vector<int32_t> shortKeys;
  std::array<std::size_t, XLSX_PAIRS_MAX> length{};

  static uint32_t startOf(const char* text) {
    return static_cast<uint32_t>(static_cast<unsigned char>(text[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(text[2])) << 16;
  }
  void add(int32_t slot, const char* key, std::size_t keyLength) {
    length[static_cast<std::size_t>(slot)] = keyLength;
    if (keyLength < 3)
      shortKeys.push_back(slot);
    else
      byStart[startOf(key)].push_back(slot);
  }
  // The first slot whose key is shorter than `key` and lies inside it, or -1.
  int32_t firstInside(const char* key, std::size_t keyLength) const {
    int32_t first = -1;
    const auto inside = [&](int32_t slot, std::size_t at) {
      const std::size_t n = length[static_cast<std::size_t>(slot)];
      const char* listed = slot < block.pairCount ? block.pairs[slot].key : nullptr;
      return listed && n < keyLength && at + n <= keyLength && std::memcmp(key + at, listed, n) == 0;
    };
    for (const int32_t slot : shortKeys) {
      if (first >= 0 && slot >= first) break;
      for (std::size_t at = 0; at < keyLength; ++at)
        if (inside(slot, at)) {
          first = slot;
          break;
        }
    }
    for (std::size_t at = 0; at + 3 <= keyLength; ++at) {
      const auto it = byStart.find(startOf(key + at));
      if (it == byStart.end()) continue;
      for (const int32_t slot : it->second) {
        if (first >= 0 && slot >= first) break;
        if (inside(slot, at)) first = slot;
      }
    }
    return first;
  }
  void clear() {
    byStart.clear();
    shortKeys.clear();
  }
};
ListedKeys listedKeys;

int32_t findTable(const char* name) {
  const auto it = tableByName.find(std::string_view(name));
  return it == tableByName.end() ? -1 : it->second;
}

}  // namespace

void setMessageSink(MessageSink sink) { messageSink = std::move(sink); }

void setReportLibraryPath(const std::string& path) { libraryPath = path; }

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
  filled.hidden = std::max(filled.hidden, block.hiddenCount);
  return 0;
}

int Add_ReplacePair(const char* key, const char* value) {
  if (!key || !*key || block.pairCount < 0 || block.pairCount >= XLSX_PAIRS_MAX) return -1;
  const std::size_t keyLength = std::strlen(key);
  if (const int32_t inside = listedKeys.firstInside(key, keyLength); inside >= 0) {
    show("  Add_ReplacePair()", " Нужно изменить порядок добавлния!\n Добавляется идентификатор  " +
                                    text::cp1251ToUtf8(key) + "\n Он длинее уже добавленного  " +
                                    text::cp1251ToUtf8(block.pairs[inside].key) + "\n (сначала длинные)");
    return -1;
  }
  block.pairs[block.pairCount].key = copyText(key);
  block.pairs[block.pairCount].value = copyText(value);
  listedKeys.add(block.pairCount, key, keyLength);
  ++block.pairCount;
  filled.pairs = std::max(filled.pairs, block.pairCount);
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
  filled.tables = std::max(filled.tables, block.tableCount);
  block.tables[t].name = copyText(name);
  for (int i = 0; i < XLSX_TABLE_CELLS; ++i) block.tables[t].cells[i] = nullptr;
  tableByName.emplace(name, t);
  nextCell[static_cast<std::size_t>(t)] = 0;
  return 0;
}

int AddCell(const char* tableName, const char* text) {
  if (!tableName || !text) return -1;
  const int32_t t = findTable(tableName);
  if (t < 0) return -1;
  // Cells fill the first n places in order. A cell is empty while it has no text at all; an empty
  // text still takes its place, so the tables stay aligned row by row.
  int32_t& next = nextCell[static_cast<std::size_t>(t)];
  if (next >= block.columnCount || next >= XLSX_TABLE_CELLS) return -1;
  block.tables[t].cells[next++] = cellTexts.copy(text);
  return 0;
}

std::string fixedText(double value, int decimals) {
  const int d = decimals < 0 ? 0 : decimals > 15 ? 15 : decimals;
  // to_chars writes as printf does in the "C" locale: the point stays a point whatever locale the
  // host runs in (a comma would turn the workbook's numbers into texts).
  char text[400];
  const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, d);
  if (r.ec != std::errc()) return {};
  const bool zero = std::all_of(text, r.ptr, [](char c) { return c == '-' || c == '0' || c == '.'; });
  return std::string(zero && text[0] == '-' ? text + 1 : text, r.ptr);
}

int AddFloatCell(const char* table, double value, int decimals) {
  if (!std::isfinite(value) || std::fabs(value) > 1e27) return AddCell(table, " ");
  return AddCell(table, fixedText(value, decimals).c_str());
}

namespace {

// The block's checksum byte as xlsx_exchange_checksum defines it (0xFF plus every byte before the
// checksum, modulo 256), summed eight bytes at a time: the block is some 60 KB and is sealed for
// every report. Each word adds its bytes pairwise into four 16-bit lanes; 128 words add at most
// 128 * 2 * 255 to a lane, so the lanes are folded into the sum before they could overflow.
uint8_t blockChecksum(const TXlsxExchange& b) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&b);
  const std::size_t n = offsetof(TXlsxExchange, checksum);
  constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
  uint32_t sum = 0xFF;
  std::size_t i = 0;
  while (n - i >= 8) {
    const std::size_t end = i + 8 * std::min<std::size_t>((n - i) / 8, 128);
    uint64_t lanes = 0;
    for (; i < end; i += 8) {
      uint64_t word;
      std::memcpy(&word, bytes + i, sizeof word);
      lanes += (word & kEvenBytes) + ((word >> 8) & kEvenBytes);
    }
    sum += static_cast<uint32_t>((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) +
                                 (lanes >> 48));
  }
  for (; i < n; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum);
}

}  // namespace

int Checksum() {
  ReportBlock();
  block.checksum = blockChecksum(block);
  return 0;
}

int RunReport() {
  lastError.clear();
  lastOutput.clear();
  void* library = nullptr;
  if (!libraryPath.empty()) {
    library = ::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  } else {
    const std::string beside = host::programFolder();
    if (!beside.empty()) library = ::dlopen((beside + kReportLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) library = ::dlopen(kReportLibrary, RTLD_NOW | RTLD_LOCAL);
  }
  if (!library) {
    lastError =
        "Библиотека " + (libraryPath.empty() ? std::string(kReportLibrary) : libraryPath) + " не найдена!";
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
// Only the slots the operations filled hold texts: the first `filled` entries of each list, and
// the first nextCell cells of each table (cells fill in order).
int FreeReport() {
  std::free(block.templatePath);
  block.templatePath = nullptr;
  std::free(block.outputPath);
  block.outputPath = nullptr;
  for (int i = 0; i < filled.hidden; ++i) {
    std::free(block.hidden[i]);
    block.hidden[i] = nullptr;
  }
  for (int i = 0; i < filled.pairs; ++i) {
    std::free(block.pairs[i].key);
    block.pairs[i].key = nullptr;
    std::free(block.pairs[i].value);
    block.pairs[i].value = nullptr;
  }
  for (int t = 0; t < filled.tables; ++t) {
    std::free(block.tables[t].name);
    block.tables[t].name = nullptr;
    for (int i = 0; i < nextCell[static_cast<std::size_t>(t)]; ++i) block.tables[t].cells[i] = nullptr;
  }
  cellTexts.clear();
  filled = Filled{};
  listedKeys.clear();
  tableByName.clear();
  nextCell.fill(0);
  block.hiddenCount = 0;
  block.pairCount = 0;
  block.tableCount = 0;
  block.columnCount = 0;
  block.checksum = 0;
  return 0;
}

const std::string& LastReportError() { return lastError; }

void RefuseReport(const std::string& why) {
  lastError = why;
  lastOutput.clear();
  show("Ошибка формирования протокола", why);
}
const std::string& LastReportOutput() { return lastOutput; }

}  // namespace quarn::report
