// The external reference transducer: the Brenk reads it on its own port (identification, registers,
// pressure in every cycle), the Quarn reports its state.
#include "calibrator_fixture.h"
#include "quarnsim/engine.h"
#include "scripted_bench.h"
#include "sim_vport.h"

namespace {

using quarn::test::CalibratorTest;
using quarn::test::hexOf;
using quarn::test::ScriptedBench;
using quarn::test::ScriptedPeer;
using quarn::test::SimVport;
using quarn::test::UailRequest;

constexpr uint32_t kCalPort = 11;
constexpr uint32_t kDorvPort = 15;

// A transducer at address 0 of its own port.
struct DorvScript {
  std::string type = "13";
  std::string reading = "250.0";
  std::map<std::string, std::string> registers;  // register (two hex digits) -> value field

  std::optional<std::string> operator()(const UailRequest& rq) const {
    if (rq.addr != 0) return std::nullopt;
    if (rq.type == 0) return "0;" + type + ";";
    if (rq.type == 1) return "0;" + reading + ";";
    if (rq.type == 37 && !rq.data.empty()) {
      const auto it = registers.find(rq.data[0]);
      return it == registers.end() ? std::optional<std::string>("0;$3;") : "0;" + it->second + ";";
    }
    return "0;$1;";
  }
};

class Dorv : public CalibratorTest {
 protected:
  void connectBrenk(ScriptedBench& bench) {
    startConnect(0, kCalPort);
    ASSERT_TRUE(linkedAndMeasuring());
    bench.peer().clearRequests();
    // The workstation's Dorv menu: the transducer's port number, reference switched to it.
    Dev.dorv.serialNo = kDorvPort;
    Dev.dorv.present = 0;
    Dev.settings.refSource = 3;
  }
};

TEST_F(Dorv, BrenkFixedDataTransducer) {
  ScriptedBench bench(kCalPort, false);
  DorvScript script;
  ScriptedPeer dorv(kDorvPort, std::cref(script));
  ASSERT_NO_FATAL_FAILURE(connectBrenk(bench));
  ASSERT_TRUE(runUntil([] { return Dev.dorv.present == 1; }, 5000));
  EXPECT_FLOAT_EQ(Dev.dorv.rangeLow, 0);
  EXPECT_FLOAT_EQ(Dev.dorv.rangeHigh, 600);
  EXPECT_EQ(Dev.dorv.pressType, 1);
  EXPECT_FLOAT_EQ(Dev.dorv.unitToKPa, 1);
  EXPECT_EQ(dorv.baud(), 9600u);

  ASSERT_TRUE(runUntil([] { return Dev.pRef == 250.0f; }, 5000));
  EXPECT_STREQ(Dev.pRefText, "250.000");
  ASSERT_TRUE(runCycles(2));
  EXPECT_FLOAT_EQ(Dev.pRef, 250) << "the calibrator's own 100 kPa are not used";
  EXPECT_EQ(pRS, &rs) << "back on the calibrator's port";
  EXPECT_EQ(dorv.opens(), 1) << "the port stays open between cycles";

  // A reading that does not come: no pressure for that cycle, the transducer stays known.
  script.reading = "x";
  ASSERT_TRUE(runUntil([] { return std::isnan(Dev.pRef); }, 5000));
  EXPECT_EQ(Dev.dorv.present, 1u);
  EXPECT_STREQ(Dev.pRefText, "- - - -");
  script.reading = "251.5";
  ASSERT_TRUE(runUntil([] { return Dev.pRef == 251.5f; }, 5000));
}

TEST_F(Dorv, TaskStartedDuringATransducerReadTalksToTheCalibrator) {
  ScriptedBench bench(kCalPort, false);
  DorvScript script;
  ScriptedPeer dorv(kDorvPort, std::cref(script));
  ASSERT_NO_FATAL_FAILURE(connectBrenk(bench));
  ASSERT_TRUE(runUntil([] { return Dev.dorv.present == 1; }, 5000));
  // Interrupt the reading of the transducer while its port is the current one.
  ASSERT_TRUE(runUntil([] { return OnTimer == reinterpret_cast<TStepFn>(&ProcBrenkextDorv_RxP); }, 5000));
  ASSERT_EQ(pRS, &rsDorv);
  bench.peer().clearRequests();
  dorv.clearRequests();
  const int reads = countEvents(3);
  SetTask(TASK_SETTINGS_READ, nullptr);
  ASSERT_TRUE(runUntil([&] { return countEvents(3) > reads; }, 5000));
  EXPECT_EQ(bench.peer().requestsOfType(16).size(), 1u);
  EXPECT_TRUE(dorv.requestsOfType(16).empty());
}

TEST_F(Dorv, BrenkRegisterTransducerInMegapascal) {
  ScriptedBench bench(kCalPort, false);
  DorvScript script;
  script.type = "81";
  script.reading = "0.25";
  script.registers = {
      {"31", "2"}, {"34", hexOf(2.5f)}, {"4C", hexOf(-0.1f)}, {"1E", "0"}, {"8B", "0F270000"}};
  ScriptedPeer dorv(kDorvPort, std::cref(script));
  ASSERT_NO_FATAL_FAILURE(connectBrenk(bench));
  const int identified = countEvents(5);
  ASSERT_TRUE(runUntil([&] { return countEvents(5) > identified; }, 10000));
  EXPECT_EQ(Dev.dorv.pressType, 2);
  EXPECT_FLOAT_EQ(Dev.dorv.rangeHigh, 2.5f);
  EXPECT_FLOAT_EQ(Dev.dorv.rangeLow, -0.1f);
  EXPECT_FLOAT_EQ(Dev.dorv.unitToKPa, 1000);
  EXPECT_EQ(Dev.dorv.serialNo, 9999u);
  std::vector<std::string> regs;
  for (const auto& q : dorv.requestsOfType(37)) regs.push_back(q.data[0]);
  EXPECT_EQ(regs, (std::vector<std::string>{"31", "34", "4C", "1E", "8B"}));
  ASSERT_TRUE(runUntil([] { return Dev.pRef == 250.0f; }, 5000)) << "0.25 MPa";
}

TEST_F(Dorv, BrenkUnknownTransducerClosesItsPortAndMeasuringGoesOn) {
  ScriptedBench bench(kCalPort, false);
  DorvScript script;
  script.type = "55";
  ScriptedPeer dorv(kDorvPort, std::cref(script));
  ASSERT_NO_FATAL_FAILURE(connectBrenk(bench));
  ASSERT_TRUE(runCycles(3));
  EXPECT_EQ(Dev.dorv.present, 0u);
  EXPECT_FALSE(dorv.isOpen());
  EXPECT_GE(dorv.opens(), 2) << "every cycle tries again";
  EXPECT_EQ(Dev.linked, 1u);
  EXPECT_EQ(pRS, &rs);
}

TEST_F(Dorv, BrenkTransducerPortMissing) {
  ScriptedBench bench(kCalPort, false);
  ASSERT_NO_FATAL_FAILURE(connectBrenk(bench));
  Dev.dorv.serialNo = 77;  // nothing there
  ASSERT_TRUE(runCycles(3));
  EXPECT_EQ(Dev.linked, 1u);
  Dev.dorv.serialNo = 4000;  // not a port number at all
  ASSERT_TRUE(runCycles(2));
  EXPECT_EQ(Dev.linked, 1u);
}

TEST_F(Dorv, BrenkAgainstTheSimulatedTransducer) {
  quarnsim::Scenario s;
  s.model = quarnsim::Model::Brenk;
  s.initialKPa = 120;
  quarnsim::Engine bench(s);
  SimVport cal(kCalPort, bench.calibratorPort());
  SimVport dorvPort(kDorvPort, bench.dorvPort());
  startConnect(0, kCalPort);
  ASSERT_TRUE(linkedAndMeasuring());
  Dev.dorv.serialNo = kDorvPort;
  Dev.settings.refSource = 3;
  ASSERT_TRUE(runUntil([] { return Dev.dorv.present == 1 && Dev.dorv.serialNo == 52311; }, 10000));
  ASSERT_TRUE(runCycles(3));
  EXPECT_NEAR(Dev.pRef, 120, 1);
  EXPECT_FLOAT_EQ(Dev.dorv.rangeHigh, 2500);
}

TEST_F(Dorv, QuarnReportsTheTransducerInItsCycle) {
  ScriptedBench bench(kCalPort, true);
  bench.set(1, 16, "1;3;0;1;0;3;5;0000A040;");  // reference: the Dorv
  bench.set(1, 5, "1;1;2;0.0;2500000.0;52311;");
  startConnect(1, kCalPort);
  ASSERT_TRUE(linkedAndMeasuring());
  EXPECT_EQ(Dev.dorv.present, 1u);
  EXPECT_FLOAT_EQ(Dev.dorv.rangeHigh, 2500);
  EXPECT_EQ(Dev.dorv.serialNo, 52311u);
  EXPECT_EQ(Dev.settings.pressType, 2);
  EXPECT_GE(countEvents(5), 1);
  EXPECT_FLOAT_EQ(Dev.pRef, 100) << "the pressure still comes in the measuring answer";
  EXPECT_FALSE(bench.peer().requestsOfType(5).empty());
}

TEST_F(Dorv, QuarnWaitForTheTransducer) {
  ScriptedBench bench(kCalPort, true);
  startConnect(1, kCalPort);
  ASSERT_TRUE(linkedAndMeasuring());
  int asked = 0;
  bench.rule(1, 5, [&](const UailRequest&) -> std::optional<std::string> {
    return ++asked < 4 ? "1;0;0;0;0;0;" : "1;1;1;0;600;123;";
  });
  Begin_RedExtDorv_Info(Meas, Meas);
  ASSERT_TRUE(runUntil([] { return Dev.dorv.present == 1; }, 5000));
  EXPECT_EQ(asked, 4);
  ASSERT_TRUE(runUntil([] { return Dev.task == 4; }, 1000));
}

}  // namespace
