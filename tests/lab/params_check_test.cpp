#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "ParamsCheck.h"
#include "PointListRange.h"

using namespace quarn::data;

namespace {

struct Ch {
  bool on;
  float minKpa, maxKpa;
  float errOk = 0.2f;
};

std::unique_ptr<TDev> devWith(std::initializer_list<Ch> channels) {
  auto dev = std::make_unique<TDev>();
  int c = 0;
  for (const Ch& ch : channels) {
    dev->devCh[c].enabled = ch.on;
    dev->devCh[c].MinKpa = ch.minKpa;
    dev->devCh[c].MaxKpa = ch.maxKpa;
    dev->devCh[c].errOk = ch.errOk;
    ++c;
  }
  return dev;
}

TEST(CheckParams, RangesAndTolerancesGiveTheScreensMessages) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* what;
    std::initializer_list<Ch> channels;
    bool linked;
    bool valid;
    int range;
    const char* message;
  } cases[] = {
      {"within 5 % of the span", {{true, 0, 1000}, {true, 0, 1040}}, false, true, kRangeOk, ""},
      {"upper limits 6 % apart",
       {{true, 0, 1000}, {true, 0, 1060}},
       false,
       false,
       kRangeMismatch,
       "Диапазоны датчиков не совпадают!"},
      {"lower limits apart",
       {{true, 0, 1000}, {false, 0, 0}, {true, 60, 1000}},
       false,
       false,
       kRangeMismatch,
       "Диапазоны датчиков не совпадают!"},
      {"a disabled channel does not count",
       {{false, 0, 5}, {true, 0, 1000}, {false, 0, 1}},
       false,
       true,
       kRangeOk,
       ""},
      {"no channel enabled", {{false, 0, 1000}}, false, false, kRangeNoChannel, ""},
      {"empty range", {{true, 100, 100}}, false, false, kRangeEmpty, "Диапазон датчика не задан (Pв = Pн)!"},
      {"beyond the calibrator",
       {{true, 0, 3000}},
       true,
       false,
       kRangeBeyondCalibrator,
       "Диапазон калибратора меньше диапазона датчика !"},
      {"below the calibrator",
       {{true, -100, 500}},
       true,
       false,
       kRangeBeyondCalibrator,
       "Диапазон калибратора меньше диапазона датчика !"},
      {"calibrator limits only while linked", {{true, 0, 3000}}, false, true, kRangeOk, ""},
      {"tolerance too small wins over a range message",
       {{true, 0, 1000, 0}, {true, 0, 2000}},
       false,
       false,
       kRangeMismatch,
       "Допустимая погрешность слишком мала!"},
      {"tolerance too small on a second channel",
       {{true, 0, 1000}, {true, 0, 1000, 1e-10f}},
       false,
       false,
       kRangeOk,
       "Допустимая погрешность слишком мала!"},
      {"tolerance not a number",
       {{true, 0, 1000, std::nanf("")}},
       false,
       false,
       kRangeOk,
       "Допустимая погрешность слишком мала!"},
      {"infinite range", {{true, 0, inf}}, false, false, kRangeNotANumber, "Диапазон датчика задан неверно!"},
      {"range not a number",
       {{true, 0, 1000}, {true, std::nanf(""), 1000}},
       false,
       false,
       kRangeNotANumber,
       "Диапазон датчика задан неверно!"},
      // Ranges that run downwards (Min above Max): reverse-acting and vacuum devices.
      {"running downwards", {{true, 600, 0}, {true, 610, 0}}, true, true, kRangeOk, ""},
      {"vacuum", {{true, 0, -90}}, true, true, kRangeOk, ""},
      {"running the other way does not match",
       {{true, 0, 600}, {true, 600, 0}},
       false,
       false,
       kRangeMismatch,
       "Диапазоны датчиков не совпадают!"},
      {"downwards beyond the calibrator",
       {{true, 3000, 0}},
       true,
       false,
       kRangeBeyondCalibrator,
       "Диапазон калибратора меньше диапазона датчика !"},
      {"downwards below the calibrator",
       {{true, 0, -100}},
       true,
       false,
       kRangeBeyondCalibrator,
       "Диапазон калибратора меньше диапазона датчика !"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto dev = devWith(c.channels);
    dev->linked = c.linked;
    dev->calInfo.pLimitMin = -95;
    dev->calInfo.pLimitMax = 2500;
    dev->povLo = -1;
    dev->povSpan = -1;
    const ParamsCheck r = checkParams(*dev);
    EXPECT_EQ(r.valid, c.valid);
    EXPECT_EQ(r.rangeResult, c.range);
    EXPECT_EQ(r.message, c.message);
    if (c.range == kRangeOk) {
      const TDevChannel& first = dev->devCh[0].enabled ? dev->devCh[0] : dev->devCh[1];
      EXPECT_EQ(dev->povLo, first.MinKpa);
      EXPECT_EQ(dev->povSpan, first.MaxKpa - first.MinKpa);
    } else {
      EXPECT_EQ(dev->povSpan, -1.0f);  // the range is left alone on failure
    }
  }
}

