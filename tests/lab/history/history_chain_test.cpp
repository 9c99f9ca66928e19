// The hash chain: SHA-256 itself against the standard's vectors, and check() naming the first entry an
// editor outside the program changed, deleted, inserted or moved (edited with the sqlite3 library).
#include <gtest/gtest.h>

#include "canonical.h"
#include "history_fixture.h"
#include "sha256.h"

namespace quarn::history::test {
namespace {

TEST(Sha256, StandardTestVectors) {
  struct Case {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopq"
       "rstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // 55, 56 and 64 bytes: the padding's length field fits, just misses, and needs a block of its own.
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
  };
  // Both implementations (the one of this build, and the portable one it falls back on), whole and
  // fed in uneven pieces; an object reset after a digest gives the next one right.
  auto check = [&cases](auto& sha, const char* which) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(which) + " " + std::to_string(c.message.size()));
      sha.reset();
      sha.update(c.message);
      EXPECT_EQ(toHex(sha.finish()), c.digest);
      sha.reset();
      for (std::size_t at = 0, step = 1; at < c.message.size(); at += step, step = step * 3 % 97 + 1)
        sha.update(std::string_view(c.message).substr(at, step));
      EXPECT_EQ(toHex(sha.finish()), c.digest);
    }
  };
  Sha256 built;
  PortableSha256 portable;
  check(built, Sha256::implementation());
  check(portable, "portable");
  EXPECT_EQ(Sha256::hexOf("abc"), cases[1].digest);
}

TEST(HashRule, TheHashCoversThePreviousHashAndEveryStoredValue) {
  RunRecord run = sampleRun("R", kMorning, 1, 2);
  EntryHeader h{7, "run", std::nullopt, kMorning, "стенд", "", "", kHashFormat};
  const std::string canonical = canonicalEntry(h, &run, nullptr);
  const std::string hash = entryHash(kGenesisHash, canonical);
  EXPECT_EQ(hash, Sha256::hexOf(std::string(kGenesisHash) + "\n" + canonical));
  // A point is one line of its eight values (format 2); in format 1, one line per value.
  EXPECT_NE(canonical.find("\nchannel[1].point[1] r"), std::string::npos);
  EntryHeader h1 = h;
  h1.hashFormat = kHashFormat1;
  const std::string format1 = canonicalEntry(h1, &run, nullptr);
  EXPECT_NE(format1.find("\nchannel[1].point[1].p_ref r"), std::string::npos);
  EXPECT_EQ(format1.find("entry.operator"), std::string::npos);
  EXPECT_NE(canonical.find("\nentry.operator t0:\n"), std::string::npos);
  EXPECT_NE(canonical.find("run.temperature t4:21.5\n"), std::string::npos);

  EXPECT_NE(entryHash(std::string(64, '1'), canonical), hash);
  run.devices[0].points[1].uncertainty = NAN;
  EXPECT_NE(entryHash(kGenesisHash, canonicalEntry(h, &run, nullptr)), hash);
  // A text's length is part of it: moving a character from one field to the next changes the hash.
  RunRecord a = sampleRun("R", kMorning, 1, 2), b = a;
  a.conditions.temperature = "21";
  a.conditions.humidity = "548";
  b.conditions.temperature = "215";
  b.conditions.humidity = "48";
  EXPECT_NE(canonicalEntry(h, &a, nullptr), canonicalEntry(h, &b, nullptr));
}

