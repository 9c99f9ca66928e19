// A simulated transmitter on the wire: addressing, identity, analog output, configuration writes,
// trims and refusals, driven with request frames as a HART master writes them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "hart_codec.h"
#include "quarnsim/transmitter.h"
#include "simhart_frames.h"

using namespace simhart_test;
using quarnsim::OutputType;
using quarnsim::TransferFunction;
using quarnsim::Transmitter;
using quarnsim::TransmitterConfig;
using Bytes = std::vector<uint8_t>;

namespace {

TransmitterConfig baseConfig() {
  TransmitterConfig c;
  c.expandedDeviceType = 0x9906;
  c.deviceId = 0x000107;
  c.damping = 0;
  c.lowerRange = 0;
  c.upperRange = 600;
  c.lowerSensorLimit = -100;
  c.upperSensorLimit = 1000;
  return c;
}

void longAddressOf(const TransmitterConfig& c, uint8_t out[5]) {
  out[0] = static_cast<uint8_t>((c.expandedDeviceType >> 8) | 0x80);
  out[1] = static_cast<uint8_t>(c.expandedDeviceType);
  out[2] = static_cast<uint8_t>(c.deviceId >> 16);
  out[3] = static_cast<uint8_t>(c.deviceId >> 8);
  out[4] = static_cast<uint8_t>(c.deviceId);
}

Answer ask(Transmitter& t, uint8_t command, const Bytes& data = {}) {
  uint8_t address[5];
  longAddressOf(t.config(), address);
  return readAnswer(t.handleFrame(longRequest(address, command, data)));
}

// Asks and expects a good answer; returns its data.
Bytes askOk(Transmitter& t, uint8_t command, const Bytes& data = {}) {
  const Answer a = ask(t, command, data);
  EXPECT_TRUE(a.valid) << "command " << int(command);
  EXPECT_EQ(a.responseCode, 0) << "command " << int(command);
  return a.data;
}

// How the host turns a channel current back into a pressure and a reduced error.
double hostReducedError(double current, double lowMa, double highMa, double lower, double upper,
                        bool squareRoot, double referenceKPa, double toKPa) {
  const double x = (current - lowMa) / (highMa - lowMa);
  const double p = lower + (squareRoot ? (x < 0 ? -x * x : x * x) : x) * (upper - lower);
  return (p * toKPa - referenceKPa) / ((upper - lower) * toKPa) * 100.0;
}

}  // namespace

TEST(SimHartTransmitter, OnlyTheAddressedDeviceAnswers) {
  TransmitterConfig atZero = baseConfig();
  TransmitterConfig atFive = baseConfig();
  atFive.pollingAddress = 5;
  atFive.deviceId = 0x000108;
  TransmitterConfig bit6 = baseConfig();
  bit6.expandedDeviceType = 0x4501;  // bit 6 of the high byte travels in the first address byte
  Transmitter t0(atZero), t5(atFive), t6(bit6);

  const std::vector<uint8_t> poll0{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x80, 0x00, 0x00, 0x82, 0xFF};
  ASSERT_EQ(shortPoll(0), poll0);
  const Answer a = readAnswer(t0.handleFrame(poll0));
  ASSERT_TRUE(a.valid);
  EXPECT_EQ(a.delimiter, 0x06);
  EXPECT_EQ(a.address, Bytes{0x80});
  EXPECT_EQ(a.command, 0);
  EXPECT_TRUE(t5.handleFrame(poll0).empty());
  EXPECT_TRUE(t0.handleFrame(shortPoll(5)).empty());
  EXPECT_TRUE(readAnswer(t5.handleFrame(shortPoll(5))).valid);

  uint8_t address[5];
  longAddressOf(atZero, address);
  const Answer longAnswer = readAnswer(t0.handleFrame(longRequest(address, 0)));
  ASSERT_TRUE(longAnswer.valid);
  EXPECT_EQ(longAnswer.delimiter, 0x86);
  EXPECT_EQ(longAnswer.address, Bytes(address, address + 5));
  EXPECT_TRUE(t5.handleFrame(longRequest(address, 0)).empty()) << "other device id";

  const struct {
    const char* what;
    int index;
    uint8_t value;
  } wrong[] = {{"device id", 4, 0x08}, {"device type", 1, 0x07}, {"manufacturer", 0, 0x98}};
  for (const auto& w : wrong) {
    uint8_t other[5];
    longAddressOf(atZero, other);
    other[w.index] = w.value;
    EXPECT_TRUE(t0.handleFrame(longRequest(other, 0)).empty()) << w.what;
  }

  uint8_t bit6Address[5];
  longAddressOf(bit6, bit6Address);
  ASSERT_EQ(bit6Address[0], 0xC5);
  EXPECT_TRUE(readAnswer(t6.handleFrame(longRequest(bit6Address, 0))).valid);

  // A corrupted checksum, a short frame for anything but command 0 and an absent device: silence.
  Bytes corrupted = longRequest(address, 0);
  corrupted[corrupted.size() - 2] ^= 0x01;
  EXPECT_TRUE(t0.handleFrame(corrupted).empty());
  Bytes shortCommand1{0xFF, 0xFF, 0x02, 0x80, 0x01, 0x00};
  shortCommand1.push_back(0x02 ^ 0x80 ^ 0x01);
  EXPECT_TRUE(t0.handleFrame(shortCommand1).empty());
  t0.config().present = false;
  EXPECT_TRUE(t0.handleFrame(poll0).empty());
  t0.config().present = true;
  t0.config().hart = false;
  EXPECT_TRUE(t0.handleFrame(poll0).empty());
}

