// The workbook reader and filler on hostile bytes. The first byte picks what the rest is:
//   0: a whole package (zip) to open and fill;
//   1: the XML of a worksheet, put into an otherwise sound package;
//   2: the XML of the workbook part;
//   3: a formula, rewritten as for a multiplied row and a renamed sheet.
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cell_ref.h"
#include "output_file.h"
#include "part_deflate.h"
#include "report_filler.h"
#include "xlsx_error.h"
#include "zip_package.h"

namespace {

using namespace xlsxgen;

const ReportJob& job() {
  static const ReportJob j = [] {
    ReportJob r;
    r.hiddenSheets = {"&HIDE"};
    r.pairs = {{"&SH", "Renamed sheet"}, {"&A_LONG", "long value"}, {"&A", "1.25"}, {"&HIDE", "x"}};
    r.columnCount = 3;
    const auto table = [](const char* name, std::initializer_list<std::optional<std::string_view>> cells) {
      ReportTable t;
      t.name = name;
      for (const auto& cell : cells) t.add(cell);
      return t;
    };
    r.tables = {table("&T1", {"1.5", std::nullopt, "text"}), table("&T2", {"", "2", "3"})};
    return r;
  }();
  return j;
}

const char* kTypes =
    "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Override PartName=\"/xl/workbook.xml\" ContentType=\"x\"/><Override PartName=\"/xl/calcChain.xml\" "
    "ContentType=\"y\"/></Types>";
const char* kRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
    "Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
    "Target=\"xl/workbook.xml\"/></Relationships>";
const char* kWorkbook =
    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
    "relationships\"><bookViews><workbookView "
    "activeTab=\"1\"/></bookViews><sheets><sheet name=\"&amp;SH\" sheetId=\"1\" r:id=\"rId1\"/><sheet "
    "name=\"&amp;HIDE\" sheetId=\"2\" r:id=\"rId2\"/></sheets><definedNames><definedName "
    "name=\"_xlnm.Print_Area\" "
    "localSheetId=\"0\">'&amp;SH'!$A$1:$E$9</definedName></definedNames></workbook>";
const char* kWorkbookRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://x/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
    "<Relationship Id=\"rId2\" Type=\"http://x/worksheet\" Target=\"/xl/worksheets/sheet2.xml\"/>"
    "<Relationship Id=\"rId3\" Type=\"http://x/sharedStrings\" Target=\"sharedStrings.xml\"/>"
    "<Relationship Id=\"rId4\" Type=\"http://x/styles\" Target=\"styles.xml\"/>"
    "<Relationship Id=\"rId5\" Type=\"http://x/calcChain\" Target=\"calcChain.xml\"/></Relationships>";
const char* kSheet =
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><dimension "
    "ref=\"A1:E9\"/>"
    "<sheetData><row r=\"2\"><c r=\"A2\" t=\"s\"><v>0</v></c><c r=\"B2\" "
    "t=\"inlineStr\"><is><t>&amp;T1</t></is></c>"
    "<c r=\"C2\" t=\"s\"><v>1</v></c><c r=\"D2\"><f>SUM(A2:A2)+'&amp;SH'!B9</f></c><c r=\"E2\" "
    "t=\"inlineStr\"><is><t>&amp;LST_F</t></is></c></row><row r=\"9\"><c "
    "r=\"A9\"><v>1</v></c></row></sheetData>"
    "<mergeCells count=\"1\"><mergeCell ref=\"F2:G2\"/></mergeCells></worksheet>";
const char* kStrings =
    "<sst "
    "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><r><t>&amp;A_</t></r><r><t>LONG "
    "&amp;A</t></r></si><si><t>&amp;T2</t></si></sst>";
const char* kStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><cellXfs "
    "count=\"1\"><xf "
    "numFmtId=\"0\"/></cellXfs></styleSheet>";

// The parts of the sound package, by name.
const std::vector<std::pair<const char*, const char*>>& baseParts() {
  static const std::vector<std::pair<const char*, const char*>> parts = {
      {"[Content_Types].xml", kTypes},      {"_rels/.rels", kRels},
      {"xl/workbook.xml", kWorkbook},       {"xl/_rels/workbook.xml.rels", kWorkbookRels},
      {"xl/worksheets/sheet1.xml", kSheet}, {"xl/worksheets/sheet2.xml", kSheet},
      {"xl/sharedStrings.xml", kStrings},   {"xl/styles.xml", kStyles},
      {"xl/calcChain.xml", "<calcChain/>"}};
  return parts;
}

// The sound package, made once with libzip (an independent writer); the inputs that replace one
// of its parts are made from it without libzip.
const ZipPackage& basePackage() {
  static const std::string bytes = [] {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = zip_open_from_source(source, ZIP_TRUNCATE, &error);
    zip_source_keep(source);
    for (const auto& [n, text] : baseParts()) {
      zip_source_t* s = zip_source_buffer(archive, text, std::strlen(text), 0);
      zip_file_add(archive, n, s, 0);
    }
    zip_close(archive);
    std::string out;
    if (zip_source_open(source) == 0) {
      char buffer[4096];
      zip_int64_t n;
      while ((n = zip_source_read(source, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<std::size_t>(n));
      zip_source_close(source);
    }
    zip_source_free(source);
    zip_error_fini(&error);
    return out;
  }();
  static const ZipPackage package = ZipPackage::openView(bytes);
  return package;
}

// The sound package with one part replaced by `override`: the other entries copied as they are
// stored, the replaced one deflated again (by the library's writer, which the read-back check below
// holds to account for every report).
std::string package(const std::string& name, std::string_view override) {
  std::map<std::string, DeflatedPart> changed;
  {
    PartDeflater deflater;
    changed[name] = deflater.compress(std::string(override));
  }
  return packageBytes(basePackage(), changed, {});
}

// The report's package reads back: every entry but the removed ones, in the same order, the untouched
// ones with the same stored bytes, the rewritten ones inflating to what was deflated. A failure here
// is a fault of the writer, whatever the template was.
void checkWritten(const ZipPackage& p, const FillResult& filled) {
  try {
    const std::string written = packageBytes(p, filled.changedParts, filled.removedParts);
    ZipLimits roomy;
    roomy.maxTotalBytes = 64 << 20;
    ZipPackage back = ZipPackage::openView(written, roomy);
    std::size_t kept = 0;
    for (const ZipEntry& e : p.entries()) {
      if (filled.removedParts.count(e.name)) {
        if (back.contains(e.name)) std::abort();
        continue;
      }
      if (kept >= back.entries().size() || back.entries()[kept].name != e.name) std::abort();
      const ZipEntry& b = back.entries()[kept++];
      if (const auto changed = filled.changedParts.find(e.name); changed != filled.changedParts.end()) {
        // Inflates to the size and checksum of the text that was deflated.
        if (b.size != changed->second.size || b.crc != changed->second.crc) std::abort();
        back.verify(e.name);
      } else if (b.crc != e.crc || b.size != e.size ||
                 back.bytes().substr(b.dataOffset, b.compressedSize) !=
                     p.bytes().substr(e.dataOffset, e.compressedSize)) {
        std::abort();
      }
    }
  } catch (const XlsxError&) {
    std::abort();
  }
}

void fill(const std::string& bytes) {
  ZipLimits limits;
  limits.maxPartBytes = 1 << 20;
  limits.maxTotalBytes = 4 << 20;
  limits.maxEntries = 64;
  std::optional<ZipPackage> p;
  FillResult filled;
  try {
    p.emplace(ZipPackage::openView(bytes, limits));
    filled = fillPackage(*p, job());
  } catch (const XlsxError&) {
    return;
  }
  checkWritten(*p, filled);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      fill(rest);
      break;
    case 1:
      fill(package("xl/worksheets/sheet1.xml", rest));
      break;
    case 2:
      fill(package("xl/workbook.xml", rest));
      break;
    default: {
      const RowInsertion ins{2, 3};
      rewriteFormula(
          rest,
          [](const std::string& s) -> std::optional<std::string> {
            return s == "&SH" ? std::optional<std::string>("N") : std::nullopt;
          },
          [&](FormulaRef& r) { shiftFormulaRef(r, ins); });
      shiftRangeList(rest, ins);
      break;
    }
  }
  return 0;
}