class HashChainTest : public HistoryTest {
 protected:
  // Entries: 1 run, 2 run, 3 adjustment, 4 correction of 2, 5 run, 6 cancellation of 5, 7 run.
  void SetUp() override {
    HistoryTest::SetUp();
    auto store = openStore("h.db");
    ASSERT_TRUE(store);
    add(*store, sampleRun("K", kMorning, 2, 5));
    add(*store, sampleRun("L", kMorning + kHour, 2, 5));
    Adjustment trim;
    trim.atMs = kMorning + 2 * kHour;
    trim.serial = "L-1";
    ASSERT_TRUE(store->addAdjustment(trim).ok());
    RunRecord fixed = sampleRun("L", kMorning + kHour, 2, 5);
    fixed.conditions.pressure = "750";
    ASSERT_TRUE(store->addCorrection(2, fixed, "давление", kSupervisor).ok());
    add(*store, sampleRun("M", kMorning + 3 * kHour, 2, 5));
    ASSERT_TRUE(store->addCancellation(5, "ошибка", kSupervisor).ok());
    add(*store, sampleRun("N", kMorning + 4 * kHour, 2, 5));
    const Result<ChainCheck> clean = store->check();
    ASSERT_TRUE(clean.ok()) << clean.error().message;
    ASSERT_TRUE(clean->ok) << clean->problem;
    ASSERT_EQ(clean->entries, 7);
  }
  // The editor puts the guards back after the change: a check that found them missing would fail
  // whatever the change, and hide whether the chain itself gives the change away.
  ChainCheck checkAfter(const std::string& sql) {
    EXPECT_EQ(RawDb(path("h.db")).editCoveringTracks(sql), "") << sql;
    auto store = openStore("h.db");
    if (!store) return {};
    const Result<ChainCheck> r = store->check();
    EXPECT_TRUE(r.ok()) << r.error().message;
    return r.ok() ? *r : ChainCheck{};
  }
  // An edit made outside the program and what the check must say about it.
  struct Edit {
    const char* what;
    std::string sql;
    int64_t firstBad;
    const char* says;
  };
  // Each edit on a fresh copy of the history.
  void expectFound(const std::vector<Edit>& edits) {
    for (const Edit& c : edits) {
      SCOPED_TRACE(c.what);
      SetUp();
      const ChainCheck r = checkAfter(c.sql);
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.firstBad, c.firstBad);
      EXPECT_NE(r.problem.find(c.says), std::string::npos) << r.problem;
      EXPECT_EQ(r.problem.find("триггер"), std::string::npos) << r.problem;  // the guards are back
    }
  }
};

TEST_F(HashChainTest, NamesTheFirstEntryAnEditorChanged) {
  expectFound({
      {"a reduced error",
       "UPDATE run_point SET reduced_error = 0.25 WHERE entry_seq = 2 AND channel = 1 AND idx = 3", 2,
       "изменено"},
      {"a serial number", "UPDATE run_channel SET serial = 'K-9' WHERE entry_seq = 1 AND channel = 2", 1,
       "изменено"},
      {"a verdict", "UPDATE run_channel SET verdict = 'unsuitable' WHERE entry_seq = 7 AND channel = 1", 7,
       "изменено"},
      {"a number removed", "UPDATE run SET reference_upper_kpa = NULL WHERE entry_seq = 4", 4, "изменено"},
      // A change below single precision: the program would read the same float, the file says otherwise.
      {"a value nudged below float precision",
       "UPDATE run_point SET p_ref = p_ref + 1e-12 WHERE entry_seq = 5 AND channel = 2 AND idx = 2", 5,
       "вне программы"},
      {"a text in a number column", "UPDATE run_point SET current = 'abc' WHERE entry_seq = 1 AND idx = 0", 1,
       "вне программы"},
      {"the trim's time", "UPDATE adjustment SET at = at - 86400000", 3, "изменено"},
      {"a cancellation's reason", "UPDATE entry SET note = '' WHERE seq = 6", 6, "изменено"},
      {"what a correction refers to", "UPDATE entry SET refers_to = 1 WHERE seq = 4", 4, "изменено"},
      {"the workstation of an entry", "UPDATE entry SET workstation = 'другой' WHERE seq = 3", 3, "изменено"},
  });
}

