// The verification run against the simulated bench in virtual time: recorded results, hard mode,
// a reference that leaves its corridor, and the Quarn's input valve.
#include "core/TDevValues.h"
#include "verify_fixture.h"

namespace {

using quarn::test::field;
using quarn::test::VerifyTest;

constexpr uint32_t kRunLimitMs = 10 * 60 * 1000;

// Channel 1 4..20 mA, channel 2 20..4 mA with a transmitter 0.1 % off, channel 3 4..20 mA,
// channel 4 present on the bench but switched off in the project.
quarnsim::Scenario threeChannelBench() {
  quarnsim::Scenario s;
  s.channels[1].output = quarnsim::OutputType::mA20_4;
  s.channels[1].errorPercent = 0.1;
  return s;
}

TEST_F(VerifyTest, ThreePointsRecordThreeResultsAndEndWithCode14) {
  ASSERT_NO_FATAL_FAILURE(connect(threeChannelBench()));
  Dev.refUpper = 2500;
  quarn::data::Project p = project(3);
  p.channels[1].elTypeSignal = 1;  // 20..4 mA
  ASSERT_NO_FATAL_FAILURE(start(p, {0, 50, 100}));
  ASSERT_TRUE(run(finished, kRunLimitMs)) << diag();
  ASSERT_TRUE(runUntil([] { return Dev.task == TASK_MEASURE; }, 2000)) << "back to plain measuring";
  EXPECT_EQ(field(Dev.pointIdx), 3);

  const float targets[] = {0, 300, 600};
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    const TPovResult& r = Dev.results[k];
    const float pRef = r.pRef;
    EXPECT_EQ(field(r.valid), 1u);
    EXPECT_NEAR(pRef, targets[k], 0.3) << "recorded inside the reference corridor";
    for (int c = 0; c < 3; ++c) {
      SCOPED_TRACE(c);
      const TPovChResult& x = r.ch[c];
      const float elMin = c == 1 ? 20 : 4;
      const float elMax = c == 1 ? 4 : 20;
      EXPECT_NEAR(x.iExpected, elMin + (elMax - elMin) * pRef / 600, 1e-4);
      const float offset = c == 1 ? 0.1f : 0.0f;  // % of span
      EXPECT_NEAR(x.pFromIKPa, pRef + 6 * offset, 0.15);
      EXPECT_NEAR(x.reducedError, offset, 0.03);
      EXPECT_FLOAT_EQ(x.reducedError, (x.pFromIKPa - pRef) / 600 * 100);
      EXPECT_FLOAT_EQ(x.pFromI, x.pFromIKPa) << "device unit kPa";
      const float iFromP = elMin + (elMax - elMin) * x.pFromIKPa / 600;
      EXPECT_NEAR(x.current, iFromP, 1e-3);
      // Reference part of a 2500 kPa module (0.25 kPa base error) and the channel part.
      EXPECT_GT(x.uncertainty, 0.084f);
      EXPECT_LT(x.uncertainty, 0.2f);
    }
    for (float v : {r.ch[3].current, r.ch[3].iExpected, r.ch[3].reducedError, r.ch[3].uncertainty})
      EXPECT_EQ(v, 0.0f) << "a channel that is off keeps zeros";
  }
  EXPECT_EQ(field(Dev.results[3].valid), 0u);
  EXPECT_EQ(field(Dev.controlMode), 0u);
}

// Devices whose range runs downwards (Min above Max): a reverse-acting transmitter of 600 .. 0 kPa
// and a vacuum transmitter of 0 .. -90 kPa. The points run from Min to Max inside the range, the
// bands are positive, the run ends, and a perfect device shows no error.
class DownwardRange : public VerifyTest, public ::testing::WithParamInterface<std::pair<float, float>> {};

