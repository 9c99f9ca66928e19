// `quarn-cli history sync|check|list --server` against the throw-away PostgreSQL cluster of the ctest
// fixture: where the connection string comes from, the JSON each prints, the exit status, and that a
// password never reaches the output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "HistoryStore.h"
#include "cli_process.h"
#include "history_server_fixture.h"
#include "sample_run.h"

namespace {

namespace fs = std::filesystem;
namespace history = quarn::history;
using clitest::CliRun;
using clitest::runCli;

class CliHistoryServer : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quarn_cli_server_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    server_.cluster = history::test::cluster();
    if (!server_.cluster.skip.empty()) GTEST_SKIP() << server_.cluster.skip;
    server_.name =
        history::test::databaseForTest(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_EQ(server_.create(), "");
  }
  void TearDown() override {
    if (!server_.name.empty()) server_.drop();
    fs::remove_all(dir_);
  }
  void write(const std::string& file, int runs, int from = 0) {
    auto opened = history::HistoryStore::open(file);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    for (int i = from; i < from + runs; ++i)
      ASSERT_TRUE(opened.value()
                      ->addRun(history::test::sampleRun("T" + std::to_string(i),
                                                        history::test::kMorning + i * history::test::kHour))
                      .ok());
  }
  // quarn-cli with the settings folder of this test (and `env` before it).
  CliRun cli(const std::string& args, const std::string& env = {}) {
    return runCli(args, "XDG_CONFIG_HOME='" + dir_ + "/cfg' QUARN_HISTORY_SERVER= " + env + " ");
  }
  std::string file(const char* name) const { return dir_ + "/" + name; }

  std::string dir_;
  history::test::ServerDatabase server_;
};

TEST_F(CliHistoryServer, SyncCheckAndListTakeTheServerFromOptionEnvironmentOrSettings) {
  write(file("a.db"), 3);
  const std::string uri = server_.uri();
  // From --server.
  CliRun r = cli("history sync --server '" + uri + "' --workstation ws-a --history '" + file("a.db") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  EXPECT_EQ(r.objects[0]["pushed"], 3);
  EXPECT_EQ(r.objects[0]["serverHead"], 3);
  EXPECT_EQ(r.objects[0]["workstation"], "ws-a");
  // From the environment: nothing new.
  write(file("a.db"), 2, 3);
  r = cli("history sync --workstation ws-a --history '" + file("a.db") + "'",
          "QUARN_HISTORY_SERVER='" + uri + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.objects.at(0)["serverHeadBefore"], 3);
  EXPECT_EQ(r.objects.at(0)["pushed"], 2);
  // From the settings file, with the workstation's name.
  write(file("b.db"), 2, 10);
  std::ofstream(file("arm_quarn.ini")) << "[HistoryServer]\nUri=" << uri << "\nWorkstation=ws-b\n";
  r = cli("history sync --settings '" + file("arm_quarn.ini") + "' --history '" + file("b.db") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.objects.at(0)["workstation"], "ws-b");
  EXPECT_EQ(r.objects.at(0)["pushed"], 2);
  EXPECT_EQ(r.out.find("s3cret"), std::string::npos) << r.out;

  r = cli("history check --server '" + uri + "' --workstation ws-a --history '" + file("a.db") + "'");
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  ASSERT_EQ(r.objects.size(), 1u);
  EXPECT_EQ(r.objects[0]["ok"], true);
  EXPECT_EQ(r.objects[0]["workstations"].size(), 2u);
  EXPECT_EQ(r.objects[0]["local"]["acknowledged"], 5);
  EXPECT_EQ(r.out.find("s3cret"), std::string::npos) << r.out;

  // The lab's list as the quality manager reads it: both workstations, newest first; a serial.
  const std::string reader = server_.uri("quarn_quality", "read");
  r = cli("history list --server '" + reader + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 7u) << r.out;
  EXPECT_EQ(r.objects[0]["workstation"], "ws-b");
  EXPECT_EQ(r.objects[0]["run"], 2);
  r = cli("history list --server '" + reader + "' --serial T3-2");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  EXPECT_EQ(r.objects[0]["workstation"], "ws-a");
  EXPECT_EQ(r.objects[0]["run"], 4);
  r = cli("history list --server '" + reader + "' --workstation ws-b");
  EXPECT_EQ(r.objects.size(), 2u) << r.out;
}

TEST_F(CliHistoryServer, RefusalsEndWithStatusOneAndNeverShowThePassword) {
  write(file("a.db"), 2);
  fs::copy_file(file("a.db"), file("old.db"));  // closed: nothing left in a side file
  write(file("a.db"), 2, 2);
  const std::string uri = server_.uri();
  ASSERT_EQ(
      cli("history sync --server '" + uri + "' --workstation ws-a --history '" + file("a.db") + "'").status,
      0);
  const std::string before = clitest::readWhole(file("a.db"));

  // A refused password, and no server at all.
  CliRun r = cli("history sync --server '" + server_.uri("quarn_ws", "wrong-secret") +
                 "' --workstation ws-a --history '" + file("a.db") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("password authentication failed"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("wrong-secret"), std::string::npos) << r.err;
  r = cli("history sync --workstation ws-a --history '" + file("a.db") + "'", "XDG_CONFIG_HOME=/nonexistent");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no history server"), std::string::npos) << r.err;
  EXPECT_EQ(clitest::readWhole(file("a.db")), before);

  // The file replaced by an older copy: sync and check name entry 3, and every read of the file
  // is refused by the head the server acknowledged.
  fs::copy_file(file("old.db"), file("a.db"), fs::copy_options::overwrite_existing);
  r = cli("history sync --server '" + uri + "' --workstation ws-a --history '" + file("a.db") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("нет записи 3"), std::string::npos) << r.err;
  r = cli("history check --server '" + uri + "' --workstation ws-a --history '" + file("a.db") + "'");
  EXPECT_EQ(r.status, 1);
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  EXPECT_EQ(r.objects[0]["local"]["firstBad"], 3);
  EXPECT_NE(r.err.find("entry 3"), std::string::npos) << r.err;
  r = cli("history list --history '" + file("a.db") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("сервер"), std::string::npos) << r.err;

  // Options that belong together.
  r = cli("history list --workstation ws-a");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("give --server URI too"), std::string::npos) << r.err;
}

}  // namespace
