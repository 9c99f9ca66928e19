// The bench's answers read back with the test's own parser: measuring answers of both models,
// valves and regulation, zero adjustment, the Kesto module's data file, contact inputs and HART
// channel switch, the Dorv transducer on its own port and as the Quarn reports it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "quarnsim/engine.h"
#include "sim_line_io.h"

namespace {

using quarnsim::Engine;
using quarnsim::Model;
using quarnsim::Scenario;
using simtest::Host;

Scenario quiet(Model model = Model::Quarn) {
  Scenario s;
  s.model = model;
  s.noiseKPa = 0;
  s.baroNoiseKPa = 0;
  s.dorvNoiseKPa = 0;
  s.requireRemote = false;
  return s;
}

std::vector<float> floatsOf(const std::string& hex) {
  std::vector<float> out;
  for (size_t i = 0; i + 8 <= hex.size(); i += 8) out.push_back(simtest::hexFloat(hex.substr(i, 8)));
  return out;
}

TEST(SimMeasuring, QuarnAnswerCarriesPressureTextsAndStateWord) {
  struct Case {
    int units, decimals;
    double kPa;
    bool input, vent;
    std::string pText, baroText;
    int state;
  } cases[] = {
      {0, 2, 100.0, true, false, "100.00", "101.33", 5},  // low-range module (bit 0), input open (bit 2)
      {1, 3, 600.0, false, true, "0.600", "0.101", 2},    // MPa; high-range module, vent open (bit 1)
      {2, 1, -50.0, false, false, "-0.5", "1.0", 1},      // bar
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pText);
    Scenario s = quiet();
    s.units = c.units;
    s.decimals = c.decimals;
    s.initialKPa = c.kPa;
    s.sourceKPa = c.kPa;  // the valves do not move the pressure in this case
    s.ventTauS = 1e9;
    Engine bench(s);
    Host host(bench.calibratorPort());
    ASSERT_EQ(host.exchange("1;3;" + std::to_string(c.input) + ";" + std::to_string(c.vent) + ";").fields,
              (std::vector<std::string>{c.input ? "1" : "0", c.vent ? "1" : "0"}));
    const auto a = host.exchange("1;1;");
    ASSERT_TRUE(a.arrived());
    ASSERT_TRUE(a.checksumOk);
    ASSERT_EQ(a.fields.size(), 5u);
    EXPECT_NEAR(simtest::hexFloat(a.fields[0]), c.kPa, 1e-3);
    EXPECT_EQ(a.fields[1], c.pText);
    EXPECT_EQ(a.fields[2], c.baroText);
    EXPECT_EQ(std::stoi(a.fields[4]), c.state);
  }
}

TEST(SimMeasuring, QuarnReadingMatchesThePressureServed) {
  Scenario s = quiet();
  s.initialKPa = 250.0;
  s.inputTauS = 0;  // the source holds the pressure exactly
  s.sourceKPa = 250.0;
  Engine bench(s);
  Host host(bench.calibratorPort());
  host.exchange("1;3;1;0;");
  const auto a = host.exchange("1;1;");
  ASSERT_TRUE(a.arrived() && a.fields.size() == 5);
  EXPECT_FLOAT_EQ(simtest::hexFloat(a.fields[0]), 250.0f);
  EXPECT_EQ(a.fields[1], "250.000");
  EXPECT_EQ(a.fields[3], "0.000");  // no change of pressure
}

TEST(SimMeasuring, AbsolutePressureTypeAddsTheBarometer) {
  Scenario s = quiet(Model::Brenk);
  s.pressType = 0;
  s.initialKPa = 10.0;
  Engine bench(s);
  Host host(bench.calibratorPort());
  const auto a = host.exchange("1;1;");
  ASSERT_TRUE(a.arrived() && a.fields.size() == 2);
  EXPECT_NEAR(simtest::hexFloat(a.fields[0]), 10.0 + s.baroKPa, 1e-3);
  EXPECT_NEAR(simtest::hexFloat(a.fields[1]), s.baroKPa, 1e-3);
}

