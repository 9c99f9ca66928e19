#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "TextFile.h"
#include "quarn/cp1251.h"
#include "temp_folder_test.h"

using namespace quarn::data;
namespace fs = std::filesystem;

namespace {

class TextFileTest : public TempFolderTest {
 protected:
  TextFileTest() : TempFolderTest("quarn_data_textfile_") {}
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }
};

TEST_F(TextFileTest, AtomicWriteReplacesTheFileAndKeepsItsPermissions) {
  const std::string p = path("a.aip");
  put(p, "old");
  ::chmod(p.c_str(), 0640);
  EXPECT_EQ(writeFileAtomically(p, "new content\r\n").why(), "");
  EXPECT_EQ(get(p), "new content\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(entries(), 1u);  // no temporary file left behind
}

TEST_F(TextFileTest, SavingThroughASymbolicLinkReplacesTheFileItNames) {
  const std::string real = path("real.aip"), link = path("link.aip");
  put(real, "old");
  fs::create_symlink(real, link);
  EXPECT_EQ(writeFileAtomically(link, "new").why(), "");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(get(real), "new");
}

TEST_F(TextFileTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
  const std::string target = path("occupied");
  fs::create_directories(target + "/inside");  // a non-empty folder cannot be replaced by a file
  const Outcome written = writeFileAtomically(target, "data");
  EXPECT_FALSE(written.ok());
  EXPECT_NE(written.why().find(target), std::string::npos) << written.why();
  EXPECT_TRUE(fs::is_directory(target + "/inside"));
  EXPECT_EQ(entries(), 1u);
  EXPECT_FALSE(writeFileAtomically(path("no/such/folder/x.aip"), "data").ok());
}

TEST_F(TextFileTest, ReadingReportsWhyAFileCannotBeUsed) {
  EXPECT_EQ(readTextFile(path("absent.aip")).error().fault(), Fault::NotFound);
  EXPECT_EQ(readTextFile(dir_.string()).error().fault(), Fault::Unreadable);
  ASSERT_EQ(::mkfifo(path("pipe.aip").c_str(), 0600), 0);
  EXPECT_EQ(readTextFile(path("pipe.aip")).error().fault(), Fault::Unreadable);  // and does not hang
  put(path("zeros.aip"), std::string("[A]\r\nk=1\r\n\0\0\0\0", 14));
  const Result<TextContent> z = readTextFile(path("zeros.aip"));
  EXPECT_FALSE(z.ok());
  EXPECT_EQ(z.error().fault(), Fault::Damaged);
  EXPECT_NE(z.why().find(path("zeros.aip")), std::string::npos) << z.why();
}

TEST_F(TextFileTest, OtherEncodingsAreBroughtToWindows1251) {
  const std::string cp = std::string("[A]\r\nname=") + CP1251("Датчик давления") + "\r\n";
  struct Case {
    const char* name;
    std::string content;
    FileEncoding encoding;
  } cases[] = {
      {"cp1251", cp, FileEncoding::Cp1251},
      {"utf8bom", "\xEF\xBB\xBF[A]\r\nname=Датчик давления\r\n", FileEncoding::Utf8Bom},
      {"utf8", "[A]\r\nname=Датчик давления\r\n", FileEncoding::Utf8},
      {"ascii", "[A]\r\nname=plain\r\n", FileEncoding::Cp1251},
  };
  for (const Case& c : cases) {
    put(path(c.name), c.content);
    const Result<TextContent> r = readTextFile(path(c.name));
    ASSERT_TRUE(r.ok()) << c.name << ": " << r.why();
    EXPECT_EQ(r->encoding, c.encoding) << c.name;
    if (std::string(c.name) != "ascii") {
      EXPECT_EQ(r->bytes, cp) << c.name;
    }
  }
  // UTF-16 LE with its mark, as Windows tools may save a settings file.
  std::string u16 = "\xFF\xFE";
  for (char32_t ch : std::u32string(U"[A]\r\nname=Датчик давления\r\n")) {
    u16.push_back(static_cast<char>(ch & 0xFF));
    u16.push_back(static_cast<char>(ch >> 8));
  }
  put(path("utf16"), u16);
  const Result<TextContent> r = readTextFile(path("utf16"));
  ASSERT_TRUE(r.ok()) << r.why();
  EXPECT_EQ(r->encoding, FileEncoding::Utf16LeBom);
  EXPECT_EQ(r->bytes, cp);
}

}  // namespace
