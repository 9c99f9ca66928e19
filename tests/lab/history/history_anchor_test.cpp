// What keeps a history honest beyond its own hash chain: the head the program remembers outside the
// file, the check every read makes before it shows a run, SQLite's integrity check and guards, the
// operator of corrections and cancellations, a history of schema 1, pairs among several candidates,
// and the backup copy.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "HistoryAnchors.h"
#include "canonical.h"
#include "history_fixture.h"
#include "test_paths.h"

namespace quarn::history::test {
namespace {

namespace fs = std::filesystem;

class AnchoredHistoryTest : public HistoryTest {
 protected:
  // A writer of the history as the hosts open their default one: the head is remembered in cfg/.
  OpenOptions anchored(bool readOnly = false) const {
    OpenOptions o;
    o.readOnly = readOnly;
    o.anchorFolder = path("cfg");
    o.keepHead = !readOnly;
    return o;
  }
  // `runs` runs of serials R<i>-1, R<i>-2 written by the anchored writer.
  void makeHistory(const std::string& file, int runs, const OpenOptions& options) {
    auto opened = HistoryStore::open(file, options);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    for (int i = 0; i < runs; ++i)
      add(*opened.value(), sampleRun("R" + std::to_string(i), kMorning + i * kHour));
  }
  std::string hashOf(const std::string& file, int64_t seq) {
    RawDb raw(file);
    sqlite3_stmt* s = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(raw.get(), "SELECT hash FROM entry WHERE seq = ?", -1, &s, nullptr) == SQLITE_OK) {
      sqlite3_bind_int64(s, 1, seq);
      if (sqlite3_step(s) == SQLITE_ROW) out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    }
    sqlite3_finalize(s);
    return out;
  }
};

// Each way of taking a history away from what its writer remembers, on a fresh history of five runs:
// the check fails naming the entry, reads and writes are refused.
TEST_F(AnchoredHistoryTest, AHistoryThatIsNotTheOneWrittenIsRefused) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> tamper;
    int64_t firstBad;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"the last two runs removed and the head marker moved back",
       [this](const std::string& file) {
         const std::string third = hashOf(file, 3);
         RawDb raw(file);
         raw.dropGuards();
         for (const char* t : {"run_point", "run_channel", "run_field", "run"})
           ASSERT_EQ(raw.exec(std::string("DELETE FROM ") + t + " WHERE entry_seq > 3"), "");
         ASSERT_EQ(raw.exec("DELETE FROM entry WHERE seq > 3"), "");
         ASSERT_EQ(raw.exec("UPDATE history_meta SET value = '3' WHERE name = 'head_seq';"
                            "UPDATE history_meta SET value = '" +
                            third + "' WHERE name = 'head_hash'"),
                   "");
       },
       4, "последние записи удалены"},
      {"a run added by another program",
       [this](const std::string& file) {
         auto other = HistoryStore::open(file);
         ASSERT_TRUE(other.ok());
         add(*other.value(), sampleRun("X", kMorning + 9 * kHour));
       },
       6, "добавлена не этой программой"},
      {"the file replaced by another history",
       [this](const std::string& file) {
         const std::string other = path("other.db");
         makeHistory(other, 6, OpenOptions{});
         fs::copy_file(other, file, fs::copy_options::overwrite_existing);
       },
       1, "заменён другой историей"},
      {"the file emptied", [](const std::string& file) { fs::resize_file(file, 0); }, 1, "файл пуст"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(path("cfg"));
    const std::string file = path("h.db");
    for (const char* tail : {"", "-wal", "-shm"}) fs::remove(file + tail);
    makeHistory(file, 5, anchored());
    c.tamper(file);

    auto reader = HistoryStore::open(file, anchored(true));
    ASSERT_TRUE(reader.ok()) << reader.error().message;
    const Result<ChainCheck> check = reader.value()->check();
    ASSERT_TRUE(check.ok()) << check.error().message;
    EXPECT_FALSE(check->ok);
    EXPECT_EQ(check->firstBad, c.firstBad);
    EXPECT_NE(check->problem.find(c.says), std::string::npos) << check->problem;
    for (const Error& e : {reader.value()->list().error(), reader.value()->show(1).error()}) {
      EXPECT_EQ(e.code, ErrorCode::ChainBroken);
      EXPECT_NE(e.message.find(c.says), std::string::npos) << e.message;
    }
    reader.value().reset();
    auto writer = HistoryStore::open(file, anchored());
    ASSERT_TRUE(writer.ok()) << writer.error().message;
    const Result<int64_t> refused = writer.value()->addRun(sampleRun("Y", kMorning + 20 * kHour));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::ChainBroken) << refused.error().message;
  }

  // A file removed is not made anew where the writer remembers a history.
  const std::string file = path("h.db");
  for (const char* tail : {"", "-wal", "-shm"}) fs::remove(file + tail);
  const Result<std::unique_ptr<HistoryStore>> gone = HistoryStore::open(file, anchored());
  ASSERT_FALSE(gone.ok());
  EXPECT_EQ(gone.error().code, ErrorCode::ChainBroken);
  EXPECT_NE(gone.error().message.find("отсутствует"), std::string::npos) << gone.error().message;
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(AnchoredHistoryTest, AWriteStoppedBetweenItsCommitAndItsAnchorIsNoForgery) {
  const std::string file = path("h.db");
  makeHistory(file, 4, anchored());
  const std::string first = hashOf(file, 1), third = hashOf(file, 3), fourth = hashOf(file, 4);
  AnchorBook book(path("cfg"));
  const std::string name = anchorPathOf(file);
  // The program stopped after entry 4's commit, before it confirmed the head: 3 remembered, 4 pending.
  ASSERT_EQ(book.confirm(name, 3, third, first), "");
  ASSERT_EQ(book.notePending(name, 3, third, 4, fourth, first), "");
  {
    auto store = openStore("h.db", anchored());
    ASSERT_TRUE(store);
    const Result<ChainCheck> check = store->check();
    ASSERT_TRUE(check.ok());
    EXPECT_TRUE(check->ok) << check->problem;
    EXPECT_EQ(add(*store, sampleRun("N", kMorning + 9 * kHour)), 5);
  }
  EXPECT_EQ(book.headOf(name)->seq, 5);
  EXPECT_EQ(book.headOf(name)->pendingSeq, 0);

  // The program stopped before the commit reached the file: the pending entry is not there.
  ASSERT_EQ(book.notePending(name, 5, hashOf(file, 5), 6, std::string(64, 'a'), first), "");
  auto store = openStore("h.db", anchored());
  const Result<ChainCheck> check = store->check();
  ASSERT_TRUE(check.ok());
  EXPECT_TRUE(check->ok) << check->problem;
  EXPECT_EQ(add(*store, sampleRun("P", kMorning + 10 * kHour)), 6);
}

