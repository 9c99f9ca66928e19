#include "workbook_fixture.h"

#include <dirent.h>
#include <ftw.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "quarn/cp1251.h"

namespace xlsxtest {

namespace {
std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}
}  // namespace

void writeZip(const std::string& path, const Parts& parts) {
  int code = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!z) throw std::runtime_error("cannot create " + path);
  for (const auto& [name, bytes] : parts) {
    zip_source_t* s = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    if (!s || zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE) < 0)
      throw std::runtime_error("cannot add " + name);
  }
  if (zip_close(z) != 0) throw std::runtime_error("cannot write " + path);
}

std::string readZipEntry(const std::string& path, const std::string& name, bool raw) {
  int code = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (!z) return {};
  std::string data;
  zip_stat_t st;
  const zip_flags_t flags = raw ? ZIP_FL_COMPRESSED : 0;
  if (zip_stat(z, name.c_str(), 0, &st) == 0) {
    if (zip_file_t* f = zip_fopen(z, name.c_str(), flags)) {
      data.resize(raw ? st.comp_size : st.size);
      if (zip_fread(f, data.data(), data.size()) != static_cast<zip_int64_t>(data.size())) data.clear();
      zip_fclose(f);
    }
  }
  zip_discard(z);
  return data;
}

std::vector<std::string> zipEntryNames(const std::string& path) {
  std::vector<std::string> names;
  int code = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (!z) return names;
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i)
    names.emplace_back(zip_get_name(z, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW));
  zip_discard(z);
  return names;
}

std::string endsWithin(int seconds, const std::function<void()>& fn) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    fn();
    ::_exit(0);
  }
  int status = 0;
  for (int waited = 0; waited < seconds * 100; ++waited) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
      return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "exited with " + std::to_string(status);
    }
    ::usleep(10000);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return "still running after " + std::to_string(seconds) + " s";
}

Parts workbookParts(const FixtureWorkbook& wb) {
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  std::string types =
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
      R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
      R"(<Default Extension="xml" ContentType="application/xml"/>)"
      R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
      R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)"
      R"(<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>)";
  std::string sheets, rels;
  Parts parts;
  for (std::size_t i = 0; i < wb.sheets.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    types +=
        R"(<Override PartName="/xl/worksheets/sheet)" + n +
        R"(.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)";
    sheets +=
        "<sheet name=\"" + escape(wb.sheets[i].name) + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet" + n +
            ".xml\"/>";
    parts.emplace_back("xl/worksheets/sheet" + n + ".xml",
                       R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                       "<worksheet xmlns=\"" +
                           main + "\" xmlns:r=\"" + rel + "\">" + wb.sheets[i].body + "</worksheet>");
  }
  if (wb.calcChain)
    types +=
        R"(<Override PartName="/xl/calcChain.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/>)";
  types += "</Types>";
  rels += "<Relationship Id=\"rIdS\" Type=\"" + rel + "/styles\" Target=\"styles.xml\"/>";
  rels += "<Relationship Id=\"rIdT\" Type=\"" + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
  if (wb.calcChain)
    rels += "<Relationship Id=\"rIdC\" Type=\"" + rel + "/calcChain\" Target=\"calcChain.xml\"/>";

  std::string sst;
  for (const auto& si : wb.sharedStrings) sst += "<si>" + si + "</si>";

  parts.emplace_back("[Content_Types].xml", types);
  parts.emplace_back("_rels/.rels",
                     R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                     R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
                     "<Relationship Id=\"rId1\" Type=\"" +
                         rel +
                         "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                         "</Relationships>");
  parts.emplace_back(
      "xl/workbook.xml",
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "<workbook xmlns=\"" +
          main + "\" xmlns:r=\"" + rel +
          "\">"
          "<bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>" +
          sheets + "</sheets>" +
          (wb.definedNames.empty() ? "" : "<definedNames>" + wb.definedNames + "</definedNames>") +
          "<calcPr calcId=\"191029\"/></workbook>");
  parts.emplace_back(
      "xl/_rels/workbook.xml.rels",
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)" +
          rels + "</Relationships>");
  parts.emplace_back(
      "xl/styles.xml",
      R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
      "<styleSheet xmlns=\"" +
          main +
          "\">"
          "<fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
          "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
          "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
          "patternType=\"gray125\"/></fill></fills>"
          "<borders count=\"2\"><border><left/><right/><top/><bottom/><diagonal/></border>"
          "<border><left style=\"thin\"/><right style=\"thin\"/><top style=\"thin\"/><bottom "
          "style=\"thin\"/><diagonal/></border></borders>"
          "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
          "borderId=\"0\"/></cellStyleXfs>"
          "<cellXfs count=\"3\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
          "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"1\" xfId=\"0\" applyBorder=\"1\"/>"
          "<xf numFmtId=\"10\" fontId=\"0\" fillId=\"0\" borderId=\"1\" xfId=\"0\" "
          "applyNumberFormat=\"1\"/></cellXfs>"
          "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
          "</styleSheet>");
  parts.emplace_back("xl/sharedStrings.xml",
                     R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                     "<sst xmlns=\"" +
                         main + "\" count=\"" + std::to_string(wb.sharedStrings.size()) +
                         "\" uniqueCount=\"" + std::to_string(wb.sharedStrings.size()) + "\">" + sst +
                         "</sst>");
  for (const auto& extra : wb.extraParts) parts.push_back(extra);
  if (wb.calcChain)
    parts.emplace_back("xl/calcChain.xml",
                       "<calcChain xmlns=\"" + main + "\"><c r=\"A1\" i=\"1\"/></calcChain>");
  return parts;
}

