// Scenario files and command-line settings: what they set, and the errors they give for bad input.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "quarnsim/engine.h"
#include "quarnsim/scenario.h"

namespace {

using quarnsim::FaultKind;
using quarnsim::FaultTarget;
using quarnsim::Scenario;

TEST(SimScenario, TextSetsTheBench) {
  Scenario s;
  const std::string error = quarnsim::applyScenarioText(s,
                                                        "# a bench for the demo\n"
                                                        "model = brenk\n"
                                                        "seed = 42\n"
                                                        "turnaround_ms = 30-60   # main unit\n"
                                                        "kesto.turnaround_ms = 10\n"
                                                        "\n"
                                                        "version = 3.7\n"
                                                        "operator.points = 0, 150.5,300\n"
                                                        "channels = 2\n"
                                                        "hart_addresses = 0,5\n"
                                                        "channel.2.output = 20-4\n"
                                                        "channel.2.function = sqrt\n"
                                                        "channel.2.range = -10, 90\n"
                                                        "channel.2.hart_error = 40:7\n"
                                                        "switch.3 = 100, 5, opens\n"
                                                        "kesto.status.4 = 2\n"
                                                        "fault = kesto late 250 cmd=42 after=3 count=2\n"
                                                        "fault = any disconnect at_ms=500 for_ms=100\n"
                                                        "channel.3.turnaround_ms = 250-300\n"
                                                        "fault = kesto badcrc cmd=42 nth=3\n");
  ASSERT_EQ(error, "");
  EXPECT_EQ(s.model, quarnsim::Model::Brenk);
  EXPECT_EQ(s.seed, 42u);
  EXPECT_EQ(s.turnaround.minMs, 30);
  EXPECT_EQ(s.turnaround.maxMs, 60);
  EXPECT_EQ(s.kestoTurnaround.minMs, 10);
  EXPECT_EQ(s.kestoTurnaround.maxMs, 10);
  EXPECT_EQ(s.versionMajor, 3);
  EXPECT_EQ(s.versionMinor, 7);
  EXPECT_EQ(s.operatorScript.pointsKPa, (std::vector<double>{0, 150.5, 300}));
  EXPECT_TRUE(s.channels[0].present);
  EXPECT_TRUE(s.channels[1].present);
  EXPECT_FALSE(s.channels[2].present);
  EXPECT_EQ(s.channels[1].pollingAddress, 5);
  EXPECT_EQ(s.channels[1].output, quarnsim::OutputType::mA20_4);
  EXPECT_EQ(s.channels[1].function, quarnsim::TransferFunction::SquareRoot);
  EXPECT_EQ(s.channels[1].lowerRange, -10);
  EXPECT_EQ(s.channels[1].faults.errorCommand, 40);
  EXPECT_EQ(s.channels[1].faults.errorCode, 7);
  EXPECT_TRUE(s.switches[2].fitted);
  EXPECT_FALSE(s.switches[2].closesOnRise);
  EXPECT_EQ(s.channelStatus[3], 2);
  ASSERT_EQ(s.faults.size(), 3u);
  EXPECT_EQ(s.faults[0].target, FaultTarget::Kesto);
  EXPECT_EQ(s.faults[0].kind, FaultKind::Late);
  EXPECT_EQ(s.faults[0].delayMs, 250);
  EXPECT_EQ(s.faults[0].command, 42);
  EXPECT_EQ(s.faults[0].afterRequests, 3);
  EXPECT_EQ(s.faults[0].count, 2);
  EXPECT_EQ(s.faults[1].kind, FaultKind::Disconnect);
  EXPECT_EQ(s.faults[1].atMs, 500);
  EXPECT_EQ(s.faults[2].kind, FaultKind::BadChecksum);
  EXPECT_EQ(s.faults[2].command, 42);
  EXPECT_EQ(s.faults[2].nth, 3);
  EXPECT_EQ(s.faults[0].nth, 0) << "not used unless given";
  ASSERT_TRUE(s.channelTurnaround[2]);
  EXPECT_EQ(s.channelTurnaround[2]->minMs, 250);
  EXPECT_EQ(s.channelTurnaround[2]->maxMs, 300);
  EXPECT_FALSE(s.channelTurnaround[0]);
  // The channel settings reach the transmitters.
  quarnsim::Engine bench(s);
  EXPECT_EQ(bench.transmitter(1).config().pollingAddress, 5);
  EXPECT_EQ(bench.transmitter(2).loopCurrent(), 0.0);
}

TEST(SimScenario, BadInputIsRefusedWithTheLineAndKey) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"model = quark", "line 1: bad value for model: 'quark'"},
      {"\nunits = 8", "line 2: bad value for units: '8'"},
      {"colour = blue", "line 1: unknown key: colour"},
      {"just words", "line 1: expected key = value"},
      {"turnaround_ms = 80-20", "line 1: bad value for turnaround_ms: '80-20'"},
      {"channel.5.range = 0,1", "line 1: unknown key: channel.5.range"},
      {"channel.1.range = 5,5", "line 1: bad value for channel.1.range: '5,5'"},
      {"channel.1.address = 64", "line 1: bad value for channel.1.address: '64'"},
      {"switch.9 = 1,1", "line 1: unknown key: switch.9"},
      {"fault = kesto", "line 1: a fault needs a target and a kind: 'kesto'"},
      {"fault = pump silent", "line 1: unknown fault target: 'pump'"},
      {"fault = kesto explode", "line 1: unknown fault kind: 'explode'"},
      {"fault = kesto silent prob=2", "line 1: bad fault option: 'prob=2'"},
      {"fault = kesto silent nth=0", "line 1: bad fault option: 'nth=0'"},
      {"fault = kesto silent nth=1.5", "line 1: bad fault option: 'nth=1.5'"},
      {"channel.2.turnaround_ms = 80-20", "line 1: bad value for channel.2.turnaround_ms: '80-20'"},
      {"noise_kpa = nan", "line 1: bad value for noise_kpa: 'nan'"},
      {"seed = 1e400", "line 1: bad value for seed: '1e400'"},
  };
  for (const auto& c : cases) {
    Scenario s;
    EXPECT_EQ(quarnsim::applyScenarioText(s, c.text), c.error) << c.text;
  }
}

TEST(SimScenario, FileIsReadOrNamedInTheError) {
  Scenario s;
  EXPECT_EQ(quarnsim::loadScenarioFile(s, "/nonexistent/bench.ini"), "cannot read /nonexistent/bench.ini");
  const std::string path = ::testing::TempDir() + "sim_scenario_test.ini";
  std::ofstream(path) << "model = brenk\ndecimals = 9\n";
  EXPECT_EQ(quarnsim::loadScenarioFile(s, path), path + ": line 2: bad value for decimals: '9'");
  EXPECT_EQ(s.model, quarnsim::Model::Brenk);  // lines before the bad one took effect
  std::remove(path.c_str());
}

}  // namespace
