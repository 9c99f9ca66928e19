// The run's calculations without a device: setpoints of the points, the uncertainty, the range
// check, the stability bands, the setpoint text, the result record and the run's acceptance test.
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "CalibratorCatalogue.h"
#include "ParamsCheck.h"
#include "ReferenceLimit.h"
#include "Suitability.h"
#include "calibrator/calibrator.h"
#include "calibrator/verification.h"
#include "limit_cases.h"
#include "quarn/cp1251.h"
#include "test_paths.h"
#include "virtual_clock.h"

namespace {

using quarn::test::field;
using quarn::test::QuarnTest;

class VerificationCalc : public QuarnTest {
 protected:
  void SetUp() override {
    QuarnTest::SetUp();
    isQuarn = 1;
    isBrenk = 0;
    Dev.onUpdate = &QuarnTest::countUpdates;
  }
  void TearDown() override {
    isQuarn = isBrenk = 0;
    QuarnTest::TearDown();
  }
  static void channel(int c, float lo, float hi, float elMin = 4, float elMax = 20) {
    TDevChannel& d = Dev.devCh[c];
    d.enabled = 1;
    d.Min = lo;
    d.Max = hi;
    d.MinKpa = lo;
    d.MaxKpa = hi;
    d.toKpaMul = 1;
    d.el_Min = elMin;
    d.el_Max = elMax;
    d.errOk = 0.25f;
  }
};

TEST_F(VerificationCalc, SetStepMakesThePointTheTargetOfEveryCorridor) {
  channel(0, 0, 1000);
  channel(2, 0, 1000);
  Dev.povLo = 0;
  Dev.povSpan = 1000;
  const float prc[] = {0, 50, 100};
  for (int k = 0; k < 3; ++k) Dev.points[k].prc = prc[k];
  const float expected[] = {0, 500, 1000};
  for (int k = 0; k < 3; ++k) {
    Dev.ch[0].pStat.count = 4;
    Dev.ch[0].pStat.stable = 1;
    Dev.refStat.count = 3;
    SetStep(k);
    EXPECT_FLOAT_EQ(field(Dev.pTarget), expected[k]);
    EXPECT_FLOAT_EQ(field(Dev.refStat.target), expected[k]);
    EXPECT_FLOAT_EQ(field(Dev.ch[0].pStat.target), expected[k]);
    EXPECT_FLOAT_EQ(field(Dev.ch[2].pStat.target), expected[k]);
    EXPECT_FLOAT_EQ(field(Dev.ch[1].pStat.target), 0.0f) << "a channel that is off keeps its target";
    EXPECT_EQ(field(Dev.ch[0].pStat.count), 0) << "statistics start again";
    EXPECT_EQ(field(Dev.ch[0].pStat.stable), 0);
    EXPECT_EQ(field(Dev.ch[0].pStat.holdLeftS), -2);
    EXPECT_EQ(field(Dev.refStat.count), 0);
  }
  // An index outside the point table changes nothing.
  SetStep(-1);
  SetStep(POV_POINTS_MAX);
  EXPECT_FLOAT_EQ(field(Dev.pTarget), 1000.0f);
}

TEST_F(VerificationCalc, BrenkPointHoldTimeAddsToTheChannelsHoldFromItsBase) {
  isQuarn = 0;
  isBrenk = 1;
  channel(1, 0, 600);
  Dev.povSpan = 600;
  Dev.points[0] = {50, 1.5f};
  Dev.ch[1].pStat.holdMs = 2000;
  Dev.ch[0].pStat.holdMs = 2000;
  SetStep(0);
  EXPECT_EQ(field(Dev.ch[1].pStat.holdMs), 3500u);
  EXPECT_EQ(field(Dev.ch[0].pStat.holdMs), 2000u) << "channel 1 is off";
  EXPECT_FLOAT_EQ(field(Dev.pTarget), 300.0f);

  // Every point adds its own hold time to the same base, never to the previous point's sum; a hold
  // time the host sets anew between points becomes the base.
  Dev.points[1] = {60, 0.5f};
  Dev.points[2] = {70, 1.5f};
  Dev.points[3] = {80, 0};
  SetStep(1);
  EXPECT_EQ(field(Dev.ch[1].pStat.holdMs), 2500u);
  SetStep(2);
  EXPECT_EQ(field(Dev.ch[1].pStat.holdMs), 3500u);
  SetStep(3);
  EXPECT_EQ(field(Dev.ch[1].pStat.holdMs), 2000u);
  Dev.ch[1].pStat.holdMs = 5000;
  SetStep(2);
  EXPECT_EQ(field(Dev.ch[1].pStat.holdMs), 6500u);
  SetStep(3);
  EXPECT_EQ(field(Dev.ch[1].pStat.holdMs), 5000u);
}

TEST_F(VerificationCalc, UncertaintyFromReferenceAndChannel) {
  channel(0, 0, 1000);  // 4..20 mA
  Dev.povSpan = 1000;
  TStatValue ref{};
  TStatValue ch{};
  ch.sd = 0.01f;
  ref.sd = 0.02f;
  // Worked by hand for R 1000 kPa, Pm 101 kPa (min 100.8), model 0:
  //   reference: D = 0.0001 x 1000 = 0.1; spread term 0.2 / 3.4641016 = 0.057735;
  //              u_ref^2 = (0.1 / 3)^2 + 0.02^2 + 0.057735^2 = 0.0011111 + 0.0004 + 0.0033333 = 0.0048444
  //   channel:   d = (0.0001 x 20 + 1) x 0.001 / (16 x 3 / 1000) = 0.001002 / 0.048 = 0.020875;
  //              d^2 + 0.01^2 = 0.00043577 + 0.0001 = 0.00053577
  //   result:    sqrt(0.0048444 + 0.00053577) = 0.073350
  // The other rows change only D: 0.2 (0.0002 R), 0.225 (0.00025 Pm), 0.45 (0.0005 Pm).
  struct Case {
    float refUpper;
    float pm;  // refStat.max (min is 0.2 below)
    int32_t model;
    double expected;
  };
  const Case cases[] = {
      {0, 101, 0, 0.023147},     // no reference limit: sqrt(0.00053577), the channel part alone
      {1000, 101, 0, 0.073350},  // |Pm / R| <= 0.4: D = 0.0001 R
      {1000, 101, 1, 0.073350},  // the same for model 1
      {1000, 101, 2, 0.093346},  // D = 0.0002 R for the others
      {1000, 900, 0, 0.073353},  // upper part, model 0: still 0.0001 R
      {1000, 900, 1, 0.099471},  // D = 0.00025 Pm = 0.225
      {1000, 900, 2, 0.163614},  // D = 0.0005 Pm = 0.45
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "R " << c.refUpper << " Pm " << c.pm << " model " << c.model);
    Dev.refUpper = c.refUpper;
    ref.max = c.pm;
    ref.min = c.pm - 0.2f;
    EXPECT_NEAR(Calc_U_DD(&ch, &ref, c.model, 0), c.expected, 1e-5);
  }
  // No reference limit and no signal span: nothing at all. The helper of the statistics agrees.
  Dev.refUpper = 0;
  Dev.devCh[0].el_Min = Dev.devCh[0].el_Max = 20;
  EXPECT_EQ(Calc_U_DD(&ch, &ref, 0, 0), 0.0);
  EXPECT_EQ(Calc_U(0), 0.0);
  EXPECT_TRUE(std::isnan(Calc_U_DD(nullptr, &ref, 0, 0)));
}

