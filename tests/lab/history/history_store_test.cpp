// The run history's store: what goes in comes back, corrections and cancellations as entries of
// their own, the queries, as-found / as-left pairs and the tag offered for a new run.
#include <gtest/gtest.h>

#include "RunBuilder.h"
#include "history_fixture.h"

namespace quarn::history::test {
namespace {

class HistoryStoreTest : public HistoryTest {};

TEST_F(HistoryStoreTest, ARunComesBackFieldForField) {
  auto store = openStore("h.db");
  ASSERT_TRUE(store);
  RunRecord run = sampleRun("A7", kMorning, 4, 9);
  // The record's corners: missing numbers, a point entered by hand, texts with line breaks, the
  // Dorv as reference, a calibration tagged as-left, relay contacts.
  run.kind = RunKind::Calibration;
  run.tag = RunTag::AsLeft;
  run.reference = {ReferenceKind::Dorv, "70412", 0, NAN};
  run.handInput = true;
  run.readiness = {12, NAN, true};
  run.devices[1].points[3].targetPrc = NAN;
  run.devices[1].points[3].uncertainty = NAN;
  run.devices[2].verdict = Verdict::Unsuitable;
  run.devices[3].verdict = Verdict::None;
  run.devices[3].points.clear();
  run.protocol.fields.push_back({"amp_CD_ADDRESS", "г. Москва,\nул. Мира, 1"});
  run.relays.push_back({2, 1, true, 300, 10, 1, 296.5f, NAN});
  run.relays.push_back({1, 2, false, NAN, NAN, 0, NAN, NAN});

  const int64_t id = add(*store, run);
  ASSERT_EQ(id, 1);
  const Result<StoredRun> shown = store->show(id);
  ASSERT_TRUE(shown.ok()) << shown.error().message;
  EXPECT_EQ(shown->runId, 1);
  EXPECT_EQ(shown->contentId, 1);
  EXPECT_FALSE(shown->cancelled);
  EXPECT_EQ(shown->hash.size(), 64u);
  // The store keeps relays ordered by channel and relay.
  std::swap(run.relays[0], run.relays[1]);
  expectSameRecord(shown->record, run);

  // A second connection (another program) reads the same.
  store.reset();
  auto again = openStore("h.db", readOnlyOptions());
  ASSERT_TRUE(again);
  const Result<StoredRun> reread = again->show(1);
  ASSERT_TRUE(reread.ok());
  expectSameRecord(reread->record, run);
}

TEST_F(HistoryStoreTest, NegativeZeroIsKeptAsZeroAndTheHashStillHolds) {
  // The database file writes -0 as 0: the store hashes what it keeps, so the chain checks.
  auto store = openStore("h.db");
  RunRecord run = sampleRun("Z", kMorning, 1, 1);
  run.devices[0].points[0].reducedError = -0.0f;
  add(*store, run);
  const Result<StoredRun> shown = store->show(1);
  ASSERT_TRUE(shown.ok());
  EXPECT_FALSE(std::signbit(shown->record.devices[0].points[0].reducedError));
  const Result<ChainCheck> check = store->check();
  ASSERT_TRUE(check.ok()) << check.error().message;
  EXPECT_TRUE(check->ok) << check->problem;
}

TEST_F(HistoryStoreTest, RecordsItCannotKeepAreRefusedAndNothingIsWritten) {
  auto store = openStore("h.db");
  struct Case {
    const char* what;
    void (*spoil)(RunRecord&);
    const char* says;
  } cases[] = {
      {"no device", [](RunRecord& r) { r.devices.clear(); }, "нет ни одного прибора"},
      {"channel 5", [](RunRecord& r) { r.devices[0].channel = 5; }, "канала 5"},
      {"same channel twice", [](RunRecord& r) { r.devices[1].channel = 1; }, "указан дважды"},
      {"point 200", [](RunRecord& r) { r.devices[0].points[0].index = 200; }, "точки 200"},
      {"same point twice", [](RunRecord& r) { r.devices[0].points[1].index = 0; }, "указана дважды"},
      {"relay 3",
       [](RunRecord& r) {
         r.relays.push_back({1, 3});
       },
       "реле 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunRecord run = sampleRun("B", kMorning);
    c.spoil(run);
    const Result<int64_t> r = store->addRun(run);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, ErrorCode::InvalidRecord);
    EXPECT_NE(r.error().message.find(c.says), std::string::npos) << r.error().message;
  }
  const Result<std::vector<RunSummary>> all = store->list();
  ASSERT_TRUE(all.ok());
  EXPECT_TRUE(all->empty());
}

TEST_F(HistoryStoreTest, ACorrectionIsANewEntryAndTheRunShowsItsLatestContent) {
  auto store = openStore("h.db");
  const int64_t first = add(*store, sampleRun("C", kMorning));
  const int64_t other = add(*store, sampleRun("D", kMorning + kHour));

  RunRecord fixed = sampleRun("C", kMorning);
  fixed.conditions.temperature = "22.0";
  fixed.devices[0].serial = "C-1a";
  const Result<int64_t> c1 = store->addCorrection(first, fixed, "температура записана неверно", kSupervisor);
  ASSERT_TRUE(c1.ok()) << c1.error().message;
  EXPECT_EQ(*c1, 3);
  // Correcting through the correction's own number corrects the same run.
  fixed.tag = RunTag::AsLeft;
  const Result<int64_t> c2 = store->addCorrection(*c1, fixed, "тег", kSupervisor);
  ASSERT_TRUE(c2.ok()) << c2.error().message;

  const Result<StoredRun> shown = store->show(first);
  ASSERT_TRUE(shown.ok());
  EXPECT_EQ(shown->runId, first);
  EXPECT_EQ(shown->contentId, *c2);
  EXPECT_EQ(shown->corrections, (std::vector<int64_t>{*c1, *c2}));
  expectSameRecord(shown->record, fixed);
  // The same run found through a correction's number.
  EXPECT_EQ(store->show(*c1)->runId, first);

  // The list shows each run once, with its current content; the old serial finds it no more.
  const Result<std::vector<RunSummary>> all = store->list();
  ASSERT_TRUE(all.ok());
  ASSERT_EQ(all->size(), 2u);
  EXPECT_EQ((*all)[1].runId, first);
  EXPECT_EQ((*all)[1].contentId, *c2);
  EXPECT_EQ((*all)[1].tag, RunTag::AsLeft);
  EXPECT_EQ((*all)[1].devices[0].serial, "C-1a");
  EXPECT_TRUE(store->list(filter("C-1"))->empty());
  EXPECT_EQ(store->list(filter("C-1a"))->size(), 1u);
  EXPECT_EQ(store->list(filter("C-2"))->size(), 1u);

  // The original entry is still in the file, unchanged.
  RawDb raw(path("h.db"));
  EXPECT_EQ(raw.number("SELECT COUNT(*) FROM run_channel WHERE entry_seq = 1 AND serial = 'C-1'"), 1);
  EXPECT_EQ(raw.number("SELECT COUNT(*) FROM entry"), 4);

  const Result<int64_t> missing = store->addCorrection(99, fixed, "нет такого", kSupervisor);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, ErrorCode::NotFound);
  (void)other;
}

TEST_F(HistoryStoreTest, ACancelledRunStaysButIsLeftOutOfTheListAndCannotBeCorrected) {
  auto store = openStore("h.db");
  const int64_t a = add(*store, sampleRun("E", kMorning));
  const int64_t b = add(*store, sampleRun("E", kMorning + kHour));
  const Result<int64_t> cancel = store->addCancellation(b, "запущен по ошибке", kSupervisor);
  ASSERT_TRUE(cancel.ok()) << cancel.error().message;

  const Result<std::vector<RunSummary>> shown = store->list(filter("E-1"));
  ASSERT_EQ(shown->size(), 1u);
  EXPECT_EQ((*shown)[0].runId, a);
  const Result<std::vector<RunSummary>> all = store->list(filter("E-1", {}, {}, true));
  ASSERT_EQ(all->size(), 2u);
  EXPECT_TRUE((*all)[0].cancelled);

  const Result<StoredRun> run = store->show(b);
  ASSERT_TRUE(run.ok());
  EXPECT_TRUE(run->cancelled);
  EXPECT_EQ(run->cancelReason, "запущен по ошибке");

  for (const Result<int64_t>& refused :
       {store->addCancellation(b, "ещё раз", kSupervisor),
        store->addCorrection(b, sampleRun("E", kMorning), "поздно", kSupervisor)}) {
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::InvalidRecord);
    EXPECT_NE(refused.error().message.find("отменён"), std::string::npos) << refused.error().message;
  }
  EXPECT_EQ(store->addCancellation(*cancel, "не запуск", kSupervisor).error().code, ErrorCode::NotFound);
}