TEST(SimPressure, QuarnValvesMoveThePressureTowardsSourceAndAtmosphere) {
  Scenario s = quiet();
  s.sourceKPa = 400;
  s.inputTauS = 1.0;
  s.ventTauS = 0.5;
  Engine bench(s);
  Host host(bench.calibratorPort());
  host.exchange("1;3;1;0;");
  host.wait(10000);
  bench.advanceTo(host.now());
  EXPECT_NEAR(bench.pressureKPa(), 400, 0.1);
  host.exchange("1;3;0;0;");
  host.wait(5000);
  bench.advanceTo(host.now());
  EXPECT_NEAR(bench.pressureKPa(), 400, 0.1);  // closed: the pressure stays
  host.exchange("1;3;0;1;");
  host.wait(10000);
  bench.advanceTo(host.now());
  EXPECT_NEAR(bench.pressureKPa(), 0, 0.1);
}

TEST(SimPressure, BrenkRegulatesTowardsTheSetpointAtItsRate) {
  Scenario s = quiet(Model::Brenk);
  s.requireRemote = true;
  s.regRateKPaS = 50;
  Engine bench(s);
  Host host(bench.calibratorPort());
  EXPECT_EQ(host.exchange("1;2;0000C843;").error, 4);  // not in remote operation yet
  host.exchange("1;8;1;");
  EXPECT_EQ(host.exchange("1;2;0000C843;").error, 0);  // 400.0
  const uint32_t t0 = host.now();
  EXPECT_EQ(host.exchange("1;3;1;").error, 0);
  host.wait(2000);
  bench.advanceTo(host.now());
  EXPECT_LE(bench.pressureKPa(), 50 * (host.now() - t0) / 1000.0);  // no faster than the regulator allows
  EXPECT_GT(bench.pressureKPa(), 50);
  host.wait(20000);
  const auto a = host.exchange("1;1;");
  ASSERT_TRUE(a.arrived());
  EXPECT_NEAR(simtest::hexFloat(a.fields[0]), 400, 0.01);
  // The settings text reports the mode and the setpoint in force.
  const auto settings = host.exchange("1;16;");
  EXPECT_EQ(settings.fields[5], "1");
  EXPECT_EQ(settings.fields[6], "0000C843");
  // Setpoints the regulator cannot take are refused and change nothing.
  EXPECT_EQ(host.exchange("1;2;0000C07F;").error, 6);  // NaN
  EXPECT_EQ(host.exchange("1;2;00409C46;").error, 6);  // 20000, beyond the working range
  EXPECT_EQ(bench.setpointKPa(), 400);
  EXPECT_EQ(host.exchange("1;3;2;").error, 0);
  host.wait(20000);
  bench.advanceTo(host.now());
  EXPECT_NEAR(bench.pressureKPa(), 0, 0.01);
}

TEST(SimPressure, ZeroAdjustmentOnlyWhileVented) {
  Scenario s = quiet();
  s.zeroOffsetKPa = 0.8;
  Engine bench(s);
  Host host(bench.calibratorPort());
  EXPECT_EQ(host.exchange("1;4;").error, 5);  // not open to the atmosphere
  EXPECT_NEAR(simtest::hexFloat(host.exchange("1;1;").fields[0]), 0.8, 1e-4);
  host.exchange("1;3;0;1;");
  EXPECT_EQ(host.exchange("1;4;").error, 0);
  EXPECT_NEAR(simtest::hexFloat(host.exchange("1;1;").fields[0]), 0.0, 1e-4);
}

TEST(SimPressure, OperatorScriptWalksThePointsUnattended) {
  Scenario s = quiet();
  s.operatorScript.pointsKPa = {100, 300};
  s.operatorScript.dwellS = 5;
  s.inputTauS = 1.0;
  Engine bench(s);
  Host host(bench.calibratorPort());
  host.wait(8000);
  auto a = host.exchange("1;1;");
  EXPECT_NEAR(simtest::hexFloat(a.fields[0]), 100, 0.5);
  EXPECT_EQ(std::stoi(a.fields[4]) & 4, 4);  // the operator opened the input valve
  host.wait(15000);
  a = host.exchange("1;1;");
  EXPECT_NEAR(simtest::hexFloat(a.fields[0]), 300, 0.5);
}