TEST(SimHartTransmitter, IdentityAnswerFollowsTheRevision) {
  TransmitterConfig c = baseConfig();
  c.hardwareRevision = 21;
  c.physicalSignaling = 1;
  c.deviceRevision = 3;
  c.softwareRevision = 9;
  c.manufacturerId = 0x1234;
  c.privateLabelId = 0x5678;
  c.deviceProfile = 2;
  c.responsePreambles = 7;

  c.hartRevision = 5;
  Transmitter rev5(c);
  const Answer a5 = readAnswer(rev5.handleFrame(shortPoll(0)));
  ASSERT_TRUE(a5.valid);
  EXPECT_EQ(a5.data, (Bytes{254, 0x99, 0x06, 5, 5, 3, 9, 0xA9, 0, 0x00, 0x01, 0x07}));
  EXPECT_EQ(a5.preambles, 5u);

  c.hartRevision = 7;
  Transmitter rev7(c);
  const Answer a7 = readAnswer(rev7.handleFrame(shortPoll(0)));
  ASSERT_TRUE(a7.valid);
  ASSERT_EQ(a7.data.size(), 22u);
  EXPECT_EQ(Bytes(a7.data.begin(), a7.data.begin() + 12),
            (Bytes{254, 0x99, 0x06, 5, 7, 3, 9, 0xA9, 0, 0x00, 0x01, 0x07}));
  EXPECT_EQ(a7.data[12], 7);                                          // response preambles
  EXPECT_EQ(a7.data[13], 4);                                          // device variables
  EXPECT_EQ((Bytes{a7.data[17], a7.data[18]}), (Bytes{0x12, 0x34}));  // manufacturer
  EXPECT_EQ((Bytes{a7.data[19], a7.data[20]}), (Bytes{0x56, 0x78}));  // private label
  EXPECT_EQ(a7.data[21], 2);
  EXPECT_EQ(a7.preambles, 7u);

  // The long address a host builds from the answer reaches the device.
  const uint8_t derived[5] = {static_cast<uint8_t>(a7.data[1] | 0x80), a7.data[2], a7.data[9], a7.data[10],
                              a7.data[11]};
  EXPECT_TRUE(readAnswer(rev7.handleFrame(longRequest(derived, 13))).valid);

  // Commands a revision 5 device does not know.
  for (uint8_t command : {7, 8, 38}) {
    EXPECT_EQ(ask(rev5, command).responseCode, 64) << int(command);
    EXPECT_EQ(ask(rev7, command).responseCode, 0) << int(command);
  }
}

TEST(SimHartTransmitter, OutputFollowsRangeTypeAndTransferFunction) {
  const struct {
    OutputType output;
    TransferFunction function;
    uint8_t units;
    double lower, upper, kPa, expected;
  } cases[] = {
      {OutputType::mA4_20, TransferFunction::Linear, 12, 0, 600, 150, 8.0},
      {OutputType::mA4_20, TransferFunction::SquareRoot, 12, 0, 600, 150, 12.0},
      {OutputType::mA20_4, TransferFunction::Linear, 12, 0, 600, 150, 16.0},
      {OutputType::mA0_5, TransferFunction::Linear, 12, 0, 600, 150, 1.25},
      {OutputType::mA5_0, TransferFunction::Linear, 12, 0, 600, 150, 3.75},
      {OutputType::Voltage, TransferFunction::Linear, 12, 0, 600, 150, 2.5},
      {OutputType::mA4_20, TransferFunction::Linear, 7, 0, 6, 300, 12.0},       // bar
      {OutputType::mA4_20, TransferFunction::Linear, 237, 0, 1.6, 800, 12.0},   // MPa
      {OutputType::mA4_20, TransferFunction::Linear, 12, -50, 50, 0, 12.0},     // range across zero
      {OutputType::mA4_20, TransferFunction::Linear, 12, 600, 0, 150, 16.0},    // reversed range
      {OutputType::mA4_20, TransferFunction::Linear, 12, 0, 600, 700, 20.5},    // saturates high
      {OutputType::mA4_20, TransferFunction::Linear, 12, 0, 600, -100, 3.8},    // saturates low
      {OutputType::mA4_20, TransferFunction::SquareRoot, 12, 0, 600, -6, 3.8},  // below zero: limited
  };
  for (const auto& c : cases) {
    TransmitterConfig config = baseConfig();
    config.output = c.output;
    config.function = c.function;
    config.units = c.units;
    config.lowerRange = c.lower;
    config.upperRange = c.upper;
    Transmitter t(config);
    t.setPressure(c.kPa, 0);
    EXPECT_NEAR(t.loopCurrent(), c.expected, 1e-9) << int(c.output) << " " << int(c.function) << " " << c.kPa;
  }
}

