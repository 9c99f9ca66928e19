// `quarn-cli history sync|check|list|show|pair|report --server` against the throw-away PostgreSQL
// cluster of the ctest fixture: where the connection string comes from, the JSON each prints, the
// exit status, that a run read from the server prints and makes its protocol exactly as the local
// history does, that a server edited behind the program is refused naming the entry, and that a
// password never reaches the output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "HistoryServer.h"
#include "HistoryStore.h"
#include "cli_process.h"
#include "history_server_fixture.h"
#include "sample_run.h"
#include "workbook_fixture.h"

namespace {

namespace fs = std::filesystem;
namespace history = quarn::history;
using clitest::CliRun;
using clitest::runCli;

// The first part in which two workbooks differ ("" when every part holds the same bytes): the
// report library stamps its parts with the time they were written, so the packages themselves differ
// between two protocols of the same run made seconds apart.
std::string firstDifferentPart(const std::string& a, const std::string& b) {
  const std::vector<std::string> names = xlsxtest::zipEntryNames(a);
  if (names.empty()) return "no parts in " + a;
  if (names != xlsxtest::zipEntryNames(b)) return "the list of parts";
  for (const std::string& name : names)
    if (xlsxtest::readZipEntry(a, name) != xlsxtest::readZipEntry(b, name)) return name;
  return {};
}

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
  // A history of every kind of entry (what a workstation's file holds after a day's work):
  //   1 run of as found   2 adjustment of A-1   3 calibration run of as left
  //   4 correction of run 1         5 run of B-1, B-2      6 cancellation of run 5
  void writeDay(const std::string& path) {
    auto opened = history::HistoryStore::open(path);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    history::HistoryStore& store = *opened.value();
    using history::test::kHour;
    using history::test::kMorning;
    ASSERT_TRUE(store.addRun(history::test::sampleRun("A", kMorning)).ok());
    history::Adjustment trim;
    trim.atMs = kMorning + kHour / 2;
    trim.utcOffsetMin = history::test::kMoscow;
    trim.workstation = "стенд-2";
    trim.channel = 1;
    trim.serial = "A-1";
    trim.deviceName = "Датчик давления";
    trim.kind = history::AdjustmentKind::SensorTrim;
    trim.note = "0 кПа: 0.012; 600 кПа: 599.97";
    ASSERT_TRUE(store.addAdjustment(trim).ok());
    // The as-left run ends a calibration: it carries the channels' reasons.
    history::RunRecord left = history::test::sampleRun("A", kMorning + kHour);
    left.kind = history::RunKind::Calibration;
    left.tag = history::RunTag::AsLeft;
    left.protocol.fields.push_back({"cal_D1_REASON", ""});
    left.protocol.fields.push_back({"cal_D2_REASON", ""});
    for (history::DeviceResult& d : left.devices)
      for (history::PointResult& p : d.points) p.reducedError /= 4;
    ASSERT_TRUE(store.addRun(left).ok());
    history::RunRecord corrected = history::test::sampleRun("A", kMorning);
    corrected.conditions.temperature = "22.0";
    const history::Actor by{"стенд-2", "Петров П. П."};
    ASSERT_TRUE(store.addCorrection(1, corrected, "температура записана неверно", by).ok());
    ASSERT_TRUE(store.addRun(history::test::sampleRun("B", kMorning + 2 * kHour)).ok());
    ASSERT_TRUE(store.addCancellation(5, "не тот прибор", by).ok());
  }
  // The history pushed under `workstation` (with the library: no acknowledged heads kept).
  void push(const std::string& path, const std::string& workstation) {
    auto store = history::HistoryStore::open(path);
    ASSERT_TRUE(store.ok()) << store.error().message;
    history::ServerOptions o;
    o.uri = server_.uri();
    o.workstationId = workstation;
    const history::Result<history::SyncResult> pushed = history::syncToServer(*store.value(), o);
    ASSERT_TRUE(pushed.ok()) << pushed.error().message;
  }
  // The server changed by its superuser with the guards off (the triggers, and the check of each
  // row's hash against its content).
  void edit(const std::string& sql) {
    history::test::Admin su(server_.conninfo(server_.name, server_.cluster.superuser));
    ASSERT_TRUE(su.ok()) << su.why();
    ASSERT_EQ(
        su.exec("BEGIN; SET LOCAL session_replication_role = replica; ALTER TABLE entry DROP CONSTRAINT "
                "IF EXISTS entry_hash_of_content; " +
                sql + "; COMMIT"),
        "")
        << sql;
  }

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
  r = cli("history list --settings '" + file("arm_quarn.ini") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("give --server URI or --workstation ID"), std::string::npos) << r.err;
}

