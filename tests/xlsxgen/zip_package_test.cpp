// The package reader and the report's package writer: archives libzip writes and archives built byte
// by byte here (a data descriptor, zip64 records, damage of every kind), read back; the report's
// package read by libzip, with the untouched entries' stored bytes unchanged.
#include "zip_package.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "output_file.h"
#include "part_deflate.h"
#include "workbook_fixture.h"
#include "xlsx_error.h"

namespace {

using namespace xlsxgen;
using xlsxtest::Parts;
using xlsxtest::TempFolder;

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string libzipArchive(const Parts& parts) {
  TempFolder dir;
  xlsxtest::writeZip(dir.file("a.zip"), parts);
  return fileBytes(dir.file("a.zip"));
}

void put(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t crc32(const std::string& s) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : s) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

// One stored entry, built byte by byte: with its sizes after the data (flag 3) and/or in zip64
// records (sizes and offset 0xFFFFFFFF in the headers, the values in the zip64 extra field and a
// zip64 end of the directory).
std::string handMadeArchive(const std::string& name, const std::string& data, bool descriptor, bool zip64) {
  const uint32_t crc = crc32(data);
  std::string out;
  put(out, 0x04034b50, 4);
  put(out, zip64 ? 45 : 20, 2);
  put(out, descriptor ? 8 : 0, 2);
  put(out, 0, 2);  // stored
  put(out, 0, 4);  // time, date
  put(out, descriptor ? 0 : crc, 4);
  put(out, descriptor ? 0 : data.size(), 4);
  put(out, descriptor ? 0 : data.size(), 4);
  put(out, name.size(), 2);
  put(out, 0, 2);
  out += name + data;
  if (descriptor) {
    put(out, 0x08074b50, 4);
    put(out, crc, 4);
    put(out, data.size(), 4);
    put(out, data.size(), 4);
  }
  const uint64_t directory = out.size();
  put(out, 0x02014b50, 4);
  put(out, 20, 2);
  put(out, zip64 ? 45 : 20, 2);
  put(out, descriptor ? 8 : 0, 2);
  put(out, 0, 2);
  put(out, 0, 4);
  put(out, crc, 4);
  put(out, zip64 ? 0xFFFFFFFFu : data.size(), 4);
  put(out, zip64 ? 0xFFFFFFFFu : data.size(), 4);
  put(out, name.size(), 2);
  put(out, zip64 ? 4 + 24 : 0, 2);
  put(out, 0, 2);
  put(out, 0, 2);
  put(out, 0, 2);
  put(out, 0, 4);
  put(out, zip64 ? 0xFFFFFFFFu : 0, 4);
  out += name;
  if (zip64) {
    put(out, 1, 2);
    put(out, 24, 2);
    put(out, data.size(), 8);
    put(out, data.size(), 8);
    put(out, 0, 8);
  }
  const uint64_t directorySize = out.size() - directory;
  if (zip64) {
    const uint64_t record = out.size();
    put(out, 0x06064b50, 4);
    put(out, 44, 8);
    put(out, 45, 2);
    put(out, 45, 2);
    put(out, 0, 4);
    put(out, 0, 4);
    put(out, 1, 8);
    put(out, 1, 8);
    put(out, directorySize, 8);
    put(out, directory, 8);
    put(out, 0x07064b50, 4);
    put(out, 0, 4);
    put(out, record, 8);
    put(out, 1, 4);
  }
  put(out, 0x06054b50, 4);
  put(out, 0, 4);
  put(out, zip64 ? 0xFFFF : 1, 2);
  put(out, zip64 ? 0xFFFF : 1, 2);
  put(out, zip64 ? 0xFFFFFFFFu : directorySize, 4);
  put(out, zip64 ? 0xFFFFFFFFu : directory, 4);
  put(out, 0, 2);
  return out;
}

TEST(ZipPackage, ReadsWhatLibzipWritesAndHandMadeArchives) {
  const Parts parts = {{"[Content_Types].xml", "<Types/>"},
                       {"xl/empty.xml", ""},
                       {"xl/листы/лист1.xml", std::string(5000, 'x') + "<sheetData/>"}};
  ZipPackage p = ZipPackage::openBytes(libzipArchive(parts));
  ASSERT_EQ(p.names().size(), parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(p.names()[i], parts[i].first);
    EXPECT_EQ(p.read(parts[i].first), parts[i].second);
  }
  EXPECT_FALSE(p.contains("xl/other.xml"));

  for (const bool descriptor : {false, true})
    for (const bool zip64 : {false, true}) {
      SCOPED_TRACE(std::string(descriptor ? "descriptor " : "") + (zip64 ? "zip64" : "plain"));
      ZipPackage h = ZipPackage::openBytes(handMadeArchive("xl/a.xml", "<a>text</a>", descriptor, zip64));
      ASSERT_EQ(h.names(), std::vector<std::string>{"xl/a.xml"});
      EXPECT_EQ(h.read("xl/a.xml"), "<a>text</a>");
    }
}

TEST(ZipPackage, DamagedArchivesAndPartsAreRefusedWithTheReason) {
  const std::string good = handMadeArchive("xl/a.xml", "<a>text</a>", false, false);
  const std::size_t directory = good.size() - 22 - 46 - 8;  // the central header of the one entry
  auto changed = [&](std::size_t at, const std::string& bytes) {
    std::string s = good;
    s.replace(at, bytes.size(), bytes);
    return s;
  };
  struct Case {
    const char* what;
    std::string bytes;
    bool atOpen;  // refused when opened (else when the part is read)
    const char* message;
  } cases[] = {
      {"no end of the directory", good.substr(0, good.size() - 22), true, "не является zip-архивом"},
      {"the local name differs", changed(30, "xl/b"), true, "оглавление не сходится"},
      {"data beyond the file's end", changed(directory + 20, std::string("\x00\x01\x00\x00", 4)), true,
       "обрывается"},
      {"on a second disk", changed(good.size() - 22 + 4, std::string("\x01\x00", 2)), true, "многотомные"},
      {"a damaged checksum", changed(directory + 16, "XXXX"), false, "повреждена"},
      {"encrypted", changed(directory + 8, std::string("\x01\x00", 2)), false, "зашифрована"},
      {"compressed with bzip2", changed(directory + 10, std::string("\x0c\x00", 2)), false,
       "неизвестным методом"},
      {"stored with another size", changed(directory + 24, std::string("\x05\x00\x00\x00", 4)), false,
       "повреждена"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      ZipPackage p = ZipPackage::openBytes(c.bytes);
      EXPECT_FALSE(c.atOpen) << "opened";
      p.read("xl/a.xml");
      ADD_FAILURE() << "read";
    } catch (const XlsxError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("не является книгой Excel"), std::string::npos) << e.what();
    }
  }
  ZipLimits few;
  few.maxEntries = 2;
  EXPECT_THROW(ZipPackage::openBytes(libzipArchive({{"a", "1"}, {"b", "2"}, {"c", "3"}}), few), XlsxError);
}

