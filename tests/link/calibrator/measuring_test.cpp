// The measuring cycle with exact answer texts: both models' answers, error answers, missing
// fields, state words, the repeat budget, the Kesto reading and the cycle statistics.
#include "calibrator_fixture.h"
#include "scripted_bench.h"

namespace {

using quarn::test::CalibratorTest;
using quarn::test::ScriptedBench;

constexpr uint32_t kPort = 9;

class Measuring : public CalibratorTest {
 protected:
  void connect(ScriptedBench& bench, uint32_t model) {
    startConnect(model, kPort);
    ASSERT_TRUE(linkedAndMeasuring());
    bench.peer().clearRequests();
  }
};

TEST_F(Measuring, QuarnAnswersIntoTheRecord) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  struct Case {
    const char* answer;
    float pRef;  // NaN: missing
    const char *pRefText, *baroText, *speedText;
    uint32_t sensorState, ventOn, inputOn;
  };
  const Case cases[] = {
      {"1;0000C842;100.00;99.50;0.05;5;", 100, "100.00", "99.50", "0.05", 1, 0, 1},
      {"1;0000C842;100.00;99.50;0.05;2;", 100, "100.00", "99.50", "0.05", 2, 1, 0},
      // Only the pressure: texts missing; without a state word the module and valves keep the
      // states last reported (the row before: vent open).
      {"1;00004843;", 200, "- - - -", "- - - -", "- - - -", 2, 1, 0},
      // An error answer: values missing for this cycle; the state word still counts when it is there.
      {"1;$3;", NAN, "- - - -", "- - - -", "- - - -", 2, 1, 0},
      {"1;$6;x;x;x;x;4;", NAN, "- - - -", "- - - -", "- - - -", 2, 0, 1},
      // A field longer than the record's text is cut, never written past it.
      {"1;0000C842;123456789012345678901234567890;99.50;0.05;1;", 100, "1234567890123456789", "99.50", "0.05",
       1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    bench.set(1, 1, c.answer);
    ASSERT_TRUE(runCycles(1));
    if (std::isnan(c.pRef)) {
      EXPECT_TRUE(std::isnan(Dev.pRef));
      EXPECT_TRUE(std::isnan(Dev.pRefUnits));
    } else {
      EXPECT_FLOAT_EQ(Dev.pRef, c.pRef);
      EXPECT_FLOAT_EQ(Dev.pRefUnits, c.pRef);
      EXPECT_FLOAT_EQ(Dev.refStat.value, c.pRef);
    }
    EXPECT_STREQ(Dev.pRefText, c.pRefText);
    EXPECT_STREQ(Dev.baroText, c.baroText);
    EXPECT_STREQ(Dev.speedText, c.speedText);
    EXPECT_EQ(Dev.sensorState, c.sensorState);
    EXPECT_EQ(Dev.ventOn, c.ventOn);
    EXPECT_EQ(Dev.inputOn, c.inputOn);
    EXPECT_EQ(Dev.linked, 1u);
  }
}

TEST_F(Measuring, UnreadablePressureFieldKeepsThePreviousValue) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  const int samples = Dev.refStat.count;
  bench.set(1, 1, "1;zz;1.0;2.0;3.0;0;");
  ASSERT_TRUE(runCycles(1));
  EXPECT_FLOAT_EQ(Dev.pRef, 100);
  EXPECT_EQ(Dev.refStat.count, samples) << "no new sample";
  EXPECT_STREQ(Dev.pRefText, "1.0");
}

TEST_F(Measuring, DisplayUnitScalesTheReference) {
  ScriptedBench bench(kPort, true);
  bench.set(1, 16, "1;0;0;1;1;3;5;0000A040;");  // MPa
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  EXPECT_FLOAT_EQ(Dev.pRef, 100);
  EXPECT_FLOAT_EQ(Dev.pRefUnits, 0.1f);
}

