// `quarn-cli history check` against the ways a history is tampered with beyond editing a value (each
// named, none passes), against the protocols made from it, and `history backup`. The histories are
// written as the workstation writes its own, remembering the head in the settings folder that the cli
// reads ($XDG_CONFIG_HOME/quarn); no simulator is needed.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "HistoryStore.h"
#include "cli_process.h"
#include "openpyxl_reader.h"
#include "sample_run.h"
#include "test_paths.h"

namespace {

namespace fs = std::filesystem;
namespace history = quarn::history;
using clitest::CliRun;
using clitest::runCli;
using nlohmann::json;

class CliHistoryCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quarn_cli_check_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    file_ = dir_ + "/history.db";
  }
  void TearDown() override { fs::remove_all(dir_); }

  history::OpenOptions anchored() const {
    history::OpenOptions o;
    o.anchorFolder = dir_ + "/cfg/quarn";
    o.keepHead = true;
    return o;
  }
  // `runs` runs written by a writer that remembers the head, as the workstation does.
  void write(const std::string& file, int runs, const history::OpenOptions& options, int from = 0) {
    auto opened = history::HistoryStore::open(file, options);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    for (int i = from; i < from + runs; ++i) {
      history::RunRecord r =
          history::test::sampleRun("T" + std::to_string(i), history::test::kMorning + i * 3600000);
      ASSERT_TRUE(opened.value()->addRun(r).ok());
    }
  }
  CliRun cli(const std::string& args, const std::string& file = {}) {
    return runCli("history " + args + " --history '" + (file.empty() ? file_ : file) + "'",
                  "XDG_CONFIG_HOME='" + dir_ + "/cfg' ");
  }
  void sql(const std::string& file, const std::string& text, bool dropGuards = true) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    std::string all;
    if (dropGuards)
      for (const char* t :
           {"entry", "run", "run_field", "run_channel", "run_point", "run_relay", "adjustment"})
        for (const char* op : {"update", "delete"})
          all += std::string("DROP TRIGGER IF EXISTS ") + t + "_no_" + op + ";";
    all += text;
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, all.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
  }
  std::string hashOf(int64_t seq) {
    sqlite3* db = nullptr;
    sqlite3_open(file_.c_str(), &db);
    sqlite3_stmt* s = nullptr;
    std::string out;
    sqlite3_prepare_v2(db, ("SELECT hash FROM entry WHERE seq = " + std::to_string(seq)).c_str(), -1, &s,
                       nullptr);
    if (sqlite3_step(s) == SQLITE_ROW) out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    sqlite3_close(db);
    return out;
  }

  std::string dir_, file_;
};

TEST_F(CliHistoryCheck, EveryWayOfTamperingIsNamedAndNonePasses) {
  struct Case {
    const char* what;
    std::function<void()> tamper;
    json firstBad;  // null: no entry to name
    const char* says;
  };
  const std::vector<Case> cases = {
      {"the newest three runs removed with the head marker updated",
       [this] {
         const std::string second = hashOf(2);
         sql(file_,
             "DELETE FROM run_point WHERE entry_seq > 2; DELETE FROM run_channel WHERE entry_seq > 2;"
             "DELETE FROM run_field WHERE entry_seq > 2; DELETE FROM run WHERE entry_seq > 2;"
             "DELETE FROM entry WHERE seq > 2; UPDATE history_meta SET value = '2' WHERE name = 'head_seq';"
             "UPDATE history_meta SET value = '" +
                 second + "' WHERE name = 'head_hash';");
       },
       3, "последние записи удалены"},
      {"a forged cancellation appended by a program that knows the hash rule",
       [this] {
         auto forger = history::HistoryStore::open(file_);
         ASSERT_TRUE(forger.ok());
         ASSERT_TRUE(forger.value()->addCancellation(2, "ошибка", {"стенд-2", "Иванов И. И."}).ok());
       },
       6, "добавлена не этой программой"},
      {"the whole file replaced by another valid history",
       [this] {
         write(dir_ + "/other.db", 7, history::OpenOptions{}, 40);
         fs::copy_file(dir_ + "/other.db", file_, fs::copy_options::overwrite_existing);
       },
       1, "заменён другой историей"},
      {"an empty (0-byte) file", [this] { fs::resize_file(file_, 0); }, 1, "файл пуст"},
      {"the guard triggers dropped and left dropped", [this] { sql(file_, ""); }, nullptr,
       "защита записей от изменения снята"},
      {"a verdict edited",
       [this] { sql(file_, "UPDATE run_channel SET verdict = 'unsuitable' WHERE entry_seq = 4"); }, 4,
       "содержимое записи изменено"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ + "/cfg");
    for (const char* tail : {"", "-wal", "-shm"}) fs::remove(file_ + tail);
    write(file_, 5, anchored());
    ASSERT_EQ(cli("check").status, 0);
    c.tamper();

    const CliRun r = cli("check");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    ASSERT_EQ(r.objects.size(), 1u) << r.out << r.err;
    EXPECT_EQ(r.objects[0]["ok"], false);
    EXPECT_EQ(r.objects[0]["firstBad"], c.firstBad);
    EXPECT_NE(r.objects[0]["problem"].get<std::string>().find(c.says), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("is not intact"), std::string::npos) << r.err;
    // A read that would print a run refuses too (the empty file has none to print).
    const CliRun shown = cli("show 1");
    EXPECT_EQ(shown.status, 1) << shown.out;
    EXPECT_TRUE(shown.objects.empty()) << shown.out;
  }
}

