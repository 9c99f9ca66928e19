// The measuring cycle against an instrument that answers late and damages answers, played by the
// scripted peer (exact texts and file positions) and by the simulator: the Kesto currents are only
// ever taken from a checked answer to a read at position 16, and a measuring answer that is late or
// missing never moves a valve.
#include <cmath>
#include <memory>
#include <ostream>

#include "calibrator_fixture.h"
#include "quarnsim/engine.h"
#include "scripted_bench.h"
#include "sim_vport.h"

namespace {

using quarn::test::CalibratorTest;
using quarn::test::field;
using quarn::test::Notice;
using quarn::test::ScriptedBench;
using quarn::test::SimVport;
using quarn::test::UailRequest;

constexpr uint32_t kPort = 9;

class SlowInstrument : public CalibratorTest {
 protected:
  // Notifications since `from` that carried valid Kesto currents.
  static std::vector<Notice> validReadings(size_t from) {
    std::vector<Notice> out;
    for (size_t i = from; i < notices().size(); ++i)
      if (notices()[i].kestoDataValid == 1) out.push_back(notices()[i]);
    return out;
  }
};

// The module's file position moves on with every read, also with one whose answer is damaged on the
// line: read again without a seek, it returns bytes 32-47 and then 48-63, where the status word
// (0x0040 here) would pass for a current of 9e-44 mA.
TEST_F(SlowInstrument, DamagedCurrentAnswerIsReadAgainFromPositionSixteen) {
  ScriptedBench bench(kPort, true);
  bench.setStatusWord(0x0040);
  startConnect(1, kPort);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runCycles(2));
  const size_t readsBefore = bench.fileReads().size();
  const size_t noticesBefore = notices().size();
  int currentReads = 0;
  bench.peer().setDamage([&currentReads](const UailRequest& rq) {
    return rq.addr == 3 && rq.type == 42 && ++currentReads == 1;
  });

  ASSERT_TRUE(runCycles(3));
  ASSERT_GE(currentReads, 4) << "the damaged read was repeated";
  for (size_t i = readsBefore; i < bench.fileReads().size(); ++i) {
    EXPECT_EQ(bench.fileReads()[i], std::make_pair(16, 16)) << "read " << i;
  }
  const auto readings = validReadings(noticesBefore);
  ASSERT_FALSE(readings.empty());
  for (const Notice& n : readings) {
    EXPECT_FLOAT_EQ(n.kestoCurrent[0], 4);
    EXPECT_FLOAT_EQ(n.kestoCurrent[1], 12);
    EXPECT_FLOAT_EQ(n.kestoCurrent[2], 20);
    EXPECT_FLOAT_EQ(n.kestoCurrent[3], 8);
  }
  EXPECT_EQ(Dev.kestoDataValid, 1u);
}

// An answer that is not all of the 16 bytes asked for, or not from the Kesto module, is no reading:
// it is read again and never marked valid; the last good currents stay.
class SlowInstrumentBadRead : public SlowInstrument, public ::testing::WithParamInterface<const char*> {};

TEST_P(SlowInstrumentBadRead, IsNeverAReading) {
  ScriptedBench bench(kPort, true);
  startConnect(1, kPort);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runUntil([] { return Dev.kestoDataValid == 1; }, 3000));
  const std::string answer = GetParam();
  bench.rule(3, 42, [answer](const UailRequest&) { return std::optional<std::string>(answer); });
  const size_t from = notices().size();
  ASSERT_TRUE(runCycles(2));
  for (const Notice& n : validReadings(from)) EXPECT_FLOAT_EQ(n.kestoCurrent[0], 4) << "never 1.0";
  EXPECT_EQ(Dev.kestoDataValid, 0u);
  EXPECT_FLOAT_EQ(Dev.kestoCurrent[0], 4);
}