TEST_F(Measuring, RepeatBudgetTakesThreeSilentCyclesAndIsRenewedByAnAnswer) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  // Two silent cycles, then answers: the link stays, and the budget is whole again.
  bench.silence(2);
  ASSERT_TRUE(runCycles(1));
  EXPECT_EQ(Dev.linked, 1u);
  EXPECT_EQ(cRepeat, 3);
  bench.silence(2);
  ASSERT_TRUE(runCycles(1));
  EXPECT_EQ(Dev.linked, 1u);
  // Three in a row: the link is lost.
  bench.silence(3);
  ASSERT_TRUE(runUntil([] { return Dev.linked == 0; }, 3000));
  EXPECT_TRUE(std::isnan(Dev.pRef));
}

TEST_F(Measuring, StrayAnswerAddressDoesNotRedirectTheNextRequests) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  // The answers to the Kesto module's file requests come back under another module's address; the
  // requests that follow them must still go to the Kesto module.
  bench.set(3, 40, "9;$0;");
  bench.set(3, 41, "9;$0;");
  ASSERT_TRUE(runCycles(2));
  const auto seeks = bench.peer().requestsOfType(41);
  const auto reads = bench.peer().requestsOfType(42);
  ASSERT_FALSE(seeks.empty());
  ASSERT_FALSE(reads.empty());
  for (const auto& q : seeks) EXPECT_EQ(q.addr, 3);
  for (const auto& q : reads) EXPECT_EQ(q.addr, 3);
  EXPECT_EQ(Dev.kestoDataValid, 1u);
}

TEST_F(Measuring, BrenkAnswersAndRepeats) {
  ScriptedBench bench(kPort, false);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 0));
  EXPECT_FLOAT_EQ(Dev.pRef, 100);
  EXPECT_STREQ(Dev.pRefText, "100.000");  // three decimals from the settings
  EXPECT_STREQ(Dev.baroText, "101.000");

  // An error answer is no measurement: values stay, and three of them in a row count as a lost link.
  bench.set(1, 1, "1;$11;");
  const int before = countEvents(2);
  ASSERT_TRUE(runUntil([] { return Dev.linked == 0; }, 5000));
  EXPECT_EQ(countEvents(2), before);

  // Missing barometer field: the reference still comes through.
  bench.set(1, 1, "1;00004843;");
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_FLOAT_EQ(Dev.pRef, 200);
  EXPECT_STREQ(Dev.baroText, "- - - -") << "a reconnection marks the texts missing until they are read";
}

TEST_F(Measuring, KestoCurrentsBecomeChannelValuesFromTheSecondReading) {
  ScriptedBench bench(kPort, true);
  for (TDevChannel& c : Dev.devCh) {
    c.Max = 100;
    c.el_Min = 4;
    c.el_Max = 20;
    c.toKpaMul = 1;
  }
  Dev.chSkip[0] = Dev.chSkip[1] = Dev.chSkip[2] = Dev.chSkip[3] = 0;
  startConnect(1, kPort);
  ASSERT_TRUE(runUntil([] { return Dev.kestoDataValid == 1; }, 10000));
  EXPECT_FLOAT_EQ(Dev.kestoCurrent[1], 12);
  EXPECT_EQ(Dev.ch[1].pStat.count, 0) << "the first good reading only arms the conversion";
  ASSERT_TRUE(runCycles(2));
  EXPECT_FLOAT_EQ(Dev.ch[1].current, 12);
  EXPECT_FLOAT_EQ(Dev.ch[1].pFromI, 50);
  EXPECT_FLOAT_EQ(Dev.ch[2].pFromI, 100);
  EXPECT_FLOAT_EQ(Dev.ch[1].reducedError, -50);  // reference 100 kPa
  EXPECT_EQ(Dev.relayInputs, 5u);
  EXPECT_EQ(Dev.kestoChCount, 4u);

  bench.set(3, 1, "3;closed;");  // not a number: the contact inputs keep their value
  ASSERT_TRUE(runCycles(2));
  EXPECT_EQ(Dev.relayInputs, 5u);
}