void writeWorkbook(const std::string& path, const FixtureWorkbook& wb) { writeZip(path, workbookParts(wb)); }

std::string cellShared(const std::string& ref, int index, int style) {
  return "<c r=\"" + ref + "\"" + (style ? " s=\"" + std::to_string(style) + "\"" : "") + " t=\"s\"><v>" +
         std::to_string(index) + "</v></c>";
}
std::string cellInline(const std::string& ref, const std::string& text, int style) {
  return "<c r=\"" + ref + "\"" + (style ? " s=\"" + std::to_string(style) + "\"" : "") +
         " t=\"inlineStr\"><is><t>" + escape(text) + "</t></is></c>";
}
std::string cellNumber(const std::string& ref, const std::string& number) {
  return "<c r=\"" + ref + "\"><v>" + number + "</v></c>";
}
std::string cellFormula(const std::string& ref, const std::string& formula) {
  return "<c r=\"" + ref + "\"><f>" + escape(formula) + "</f></c>";
}
std::string row(int r, const std::string& cells) {
  return "<row r=\"" + std::to_string(r) + "\">" + cells + "</row>";
}

Block::Block() : block_(std::make_unique<TXlsxExchange>()) {
  std::memset(block_.get(), 0, sizeof(TXlsxExchange));
  // Operation addresses of a host: any values, but part of the checksum.
  for (int i = 0; i < XLSX_OPS_COUNT; ++i) block_->ops[i] = reinterpret_cast<TXlsxOp>(0x1000 + 0x37 * i);
}

char* Block::keep(const std::string& utf8) {
  texts_.push_back(quarn::text::utf8ToCp1251(utf8));
  return texts_.back().data();
}

Block& Block::files(const std::optional<std::string>& templatePath,
                    const std::optional<std::string>& outputPath) {
  block_->templatePath = templatePath ? keep(*templatePath) : nullptr;
  block_->outputPath = outputPath ? keep(*outputPath) : nullptr;
  return *this;
}

Block& Block::hide(const std::string& sheet) {
  block_->hidden[block_->hiddenCount++] = keep(sheet);
  return *this;
}

Block& Block::pair(const std::string& key, const std::string& value) {
  block_->pairs[block_->pairCount].key = keep(key);
  block_->pairs[block_->pairCount].value = keep(value);
  ++block_->pairCount;
  return *this;
}

Block& Block::columns(int n) {
  block_->columnCount = n;
  return *this;
}

Block& Block::table(const std::string& name, const std::vector<std::optional<std::string>>& cells) {
  TXlsxTable& t = block_->tables[block_->tableCount++];
  t.name = keep(name);
  for (std::size_t i = 0; i < cells.size() && i < XLSX_TABLE_CELLS; ++i)
    t.cells[i] = cells[i] ? keep(*cells[i]) : nullptr;
  return *this;
}

TXlsxExchange* Block::sealed() {
  block_->checksum = xlsx_exchange_checksum(block_.get());
  return block_.get();
}

namespace {
int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }
}  // namespace

TempFolder::TempFolder() {
  char name[] = "/tmp/xlsxgen-test.XXXXXX";
  if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp");
  path_ = name;
}

TempFolder::~TempFolder() { ::nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::vector<std::string> TempFolder::list() const {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(path_.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.emplace_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace xlsxtest