class SimKesto : public ::testing::Test {
 protected:
  std::vector<float> readCurrents(Host& host) {
    EXPECT_EQ(host.exchange("3;40;1;").error, 0);
    EXPECT_EQ(host.exchange("3;41;16;0;").error, 0);
    const auto a = host.exchange("3;42;16;");
    EXPECT_TRUE(a.arrived() && a.fields.size() == 1);
    return a.arrived() && !a.fields.empty() ? floatsOf(a.fields[0]) : std::vector<float>{};
  }
  uint16_t readStatus(Host& host) {
    host.exchange("3;40;1;");
    host.exchange("3;41;56;0;");
    const auto a = host.exchange("3;42;2;");
    const std::string& hex = a.fields.at(0);
    return static_cast<uint16_t>(std::stoul(hex.substr(0, 2), nullptr, 16) |
                                 std::stoul(hex.substr(2, 2), nullptr, 16) << 8);
  }
};

TEST_F(SimKesto, FileOneHoldsTheLoopCurrentsOfTheChannels) {
  Scenario s = quiet();
  s.initialKPa = 300;  // half of 0..600 kPa
  s.channels[1].output = quarnsim::OutputType::mA20_4;
  s.channels[2].errorPercent = 0.5;
  s.channels[3].present = false;
  Engine bench(s);
  Host host(bench.calibratorPort());
  host.wait(10000);  // let the damping settle
  const auto currents = readCurrents(host);
  ASSERT_EQ(currents.size(), 4u);
  EXPECT_NEAR(currents[0], 12.0, 1e-3);
  EXPECT_NEAR(currents[1], 12.0, 1e-3);
  EXPECT_NEAR(currents[2], 12.0 + 0.005 * 16, 1e-3);
  EXPECT_EQ(currents[3], 0.0f);
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_FLOAT_EQ(currents[ch], static_cast<float>(bench.transmitter(ch).loopCurrent()));
  // Channel 4 has no loop: its two status bits say so.
  EXPECT_EQ(readStatus(host), 0x0040);
}

// The data file behaves as a file: each read goes on where the last one stopped, a seek or an open
// puts the position back. A host that reads again without seeking gets the bytes after the currents.
TEST_F(SimKesto, EachReadMovesTheFilePositionOn) {
  Scenario s = quiet();
  s.initialKPa = 300;
  s.channels[3].present = false;  // status word 0x0040 at bytes 56-57
  Engine bench(s);
  Host host(bench.calibratorPort());
  host.wait(10000);
  const auto currents = readCurrents(host);  // open, seek 16, read 16
  ASSERT_EQ(currents.size(), 4u);
  EXPECT_NEAR(currents[0], 12.0, 1e-3);
  EXPECT_EQ(host.exchange("3;42;16;").fields.at(0), std::string(32, '0'));  // bytes 32-47
  const std::string tail = host.exchange("3;42;16;").fields.at(0);          // bytes 48-63
  EXPECT_EQ(tail,
            "0000000000000000"
            "4000"
            "000000000000");
  EXPECT_EQ(host.exchange("3;42;16;").fields.at(0), "") << "nothing is left after the end";
  host.exchange("3;40;1;");
  EXPECT_EQ(host.exchange("3;42;16;").fields.at(0), std::string(32, '0')) << "open starts at 0";
  EXPECT_NEAR(floatsOf(host.exchange("3;42;16;").fields.at(0)).at(0), 12.0, 1e-3);
}

TEST_F(SimKesto, InputTypeDescriptorSwitchesReadingsToTenths) {
  Scenario s = quiet();
  s.initialKPa = 150;  // 8 mA
  Engine bench(s);
  Host host(bench.calibratorPort());
  host.wait(10000);
  EXPECT_NEAR(readCurrents(host)[0], 8.0, 1e-3);
  // The host's descriptor write: identify, position 35, 23 bytes, close.
  EXPECT_EQ(host.exchange("3;0;").fields.at(0), std::to_string(s.kestoDeviceType));
  EXPECT_EQ(host.exchange("3;41;35;0;").error, 0);
  EXPECT_EQ(host.exchange("3;43;060C0000C84200007A4400000000000070420000C8416A;").error, 0);
  EXPECT_EQ(host.exchange("3;44;0;").error, 0);
  EXPECT_EQ(bench.kestoInputType(), 6);
  EXPECT_NEAR(readCurrents(host)[0], 80.0, 1e-2);
}

