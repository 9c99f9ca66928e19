#include "test_paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

using quarn::test::hasPath;
using quarn::test::path;

// The message path() throws with, or "" when it returns.
std::string failure(const std::string& name) {
  try {
    path(name);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

// The file CMake wrote beside this program names the source files the suites read, and each exists.
TEST(TestPaths, TheBuildsFileNamesTheSourceFilesTheSuitesRead) {
  unsetenv("QUARN_TEST_PATHS");
  EXPECT_EQ(quarn::test::pathsFile(),
            (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "quarn-test-paths").string());
  for (const char* name :
       {"QUARN_EXAMPLES_DIR", "QUARN_CATALOGUE_DIR", "XLSXTEST_TEMPLATE", "XLSXTEST_DUMP_SCRIPT",
        "QUARN_HISTORY_SCHEMA1_FIXTURE", "QUARN_PG_CLUSTER_SCRIPT"}) {
    ASSERT_TRUE(hasPath(name)) << name;
    EXPECT_TRUE(std::filesystem::exists(path(name))) << name << " = " << path(name);
  }
  EXPECT_TRUE(std::filesystem::exists(path("QUARN_EXAMPLES_DIR") + "/demo.aip"));
  EXPECT_TRUE(std::filesystem::exists(path("QUARN_CATALOGUE_DIR") + "/Models_Quarn.xml"));
}

class OtherPathsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/quarn_test_paths_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    file_ = folder_ + "/paths";
    setenv("QUARN_TEST_PATHS", file_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUARN_TEST_PATHS");
    std::filesystem::remove_all(folder_);
  }
  void write(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
  std::string folder_, file_;
};

// QUARN_TEST_PATHS replaces the file: a value keeps everything after the first "=" (spaces, UTF-8,
// another "="), a line from a CRLF file loses its CR, and a line without a name is no entry.
TEST_F(OtherPathsFile, ValuesAreTakenWholeFromTheNamedFile) {
  write("SPACED=/t/Протокол поверки.xlsx\nEQUALS=/a=b\r\n=/nameless\nLAST=/no/newline");
  EXPECT_EQ(quarn::test::pathsFile(), file_);
  EXPECT_EQ(path("SPACED"), "/t/Протокол поверки.xlsx");
  EXPECT_EQ(path("EQUALS"), "/a=b");
  EXPECT_EQ(path("LAST"), "/no/newline");
  EXPECT_FALSE(hasPath(""));
}

// A name the file does not list, an empty value or a missing file fail with the name and the file,
// never an empty path a test would go on with.
TEST_F(OtherPathsFile, WhatIsNotThereFailsNamingIt) {
  write("QUARN_CLI=\nOTHER=/x\n");
  const std::string unlisted = failure("QUARN_SIM_PROGRAM");
  EXPECT_NE(unlisted.find("QUARN_SIM_PROGRAM"), std::string::npos) << unlisted;
  EXPECT_NE(unlisted.find(file_), std::string::npos) << unlisted;
  EXPECT_FALSE(hasPath("QUARN_SIM_PROGRAM"));

  const std::string empty = failure("QUARN_CLI");
  EXPECT_NE(empty.find("QUARN_CLI"), std::string::npos) << empty;
  EXPECT_FALSE(hasPath("QUARN_CLI"));

  std::filesystem::remove(file_);
  const std::string missing = failure("OTHER");
  EXPECT_NE(missing.find(file_), std::string::npos) << missing;
  EXPECT_THROW(hasPath("OTHER"), std::runtime_error);
}

}  // namespace