TEST_F(AnchoredHistoryTest, ACopyOlderThanTheRememberedHeadIsSaidButIsNoFault) {
  const std::string file = path("h.db");
  makeHistory(file, 3, anchored());
  {
    auto store = openStore("h.db", anchored(true));
    const Result<BackupResult> copy = store->backup(path("copy.db"));
    ASSERT_TRUE(copy.ok()) << copy.error().message;
    EXPECT_EQ(copy->entries, 3);
    EXPECT_TRUE(copy->check.ok) << copy->check.problem;
  }
  makeHistory(file, 2, anchored());
  auto copy = openStore("copy.db", anchored(true));
  const Result<ChainCheck> check = copy->check();
  ASSERT_TRUE(check.ok());
  EXPECT_TRUE(check->ok) << check->problem;
  EXPECT_NE(check->note.find("копия старше"), std::string::npos) << check->note;
  EXPECT_NE(check->note.find("5"), std::string::npos) << check->note;
  ASSERT_EQ(check->anchors.size(), 1u);
  EXPECT_EQ(check->anchors[0].status, AnchorFinding::Status::OlderCopy);

  // A copy that was written on is no copy any more: its entries were never the original's.
  {
    auto writer = HistoryStore::open(path("copy.db"));
    ASSERT_TRUE(writer.ok());
    add(*writer.value(), sampleRun("F", kMorning + 8 * kHour));
    add(*writer.value(), sampleRun("F", kMorning + 9 * kHour));
    add(*writer.value(), sampleRun("F", kMorning + 10 * kHour));
  }
  const Result<ChainCheck> forked = openStore("copy.db", anchored(true))->check();
  ASSERT_TRUE(forked.ok());
  EXPECT_FALSE(forked->ok);
  EXPECT_EQ(forked->firstBad, 5);  // the remembered head, which the copy has otherwise
  EXPECT_NE(forked->problem.find("не та"), std::string::npos) << forked->problem;
}

