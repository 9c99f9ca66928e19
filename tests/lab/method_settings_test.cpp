#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "IniValues.h"
#include "MethodList.h"
#include "WorkstationSettings.h"
#include "quarn/cp1251.h"

using namespace quarn::data;
namespace fs = std::filesystem;

namespace {

class SideFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quarn_data_side_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(SideFilesTest, MethodListRoundTripAndDocumentLookup) {
  MethodList list;
  list[0] = {"Метран-150", "МП 4212-012"};
  list[3] = {"  Метран  ", "МИ 1997-89"};
  list[49] = {"АИР-20", "МП АИР"};
  { std::ofstream(path("mp.ini"), std::ios::binary) << "[Other]\r\nkeep=1\r\n"; }
  ASSERT_TRUE(saveMethods(path("mp.ini"), list).ok());
  MethodList back;
  ASSERT_TRUE(loadMethods(path("mp.ini"), back).ok());
  for (int i = 0; i < kMethodRows; ++i) {
    EXPECT_EQ(back[static_cast<std::size_t>(i)].device, list[static_cast<std::size_t>(i)].device);
    EXPECT_EQ(back[static_cast<std::size_t>(i)].document, list[static_cast<std::size_t>(i)].document);
  }
  std::ifstream f(path("mp.ini"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(f)), {});
  EXPECT_EQ(bytes.rfind("[Other]\r\nkeep=1\r\n", 0), 0u);
  EXPECT_NE(bytes.find(std::string("device_0=") + CP1251("Метран-150") + "\r\n"), std::string::npos);

  // The last row whose trimmed device cell contains the name.
  EXPECT_EQ(methodDocument(back, "Метран"), "МИ 1997-89");
  EXPECT_EQ(methodDocument(back, "Метран-150"), "МП 4212-012");
  EXPECT_EQ(methodDocument(back, "Сапфир"), "");
  EXPECT_EQ(methodDocument(back, ""), "");

  MethodList missing;
  missing[0].device = "x";
  EXPECT_TRUE(loadMethods(path("absent.ini"), missing).ok());
  EXPECT_EQ(missing[0].device, "");
}

// A list that cannot be read or written says why, and neither the list in memory nor a file that
// could not be read is replaced.
TEST_F(SideFilesTest, MethodListFailuresSayWhyAndChangeNothing) {
  fs::create_directories(path("folder.ini"));
  MethodList list;
  list[3] = {"КДД", "МП 1"};
  const Outcome read = loadMethods(path("folder.ini"), list);
  EXPECT_FALSE(read.ok());
  EXPECT_FALSE(read.why().empty());
  EXPECT_EQ(list[3].device, "КДД");
  for (const std::string& target : {path("folder.ini"), path("no such folder/mp.ini")}) {
    SCOPED_TRACE(target);
    const Outcome saved = saveMethods(target, list);
    EXPECT_FALSE(saved.ok());
    EXPECT_FALSE(saved.why().empty());
  }
  EXPECT_TRUE(fs::is_directory(path("folder.ini")));
}

TEST_F(SideFilesTest, SettingsFileKeepsWindowProjectAndPortMenus) {
  const std::string com = ownerChainSection({"FormMain", "COMselect"});
  const std::map<std::string, std::vector<std::string>> menus = {{com, {"menuAll_item", "COM1", "COM3"}}};
  WorkstationSettings s;
  ASSERT_EQ(loadSettings(path("arm_quarn.ini"), "/opt/quarn", menus, s).why(), "");
  EXPECT_FALSE(s.window);
  EXPECT_EQ(s.projectFileName, "/opt/quarn/default.aip");
  EXPECT_FALSE(s.portMenus[com]["COM3"]);

  s.window = WindowPlacement{10, 20, 1024, 768};
  s.projectFileName = "/home/оператор/проект.aip";
  s.portMenus[com]["COM3"] = true;
  ASSERT_EQ(saveSettings(path("arm_quarn.ini"), s).why(), "");
  WorkstationSettings back;
  ASSERT_EQ(loadSettings(path("arm_quarn.ini"), "/opt/quarn", menus, back).why(), "");
  ASSERT_TRUE(back.window);
  EXPECT_EQ(back.window->width, 1024);
  EXPECT_EQ(back.projectFileName, "/home/оператор/проект.aip");
  EXPECT_TRUE(back.portMenus[com]["COM3"]);
  EXPECT_FALSE(back.portMenus[com]["COM1"]);
  EXPECT_TRUE(back.file.hasKey("_FormMain_COMselect_", "COM3"));
}

// The HART search's setting: off and the library's own turnaround when the file says nothing; kept
// across a save; a turnaround the library would not take is held to its range, text that is not a
// number reads as 0.
TEST_F(SideFilesTest, SettingsFileKeepsTheFastHartSearch) {
  struct Case {
    const char* file;
    bool fast;
    std::optional<uint32_t> turnaroundMs;
  } cases[] = {
      {"", false, std::nullopt},
      {"[HART]\nFastSearch=1\n", true, std::nullopt},
      {"[HART]\nFastSearch=0\nFastSearchTurnaroundMs=40\n", false, 40u},
      {"[HART]\nFastSearch=1\nFastSearchTurnaroundMs=5000\n", true, 1000u},
      {"[HART]\nFastSearchTurnaroundMs=-3\n", false, 0u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const WorkstationSettings s = settingsFromIni(IniDocument::parse(c.file), "/opt/quarn", {});
    EXPECT_EQ(s.fastHartSearch, c.fast);
    EXPECT_EQ(s.hartTurnaroundMs, c.turnaroundMs);
  }
  WorkstationSettings s =
      settingsFromIni(IniDocument::parse("[HART]\nFastSearchTurnaroundMs=25\n"), "/x", {});
  s.fastHartSearch = true;
  ASSERT_EQ(saveSettings(path("arm_quarn.ini"), s).why(), "");
  WorkstationSettings back;
  ASSERT_EQ(loadSettings(path("arm_quarn.ini"), "/x", {}, back).why(), "");
  EXPECT_TRUE(back.fastHartSearch);
  EXPECT_EQ(back.hartTurnaroundMs, 25u);
}

}  // namespace
