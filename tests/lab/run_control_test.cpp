#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "RunControl.h"
#include "Suitability.h"
#include "quarn/cp1251.h"

using namespace quarn::data;

namespace {

PointSet pointsAt(std::initializer_list<std::pair<int, float>> on) {
  PointSet set{};
  for (auto [row, prc] : on) set[static_cast<std::size_t>(row)] = PointDef{true, prc, 9};
  set[5] = PointDef{false, 55, 0};  // switched off: skipped
  return set;
}

TEST(PrepareRun, CopiesTheSwitchedOnPointsAndClearsTheResults) {
  auto dev = std::make_unique<TDev>();
  dev->results[7].valid = 1;
  dev->pointIdx = 9;
  dev->relayOn[0] = 1;
  dev->relayOn[1] = 1;
  const Result<RunStart> r = prepareRun(*dev, pointsAt({{0, 0}, {3, 50}, {199, 100}}), false, false);
  ASSERT_TRUE(r.ok()) << r.why();
  EXPECT_TRUE(r->startTask);
  EXPECT_EQ(r->progressMax, 3);
  EXPECT_EQ(dev->pointCount, 3);
  EXPECT_EQ(dev->points[1].prc, 50.0f);
  EXPECT_EQ(dev->points[2].prc, 100.0f);
  EXPECT_EQ(dev->points[2].holdS, 0.0f);  // the hold time of a point stays with the project
  EXPECT_EQ(dev->results[7].valid, 0u);
  EXPECT_EQ(dev->pointIdx, 0);
  EXPECT_EQ(dev->povMode, 0u);

  const Result<RunStart> relay = prepareRun(*dev, pointsAt({{0, 10}}), true, false);
  ASSERT_TRUE(relay.ok());
  EXPECT_EQ(relay->progressMax, 6);  // three steps per selected relay
  EXPECT_EQ(dev->povMode, 1u);

  const Result<RunStart> hand = prepareRun(*dev, pointsAt({{0, 10}}), false, true);
  ASSERT_TRUE(hand.ok());
  EXPECT_FALSE(hand->startTask);
  EXPECT_EQ(dev->handInput, 1u);
}

TEST(PrepareRun, WithoutAPointNothingStarts) {
  auto dev = std::make_unique<TDev>();
  dev->results[0].valid = 1;
  const Result<RunStart> r = prepareRun(*dev, PointSet{}, false, false);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.why(), "Нет точек поверки!");
  EXPECT_EQ(dev->results[0].valid, 1u);  // the previous results stay
}

// A set of more points than the protocol's tables take is refused before the run starts, with the
// limit; 199 points run.
TEST(PrepareRun, MorePointsThanTheProtocolTakesAreRefused) {
  auto dev = std::make_unique<TDev>();
  dev->results[0].valid = 1;
  PointSet set{};
  for (int k = 0; k < kProtocolRecordsMax; ++k) set[static_cast<std::size_t>(k)] = {true, 50, 0};
  EXPECT_TRUE(prepareRun(*dev, set, false, false).ok());
  set[kProtocolRecordsMax] = {true, 100, 0};
  dev->results[0].valid = 1;
  const Result<RunStart> r = prepareRun(*dev, set, false, false);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.why(), "В списке 200 точек, а в протокол помещается не более 199: уменьшите число точек.");
  EXPECT_EQ(dev->results[0].valid, 1u);
}

TEST(StartPermission, NeedsValidParametersAChannelAndInRelayModeARelay) {
  struct Case {
    bool valid, channel, relayMode, relay, allowed;
    const char* hint;
  } cases[] = {
      {true, true, false, false, true, ""},
      {false, true, false, false, false, "* Проверьте параметры поверки!"},
      {true, false, false, false, false, "* Канал не выбран"},
      {false, false, false, false, false, "* Канал не выбран"},
      {true, true, true, false, false, ""},
      {true, true, true, true, true, ""},
  };
  for (const Case& c : cases) {
    auto dev = std::make_unique<TDev>();
    dev->devCh[2].enabled = c.channel;
    dev->relayOn[1] = c.relay;
    const StartPermission p = startPermission(*dev, c.valid, c.relayMode);
    EXPECT_EQ(p.allowed, c.allowed);
    EXPECT_EQ(p.hint, c.hint);
  }
}

TEST(PrepareVerification, StartsOrSaysWhyNot) {
  auto valid = [] {
    Project p;
    p.channels[0].enabled = true;
    p.channels[2].enabled = true;
    return p;
  };
  struct Case {
    const char* what;
    Project project;
    bool relayMode;
    std::optional<int> set;
    const char* reason;
  } cases[] = {
      {"valid", valid(), false, std::nullopt, ""},
      {"no channel", Project{}, false, std::nullopt, "Канал не выбран"},
      {"ranges differ",
       [&] {
         Project p = valid();
         p.channels[2].Max = 700;
         return p;
       }(),
       false, std::nullopt, "Диапазоны датчиков не совпадают!"},
      {"no point in the set", valid(), false, 2, "Нет точек поверки!"},
      {"no such set", valid(), false, 5, "Нет списка точек 6"},
      {"relay mode without a relay", valid(), true, std::nullopt, "Не выбрано ни одно реле"},
  };
  for (const Case& c : cases) {
    auto dev = std::make_unique<TDev>();
    const Result<RunStart> r = prepareVerification(c.project, *dev, {}, c.relayMode, c.set);
    EXPECT_EQ(r.ok(), std::string(c.reason).empty()) << c.what;
    EXPECT_EQ(r.why(), c.reason) << c.what;
    if (r.ok()) {
      EXPECT_EQ(dev->pointCount, 9) << c.what;  // the standard points of set 1
      EXPECT_EQ(dev->povSpan, 600.0f);
      EXPECT_TRUE(r->startTask);
    }
  }
}

