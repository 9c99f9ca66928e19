// Every value the history stores is covered by its check: for each column of each table of the
// file's own schema (read from the file, so a column added later is covered without a new case),
// one row changed behind the program's back breaks the check.
#include <filesystem>
#include <set>

#include "history_fixture.h"

namespace quarn::history::test {
namespace {

namespace fs = std::filesystem;

struct Column {
  std::string table;
  std::string name;
  std::string key;  // the table's primary key columns, "a, b"
};

class HistoryColumnsTest : public HistoryTest {
 protected:
  // A history whose every table has rows: runs (one a relay check), an adjustment, a correction
  // and a cancellation.
  void SetUp() override {
    HistoryTest::SetUp();
    auto store = openStore("fixture.db");
    ASSERT_TRUE(store);
    add(*store, sampleRun("A", kMorning, 2, 5));
    RunRecord relays = sampleRun("B", kMorning + kHour, 2, 0);
    relays.kind = RunKind::RelayCheck;
    relays.relays = {{1, 1, true, 300, 10, 1, 296.5f, 290.25f}, {2, 2, true, 150, 5, 0, NAN, 148.5f}};
    add(*store, relays);
    Adjustment trim;
    trim.atMs = kMorning + 2 * kHour;
    trim.channel = 1;
    trim.serial = "A-1";
    trim.deviceName = "Датчик давления";
    trim.note = "подстройка тока";
    ASSERT_TRUE(store->addAdjustment(trim).ok());
    ASSERT_TRUE(store->addCorrection(1, sampleRun("A", kMorning, 2, 5), "условия", kSupervisor).ok());
    add(*store, sampleRun("C", kMorning + 3 * kHour, 2, 5));
    ASSERT_TRUE(store->addCancellation(5, "ошибка", kSupervisor).ok());
    add(*store, sampleRun("D", kMorning + 4 * kHour, 2, 5));
    const Result<ChainCheck> clean = store->check();
    ASSERT_TRUE(clean.ok() && clean->ok);
  }

  std::vector<Column> columns() {
    std::vector<Column> out;
    RawDb raw(path("fixture.db"));
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(raw.get(),
                       "SELECT m.name, c.name, (SELECT group_concat(name, ', ') FROM (SELECT k.name FROM "
                       "pragma_table_info(m.name) k WHERE k.pk > 0 ORDER BY k.pk)) "
                       "FROM sqlite_master m, pragma_table_info(m.name) c "
                       "WHERE m.type = 'table' ORDER BY m.name, c.cid",
                       -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW)
      out.push_back({reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                     reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                     reinterpret_cast<const char*>(sqlite3_column_text(s, 2))});
    sqlite3_finalize(s);
    return out;
  }
};

TEST_F(HistoryColumnsTest, ChangingAnyStoredColumnBreaksTheCheck) {
  const std::vector<Column> all = columns();
  std::set<std::string> tables;
  for (const Column& c : all) tables.insert(c.table);
  ASSERT_GE(tables.size(), 8u);
  for (const Column& c : all) {
    SCOPED_TRACE(c.table + "." + c.name);
    const std::string file = path("edited.db");
    for (const char* tail : {"", "-wal", "-shm"}) fs::remove(file + tail);
    fs::copy_file(path("fixture.db"), file);
    {
      RawDb raw(file);
      // The editor puts the guards back after the change, so only the change itself can give him
      // away (a check that finds them missing fails whatever was changed).
      std::vector<std::string> guards;
      {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(raw.get(), "SELECT sql FROM sqlite_master WHERE type = 'trigger'", -1, &s,
                           nullptr);
        while (sqlite3_step(s) == SQLITE_ROW)
          guards.push_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        sqlite3_finalize(s);
      }
      ASSERT_FALSE(guards.empty());
      raw.dropGuards();
      // An editor is not held back by the table's constraints either.
      ASSERT_EQ(raw.exec("PRAGMA ignore_check_constraints = ON"), "");
      const int64_t rows = raw.number("SELECT COUNT(*) FROM " + c.table);
      ASSERT_GT(rows, 0) << "the fixture needs a row in " << c.table;
      // The row changed: the history's head in the meta table, else one in the middle of the table.
      ASSERT_FALSE(c.key.empty()) << c.table << " has no primary key to name a row by";
      const std::string row = c.table == "history_meta"
                                  ? "name = 'head_hash'"
                                  : "(" + c.key + ") = (SELECT " + c.key + " FROM " + c.table + " ORDER BY " +
                                        c.key + " LIMIT 1 OFFSET " + std::to_string(rows / 2) + ")";
      // A new value of the kind the column holds: a flag turned over (a key column is moved instead,
      // where 0 and 1 may both be taken), another number moved far (no key it could meet), a text
      // lengthened, a missing number made present.
      bool inKey = false;
      for (std::size_t at = 0; (at = c.key.find(c.name, at)) != std::string::npos; at += c.name.size())
        inKey = inKey || ((at == 0 || c.key[at - 1] == ' ') &&
                          (at + c.name.size() == c.key.size() || c.key[at + c.name.size()] == ','));
      const std::string moved = c.name + " + 1000";
      const std::string flip =
          inKey ? moved : "CASE WHEN " + c.name + " IN (0, 1) THEN 1 - " + c.name + " ELSE " + moved + " END";
      const std::string edit = "UPDATE " + c.table + " SET " + c.name + " = CASE typeof(" + c.name +
                               ") WHEN 'integer' THEN " + flip + " WHEN 'real' THEN " + c.name +
                               " * 2 + 1.5 WHEN 'text' THEN " + c.name + " || '·' ELSE 7 END WHERE " + row;
      ASSERT_EQ(raw.exec(edit), "") << edit;
      ASSERT_EQ(sqlite3_changes(raw.get()), 1) << edit;
      for (const std::string& g : guards) ASSERT_EQ(raw.exec(g), "") << g;
    }
    const Result<std::unique_ptr<HistoryStore>> opened = HistoryStore::open(file, readOnlyOptions());
    if (!opened.ok()) continue;  // refused at once (the schema's version): broken as well
    const Result<ChainCheck> check = opened.value()->check();
    if (!check.ok()) continue;  // refused by the integrity check
    EXPECT_FALSE(check->ok) << "the check did not notice";
    EXPECT_EQ(check->problem.find("защита записей"), std::string::npos)
        << "the guards were put back: " << check->problem;
  }
}

}  // namespace
}  // namespace quarn::history::test
