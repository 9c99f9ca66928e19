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

// Every key of the scenario text reaches its field: one row per key, with a value that differs from
// the default, so a key that lands nowhere or in the wrong field fails its row.
TEST(SimScenario, EveryKeyReachesItsField) {
  using quarnsim::TransmitterConfig;
  struct Case {
    const char* key;
    const char* value;
    bool (*set)(const Scenario&);
  };
  const Case cases[] = {
      {"model", "brenk", [](const Scenario& s) { return s.model == quarnsim::Model::Brenk; }},
      {"seed", "77", [](const Scenario& s) { return s.seed == 77u; }},
      {"device_type", "84", [](const Scenario& s) { return s.deviceType == 84; }},
      {"turnaround_ms", "1-2", [](const Scenario& s) { return s.turnaround.minMs == 1 && s.turnaround.maxMs == 2; }},
      {"kesto.turnaround_ms", "3", [](const Scenario& s) { return s.kestoTurnaround.maxMs == 3; }},
      {"dorv.turnaround_ms", "4", [](const Scenario& s) { return s.dorvTurnaround.maxMs == 4; }},
      {"hart.turnaround_ms", "5", [](const Scenario& s) { return s.hartTurnaround.maxMs == 5; }},
      {"require_remote", "no", [](const Scenario& s) { return !s.requireRemote; }},
      {"serial", "X-1", [](const Scenario& s) { return s.serial == "X-1"; }},
      {"made_date", "01.02.2003", [](const Scenario& s) { return s.madeDate == "01.02.2003"; }},
      {"limit_min_kpa", "-50", [](const Scenario& s) { return s.pLimitMinKPa == -50; }},
      {"limit_max_kpa", "700", [](const Scenario& s) { return s.pLimitMaxKPa == 700; }},
      {"version", "4.2", [](const Scenario& s) { return s.versionMajor == 4 && s.versionMinor == 2; }},
      {"model_name", "QC-1", [](const Scenario& s) { return s.modelName == "QC-1"; }},
      {"model_no", "99", [](const Scenario& s) { return s.modelNo == 99; }},
      {"module1_class", "3", [](const Scenario& s) { return s.module1Class == 3; }},
      {"module2_class", "2", [](const Scenario& s) { return s.module2Class == 2; }},
      {"ref_source", "4", [](const Scenario& s) { return s.refSource == 4; }},
      {"sub_range", "9", [](const Scenario& s) { return s.subRange == 9; }},
      {"press_type", "2", [](const Scenario& s) { return s.pressType == 2; }},
      {"units", "7", [](const Scenario& s) { return s.units == 7; }},
      {"decimals", "5", [](const Scenario& s) { return s.decimals == 5; }},
      {"averaging", "29", [](const Scenario& s) { return s.averaging == 29; }},
      {"ready_band1", "0.5", [](const Scenario& s) { return s.readyBand1 == 0.5f; }},
      {"ready_band2", "0.25", [](const Scenario& s) { return s.readyBand2 == 0.25f; }},
      {"reg_mode", "2", [](const Scenario& s) { return s.regMode == 2; }},
      {"auto_range", "0", [](const Scenario& s) { return s.autoRange == 0; }},
      {"setpoint_kpa", "12.5", [](const Scenario& s) { return s.setpointKPa == 12.5f; }},
      {"initial_kpa", "11", [](const Scenario& s) { return s.initialKPa == 11; }},
      {"baro_kpa", "99", [](const Scenario& s) { return s.baroKPa == 99; }},
      {"noise_kpa", "0.1", [](const Scenario& s) { return s.noiseKPa == 0.1; }},
      {"baro_noise_kpa", "0.2", [](const Scenario& s) { return s.baroNoiseKPa == 0.2; }},
      {"source_kpa", "300", [](const Scenario& s) { return s.sourceKPa == 300; }},
      {"input_tau_s", "3", [](const Scenario& s) { return s.inputTauS == 3; }},
      {"vent_tau_s", "4", [](const Scenario& s) { return s.ventTauS == 4; }},
      {"reg_rate_kpa_s", "5", [](const Scenario& s) { return s.regRateKPaS == 5; }},
      {"reg_tau_s", "6", [](const Scenario& s) { return s.regTauS == 6; }},
      {"leak_kpa_per_min", "7", [](const Scenario& s) { return s.leakKPaPerMin == 7; }},
      {"zero_offset_kpa", "8", [](const Scenario& s) { return s.zeroOffsetKPa == 8; }},
      {"module2_limit_kpa", "9", [](const Scenario& s) { return s.module2LimitKPa == 9; }},
      {"operator.points", "1,2", [](const Scenario& s) { return s.operatorScript.pointsKPa == std::vector<double>{1, 2}; }},
      {"operator.dwell_s", "2", [](const Scenario& s) { return s.operatorScript.dwellS == 2; }},
      {"operator.tolerance_kpa", "0.1", [](const Scenario& s) { return s.operatorScript.toleranceKPa == 0.1; }},
      {"operator.opens_input", "no", [](const Scenario& s) { return !s.operatorScript.opensInput; }},
      {"operator.repeat", "yes", [](const Scenario& s) { return s.operatorScript.repeat; }},
      {"kesto.fitted", "no", [](const Scenario& s) { return !s.kestoFitted; }},
      {"kesto.device_type", "4", [](const Scenario& s) { return s.kestoDeviceType == 4; }},
      {"kesto.noise_ma", "0.01", [](const Scenario& s) { return s.kestoNoiseMA == 0.01; }},
      {"kesto.input_type", "6", [](const Scenario& s) { return s.kestoInputType == 6; }},
      {"dorv.fitted", "no", [](const Scenario& s) { return !s.dorvFitted; }},
      {"dorv.on_quarn", "yes", [](const Scenario& s) { return s.dorvOnQuarn; }},
      {"dorv.type", "13", [](const Scenario& s) { return s.dorvType == 13; }},
      {"dorv.address", "5", [](const Scenario& s) { return s.dorvAddress == 5; }},
      {"dorv.unit", "7", [](const Scenario& s) { return s.dorvUnit == 7; }},
      {"dorv.press_type", "3", [](const Scenario& s) { return s.dorvPressType == 3; }},
      {"dorv.range", "-10,20", [](const Scenario& s) { return s.dorvLowKPa == -10 && s.dorvHighKPa == 20; }},
      {"dorv.serial", "0x10", [](const Scenario& s) { return s.dorvSerial == 16u; }},
      {"dorv.noise_kpa", "0.5", [](const Scenario& s) { return s.dorvNoiseKPa == 0.5; }},
      {"dorv.baud", "1200", [](const Scenario& s) { return s.dorvBaud == 1200u; }},
      {"fault", "dorv silent", [](const Scenario& s) { return s.faults.size() == 1 && s.faults[0].target == FaultTarget::Dorv; }},
      {"channels", "1", [](const Scenario& s) { return s.channels[0].present && !s.channels[1].present; }},
      {"hart_addresses", "1,2,3,4", [](const Scenario& s) { return s.channels[3].pollingAddress == 4; }},
      {"kesto.status.2", "3", [](const Scenario& s) { return s.channelStatus[1] == 3; }},
      {"kesto.status.3", "auto", [](const Scenario& s) { return s.channelStatus[2] == -1; }},
      {"switch.8", "50,2,closes", [](const Scenario& s) { return s.switches[7].fitted && s.switches[7].closesOnRise; }},
      {"switch.1", "off", [](const Scenario& s) { return !s.switches[0].fitted; }},
      {"channel.4.turnaround_ms", "7-9", [](const Scenario& s) { return s.channelTurnaround[3] && s.channelTurnaround[3]->maxMs == 9; }},
      // The transmitter of a channel (channel.N.what).
      {"channel.3.present", "no", [](const Scenario& s) { return !s.channels[2].present; }},
      {"channel.3.hart", "no", [](const Scenario& s) { return !s.channels[2].hart; }},
      {"channel.3.address", "63", [](const Scenario& s) { return s.channels[2].pollingAddress == 63; }},
      {"channel.3.device_id", "0x123456", [](const Scenario& s) { return s.channels[2].deviceId == 0x123456u; }},
      {"channel.3.expanded_type", "0x1234", [](const Scenario& s) { return s.channels[2].expandedDeviceType == 0x1234; }},
      {"channel.3.revision", "5", [](const Scenario& s) { return s.channels[2].hartRevision == 5; }},
      {"channel.3.tag", "T1", [](const Scenario& s) { return s.channels[2].tag == "T1"; }},
      {"channel.3.descriptor", "D1", [](const Scenario& s) { return s.channels[2].descriptor == "D1"; }},
      {"channel.3.message", "M1", [](const Scenario& s) { return s.channels[2].message == "M1"; }},
      {"channel.3.units", "7", [](const Scenario& s) { return s.channels[2].units == 7; }},
      {"channel.3.range", "1,2", [](const Scenario& s) { return s.channels[2].lowerRange == 1 && s.channels[2].upperRange == 2; }},
      {"channel.3.damping", "2", [](const Scenario& s) { return s.channels[2].damping == 2; }},
      {"channel.3.function", "square_root", [](const Scenario& s) { return s.channels[2].function == quarnsim::TransferFunction::SquareRoot; }},
      {"channel.3.output", "0-5", [](const Scenario& s) { return s.channels[2].output == quarnsim::OutputType::mA0_5; }},
      {"channel.3.output", "5-0", [](const Scenario& s) { return s.channels[2].output == quarnsim::OutputType::mA5_0; }},
      {"channel.3.error_percent", "1.5", [](const Scenario& s) { return s.channels[2].errorPercent == 1.5; }},
      {"channel.3.drift_percent_per_hour", "0.5", [](const Scenario& s) { return s.channels[2].driftPercentPerHour == 0.5; }},
      {"channel.3.sensor_error", "0.9, 1.002", [](const Scenario& s) { return s.channels[2].sensorTrimOffsetKPa == 0.9 && s.channels[2].sensorTrimGain == 1.002; }},
      {"channel.3.output_error", "-0.05, 0.995", [](const Scenario& s) { return s.channels[2].analogOffset == -0.05 && s.channels[2].analogGain == 0.995; }},
      {"channel.3.trim_ignored", "yes", [](const Scenario& s) { return s.channels[2].faults.trimIgnored; }},
      {"channel.3.refuse_45", "yes", [](const Scenario& s) { return s.channels[2].refuseCommand45; }},
      {"channel.3.write_protected", "yes", [](const Scenario& s) { return s.channels[2].writeProtected; }},
      {"channel.3.silent", "yes", [](const Scenario& s) { return s.channels[2].faults.silent; }},
      {"channel.3.hart_bad_checksum", "yes", [](const Scenario& s) { return s.channels[2].faults.badChecksum; }},
      {"channel.3.hart_truncated", "yes", [](const Scenario& s) { return s.channels[2].faults.truncated; }},
      {"channel.3.hart_error", "1:2:3", [](const Scenario& s) { return s.channels[2].faults.errorCommand == 1 && s.channels[2].faults.errorCode == 2 && s.channels[2].faults.errorCount == 3; }},
      {"channel.3.request_preambles", "20", [](const Scenario& s) { return s.channels[2].requestPreambles == 20; }},
      {"channel.3.hart_stop_after", "4", [](const Scenario& s) { return s.channels[2].faults.stopAfterRequests == 4; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << " = " << c.value);
    Scenario s;
    ASSERT_EQ(quarnsim::applySetting(s, c.key, c.value), "");
    EXPECT_TRUE(c.set(s));
  }
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
      {"require_remote = maybe", "line 1: bad value for require_remote: 'maybe'"},
      {"ready_band1 = x", "line 1: bad value for ready_band1: 'x'"},
      {"version = 3", "line 1: bad value for version: '3'"},
      {"dorv.range = 1", "line 1: bad value for dorv.range: '1'"},
      {"dorv.serial = -1", "line 1: bad value for dorv.serial: '-1'"},
      {"hart_addresses = 1,2,3,4,5", "line 1: bad value for hart_addresses: '1,2,3,4,5'"},
      {"kesto.status.1 = 4", "line 1: bad value for kesto.status.1: '4'"},
      {"kesto.status.1.x = 1", "line 1: unknown key: kesto.status.1.x"},
      {"switch.2 = 1,2,sideways", "line 1: bad value for switch.2: '1,2,sideways'"},
      {"operator.points = 1,x", "line 1: bad value for operator.points: '1,x'"},
      {"channel.1.function = cubic", "line 1: bad value for channel.1.function: 'cubic'"},
      {"channel.1.output = 4-21", "line 1: bad value for channel.1.output: '4-21'"},
      {"channel.1.hart_error = 1", "line 1: bad value for channel.1.hart_error: '1'"},
      {"channel.1.sensor_error = 1", "line 1: bad value for channel.1.sensor_error: '1'"},
      {"channel.1.sensor_error = 0, 0", "line 1: bad value for channel.1.sensor_error: '0, 0'"},
      {"channel.2.output_error = 0.1, 2", "line 1: bad value for channel.2.output_error: '0.1, 2'"},
      {"channel.2.output_error = 5, 1", "line 1: bad value for channel.2.output_error: '5, 1'"},
      {"channel.1.colour = red", "line 1: unknown key: channel.1.colour"},
      // Values their fields cannot hold are refused, not wrapped.
      {"turnaround_ms = 2e121", "line 1: bad value for turnaround_ms: '2e121'"},
      {"channel.3.turnaround_ms = 0-1e300", "line 1: bad value for channel.3.turnaround_ms: '0-1e300'"},
      {"fault = kesto late 1e300", "line 1: bad fault option: '1e300'"},
      {"fault = kesto silent cmd=1e300", "line 1: bad fault option: 'cmd=1e300'"},
      {"fault = kesto silent nth=1e300", "line 1: bad fault option: 'nth=1e300'"},
      {"channel.1.hart_stop_after = 3000000000",
       "line 1: bad value for channel.1.hart_stop_after: '3000000000'"},
      {"dorv.baud = 5000000000", "line 1: bad value for dorv.baud: '5000000000'"},
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