TEST_F(VerificationCalc, RangeCheckOfTheEnabledChannels) {
  Dev.calInfo.pLimitMin = -100;
  Dev.calInfo.pLimitMax = 2500;
  struct Case {
    const char* what;
    float lo2, hi2;  // channel 2's range (channel 0 is 0..1000); NaN lo2: channel 2 off
    bool channel0;
    int32_t result;
    uint32_t errCode;
    const char* text;
  };
  const Case cases[] = {
      {"no channel", NAN, 0, false, -1, 12, "Нет подключенных\tустройств"},
      {"within 5 %", 0, 1049, true, 0, 0, nullptr},
      {"beyond 5 %", 0, 1051, true, -3, 13, "Диапазоны приборов не совпадают!"},
      {"below by more than 5 %", -51, 1000, true, -3, 13, "Диапазоны приборов не совпадают!"},
      {"beyond the calibrator", 0, 2600, true, -2, 14, "Диапазон\tприбора\tпревышает диапазон Brenk!"},
      {"first channel only, empty range", 5, 5, false, -4, 15, "Диапазоны приборов не определены"},
      {"not a number", 0, NAN, false, -4, 15, "Диапазоны приборов не определены"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(Dev.devCh, 0, sizeof Dev.devCh);
    Dev.povLo = -7;
    Dev.povSpan = -7;
    Dev.errCode = 0;
    Dev.errText = nullptr;
    updates = 0;
    if (c.channel0) channel(0, 0, 1000);
    if (!std::isnan(c.lo2)) channel(2, c.lo2, c.hi2);
    EXPECT_EQ(DiapIsBad(&Dev.povMode), c.result);
    EXPECT_EQ(field(Dev.errCode), c.errCode);
    if (c.text) {
      ASSERT_NE(field(Dev.errText), nullptr);
      EXPECT_EQ(quarn::text::cp1251ToUtf8(Dev.errText), c.text);
      EXPECT_EQ(updates, 1) << "a failure is reported to the host";
      EXPECT_FLOAT_EQ(field(Dev.povSpan), -7.0f) << "the stored range stays";
    } else {
      EXPECT_EQ(updates, 0);
      EXPECT_FLOAT_EQ(field(Dev.povLo), 0.0f);
      EXPECT_FLOAT_EQ(field(Dev.povSpan), 1000.0f);
    }
    EXPECT_EQ(field(Dev.event), 0u);
  }
}

// Ranges that run downwards (Min above Max): checked against the calibrator by their lower and upper
// ends; the run's range keeps the direction, so its points stay inside.
TEST_F(VerificationCalc, RangeCheckOfRangesRunningDownwards) {
  Dev.calInfo.pLimitMin = -100;
  Dev.calInfo.pLimitMax = 2500;
  struct Case {
    const char* what;
    float lo0, hi0;
    float lo2, hi2;  // NaN lo2: channel 2 off
    int32_t result;
  };
  const Case cases[] = {
      {"reverse-acting", 600, 0, 610, 0, 0},
      {"vacuum", 0, -90, NAN, 0, 0},
      {"upper end beyond the calibrator", 3000, 0, NAN, 0, -2},
      {"lower end below the calibrator", 0, -150, NAN, 0, -2},
      {"the other direction does not match", 600, 0, 0, 600, -3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(Dev.devCh, 0, sizeof Dev.devCh);
    Dev.povLo = -7;
    Dev.povSpan = -7;
    channel(0, c.lo0, c.hi0);
    if (!std::isnan(c.lo2)) channel(2, c.lo2, c.hi2);
    EXPECT_EQ(DiapIsBad(&Dev.povMode), c.result);
    if (c.result == 0) {
      EXPECT_FLOAT_EQ(field(Dev.povLo), c.lo0);
      EXPECT_FLOAT_EQ(field(Dev.povLo) + field(Dev.povSpan), c.hi0) << "100 % is the device's Max";
    } else {
      EXPECT_FLOAT_EQ(field(Dev.povSpan), -7.0f);
    }
  }
}

// The library's range check and the host's (the parameters screen's, quarn-cli's) pass the same
// ranges and give the run the same range: the host checks before it starts task 21, the library
// again at its start and inside the HART check sequence, where no host check runs.
TEST_F(VerificationCalc, TheLibrarysRangeCheckPassesWhatTheHostsPasses) {
  Dev.calInfo.pLimitMin = -95;
  Dev.calInfo.pLimitMax = 2500;
  Dev.linked = 1;
  const float nan = NAN;
  const float inf = INFINITY;
  struct Range {
    float lo, hi;
  };
  const struct Case {
    const char* what;
    std::vector<std::pair<int, Range>> channels;  // enabled channels with their kPa ranges
    bool passes;
  } cases[] = {
      {"no channel", {}, false},
      {"one channel", {{0, {0, 1000}}}, true},
      {"the same range", {{0, {0, 1000}}, {3, {0, 1000}}}, true},
      {"5 % wider", {{0, {0, 1000}}, {2, {0, 1049}}}, true},
      {"beyond 5 % wider", {{0, {0, 1000}}, {2, {0, 1051}}}, false},
      {"5 % narrower", {{0, {0, 1000}}, {2, {0, 951}}}, true},
      // The run's points go up to 1000 kPa: twice the upper limit of a 0..500 device.
      {"half the range", {{0, {0, 1000}}, {1, {0, 500}}}, false},
      {"beyond 5 % narrower", {{0, {0, 1000}}, {2, {0, 949}}}, false},
      {"starting 5 % higher", {{0, {0, 1000}}, {1, {50, 1000}}}, true},
      {"starting beyond 5 % higher", {{0, {0, 1000}}, {1, {51, 1000}}}, false},
      {"starting beyond 5 % lower", {{0, {0, 1000}}, {1, {-51, 1000}}}, false},
      {"a later first channel", {{2, {0, 600}}, {3, {0, 610}}}, true},
      {"downwards, both", {{0, {600, 0}}, {1, {610, 0}}}, true},
      {"downwards against upwards", {{0, {600, 0}}, {1, {0, 600}}}, false},
      {"vacuum", {{0, {0, -90}}}, true},
      {"below the calibrator", {{0, {0, -100}}}, false},
      {"beyond the calibrator", {{0, {0, 2600}}}, false},
      {"empty", {{0, {5, 5}}}, false},
      {"not a number, first channel", {{0, {0, nan}}}, false},
      // NaN passes every comparison: a later channel with no range got into the run.
      {"not a number, later channel", {{0, {0, 1000}}, {1, {nan, 1000}}}, false},
      {"not a number, later upper limit", {{0, {0, 1000}}, {1, {0, nan}}}, false},
      {"infinite", {{0, {0, 1000}}, {1, {0, inf}}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(Dev.devCh, 0, sizeof Dev.devCh);
    Dev.devCh[1].MinKpa = nan;  // what a channel that is off holds does not count
    for (const auto& [ch, r] : c.channels) channel(ch, r.lo, r.hi);
    auto host = std::make_unique<TDev>(Dev);
    Dev.povLo = host->povLo = -7;
    Dev.povSpan = host->povSpan = -7;
    const bool libraryPasses = DiapIsBad(&Dev.povMode) == 0;
    const bool hostPasses = quarn::data::checkRanges(*host) == quarn::data::kRangeOk;
    EXPECT_EQ(libraryPasses, c.passes);
    EXPECT_EQ(hostPasses, c.passes);
    EXPECT_FLOAT_EQ(field(Dev.povLo), host->povLo);
    EXPECT_FLOAT_EQ(field(Dev.povSpan), host->povSpan);
  }
}

TEST_F(VerificationCalc, StabilityBandsFromTheChannelSpans) {
  Dev.povHeader.dRdy = 0.1f;
  Dev.settings.readyBand1 = 0.05f;
  Dev.calInfo.span = 2595;
  update_maxDeviation();
  EXPECT_FLOAT_EQ(field(Dev.refStat.stableBand), 2595 * 0.05f / 100) << "no channel: the calibrator's span";
  channel(0, 0, 1000);
  channel(2, 0, 400);
  update_maxDeviation();
  EXPECT_FLOAT_EQ(field(Dev.ch[0].pStat.stableBand), 1.0f);
  EXPECT_FLOAT_EQ(field(Dev.ch[2].pStat.stableBand), 0.4f);
  EXPECT_FLOAT_EQ(field(Dev.ch[1].pStat.stableBand), 0.0f);
  EXPECT_FLOAT_EQ(field(Dev.refStat.stableBand), 400 * 0.05f / 100) << "the highest enabled channel";
}

TEST_F(VerificationCalc, SetpointText) {
  struct Case {
    float pTarget, factor;
    int32_t decimals;
    const char* text;
  };
  const Case cases[] = {
      {150, 1, 3, "150.000"}, {150, 0.001f, 4, "0.1500"},
      {-1e31f, 1, 2, "\t"},   {2e30f, 1, 2, "- - - -"},  // too long for the field: never cut to wrong digits
      {12.5f, 1, 0, "12"},    {1, 1, 99, "1.000000000"},
  };
  for (const Case& c : cases) {
    Dev.pTarget = c.pTarget;
    Dev.settings.unitFactor = c.factor;
    Dev.settings.decimals = c.decimals;
    update_str_Ptgt_xx();
    EXPECT_STREQ(Dev.pTargetText, c.text) << c.pTarget;
  }
}

TEST_F(VerificationCalc, ResultRecordOfAllEnabledChannels) {
  channel(0, 0, 1000);         // 4..20 mA
  channel(1, 0, 1000, 20, 4);  // 20..4 mA
  channel(3, 0, 1000);
  Dev.devCh[3].MaxKpa = 0;  // no kPa span: this and later channels get no derived values
  Dev.povSpan = 1000;
  Dev.pRef = 250;
  for (int c = 0; c < 4; ++c) {
    Dev.ch[c].current = 8.0f + c;
    Dev.ch[c].pFromI = 251;
    Dev.ch[c].pFromIKPa = 251;
    Dev.ch[c].reducedError = 0.1f;
  }
  AddCurentToResult(5);
  const TPovResult& r = Dev.results[5];
  EXPECT_EQ(field(r.valid), 1u);
  EXPECT_FLOAT_EQ(field(r.pRef), 250.0f);
  EXPECT_FLOAT_EQ(field(r.ch[0].iExpected), 8.0f);
  EXPECT_FLOAT_EQ(field(r.ch[1].iExpected), 16.0f);
  EXPECT_FLOAT_EQ(field(r.ch[1].current), 9.0f);
  EXPECT_GT(field(r.ch[0].uncertainty), 0.0f);
  EXPECT_FLOAT_EQ(field(r.ch[2].current), 0.0f) << "channel 2 is off";
  EXPECT_FLOAT_EQ(field(r.ch[3].current), 11.0f);
  EXPECT_FLOAT_EQ(field(r.ch[3].iExpected), 0.0f);
  EXPECT_FLOAT_EQ(field(r.ch[3].uncertainty), 0.0f);

  // The record table has 200 entries; an index beyond it writes nothing.
  TPovResult before[POV_POINTS_MAX];
  std::memcpy(before, Dev.results, sizeof before);
  AddCurentToResult(POV_POINTS_MAX);
  AddCurentToResult(-1);
  EXPECT_EQ(std::memcmp(before, Dev.results, sizeof before), 0);
}

// The acceptance test of the run: reference settled and unmoved, every enabled channel steady, in
// hard mode within errOk x vrCoeff, and on the Quarn the input valve open unless the external
// transducer is the reference.
TEST_F(VerificationCalc, IsAllOkNeedsSettledValuesTheHardModeLimitAndAnOpenQuarnInput) {
  channel(0, 0, 1000);
  channel(1, 0, 1000);
  Dev.povHeader.vrCoeff = 0.7f;  // with errOk 0.25: limit 0.175 %
  struct Case {
    const char* what;
    uint8_t inCorridor, changed, stable1;
    int32_t hardMode;
    float error1;
    uint32_t model;  // 1 Quarn, 0 Brenk
    uint32_t inputOn;
    int32_t refSource;
    int32_t ok;
  };
  const Case cases[] = {
      {"all settled", 1, 0, 1, 0, 0.5f, 1, 1, 0, 1},
      {"reference outside", 0, 0, 1, 0, 0, 1, 1, 0, 0},
      {"reference has moved", 1, 1, 1, 0, 0, 1, 1, 0, 0},
      {"a channel not steady", 1, 0, 0, 0, 0, 1, 1, 0, 0},
      {"hard mode, 0.18 %", 1, 0, 1, 1, 0.18f, 1, 1, 0, 0},
      {"hard mode, 0.17 %", 1, 0, 1, 1, 0.17f, 1, 1, 0, 1},
      {"hard mode, -0.17 %", 1, 0, 1, 1, -0.17f, 1, 1, 0, 1},
      {"hard mode, no value", 1, 0, 1, 1, NAN, 1, 1, 0, 0},
      {"Quarn, input closed", 1, 0, 1, 0, 0, 1, 0, 0, 0},
      {"Quarn, input closed, manual reference", 1, 0, 1, 0, 0, 1, 0, 4, 0},
      {"Quarn, input closed, external reference", 1, 0, 1, 0, 0, 1, 0, 3, 1},
      {"Brenk, input closed", 1, 0, 1, 0, 0, 0, 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    isQuarn = c.model == 1;
    isBrenk = c.model == 0;
    Dev.refStat.inCorridor = c.inCorridor;
    Dev.refStat.corridorChanged = c.changed;
    Dev.refStat.value = 500;
    Dev.refStat.min = 400;
    Dev.refStat.max = 600;
    for (int ch = 0; ch < 2; ++ch) {
      Dev.ch[ch].pStat.count = 5;
      Dev.ch[ch].pStat.stable = 1;
      Dev.ch[ch].reducedError = 0.01f;
    }
    Dev.ch[1].pStat.stable = c.stable1;
    Dev.ch[1].reducedError = c.error1;
    Dev.ch[3].reducedError = 9;  // off: never looked at
    Dev.povHeader.hardMode = c.hardMode;
    Dev.inputOn = c.inputOn;
    Dev.settings.refSource = c.refSource;
    EXPECT_EQ(IsAllOk(), c.ok);
    if (!c.inCorridor || c.changed) {
      // The channels start their hold again and the reference's extremes restart from its value.
      EXPECT_EQ(field(Dev.refStat.corridorChanged), 0);
      EXPECT_EQ(field(Dev.ch[0].pStat.count), 0);
      EXPECT_EQ(field(Dev.ch[0].pStat.stable), 0);
      EXPECT_EQ(field(Dev.ch[0].pStat.holdLeftS), -2);
      EXPECT_FLOAT_EQ(field(Dev.refStat.min), 500.0f);
      EXPECT_FLOAT_EQ(field(Dev.refStat.max), 500.0f);
    } else {
      EXPECT_EQ(field(Dev.ch[0].pStat.count), 5);
    }
  }
}

// A calibrator model missing from the catalogue: the uncertainty takes the calibrator's reported
// working range and is never smaller than with the model's module in the catalogue (the module's
// range lies within the calibrator's); with nothing known it is missing, never the channel part alone.
TEST_F(VerificationCalc, AModelMissingFromTheCatalogueNeverMakesTheUncertaintySmaller) {
  const quarn::data::Result<quarn::data::TModelRec> model = quarn::data::readModelCatalogue(
      quarn::test::path("QUARN_CATALOGUE_DIR") + "/Models_Quarn.xml", "QC-2500");
  ASSERT_TRUE(model.ok()) << model.why();
  channel(0, 0, 600);
  Dev.povSpan = 600;
  TStatValue ch{};
  ch.sd = 0.004f;
  TStatValue ref{};
  ref.sd = 0.003f;
  const struct Case {
    uint32_t sensorState;  // 1: module 2
    int32_t pressType;     // 0 absolute, 1 gauge
    float reported;        // the calibrator's upper working limit for that pressure type
    float pm;
  } cases[] = {
      {1, 1, 2500, 0.5f}, {1, 1, 2500, 150}, {0, 1, 2500, 300},  {0, 1, 2500, 600},
      {1, 0, 2600, 101},  {0, 0, 2600, 600}, {0, 1, 2500, 2400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "module " << c.sensorState + 1 << " pressType " << c.pressType
                                    << " Pm " << c.pm);
    Dev.sensorState = c.sensorState;
    Dev.settings.pressType = c.pressType;
    Dev.settings.refSource = 0;
    Dev.calInfo.pLimitMin = -95;
    Dev.calInfo.pLimitMax = c.reported;
    ref.max = c.pm;
    ref.min = c.pm - 0.05f;
    Dev.refUpper = quarn::data::referenceUpperLimit(Dev, &*model, "").kPa;
    const double withModel = Calc_U_DD(&ch, &ref, 0, 0);
    Dev.refUpper = quarn::data::referenceUpperLimit(Dev, nullptr, "в каталоге нет модели").kPa;
    EXPECT_FLOAT_EQ(Dev.refUpper, c.reported);
    const double withoutModel = Calc_U_DD(&ch, &ref, 0, 0);
    EXPECT_GE(withoutModel, withModel);
  }
  // Nothing known: the uncertainty is missing rather than the channel part alone.
  Dev.calInfo.pLimitMin = Dev.calInfo.pLimitMax = 0;
  Dev.refUpper = quarn::data::referenceUpperLimit(Dev, nullptr, "в каталоге нет модели").kPa;
  EXPECT_TRUE(std::isnan(Calc_U_DD(&ch, &ref, 0, 0)));
}

// Hard mode holds a point exactly where the hosts' verdict fails a device: at the limit and one step
// either side of it, for products that single precision rounds up and down.
TEST_F(VerificationCalc, HardModeHoldsAPointWhereTheVerdictFailsTheDevice) {
  channel(0, 0, 1000);
  Dev.refStat.inCorridor = 1;
  Dev.refStat.corridorChanged = 0;
  Dev.ch[0].pStat.stable = 1;
  Dev.povHeader.hardMode = 1;
  Dev.inputOn = 1;
  isQuarn = true;
  isBrenk = false;
  const std::vector<limitcases::Case> cases = limitcases::atTheLimit();
  ASSERT_GT(limitcases::judgedOtherwiseInDouble(cases), 0);
  for (const limitcases::Case& c : cases) {
    SCOPED_TRACE(c.what);
    Dev.devCh[0].errOk = c.errOk;
    Dev.povHeader.vrCoeff = c.vrCoeff;
    Dev.ch[0].reducedError = c.error;
    EXPECT_EQ(IsAllOk(), c.within ? 1 : 0);
    EXPECT_EQ(quarn::data::withinLimit(c.error, c.errOk, c.vrCoeff), c.within);
  }
}

TEST_F(VerificationCalc, ReadinessOverTheTrimFlags) {
  channel(0, 0, 1000);  // enabled but not trimmed: not looked at
  Dev.refStat.inCorridor = 1;
  Dev.trimOn[2] = 1;
  Dev.ch[2].pStat.stable = 0;
  Dev.povHeader.hardMode = 1;
  Dev.ch[2].reducedError = 5;
  EXPECT_EQ(IsAllReady(), 0);
  Dev.ch[2].pStat.stable = 1;
  EXPECT_EQ(IsAllReady(), 1) << "no error test, no input-valve test";
}

}  // namespace