TEST_F(CliHistoryCheck, AProtocolNamesItsEntryAndTheCheckComparesIt) {
  if (!xlsxtest::openpyxlMissing().empty()) GTEST_SKIP() << xlsxtest::openpyxlMissing();
  write(file_, 3, anchored());
  const std::string protocol = dir_ + "/p2.xlsx";
  const CliRun made = cli("report 2 --report '" + protocol + "'");
  ASSERT_EQ(made.status, 0) << made.err;
  // The foot of the protocol's sheet names the entry and the first 12 digits of its hash.
  std::string unreadable;
  const std::optional<json> read = xlsxtest::readWorkbook(protocol, &unreadable);
  ASSERT_TRUE(read) << unreadable;
  const json& book = *read;
  bool named = false;
  for (const json& sheet : book["sheets"])
    for (const auto& [cell, value] : sheet["cells"].items())
      named = named || (value.is_string() && value.get<std::string>() ==
                                                 "История поверок: запись 2, хэш " + hashOf(2).substr(0, 12));
  EXPECT_TRUE(named) << book.dump();

  const CliRun ok = cli("check --protocol '" + protocol + "'");
  EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
  ASSERT_EQ(ok.objects.size(), 1u);
  bool matched = false;
  for (const json& a : ok.objects[0]["anchors"])
    matched = matched || (a["entry"] == 2 && a["status"] == "matches");
  EXPECT_TRUE(matched) << ok.out;

  // Another history of the same length in its place: the protocol proves it is not the one printed.
  write(dir_ + "/other.db", 3, history::OpenOptions{}, 10);
  const CliRun other = cli("check --protocol '" + protocol + "'", dir_ + "/other.db");
  EXPECT_EQ(other.status, 1) << other.out;
  ASSERT_EQ(other.objects.size(), 1u);
  EXPECT_EQ(other.objects[0]["firstBad"], 2);
  EXPECT_NE(other.objects[0]["problem"].get<std::string>().find("протокол"), std::string::npos) << other.out;

  // A workbook without the line is refused with the reason.
  const CliRun none = cli("check --protocol '" + quarn::test::path("XLSXTEST_TEMPLATE") + "'");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("names no entry of a run history"), std::string::npos) << none.err;
}

TEST_F(CliHistoryCheck, BackupIsACheckedCopyAndACheckOfAnOlderCopySaysSo) {
  write(file_, 3, anchored());
  const std::string copy = dir_ + "/copy.db";
  const CliRun made = cli("backup '" + copy + "'");
  ASSERT_EQ(made.status, 0) << made.err;
  ASSERT_EQ(made.objects.size(), 1u);
  EXPECT_EQ(made.objects[0]["entries"], 3);
  EXPECT_EQ(made.objects[0]["ok"], true);
  EXPECT_EQ(made.objects[0]["headHash"], hashOf(3));
  EXPECT_NE(cli("backup '" + copy + "'").status, 0);  // never over an existing file

  write(file_, 2, anchored(), 3);
  const CliRun older = cli("check", copy);
  EXPECT_EQ(older.status, 0) << older.out << older.err;
  ASSERT_EQ(older.objects.size(), 1u);
  EXPECT_EQ(older.objects[0]["ok"], true);
  EXPECT_NE(older.objects[0]["note"].get<std::string>().find("копия старше"), std::string::npos) << older.out;
  EXPECT_NE(older.err.find("копия старше"), std::string::npos) << older.err;
}

}  // namespace
