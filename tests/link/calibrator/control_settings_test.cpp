// Pressure control (acknowledgement, setpoint limits, retries), settings write and read back, the
// Kesto input type descriptor, and the zero adjustment.
#include "calibrator_fixture.h"
#include "core/TDevValues.h"
#include "scripted_bench.h"

namespace {

using quarn::test::CalibratorTest;
using quarn::test::field;
using quarn::test::ScriptedBench;
using quarn::test::UailRequest;

constexpr uint32_t kPort = 11;

class ControlAndSettings : public CalibratorTest {
 protected:
  void connect(ScriptedBench& bench, uint32_t model) {
    startConnect(model, kPort);
    ASSERT_TRUE(linkedAndMeasuring());
    ASSERT_TRUE(runCycles(2));  // the first control pass after loading sends the mode once
    bench.peer().clearRequests();
  }
  std::vector<std::string> setpointsSent(ScriptedBench& bench) {
    std::vector<std::string> r;
    for (const UailRequest& q : bench.peer().requestsOfType(2)) r.push_back(q.data.empty() ? "" : q.data[0]);
    return r;
  }
};

TEST_F(ControlAndSettings, FirstControlAfterLoadingSendsTheMode) {
  ScriptedBench bench(kPort, true);
  startConnect(1, kPort);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runCycles(1));
  const auto modes = bench.peer().requestsOfType(3);
  ASSERT_EQ(modes.size(), 1u);
  // The valve flags as the state word of the answer before reported them (5: input open).
  EXPECT_EQ(modes[0].data, (std::vector<std::string>{"1", "0"}));
  EXPECT_EQ(_oldControl_Mode, 0);
}

TEST_F(ControlAndSettings, QuarnValveCommandTakesTheDevicesAnswer) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  bench.set(1, 3, "1;0;1;");  // the device reports input closed, vent open
  bench.set(1, 1, "1;0000C842;100.00;99.50;0.05;2;");
  Dev.inputOn = 1;
  Dev.ventOn = 0;
  Dev.controlMode = 1;
  const int acks = countEvents(4);
  SetTask(TASK_CONTROL, nullptr);
  ASSERT_TRUE(runUntil([&] { return countEvents(4) > acks; }, 2000));
  EXPECT_EQ(Dev.inputOn, 0u);
  EXPECT_EQ(Dev.ventOn, 1u);
  EXPECT_EQ(_oldControl_Mode, 1);
  ASSERT_EQ(bench.peer().requestsOfType(3).size(), 1u);
  EXPECT_EQ(bench.peer().requestsOfType(3)[0].data, (std::vector<std::string>{"1", "0"}));
  EXPECT_TRUE(setpointsSent(bench).empty()) << "the Quarn takes no setpoint";

  // An unreadable answer field keeps the requested state (the next state word refreshes both).
  bench.set(1, 3, "1;x;");
  Dev.inputOn = 1;
  Dev.ventOn = 1;
  Dev.controlMode = 0;
  SetTask(TASK_CONTROL, nullptr);
  ASSERT_TRUE(runUntil([&] { return countEvents(4) > acks + 1; }, 2000));
  EXPECT_EQ(lastNotice(4)->inputOn, 1u);
  EXPECT_EQ(lastNotice(4)->ventOn, 1u);
}

TEST_F(ControlAndSettings, ErrorAnswerToTheModeIsNoAcknowledgement) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  bench.set(1, 3, "1;$4;");
  Dev.controlMode = 1;
  ASSERT_TRUE(runCycles(2));
  EXPECT_EQ(_oldControl_Mode, 0);
  EXPECT_GE(bench.peer().requestsOfType(3).size(), 2u) << "sent again in the next cycle";
}

TEST_F(ControlAndSettings, BrenkSetpointIsLimitedToTheWorkingRange) {
  ScriptedBench bench(kPort, false);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 0));
  struct Case {
    float target, limitMin, limitMax;
    const char* sent;
    float after;
  };
  const Case cases[] = {
      {7000, -95, 6000, "0080BB45", 6000},  // 6000.0
      {-500, -95, 6000, "0000BEC2", -95},   // -95.0
      {30, 100, 50, "0000C842", 100},       // crossed limits: the lower one wins
      {250, -95, 2500, "00007A43", 250},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    bench.peer().clearRequests();
    Dev.calInfo.pLimitMin = c.limitMin;
    Dev.calInfo.pLimitMax = c.limitMax;
    Dev.pTarget = c.target;
    ASSERT_TRUE(runCycles(2));
    EXPECT_EQ(setpointsSent(bench), std::vector<std::string>{c.sent});
    EXPECT_FLOAT_EQ(Dev.pTarget, c.after);
    EXPECT_FLOAT_EQ(_oldControl_Ptarget, c.after);
  }
}

