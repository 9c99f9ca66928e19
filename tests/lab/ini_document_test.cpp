#include <gtest/gtest.h>

#include "IniDocument.h"
#include "quarn/cp1251.h"

using quarn::data::IniDocument;

namespace {

const std::string kFile =
    "; written by hand\r\n"
    "orphan=before any section\r\n"
    "[Path]\r\n"
    "ProjectFileName=C:\\prj\\a.aip\r\n"
    "  Spaced Key  = value with = sign \r\n"
    "projectfilename=second occurrence\r\n"
    "no equals sign here\r\n"
    "\r\n"
    "[path]\n"
    "Extra=in the duplicate section\n"
    "[Unknown_Section]\r"
    "Keep=me\r\n";

TEST(IniDocument, LookupFollowsTheProfileRules) {
  const IniDocument ini = IniDocument::parse(kFile);
  struct Case {
    const char* section;
    const char* key;
    std::optional<std::string> value;
  } cases[] = {
      {"Path", "ProjectFileName", "C:\\prj\\a.aip"},
      {"PATH", "projectfilename", "C:\\prj\\a.aip"},      // names ignore case, first key wins
      {"Path", "Spaced Key", " value with = sign "},      // value verbatim after the first '='
      {" Path ", " spaced key ", " value with = sign "},  // names ignore surrounding blanks
      {"Path", "Extra", std::nullopt},                    // only the first section of a name counts
      {"Unknown_Section", "Keep", "me"},                  // lone CR ends a line too
      {"Path", "orphan", std::nullopt},                   // lines before any section are not entries
      {"Path", "no equals sign here", std::nullopt},
      {"Missing", "Keep", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    const auto v = ini.get(c.section, c.key);
    ASSERT_EQ(v.has_value(), c.value.has_value());
    if (v) {
      EXPECT_EQ(std::string(*v), *c.value);
    }
  }
}

TEST(IniDocument, CyrillicNamesIgnoreCase) {
  const std::string file = std::string("[") + CP1251("Раздел") + "]\r\n" + CP1251("Ключ") + "=1\r\n";
  const IniDocument ini = IniDocument::parse(file);
  EXPECT_TRUE(ini.hasKey(CP1251("РАЗДЕЛ"), CP1251("ключ")));
}

TEST(IniDocument, RewriteKeepsEverythingItDoesNotChange) {
  IniDocument ini = IniDocument::parse(kFile);
  ini.set("path", "PROJECTFILENAME", "new.aip");  // first occurrence, original spelling kept
  ini.set("Path", "Added", "1");                  // after the last entry, before the blank line
  ini.set("New", "k", "v");                       // new section at the end, closed by a blank line
  const std::string expected =
      "; written by hand\r\n"
      "orphan=before any section\r\n"
      "[Path]\r\n"
      "ProjectFileName=new.aip\r\n"
      "  Spaced Key  = value with = sign \r\n"
      "projectfilename=second occurrence\r\n"
      "Added=1\r\n"
      "no equals sign here\r\n"
      "\r\n"
      "[path]\r\n"
      "Extra=in the duplicate section\r\n"
      "[Unknown_Section]\r\n"
      "Keep=me\r\n"
      "[New]\r\n"
      "k=v\r\n"
      "\r\n";
  EXPECT_EQ(ini.serialize(), expected);
  EXPECT_EQ(IniDocument::parse(ini.serialize()).serialize(), expected);
}

TEST(IniDocument, LineBreaksInNamesAndValuesCannotInjectEntries) {
  IniDocument ini;
  ini.set("Device_ch_0", "owner", "ACME\r\n[Device_ch_1]\r\nenabled=1");
  ini.set("A]\nB", "k=x\ny", std::string("v\0w", 3));
  const IniDocument back = IniDocument::parse(ini.serialize());
  EXPECT_FALSE(back.hasSection("Device_ch_1"));
  EXPECT_EQ(std::string(*back.get("Device_ch_0", "owner")), "ACME  [Device_ch_1]  enabled=1");
  EXPECT_EQ(back.sectionNames(), (std::vector<std::string>{"Device_ch_0", "A  B"}));
  ASSERT_TRUE(back.hasKey("A  B", "k x y"));  // the key lost its '=' and line break
  EXPECT_EQ(std::string(*back.get("A  B", "k x y")), "v w");
}

// A value or name that is a view into the document itself stays valid while the document changes:
// the line it comes from is rewritten, or lines and sections move as entries are added.
TEST(IniDocument, ValuesTakenFromTheDocumentItselfCanBeWrittenBack) {
  IniDocument ini = IniDocument::parse("[S]\r\nk=a value longer than a short string\r\nshort=x\r\n");
  ini.set("S", "k", *ini.get("S", "k"));  // onto the very line it comes from
  EXPECT_EQ(std::string(*ini.get("S", "k")), "a value longer than a short string");
  ini.set("S", "k", ini.get("S", "k")->substr(2));  // its own tail
  EXPECT_EQ(std::string(*ini.get("S", "k")), "value longer than a short string");
  for (int i = 0; i < 40; ++i)  // each new entry may move every line of the section
    ini.set("S", "copy" + std::to_string(i),
            *ini.get("S", i == 0 ? "short" : "copy" + std::to_string(i - 1)));
  EXPECT_EQ(std::string(*ini.get("S", "copy39")), "x");
  for (int i = 0; i < 40; ++i)  // each new section may move every section name
    ini.set(ini.sectionNames().back() + "+", ini.sectionName(0), "v");
  EXPECT_EQ(ini.sectionCount(), 41u);
  EXPECT_EQ(std::string(*ini.get("S++", "S")), "v");
}

TEST(IniDocument, RecognisesALastLineCutOffInTheMiddle) {
  struct Case {
    const char* content;
    bool broken;
  } cases[] = {
      {"[A]\r\nk=1\r\n", false},
      {"[A]\r\nk=1", false},  // no line end, but a complete entry
      {"[A]\r\n[Points_set_2_po", true},
      {"[A]\r\nvalueP", true},
      {"[A]\r\n; comment", false},
      {"[A]\r\nvalueP\r\n", false},  // a malformed line that is not the end of the file
      {"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IniDocument::parse(c.content).endsInBrokenLine(), c.broken) << c.content;
}

TEST(IniDocument, OwnerChainSectionNames) {
  EXPECT_EQ(quarn::data::ownerChainSection({"FormMain", "Frame_Mode_3_Param1"}),
            "_FormMain_Frame_Mode_3_Param1_");
  EXPECT_EQ(quarn::data::ownerChainSection({"FormMain", "COMselect"}), "_FormMain_COMselect_");
  EXPECT_EQ(quarn::data::ownerChainSection({}), "_");
}

}  // namespace