TEST_F(AnchoredHistoryTest, ProtocolAnchorsNameTheEntryTheProtocolWasMadeFrom) {
  const std::string file = path("h.db");
  makeHistory(file, 3, OpenOptions{});
  const std::string second = hashOf(file, 2);
  auto printed = [](int64_t seq, std::string hash) {
    Anchor a;
    a.source = "протокол";
    a.seq = seq;
    a.hash = std::move(hash);
    return a;
  };
  struct Case {
    const char* what;
    Anchor anchor;
    bool ok;
    AnchorFinding::Status status;
  } cases[] = {
      {"the entry as printed", printed(2, second.substr(0, 12)), true, AnchorFinding::Status::Matches},
      {"another hash", printed(2, "0123456789ab"), false, AnchorFinding::Status::Differs},
      {"an entry the history no longer has", printed(7, "0123456789ab"), false,
       AnchorFinding::Status::Behind},
      {"fewer than 12 digits name nothing", printed(2, second.substr(0, 6)), false,
       AnchorFinding::Status::Differs},
  };
  auto store = openStore("h.db", readOnlyOptions());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Result<ChainCheck> check = store->check({c.anchor});
    ASSERT_TRUE(check.ok());
    EXPECT_EQ(check->ok, c.ok) << check->problem;
    ASSERT_EQ(check->anchors.size(), 1u);
    EXPECT_EQ(check->anchors[0].status, c.status);
  }
}