TEST(SimHartTransmitter, ConfiguredErrorIsTheReducedErrorTheHostComputes) {
  const struct {
    OutputType output;
    TransferFunction function;
    uint8_t units;
    double lower, upper, lowMa, highMa, kPa, errorPercent;
  } cases[] = {
      {OutputType::mA4_20, TransferFunction::Linear, 12, 0, 600, 4, 20, 300, 0.5},
      {OutputType::mA4_20, TransferFunction::SquareRoot, 12, 0, 600, 4, 20, 150, -0.25},
      {OutputType::mA20_4, TransferFunction::Linear, 12, 0, 600, 20, 4, 450, 1.0},
      {OutputType::mA0_5, TransferFunction::Linear, 7, 0, 2.5, 0, 5, 100, 0.2},
      {OutputType::mA5_0, TransferFunction::SquareRoot, 237, 0, 1, 5, 0, 640, -0.4},
  };
  for (const auto& c : cases) {
    TransmitterConfig config = baseConfig();
    config.output = c.output;
    config.function = c.function;
    config.units = c.units;
    config.lowerRange = c.lower;
    config.upperRange = c.upper;
    config.errorPercent = c.errorPercent;
    Transmitter t(config);
    t.setPressure(c.kPa, 0);
    const double toKPa = quarnsim::hart::pressureUnitToKPa(c.units);
    EXPECT_NEAR(hostReducedError(t.loopCurrent(), c.lowMa, c.highMa, c.lower, c.upper,
                                 c.function == TransferFunction::SquareRoot, c.kPa, toKPa),
                c.errorPercent, 1e-9)
        << int(c.output) << " " << c.kPa;
  }

  // Drift adds its share per hour.
  TransmitterConfig config = baseConfig();
  config.errorPercent = 0.1;
  config.driftPercentPerHour = 0.2;
  Transmitter t(config);
  t.setPressure(300, 100);
  t.advance(100 + 1800);
  EXPECT_NEAR(hostReducedError(t.loopCurrent(), 4, 20, 0, 600, false, 300, 1), 0.2, 1e-9);
}

TEST(SimHartTransmitter, DampingLagsThePressure) {
  TransmitterConfig config = baseConfig();
  config.damping = 2.0;
  Transmitter t(config);
  t.setPressure(0, 10);
  EXPECT_NEAR(t.loopCurrent(), 4.0, 1e-12) << "the first pressure finds the sensor settled";
  t.setPressure(600, 10);
  EXPECT_NEAR(t.loopCurrent(), 4.0, 1e-12);
  t.advance(12);
  EXPECT_NEAR(t.loopCurrent(), 4 + 16 * (1 - std::exp(-1.0)), 1e-9);
  t.advance(11);  // time running backwards changes nothing
  EXPECT_NEAR(t.loopCurrent(), 4 + 16 * (1 - std::exp(-1.0)), 1e-9);
  t.advance(40);
  EXPECT_NEAR(t.loopCurrent(), 20.0, 1e-4);
  EXPECT_NEAR(floatAt(askOk(t, 1), 1), 600.0, 1e-2);
}

TEST(SimHartTransmitter, ReadsReportTheDeviceState) {
  TransmitterConfig config = baseConfig();
  config.tag = "PT-101";
  config.descriptor = "Line 3 inlet";
  config.message = "Checked by the lab";
  config.dateDay = 9;
  config.dateMonth = 12;
  config.dateYear = 110;
  config.sensorSerial = 0x0A0B0C;
  config.damping = 1.5;
  config.function = TransferFunction::SquareRoot;
  config.upperRange = 400;
  Transmitter t(config);
  t.setPressure(100, 0);

  const Bytes pv = askOk(t, 1);
  ASSERT_EQ(pv.size(), 5u);
  EXPECT_EQ(pv[0], 12);
  EXPECT_FLOAT_EQ(floatAt(pv, 1), 100.0f);

  const Bytes cur = askOk(t, 2);
  EXPECT_FLOAT_EQ(floatAt(cur, 0), 12.0f);  // square root of 25 %
  EXPECT_FLOAT_EQ(floatAt(cur, 4), 25.0f);

  const Bytes all = askOk(t, 3);
  ASSERT_EQ(all.size(), 24u);
  EXPECT_FLOAT_EQ(floatAt(all, 0), 12.0f);
  EXPECT_EQ(all[4], 12);
  EXPECT_FLOAT_EQ(floatAt(all, 5), 100.0f);
  EXPECT_EQ(all[19], 39);

  EXPECT_EQ(askOk(t, 7), (Bytes{0, 1}));
  EXPECT_EQ(askOk(t, 8), (Bytes{65, 64, 0, 84}));

  const Bytes msg = askOk(t, 12);
  ASSERT_EQ(msg.size(), 24u);
  EXPECT_EQ(quarnsim::hart::unpackAscii(msg.data(), msg.size()), "CHECKED BY THE LAB              ");

  const Bytes tdd = askOk(t, 13);
  ASSERT_EQ(tdd.size(), 21u);
  EXPECT_EQ(quarnsim::hart::unpackAscii(tdd.data(), 6), "PT-101  ");
  EXPECT_EQ(quarnsim::hart::unpackAscii(tdd.data() + 6, 12), "LINE 3 INLET    ");
  EXPECT_EQ((Bytes{tdd[18], tdd[19], tdd[20]}), (Bytes{9, 12, 110}));

  const Bytes sensor = askOk(t, 14);
  ASSERT_EQ(sensor.size(), 16u);
  EXPECT_EQ((Bytes{sensor[0], sensor[1], sensor[2], sensor[3]}), (Bytes{0x0A, 0x0B, 0x0C, 12}));
  EXPECT_FLOAT_EQ(floatAt(sensor, 4), 1000.0f);
  EXPECT_FLOAT_EQ(floatAt(sensor, 8), -100.0f);

  const Bytes info = askOk(t, 15);
  ASSERT_EQ(info.size(), 18u);
  EXPECT_EQ((Bytes{info[0], info[1], info[2]}), (Bytes{0, 1, 12}));
  EXPECT_FLOAT_EQ(floatAt(info, 3), 400.0f);
  EXPECT_FLOAT_EQ(floatAt(info, 7), 0.0f);
  EXPECT_FLOAT_EQ(floatAt(info, 11), 1.5f);
  EXPECT_EQ(info[15], 0);

  const Bytes out = askOk(t, 128);
  ASSERT_EQ(out.size(), 10u);
  EXPECT_EQ(out[0], 1);
  EXPECT_FLOAT_EQ(floatAt(out, 2), 4.0f);
  EXPECT_FLOAT_EQ(floatAt(out, 6), 20.0f);

  const Bytes kb = askOk(t, 122);
  ASSERT_EQ(kb.size(), 8u);
  EXPECT_FLOAT_EQ(floatAt(kb, 0), 1.0f);
  EXPECT_FLOAT_EQ(floatAt(kb, 4), 0.0f);
}