TEST_F(HashChainTest, AnEntryWhoseHashWasMadeToMatchBreaksTheLinkOfTheNext) {
  // An editor who knows the hash rule changes entry 2 and writes its hash anew.
  ASSERT_EQ(RawDb(path("h.db")).editCoveringTracks("UPDATE run SET temperature = '30' WHERE entry_seq = 2"),
            "");
  RunRecord edited = sampleRun("L", kMorning + kHour, 2, 5);
  edited.conditions.temperature = "30";
  normalizeRecord(edited);
  RawDb raw(path("h.db"));
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(raw.get(), "SELECT recorded_at, workstation, prev_hash FROM entry WHERE seq = 2", -1,
                         &s, nullptr),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  const EntryHeader h{2,
                      "run",
                      std::nullopt,
                      sqlite3_column_int64(s, 0),
                      reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                      "",
                      "",
                      kHashFormat};
  const std::string prev = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
  sqlite3_finalize(s);
  const std::string forged = entryHash(prev, canonicalEntry(h, &edited, nullptr));
  ASSERT_EQ(raw.editCoveringTracks("UPDATE entry SET hash = '" + forged + "' WHERE seq = 2"), "");

  auto store = openStore("h.db");
  const Result<ChainCheck> r = store->check();
  ASSERT_TRUE(r.ok());
  EXPECT_FALSE(r->ok);
  EXPECT_EQ(r->firstBad, 3);
  EXPECT_NE(r->problem.find("предыдущую запись"), std::string::npos) << r->problem;
}

TEST_F(HashChainTest, NamesTheFirstDeletedInsertedOrMovedRow) {
  expectFound({
      {"a point", "DELETE FROM run_point WHERE entry_seq = 2 AND channel = 2 AND idx = 4", 2, "изменено"},
      {"a device", "DELETE FROM run_channel WHERE entry_seq = 7 AND channel = 1", 7, "вне программы"},
      {"a protocol field", "DELETE FROM run_field WHERE entry_seq = 1 AND idx = 0", 1, "вне программы"},
      {"a whole run",
       "DELETE FROM run_point WHERE entry_seq = 5; DELETE FROM run_channel WHERE entry_seq = 5;"
       "DELETE FROM run_field WHERE entry_seq = 5; DELETE FROM run WHERE entry_seq = 5;"
       "DELETE FROM entry WHERE seq = 5",
       5, "отсутствует"},
      {"the content of a run only", "DELETE FROM run WHERE entry_seq = 4", 4, "удалено"},
      {"the entry of a run only", "DELETE FROM entry WHERE seq = 2", 2, "отсутствует"},
      {"the last run",
       "DELETE FROM run_point WHERE entry_seq = 7; DELETE FROM run_channel WHERE entry_seq = 7;"
       "DELETE FROM run_field WHERE entry_seq = 7; DELETE FROM run WHERE entry_seq = 7;"
       "DELETE FROM entry WHERE seq = 7",
       7, "последние записи удалены"},
      {"a point added", "INSERT INTO run_point (entry_seq, channel, idx, p_ref) VALUES (1, 1, 150, 1.0)", 1,
       "изменено"},
      {"a point of a channel without a device",
       "INSERT INTO run_point (entry_seq, channel, idx, p_ref) VALUES (1, 3, 0, 1.0)", 1, "вне программы"},
      {"rows of an entry that is not there",
       "INSERT INTO run_relay (entry_seq, channel, relay, selected, state) VALUES (40, 1, 1, 1, 0)", 40,
       "нет в цепочке"},
      {"two entries swapped",
       "UPDATE entry SET seq = 100 WHERE seq = 1; UPDATE entry SET seq = 1 WHERE seq = 2;"
       "UPDATE entry SET seq = 2 WHERE seq = 100",
       1, "предыдущую запись"},
      {"two points swapped",
       "UPDATE run_point SET idx = 100 WHERE entry_seq = 7 AND channel = 1 AND idx = 1;"
       "UPDATE run_point SET idx = 1 WHERE entry_seq = 7 AND channel = 1 AND idx = 3;"
       "UPDATE run_point SET idx = 3 WHERE entry_seq = 7 AND channel = 1 AND idx = 100",
       7, "изменено"},
      {"two devices swapped",
       "UPDATE run_channel SET channel = 3 WHERE entry_seq = 1 AND channel = 1;"
       "UPDATE run_channel SET channel = 1 WHERE entry_seq = 1 AND channel = 2;"
       "UPDATE run_channel SET channel = 2 WHERE entry_seq = 1 AND channel = 3",
       1, "изменено"},
  });
}

}  // namespace
}  // namespace quarn::history::test
