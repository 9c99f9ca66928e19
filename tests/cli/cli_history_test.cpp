// quarn-cli and the run history, against the simulator inside quarn-cli in virtual time: finished runs are
// stored (verify as-found and as-left, a relay check) and read back by `history list/show/pair/check`; the
// protocol made again from the history equals the one written at the end of the run; a history that cannot
// take the run (locked, read-only, not a history, of a newer program) is said clearly while the run's results
// are still printed; bad history input gets a clear refusal.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "HistoryStore.h"
#include "cli_process.h"
#include "demo_project.h"
#include "openpyxl_reader.h"

namespace {

using clitest::CliRun;
using clitest::expectCleanSimulator;
using clitest::runCli;
using nlohmann::json;

std::string makeFolder() {
  char tmpl[] = "/tmp/quarn_cli_history_XXXXXX";
  return mkdtemp(tmpl) ? tmpl : "";
}

// The local date `days` from today, as --since takes it.
std::string localDate(int days) {
  const time_t t = time(nullptr) + days * 86400;
  tm parts{};
  localtime_r(&t, &parts);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
  return text;
}

// A connection of the test's own to a history file, beside the program under test.
class RawDb {
 public:
  explicit RawDb(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
  ~RawDb() { sqlite3_close(db_); }
  std::string exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    std::string text = rc == SQLITE_OK ? "" : message ? message : "error";
    sqlite3_free(message);
    return text;
  }

 private:
  sqlite3* db_ = nullptr;
};

// Three runs stored once for the whole suite: a verification with its protocol (tag offered: as
// found), the same again tagged as-left, and a relay check.
class CliHistory : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = makeFolder();
    history_ = dir_ + "/history.db";
    // What the cli keeps about the histories it reads goes into the test's folder, not the user's.
    setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    const std::string project = clitest::shortProject(dir_, {0, 50});
    const std::string common = " --run-timeout 120 --history '" + history_ + "'";
    runs_.push_back(runCli(clitest::demoFastBench() + "verify '" + project + "'" + common + " --report '" +
                           dir_ + "/run.xlsx'"));
    runs_.push_back(
        runCli(clitest::demoFastBench() + "verify '" + project + "'" + common + " --tag as-left"));
    const std::string relayProject = clitest::shortProject(dir_, {0}, "relay.aip");
    runs_.push_back(runCli(
        "--sim-virtual --timeout 20 --sim-arg --set --sim-arg input_tau_s=0.3 --sim-arg --set --sim-arg "
        "switch.1=300,5 relay '" +
        relayProject + "'" + common));
  }
  static void TearDownTestSuite() { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  void SetUp() override {
    for (const CliRun& r : runs_) {
      ASSERT_EQ(r.status, 0) << r.err;
      ASSERT_EQ(r.objects.size(), 1u) << r.out;
      expectCleanSimulator(r);
    }
  }

  static CliRun history(const std::string& args, const std::string& file = history_) {
    return runCli("history " + args + " --history '" + file + "'");
  }
  static const json& verification() { return runs_[0].objects[0]; }

  static std::string dir_;
  static std::string history_;
  static std::vector<CliRun> runs_;
};

std::string CliHistory::dir_;
std::string CliHistory::history_;
std::vector<CliRun> CliHistory::runs_;

// Each run says where it went: its number, the tag and the entry's hash.
TEST_F(CliHistory, EveryFinishedRunIsStoredWithItsTag) {
  struct Expected {
    int run;
    const char* tag;
  } expected[] = {{1, "as_found"}, {2, "as_left"}, {3, "as_found"}};
  for (size_t k = 0; k < std::size(expected); ++k) {
    SCOPED_TRACE(k);
    const json& h = runs_[k].objects[0]["history"];
    EXPECT_EQ(h["file"], history_);
    EXPECT_EQ(h["run"], expected[k].run) << h;
    EXPECT_EQ(h["tag"], expected[k].tag) << h;
    EXPECT_EQ(h["hash"].get<std::string>().size(), 64u) << h;
    EXPECT_NE(runs_[k].err.find("run " + std::to_string(expected[k].run) + " stored in the history"),
              std::string::npos)
        << runs_[k].err;
  }
}

