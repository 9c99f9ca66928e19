// Connection and discovery against the simulated bench: a given port, a search over several ports,
// late answers, link loss and automatic reconnection, a silent Kesto module.
#include <memory>

#include "calibrator_fixture.h"
#include "quarnsim/engine.h"
#include "sim_vport.h"

namespace {

using quarn::test::CalibratorTest;
using quarn::test::SimVport;

quarnsim::Scenario quarnBench() {
  quarnsim::Scenario s;
  s.model = quarnsim::Model::Quarn;
  return s;
}

quarnsim::Scenario brenkBench() {
  quarnsim::Scenario s;
  s.model = quarnsim::Model::Brenk;
  return s;
}

class Connection : public CalibratorTest {};

TEST_F(Connection, OnAGivenPortLinksReadsSettingsAndSetsUpTheKestoModule) {
  quarnsim::Engine bench(quarnBench());
  SimVport port(7, bench.calibratorPort());
  startConnect(1, 7);
  ASSERT_TRUE(linkedAndMeasuring());

  EXPECT_EQ(Dev.portNo, 7u);
  EXPECT_EQ(Dev.devTypeId, 105u);
  EXPECT_EQ(isQuarn, 1);
  EXPECT_EQ(isBrenk, 0);
  EXPECT_TRUE(bench.remoteOperation());
  EXPECT_EQ(Dev.kestoOk, 1u);
  EXPECT_EQ(Dev.kestoEnabled, 1u);
  EXPECT_EQ(Dev.sensorType, 8u);
  EXPECT_EQ(bench.kestoInputType(), 8);
  EXPECT_EQ(Dev.settings.valid, 1u);
  EXPECT_EQ(Dev.calInfo.valid, 1u);
  EXPECT_STREQ(Dev.calInfo.serial, "Q1-004711");
  EXPECT_FLOAT_EQ(Dev.calInfo.pLimitMax, 2500.0f);
  EXPECT_EQ(Dev.calInfo.version, 215);
  EXPECT_STREQ(Dev.calInfo.modelName, "QC-2500");
  // Two link notifications: when the link comes up and when the connection is complete.
  EXPECT_EQ(countEvents(1), 2);
  EXPECT_EQ(countEvents(3), 1);
  EXPECT_FALSE(std::isnan(Dev.pRef));
}

TEST_F(Connection, SearchSkipsTheWrongModelAndTakesTheLowestMatchingPort) {
  quarnsim::Engine brenk(brenkBench());  // answers 84: not what a Quarn host wants
  quarnsim::Engine first(quarnBench());
  quarnsim::Engine second(quarnBench());
  SimVport p3(3, brenk.calibratorPort());
  SimVport p12(12, first.calibratorPort());
  SimVport p20(20, second.calibratorPort());
  startConnect(1, 0);
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_EQ(Dev.portNo, 12u);
  EXPECT_TRUE(first.remoteOperation());
  EXPECT_FALSE(second.remoteOperation());
  EXPECT_FALSE(brenk.remoteOperation());
  EXPECT_FALSE(brenk.calibratorPort().isOpen()) << "the other ports are closed again";
  EXPECT_FALSE(second.calibratorPort().isOpen());
}

TEST_F(Connection, BrenkHostFindsTheBrenk) {
  quarnsim::Engine quarn(quarnBench());
  quarnsim::Engine brenk(brenkBench());
  SimVport p2(2, quarn.calibratorPort());
  SimVport p5(5, brenk.calibratorPort());
  startConnect(0, 0);
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_EQ(Dev.portNo, 5u);
  EXPECT_EQ(Dev.devTypeId, 84u);
  EXPECT_EQ(isBrenk, 1);
  EXPECT_EQ(isQuarn, 0);
}

TEST_F(Connection, LateIdentificationIsFoundOnTheNextPass) {
  quarnsim::Scenario s = quarnBench();
  quarnsim::Fault late;
  late.target = quarnsim::FaultTarget::Calibrator;
  late.kind = quarnsim::FaultKind::Late;
  late.command = 0;
  late.delayMs = 250;
  late.count = 1;
  s.faults.push_back(late);
  quarnsim::Engine bench(s);
  SimVport port(4, bench.calibratorPort());
  const uint32_t start = clock.now();
  startConnect(1, 0);
  ASSERT_TRUE(runUntil([] { return Dev.linked == 1; }, 10000));
  EXPECT_EQ(Dev.portNo, 4u);
  EXPECT_GE(bench.requestsSeen(quarnsim::FaultTarget::Calibrator), 2);
  // One pass is about 405 ms; the link comes up about 600 ms after the identification of the second.
  EXPECT_GT(clock.now() - start, 1000u);
}

TEST_F(Connection, NothingThereKeepsSearchingWithoutLinkOrHang) {
  startConnect(1, 7);  // port 7 does not exist
  clock.runFor(3000);
  EXPECT_EQ(Dev.linked, 0u);
  EXPECT_EQ(Dev.linkState, 0u);
  EXPECT_NE(OnTimer, nullptr) << "the procedure goes on trying";

  // The calibrator appears on port 7 later: the next attempt finds it.
  quarnsim::Engine bench(quarnBench());
  SimVport port(7, bench.calibratorPort());
  EXPECT_TRUE(linkedAndMeasuring());
}

TEST_F(Connection, PortNumberBeyondTheMapIsNotFound) {
  startConnect(1, 4000);
  clock.runFor(1000);
  EXPECT_EQ(Dev.linked, 0u);
  EXPECT_NE(OnTimer, nullptr);
}

TEST_F(Connection, HostThatSwitchesTheModelFindsTheOtherCalibrator) {
  quarnsim::Engine brenk(brenkBench());
  quarnsim::Engine quarn(quarnBench());
  SimVport p2(2, brenk.calibratorPort());
  SimVport p6(6, quarn.calibratorPort());
  startConnect(0, 0);
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_EQ(Dev.portNo, 2u);
  startConnect(1, 0);
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_EQ(Dev.portNo, 6u);
  EXPECT_EQ(isQuarn, 1);
  EXPECT_EQ(isBrenk, 0) << "only the wanted model's flag is set";
}

TEST_F(Connection, LinkLostAfterThreeSilentCyclesAndFoundAgain) {
  quarnsim::Engine bench(quarnBench());
  SimVport port(7, bench.calibratorPort());
  startConnect(1, 7);
  ASSERT_TRUE(linkedAndMeasuring());
  const int linkNotices = countEvents(1);

  quarnsim::Fault silent;
  silent.target = quarnsim::FaultTarget::Calibrator;
  silent.kind = quarnsim::FaultKind::Silent;
  bench.addFault(silent);
  const uint32_t before = Dev.measRepeats;
  ASSERT_TRUE(runUntil([] { return Dev.linked == 0; }, 5000));
  EXPECT_EQ(Dev.measRepeats - before, 3u);
  EXPECT_EQ(Dev.linkState, 0u);
  EXPECT_TRUE(std::isnan(Dev.pRef));
  EXPECT_TRUE(std::isnan(Dev.pTarget));
  for (float c : Dev.kestoCurrent) EXPECT_TRUE(std::isnan(c));
  EXPECT_STREQ(Dev.pRefText, "- - - -");
  EXPECT_EQ(Dev.refStat.count, 0);
  EXPECT_EQ(+Dev.hart[2].size, THARTDEV_SIZE);
  EXPECT_EQ(+Dev.hart[2].endMark, THARTDEV_END_MARK);
  EXPECT_EQ(countEvents(1), linkNotices + 1) << "one notification of the loss";

  bench.clearFaults();
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_FALSE(std::isnan(Dev.pRef));
}

TEST_F(Connection, DisconnectedDeviceDropsTheLinkAndComesBack) {
  quarnsim::Engine bench(quarnBench());
  SimVport port(7, bench.calibratorPort());
  startConnect(1, 7);
  ASSERT_TRUE(linkedAndMeasuring());
  bench.setConnected(false);
  ASSERT_TRUE(runUntil([] { return Dev.linked == 0; }, 5000));
  clock.runFor(2000);
  EXPECT_EQ(Dev.linked, 0u);
  bench.setConnected(true);
  ASSERT_TRUE(linkedAndMeasuring());
}

TEST_F(Connection, SilentKestoModuleLeavesTheLinkUpWithoutIt) {
  quarnsim::Scenario s = quarnBench();
  s.kestoFitted = false;
  quarnsim::Engine bench(s);
  SimVport port(7, bench.calibratorPort());
  startConnect(1, 7);
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_EQ(Dev.kestoOk, 0u);
  EXPECT_EQ(Dev.kestoEnabled, 0u);
  EXPECT_EQ(Dev.linkState, 2u);
  ASSERT_TRUE(runCycles(3));
  EXPECT_EQ(Dev.linked, 1u);
}

TEST_F(Connection, NoiseOnTheLineIsNoCalibrator) {
  quarnsim::Engine bench(quarnBench());
  SimVport port(7, bench.calibratorPort());
  startConnect(1, 7);
  ASSERT_TRUE(linkedAndMeasuring());
  quarnsim::Fault garbage;
  garbage.target = quarnsim::FaultTarget::Calibrator;
  garbage.kind = quarnsim::FaultKind::Garbage;
  bench.addFault(garbage);
  ASSERT_TRUE(runUntil([] { return Dev.linked == 0; }, 10000));
  clock.runFor(3000);
  EXPECT_EQ(Dev.linked, 0u) << "garbage never passes for an identification";
  bench.clearFaults();
  EXPECT_TRUE(linkedAndMeasuring());
}

}  // namespace