TEST(ZipPackage, TheReportsPackageKeepsUntouchedEntriesByteForByte) {
  TempFolder dir;
  const Parts parts = {{"[Content_Types].xml", "<Types/>"},
                       {"xl/calcChain.xml", "<calcChain/>"},
                       {"xl/worksheets/sheet1.xml", std::string(3000, 'a') + "<old/>"},
                       {"docProps/app.xml", std::string(2000, 'b')}};
  xlsxtest::writeZip(dir.file("template.xlsx"), parts);
  {
    zip_t* z = zip_open(dir.file("template.xlsx").c_str(), 0, nullptr);
    ASSERT_NE(z, nullptr);
    zip_set_archive_comment(z, "kept", 4);
    ASSERT_EQ(zip_close(z), 0);
  }
  // A template whose entry carries its sizes after the data is copied with them in its header.
  const std::vector<std::string> templates = {fileBytes(dir.file("template.xlsx")),
                                              handMadeArchive("docProps/app.xml", "app", true, false)};
  for (const std::string& bytes : templates) {
    const ZipPackage source = ZipPackage::openBytes(bytes);
    PartDeflater deflater;
    std::map<std::string, DeflatedPart> changed;
    if (source.contains("xl/worksheets/sheet1.xml"))
      changed["xl/worksheets/sheet1.xml"] = deflater.compress("<new/>");
    changed["xl/added.xml"] = deflater.compress("<added/>");
    const std::string written = packageBytes(source, changed, {"xl/calcChain.xml"});
    std::ofstream(dir.file("out.xlsx"), std::ios::binary | std::ios::trunc) << written;

    // Read back by libzip: the entries in the template's order, the added one last.
    std::vector<std::string> expected;
    for (const std::string& name : source.names())
      if (name != "xl/calcChain.xml") expected.push_back(name);
    expected.push_back("xl/added.xml");
    EXPECT_EQ(xlsxtest::zipEntryNames(dir.file("out.xlsx")), expected);
    EXPECT_EQ(xlsxtest::readZipEntry(dir.file("out.xlsx"), "xl/added.xml"), "<added/>");
    for (const ZipEntry& e : source.entries()) {
      if (changed.count(e.name) || e.name == "xl/calcChain.xml") continue;
      EXPECT_EQ(xlsxtest::readZipEntry(dir.file("out.xlsx"), e.name, true),
                source.bytes().substr(e.dataOffset, e.compressedSize))
          << e.name;
    }
    if (source.contains("xl/worksheets/sheet1.xml")) {
      EXPECT_EQ(xlsxtest::readZipEntry(dir.file("out.xlsx"), "xl/worksheets/sheet1.xml"), "<new/>");
      zip_t* z = zip_open(dir.file("out.xlsx").c_str(), ZIP_RDONLY | ZIP_CHECKCONS, nullptr);
      ASSERT_NE(z, nullptr);
      int length = 0;
      const char* comment = zip_get_archive_comment(z, &length, 0);
      EXPECT_EQ(std::string(comment ? comment : "", static_cast<std::size_t>(length)), "kept");
      zip_discard(z);
    } else {
      EXPECT_EQ(xlsxtest::readZipEntry(dir.file("out.xlsx"), "docProps/app.xml"), "app");
    }
  }
}