// The run's targets, povLo + percent / 100 x povSpan, run from the first enabled device's Min (0 %)
// to its Max (100 %) and never leave its range, also when the range runs downwards.
TEST(CheckParams, EveryTargetOfTheRunLiesInsideTheDevicesRange) {
  const float ranges[][2] = {{0, 1000}, {1000, 100}, {600, 0}, {0, -90}};
  for (const auto& range : ranges) {
    SCOPED_TRACE(testing::Message() << range[0] << " .. " << range[1]);
    auto dev = devWith({{false, 0, 0}, {true, range[0], range[1]}, {true, range[0], range[1]}});
    ASSERT_EQ(checkRanges(*dev), kRangeOk);
    EXPECT_EQ(dev->povLo + 0.0f * dev->povSpan, range[0]);
    EXPECT_EQ(dev->povLo + 1.0f * dev->povSpan, range[1]);
    EXPECT_FLOAT_EQ(dev->povLo + 0.5f * dev->povSpan, (range[0] + range[1]) / 2);
  }
}

TEST(SetReadiness, CorridorsBandsAndHoldTimesFollowTheSettings) {
  auto dev = devWith({{true, 0, 1000, 0.25f}, {false, 0, 1000}, {true, 0, 1000, 0.5f}});
  dev->povSpan = 1000;
  dev->pTarget = 500;
  dev->povHeader.tRdy = 7;
  dev->povHeader.dRdy = 0.05f;
  dev->povHeader.vrCoeff = 0.7f;
  dev->settings.readyBand1 = 0.1f;
  dev->settings.averaging = 5;
  dev->ch[1].pStat.window = 42;  // a disabled channel is left alone
  setReadiness(*dev);

  EXPECT_EQ(dev->refStat.target, 500.0f);
  EXPECT_EQ(dev->refStat.holdMs, 7000u);
  EXPECT_FLOAT_EQ(dev->refStat.stableBand, 0.5f);
  EXPECT_FLOAT_EQ(dev->refStat.readyCorridor, 1.0f);
  EXPECT_EQ(dev->refStat.window, 7);
  EXPECT_EQ(dev->ch[0].pStat.target, 500.0f);
  EXPECT_EQ(dev->ch[0].pStat.holdMs, 7000u);
  EXPECT_FLOAT_EQ(dev->ch[0].pStat.stableBand, 0.5f);
  EXPECT_FLOAT_EQ(dev->ch[0].pStat.readyCorridor, 1.75f);  // 1000 x 0.25 x 0.7 / 100
  EXPECT_FLOAT_EQ(dev->ch[2].pStat.readyCorridor, 3.5f);
  EXPECT_EQ(dev->ch[0].pStat.window, 5);
  EXPECT_EQ(dev->ch[1].pStat.window, 42);
  EXPECT_EQ(dev->ch[1].pStat.holdMs, 0u);

  // A range that runs downwards has a negative povSpan; bands and corridors are sizes all the same
  // (a negative band would never let a value count as steady).
  dev->povSpan = -1000;
  setReadiness(*dev);
  EXPECT_FLOAT_EQ(dev->refStat.stableBand, 0.5f);
  EXPECT_FLOAT_EQ(dev->refStat.readyCorridor, 1.0f);
  EXPECT_FLOAT_EQ(dev->ch[0].pStat.stableBand, 0.5f);
  EXPECT_FLOAT_EQ(dev->ch[0].pStat.readyCorridor, 1.75f);
}

TEST(SetReadiness, WindowsStayInsideTheStatisticsRing) {
  struct Case {
    int tRdy;
    int averaging;
    int refWindow, chWindow;
    uint32_t holdMs;
  } cases[] = {
      {0, 0, 1, 1, 0},  // a window of no samples would divide by zero
      {500, 300, 200, 200, 500000},
      {-3, -1, 1, 1, 0},  // a negative hold time is no hold time
      {2000000000, 5, 200, 5, UINT32_MAX},
  };
  for (const Case& c : cases) {
    auto dev = devWith({{true, 0, 600}});
    dev->povSpan = 600;
    dev->povHeader.tRdy = c.tRdy;
    dev->settings.averaging = c.averaging;
    setReadiness(*dev);
    EXPECT_EQ(dev->refStat.window, c.refWindow) << c.tRdy;
    EXPECT_EQ(dev->ch[0].pStat.window, c.chWindow) << c.averaging;
    EXPECT_EQ(dev->refStat.holdMs, c.holdMs) << c.tRdy;
  }
}

}  // namespace