INSTANTIATE_TEST_SUITE_P(Answers, SlowInstrumentBadRead,
                         ::testing::Values("3;0000803F;",                            // 4 of 16 bytes
                                           "3;0000803F000040410000A0410000004100;",  // 17 bytes
                                           "1;0000803F000040410000A04100000041;",  // the main unit's address
                                           "3;0000803F000040410000A0410000004G;"));  // not hexadecimal

// The same against the simulator: the third data-file read's answer is damaged.
TEST_F(SlowInstrument, SimulatedModuleWithADamagedReadKeepsItsCurrents) {
  quarnsim::Scenario s;
  s.initialKPa = 300;             // 12 mA on every transmitter
  s.channels[3].present = false;  // status word 0x0040
  s.kestoNoiseMA = 0;
  ASSERT_EQ(quarnsim::applySetting(s, "fault", "kesto badcrc cmd=42 nth=3"), "");
  quarnsim::Engine bench(s);
  SimVport port(7, bench.calibratorPort());
  startConnect(1, 7);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runCycles(5));
  const auto readings = validReadings(0);
  ASSERT_GE(readings.size(), 3u);
  for (const Notice& n : readings) {
    for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(n.kestoCurrent[ch], 12.0, 0.05) << "channel " << ch + 1;
    EXPECT_EQ(n.kestoCurrent[3], 0.0f);
  }
}

}  // namespace

// A late or missing measuring answer leaves the valve states as they were last reported, and the
// first valve command after a connection restates what the device reported, never the zeros the
// connection starts from: a read-only measuring cycle must not close the Quarn's input valve.
struct FirstCycle {
  const char* name;
  void (*disturb)(ScriptedBench&);
};

void PrintTo(const FirstCycle& c, std::ostream* os) { *os << c.name; }

class SlowInstrumentFirstCycle : public SlowInstrument, public ::testing::WithParamInterface<FirstCycle> {};

TEST_P(SlowInstrumentFirstCycle, MovesNoValve) {
  ScriptedBench bench(kPort, true);  // state word 5: input valve open, vent closed
  GetParam().disturb(bench);
  startConnect(1, kPort);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runCycles(4));
  for (const auto& rq : bench.peer().requestsOfType(3)) {
    ASSERT_EQ(rq.data.size(), 2u);
    EXPECT_EQ(rq.data[0], "1") << "the input valve is never asked to close";
    EXPECT_EQ(rq.data[1], "0");
  }
  EXPECT_EQ(Dev.inputOn, 1u);
  EXPECT_EQ(Dev.ventOn, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Disturbances, SlowInstrumentFirstCycle,
    ::testing::Values(FirstCycle{"FirstMeasuringAnswerLate",
                                 [](ScriptedBench& b) {
                                   auto n = std::make_shared<int>(0);
                                   b.peer().setDelay([n](const UailRequest& rq) -> uint32_t {
                                     return rq.addr == 1 && rq.type == 1 && ++*n == 1 ? 300 : 30;
                                   });
                                 }},
                      // The module's answer to the last request of the connection comes so late that the
                      // first measuring step takes it for its own answer.
                      FirstCycle{"KestoAnswerLateIntoTheFirstCycle",
                                 [](ScriptedBench& b) {
                                   b.peer().setDelay([](const UailRequest& rq) -> uint32_t {
                                     return rq.addr == 3 && rq.type == 44 ? 300 : 30;
                                   });
                                 }},
                      FirstCycle{"FirstMeasuringAnswerIsAnError",
                                 [](ScriptedBench& b) {
                                   auto n = std::make_shared<int>(0);
                                   b.rule(1, 1, [n](const UailRequest&) -> std::optional<std::string> {
                                     return ++*n == 1 ? "1;$5;" : "1;0000C842;100.00;99.50;0.05;5;";
                                   });
                                 }},
                      FirstCycle{"NoStateWordForTwoCycles",
                                 [](ScriptedBench& b) {
                                   auto n = std::make_shared<int>(0);
                                   b.rule(1, 1, [n](const UailRequest&) -> std::optional<std::string> {
                                     return ++*n <= 2 ? "1;0000C842;" : "1;0000C842;100.00;99.50;0.05;5;";
                                   });
                                 }}),
    [](const ::testing::TestParamInfo<FirstCycle>& info) { return std::string(info.param.name); });