TEST(SimHartTransmitter, ConfigurationWritesTakeEffect) {
  TransmitterConfig config;  // factory defaults: a 0-600 kPa device on a 2.5 MPa sensor
  config.damping = 0;
  Transmitter t(config);
  t.setPressure(800, 0);

  // Units first, then the range in the new units, as a host rewrites a device.
  EXPECT_EQ(askOk(t, 44, {237}), Bytes{237});
  const Bytes range = cat({{237}, floatBytes(1.6f), floatBytes(0.0f)});
  EXPECT_EQ(askOk(t, 35, range), range);
  Bytes info = askOk(t, 15);
  EXPECT_EQ(info[2], 237);
  EXPECT_FLOAT_EQ(floatAt(info, 3), 1.6f);
  EXPECT_NEAR(t.loopCurrent(), 12.0, 1e-5);
  EXPECT_NEAR(floatAt(askOk(t, 14), 4), 2.5f, 1e-6) << "sensor limits follow the units";

  // Range values given in other units are converted: 0..2.5 bar on an MPa device.
  const Bytes barRange{0x07, 0x40, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(askOk(t, 35, barRange), barRange);
  EXPECT_FLOAT_EQ(floatAt(askOk(t, 15), 3), 0.25f);

  askOk(t, 34, floatBytes(3.0f));
  askOk(t, 47, {1});
  info = askOk(t, 15);
  EXPECT_EQ(info[1], 1);
  EXPECT_FLOAT_EQ(floatAt(info, 11), 3.0f);

  // A new polling address: the device answers its new poll, and off address 0 (revision 7, mode 0)
  // the loop parks at 4 mA.
  EXPECT_EQ(askOk(t, 6, {5, 0}), (Bytes{5, 0}));
  EXPECT_EQ(askOk(t, 7), (Bytes{5, 0}));
  EXPECT_TRUE(t.handleFrame(shortPoll(0)).empty());
  EXPECT_TRUE(readAnswer(t.handleFrame(shortPoll(5))).valid);
  EXPECT_DOUBLE_EQ(t.loopCurrent(), 4.0);
  EXPECT_EQ(ask(t, 40, floatBytes(12.0f)).responseCode, 11) << "no fixed current in multidrop";
  EXPECT_EQ(askOk(t, 6, {0, 1}), (Bytes{0, 1}));
  EXPECT_GT(t.loopCurrent(), 4.5);

  // Tag, descriptor, date and message written in packed ASCII read back.
  const Bytes tdd =
      cat({quarnsim::hart::packAscii("FT-7", 8), quarnsim::hart::packAscii("OUTLET", 16), {1, 2, 120}});
  askOk(t, 18, tdd);
  EXPECT_EQ(askOk(t, 13), tdd);
  EXPECT_EQ(t.config().tag, "FT-7");
  const Bytes message = quarnsim::hart::packAscii("NEW MESSAGE", 32);
  askOk(t, 17, message);
  EXPECT_EQ(askOk(t, 12), message);

  // Writes raise the configuration-changed status bit; command 38 clears it.
  EXPECT_TRUE(ask(t, 1).deviceStatus & 0x40);
  askOk(t, 38);
  EXPECT_FALSE(ask(t, 1).deviceStatus & 0x40);

  // A revision 5 device takes a one-byte address write; the loop follows the address.
  TransmitterConfig rev5 = baseConfig();
  rev5.hartRevision = 5;
  Transmitter old(rev5);
  old.setPressure(300, 0);
  EXPECT_EQ(askOk(old, 6, {3}), Bytes{3});
  EXPECT_DOUBLE_EQ(old.loopCurrent(), 4.0);
  EXPECT_EQ(ask(old, 6, {16}).responseCode, 2) << "revision 5 addresses end at 15";
}

TEST(SimHartTransmitter, FixedCurrentModeDrivesTheLoop) {
  Transmitter t(baseConfig());
  t.setPressure(150, 0);
  EXPECT_DOUBLE_EQ(t.loopCurrent(), 8.0);

  const Bytes answer = askOk(t, 40, floatBytes(12.0f));
  EXPECT_FLOAT_EQ(floatAt(answer, 0), 12.0f);
  EXPECT_TRUE(t.fixedCurrentMode());
  EXPECT_DOUBLE_EQ(t.loopCurrent(), 12.0);
  t.setPressure(500, 1);
  EXPECT_DOUBLE_EQ(t.loopCurrent(), 12.0) << "the pressure no longer moves the output";
  EXPECT_TRUE(ask(t, 1).deviceStatus & 0x08);
  EXPECT_FLOAT_EQ(floatAt(askOk(t, 2), 0), 12.0f);

  EXPECT_FLOAT_EQ(floatAt(askOk(t, 40, floatBytes(0.0f)), 0), 0.0f);
  EXPECT_FALSE(t.fixedCurrentMode());
  EXPECT_NEAR(t.loopCurrent(), 4 + 16 * 500.0 / 600, 1e-9);

  // A reset also leaves fixed-current mode and reports a cold start.
  askOk(t, 40, floatBytes(20.0f));
  askOk(t, 42);
  EXPECT_FALSE(t.fixedCurrentMode());
  EXPECT_TRUE(ask(t, 1).deviceStatus & 0x20);
  EXPECT_FALSE(ask(t, 1).deviceStatus & 0x20);

  // A 0-5 mA output driven beyond its end stops at what the stage can deliver.
  TransmitterConfig lowOutput = baseConfig();
  lowOutput.output = OutputType::mA0_5;
  Transmitter t05(lowOutput);
  EXPECT_FLOAT_EQ(floatAt(askOk(t05, 40, floatBytes(4.0f)), 0), 4.0f);
  EXPECT_DOUBLE_EQ(t05.loopCurrent(), 4.0);
  askOk(t05, 40, floatBytes(20.0f));
  EXPECT_DOUBLE_EQ(t05.loopCurrent(), 6.0);
}

// The host measures the output at 4 and 20 mA first, then sends 45 and 46 with those readings.
TEST(SimHartTransmitter, LoopCurrentTrimCancelsTheOutputStageError) {
  const struct {
    double gain, offset;
  } cases[] = {{1.004, 0.05}, {1.0, -0.02}, {0.996, 0.01}, {1.0031, 0.05}};
  for (const auto& c : cases) {
    TransmitterConfig config = baseConfig();
    config.analogGain = c.gain;
    config.analogOffset = c.offset;
    Transmitter t(config);

    EXPECT_EQ(ask(t, 45, floatBytes(4.0f)).responseCode, 9) << "not in fixed-current mode";
    askOk(t, 40, floatBytes(4.0f));
    const float m4 = static_cast<float>(t.loopCurrent());
    EXPECT_NEAR(m4, c.gain * 4 + c.offset, 1e-6);
    askOk(t, 40, floatBytes(20.0f));
    const float m20 = static_cast<float>(t.loopCurrent());
    EXPECT_EQ(ask(t, 45, floatBytes(m4)).responseCode, 9) << "45 wants the low end";

    askOk(t, 40, floatBytes(4.0f));
    EXPECT_FLOAT_EQ(floatAt(askOk(t, 45, floatBytes(m4)), 0), m4);
    EXPECT_NEAR(t.loopCurrent(), 4.0, std::fabs(c.gain - 1) * 4 + 1e-5) << "the offset is corrected at once";
    askOk(t, 40, floatBytes(20.0f));
    askOk(t, 46, floatBytes(m20));

    for (float set : {4.0f, 12.0f, 20.0f}) {
      askOk(t, 40, floatBytes(set));
      EXPECT_NEAR(t.loopCurrent(), set, 1e-5) << c.gain << " " << set;
    }
    askOk(t, 40, floatBytes(0.0f));
    t.setPressure(300, 0);
    EXPECT_NEAR(t.loopCurrent(), 12.0, 1e-5);
  }

  // A zero trim alone removes a pure offset.
  TransmitterConfig config = baseConfig();
  config.analogOffset = -0.03;
  Transmitter t(config);
  askOk(t, 40, floatBytes(4.0f));
  askOk(t, 45, floatBytes(static_cast<float>(t.loopCurrent())));
  askOk(t, 40, floatBytes(20.0f));
  EXPECT_NEAR(t.loopCurrent(), 20.0, 1e-6);
}

// A device that refuses command 45 is trimmed through its output coefficients: the host reads K and
// B (122), measures the output at 4 and 20 mA, and writes K' = K (H - L) / (m20 - m4) and
// B' = B + H K - m20 K' (123).
TEST(SimHartTransmitter, DeviceSpecificTrimThroughOutputCoefficients) {
  const struct { double gain, offset; } cases[] = {{1.0, 0.1}, {0.995, -0.03}, {1.01, 0.2}};
  for (const auto& c : cases) {
    TransmitterConfig config = baseConfig();
    config.refuseCommand45 = true;
    config.analogGain = c.gain;
    config.analogOffset = c.offset;
    Transmitter t(config);

    askOk(t, 40, floatBytes(4.0f));
    const float m4 = static_cast<float>(t.loopCurrent());
    EXPECT_EQ(ask(t, 45, floatBytes(m4)).responseCode, 64);
    EXPECT_EQ(ask(t, 46, floatBytes(m4)).responseCode, 64);
    askOk(t, 40, floatBytes(20.0f));
    const float m20 = static_cast<float>(t.loopCurrent());

    const Bytes out = askOk(t, 128);
    ASSERT_EQ(out[0], 1);
    const double low = 4, high = 20;
    const Bytes kb = askOk(t, 122);
    const float k = floatAt(kb, 0), b = floatAt(kb, 4);
    const float k2 = static_cast<float>(k * std::fabs(high - low) / (m20 - m4));
    const float b2 = static_cast<float>(b + high * k - m20 * k2);
    if (c.gain == 1.0) {
      EXPECT_FLOAT_EQ(k2, 1.0f);
      EXPECT_NEAR(b2, -0.1f, 1e-5);
    }
    const Bytes written = cat({floatBytes(k2), floatBytes(b2)});
    EXPECT_EQ(askOk(t, 123, written), written);
    EXPECT_EQ(askOk(t, 122), written);

    for (float set : {4.0f, 12.0f, 20.0f}) {
      askOk(t, 40, floatBytes(set));
      EXPECT_NEAR(t.loopCurrent(), set, 2e-5) << c.gain << " " << set;
    }
  }
}

TEST(SimHartTransmitter, SensorTrimAndZeroCorrectThePrimaryVariable) {
  TransmitterConfig config = baseConfig();
  config.sensorTrimGain = 1.02;  // the sensor reads 2 % high
  Transmitter t(config);

  t.setPressure(0.012, 0);
  const Bytes lower = cat({{0, 1, 12}, floatBytes(0.012f)});
  EXPECT_EQ(askOk(t, 82, lower), lower);
  t.setPressure(500, 1);
  EXPECT_NEAR(floatAt(askOk(t, 1), 1), 510.0, 0.01);
  askOk(t, 82, cat({{0, 2, 12}, floatBytes(500.0f)}));
  t.setPressure(250, 2);
  EXPECT_NEAR(floatAt(askOk(t, 1), 1), 250.0, 1e-3);
  const Bytes points = askOk(t, 80, {0});
  EXPECT_EQ((Bytes{points[0], points[1]}), (Bytes{0, 12}));
  EXPECT_NEAR(floatAt(points, 2), 0.012, 1e-6);
  EXPECT_NEAR(floatAt(points, 6), 500.0, 1e-3);
  const Bytes guide = askOk(t, 81, {0});
  EXPECT_EQ(guide[1], 3) << "both trim points supported";

  // The trim value may come in other units: 2 bar applied, trimmed as 2 bar.
  t.setPressure(200, 3);
  askOk(t, 82, cat({{0, 2, 7}, floatBytes(2.0f)}));
  EXPECT_NEAR(floatAt(askOk(t, 1), 1), 200.0, 1e-3);

  // Zero: a device reading 3 kPa at zero pressure reads 0 afterwards.
  TransmitterConfig offset = baseConfig();
  offset.errorPercent = 0.5;
  Transmitter z(offset);
  z.setPressure(0, 0);
  EXPECT_NEAR(floatAt(askOk(z, 1), 1), 3.0, 1e-5);
  askOk(z, 43);
  EXPECT_NEAR(floatAt(askOk(z, 1), 1), 0.0, 1e-5);
  EXPECT_NEAR(z.loopCurrent(), 4.0, 1e-9);
  z.setPressure(200, 1);
  EXPECT_EQ(ask(z, 43).responseCode, 9) << "too much pressure for a zero";
  z.setPressure(-200, 2);
  EXPECT_EQ(ask(z, 43).responseCode, 10);
}

// A device whose trims do not take answers every trim as done and reads and drives exactly as before;
// its other writes still take. Every request it hears is in its command log.
TEST(SimHartTransmitter, TrimsThatDoNotTakeLeaveTheCalibration) {
  TransmitterConfig config = baseConfig();
  config.sensorTrimGain = 1.01;
  config.analogOffset = 0.04;
  config.faults.trimIgnored = true;
  Transmitter t(config);
  t.setPressure(0, 0);
  askOk(t, 82, cat({{0, 1, 12}, floatBytes(0.0f)}));
  t.setPressure(600, 1);
  askOk(t, 82, cat({{0, 2, 12}, floatBytes(600.0f)}));
  EXPECT_NEAR(floatAt(askOk(t, 1), 1), 606.0, 1e-3) << "the sensor trim did not take";
  askOk(t, 40, floatBytes(4.0f));
  askOk(t, 45, floatBytes(static_cast<float>(t.loopCurrent())));
  EXPECT_NEAR(t.loopCurrent(), 4.04, 1e-6) << "the zero trim did not take";
  askOk(t, 40, floatBytes(20.0f));
  askOk(t, 46, floatBytes(static_cast<float>(t.loopCurrent())));
  EXPECT_NEAR(t.loopCurrent(), 20.04, 1e-6) << "the gain trim did not take";
  askOk(t, 123, cat({floatBytes(2.0f), floatBytes(1.0f)}));
  EXPECT_EQ(floatAt(askOk(t, 122), 0), 1.0f);
  askOk(t, 34, floatBytes(2.0f));
  EXPECT_EQ(t.config().damping, 2.0) << "other writes take";
  EXPECT_EQ(t.commandsSeen(), (std::vector<uint8_t>{82, 82, 1, 40, 45, 40, 46, 123, 122, 34}));
}

TEST(SimHartTransmitter, ResetAndRestoreBringBackFactoryState) {
  Transmitter t(baseConfig());
  askOk(t, 123, cat({floatBytes(1.5f), floatBytes(0.25f)}));
  askOk(t, 44, {7});
  askOk(t, 35, cat({{7}, floatBytes(4.0f), floatBytes(1.0f)}));
  askOk(t, 34, floatBytes(9.0f));
  t.setPressure(0, 0);
  askOk(t, 82, cat({{0, 1, 12}, floatBytes(1.0f)}));

  EXPECT_EQ(askOk(t, 136, {0, 0}), (Bytes{0, 0}));
  const Bytes kb = askOk(t, 122);
  EXPECT_FLOAT_EQ(floatAt(kb, 0), 1.0f);
  EXPECT_FLOAT_EQ(floatAt(kb, 4), 0.0f);
  EXPECT_EQ(askOk(t, 15)[2], 7) << "00 00 leaves the measurement configuration";

  askOk(t, 136, {0, 1});
  askOk(t, 42);
  const Bytes info = askOk(t, 15);
  EXPECT_EQ(info[2], 12);
  EXPECT_FLOAT_EQ(floatAt(info, 3), 600.0f);
  EXPECT_FLOAT_EQ(floatAt(info, 11), 0.0f);
  EXPECT_NEAR(floatAt(askOk(t, 1), 1), 0.0, 1e-6) << "sensor trim undone";
}

// A transmitter that starts over with a configuration answers, drives its loop and counts exactly
// as a new one of that configuration, whatever the old one went through: writes to its
// configuration, a sensor trim, fixed-current mode, a cold start, time and damping.
TEST(SimHartTransmitter, StartingOverGivesWhatANewTransmitterGives) {
  TransmitterConfig before = baseConfig();
  before.damping = 2.0;
  Transmitter used(before);
  used.setPressure(450, 0);
  used.setPressure(300, 5);
  askOk(used, 123, cat({floatBytes(1.5f), floatBytes(0.25f)}));
  askOk(used, 44, {7});
  askOk(used, 35, cat({{7}, floatBytes(4.0f), floatBytes(1.0f)}));
  askOk(used, 47, {1});
  askOk(used, 18,
        cat({quarnsim::hart::packAscii("FT-7", 8), quarnsim::hart::packAscii("OUTLET", 16), {1, 2, 120}}));
  askOk(used, 42);
  askOk(used, 40, floatBytes(12.0f));
  ASSERT_TRUE(used.fixedCurrentMode());
  ASSERT_EQ(used.config().tag, "FT-7");

  TransmitterConfig after = baseConfig();
  after.deviceId = 0x000231;
  after.damping = 0.5;
  after.function = TransferFunction::SquareRoot;
  used.startOver(after);
  Transmitter fresh(after);

  uint8_t address[5];
  longAddressOf(after, address);
  const double times[] = {0, 0.2, 1, 4};
  const double pressures[] = {150, 420, 420, 75};
  for (int step = 0; step < 4; ++step) {
    used.setPressure(pressures[step], times[step]);
    fresh.setPressure(pressures[step], times[step]);
    EXPECT_DOUBLE_EQ(used.loopCurrent(), fresh.loopCurrent()) << "step " << step;
    EXPECT_DOUBLE_EQ(used.primaryValue(), fresh.primaryValue()) << "step " << step;
    EXPECT_EQ(used.fixedCurrentMode(), fresh.fixedCurrentMode()) << "step " << step;
    for (const uint8_t command : {0, 1, 2, 3, 7, 8, 12, 13, 14, 15, 16, 122}) {
      const Bytes request = longRequest(address, command);
      EXPECT_EQ(used.handleFrame(request), fresh.handleFrame(request))
          << "step " << step << ", command " << int(command);
    }
    EXPECT_EQ(used.handleFrame(shortPoll(0)), fresh.handleFrame(shortPoll(0))) << "step " << step;
  }
  // A change after the start over still ends in the new configuration's factory state.
  for (Transmitter* t : {&used, &fresh}) {
    askOk(*t, 34, floatBytes(9.0f));
    askOk(*t, 136, {0, 1});
    askOk(*t, 42);
  }
  const Bytes info = longRequest(address, 15);
  EXPECT_EQ(used.handleFrame(info), fresh.handleFrame(info));
  EXPECT_EQ(used.requestsSeen(), fresh.requestsSeen());
  EXPECT_EQ(used.commandsSeen(), fresh.commandsSeen());
  EXPECT_EQ(used.config().tag, fresh.config().tag);
}

TEST(SimHartTransmitter, RefusedRequestsChangeNothing) {
  const struct {
    const char* what;
    uint8_t command;
    Bytes data;
    uint8_t code;
  } cases[] = {
      {"damping below zero", 34, floatBytes(-1.0f), 4},
      {"damping too long", 34, floatBytes(100.0f), 3},
      {"damping not a number", 34, floatBytes(NAN), 4},
      {"damping short", 34, {0x40, 0x00}, 5},
      {"range lower below the sensor", 35, cat({{12}, floatBytes(600.0f), floatBytes(-200.0f)}), 10},
      {"range lower above the sensor", 35, cat({{12}, floatBytes(600.0f), floatBytes(2000.0f)}), 9},
      {"range upper above the sensor", 35, cat({{12}, floatBytes(2000.0f), floatBytes(0.0f)}), 11},
      {"range upper below the sensor", 35, cat({{12}, floatBytes(-200.0f), floatBytes(0.0f)}), 12},
      {"range both outside", 35, cat({{12}, floatBytes(2000.0f), floatBytes(-200.0f)}), 13},
      {"range narrower than the minimum span", 35, cat({{12}, floatBytes(105.0f), floatBytes(100.0f)}), 29},
      {"range in a temperature unit", 35, cat({{32}, floatBytes(100.0f), floatBytes(0.0f)}), 18},
      {"range short", 35, {12, 0x40}, 5},
      {"units not a pressure", 44, {32}, 2},
      {"transfer function unknown", 47, {255}, 2},
      {"polling address 64", 6, {64, 0}, 2},
      {"loop current mode 2", 6, {1, 2}, 12},
      {"fixed current too high", 40, floatBytes(30.0f), 3},
      {"fixed current negative", 40, floatBytes(-1.0f), 4},
      {"fixed current not a number", 40, floatBytes(NAN), 4},
      {"sensor trim of variable 1", 82, cat({{1, 1, 12}, floatBytes(0.0f)}), 19},
      {"sensor trim of variable 9", 82, cat({{9, 1, 12}, floatBytes(0.0f)}), 17},
      {"sensor trim point 3", 82, cat({{0, 3, 12}, floatBytes(0.0f)}), 2},
      {"sensor trim in degrees", 82, cat({{0, 1, 32}, floatBytes(0.0f)}), 18},
      {"sensor trim too far off", 82, cat({{0, 1, 12}, floatBytes(300.0f)}), 11},
      {"sensor trim beyond the sensor", 82, cat({{0, 1, 12}, floatBytes(5000.0f)}), 3},
      {"output coefficient not a number", 123, cat({floatBytes(NAN), floatBytes(0.0f)}), 6},
      {"output coefficient zero", 123, cat({floatBytes(0.0f), floatBytes(0.0f)}), 6},
      {"restore action 01 00", 136, {1, 0}, 9},
      {"trim points of variable 5", 80, {5}, 17},
      {"unknown command", 99, {}, 64},
  };
  for (const auto& c : cases) {
    Transmitter t(baseConfig());
    t.setPressure(0, 0);
    const Bytes before15 = askOk(t, 15), before122 = askOk(t, 122), before7 = askOk(t, 7);
    const Answer a = ask(t, c.command, c.data);
    ASSERT_TRUE(a.valid) << c.what;
    EXPECT_EQ(a.responseCode, c.code) << c.what;
    EXPECT_TRUE(a.data.empty()) << c.what;
    EXPECT_EQ(askOk(t, 15), before15) << c.what;
    EXPECT_EQ(askOk(t, 122), before122) << c.what;
    EXPECT_EQ(askOk(t, 7), before7) << c.what;
    EXPECT_FALSE(t.fixedCurrentMode()) << c.what;
    EXPECT_NEAR(floatAt(askOk(t, 1), 1), 0.0, 1e-9) << c.what;
  }
}

TEST(SimHartTransmitter, WriteProtectionRefusesEveryWrite) {
  TransmitterConfig config = baseConfig();
  config.writeProtected = true;
  Transmitter t(config);
  t.setPressure(0, 0);
  const Bytes info = askOk(t, 15);
  EXPECT_EQ(info[15], 1);
  const struct {
    uint8_t command;
    Bytes data;
  } writes[] = {{6, {3, 0}},
                {17, quarnsim::hart::packAscii("X", 32)},
                {18, Bytes(21, 0)},
                {34, floatBytes(2.0f)},
                {35, cat({{12}, floatBytes(100.0f), floatBytes(0.0f)})},
                {43, {}},
                {44, {7}},
                {45, floatBytes(4.0f)},
                {46, floatBytes(20.0f)},
                {47, {1}},
                {82, cat({{0, 1, 12}, floatBytes(0.0f)})},
                {123, cat({floatBytes(2.0f), floatBytes(0.0f)})},
                {136, {0, 1}}};
  for (const auto& w : writes) EXPECT_EQ(ask(t, w.command, w.data).responseCode, 7) << int(w.command);
  EXPECT_EQ(askOk(t, 15), info);
  EXPECT_EQ(askOk(t, 7), (Bytes{0, 1}));
  // A loop test is not a configuration change.
  askOk(t, 40, floatBytes(12.0f));
  EXPECT_DOUBLE_EQ(t.loopCurrent(), 12.0);
}

TEST(SimHartTransmitter, EachFaultSpoilsTheAnswersItNames) {
  {
    TransmitterConfig c = baseConfig();
    c.faults.silent = true;
    Transmitter t(c);
    EXPECT_TRUE(t.handleFrame(shortPoll(0)).empty());
    EXPECT_EQ(t.requestsSeen(), 1);
  }
  {
    TransmitterConfig c = baseConfig();
    c.faults.badChecksum = true;
    Transmitter t(c);
    const Bytes raw = t.handleFrame(shortPoll(0));
    ASSERT_FALSE(raw.empty());
    const Answer a = readAnswer(raw);
    EXPECT_FALSE(a.valid);
    EXPECT_EQ(a.data.size(), 22u) << "only the checksum is wrong";
  }
  {
    TransmitterConfig c = baseConfig();
    c.faults.truncated = true;
    Transmitter t(c);
    const Bytes raw = t.handleFrame(shortPoll(0));
    EXPECT_FALSE(raw.empty());
    EXPECT_FALSE(readAnswer(raw).valid);
  }
  {
    TransmitterConfig c = baseConfig();
    c.faults.errorCommand = 35;
    c.faults.errorCode = 16;
    Transmitter t(c);
    const Answer refused = ask(t, 35, cat({{12}, floatBytes(100.0f), floatBytes(0.0f)}));
    EXPECT_EQ(refused.responseCode, 16);
    EXPECT_FLOAT_EQ(floatAt(askOk(t, 15), 3), 600.0f) << "the refused write is not carried out";
  }
  {
    TransmitterConfig c = baseConfig();
    c.faults.stopAfterRequests = 2;
    Transmitter t(c);
    EXPECT_TRUE(ask(t, 0).valid);
    EXPECT_TRUE(ask(t, 13).valid);
    EXPECT_TRUE(t.handleFrame(shortPoll(0)).empty());
    EXPECT_FALSE(ask(t, 15).valid);
  }
}
