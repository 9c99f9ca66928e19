// Running statistics: ring, mean and spread, extremes, corridor, hold timer, speed, clearing.
// Fields of the packed statistics records can sit at odd addresses: the checks take them by value
// (unary plus), never by reference.
#include "calibrator/stat_value.h"

#include <cmath>
#include <cstring>

#include "virtual_clock.h"

namespace {

using quarn::test::QuarnTest;

class StatValueTest : public QuarnTest {
 protected:
  void SetUp() override {
    QuarnTest::SetUp();
    StatValue_Init(&s);
    s.window = 5;
  }
  void add(std::initializer_list<float> values, uint32_t stepMs = 0) {
    for (float v : values) {
      ASSERT_EQ(StatValue_AddValue(&s, v), 0);
      clock.advance(stepMs);
    }
  }
  TStatValue s{};
};

TEST_F(StatValueTest, MeanSpreadAndExtremesOverTheRing) {
  struct Case {
    int window;
    std::vector<float> samples;
    int count;
    float mean, sd, min, max;
  };
  const Case cases[] = {
      {5, {10, 10, 10}, 3, 10, 0, 10, 10},
      // The spread divides by count squared minus one.
      {5, {1, 3}, 2, 2, std::sqrt(2.0f / 3.0f), 1, 3},
      // Only the last three are held; the extremes run over everything since the first sample.
      {3, {1, 2, 3, 4, 5}, 3, 4, std::sqrt(2.0f / 8.0f), 1, 5},
  };
  for (const Case& c : cases) {
    StatValue_Init(&s);
    s.window = c.window;
    for (float v : c.samples) ASSERT_EQ(StatValue_AddValue(&s, v), 0);
    SCOPED_TRACE(c.window);
    EXPECT_EQ(s.count, c.count);
    EXPECT_FLOAT_EQ(s.mean, c.mean);
    EXPECT_NEAR(s.sd, c.sd, 1e-6);
    EXPECT_FLOAT_EQ(s.min, c.min);
    EXPECT_FLOAT_EQ(s.max, c.max);
    EXPECT_FLOAT_EQ(s.value, c.samples.back());
    EXPECT_FLOAT_EQ(s.prevValue, c.samples[c.samples.size() - 2]);
  }
}

TEST_F(StatValueTest, FirstSampleAfterClearingGoesToSlotOneAndTheRingWraps) {
  ASSERT_NO_FATAL_FAILURE(add({1}));
  EXPECT_EQ(s.last, 1);
  EXPECT_TRUE(s.slots[1].valid);
  EXPECT_FALSE(s.slots[0].valid);
  ASSERT_NO_FATAL_FAILURE(add({2, 3, 4, 5}));
  EXPECT_EQ(s.last, 0);  // slots 1..4, then back to 0
  EXPECT_EQ(s.count, 5);
}

TEST_F(StatValueTest, RejectsValuesThatAreNoNumbers) {
  ASSERT_NO_FATAL_FAILURE(add({5}));
  const TStatValue before = s;
  for (float bad : {NAN, -1e31f, 1e31f, INFINITY}) EXPECT_EQ(StatValue_AddValue(&s, bad), -1) << bad;
  EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
  EXPECT_EQ(StatValue_isNan(9e30f), 0);
  EXPECT_EQ(StatValue_isNan(-9.1e30f), 1);
}

TEST_F(StatValueTest, CorridorNeedsTwoSamplesAndRemembersChanges) {
  s.target = 100;
  s.readyCorridor = 1;
  ASSERT_NO_FATAL_FAILURE(add({100.2f}));
  EXPECT_EQ(s.inCorridor, 0);       // a single sample never counts...
  EXPECT_EQ(s.corridorChanged, 1);  // ...but its evaluation differed from the stored flag
  ASSERT_NO_FATAL_FAILURE(add({100.4f}));
  EXPECT_EQ(s.inCorridor, 1);
  s.corridorChanged = 0;
  ASSERT_NO_FATAL_FAILURE(add({100.6f}));
  EXPECT_EQ(s.corridorChanged, 0) << "still inside";
  ASSERT_NO_FATAL_FAILURE(add({101.5f}));
  EXPECT_EQ(s.inCorridor, 0);
  EXPECT_EQ(s.corridorChanged, 1);
  ASSERT_NO_FATAL_FAILURE(add({100.1f, 100.1f, 100.1f, 100.1f, 100.1f}));
  EXPECT_EQ(s.corridorChanged, 1) << "only the user of the record clears it";
}

TEST_F(StatValueTest, HoldTimerCountsDownWhileSteadyAndRestartsOnAJump) {
  s.target = 50;
  s.readyCorridor = 1;
  s.stableBand = 0.1f;
  s.holdMs = 5000;
  ASSERT_NO_FATAL_FAILURE(add({50.0f}, 1000));
  EXPECT_EQ(s.holding, 0);
  std::vector<int> left;
  int readyAt = -1;
  for (int i = 2; i <= 8 && readyAt < 0; ++i) {
    ASSERT_NO_FATAL_FAILURE(add({50.0f}, 1000));
    left.push_back(+s.holdLeftS);
    if (s.ready) readyAt = i;
  }
  EXPECT_EQ(left, (std::vector<int>{5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(readyAt, 7);  // first sample 5 s after the hold started with the second sample
  EXPECT_EQ(s.stable, 1);
  EXPECT_EQ(s.holding, 1);

  ASSERT_NO_FATAL_FAILURE(add({50.2f}, 1000));
  EXPECT_EQ(+s.holdLeftS, -2);
  EXPECT_EQ(s.stable, 0);
  EXPECT_EQ(s.ready, 0);
  EXPECT_EQ(s.holding, 0);
  EXPECT_EQ(+s.holdStart, 0u);
}

TEST_F(StatValueTest, HoldTimerSurvivesTheTickWrap) {
  clock.set(0xFFFFF000u);  // 4 s before the 32-bit wrap
  s.stableBand = 1;
  s.holdMs = 10000;
  ASSERT_NO_FATAL_FAILURE(add({1, 1}, 1000));
  EXPECT_EQ(s.holding, 1);
  ASSERT_NO_FATAL_FAILURE(add({1, 1, 1}, 1000));  // across the wrap
  EXPECT_EQ(s.stable, 0) << "the hold time has not run out";
  EXPECT_GT(+s.holdLeftS, 0);
}

TEST_F(StatValueTest, SpeedIsChangePerSecondOfTheTwoNewestSamples) {
  ASSERT_NO_FATAL_FAILURE(add({10}, 500));
  EXPECT_FLOAT_EQ(s.speed, 0.0f);
  ASSERT_NO_FATAL_FAILURE(add({11}, 500));
  EXPECT_FLOAT_EQ(s.speed, 2.0f);  // 1 kPa in 0.5 s
  ASSERT_NO_FATAL_FAILURE(add({13}));
  EXPECT_FLOAT_EQ(s.speed, 4.0f);
  ASSERT_NO_FATAL_FAILURE(add({20}, 1000));  // same tick: keeps the speed
  EXPECT_FLOAT_EQ(s.speed, 4.0f);
  ASSERT_NO_FATAL_FAILURE(add({21, 22}, 1000));  // slots 0 and 1: no speed across the ring's wrap
  EXPECT_EQ(s.last, 1);
  EXPECT_FLOAT_EQ(s.speed, 4.0f);
  ASSERT_NO_FATAL_FAILURE(add({24}));
  EXPECT_FLOAT_EQ(s.speed, 2.0f);
}

TEST_F(StatValueTest, ClearKeepsParametersInitAndParamUpdateDoNot) {
  s.target = 7;
  s.holdMs = 3000;
  s.stableBand = 0.5f;
  s.readyCorridor = 2;
  ASSERT_NO_FATAL_FAILURE(add({7, 7, 7}));
  StatValue_Clear(&s);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.last, 0);
  EXPECT_FALSE(s.slots[1].valid);
  EXPECT_FLOAT_EQ(s.mean, 0);
  EXPECT_FLOAT_EQ(s.target, 7);
  EXPECT_EQ(s.holdMs, 3000u);
  EXPECT_FLOAT_EQ(s.stableBand, 0.5f);
  EXPECT_FLOAT_EQ(s.readyCorridor, 2);
  EXPECT_EQ(s.window, 5);

  StatValue_ParamUpdate(&s, 123, 0.25f, 1500.9f);
  EXPECT_EQ(s.window, 0);
  EXPECT_FLOAT_EQ(s.target, 0);
  EXPECT_FLOAT_EQ(s.stableBand, 0.25f);
  EXPECT_EQ(s.holdMs, 1500u);
}

TEST_F(StatValueTest, ClearAllClearsReferenceAndChannelsAndMarksChannelsIdle) {
  Dev.refStat.window = Dev.ch[2].pStat.window = Dev.ch[2].iStat.window = 5;
  Dev.refStat.target = 100;
  for (float v : {1.0f, 2.0f}) {
    StatValue_AddValue(&Dev.refStat, v);
    StatValue_AddValue(&Dev.ch[2].pStat, v);
    StatValue_AddValue(&Dev.ch[2].iStat, v);
  }
  StatValue_ClearAll();
  EXPECT_EQ(Dev.refStat.count, 0);
  EXPECT_FLOAT_EQ(Dev.refStat.target, 100);
  for (const TMeasCh& m : Dev.ch) {
    EXPECT_EQ(m.pStat.count, 0);
    EXPECT_EQ(+m.iStat.count, 0);
    EXPECT_EQ(+m.pStat.holdLeftS, -2);
  }
  EXPECT_EQ(Dev.ch[2].pStat.window, 5);
}

TEST_F(StatValueTest, WindowOutsideTheRingNeverOverrunsIt) {
  s.window = 100000;  // a corrupted parameter must not index past the 200 slots
  for (int i = 0; i < 450; ++i) ASSERT_EQ(StatValue_AddValue(&s, static_cast<float>(i)), 0);
  EXPECT_EQ(s.count, STAT_RING_SIZE);
  EXPECT_LT(s.last, STAT_RING_SIZE);

  StatValue_Init(&s);  // window 0: holds nothing, never ready
  for (float v : {1.0f, 1.0f, 1.0f}) EXPECT_EQ(StatValue_AddValue(&s, v), 0);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.ready, 0);
}

TEST_F(StatValueTest, HelpersAndMinMaxOverTheRing) {
  s.target = 10;
  s.stableBand = 0.5f;
  EXPECT_EQ(StatValue_isValTolerance(&s, 10.5f), 1);
  EXPECT_EQ(StatValue_isValTolerance(&s, 9.5f), 1);
  EXPECT_EQ(StatValue_isValTolerance(&s, 10.51f), 0);
  EXPECT_DOUBLE_EQ(Z_x2(3, 4, 0, 0, 0, 12), 13.0);

  ASSERT_NO_FATAL_FAILURE(add({4, 8, 6}));
  CalcStat_MinMax(&s, 5);
  EXPECT_FLOAT_EQ(s.min, 4);
  EXPECT_FLOAT_EQ(s.max, 8);
  EXPECT_TRUE(std::isnan(Calc_U(7)));
}

// The measuring-cycle period statistic: cycleStat takes the time between two cycle starts.
TEST_F(StatValueTest, CycleTimeStatisticTakesThePeriodBetweenCycleStarts) {
  Dev.tick = 5000;
  EXPECT_EQ(Debug_statTimerTest(), 5000u);  // no cycle started yet: no sample
  EXPECT_EQ(+Dev.cycleStat.count, 0);
  EXPECT_EQ(Dev.measTimeStart, 5000u);
  Dev.tick = 5240;
  Debug_statTimerTest();
  Dev.tick = 5500;
  Debug_statTimerTest();
  EXPECT_EQ(+Dev.cycleStat.count, 2);
  EXPECT_FLOAT_EQ(+Dev.cycleStat.prevValue, 240.0f);
  EXPECT_FLOAT_EQ(+Dev.cycleStat.value, 260.0f);
  EXPECT_FLOAT_EQ(+Dev.cycleStat.mean, 250.0f);

  Dev.tick = 7000;
  EXPECT_EQ(dbg_measTime_start(), 7000u);
  EXPECT_EQ(Dev.measTimeStart, 7000u);
  EXPECT_EQ(dbg_measTime_end(), 7000u);
  EXPECT_EQ(Dev.measTimeStart, 0u);
}

}  // namespace