TEST_F(CliHistory, ListFiltersBySerialDeviceAndDate) {
  const CliRun all = history("list");
  ASSERT_EQ(all.status, 0) << all.err;
  ASSERT_EQ(all.objects.size(), 3u) << all.out;
  // Newest first.
  EXPECT_EQ(all.objects[0]["run"], 3);
  EXPECT_EQ(all.objects[0]["kind"], "relay_check");
  EXPECT_EQ(all.objects[2]["kind"], "verification");
  const json& first = all.objects[2];
  ASSERT_EQ(first["devices"].size(), 4u) << first;
  const char* verdicts[] = {"suitable", "suitable", "unsuitable", "suitable"};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(first["devices"][c]["serial"], std::to_string(1001 + c));
    EXPECT_EQ(first["devices"][c]["verdict"], verdicts[c]);
  }
  EXPECT_FALSE(first["calibratorSerial"].get<std::string>().empty()) << first;

  struct Case {
    std::string args;
    std::vector<int> runs;
  } cases[] = {
      {"list --serial 1003", {3, 2, 1}},           {"list --serial 9999", {}},
      {"list --device 'давления'", {3, 2, 1}},     {"list --device Манометр", {}},
      {"list --since " + localDate(0), {3, 2, 1}}, {"list --since " + localDate(1), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliRun r = history(c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<int> runs;
    for (const json& j : r.objects) runs.push_back(j["run"]);
    EXPECT_EQ(runs, c.runs) << r.out;
  }
}

// What show prints is what the run printed at its end: every point of every channel, the verdicts
// and the hash.
TEST_F(CliHistory, ShowGivesBackTheRunsResults) {
  const CliRun r = history("show 1");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  const json& shown = r.objects[0];
  EXPECT_EQ(shown["hash"], verification()["history"]["hash"]);
  const json& record = shown["record"];
  EXPECT_EQ(record["kind"], "verification");
  EXPECT_EQ(record["tag"], "as_found");
  EXPECT_EQ(record["pointSet"], 1);
  const json& points = verification()["points"];
  ASSERT_EQ(record["devices"].size(), 4u);
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    const json& device = record["devices"][c];
    EXPECT_EQ(device["verdict"] == "suitable", verification()["suitable"][c].get<bool>());
    ASSERT_EQ(device["points"].size(), points.size());
    for (size_t k = 0; k < points.size(); ++k) {
      const json& stored = device["points"][k];
      const json& printed = points[k]["ch"][c];
      EXPECT_EQ(stored["pRef"], points[k]["pRef"]);
      for (const char* key : {"current", "iExpected", "pFromI", "reducedError", "uncertainty"})
        EXPECT_EQ(stored[key], printed[key]) << key;
    }
  }
}

TEST_F(CliHistory, PairShowsAsFoundAndAsLeftSideBySide) {
  const CliRun r = history("pair 1003");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  const json& pair = r.objects[0];
  EXPECT_EQ(pair["asFound"]["run"], 1);
  EXPECT_EQ(pair["asLeft"]["run"], 2);
  EXPECT_EQ(pair["asLeft"]["device"]["channel"], 3);
  ASSERT_EQ(pair["points"].size(), 2u) << pair;
  for (const json& p : pair["points"]) {
    const double change =
        p["asLeft"]["reducedError"].get<double>() - p["asFound"]["reducedError"].get<double>();
    EXPECT_NEAR(p["errorChange"].get<double>(), change, 1e-5) << p;
    // The bench did not change between the runs: channel 3 stays 0.6 % off.
    EXPECT_NEAR(p["asLeft"]["reducedError"].get<double>(), 0.6, 0.02) << p;
  }
}