// The check each read makes: a run edited behind the program's back is refused by every read that
// shows it, also after its entry was found intact by an earlier read.
TEST_F(AnchoredHistoryTest, AReadRefusesARunEditedSinceItWasLastChecked) {
  struct Case {
    const char* what;
    std::string sql;
    int64_t entry;
  } cases[] = {
      {"a verdict and the errors of run 7",
       "UPDATE run_channel SET verdict = 'suitable' WHERE entry_seq = 7;"
       "UPDATE run_point SET reduced_error = 0.01 WHERE entry_seq = 7",
       7},
      {"the tag of run 4", "UPDATE run SET tag = 'as_left' WHERE entry_seq = 4", 4},
      {"the stored hash of entry 9", "UPDATE entry SET hash = '" + std::string(64, 'f') + "' WHERE seq = 9",
       9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(path("cfg"));
    for (const char* tail : {"", "-wal", "-shm"}) fs::remove(path("h.db") + tail);
    makeHistory(path("h.db"), 10, anchored());
    // A first read checks everything and keeps the position (entry 10) outside the file.
    {
      auto first = openStore("h.db", anchored(true));
      ASSERT_TRUE(first->list().ok());
      EXPECT_EQ(first->lastReadCheck().entries, 10);
    }
    ASSERT_EQ(RawDb(path("h.db")).editCoveringTracks(c.sql), "");
    auto store = openStore("h.db", anchored(true));
    const Result<StoredRun> shown = store->show(c.entry);
    ASSERT_FALSE(shown.ok());
    EXPECT_EQ(shown.error().code, ErrorCode::ChainBroken);
    EXPECT_NE(shown.error().message.find("запись " + std::to_string(c.entry)), std::string::npos)
        << shown.error().message;
    const Result<RunPair> pair = store->pair("R" + std::to_string(c.entry - 1) + "-1");
    ASSERT_FALSE(pair.ok());
    EXPECT_EQ(pair.error().code, ErrorCode::ChainBroken);
    // A run after the edit, whose chain to the position found intact holds, is still shown.
    EXPECT_TRUE(store->show(10).ok());
  }
}

TEST_F(AnchoredHistoryTest, AReadWalksOnlyTheEntriesAfterThePositionFoundIntact) {
  makeHistory(path("h.db"), 6, anchored());
  {
    auto store = openStore("h.db", anchored(true));
    ASSERT_TRUE(store->show(6).ok());
    EXPECT_EQ(store->lastReadCheck().verifiedFrom, 1);
    EXPECT_EQ(store->lastReadCheck().entries, 6);
  }
  makeHistory(path("h.db"), 2, anchored());
  auto store = openStore("h.db", anchored(true));
  ASSERT_TRUE(store->show(3).ok());
  EXPECT_EQ(store->lastReadCheck().verifiedFrom, 7);
  EXPECT_EQ(store->lastReadCheck().entries, 2);
  // Without anything kept outside the file, a new connection walks from the first entry.
  auto plain = openStore("h.db", readOnlyOptions());
  ASSERT_TRUE(plain->show(3).ok());
  EXPECT_EQ(plain->lastReadCheck().verifiedFrom, 1);
  EXPECT_EQ(plain->lastReadCheck().entries, 8);
  // An entry edited after the remembered position is found by the next read of anything.
  ASSERT_EQ(RawDb(path("h.db")).editCoveringTracks("UPDATE run SET temperature = '30' WHERE entry_seq = 8"),
            "");
  makeHistory(path("h.db"), 0, anchored());
  auto later = openStore("h.db", anchored(true));
  EXPECT_EQ(later->list().error().code, ErrorCode::None);  // position 8: entry 8 was walked already
  const Result<StoredRun> eighth = later->show(8);
  ASSERT_FALSE(eighth.ok());
  EXPECT_NE(eighth.error().message.find("запись 8"), std::string::npos) << eighth.error().message;
}

TEST_F(AnchoredHistoryTest, MissingOrChangedGuardsFailTheCheckAndRefuseWrites) {
  struct Case {
    const char* what;
    const char* sql;
    const char* says;
  } cases[] = {
      {"all guards dropped", nullptr, "защита записей от изменения снята"},
      {"one guard dropped", "DROP TRIGGER run_point_no_update", "run_point_no_update"},
      {"a guard that lets changes through",
       "DROP TRIGGER entry_no_delete; CREATE TRIGGER entry_no_delete BEFORE DELETE ON entry BEGIN SELECT 1; "
       "END",
       "изменены триггеры защиты entry_no_delete"},
      {"a trigger of another program",
       "CREATE TRIGGER fix_errors AFTER INSERT ON run_point BEGIN SELECT 1; END",
       "чужие триггеры fix_errors"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* tail : {"", "-wal", "-shm"}) fs::remove(path("h.db") + tail);
    makeHistory(path("h.db"), 2, OpenOptions{});
    {
      RawDb raw(path("h.db"));
      if (c.sql)
        ASSERT_EQ(raw.exec(c.sql), "");
      else
        raw.dropGuards();
    }
    auto store = openStore("h.db");
    const Result<ChainCheck> check = store->check();
    ASSERT_TRUE(check.ok());
    EXPECT_FALSE(check->ok);
    EXPECT_NE(check->problem.find(c.says), std::string::npos) << check->problem;
    EXPECT_EQ(store->show(1).error().code, ErrorCode::ChainBroken);
    const Result<int64_t> refused = store->addRun(sampleRun("G", kMorning));
    EXPECT_EQ(refused.error().code, ErrorCode::ChainBroken) << refused.error().message;
  }
}

TEST_F(AnchoredHistoryTest, IntegrityNamesTheIndexThatNoLongerMatchesAndTheDamagedPage) {
  makeHistory(path("h.db"), 12, OpenOptions{});
  // One key of the serial index rewritten in place, in its order: the quick check passes and a
  // search by that serial misses its run.
  const std::string target = "R5-2";
  int64_t page = 0;
  {
    RawDb raw(path("h.db"));
    ASSERT_EQ(raw.exec("PRAGMA journal_mode = DELETE"), "");
    page = raw.number("SELECT rootpage FROM sqlite_master WHERE name = 'run_channel_serial'");
  }
  const int64_t pageSize = 4096;
  std::string bytes = get(path("h.db"));
  const std::size_t from = static_cast<std::size_t>((page - 1) * pageSize);
  const std::size_t at = bytes.find(target, from);
  ASSERT_LT(at, from + pageSize) << "the key is on the index's root page";
  bytes[at + 3] = '3';  // R5-2 -> R5-3: still between R5-1 and R6-1, so the index stays in order
  put(path("h.db"), bytes);
  {
    RawDb raw(path("h.db"));
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw.get(), "PRAGMA quick_check", -1, &s, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok");
    sqlite3_finalize(s);
  }
  {
    auto store = openStore("h.db", readOnlyOptions());
    const Result<ChainCheck> check = store->check();
    ASSERT_FALSE(check.ok());
    EXPECT_EQ(check.error().code, ErrorCode::Damaged);
    EXPECT_NE(check.error().message.find("индекс run_channel_serial"), std::string::npos)
        << check.error().message;
  }

  // A page of the point table overwritten: the message names that page.
  makeHistory(path("p.db"), 12, OpenOptions{});
  {
    RawDb raw(path("p.db"));
    ASSERT_EQ(raw.exec("PRAGMA journal_mode = DELETE"), "");
    page = raw.number("SELECT rootpage FROM sqlite_master WHERE name = 'run_point'");
  }
  bytes = get(path("p.db"));
  // The root page's cell pointers point nowhere sensible: the page, not an entry, is named.
  std::fill(bytes.begin() + static_cast<long>((page - 1) * pageSize + 12),
            bytes.begin() + static_cast<long>((page - 1) * pageSize + 40), '\xFF');
  put(path("p.db"), bytes);
  auto store = openStore("p.db", readOnlyOptions());
  const Result<ChainCheck> check = store->check();
  ASSERT_FALSE(check.ok());
  EXPECT_EQ(check.error().code, ErrorCode::Damaged);
  EXPECT_NE(check.error().message.find("страница " + std::to_string(page)), std::string::npos)
      << check.error().message;
}

TEST_F(AnchoredHistoryTest, CorrectionsAndCancellationsNameTheirWorkstationAndOperator) {
  auto store = openStore("h.db");
  add(*store, sampleRun("W", kMorning));
  add(*store, sampleRun("W", kMorning + kHour));
  const Actor other{"стенд-7", "Сидоров С. С."};
  ASSERT_TRUE(store->addCorrection(1, sampleRun("W", kMorning), "серийный номер", other).ok());
  ASSERT_TRUE(store->addCancellation(2, "запущен по ошибке", kSupervisor).ok());
  RawDb raw(path("h.db"));
  EXPECT_EQ(raw.number("SELECT COUNT(*) FROM entry WHERE seq = 3 AND workstation = 'стенд-7' AND "
                       "operator_name = 'Сидоров С. С.'"),
            1);
  EXPECT_EQ(raw.number("SELECT COUNT(*) FROM entry WHERE seq = 4 AND workstation = 'стенд-2' AND "
                       "operator_name = 'Петров П. П.'"),
            1);
  for (const Actor& unnamed : {Actor{"", "Сидоров С. С."}, Actor{"стенд-7", ""}}) {
    EXPECT_EQ(store->addCancellation(1, "x", unnamed).error().code, ErrorCode::InvalidRecord);
    EXPECT_EQ(store->addCorrection(1, sampleRun("W", kMorning), "x", unnamed).error().code,
              ErrorCode::InvalidRecord);
  }
  EXPECT_EQ(raw.number("SELECT COUNT(*) FROM entry"), 4);
}

// A history written by the program before schema 2 (two runs: a verification and a relay check).
TEST_F(AnchoredHistoryTest, AHistoryOfSchemaOneIsReadAndTakesSchemaTwoWithItsNextEntry) {
  const std::string file = path("old.db");
  fs::copy_file(quarn::test::path("QUARN_HISTORY_SCHEMA1_FIXTURE"), file);
  const std::string before = get(file);
  {
    auto reader = openStore("old.db", readOnlyOptions());
    ASSERT_TRUE(reader);
    const Result<std::vector<RunSummary>> runs = reader->list();
    ASSERT_TRUE(runs.ok()) << runs.error().message;
    EXPECT_EQ(runs->size(), 2u);
    const Result<StoredRun> verification = reader->show(1);
    ASSERT_TRUE(verification.ok()) << verification.error().message;
    EXPECT_EQ(verification->record.devices.size(), 4u);
    const Result<ChainCheck> check = reader->check();
    ASSERT_TRUE(check.ok()) << check.error().message;
    EXPECT_TRUE(check->ok) << check->problem;
  }
  EXPECT_EQ(get(file), before);  // reading changed nothing

  {
    // A reader that opened the file before another program took it to schema 2 goes on reading it.
    auto reader = openStore("old.db", readOnlyOptions());
    ASSERT_TRUE(reader && reader->list().ok());
    auto writer = openStore("old.db");
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->addCancellation(2, "проверка реле повторена", kSupervisor).ok());
    const Result<ChainCheck> check = writer->check();
    ASSERT_TRUE(check.ok());
    EXPECT_TRUE(check->ok) << check->problem;
    const Result<StoredRun> cancelled = reader->show(2);
    ASSERT_TRUE(cancelled.ok()) << cancelled.error().message;
    EXPECT_TRUE(cancelled->cancelled);
  }
  RawDb raw(file);
  EXPECT_EQ(raw.number("SELECT value FROM history_meta WHERE name = 'schema_version'"), 2);
  EXPECT_EQ(raw.number("SELECT hash_format FROM entry WHERE seq = 1"), 1);
  EXPECT_EQ(raw.number("SELECT hash_format FROM entry WHERE seq = 3"), 2);
  // The operator is not covered by the hash of a format-1 entry: one written there is refused.
  raw.dropGuards();
  ASSERT_EQ(raw.exec("UPDATE entry SET operator_name = 'кто-то' WHERE seq = 1"), "");
  const Result<ChainCheck> edited = openStore("old.db")->check();
  ASSERT_TRUE(edited.ok());
  EXPECT_FALSE(edited->ok);
  EXPECT_EQ(edited->firstBad, 1);
}