TEST_F(SimKesto, RequestsOutsideTheFileAreRefused) {
  Engine bench(quiet());
  Host host(bench.calibratorPort());
  struct Case {
    std::string payload;
    int error;
  } cases[] = {
      {"3;40;2;", 7},     // no such file
      {"3;41;64;0;", 6},  // beyond the end
      {"3;42;33;", 6},    // more than one read may carry
      {"3;43;0G;", 2},    // not hexadecimal
      {"3;5;4;", 6},      // channels are 0..3
      {"3;1;11;", 3},     // no such input group
      {"3;77;", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    EXPECT_EQ(host.exchange(c.payload).error, c.error);
  }
  // A read at the end of the file returns what is left.
  host.exchange("3;41;60;0;");
  EXPECT_EQ(host.exchange("3;42;16;").fields.at(0).size(), 8u);
}

TEST_F(SimKesto, PressureSwitchesDriveTheContactInputs) {
  Scenario s = quiet();
  s.switches[0] = {true, 100.0, 4.0, true};    // channel 1, relay 1: closes at 100, opens at 96
  s.switches[3] = {true, 200.0, 10.0, false};  // channel 2, relay 2: opens at 200, closes again at 190
  Engine bench(s);
  Host host(bench.calibratorPort());
  struct Step {
    double kPa;
    int inputs;
  } steps[] = {
      {50, 0xFF & ~0x08},  // below both: relay 1 open, the opening switch closed
      {99, 0xFF & ~0x08}, {100, 0xFF & ~0x09}, {98, 0xFF & ~0x09},  // hysteresis keeps it closed
      {96, 0xFF & ~0x08}, {205, 0xFF & ~0x01}, {195, 0xFF & ~0x01}, {190, 0xFF & ~0x09},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.kPa);
    bench.setPressureKPa(step.kPa);
    host.wait(50);
    bench.advanceTo(host.now());
    const auto a = host.exchange("3;1;10;");
    ASSERT_TRUE(a.arrived());
    EXPECT_EQ(std::stoi(a.fields.at(0)), step.inputs);
  }
}

// A HART command 40 (fixed current) to channel 3's transmitter, sent through the modem.
std::vector<uint8_t> hartFixedCurrent(const quarnsim::TransmitterConfig& c, float mA) {
  std::vector<uint8_t> f{0x82,
                         static_cast<uint8_t>(0x80 | ((c.expandedDeviceType >> 8) & 0x3F)),
                         static_cast<uint8_t>(c.expandedDeviceType & 0xFF),
                         static_cast<uint8_t>(c.deviceId >> 16),
                         static_cast<uint8_t>(c.deviceId >> 8),
                         static_cast<uint8_t>(c.deviceId),
                         40,
                         4};
  uint32_t bits;
  std::memcpy(&bits, &mA, 4);
  for (int i = 3; i >= 0; --i) f.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  uint8_t x = 0;
  for (uint8_t b : f) x ^= b;
  f.push_back(x);
  f.insert(f.begin(), 5, 0xFF);
  return f;
}

TEST_F(SimKesto, FixedCurrentModeOfAHartTransmitterShowsInTheDataFile) {
  Scenario s = quiet();
  s.initialKPa = 300;
  Engine bench(s);
  Host host(bench.calibratorPort());
  host.wait(5000);
  EXPECT_EQ(host.exchange("3;5;2;").error, 0);
  EXPECT_EQ(bench.selectedChannel(), 2);

  host.port().setLine(1200, 1, 2);  // HART line mode
  host.send(hartFixedCurrent(bench.scenario().channels[2], 17.25f));
  host.wait(1000);
  const std::string answer = host.take();
  ASSERT_GT(answer.size(), 10u);
  EXPECT_EQ(static_cast<uint8_t>(answer[5]), 0x86);  // long-frame answer of the transmitter
  EXPECT_TRUE(bench.transmitter(2).fixedCurrentMode());

  host.port().setLine(9600, 0, 2);
  host.wait(100);
  const auto currents = readCurrents(host);
  ASSERT_EQ(currents.size(), 4u);
  EXPECT_NEAR(currents[2], 17.25, 1e-3);
  EXPECT_NEAR(currents[0], 12.0, 1e-2);  // the other loops are untouched
}