TEST_P(DownwardRange, IsVerifiedInsideItsRange) {
  const float range[2] = {GetParam().first, GetParam().second};
  quarnsim::Scenario s;
  s.channels[0].lowerRange = range[0];
  s.channels[0].upperRange = range[1];
  ASSERT_NO_FATAL_FAILURE(connect(s));
  quarn::data::Project p = project(1);
  p.channels[0].Min = range[0];
  p.channels[0].Max = range[1];
  ASSERT_NO_FATAL_FAILURE(start(p, {0, 50, 100}));
  std::vector<float> targets;
  ASSERT_TRUE(run(
      [&] {
        if (targets.empty() || targets.back() != Dev.pTarget) targets.push_back(Dev.pTarget);
        return finished();
      },
      kRunLimitMs))
      << diag();
  const float lower = std::min(range[0], range[1]);
  const float upper = std::max(range[0], range[1]);
  for (float t : targets) {
    EXPECT_GE(t, lower) << "no target outside the device";
    EXPECT_LE(t, upper) << "no target outside the device";
  }
  const float expected[] = {range[0], (range[0] + range[1]) / 2, range[1]};
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    const TPovResult& r = Dev.results[k];
    EXPECT_EQ(field(r.valid), 1u);
    EXPECT_NEAR(r.pRef, expected[k], 0.3);
    const TPovChResult& x = r.ch[0];
    EXPECT_NEAR(x.iExpected, 4 + 16 * (r.pRef - range[0]) / (range[1] - range[0]), 1e-3);
    EXPECT_NEAR(x.current, x.iExpected, 0.01);
    EXPECT_NEAR(x.reducedError, 0, 0.03);
  }
  EXPECT_GT(Dev.ch[0].pStat.stableBand, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Devices, DownwardRange,
                         ::testing::Values(std::make_pair(600.0f, 0.0f), std::make_pair(0.0f, -90.0f)));

TEST_F(VerifyTest, HardModeHoldsThePointUntilTheDeviceIsWithinItsLimit) {
  quarnsim::Scenario s;
  s.channels[0].errorPercent = 0.3;  // limit: 0.25 x 0.7 = 0.175 %
  ASSERT_NO_FATAL_FAILURE(connect(s));
  quarn::data::Project p = project(2);
  p.channels[0].errOk = 0.25f;
  p.channels[1].errOk = 0.25f;
  p.readiness.hardMode = true;
  ASSERT_NO_FATAL_FAILURE(start(p, {50}));
  ASSERT_FALSE(run(finished, 60000));
  EXPECT_EQ(field(Dev.results[0].valid), 0u);
  EXPECT_EQ(field(Dev.ch[0].pStat.stable), 1) << "steady, but outside its limit";

  bench->transmitter(0).config().errorPercent = 0.1;
  ASSERT_TRUE(run(finished, 60000));
  const float recorded = Dev.results[0].ch[0].reducedError;
  EXPECT_NEAR(recorded, 0.1, 0.03);
}

TEST_F(VerifyTest, ReferenceLeavingItsCorridorRestartsTheChannelsHold) {
  ASSERT_NO_FATAL_FAILURE(connect(quarnsim::Scenario()));
  quarn::data::Project p = project(1);
  p.readiness.holdTimeS = std::string("6");  // a move (GCC 12 -O3 -Wrestrict false alarm)
  ASSERT_NO_FATAL_FAILURE(start(p, {50}));
  // Wait until the channel is well into its hold, then the reference jumps out of its corridor.
  ASSERT_TRUE(
      run([] { return Dev.refStat.inCorridor && Dev.ch[0].pStat.holding && Dev.ch[0].pStat.holdLeftS <= 3; },
          120000));
  ASSERT_FALSE(finished());
  const uint32_t moved = clock.now();
  bench->setPressureKPa(300.0 + 2.0);
  bool restarted = false;
  ASSERT_TRUE(run(
      [&] {
        if (Dev.ch[0].pStat.holding == 0) restarted = true;
        return finished();
      },
      120000));
  EXPECT_TRUE(restarted);
  EXPECT_GE(clock.now() - moved, 6000u) << "the full hold time again after the disturbance";
  EXPECT_NEAR(field(Dev.results[0].pRef), 300.0f, 0.3f);
}