// The protocol made again from the stored results holds what the one written at the end of the run
// holds, read back with the independent reader.
TEST_F(CliHistory, ProtocolFromTheHistoryEqualsTheRunsOwn) {
  if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
  const std::string again = dir_ + "/again.xlsx";
  const CliRun r = history("report 1 --report '" + again + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.objects.size(), 1u) << r.out;
  EXPECT_EQ(r.objects[0]["report"], again);
  std::string error;
  const auto original = xlsxtest::readWorkbook(dir_ + "/run.xlsx", &error);
  ASSERT_TRUE(original) << error;
  const auto rebuilt = xlsxtest::readWorkbook(again, &error);
  ASSERT_TRUE(rebuilt) << error;
  ASSERT_EQ((*rebuilt)["sheets"].size(), (*original)["sheets"].size());
  for (size_t s = 0; s < (*original)["sheets"].size(); ++s) {
    const json& a = (*original)["sheets"][s];
    const json& b = (*rebuilt)["sheets"][s];
    SCOPED_TRACE(a["name"].get<std::string>());
    EXPECT_EQ(a["name"], b["name"]);
    EXPECT_EQ(a["state"], b["state"]);
    EXPECT_EQ(a["cells"], b["cells"]);
  }
  EXPECT_EQ(*rebuilt, *original);

  const CliRun relay = history("report 3 --report '" + dir_ + "/relay.xlsx'");
  EXPECT_EQ(relay.status, 1);
  EXPECT_NE(relay.err.find("run 3 is a relay check: it has no protocol"), std::string::npos) << relay.err;
}

// check walks the chain; on a copy changed behind the program's back it names the entry.
TEST_F(CliHistory, CheckNamesTheFirstChangedEntry) {
  const CliRun ok = history("check");
  ASSERT_EQ(ok.status, 0) << ok.err;
  ASSERT_EQ(ok.objects.size(), 1u) << ok.out;
  EXPECT_EQ(ok.objects[0]["ok"], true);
  EXPECT_EQ(ok.objects[0]["entries"], 3);
  EXPECT_TRUE(ok.objects[0]["firstBad"].is_null());

  const std::string copy = dir_ + "/changed.db";
  ASSERT_EQ(std::system(("cp '" + history_ + "' '" + copy + "'").c_str()), 0);
  {
    RawDb db(copy);
    // The program's own triggers refuse the change; an editor of the file drops them first.
    ASSERT_EQ(db.exec("DROP TRIGGER IF EXISTS run_point_no_update"), "");
    ASSERT_EQ(db.exec("UPDATE run_point SET reduced_error = 0.125 WHERE entry_seq = 2 AND channel = 3"), "");
  }
  const CliRun bad = history("check", copy);
  EXPECT_EQ(bad.status, 1) << bad.err;
  ASSERT_EQ(bad.objects.size(), 1u) << bad.out;
  EXPECT_EQ(bad.objects[0]["ok"], false);
  EXPECT_EQ(bad.objects[0]["firstBad"], 2) << bad.out;
  EXPECT_FALSE(bad.objects[0]["problem"].get<std::string>().empty());
  EXPECT_NE(bad.err.find("entry 2"), std::string::npos) << bad.err;
}

TEST_F(CliHistory, BadInputIsRefusedClearly) {
  std::ofstream(dir_ + "/notes.txt") << "not a database\n";
  struct Case {
    std::string args;
    std::string file;
    std::string message;
  } cases[] = {
      {"show 99", history_, "99"},
      {"show x", history_, "a run is given by its number"},
      {"show", history_, "history show needs a run number"},
      {"pair", history_, "history pair needs a device serial number"},
      {"report 1", history_, "history report needs --report OUT.xlsx"},
      {"list --since 2026-02-30", history_, "--since takes YYYY-MM-DD"},
      {"list --since yesterday", history_, "--since takes YYYY-MM-DD"},
      {"list --frob", history_, "unknown argument: --frob"},
      {"frob", history_, "unknown history command: frob"},
      {"list", dir_ + "/missing.db", "не найден"},
      {"check", dir_ + "/notes.txt", "не является базой истории"},
      {"list", dir_, "папка"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args + " on " + c.file);
    const CliRun r = history(c.args, c.file);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(r.objects.empty()) << r.out;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  const CliRun none = runCli("history");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("history needs a command: list, show, pair, report, check, backup"), std::string::npos)
      << none.err;
  // Nothing above wrote into the history.
  EXPECT_EQ(history("check").objects.at(0)["entries"], 3);
}