TEST_F(HistoryStoreTest, TheDatabaseItselfRefusesChangingOrDeletingAnEntry) {
  auto store = openStore("h.db");
  add(*store, sampleRun("F", kMorning));
  RawDb raw(path("h.db"));
  EXPECT_NE(raw.exec("UPDATE run_point SET reduced_error = 0 WHERE entry_seq = 1").find("never changed"),
            std::string::npos);
  EXPECT_NE(raw.exec("DELETE FROM entry WHERE seq = 1").find("never deleted"), std::string::npos);
  EXPECT_EQ(raw.number("SELECT COUNT(*) FROM run_point WHERE reduced_error = 0"), 0);
}

TEST_F(HistoryStoreTest, ListFiltersBySerialDateAndDeviceNameNewestFirst) {
  auto store = openStore("h.db");
  RunRecord a = sampleRun("G", kMorning);
  RunRecord b = sampleRun("G", kMorning + 24 * kHour);
  RunRecord c = sampleRun("H", kMorning + 48 * kHour, 1);
  c.devices[0].name = "Манометр электроконтактный";
  for (const RunRecord& r : {a, b, c}) add(*store, r);

  struct Case {
    const char* what;
    ListFilter filter;
    std::vector<int64_t> runs;
  } cases[] = {
      {"all", {}, {3, 2, 1}},
      {"serial", filter("G-2"), {2, 1}},
      {"serial of one run", filter("H-1"), {3}},
      {"unknown serial", filter("G"), {}},
      {"since", filter("", kMorning + 24 * kHour), {3, 2}},
      {"serial and since", filter("G-1", kMorning + 1), {2}},
      {"part of a name", filter("", {}, "Манометр"), {3}},
      {"name of the others", filter("", {}, "давления"), {2, 1}},
      {"limit", filter("", {}, {}, false, 1), {3}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const Result<std::vector<RunSummary>> r = store->list(k.filter);
    ASSERT_TRUE(r.ok()) << r.error().message;
    std::vector<int64_t> ids;
    for (const RunSummary& s : *r) ids.push_back(s.runId);
    EXPECT_EQ(ids, k.runs);
  }
  const RunSummary first = store->list(filter("G-1"))->back();
  EXPECT_EQ(first.startedAtMs, kMorning);
  EXPECT_EQ(first.workstation, "стенд-2");
  EXPECT_EQ(first.calibratorSerial, "Q1234");
  ASSERT_EQ(first.devices.size(), 2u);
  EXPECT_EQ(first.devices[1].serial, "G-2");
  EXPECT_EQ(first.devices[1].verdict, Verdict::Suitable);
}

TEST_F(HistoryStoreTest, PairTakesTheLatestAsLeftAndTheAsFoundBeforeIt) {
  auto store = openStore("h.db");
  // An older pair, then today's: as-found with errors, as-left corrected; a cancelled as-left later
  // and a newer as-found without its as-left yet.
  RunRecord oldFound = sampleRun("P", kMorning - 48 * kHour);
  RunRecord oldLeft = sampleRun("P", kMorning - 47 * kHour);
  oldLeft.tag = RunTag::AsLeft;
  RunRecord found = sampleRun("P", kMorning, 2, 9);
  RunRecord left = sampleRun("P", kMorning + kHour, 2, 9);
  left.tag = RunTag::AsLeft;
  for (int k = 0; k < 9; ++k) {
    found.devices[0].points[k].reducedError = 0.4f + 0.01f * static_cast<float>(k);
    left.devices[0].points[k].reducedError = 0.05f;
  }
  // The as-left run missed its 100 % point and was taken by hand at an extra one.
  left.devices[0].points.erase(left.devices[0].points.begin() + 4);
  PointResult byHand;
  byHand.index = 9;
  byHand.pRef = 333;
  byHand.reducedError = 0.1f;
  left.devices[0].points.push_back(byHand);
  RunRecord cancelledLeft = sampleRun("P", kMorning + 2 * kHour);
  cancelledLeft.tag = RunTag::AsLeft;
  RunRecord newer = sampleRun("P", kMorning + 3 * kHour);
  for (const RunRecord& r : {oldFound, oldLeft, found, left, cancelledLeft, newer}) add(*store, r);
  ASSERT_TRUE(store->addCancellation(5, "ошибка", kSupervisor).ok());

  const Result<RunPair> pair = store->pair("P-1");
  ASSERT_TRUE(pair.ok()) << pair.error().message;
  ASSERT_TRUE(pair->asFound && pair->asLeft);
  EXPECT_EQ(pair->asFound->runId, 3);
  EXPECT_EQ(pair->asLeft->runId, 4);
  // Walk 0, 25, 50, 75, 100, 75, 50, 25, 0 against 0, 25, 50, 75, 75, 50, 25, 0 and a hand point.
  ASSERT_EQ(pair->points.size(), 10u);
  struct Row {
    float target;
    int foundIndex, leftIndex;  // -1: no point on that side
  } rows[] = {{0, 0, 0},  {25, 1, 1}, {50, 2, 2}, {75, 3, 3}, {100, 4, -1},
              {75, 5, 5}, {50, 6, 6}, {25, 7, 7}, {0, 8, 8},  {NAN, -1, 9}};
  for (std::size_t i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    const PointChange& c = pair->points[i];
    expectSameFloat(c.targetPrc, rows[i].target, "target");
    EXPECT_EQ(c.asFound ? c.asFound->index : -1, rows[i].foundIndex);
    EXPECT_EQ(c.asLeft ? c.asLeft->index : -1, rows[i].leftIndex);
    if (c.asFound && c.asLeft)
      EXPECT_FLOAT_EQ(c.errorChange, 0.05f - (0.4f + 0.01f * static_cast<float>(rows[i].foundIndex)));
    else
      EXPECT_TRUE(std::isnan(c.errorChange));
  }

  // Only as-found runs: the latest one alone. No run at all: NotFound.
  add(*store, sampleRun("Q", kMorning));
  add(*store, sampleRun("Q", kMorning + kHour));
  const Result<RunPair> lone = store->pair("Q-2");
  ASSERT_TRUE(lone.ok());
  ASSERT_TRUE(lone->asFound);
  EXPECT_EQ(lone->asFound->runId, 9);
  EXPECT_FALSE(lone->asLeft);
  EXPECT_EQ(lone->points.size(), 5u);
  const Result<RunPair> none = store->pair("нет");
  ASSERT_FALSE(none.ok());
  EXPECT_EQ(none.error().code, ErrorCode::NotFound);
}

// A calibration is found from the run that ends it: an as-left run pairs with the as-found run of its
// own calibration, neither a later nor an earlier one, and takes only the adjustments between the
// two; the stored runs
// become the protocol's runs with the sensor and current trims and the reasons the as-left run carries.
TEST_F(HistoryStoreTest, ACalibrationIsFoundFromTheRunThatEndsIt) {
  auto store = openStore("h.db");
  const auto trim = [&](int64_t at, int channel, AdjustmentKind kind, const std::string& note) {
    Adjustment a;
    a.atMs = at;
    a.utcOffsetMin = kMoscow;
    a.workstation = "стенд-2";
    a.channel = channel;
    a.serial = "C-" + std::to_string(channel);
    a.kind = kind;
    a.note = note;
    ASSERT_TRUE(store->addAdjustment(a).ok());
  };
  RunRecord left1 = sampleRun("C", kMorning + kHour);
  left1.tag = RunTag::AsLeft;
  left1.protocol.fields.push_back({"cal_D2_REASON", "подстройка невозможна: нет HART"});
  RunRecord left2 = sampleRun("C", kMorning + 4 * kHour);
  left2.tag = RunTag::AsLeft;
  add(*store, sampleRun("C", kMorning));                                          // 1
  trim(kMorning + 10 * 60000, 1, AdjustmentKind::SensorTrim, "сенсор 1");         // 2
  trim(kMorning + 11 * 60000, 1, AdjustmentKind::CurrentTrim, "ток 1");           // 3
  trim(kMorning + 12 * 60000, 2, AdjustmentKind::Rerange, "диапазон");            // 4
  add(*store, left1);                                                             // 5
  add(*store, sampleRun("C", kMorning + 3 * kHour));                              // 6
  trim(kMorning + 3 * kHour + 60000, 2, AdjustmentKind::SensorTrim, "сенсор 2");  // 7
  add(*store, left2);                                                             // 8

  struct Case {
    int64_t run;
    int64_t asFound;  // 0: none
    std::vector<std::string> notes;
  } cases[] = {{5, 1, {"сенсор 1", "ток 1", "диапазон"}}, {8, 6, {"сенсор 2"}}, {6, 0, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.run);
    const Result<StoredCalibration> found = store->calibrationOf(c.run);
    ASSERT_TRUE(found.ok()) << found.error().message;
    EXPECT_EQ(found->last.runId, c.run);
    EXPECT_EQ(found->asFound ? found->asFound->runId : 0, c.asFound);
    std::vector<std::string> notes;
    for (const Adjustment& a : found->adjustments) notes.push_back(a.note);
    EXPECT_EQ(notes, c.notes);
  }

  const data::CalibrationRuns runs = calibrationRunsOfStored(store->calibrationOf(5).value());
  ASSERT_TRUE(runs.asFound && runs.asLeft);
  EXPECT_EQ(runs.asFound->record().results[0].valid, 1);
  // The new range is no trim of the calibration.
  ASSERT_EQ(runs.adjustments.size(), 2u);
  EXPECT_EQ(runs.adjustments[0].kind, data::TrimKind::Sensor);
  EXPECT_EQ(runs.adjustments[1].kind, data::TrimKind::Current);
  EXPECT_EQ(runs.adjustments[1].channel, 1);
  EXPECT_EQ(runs.reasons, (std::array<std::string, 4>{"", "подстройка невозможна: нет HART", "", ""}));
  // An as-found run alone is the protocol's only run.
  const data::CalibrationRuns alone = calibrationRunsOfStored(store->calibrationOf(6).value());
  EXPECT_TRUE(alone.asFound && !alone.asLeft && alone.adjustments.empty());
  EXPECT_EQ(store->calibrationOf(99).error().code, ErrorCode::NotFound);

  // Its as-found run cancelled, the second calibration has none: the first one's is another occasion's.
  ASSERT_TRUE(store->addCancellation(6, "ошибка", kSupervisor).ok());
  const Result<StoredCalibration> withoutFound = store->calibrationOf(8);
  ASSERT_TRUE(withoutFound.ok()) << withoutFound.error().message;
  EXPECT_FALSE(withoutFound->asFound);
  EXPECT_TRUE(withoutFound->adjustments.empty());
}

TEST_F(HistoryStoreTest, ASecondRunTheSameDayAfterACalibrationOrTrimIsOfferedAsLeft) {
  struct Case {
    const char* what;
    // Earlier entries: as-found run(s) and adjustments, in Moscow time of 14 May unless said.
    std::function<void(HistoryStore&)> before;
    int64_t newRunAt;
    RunTag offered;
    int64_t pairedWith;
  };
  auto run = [](int64_t at, RunKind kind = RunKind::Verification, RunTag tag = RunTag::AsFound) {
    RunRecord r = sampleRun("T", at);
    r.kind = kind;
    r.tag = tag;
    return r;
  };
  auto trim = [](const std::string& serial, int64_t at) {
    Adjustment a;
    a.atMs = at;
    a.utcOffsetMin = kMoscow;
    a.channel = 1;
    a.serial = serial;
    a.kind = AdjustmentKind::CurrentTrim;
    return a;
  };
  const Case cases[] = {
      {"first run of the day", [](HistoryStore&) {}, kMorning, RunTag::AsFound, 0},
      {"repeat without adjustment", [&](HistoryStore& s) { s.addRun(run(kMorning)); }, kMorning + kHour,
       RunTag::AsFound, 0},
      {"after a HART trim",
       [&](HistoryStore& s) {
         s.addRun(run(kMorning));
         s.addAdjustment(trim("T-2", kMorning + kHour / 2));
       },
       kMorning + kHour, RunTag::AsLeft, 1},
      {"a trim of another device",
       [&](HistoryStore& s) {
         s.addRun(run(kMorning));
         s.addAdjustment(trim("X-1", kMorning + kHour / 2));
       },
       kMorning + kHour, RunTag::AsFound, 0},
      {"a trim before the as-found run",
       [&](HistoryStore& s) {
         s.addAdjustment(trim("T-1", kMorning - kHour));
         s.addRun(run(kMorning));
       },
       kMorning + kHour, RunTag::AsFound, 0},
      {"the as-found run was a calibration",
       [&](HistoryStore& s) { s.addRun(run(kMorning, RunKind::Calibration)); }, kMorning + kHour,
       RunTag::AsLeft, 1},
      {"a calibration run after the as-found run",
       [&](HistoryStore& s) {
         s.addRun(run(kMorning));
         s.addRun(run(kMorning + kHour / 2, RunKind::Calibration, RunTag::AsLeft));
       },
       kMorning + kHour, RunTag::AsLeft, 1},
      {"the as-found run was yesterday",
       [&](HistoryStore& s) {
         s.addRun(run(kMorning - 24 * kHour));
         s.addAdjustment(trim("T-1", kMorning - kHour));
       },
       kMorning, RunTag::AsFound, 0},
      // 23:30 and 00:30 Moscow time are one UTC day but two days of the workstation.
      {"past local midnight",
       [&](HistoryStore& s) {
         s.addRun(run(kMorning + 11 * kHour + kHour / 2));
         s.addAdjustment(trim("T-1", kMorning + 12 * kHour));
       },
       kMorning + 12 * kHour + kHour / 2, RunTag::AsFound, 0},
      {"the as-found run was cancelled",
       [&](HistoryStore& s) {
         s.addRun(run(kMorning));
         s.addCancellation(1, "ошибка", kSupervisor);
         s.addAdjustment(trim("T-1", kMorning + kHour / 2));
       },
       kMorning + kHour, RunTag::AsFound, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto store = openStore("offer" + std::to_string(n++) + ".db");
    ASSERT_TRUE(store);
    c.before(*store);
    const Result<TagOffer> offer = store->offerTag(run(c.newRunAt));
    ASSERT_TRUE(offer.ok()) << offer.error().message;
    EXPECT_EQ(offer->tag, c.offered);
    EXPECT_EQ(offer->asFoundRunId, c.pairedWith);
    if (c.offered == RunTag::AsLeft) {
      EXPECT_FALSE(offer->serials.empty());
      EXPECT_NE(offer->reason.find("после настройки"), std::string::npos) << offer->reason;
    }
  }
}

TEST_F(HistoryStoreTest, LocalDayFollowsTheWorkstationsOffset) {
  struct Case {
    int64_t ms;
    int offset;
    int64_t day;
  } cases[] = {
      {0, 0, 0},
      {86399999, 0, 0},
      {86400000, 0, 1},
      {kMorning, kMoscow, 19857},               // 14 May 2024
      {kMorning + 12 * kHour, kMoscow, 19858},  // 00:00 Moscow on 15 May, 21:00 UTC on 14 May
      {kMorning + 12 * kHour, 0, 19857},
      {-1, 0, -1},  // a moment before 1970 is on the day before
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    EXPECT_EQ(localDay(c.ms, c.offset), c.day);
  }
}

}  // namespace
}  // namespace quarn::history::test