TEST_F(Measuring, ZeroCurrentsDoNotStopTheCycle) {
  ScriptedBench bench(kPort, true);
  bench.setCurrents(0, 0, 0, 0);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  ASSERT_TRUE(runCycles(5, 20000)) << "the measuring cycle keeps going";
  EXPECT_EQ(Dev.kestoDataValid, 0u);
  EXPECT_EQ(Dev.kestoOk, 1u) << "zero currents are bad data, not a missing module";
  EXPECT_EQ(Dev.linked, 1u);
  // The read is asked three times per cycle at most.
  EXPECT_LE(static_cast<int>(bench.peer().requestsOfType(42).size()), 5 * 3 + 3);

  bench.setCurrents(4, 0, 0, 0);  // one live current is a valid reading
  ASSERT_TRUE(runCycles(2));
  EXPECT_EQ(Dev.kestoDataValid, 1u);
}

TEST_F(Measuring, KestoModuleThatStopsAnsweringEndsTheCycleInItsFailureStep) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  // Started by task 4, the cycle's failure continuation is the link-loss procedure.
  SetTask(TASK_MEASURE, nullptr);
  ASSERT_TRUE(runCycles(1));
  bench.rule(3, 40, [](const quarn::test::UailRequest&) { return std::optional<std::string>(); });
  const uint32_t repeats = Dev.kestoRepeats;
  ASSERT_TRUE(runUntil([] { return Dev.linked == 0; }, 5000));
  EXPECT_EQ(Dev.kestoOk, 0u);
  EXPECT_EQ(Dev.kestoDataValid, 0u);
  EXPECT_EQ(Dev.kestoRepeats - repeats, 3u);
  // The search starts again and finds the calibrator.
  ASSERT_TRUE(runUntil([] { return Dev.linked == 1; }, 5000));
}

TEST_F(Measuring, KestoChannelStatusWord) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  bench.setStatusWord(0x0041);
  Dev.chSkip[0] = Dev.chSkip[1] = Dev.chSkip[2] = Dev.chSkip[3] = 0;
  Begin_Kesto_ReadErrNC(Meas, Meas);
  ASSERT_TRUE(runUntil([] { return Dev.chSkip[0] == 1; }, 3000));
  EXPECT_EQ(Dev.chSkip[1], 0);
  EXPECT_EQ(Dev.chSkip[2], 0);
  EXPECT_EQ(Dev.chSkip[3], 1);
  EXPECT_EQ(measKesto.status[0], 0x41);
  ASSERT_TRUE(runCycles(2));
  EXPECT_EQ(Dev.kestoChCount, 2u);

  // A status answer with more bytes than asked: only the first two count.
  bench.setStatusText("3;0500FFFFFFFF;");
  Begin_Kesto_ReadErrNC(Meas, Meas);
  ASSERT_TRUE(runUntil([] { return Dev.chSkip[3] == 0; }, 3000));
  EXPECT_EQ(Dev.chSkip[0], 1);
  EXPECT_EQ(Dev.chSkip[1], 1);
  EXPECT_EQ(measKesto.status[2], 0) << "nothing beyond the status word is stored";
}

TEST_F(Measuring, CyclePeriodGoesIntoTheCycleStatistics) {
  ScriptedBench bench(kPort, true);
  Dev.cycleStat.window = 5;
  startConnect(1, kPort);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runCycles(6));
  EXPECT_EQ(+Dev.cycleStat.count, 5);
  // Quarn with Kesto and nothing to control: 220 ms measuring, 100 + 100 + 110 + 80 ms Kesto waits,
  // and a timer period for each step scheduled for the next timer call.
  EXPECT_GT(+Dev.cycleStat.value, 610.0f);
  EXPECT_LT(+Dev.cycleStat.value, 800.0f);
  EXPECT_LT(+Dev.cycleStat.sd, 20.0f);
}

}  // namespace