TEST_F(ControlAndSettings, BrenkNanSetpointIsSentUnlimitedEveryPass) {
  ScriptedBench bench(kPort, false);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 0));
  Dev.pTarget = NAN;
  ASSERT_TRUE(runCycles(3));
  const auto sent = setpointsSent(bench);
  ASSERT_GE(sent.size(), 2u);
  for (const auto& s : sent) EXPECT_EQ(s, "0000C07F");
  EXPECT_TRUE(std::isnan(Dev.pTarget));
}

TEST_F(ControlAndSettings, BrenkWithNothingChangedSendsNothingAndEndsQuickly) {
  ScriptedBench bench(kPort, false);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 0));
  const uint32_t start = clock.now();
  SetTask(TASK_CONTROL, nullptr);
  ASSERT_TRUE(runUntil([] { return OnTimer == reinterpret_cast<TStepFn>(&MeasControl_1); }, 1000));
  EXPECT_LE(clock.now() - start, 200u + 3 * 20u) << "the task's pause plus a few timer periods";
  EXPECT_TRUE(bench.peer().requestsOfType(3).empty());
  EXPECT_TRUE(bench.peer().requestsOfType(2).empty());
}

TEST_F(ControlAndSettings, BrenkModeAndSetpointWithRegulation) {
  ScriptedBench bench(kPort, false);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 0));
  Dev.controlMode = 1;
  Dev.pTarget = 300;
  ASSERT_TRUE(runCycles(2));
  const auto modes = bench.peer().requestsOfType(3);
  ASSERT_EQ(modes.size(), 1u);
  EXPECT_EQ(modes[0].data, std::vector<std::string>{"1"});
  EXPECT_EQ(setpointsSent(bench), std::vector<std::string>{"00009643"});
}

TEST_F(ControlAndSettings, UnansweredControlTaskEndsInMeasAndTheCycleRetries) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  bench.set(1, 3, std::nullopt);
  Dev.controlMode = 1;
  SetTask(TASK_CONTROL, nullptr);
  ASSERT_TRUE(runUntil([] { return Dev.task == 4 && Dev.retCode == 1; }, 5000));
  EXPECT_EQ(bench.peer().requestsOfType(3).size(), 3u);
  EXPECT_EQ(_oldControl_Mode, 0);
  // In the measuring cycle the failure goes on to the Kesto read, and the next cycle tries again.
  bench.peer().clearRequests();
  ASSERT_TRUE(runCycles(2, 20000));
  EXPECT_GE(bench.peer().requestsOfType(3).size(), 3u);
  EXPECT_EQ(Dev.linked, 1u);
}

TEST_F(ControlAndSettings, SetPointFromTheTrimPoints) {
  Dev.trimPmin = 10;
  Dev.trimPmax = 90;
  Dev.refStat.window = 5;
  StatValue_AddValue(&Dev.refStat, 3);
  EXPECT_EQ(Set_P(1), 0);
  EXPECT_FLOAT_EQ(Dev.pTarget, 90);
  EXPECT_FLOAT_EQ(Dev.refStat.target, 90);
  EXPECT_EQ(Dev.refStat.count, 0);
  Set_P(0);
  EXPECT_FLOAT_EQ(Dev.pTarget, 10);
}

TEST_F(ControlAndSettings, SettingsWriteRoundTrip) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  Dev.settings.units = 2;
  Dev.settings.decimals = 1;
  Dev.settings.readyBand1 = 1.0f;
  const int reads = countEvents(3);
  SetTask(TASK_SETTINGS_WRITE, nullptr);
  ASSERT_TRUE(runUntil([&] { return countEvents(3) > reads; }, 5000));
  EXPECT_EQ(bench.lastWrittenSettings(), "0;0;1;2;1;5;0000803F;0000803F;");
  EXPECT_EQ(Dev.settings.units, 2);
  EXPECT_FLOAT_EQ(Dev.settings.unitFactor, 0.01f);
  EXPECT_FLOAT_EQ(Dev.settings.readyBand1, 1.0f);
  EXPECT_FLOAT_EQ(Dev.refStat.stableBand, 2595.0f * 1.0f / 100.0f);
  ASSERT_TRUE(runUntil([] { return Dev.task == 4; }, 2000));
}

TEST_F(ControlAndSettings, BrenkSettingsReadTakesStoredModeAndSetpoint) {
  ScriptedBench bench(kPort, false);
  bench.set(1, 16, "1;1;0;3;1;5;1;00007A43;CDCC4C3D;CDCCCC3D;");  // regulate to 250
  startConnect(0, kPort);
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_EQ(Dev.controlMode, 1u);
  EXPECT_FLOAT_EQ(Dev.pTarget, 250);
  EXPECT_EQ(Dev.calInfo.modelNo, 250);
  EXPECT_EQ(Dev.calInfo.version, 307);
}