namespace {

TEST(PointListRange, ValuesAndPercentagesFollowTheRange) {
  PointListRange r;
  EXPECT_EQ(r.valueOf(50), 300.0f);  // start-up range 0..600
  r.set(0, 1000);
  EXPECT_FLOAT_EQ(r.percentOf(500), 50.0f);
  r.set(100, 1100);
  EXPECT_FLOAT_EQ(r.percentOf(600), 50.0f);
  EXPECT_FLOAT_EQ(r.valueOf(25), 350.0f);
  r.set(5, 5);  // equal ends: 0..600, the previous span stays
  EXPECT_EQ(r.min(), 0.0f);
  EXPECT_EQ(r.max(), 600.0f);
  EXPECT_EQ(r.span(), 1000.0f);
  EXPECT_EQ(pointValueText(1e30f), "");
}

// A device whose range runs downwards (600 .. 0 kPa): the run sets its Max at 100 %, so the list
// must show 0 there, not 1200, and a value typed in the list maps back onto the same percentage.
TEST(PointListRange, ARangeRunningDownwardsShowsWhatTheRunSets) {
  PointListRange r;
  r.set(600, 0);
  EXPECT_EQ(r.span(), -600.0f);
  struct Case {
    float percent;
    const char* shown;
  } cases[] = {{0, "600"}, {25, "450"}, {100, "0"}, {120, "-120"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.percent);
    EXPECT_EQ(pointValueText(r.valueOf(c.percent)), c.shown);
    EXPECT_FLOAT_EQ(r.percentOf(r.valueOf(c.percent)), c.percent);
  }
  // The same target the verification run computes from povLo and povSpan.
  auto dev = devWith({{true, 600, 0, 0.5f}});
  ASSERT_EQ(checkRanges(*dev), kRangeOk);
  r.set(dev->povLo, dev->povLo + dev->povSpan);
  EXPECT_EQ(r.valueOf(75), 75 / 100.0f * dev->povSpan + dev->povLo);
  // Equal ends after it keep the downward span.
  r.set(3, 3);
  EXPECT_EQ(r.span(), -600.0f);
}

TEST(PointListRange, RowsAndCellEdits) {
  PointListRange r;
  r.set(100, 1100);
  PointDef p{true, 50, 0};
  const PointRowTexts shown = pointRowTexts(p, r);
  EXPECT_EQ(shown.on, "v");
  EXPECT_EQ(shown.percent, "50");
  EXPECT_EQ(shown.value, "600");
  EXPECT_EQ(shown.time, "0");
  // A point that is off shows its toggle and nothing else, whatever it holds.
  const PointRowTexts off = pointRowTexts(PointDef{false, 50, 3}, r);
  EXPECT_EQ(off.on, " ");
  EXPECT_EQ(off.percent + off.value + off.time, "");

  struct Case {
    int column;
    const char* text;
    bool exist;
    float percent;
    float time;
    bool refused = false;
  } cases[] = {
      {kPointValue, "600", true, 50, 0},  // 600 in 100..1100 is 50 %
      {kPointValue, "1100", true, 100, 0},
      {kPointValue, "100", true, 0, 0},
      {kPointPercent, "12,5", true, 12.5f, 0},    // the comma counts as the point
      {kPointPercent, "1.5x3", true, 0, 0},       // a letter makes the cell 0
      {kPointPercent, "1.5e1", true, 15, 0},      // the exponent form the grid shows reads back
      {kPointPercent, "150", true, 50, 0, true},  // outside 0..100: refused, the point stays
      {kPointPercent, "-0.5", true, 50, 0, true},
      {kPointValue, "1200", true, 50, 0, true},  // 110 % of 100..1100
      {kPointTime, "7", true, 50, 7},            // the hidden column keeps its own number
      {kPointOn, " ", false, 50, 0},             // switched off keeps the percentage
      {kPointOn, "v", true, 50, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PointDef q{true, 50, 0};
    const std::string refusal = applyPointEdit(q, c.column, c.text, r);
    EXPECT_EQ(!refusal.empty(), c.refused) << refusal;
    EXPECT_EQ(q.exist, c.exist);
    EXPECT_FLOAT_EQ(q.valuePrc, c.percent);
    EXPECT_FLOAT_EQ(q.timeSec, c.time);
  }
  // A value far outside a tiny span would give an infinite percentage.
  PointListRange tiny;
  tiny.set(0, 1e-30f);
  PointDef q{true, 50, 0};
  EXPECT_NE(applyPointEdit(q, kPointValue, "1e38", tiny), "");
  EXPECT_FLOAT_EQ(q.valuePrc, 50);
  applyPointEdit(q, kPointValue, "99999999999999999999999999999999999999", tiny);
  EXPECT_TRUE(std::isfinite(q.valuePrc));
  EXPECT_EQ(applyPointEdit(q, kPointPercent, "150", r),
            "Точка 150 % вне диапазона датчика (0…100 %): не принята.");
}

TEST(DeviceGrid, NumberCells) {
  struct Case {
    const char* text;
    float value;
  } cases[] = {{"1.6", 1.6f}, {"1,6", 1.6f}, {"-0.5", -0.5f},        {"", 0},
               {"1,6,", 0},   {"12a", 0},    {"1e3", 1000},          {" 5", 0},
               {"600", 600},  {"--1", 0},    {"1.0197e+05", 101970}, {"5e-05", 5e-05f}};
  for (const Case& c : cases) EXPECT_FLOAT_EQ(parseGridNumber(c.text), c.value) << c.text;
  EXPECT_EQ(gridNumberText(1.6f), "1.6");
  // Shown so that they read back unchanged.
  EXPECT_EQ(gridNumberText(98.06652f), "98.06652");
  EXPECT_EQ(dampingText(0.25f), "0.25");
}

}  // namespace