TEST_F(VerifyTest, QuarnRecordsNothingWhileItsInputValveIsClosed) {
  ASSERT_NO_FATAL_FAILURE(connect(quarnsim::Scenario()));
  bench->setPressureKPa(0);
  operatorFollows = false;  // nobody opens the input: the pressure stands at the target, valve closed
  ASSERT_NO_FATAL_FAILURE(start(project(2), {0}));
  ASSERT_FALSE(run(finished, 60000));
  EXPECT_EQ(field(Dev.inputOn), 0u);
  EXPECT_EQ(field(Dev.refStat.inCorridor), 1);
  EXPECT_EQ(field(Dev.ch[0].pStat.stable), 1);
  EXPECT_EQ(field(Dev.results[0].valid), 0u);

  bench->operatorSetsPressure(0);  // the operator opens the input
  ASSERT_TRUE(run(finished, 60000));
  EXPECT_EQ(field(Dev.results[0].valid), 1u);
}

TEST_F(VerifyTest, BrenkRegulatesToEveryPointByItself) {
  quarnsim::Scenario s;
  s.model = quarnsim::Model::Brenk;
  ASSERT_NO_FATAL_FAILURE(connect(s, 0));
  operatorFollows = false;
  ASSERT_NO_FATAL_FAILURE(start(project(1), {20, 80}));
  EXPECT_EQ(field(Dev.controlMode), 1u) << "regulate";
  ASSERT_TRUE(run(finished, kRunLimitMs));
  EXPECT_NEAR(field(Dev.results[0].pRef), 120.0f, 0.3f);
  EXPECT_NEAR(field(Dev.results[1].pRef), 480.0f, 0.3f);
  EXPECT_EQ(field(Dev.controlMode), 0u);
}

// A result is one measuring cycle's readings: a reference pressure, and the channels' currents
// converted against that same reference (so the recorded error is the recorded pressures' error).
void expectOneCycleRecord(const TPovResult& r, float target, int channels) {
  const float pRef = r.pRef;
  EXPECT_EQ(field(r.valid), 1u);
  ASSERT_TRUE(std::isfinite(pRef));
  EXPECT_NEAR(pRef, target, 0.3);
  for (int c = 0; c < channels; ++c) {
    SCOPED_TRACE(c);
    const TPovChResult& x = r.ch[c];
    ASSERT_TRUE(std::isfinite(x.current) && std::isfinite(x.pFromIKPa) && std::isfinite(x.reducedError));
    EXPECT_FLOAT_EQ(x.reducedError, (x.pFromIKPa - pRef) / 600 * 100) << "error against another reference";
    EXPECT_NEAR(x.reducedError, 0.0, 0.03);
  }
}

void addFault(quarnsim::Engine& bench, const char* text) {
  quarnsim::Fault f;
  ASSERT_EQ(quarnsim::parseFault(text, f), "");
  bench.addFault(f);
}

// The calibrator answers some measuring requests with an error: pRef is NaN for that cycle while the
// statistics, fed only by good answers, still show the point settled, and the channels' currents
// keep arriving. Such a cycle never becomes a result; the point waits for the next whole cycle.
TEST_F(VerifyTest, ErrorAnswersToMeasuringRequestsNeverBecomeAResult) {
  // A few benches with their own random draws, so that readiness falls on an error answer often.
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    port.reset();
    bench.reset();
    quarnsim::Scenario s;
    s.seed = seed;
    ASSERT_NO_FATAL_FAILURE(connect(s));
    ASSERT_NO_FATAL_FAILURE(addFault(*bench, "calibrator error 5 cmd=1 prob=0.3"));
    const std::vector<float> points{0, 25, 50, 75, 100};
    operatorTarget = NAN;
    ASSERT_NO_FATAL_FAILURE(start(project(4), points));
    ASSERT_TRUE(run(finished, kRunLimitMs)) << diag();
    int missing = 0;
    for (const auto& n : notices()) missing += n.event == 2 && std::isnan(n.pRef);
    EXPECT_GT(missing, 10) << "the calibrator's error answers came during the run";
    for (size_t k = 0; k < points.size(); ++k) {
      SCOPED_TRACE(k);
      expectOneCycleRecord(Dev.results[k], points[k] * 6, 4);
    }
  }
}