TEST(RunEnd, ResultCodesGiveTheEndMessages) {
  auto dev = std::make_unique<TDev>();
  EXPECT_EQ(checkRunEnd(*dev).end, RunEnd::Running);
  dev->retCode = 14;
  EXPECT_EQ(checkRunEnd(*dev).end, RunEnd::VerificationFinished);
  EXPECT_EQ(checkRunEnd(*dev).message, "Поверка завершена");
  dev->povHeader.isCalib = 1;
  EXPECT_EQ(checkRunEnd(*dev).message, "Калибровка завершена");
  dev->retCode = 15;
  EXPECT_EQ(checkRunEnd(*dev).end, RunEnd::RelayCheckFinished);
  EXPECT_EQ(checkRunEnd(*dev).message, "Калибровка завершена");
  dev->errCode = 12;
  dev->errText = CP1251("Нет подключенных\tустройств");
  EXPECT_EQ(checkRunEnd(*dev).message, "Нет подключенных\tустройств");
}

TEST(HoldTime, RemainingSecondsAndTheirTexts) {
  auto dev = std::make_unique<TDev>();
  dev->ch[1].pStat.holdLeftS = 4;
  EXPECT_EQ(holdTimeLeft(*dev, 1), -1);  // reference outside its corridor
  dev->refStat.inCorridor = 1;
  EXPECT_EQ(holdTimeLeft(*dev, 1), 4);
  struct Case {
    int s;
    const char* text;
  } cases[] = {{-3, "?"}, {-2, "не стаб."}, {-1, " "}, {0, " "}, {4, "4 сек."}};
  for (const Case& c : cases) EXPECT_EQ(holdTimeText(c.s), c.text);
}

TEST(HandInput, RecordsTheCurrentValuesUntilTheTableIsFull) {
  auto dev = std::make_unique<TDev>();
  dev->settings.unitFactor = 0.001f;  // MPa display
  dev->settings.unitFactorInv = 1000;
  setHandReference(*dev, 0.25);
  EXPECT_FLOAT_EQ(dev->pRef, 250.0f);
  EXPECT_FLOAT_EQ(dev->pRefUnits, 0.25f);
  dev->ch[2].current = 8.01f;
  dev->ch[2].pFromIKPa = 250.6f;
  dev->ch[2].reducedError = 0.06f;
  ASSERT_TRUE(addHandResult(*dev).ok());
  const TPovResult& r = dev->results[0];
  EXPECT_EQ(r.valid, 1u);
  EXPECT_FLOAT_EQ(r.pRef, 250.0f);
  EXPECT_FLOAT_EQ(r.ch[2].current, 8.01f);
  EXPECT_FLOAT_EQ(r.ch[2].pFromI, 0.2506f);
  EXPECT_EQ(r.ch[2].iExpected, 0.0f);
  EXPECT_EQ(dev->pointIdx, 1);
  EXPECT_EQ(dev->pointCount, 1);

  // The protocol's tables take 199 records: a 200th would count in the verdict but not be printed.
  dev->pointIdx = kProtocolRecordsMax - 1;
  EXPECT_TRUE(addHandResult(*dev).ok());
  const auto before = dev->pointCount;
  EXPECT_EQ(addHandResult(*dev).why(), "В протокол записано 199 точек: больше записей нет.");
  EXPECT_EQ(dev->pointIdx, kProtocolRecordsMax);
  EXPECT_EQ(dev->pointCount, before);
  EXPECT_EQ(validResultCount(*dev), 2);
}

TEST(Suitability, EveryRecordedErrorWithinTheLimit) {
  const float nan = std::nanf("");
  struct Case {
    const char* what;
    bool enabled;
    int pointIdx;
    std::initializer_list<std::pair<bool, float>> records;  // valid, reducedError
    std::optional<bool> suitable;
  } cases[] = {
      {"not enabled", false, 2, {{true, 0}, {true, 0}}, std::nullopt},
      {"nothing recorded", true, 0, {}, false},
      {"all within", true, 3, {{true, 0.1f}, {true, -0.17f}, {true, 0}}, true},
      {"equality passes", true, 1, {{true, -0.175f}}, true},
      {"one beyond", true, 3, {{true, 0.1f}, {true, 0.18f}, {true, 0}}, false},
      {"a deleted record does not count", true, 2, {{false, 5}, {true, 0.1f}}, true},
      {"records after pointIdx do not count", true, 1, {{true, 0.1f}, {true, 5}}, true},
      {"a missing value fails", true, 1, {{true, nan}}, false},
      {"pointIdx beyond the table", true, 100000, {{true, 0.1f}}, true},
  };
  for (const Case& c : cases) {
    auto dev = std::make_unique<TDev>();
    dev->devCh[1].enabled = c.enabled;
    dev->devCh[1].errOk = 0.25f;
    dev->povHeader.vrCoeff = 0.7f;
    dev->pointIdx = c.pointIdx;
    int k = 0;
    for (auto [valid, err] : c.records) {
      dev->results[k].valid = valid;
      dev->results[k].ch[1].reducedError = err;
      ++k;
    }
    EXPECT_EQ(channelSuitable(*dev, 1), c.suitable) << c.what;
  }
  auto dev = std::make_unique<TDev>();
  EXPECT_EQ(channelSuitable(*dev, 4), std::nullopt);
}

}  // namespace