// show, pair and report name a run on the server by its workstation and number, and print what the
// local commands print of the same history: the same JSON, the same protocol.
TEST_F(CliHistoryServer, ARunReadFromTheServerIsPrintedAsTheLocalHistoryPrintsIt) {
  writeDay(file("a.db"));
  push(file("a.db"), "ws-a");
  const std::string local = "--history '" + file("a.db") + "'";
  const std::string lab = "--server '" + server_.uri("quarn_quality", "read") + "' --workstation ws-a";
  // A run, one named by its correction, the as-left run, a cancelled run; pairs with and without an
  // adjustment between their runs, and a device whose only run was cancelled (refused by both).
  for (const char* read : {"show 1", "show 4", "show 3", "show 5", "pair A-1", "pair A-2", "pair B-1"}) {
    SCOPED_TRACE(read);
    const CliRun mine = cli(std::string("history ") + read + " " + local);
    const CliRun theirs = cli(std::string("history ") + read + " " + lab);
    ASSERT_EQ(theirs.status, mine.status) << mine.err << theirs.err;
    if (mine.status != 0) {
      EXPECT_NE(theirs.err.find("нет запусков прибора № B-1"), std::string::npos) << theirs.err;
      continue;
    }
    ASSERT_EQ(theirs.objects.size(), 1u) << theirs.out;
    EXPECT_EQ(theirs.objects[0], mine.objects.at(0));
  }
  // What the pair's JSON is made of, so an empty equality proves nothing.
  const CliRun pair = cli("history pair A-1 " + lab);
  ASSERT_EQ(pair.objects.size(), 1u) << pair.out;
  EXPECT_EQ(pair.objects[0]["asFound"]["run"], 1) << pair.out;
  EXPECT_EQ(pair.objects[0]["asLeft"]["run"], 3) << pair.out;
  EXPECT_EQ(pair.objects[0]["adjustments"].size(), 1u) << pair.out;
  const CliRun shown = cli("history show 4 " + lab);
  EXPECT_EQ(shown.objects.at(0)["cancelled"], false);
  EXPECT_EQ(shown.objects.at(0)["content"], 4) << shown.out;

  // The protocol: the same workbook from both, naming the same entry at its foot.
  const CliRun made = cli("history report 1 --report '" + file("local.xlsx") + "' " + local);
  ASSERT_EQ(made.status, 0) << made.err;
  const CliRun again = cli("history report 1 --report '" + file("lab.xlsx") + "' " + lab);
  ASSERT_EQ(again.status, 0) << again.err;
  ASSERT_EQ(again.objects.size(), 1u) << again.out;
  EXPECT_EQ(again.objects[0]["run"], 1);
  EXPECT_EQ(firstDifferentPart(file("local.xlsx"), file("lab.xlsx")), "");
  // The calibration's protocol: both its runs and the trim between them, found on the server as in the
  // file.
  const CliRun calibration = cli("history report 3 --report '" + file("local-cal.xlsx") + "' " + local);
  ASSERT_EQ(calibration.status, 0) << calibration.err;
  const CliRun labCalibration = cli("history report 3 --report '" + file("lab-cal.xlsx") + "' " + lab);
  ASSERT_EQ(labCalibration.status, 0) << labCalibration.err;
  ASSERT_EQ(labCalibration.objects.size(), 1u) << labCalibration.out;
  EXPECT_EQ(labCalibration.objects[0]["asFound"], 1) << labCalibration.out;
  EXPECT_EQ(labCalibration.objects[0]["adjustments"], 1) << labCalibration.out;
  EXPECT_EQ(firstDifferentPart(file("local-cal.xlsx"), file("lab-cal.xlsx")), "");
  const CliRun missing = cli("history report 9 --report '" + file("none.xlsx") + "' " + lab);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("нет запуска 9"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(file("none.xlsx")));
}