// A report is written only when every part its relationships and content types name is in it: a
// rewritten relationships part naming a part the package lacks, and a part left out that a copied
// relationships part still names, are refused with nothing written; a sound one is written.
TEST(ZipPackage, AReportWhoseReferencesMissAPartIsNotWritten) {
  const std::string rels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"x/styles\" Target=\"styles.xml\"/>"
      "<Relationship Id=\"rId2\" Type=\"x/calcChain\" Target=\"calcChain.xml\"/>";
  const Parts parts = {
      {"[Content_Types].xml", "<Types><Override PartName=\"/xl/workbook.xml\" ContentType=\"w\"/></Types>"},
      {"_rels/.rels",
       "<Relationships><Relationship Id=\"rId1\" Type=\"x/officeDocument\" "
       "Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml", "<workbook/>"},
      {"xl/_rels/workbook.xml.rels", rels + "</Relationships>"},
      {"xl/styles.xml", "<styleSheet/>"},
      {"xl/calcChain.xml", "<calcChain/>"}};
  TempFolder dir;
  xlsxtest::writeZip(dir.file("template.xlsx"), parts);
  const ZipPackage source = ZipPackage::openFile(dir.file("template.xlsx"));
  PartDeflater deflater;
  struct Case {
    const char* what;
    std::map<std::string, DeflatedPart> changed;
    std::set<std::string> removed;
    bool written;
  } cases[] = {
      {"a rewritten part naming a missing one",
       {{"xl/_rels/workbook.xml.rels",
         deflater.compress(rels + "<Relationship Id=\"rId3\" Type=\"x/sheet\" Target=\"missing.xml\"/>"
                                  "</Relationships>")}},
       {},
       false},
      {"a part left out that a copied one names", {}, {"xl/calcChain.xml"}, false},
      {"sound", {{"xl/workbook.xml", deflater.compress("<workbook><x/></workbook>")}}, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder out;
    const OutputName name{out.path(), "report", "xlsx"};
    if (c.written) {
      EXPECT_EQ(writeReport(source, c.changed, c.removed, name), out.file("report.xlsx"));
      continue;
    }
    try {
      writeReport(source, c.changed, c.removed, name);
      ADD_FAILURE() << "written";
    } catch (const XlsxError& e) {
      EXPECT_NE(std::string(e.what()).find("не открывается"), std::string::npos) << e.what();
    }
    EXPECT_EQ(out.list(), std::vector<std::string>());
  }
}

}  // namespace
