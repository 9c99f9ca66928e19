// MakeXLSX on small workbooks, read back with openpyxl: hiding, renaming, placeholder replacement,
// the multiplied table row and the table columns, output naming, and the failures.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <zip.h>

#include <cstddef>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "fill_check.h"
#include "openpyxl_reader.h"
#include "quarn/cp1251.h"
#include "workbook_fixture.h"
#include "xlsx_error.h"
#include "xlsx_exchange.h"

using namespace xlsxtest;
using nlohmann::json;

namespace {

// The block keeps its order and counts; addresses have the build's width.
constexpr std::size_t kAddr = sizeof(void*);
static_assert(offsetof(TXlsxExchange, templatePath) == 11 * kAddr);
static_assert(offsetof(TXlsxExchange, hiddenCount) == 13 * kAddr);
static_assert(offsetof(TXlsxExchange, pairCount) == 13 * kAddr + 4 + 15 * kAddr);
static_assert(offsetof(TXlsxExchange, columnCount) == 13 * kAddr + 8 + (15 + 2048) * kAddr);
static_assert(offsetof(TXlsxExchange, checksum) == 13 * kAddr + 16 + (15 + 2048 + 29 * 201) * kAddr);
static_assert(kAddr != 4 || offsetof(TXlsxExchange, checksum) == 0x7B94);
static_assert(kAddr != 8 || sizeof(TXlsxExchange) == 63257);

std::string lastError() { return quarn::text::cp1251ToUtf8(MakeXLSX_LastError()); }

// The Latin words of a message outside its quoted names, other than the names of the formats
// ("Excel", "xlsx", "XML", "zip"): an English text from a library inside a Russian message shows here.
std::string latinWords(const std::string& message) {
  std::string words, word;
  bool quoted = false;
  for (std::size_t i = 0; i <= message.size(); ++i) {
    const char c = i < message.size() ? message[i] : ' ';
    if (c == '"') quoted = !quoted;
    if (!quoted && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
      word += c;
      continue;
    }
    if (!word.empty() && word != "Excel" && word != "xlsx" && word != "XML" && word != "zip")
      words += word + " ";
    word.clear();
  }
  return words;
}

#define REQUIRE_OPENPYXL()                                             \
  do {                                                                 \
    if (!openpyxlMissing().empty()) GTEST_SKIP() << openpyxlMissing(); \
  } while (0)

json dump(const std::string& path) {
  std::string error;
  auto d = readWorkbook(path, &error);
  EXPECT_TRUE(d.has_value()) << "openpyxl could not read " << path << ":\n" << error;
  return d ? *d : json::object({{"sheets", json::array()}});
}

// The example of a protocol sheet: a table row with two table names (columns 1 and 3), a copied
// text (column 2), a number (column 4), the marker (column 5) and a formula right of it with
// relative, absolute and sheet-qualified references, with things below the table that must move
// down, plus a sheet to hide and a sheet to rename.
FixtureWorkbook exampleWorkbook() {
  FixtureWorkbook wb;
  wb.sharedStrings = {
      "<t>Протокол &amp;NUM от &amp;DATE</t>",
      // "&NAME" split across two runs; the second run is bold.
      "<r><t>&amp;NA</t></r><r><rPr><b/></rPr><t>ME датчика</t></r>",
      "<r><t>без </t></r><r><rPr><b/></rPr><t>замен</t></r>",
      "<t>&amp;LST_F</t>",
  };
  wb.sheets.push_back({"&SH_A", "<sheetData>" + row(1, cellInline("A1", "Номер &NUM")) + "</sheetData>"});
  wb.sheets.push_back(
      {"Prot",
       "<dimension ref=\"A1:H9\"/><sheetData>" +
           row(1, cellShared("A1", 0) + cellInline("B1", "&NUM_FULL") +
                      "<c r=\"C1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">   </t></is></c>") +
           row(2, cellShared("A2", 1) + cellShared("B2", 2)) +
           row(5, cellInline("A5", "&T1", 1) + cellInline("B5", "copied text") + cellInline("C5", "&T2", 1) +
                      cellNumber("D5", "42") + cellShared("E5", 3) + cellInline("F5", "merged") +
                      cellFormula("H5", "D5*2+$D$5+D$5+$D5+Prot!D5+'&SH_A'!A1+$A$9")) +
           row(7, cellInline("A7", "below") + cellFormula("B7", "SUM(D5:D5)") + cellFormula("C7", "A9") +
                      cellFormula("D7", "'&SH_A'!A1")) +
           row(9, cellNumber("A9", "99")) +
           "</sheetData><mergeCells count=\"2\"><mergeCell ref=\"F5:G5\"/>"
           "<mergeCell ref=\"A9:C9\"/></mergeCells>"});
  // The hidden sheet's formula names the renamed sheet and rows below the table.
  wb.sheets.push_back(
      {"&SH_HIDE", "<sheetData>" +
                       row(1, cellInline("A1", "&NUM") + cellFormula("B1", "'&SH_A'!A1+Prot!A9")) +
                       "</sheetData>"});
  wb.definedNames =
      "<definedName name=\"_xlnm.Print_Area\" localSheetId=\"1\">Prot!$A$1:$E$9</definedName>"
      "<definedName name=\"Head\">'&amp;SH_A'!$A$1</definedName>";
  wb.calcChain = true;
  return wb;
}

class MakeXlsx : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string templ() const { return dir.file("template.xlsx"); }
};

TEST_F(MakeXlsx, FillsTheExampleSheetHidesRenamesAndReplaces) {
  REQUIRE_OPENPYXL();
  writeWorkbook(templ(), exampleWorkbook());
  Block block;
  block.files(templ(), dir.file("out.xlsx"))
      .hide("&SH_HIDE")
      .pair("&SH_HIDE", "не переименовывать")  // a hidden sheet keeps its name
      .pair("&SH_A", "Лист А")
      .pair("&NUM_FULL", "номер полностью")  // longer key first
      .pair("&NUM", "7")
      .pair("&DATE", "01.02.2024")
      .pair("&NAME", "Имя")
      .columns(3)
      .table("&T1", {"1.5", "2.50", "x"})
      .table("&T2", {"a", std::nullopt, ""});
  ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
  EXPECT_EQ(std::string(MakeXLSX_LastOutput()), dir.file("out.xlsx"));

  const json d = dump(dir.file("out.xlsx"));
  ASSERT_EQ(d["sheets"].size(), 3u);
  EXPECT_EQ(d["sheets"][0]["name"], "Лист А");
  EXPECT_EQ(d["sheets"][0]["state"], "visible");
  EXPECT_EQ(d["sheets"][0]["cells"]["A1"], "Номер 7");
  EXPECT_EQ(d["sheets"][2]["name"], "&SH_HIDE");
  EXPECT_EQ(d["sheets"][2]["state"], "hidden");
  EXPECT_EQ(d["sheets"][2]["cells"]["A1"], "&NUM");  // nothing else is done on a hidden sheet
  // but its formulas follow the rename and the rows inserted on other sheets.
  EXPECT_EQ(d["sheets"][2]["cells"]["B1"], "='Лист А'!A1+Prot!A11");
  EXPECT_EQ(d["defined_names"]["Head"], "'Лист А'!$A$1");

  const json& s = sheetNamed(d, "Prot");
  ASSERT_FALSE(s.is_null());
  const json& c = s["cells"];
  EXPECT_EQ(c["A1"], "Протокол 7 от 01.02.2024");
  EXPECT_EQ(c["B1"], "номер полностью");
  EXPECT_EQ(c["A2"], "Имя датчика");  // found across the rich-text runs
  EXPECT_EQ(c["B2"], "без замен");
  EXPECT_EQ(c["C1"], "   ");  // a text of blanks stays when the sheet is written anew
  // The marker row is there three times; tables in columns 1 and 3, column 2 copied.
  EXPECT_EQ(c["A5"], 1.5);
  EXPECT_EQ(c["A6"], 2.5);
  EXPECT_EQ(s["types"]["A6"], "n");
  EXPECT_EQ(s["formats"]["A6"], "0.00");  // shows the two decimals it was given
  EXPECT_EQ(c["A7"], "x");
  EXPECT_EQ(c["C5"], "a");
  EXPECT_FALSE(c.contains("C6"));  // no value: the table's name is not left behind
  EXPECT_FALSE(c.contains("C7"));
  for (const char* ref : {"B5", "B6", "B7"}) EXPECT_EQ(c[ref], "copied text") << ref;
  for (const char* ref : {"D5", "D6", "D7"}) EXPECT_EQ(c[ref], 42) << ref;
  for (const char* ref : {"E5", "E6", "E7"}) EXPECT_EQ(c[ref], " ") << ref;
  // The copies' formulas follow their own row where the row is relative; absolute rows stay, a
  // reference below the table moved with the rows, and the rename of the sheet named in the
  // formula (done after this sheet was filled) reached the copies too.
  EXPECT_EQ(c["H5"], "=D5*2+$D$5+D$5+$D5+Prot!D5+'Лист А'!A1+$A$11");
  EXPECT_EQ(c["H6"], "=D6*2+$D$5+D$5+$D6+Prot!D6+'Лист А'!A1+$A$11");
  EXPECT_EQ(c["H7"], "=D7*2+$D$5+D$5+$D7+Prot!D7+'Лист А'!A1+$A$11");
  // Everything below moved down by two rows; references followed.
  EXPECT_EQ(c["A9"], "below");
  EXPECT_EQ(c["B9"], "=SUM(D5:D7)");
  EXPECT_EQ(c["C9"], "=A11");
  EXPECT_EQ(c["D9"], "='Лист А'!A1");
  EXPECT_EQ(c["A11"], 99);
  EXPECT_EQ(s["max_row"], 11);
  EXPECT_EQ(s["merged"], json({"A11:C11", "F5:G5", "F6:G6", "F7:G7"}));
  EXPECT_EQ(s["print_area"], "$A$1:$E$11");
  // Cells moved, so the calculation chain is dropped.
  EXPECT_EQ(readZipEntry(dir.file("out.xlsx"), "xl/calcChain.xml"), "");
}

TEST_F(MakeXlsx, MarkerRowForNoneOneAndTheMostRecords) {
  REQUIRE_OPENPYXL();
  FixtureWorkbook wb;
  wb.sheets.push_back(
      {"S", "<sheetData>" +
                row(1, cellInline("A1", "&T") + cellInline("B1", "keep") + cellInline("C1", "&LST_F")) +
                row(2, cellInline("A2", "after")) + "</sheetData>"});
  writeWorkbook(templ(), wb);
  for (int n : {0, 1, 199}) {
    SCOPED_TRACE(n);
    std::vector<std::optional<std::string>> cells;
    for (int i = 0; i < n; ++i) cells.push_back(std::to_string(i * 10));
    Block block;
    const std::string out = dir.file("n" + std::to_string(n) + ".xlsx");
    block.files(templ(), out).columns(n).table("&T", cells);
    ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
    const json s = dump(out)["sheets"][0];
    const json& c = s["cells"];
    const int rows = n < 1 ? 1 : n;
    for (int i = 0; i < n; ++i) ASSERT_EQ(c[std::string("A") + std::to_string(i + 1)], i * 10) << i;
    if (n == 0) {
      EXPECT_FALSE(c.contains("A1"));
    }
    for (int i = 1; i <= rows; ++i) EXPECT_EQ(c["B" + std::to_string(i)], "keep");
    EXPECT_EQ(c["C1"], " ");
    EXPECT_EQ(c["A" + std::to_string(rows + 1)], "after");
    EXPECT_EQ(s["max_row"], rows + 1);
  }
}

// Two tables of one name fill one column, the second over the first row by row where it has a text;
// each number gets the format of its own decimals, so one column holds several.
TEST_F(MakeXlsx, TablesOfOneNameWriteOverEachOtherRowByRow) {
  REQUIRE_OPENPYXL();
  FixtureWorkbook wb;
  wb.sheets.push_back(
      {"S", "<sheetData>" + row(1, cellInline("A1", "&T") + cellInline("B1", "&LST_F")) + "</sheetData>"});
  writeWorkbook(templ(), wb);
  Block block;
  const std::string out = dir.file("out.xlsx");
  block.files(templ(), out)
      .columns(5)
      .table("&T", {"1.5", "2.25", "x", std::nullopt, "4"})
      .table("&T", {std::nullopt, "7", "3.125", "", "text"});
  ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
  const json s = dump(out)["sheets"][0];
  const json& c = s["cells"];
  EXPECT_EQ(c["A1"], 1.5);
  EXPECT_EQ(s["formats"]["A1"], "0.0");
  EXPECT_EQ(c["A2"], 7);
  EXPECT_EQ(c["A3"], 3.125);
  EXPECT_EQ(s["formats"]["A3"], "0.000");
  EXPECT_FALSE(c.contains("A4"));  // an empty text writes nothing over nothing
  EXPECT_EQ(c["A5"], "text");
  EXPECT_EQ(s["types"]["A5"], "s");
}

TEST_F(MakeXlsx, PicturesBelowTheTableMoveWithIt) {
  FixtureWorkbook wb;
  wb.sheets.push_back({"S", "<sheetData>" + row(2, cellInline("A2", "&T") + cellInline("B2", "&LST_F")) +
                                "</sheetData><drawing r:id=\"rId1\"/>"});
  const auto anchor = [](int from, int to) {
    return "<xdr:twoCellAnchor><xdr:from><xdr:col>0</xdr:col><xdr:row>" + std::to_string(from) +
           "</xdr:row></xdr:from><xdr:to><xdr:col>2</xdr:col><xdr:row>" + std::to_string(to) +
           "</xdr:row></xdr:to><xdr:clientData/></xdr:twoCellAnchor>";
  };
  wb.extraParts = {
      {"xl/worksheets/_rels/sheet1.xml.rels",
       "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
       "Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/drawing\" "
       "Target=\"../drawings/drawing1.xml\"/></Relationships>"},
      {"xl/drawings/drawing1.xml",
       "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\">" +
           anchor(0, 1) + anchor(5, 8) + "</xdr:wsDr>"}};
  writeWorkbook(templ(), wb);
  Block block;
  block.files(templ(), dir.file("out.xlsx")).columns(4).table("&T", {"1", "2", "3", "4"});
  ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
  const std::string drawing = readZipEntry(dir.file("out.xlsx"), "xl/drawings/drawing1.xml");
  // Rows count from 0 in anchors: the picture over rows 1-2 stays, the one from row 6 moves by 3.
  EXPECT_NE(drawing.find("<xdr:row>0</xdr:row></xdr:from><xdr:to><xdr:col>2</xdr:col><xdr:row>1</xdr:row>"),
            std::string::npos)
      << drawing;
  EXPECT_NE(drawing.find("<xdr:row>8</xdr:row></xdr:from><xdr:to><xdr:col>2</xdr:col><xdr:row>11</xdr:row>"),
            std::string::npos)
      << drawing;
}

TEST_F(MakeXlsx, OutputNamesCountUpAndTakeTheTemplatesExtension) {
  FixtureWorkbook wb;
  wb.sheets.push_back({"S", "<sheetData>" + row(1, cellInline("A1", "&X")) + "</sheetData>"});
  writeWorkbook(templ(), wb);
  // The workstation names its reports ".xls"; the file is an .xlsx workbook and is named so.
  const std::string expected[] = {"report.xlsx", "report(1).xlsx", "report(2).xlsx"};
  for (const auto& name : expected) {
    Block block;
    block.files(templ(), dir.file("report.xls")).pair("&X", "y");
    ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
    EXPECT_EQ(std::string(MakeXLSX_LastOutput()), dir.file(name));
  }
  EXPECT_EQ(dir.list(),
            std::vector<std::string>({"report(1).xlsx", "report(2).xlsx", "report.xlsx", "template.xlsx"}));
}

TEST_F(MakeXlsx, UntouchedPartsAreCopiedAsTheyAreAndRewrittenOnesDeflatedFast) {
  FixtureWorkbook wb;
  wb.sheets.push_back({"S1", "<sheetData>" + row(1, cellInline("A1", "&X")) +
                                 row(2, cellInline("A2", "&T") + cellInline("B2", "&LST_F")) +
                                 "</sheetData>"});
  wb.sheets.push_back({"S2", "<sheetData>" + row(1, cellInline("A1", "no placeholder")) + "</sheetData>"});
  writeWorkbook(templ(), wb);
  std::vector<std::optional<std::string>> cells;
  for (int i = 0; i < 199; ++i) cells.push_back(std::to_string(i) + "." + std::to_string(i % 7) + "5");
  Block block;
  block.files(templ(), dir.file("out.xlsx")).pair("&X", "y").columns(199).table("&T", cells);
  ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
  const std::string out = dir.file("out.xlsx");
  ASSERT_EQ(zipEntryNames(out), zipEntryNames(templ()));

  int code = 0;
  zip_t* a = zip_open(templ().c_str(), ZIP_RDONLY, &code);
  zip_t* b = zip_open(out.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  ASSERT_TRUE(a && b);
  const std::set<std::string> rewritten = {"xl/worksheets/sheet1.xml", "xl/workbook.xml", "xl/styles.xml"};
  for (const std::string& name : zipEntryNames(templ())) {
    SCOPED_TRACE(name);
    zip_stat_t sa, sb;
    ASSERT_EQ(zip_stat(a, name.c_str(), 0, &sa), 0);
    ASSERT_EQ(zip_stat(b, name.c_str(), 0, &sb), 0);
    if (rewritten.count(name)) continue;
    EXPECT_EQ(sa.crc, sb.crc);
    EXPECT_EQ(sa.comp_method, sb.comp_method);
    EXPECT_TRUE(readZipEntry(out, name, true) == readZipEntry(templ(), name, true));  // the stored bytes
  }
  zip_discard(a);
  zip_discard(b);

  // The rewritten sheet is deflated at the fastest level, not libzip's default 9.
  const std::string sheet = readZipEntry(out, "xl/worksheets/sheet1.xml");
  ASSERT_NE(sheet.find("<v>198.25</v>"), std::string::npos);
  const auto deflated = [&](int level) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    std::string bytes(libdeflate_deflate_compress_bound(c, sheet.size()), '\0');
    bytes.resize(libdeflate_deflate_compress(c, sheet.data(), sheet.size(), bytes.data(), bytes.size()));
    libdeflate_free_compressor(c);
    return bytes;
  };
  const std::string stored = readZipEntry(out, "xl/worksheets/sheet1.xml", true);
  ASSERT_NE(deflated(1), deflated(9)) << "the sheet is too small to tell the levels apart";
  EXPECT_TRUE(stored == deflated(1)) << stored.size() << " bytes stored, " << deflated(1).size()
                                     << " at level 1, " << deflated(9).size() << " at level 9";
}

TEST_F(MakeXlsx, OutputNameWithoutExtensionIsUsedAsItIsWhileFree) {
  writeWorkbook(templ(), exampleWorkbook());
  const std::string out = dir.file("protocol");
  Block block;
  block.files(templ(), out).pair("&NUM", "7");
  ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
  EXPECT_EQ(std::string(MakeXLSX_LastOutput()), out);
  EXPECT_NE(readZipEntry(out, "xl/workbook.xml"), "");
  // Taken now: such a name has no numbered variants, so nothing is written.
  EXPECT_EQ(MakeXLSX(block.sealed()), -2);
  EXPECT_NE(lastError().find("без расширения"), std::string::npos) << lastError();
  EXPECT_EQ(dir.list(), std::vector<std::string>({"protocol", "template.xlsx"}));
}

TEST_F(MakeXlsx, ChangedChecksumTouchesNoFile) {
  writeWorkbook(templ(), exampleWorkbook());
  Block block;
  block.files(templ(), dir.file("out.xlsx")).pair("&NUM", "7");
  TXlsxExchange* raw = block.sealed();
  raw->pairCount = 0;  // a byte changed after the checksum was made
  EXPECT_EQ(MakeXLSX(raw), -1);
  raw->pairCount = 1;
  reinterpret_cast<uint8_t*>(raw)[3] ^= 0x01;  // inside the operation table
  EXPECT_EQ(MakeXLSX(raw), -1);
  EXPECT_EQ(dir.list(), std::vector<std::string>({"template.xlsx"}));
}

TEST_F(MakeXlsx, FilesThatCannotBeUsedGiveTheirMessage) {
  writeWorkbook(templ(), exampleWorkbook());
  struct Case {
    const char* what;
    std::optional<std::string> templatePath, outputPath;
    const char* message;
  } cases[] = {
      {"template missing", dir.file("absent.xlsx"), dir.file("out.xlsx"),
       "Файл шаблона не задан или недоступен!"},
      {"template not given", std::nullopt, dir.file("out.xlsx"), "Файл шаблона не задан или недоступен!"},
      {"template is a folder", dir.path(), dir.file("out.xlsx"), "Файл шаблона не задан или недоступен!"},
      {"output folder missing", templ(), dir.file("no/such/folder/out.xlsx"), "Невозможно создать файл!"},
      {"output not given", templ(), std::nullopt, "Невозможно создать файл!"},
      {"output names a folder", templ(), dir.path() + "/", "Невозможно создать файл!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Block block;
    block.files(c.templatePath, c.outputPath);
    EXPECT_EQ(MakeXLSX(block.sealed()), -2);
    EXPECT_NE(lastError().find(c.message), std::string::npos) << lastError();
    EXPECT_STREQ(MakeXLSX_LastOutput(), "");
  }
  struct stat st;
  EXPECT_NE(::stat(dir.file("no").c_str(), &st), 0) << "the output folder must not be created";
  EXPECT_EQ(dir.list(), std::vector<std::string>({"template.xlsx"}));
}

TEST_F(MakeXlsx, DamagedTemplatesAreRefusedWithoutLeavingFiles) {
  const Parts good = workbookParts(exampleWorkbook());
  auto with = [&](const std::string& name, const std::optional<std::string>& bytes) {
    Parts parts;
    for (const auto& p : good)
      if (p.first != name) parts.push_back(p);
    if (bytes) parts.emplace_back(name, *bytes);
    return parts;
  };
  struct Case {
    const char* what;
    std::optional<Parts> parts;  // nullopt: a file that is not a zip at all
    const char* message;
    const char* hidden = nullptr;  // a sheet the block hides
  } cases[] = {
      {"not a zip", std::nullopt, "не является zip-архивом"},
      {"zip cut short", std::nullopt, "не является книгой Excel"},
      {"no content types", with("[Content_Types].xml", std::nullopt), "[Content_Types].xml"},
      {"no workbook part", with("xl/workbook.xml", std::nullopt), "xl/workbook.xml"},
      {"no sheet part", with("xl/worksheets/sheet2.xml", std::nullopt), "sheet2.xml"},
      {"malformed sheet", with("xl/worksheets/sheet2.xml", std::string("<worksheet><sheetData><row>")),
       "не является XML"},
      // A hidden sheet is copied as it is, yet a malformed one is refused like any other.
      {"malformed hidden sheet", with("xl/worksheets/sheet3.xml", std::string("<worksheet><sheetData><row>")),
       "не является XML", "&SH_HIDE"},
      {"malformed workbook", with("xl/workbook.xml", std::string("<workbook")), "не является XML"},
      {"climbing entry name", with("../evil.xml", std::string("<x/>")), "недопустимое имя"},
      {"absolute entry name", with("/etc/evil.xml", std::string("<x/>")), "недопустимое имя"},
      {"inflates beyond the limit", with("xl/worksheets/sheet1.xml", std::string(80u << 20, ' ')),
       "слишком велика"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder out;
    const std::string path = out.file("template.xlsx");
    if (c.parts) {
      writeZip(path, *c.parts);
    } else if (std::string(c.what) == "zip cut short") {
      writeZip(path, good);
      std::ifstream in(path, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 40);
    } else {
      FILE* f = std::fopen(path.c_str(), "wb");
      std::fputs("this is not a workbook", f);
      std::fclose(f);
    }
    Block block;
    block.files(path, out.file("out.xlsx"));
    if (c.hidden) block.hide(c.hidden);
    EXPECT_EQ(MakeXLSX(block.sealed()), -2);
    EXPECT_NE(lastError().find(c.message), std::string::npos) << lastError();
    EXPECT_EQ(latinWords(lastError()), "") << lastError();  // said in Russian throughout
    EXPECT_EQ(out.list(), std::vector<std::string>({"template.xlsx"}));
  }
}

// Flips one bit in the middle of an entry's stored (compressed) bytes inside the zip file.
void flipStoredByte(const std::string& path, const std::string& entry) {
  const std::string stored = readZipEntry(path, entry, true);
  ASSERT_GT(stored.size(), 16u) << entry;
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t at = bytes.find(stored);
  ASSERT_NE(at, std::string::npos);
  bytes[at + stored.size() / 2] ^= 0x10;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A template that is damaged where the fill does not look, or that has no place for some of what the
// report assembly sent, gives no report: such a workbook would look filled and say less than the
// results (or not open at all). What a template may leave out is not held against it.
TEST_F(MakeXlsx, ADamagedOrUnfittingTemplateIsRefusedAndNothingWritten) {
  std::string theme = "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">";
  for (int i = 0; i < 200; ++i) theme += "<a:x n=\"" + std::to_string(i * 7919 % 1000) + "\"/>";
  theme += "</a:theme>";
  const auto workbook = [&](const std::string& tableRow, bool withStyles = true) {
    FixtureWorkbook wb;
    wb.sheets.push_back({"&SH", "<sheetData>" + row(1, cellInline("A1", "Протокол &NUM_FULL от &DATE")) +
                                    row(2, tableRow) + "</sheetData>"});
    wb.sheets.push_back({"&HIDE", "<sheetData>" + row(1, cellInline("A1", "&ONLY_HIDDEN")) + "</sheetData>"});
    wb.extraParts = {{"xl/theme/theme1.xml", theme}};
    Parts parts = workbookParts(wb);
    if (!withStyles) std::erase_if(parts, [](const auto& p) { return p.first == "xl/styles.xml"; });
    return parts;
  };
  const std::string goodRow = cellInline("A2", "&T1") + cellInline("B2", "&T2") + cellInline("C2", "&LST_F");
  // What the assembly sends: a long key before the short one it holds, a repeated key, a sheet to
  // hide that is also named, one more to hide that this template does not have, two tables.
  const auto job = [&](const std::string& templ, const std::string& out) {
    Block block;
    block.files(templ, out)
        .hide("&HIDE")
        .hide("&NOT_IN_THIS_TEMPLATE")
        .pair("&HIDE", "скрыт")
        .pair("&SH", "Протокол")
        .pair("&NUM_FULL", "№ 7 полностью")
        .pair("&NUM", "7")
        .pair("&DATE", "01.02.2024")
        .pair("&DATE", "повтор")
        .columns(2)
        .table("&T1", {"1.5", "2.5"})
        .table("&T2", {"3", "4"});
    return block;
  };
  struct Case {
    const char* what;
    Parts parts;
    std::function<void(const std::string&)> damage;  // on the written template file
    std::function<void(Block&)> more;                // more for the block
    std::vector<const char*> named;                  // in the refusal; empty: accepted
  } cases[] = {
      {"sound", workbook(goodRow), nullptr, nullptr, {}},
      {"a flipped byte in a part copied as it is",
       workbook(goodRow),
       [](const std::string& p) { flipStoredByte(p, "xl/theme/theme1.xml"); },
       nullptr,
       {"xl/theme/theme1.xml", "повреждена"}},
      {"no table-row marker",
       workbook(cellInline("A2", "&T1") + cellInline("B2", "&T2")),
       nullptr,
       nullptr,
       {"\"&T1\"", "\"&T2\"", "&LST_F"}},
      {"a misspelt table name",
       workbook(cellInline("A2", "&T1") + cellInline("B2", "&T_2") + cellInline("C2", "&LST_F")),
       nullptr,
       nullptr,
       {"\"&T2\""}},
      {"no styles part", workbook(goodRow, false), nullptr, nullptr, {"xl/styles.xml"}},
      {"a placeholder the template lacks",
       workbook(goodRow),
       nullptr,
       [](Block& b) { b.pair("&ORG", "ЦСМ"); },
       {"\"&ORG\""}},
      {"a placeholder only on a hidden sheet",
       workbook(goodRow),
       nullptr,
       [](Block& b) { b.pair("&ONLY_HIDDEN", "x"); },
       {"\"&ONLY_HIDDEN\""}},
      {"a sheet to hide and name that is not there",
       workbook(goodRow),
       nullptr,
       [](Block& b) { b.hide("&VER").pair("&VER", "извещение"); },
       {"\"&VER\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder out;
    const std::string templ = out.file("template.xlsx");
    writeZip(templ, c.parts);
    if (c.damage) c.damage(templ);
    Block block = job(templ, out.file("out.xlsx"));
    if (c.more) c.more(block);
    const int rc = MakeXLSX(block.sealed());
    if (c.named.empty()) {
      EXPECT_EQ(rc, 0) << lastError();
      continue;
    }
    EXPECT_EQ(rc, -2);
    for (const char* name : c.named) EXPECT_NE(lastError().find(name), std::string::npos) << lastError();
    EXPECT_EQ(latinWords(lastError()), "") << lastError();
    EXPECT_STREQ(MakeXLSX_LastOutput(), "");
    EXPECT_EQ(out.list(), std::vector<std::string>({"template.xlsx"}));
  }
}

// The written report is opened again before it takes its name: an archive with a damaged part or a
// reference to a part it lacks does not pass.
TEST_F(MakeXlsx, AWrittenReportMustOpenAgain) {
  FixtureWorkbook wb;
  wb.sheets.push_back(
      {"S", "<sheetData>" + row(1, cellInline("A1", std::string(3000, 'x'))) + "</sheetData>"});
  writeWorkbook(templ(), wb);
  const auto fileBytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  EXPECT_NO_THROW(xlsxgen::checkWrittenReport(fileBytes(templ())));
  Parts parts = workbookParts(wb);
  std::erase_if(parts, [](const auto& p) { return p.first == "xl/sharedStrings.xml"; });
  writeZip(dir.file("dangling.xlsx"), parts);
  flipStoredByte(templ(), "xl/worksheets/sheet1.xml");
  for (const std::string& path : {templ(), dir.file("dangling.xlsx")}) {
    SCOPED_TRACE(path);
    try {
      xlsxgen::checkWrittenReport(fileBytes(path));
      ADD_FAILURE() << "accepted";
    } catch (const xlsxgen::XlsxError& e) {
      EXPECT_NE(std::string(e.what()).find("не открывается"), std::string::npos) << e.what();
    }
  }
}

TEST_F(MakeXlsx, BlockCountsBeyondTheirLimitsAreRefused) {
  writeWorkbook(templ(), exampleWorkbook());
  struct Case {
    const char* what;
    int32_t TXlsxExchange::*field;
    int32_t value;
  } cases[] = {
      {"hidden sheets", &TXlsxExchange::hiddenCount, XLSX_HIDDEN_MAX + 1},
      {"negative hidden sheets", &TXlsxExchange::hiddenCount, -1},
      {"pairs", &TXlsxExchange::pairCount, XLSX_PAIRS_MAX + 1},
      {"cells", &TXlsxExchange::columnCount, XLSX_COLUMN_LIMIT},
      {"tables", &TXlsxExchange::tableCount, XLSX_TABLES_MAX + 1},
      {"tables far beyond", &TXlsxExchange::tableCount, 1 << 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Block block;
    block.files(templ(), dir.file("out.xlsx"));
    block.raw()->*c.field = c.value;
    EXPECT_EQ(MakeXLSX(block.sealed()), -2);
    EXPECT_NE(lastError().find("Неверный блок обмена"), std::string::npos) << lastError();
  }
  EXPECT_EQ(MakeXLSX(nullptr), -2);
  EXPECT_EQ(dir.list(), std::vector<std::string>({"template.xlsx"}));
}

TEST_F(MakeXlsx, NullTextsAreSkipped) {
  REQUIRE_OPENPYXL();
  FixtureWorkbook wb;
  wb.sheets.push_back(
      {"S", "<sheetData>" +
                row(1, cellInline("A1", "&K") + cellInline("B1", "&T") + cellInline("C1", "&LST_F")) +
                "</sheetData>"});
  writeWorkbook(templ(), wb);
  Block block;
  block.files(templ(), dir.file("out.xlsx")).hide("x").pair("&K", "v").columns(2).table("&T", {"1", "2"});
  TXlsxExchange* b = block.raw();
  b->hidden[0] = nullptr;
  b->pairs[0].value = nullptr;  // replaced by nothing
  b->pairs[1] = {nullptr, nullptr};
  b->pairCount = 2;
  b->tables[0].cells[0] = nullptr;
  b->tables[1].name = nullptr;
  b->tableCount = 2;
  ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
  const json c = dump(dir.file("out.xlsx"))["sheets"][0]["cells"];
  EXPECT_FALSE(c.contains("A1"));
  EXPECT_FALSE(c.contains("B1"));
  EXPECT_EQ(c["B2"], 2);
}

TEST_F(MakeXlsx, KeysOfUnusableCharactersOnlyAreLeftOut) {
  REQUIRE_OPENPYXL();
  FixtureWorkbook wb;
  wb.sheets.push_back({"S", "<sheetData>" + row(1, cellInline("A1", "a&Kb")) + "</sheetData>"});
  writeWorkbook(templ(), wb);
  Block block;
  // Control characters are dropped from every text: this key would be empty, and an empty key
  // matches everywhere, for ever when it is replaced by nothing.
  block.files(templ(), dir.file("out.xlsx")).pair("\x01\x02", "").pair("&K", "-");
  TXlsxExchange* sealed = block.sealed();
  const std::string ended = endsWithin(20, [&] { ::_exit(MakeXLSX(sealed) == 0 ? 0 : 2); });
  ASSERT_EQ(ended, "");
  EXPECT_EQ(dump(dir.file("out.xlsx"))["sheets"][0]["cells"]["A1"], "a-b");
}

TEST_F(MakeXlsx, DeeplyNestedTemplatePartsDoNotExhaustTheStack) {
  // Elements nested 200000 deep beside the cells of a sheet whose table row is multiplied: every
  // walk over the sheet's elements is one without recursion.
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<x a=\"A1\">";
  for (int i = 0; i < 200000; ++i) deep += "</x>";
  FixtureWorkbook wb;
  wb.sheets.push_back({"S", "<sheetData>" + row(1, cellInline("A1", "&T") + cellInline("B1", "&LST_F")) +
                                "</sheetData>" + deep});
  writeWorkbook(templ(), wb);
  Block block;
  block.files(templ(), dir.file("out.xlsx")).columns(3).table("&T", {"1", "2", "3"});
  TXlsxExchange* sealed = block.sealed();
  ASSERT_EQ(endsWithin(60, [&] { ::_exit(MakeXLSX(sealed) == 0 ? 0 : 2); }), "");
  const std::string sheet = readZipEntry(dir.file("out.xlsx"), "xl/worksheets/sheet1.xml");
  EXPECT_NE(sheet.find("<row r=\"3\"><c r=\"A3\"><v>3</v></c>"), std::string::npos) << sheet.substr(0, 400);
  EXPECT_EQ(sheet.size() - sheet.rfind("</x></worksheet>"), std::string("</x></worksheet>").size());
}

TEST_F(MakeXlsx, HiddenSheetsLeaveAVisibleActiveSheet) {
  REQUIRE_OPENPYXL();
  FixtureWorkbook wb;
  wb.sheets.push_back(
      {"A", "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews><sheetData/>"});
  wb.sheets.push_back({"B", "<sheetViews><sheetView workbookViewId=\"0\"/></sheetViews><sheetData/>"});
  writeWorkbook(templ(), wb);
  struct Case {
    const char* what;
    std::vector<std::string> hide;
    const char* stateA;
    const char* stateB;
    int active;
  } cases[] = {
      {"the active sheet hidden", {"A"}, "hidden", "visible", 1},
      // Sheets are done from the last: A would be the last one left, so it stays visible.
      {"every sheet listed", {"A", "B"}, "visible", "hidden", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Block block;
    const std::string out = dir.file(std::string(c.what) + ".xlsx");
    block.files(templ(), out);
    for (const auto& h : c.hide) block.hide(h);
    ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
    const json d = dump(out);
    EXPECT_EQ(d["sheets"][0]["state"], c.stateA);
    EXPECT_EQ(d["sheets"][1]["state"], c.stateB);
    EXPECT_EQ(d["active"], c.active);
    // Only the active sheet is selected, whether or not the fill had anything else to do on it.
    const std::string sheetA = readZipEntry(out, "xl/worksheets/sheet1.xml");
    EXPECT_EQ(sheetA.find("tabSelected=\"1\"") != std::string::npos, c.active == 0) << sheetA;
    const std::string sheetB = readZipEntry(out, "xl/worksheets/sheet2.xml");
    EXPECT_EQ(sheetB.find("tabSelected=\"1\"") != std::string::npos, c.active == 1) << sheetB;
  }
}

TEST_F(MakeXlsx, SheetNamesAWorkbookCannotHoldAreShortenedOrRefused) {
  REQUIRE_OPENPYXL();
  FixtureWorkbook wb;
  for (const char* name : {"&L", "&BAD", "&DUP", "Taken"}) wb.sheets.push_back({name, "<sheetData/>"});
  writeWorkbook(templ(), wb);
  Block block;
  block.files(templ(), dir.file("out.xlsx"))
      .pair("&L", "Протокол 12345678901234567890123456789  (к.1)")
      .pair("&BAD", "a/b")
      .pair("&DUP", "taken");
  ASSERT_EQ(MakeXLSX(block.sealed()), 0) << lastError();
  const json d = dump(dir.file("out.xlsx"));
  EXPECT_EQ(d["sheets"][0]["name"], "Протокол 1234567890123456789012");  // 31 characters
  EXPECT_EQ(d["sheets"][1]["name"], "&BAD");
  EXPECT_EQ(d["sheets"][2]["name"], "&DUP");
}

TEST_F(MakeXlsx, LegacyTemplateNeedsLibreOffice) {
  // A compound-document file, as the legacy .xls format starts.
  const std::string path = dir.file("legacy.xls");
  FILE* f = std::fopen(path.c_str(), "wb");
  const unsigned char head[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0, 0, 0, 0};
  std::fwrite(head, 1, sizeof head, f);
  std::fclose(f);
  if (std::system("command -v soffice >/dev/null 2>&1 || command -v libreoffice >/dev/null 2>&1") == 0)
    GTEST_SKIP() << "LibreOffice is installed; the refusal without it cannot be shown here";
  Block block;
  block.files(path, dir.file("out.xls"));
  EXPECT_EQ(MakeXLSX(block.sealed()), -2);
  EXPECT_NE(lastError().find("LibreOffice"), std::string::npos) << lastError();
  EXPECT_EQ(dir.list(), std::vector<std::string>({"legacy.xls"}));
}

}  // namespace