// A server edited behind the program is refused before anything is printed, naming the entry; an
// unknown run or workstation and missing options get a clear message; no password is printed.
TEST_F(CliHistoryServer, AServerReadRefusesAnEditedChainAndSaysWhatIsMissing) {
  writeDay(file("a.db"));
  // The same history under one name per case, each edited on its own.
  struct Case {
    const char* workstation;
    const char* sql;  // ws is replaced by the workstation
    const char* read;
    int entry;
    const char* says;
    int report;  // the run whose protocol is refused too (0: none)
  } cases[] = {
      {"ws-content",
       "UPDATE entry SET canonical = convert_to(replace(convert_from(canonical, 'UTF8'), 'Q1234', 'Q9999'), "
       "'UTF8') WHERE workstation_id = 'ws' AND seq = 3",
       "show 3", 3, "хэш не совпадает", 3},
      {"ws-header", "UPDATE entry SET note = 'другая причина' WHERE workstation_id = 'ws' AND seq = 4",
       "show 1", 4, "значения записи", 1},
      {"ws-deleted", "DELETE FROM entry WHERE workstation_id = 'ws' AND seq = 2", "show 3", 2, "отсутствует",
       3},
      {"ws-tag", "UPDATE entry SET run_tag = 'as_found' WHERE workstation_id = 'ws' AND seq = 3", "pair A-1",
       3, "значения записи", 0},
      {"ws-trim",
       "UPDATE entry SET canonical = convert_to(replace(convert_from(canonical, 'UTF8'), '599.97', "
       "'599.99'), "
       "'UTF8') WHERE workstation_id = 'ws' AND seq = 2",
       "pair A-2", 2, "хэш не совпадает", 0},
  };
  for (const Case& c : cases) push(file("a.db"), c.workstation);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.workstation);
    std::string sql = c.sql;
    sql.replace(sql.find("'ws'"), 4, std::string("'") + c.workstation + "'");
    edit(sql);
    const std::string lab = " --server '" + server_.uri() + "' --workstation " + c.workstation;
    const CliRun r = cli(std::string("history ") + c.read + lab);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(r.objects.empty()) << r.out;
    EXPECT_NE(r.err.find("запись " + std::to_string(c.entry) + ":"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.workstation), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("s3cret"), std::string::npos) << r.err;
    if (c.report == 0) continue;
    const CliRun report =
        cli("history report " + std::to_string(c.report) + " --report '" + file("edited.xlsx") + "'" + lab);
    EXPECT_EQ(report.status, 1);
    EXPECT_NE(report.err.find("запись " + std::to_string(c.entry) + ":"), std::string::npos) << report.err;
    EXPECT_FALSE(fs::exists(file("edited.xlsx")));
  }

  push(file("a.db"), "ws-a");
  const std::string uri = "--server '" + server_.uri() + "'";
  struct Refusal {
    std::string args, says;
  } refusals[] = {
      {"show 99 " + uri + " --workstation ws-a", "нет запуска 99"},
      {"show 2 " + uri + " --workstation ws-a", "нет запуска 2"},  // an adjustment, not a run
      {"pair X-9 " + uri + " --workstation ws-a", "нет запусков прибора № X-9"},
      {"show 1 " + uri + " --workstation ws-nobody", "нет станции «ws-nobody»"},
      {"show 1 " + uri, "give --workstation ID"},
      {"show 1 --workstation ws-a --history '" + file("a.db") + "'", "not a history file"},
      {"pair A-1 --settings '" + file("none.ini") + "'", "give --server URI or --workstation ID"},
      {"show 1 --workstation ws-a", "no history server"},
  };
  for (const Refusal& f : refusals) {
    SCOPED_TRACE(f.args);
    const CliRun r = cli("history " + f.args);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(r.objects.empty()) << r.out;
    EXPECT_NE(r.err.find(f.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("s3cret"), std::string::npos) << r.err;
  }
  // The server from the environment, as sync takes it.
  const CliRun env = cli("history show 3 --workstation ws-a", "QUARN_HISTORY_SERVER='" + server_.uri() + "'");
  EXPECT_EQ(env.status, 0) << env.err;
  EXPECT_EQ(env.objects.size(), 1u) << env.out;
}

}  // namespace