TEST_F(AnchoredHistoryTest, PairTakesTheNewestOfSeveralCandidates) {
  auto store = openStore("h.db");
  // Two as-found runs, then two as-left runs of the same device: the pair is the newest as-left and
  // the newest as-found before it, not the first of each found.
  const RunTag tags[] = {RunTag::AsFound, RunTag::AsFound, RunTag::AsLeft, RunTag::AsLeft};
  for (int i = 0; i < 4; ++i) {
    RunRecord r = sampleRun("S", kMorning + i * kHour, 1, 5);
    r.tag = tags[i];
    for (PointResult& p : r.devices[0].points) p.reducedError = 0.1f * static_cast<float>(i + 1);
    add(*store, r);
  }
  const Result<RunPair> pair = store->pair("S-1");
  ASSERT_TRUE(pair.ok()) << pair.error().message;
  ASSERT_TRUE(pair->asFound && pair->asLeft);
  EXPECT_EQ(pair->asFound->runId, 2);
  EXPECT_EQ(pair->asLeft->runId, 4);
  ASSERT_FALSE(pair->points.empty());
  EXPECT_FLOAT_EQ(pair->points[0].errorChange, 0.4f - 0.2f);
}

TEST_F(AnchoredHistoryTest, ABackupIsTheHistoryOfOneMomentAndNeverHalfACopy) {
  makeHistory(path("h.db"), 4, OpenOptions{});
  auto store = openStore("h.db", readOnlyOptions());
  // Another program is in the middle of a write: the copy holds what was committed.
  RawDb writer(path("h.db"));
  ASSERT_EQ(writer.exec("BEGIN IMMEDIATE; UPDATE history_meta SET value = value WHERE name = 'created_at'"),
            "");
  const Result<BackupResult> copy = store->backup(path("copy.db"));
  ASSERT_TRUE(copy.ok()) << copy.error().message;
  ASSERT_EQ(writer.exec("COMMIT"), "");
  EXPECT_EQ(copy->entries, 4);
  EXPECT_TRUE(copy->check.ok) << copy->check.problem;
  EXPECT_EQ(copy->headHash, hashOf(path("h.db"), 4));
  // The copy stands alone: no write-ahead log beside it.
  EXPECT_FALSE(fs::exists(path("copy.db") + "-wal"));
  auto reopened = openStore("copy.db", readOnlyOptions());
  EXPECT_EQ(reopened->list()->size(), 4u);

  const std::string kept = get(path("copy.db"));
  for (const std::string& refused : {path("copy.db"), path("no/such/folder/copy.db"), std::string()}) {
    SCOPED_TRACE(refused);
    const Result<BackupResult> again = store->backup(refused);
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().code, ErrorCode::CannotOpen) << again.error().message;
  }
  EXPECT_EQ(get(path("copy.db")), kept);
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
}

}  // namespace
}  // namespace quarn::history::test