// The point is settled but held back by the Quarn's closed input valve. The valve opens in a cycle
// whose current reading fails: the channels still hold the last cycle's values, computed against the
// last cycle's reference. The result waits for a cycle that has read the currents again.
TEST_F(VerifyTest, AFailedCurrentReadingNeverBecomesAResult) {
  ASSERT_NO_FATAL_FAILURE(connect(quarnsim::Scenario()));
  bench->setPressureKPa(300);
  operatorFollows = false;
  ASSERT_NO_FATAL_FAILURE(start(project(4), {50}));
  const auto settled = [] {
    for (const TMeasCh& m : Dev.ch)
      if (!m.pStat.stable) return false;
    return Dev.refStat.inCorridor && !Dev.refStat.corridorChanged;
  };
  ASSERT_TRUE(run(settled, 60000)) << diag();
  ASSERT_FALSE(run(finished, 3000)) << "held back by the closed input valve";

  // Three attempts per reading: the first two readings after this fail, whichever cycle first shows
  // the open valve.
  ASSERT_NO_FATAL_FAILURE(addFault(*bench, "kesto error 5 cmd=42 count=6"));
  const size_t from = notices().size();
  bench->operatorSetsPressure(300);
  ASSERT_TRUE(run(finished, 60000)) << diag();
  bool failedReading = false;
  for (size_t i = from; i < notices().size(); ++i) failedReading |= notices()[i].kestoDataValid == 0;
  EXPECT_TRUE(failedReading) << "the current readings failed";
  expectOneCycleRecord(Dev.results[0], 300, 4);
}

TEST_F(VerifyTest, AnotherTaskAbandonsTheRun) {
  ASSERT_NO_FATAL_FAILURE(connect(quarnsim::Scenario()));
  ASSERT_NO_FATAL_FAILURE(start(project(1), {0, 100}));
  ASSERT_TRUE(run([] { return Dev.results[0].valid == 1; }, 120000));
  SetTask(TASK_MEASURE, nullptr);
  clock.runFor(60000);
  EXPECT_FALSE(finished());
  EXPECT_EQ(field(Dev.results[1].valid), 0u);
  EXPECT_EQ(field(Dev.task), static_cast<uint32_t>(TASK_MEASURE));
}

// The line goes while a run is measuring its second point and comes back later. The run stops with
// its own code and the lost-link error, keeps the point it recorded, and records nothing after the
// reconnect: the measuring cycle that resumes is plain measuring.
class LostLinkDuringARun : public VerifyTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(LostLinkDuringARun, StopsTheRunAndKeepsItsRecordedPoints) {
  const uint32_t model = GetParam();
  quarnsim::Scenario s;
  if (model == 0) s.model = quarnsim::Model::Brenk;
  ASSERT_NO_FATAL_FAILURE(connect(s, model));
  ASSERT_NO_FATAL_FAILURE(start(project(2), {0, 50, 100}));
  ASSERT_TRUE(run([] { return Dev.results[0].valid == 1; }, kRunLimitMs)) << diag();
  ASSERT_TRUE(run([] { return Dev.ch[0].pStat.count > 0; }, 60000)) << "measuring point 2";

  bench->setConnected(false);
  ASSERT_TRUE(run([] { return sawRetCode(RETCODE_RUN_LINK_LOST); }, 10000)) << diag();
  EXPECT_EQ(field(Dev.errCode), static_cast<uint32_t>(ERR_LINK_LOST));
  EXPECT_STREQ(Dev.errText, quarn_error_text(ERR_LINK_LOST));
  EXPECT_EQ(field(Dev.linked), 0u);
  clock.runFor(20000);

  bench->setConnected(true);
  ASSERT_TRUE(linkedAndMeasuring(30000)) << diag();
  ASSERT_TRUE(runCycles(3));
  EXPECT_FALSE(run(finished, 120000)) << "the run went on after the reconnect: " << diag();
  EXPECT_EQ(field(Dev.results[0].valid), 1u) << "the recorded point stays";
  EXPECT_NEAR(field(Dev.results[0].pRef), 0.0f, 0.3f);
  EXPECT_EQ(field(Dev.results[1].valid), 0u);
  EXPECT_EQ(field(Dev.results[2].valid), 0u);
  EXPECT_EQ(field(Dev.task), static_cast<uint32_t>(TASK_MEASURE));
}

INSTANTIATE_TEST_SUITE_P(BothModels, LostLinkDuringARun, ::testing::Values(1u, 0u),
                         [](const auto& info) { return info.param == 1 ? "Quarn" : "Brenk"; });

}  // namespace