TEST_F(SimKesto, ASilentBenchPassesNoHartTrafficEither) {
  Scenario s = quiet();
  ASSERT_EQ(quarnsim::applySetting(s, "fault", "any silent after=1"), "");
  Engine bench(s);
  Host host(bench.calibratorPort());
  EXPECT_EQ(host.exchange("3;5;1;").error, 0);  // the last request answered
  host.port().setLine(1200, 1, 2);
  host.send(hartFixedCurrent(bench.scenario().channels[1], 9.0f));
  host.wait(1000);
  EXPECT_EQ(host.take(), "");
  EXPECT_FALSE(bench.transmitter(1).fixedCurrentMode());
}

TEST(SimDorv, OwnPortIdentityRegistersAndMeasurement) {
  Scenario s = quiet(Model::Brenk);
  s.initialKPa = 250;
  s.dorvUnit = 0;  // MPa
  s.dorvType = 81;
  s.dorvPressType = 1;
  s.dorvSerial = 0x12345678;
  Engine bench(s);
  Host host(bench.dorvPort());
  host.port().setLine(9600, 0, 2);
  EXPECT_EQ(host.exchange("0;0;").fields.at(0), "81");
  EXPECT_EQ(host.exchange("0;37;31;").fields.at(0), "1");
  EXPECT_FLOAT_EQ(simtest::hexFloat(host.exchange("0;37;34;").fields.at(0)), 2500.0f);
  EXPECT_FLOAT_EQ(simtest::hexFloat(host.exchange("0;37;4C;").fields.at(0)), 0.0f);
  EXPECT_EQ(host.exchange("0;37;1E;").fields.at(0), "0");
  EXPECT_EQ(host.exchange("0;37;8B;").fields.at(0), "78563412");  // little-endian, as floats travel
  EXPECT_EQ(host.exchange("0;37;99;").error, 3);
  EXPECT_EQ(host.exchange("0;1;0;").fields.at(0), "0.250000");
  EXPECT_EQ(host.exchangeRaw("1;0;"), "");  // the Dorv answers only at its own address
  // The calibrator's line does not carry the Dorv.
  Host calibrator(bench.calibratorPort());
  EXPECT_EQ(calibrator.exchangeRaw("0;0;"), "");
}

TEST(SimDorv, FixedDataTypeReportsKiloPascalAndHasNoRegisters) {
  Scenario s = quiet(Model::Brenk);
  s.initialKPa = 250;
  s.dorvType = 13;
  s.dorvUnit = 0;
  Engine bench(s);
  Host host(bench.dorvPort());
  EXPECT_EQ(host.exchange("0;1;0;").fields.at(0), "250.000000");
  EXPECT_EQ(host.exchange("0;37;31;").error, 1);
}

TEST(SimDorv, QuarnReportsTheAttachedTransducerAndMeasuresWithIt) {
  Scenario s = quiet();
  s.dorvOnQuarn = true;
  s.dorvHighKPa = 2500;
  s.initialKPa = 42;
  Engine bench(s);
  Host host(bench.calibratorPort());
  const auto state = host.exchange("1;5;");
  ASSERT_TRUE(state.arrived());
  ASSERT_EQ(state.fields.size(), 5u);
  EXPECT_EQ(state.fields[0], "1");
  EXPECT_EQ(state.fields[1], std::to_string(s.dorvPressType));
  EXPECT_EQ(std::stod(state.fields[3]), 2500.0);
  EXPECT_EQ(state.fields[4], std::to_string(s.dorvSerial));
  // With the Dorv chosen as the reference the measuring answer carries its reading.
  host.exchange("1;17;3;0;1;0;3;5;CDCC4C3D;CDCC4C3D;", 500);
  EXPECT_NEAR(simtest::hexFloat(host.exchange("1;1;").fields.at(0)), 42.0, 1e-3);

  // Without an attached Dorv the Quarn answers with an error block and still sends its state word.
  Scenario n = quiet();
  n.refSource = 3;
  Engine none(n);
  Host h2(none.calibratorPort());
  const auto a = h2.exchange("1;1;");
  ASSERT_TRUE(a.arrived());
  EXPECT_NE(a.error, 0);
  ASSERT_EQ(a.fields.size(), 5u);
  EXPECT_EQ(h2.exchange("1;5;").fields.at(0), "0");
}

}  // namespace