TEST_F(ControlAndSettings, SettingsReadFailures) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  // Too short a settings text is refused and asked again; a device that keeps refusing ends the
  // read in its failure step after three attempts (task 7 ends in Meas).
  bench.set(1, 16, "1;0;0;1;1;3;5;0000A0;");
  SetTask(TASK_SETTINGS_READ, nullptr);
  ASSERT_TRUE(runUntil([] { return Dev.task == 4; }, 5000));
  EXPECT_EQ(bench.peer().requestsOfType(16).size(), 3u);

  // The same with an error answer to the version request: settings and identification stay read.
  bench.set(1, 16, "1;0;0;1;1;3;5;0000A040;");
  bench.set(1, 11, "1;$2;");
  Dev.calInfo.valid = 0;
  bench.peer().clearRequests();
  SetTask(TASK_SETTINGS_READ, nullptr);
  ASSERT_TRUE(runUntil([] { return Dev.task == 4; }, 5000));
  EXPECT_EQ(bench.peer().requestsOfType(11).size(), 3u);
  EXPECT_EQ(Dev.calInfo.valid, 0u);
  EXPECT_EQ(Dev.settings.units, 1);
}

// A Quarn whose version number does not read is still identified: the connection completes.
TEST_F(ControlAndSettings, QuarnWithAnUnreadableVersionNumberConnects) {
  ScriptedBench bench(kPort, true);
  bench.set(1, 11, "1;V2;15;QC;1;1;");
  startConnect(1, kPort);
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_EQ(Dev.calInfo.valid, 1u);
  EXPECT_STREQ(Dev.calInfo.modelName, "QC");
  EXPECT_EQ(bench.peer().requestsOfType(11).size(), 1u) << "accepted at the first answer";
}

TEST_F(ControlAndSettings, SensorTypeDescriptor) {
  ScriptedBench bench(kPort, true);
  startConnect(1, kPort);
  ASSERT_TRUE(linkedAndMeasuring());
  auto writes = bench.peer().requestsOfType(43);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].data, std::vector<std::string>{"08000000C8420000C84200000000000070420000C84128"});
  EXPECT_EQ(bench.peer().requestsOfType(41)[0].data, (std::vector<std::string>{"35", "0"}));

  bench.peer().clearRequests();
  Dev.sensorType = 6;
  SetTask(TASK_SET_SENSOR_TYPE, nullptr);
  ASSERT_TRUE(runUntil([] { return Dev.task == 4; }, 3000));
  writes = bench.peer().requestsOfType(43);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].data, std::vector<std::string>{"060C0000C84200007A4400000000000070420000C8416A"});
  EXPECT_EQ(bench.peer().requestsOfType(44)[0].data, std::vector<std::string>{"0"});
  EXPECT_EQ(writes[0].addr, 3);
}

TEST_F(ControlAndSettings, ZeroAdjustmentSendsItsCommandAndMeasuringResumes) {
  ScriptedBench bench(kPort, true);
  ASSERT_NO_FATAL_FAILURE(connect(bench, 1));
  const uint32_t start = clock.now();
  SetTask(TASK_SET_0_KD, nullptr);
  ASSERT_TRUE(runUntil([] { return OnTimer == reinterpret_cast<TStepFn>(&MeasControl_2); }, 3000));
  const auto zero = bench.peer().requestsOfType(4);
  ASSERT_EQ(zero.size(), 1u);
  EXPECT_EQ(zero[0].addr, 1);
  EXPECT_GE(zero[0].atMs - start, 700u);  // the task's pause and the first 500 ms wait
  ASSERT_TRUE(runCycles(1));
  EXPECT_EQ(field(Dev.retCode), static_cast<uint32_t>(RETCODE_ZERO_ACCEPTED)) << "the calibrator took it";
  EXPECT_EQ(field(Dev.errCode), 0u);

  // With the calibrator gone, the command goes into the void: a failure, and the cycle then loses
  // the link.
  bench.silence(-1);
  SetTask(TASK_SET_0_KD, nullptr);
  ASSERT_TRUE(runUntil([] { return Dev.errCode == ERR_ZERO_FAILED; }, 3000));
  EXPECT_NE(field(Dev.retCode), static_cast<uint32_t>(RETCODE_ZERO_ACCEPTED));
  ASSERT_TRUE(runUntil([] { return Dev.linked == 0; }, 5000));
}

}  // namespace