// What the host asks for is sent, also before the device has reported its valves.
TEST_F(SlowInstrument, HostsValveRequestIsSentBeforeAnyStateWord) {
  ScriptedBench bench(kPort, true);
  bench.set(1, 1, "1;0000C842;");  // never a state word
  startConnect(1, kPort);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runCycles(2));
  EXPECT_TRUE(bench.peer().requestsOfType(3).empty()) << "nothing reported, nothing asked";
  Dev.inputOn = 1;
  Dev.ventOn = 0;
  Dev.controlMode = Dev.controlMode == 0 ? 1 : 0;
  SetTask(TASK_CONTROL, nullptr);
  ASSERT_TRUE(runUntil([] { return countEvents(4) > 0; }, 2000));
  ASSERT_EQ(bench.peer().requestsOfType(3).size(), 1u);
  EXPECT_EQ(bench.peer().requestsOfType(3)[0].data, (std::vector<std::string>{"1", "0"}));
}

class SlowInstrumentSimulated : public SlowInstrument, public ::testing::WithParamInterface<const char*> {};

TEST_P(SlowInstrumentSimulated, LateAnswerMovesNoValve) {
  quarnsim::Scenario s;
  ASSERT_EQ(quarnsim::applySetting(s, "fault", GetParam()), "");
  quarnsim::Engine bench(s);
  bench.operatorSetsPressure(100);  // the operator has opened the input valve
  SimVport port(7, bench.calibratorPort());
  startConnect(1, 7);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runCycles(5));
  EXPECT_TRUE(bench.inputValveOpen());
  EXPECT_EQ(Dev.inputOn, 1u);
}

INSTANTIATE_TEST_SUITE_P(Faults, SlowInstrumentSimulated,
                         ::testing::Values("calibrator late 300 cmd=1 nth=1",  // the first measuring answer
                                           "kesto late 300 cmd=44 nth=1"));    // into the first cycle

// Each connection starts its valve flags at zero and holds its valve commands back until the device
// has reported its valves on that connection: what the device reported on an earlier one says nothing
// about it now. Here the host's mode changed between two connections (a valve request that never
// went out), so the second connection's first control pass would send its zeros, and its first
// measuring cycle brings no state word: the open input valve would close.
class SlowInstrumentSecondConnection : public SlowInstrument,
                                       public ::testing::WithParamInterface<const char*> {};

TEST_P(SlowInstrumentSecondConnection, HoldsTheValvesUntilTheDeviceReportsThemAgain) {
  quarnsim::Engine bench{quarnsim::Scenario()};
  bench.operatorSetsPressure(100);  // the operator has opened the input valve
  SimVport port(7, bench.calibratorPort());
  startConnect(1, 7);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runCycles(3));
  ASSERT_EQ(field(Dev.inputOn), 1u) << "the first connection has the device's valves";

  Dev.controlMode = Dev.controlMode == 0 ? 1 : 0;
  quarnsim::Fault fault;
  ASSERT_EQ(quarnsim::parseFault(GetParam(), fault), "");
  bench.addFault(fault);
  startConnect(1, 7);
  ASSERT_TRUE(linkedAndMeasuring());
  ASSERT_TRUE(runCycles(5));
  EXPECT_TRUE(bench.inputValveOpen());
  EXPECT_EQ(field(Dev.inputOn), 1u);
}

INSTANTIATE_TEST_SUITE_P(Faults, SlowInstrumentSecondConnection,
                         ::testing::Values("kesto late 300 cmd=44 nth=1",       // late into the first cycle
                                           "calibrator error 5 cmd=1 nth=1"));  // no state word in it
