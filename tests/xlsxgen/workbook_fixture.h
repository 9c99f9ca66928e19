// Small workbooks written part by part for the tests (so each shows exactly the structure a case
// needs: shared and inline strings, rich-text runs, formulas, merged cells, defined names), plus the
// report exchange block the tests hand to MakeXLSX, and a private temporary folder.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "xlsx_exchange.h"

namespace xlsxtest {

using Parts = std::vector<std::pair<std::string, std::string>>;

// Writes a zip with the given entries (names taken as they are).
void writeZip(const std::string& path, const Parts& parts);
// Reads one entry of a zip ("" when missing); `raw` gives the stored (compressed) bytes.
std::string readZipEntry(const std::string& path, const std::string& name, bool raw = false);
// The names of a zip's entries, in their order.
std::vector<std::string> zipEntryNames(const std::string& path);

// Runs `fn` in a child process and says how it ended: "" when it returned within `seconds`, else
// why not (killed by a signal, still running). A hang or a crash of the code under test fails the
// test that asked instead of stopping the whole test program.
std::string endsWithin(int seconds, const std::function<void()>& fn);

struct FixtureSheet {
  std::string name;
  std::string body;  // the worksheet's children: <sheetData>…</sheetData> and what follows it
};

struct FixtureWorkbook {
  std::vector<FixtureSheet> sheets;
  std::vector<std::string> sharedStrings;  // inner XML of each <si>
  std::string definedNames;                // inner XML of <definedNames>
  bool calcChain = false;
  Parts extraParts;  // added as they are (sheet relationships, drawings, …)
};

// The parts of a workbook package (so a case can damage one before writing).
Parts workbookParts(const FixtureWorkbook& wb);
void writeWorkbook(const std::string& path, const FixtureWorkbook& wb);

// Cell helpers for sheet bodies.
std::string cellShared(const std::string& ref, int index, int style = 0);
std::string cellInline(const std::string& ref, const std::string& text, int style = 0);
std::string cellNumber(const std::string& ref, const std::string& number);
std::string cellFormula(const std::string& ref, const std::string& formula);
std::string row(int r, const std::string& cells);

// A report exchange block with its texts (UTF-8 in, Windows-1251 in the block).
class Block {
 public:
  Block();
  Block& files(const std::optional<std::string>& templatePath, const std::optional<std::string>& outputPath);
  Block& hide(const std::string& sheet);
  Block& pair(const std::string& key, const std::string& value);
  Block& columns(int n);
  Block& table(const std::string& name, const std::vector<std::optional<std::string>>& cells);
  TXlsxExchange* raw() { return block_.get(); }
  // Sets the checksum byte and returns the block.
  TXlsxExchange* sealed();

 private:
  char* keep(const std::string& utf8);
  std::unique_ptr<TXlsxExchange> block_;
  std::deque<std::string> texts_;
};

// A fresh folder under /tmp, removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> list() const;  // names in the folder, sorted

 private:
  std::string path_;
};

}  // namespace xlsxtest