// A history that cannot take the run: the reason is said, the results are printed all the same,
// and the command ends with status 1; the history keeps what it had.
class CliHistoryUnwritable : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = makeFolder();
    ASSERT_FALSE(dir.empty());
    // Another user (the read-only case run as root) must reach the folder and make SQLite's files.
    chmod(dir.c_str(), 0777);
    file = dir + "/history.db";
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    auto store = quarn::history::HistoryStore::open(file);
    ASSERT_TRUE(store) << store.error().message;
    project = clitest::shortProject(dir, {0});
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  CliRun verify() { return verifyInto(file); }
  CliRun verifyInto(const std::string& history) {
    return runCli(clitest::demoFastBench() + "verify '" + project + "' --run-timeout 120 --history '" +
                  history + "'");
  }
  static void expectResultsAndReason(const CliRun& r, const std::string& reason) {
    EXPECT_EQ(r.status, 1) << r.err;
    expectCleanSimulator(r);
    ASSERT_EQ(r.objects.size(), 1u) << r.out;
    EXPECT_EQ(r.objects[0]["points"].size(), 1u) << r.out;
    EXPECT_EQ(r.objects[0]["suitable"].size(), 4u) << r.out;
    EXPECT_NE(r.objects[0]["history"]["error"].get<std::string>().find(reason), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("quarn-cli: the run was not stored in the history: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  }
  void expectResultsButNoEntry(const CliRun& r, const std::string& reason) {
    expectResultsAndReason(r, reason);
    const CliRun list = runCli("history list --history '" + file + "'");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(list.objects.empty()) << list.out;
    const CliRun check = runCli("history check --history '" + file + "'");
    EXPECT_EQ(check.status, 0) << check.err;
  }

  std::string dir, file, project;
};

TEST_F(CliHistoryUnwritable, ALockedHistory) {
  RawDb other(file);
  ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), "");
  const CliRun r = verify();
  ASSERT_EQ(other.exec("COMMIT"), "");
  expectResultsButNoEntry(r, "занята другой программой");
}

// A file the user may not write. Root may write any file, so as root the command runs as nobody;
// nobody runs a copy of the program and of the bench's scenario in folders it may enter, since the
// build and the source may lie inside a folder only their owner may enter.
TEST_F(CliHistoryUnwritable, AReadOnlyHistory) {
  CliRun r;
  if (geteuid() == 0) {
    const clitest::ProgramCopy copy;
    ASSERT_EQ(copy.error(), "");
    const std::string scenario = dir + "/demo_bench.scenario";
    std::ofstream(scenario, std::ios::binary) << clitest::readWhole(clitest::demoBench());
    ASSERT_EQ(chmod(scenario.c_str(), 0644), 0);
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    // Where that user cannot run the copy either (a /tmp mounted noexec, a setpriv that refuses),
    // the case cannot be shown here.
    const CliRun help = runCli("--help", asNobody, copy.program());
    if (help.status != 0)
      GTEST_SKIP() << "user 65534 cannot run a copy of quarn-cli in " << copy.dir() << ": status "
                   << help.status << " " << help.err;
    r = runCli(clitest::demoFastBench(scenario) + "verify '" + project + "' --run-timeout 120 --history '" +
                   file + "'",
               asNobody, copy.program());
  } else {
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    r = verify();
  }
  EXPECT_NE(r.err.find("cannot be written (read-only)"), std::string::npos)
      << "said before the run: " << r.err;
  expectResultsButNoEntry(r, "только для чтения");
}

// Files that are no history of this program (another kind of file, a history of a newer program):
// the run is printed, the reason said before the run and after it, and the file is left as it was.
TEST_F(CliHistoryUnwritable, AFileThatIsNoHistoryOfThisProgramIsLeftAsItWas) {
  const std::string notes = dir + "/notes.db";
  std::ofstream(notes) << "meeting notes, not a database\n";
  {
    RawDb db(file);
    ASSERT_EQ(db.exec("UPDATE history_meta SET value = '3' WHERE name = 'schema_version'"), "");
  }
  struct Case {
    std::string file;
    std::string reason;
  } cases[] = {
      {notes, "не является базой истории поверок"},
      {file, "записана более новой версией программы"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    auto bytes = [&c] {
      std::ifstream in(c.file, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = bytes();
    const CliRun r = verifyInto(c.file);
    EXPECT_NE(r.err.find("the run history cannot be used: "), std::string::npos)
        << "said before the run: " << r.err;
    expectResultsAndReason(r, c.reason);
    EXPECT_EQ(bytes(), before);
  }
}

}  // namespace
