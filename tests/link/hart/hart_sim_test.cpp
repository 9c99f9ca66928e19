// The master's requests answered by the simulated transmitter, which implements the device side on
// its own: every answer the library decodes must give back the device's configuration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "hart/hart_master.h"
#include "hart_test_util.h"
#include "quarnsim/hart_line.h"
#include "quarnsim/transmitter.h"

namespace {

class HartAgainstSimulatedTransmitter : public ::testing::Test {
 protected:
  HartAgainstSimulatedTransmitter() : device(config()) {}

  static quarnsim::TransmitterConfig config() {
    quarnsim::TransmitterConfig c;
    c.pollingAddress = 3;
    c.expandedDeviceType = 0x990A;
    c.deviceId = 0x0A0B0C;
    c.hartRevision = 7;
    c.tag = "PT-205";
    c.descriptor = "BOILER FEED";
    c.message = "CHECKED BY LAB";
    c.dateDay = 31;
    c.dateMonth = 12;
    c.dateYear = 110;
    c.units = 237;  // MPa
    c.lowerRange = 0;
    c.upperRange = 1.6;
    c.damping = 0.25;
    c.sensorSerial = 0x123456;
    c.lowerSensorLimit = -0.1;
    c.upperSensorLimit = 2.5;
    c.minSpan = 0.01;
    return c;
  }

  // Sends the bytes the library built, decodes the answer both ways; returns Hart_DeForm's result.
  int32_t exchange(const uint8_t* request, int32_t n) {
    const auto answer = device.handleFrame(std::vector<uint8_t>(request, request + n));
    if (answer.empty()) return -1000;
    const int32_t r = Hart_DeForm(answer.data(), static_cast<uint32_t>(answer.size()), &dev);
    int32_t last = 0;
    for (uint8_t b : answer) last = OnRxChar(&bytewise, b);
    EXPECT_EQ(last, r == 0 ? 1 : -1000 - r);
    return r;
  }
  int32_t ask(uint32_t command) {
    uint8_t buf[HART_FRAME_MAX];
    return exchange(buf, FormRqCmd(buf, &dev, command));
  }

  quarnsim::Transmitter device;
  THartDev dev = hart_test::validRecord();
  THartDev bytewise = hart_test::validRecord();
};

TEST_F(HartAgainstSimulatedTransmitter, IdentificationAndReadCommands) {
  uint8_t poll[16];
  // Only the device's own polling address answers.
  EXPECT_EQ(exchange(poll, FormShortRq0(poll, 0)), -1000);
  ASSERT_EQ(exchange(poll, FormShortRq0(poll, 3)), 0);
  EXPECT_EQ(+dev.expandedDeviceType, 0x990A);
  EXPECT_EQ(+dev.deviceId, 0x0A0B0Cu);
  EXPECT_EQ(+dev.hartRevision, 7);
  EXPECT_EQ(std::vector<uint8_t>(dev.longAddress, dev.longAddress + 5),
            std::vector<uint8_t>({0x99, 0x0A, 0x0A, 0x0B, 0x0C}));
  EXPECT_STREQ(dev.manufacturerName, "Metran");

  for (uint32_t command : {1u, 2u, 3u, 7u, 8u, 12u, 13u, 14u, 15u, 122u, 128u}) {
    EXPECT_EQ(ask(command), 0) << command;
  }
  EXPECT_EQ(std::string(dev.tag, 8), "PT-205  ");
  EXPECT_EQ(std::string(dev.descriptor, 16), "BOILER FEED     ");
  EXPECT_EQ(std::string(dev.message).substr(0, 14), "CHECKED BY LAB");
  EXPECT_EQ(+dev.dateYear, 2010);
  EXPECT_EQ(+dev.sensorSerial, 0x123456u);
  EXPECT_FLOAT_EQ(+dev.upperSensorLimit, 2.5f);
  EXPECT_FLOAT_EQ(+dev.minSpan, 0.01f);
  EXPECT_EQ(+dev.rangeUnits, 237);
  EXPECT_FLOAT_EQ(+dev.upperRange, 1.6f);
  EXPECT_FLOAT_EQ(+dev.lowerRange, 0.0f);
  EXPECT_FLOAT_EQ(+dev.damping, 0.25f);
  EXPECT_EQ(+dev.pollingAddress, 3);
  EXPECT_EQ(+dev.dynVar[0].present, 1u);
  EXPECT_EQ(+dev.outputType, 1);
  EXPECT_NEAR(+dev.loopCurrent, device.loopCurrent(), 1e-3);

  // Both receivers keep the same device data.
  const size_t from = offsetof(THartDev, expandedDeviceType);
  EXPECT_EQ(std::memcmp(reinterpret_cast<uint8_t*>(&dev) + from, reinterpret_cast<uint8_t*>(&bytewise) + from,
                        sizeof dev - from),
            0);
}

TEST_F(HartAgainstSimulatedTransmitter, WritesAreConfirmedAndErrorsCarryTheirText) {
  uint8_t buf[HART_FRAME_MAX];
  uint8_t poll[16];
  ASSERT_EQ(exchange(poll, FormShortRq0(poll, 3)), 0);

  ASSERT_EQ(exchange(buf, FormRq_F(buf, &dev, 34, 2.0f)), 0);
  EXPECT_FLOAT_EQ(+dev.damping, 2.0f);
  ASSERT_EQ(exchange(buf, FormRq_BFF(buf, &dev, 35, 12, 1000.0f, 0.0f)), 0);
  EXPECT_EQ(+dev.rangeUnits, 12);
  EXPECT_FLOAT_EQ(+dev.upperRange, 1000.0f);
  ASSERT_EQ(exchange(buf, FormRq_F(buf, &dev, 40, 12.0f)), 0);
  EXPECT_FLOAT_EQ(+dev.loopCurrent, 12.0f);
  EXPECT_TRUE(device.fixedCurrentMode());

  device.config().faults.errorCommand = 15;
  device.config().faults.errorCode = 16;
  EXPECT_EQ(ask(15), 16);
  EXPECT_STREQ(dev.responseText, ToStrResponse(15, 16));
  EXPECT_FLOAT_EQ(+dev.upperRange, 1000.0f);  // nothing stored from the refused answer
}

TEST(HartAgainstSimulatedLine, ADeviceHearsLongFramesOnlyWithThePreamblesItAskedFor) {
  quarnsim::TransmitterConfig c;
  c.expandedDeviceType = 0x4501;  // bit 6 set in the high byte
  c.deviceId = 0x000042;
  c.requestPreambles = 8;
  quarnsim::Transmitter device(c);
  quarnsim::HartLine line;
  line.attach(0, &device);
  line.selectChannel(0);
  auto send = [&](const std::vector<uint8_t>& bytes) { return line.onHostBytes(bytes.data(), bytes.size()); };

  THartDev dev = hart_test::validRecord();
  uint8_t poll[16];
  const auto pollAnswer = send(std::vector<uint8_t>(poll, poll + FormShortRq0(poll, 0)));
  ASSERT_EQ(Hart_DeForm(pollAnswer.data(), static_cast<uint32_t>(pollAnswer.size()), &dev), 0)
      << "the identifying poll needs only the line's own minimum";
  EXPECT_EQ(+dev.requestPreambles, 8);
  EXPECT_EQ(+dev.expandedDeviceType, 0x4501);
  EXPECT_EQ(+dev.longAddress[0], 0x85) << "the address is reached without the burst bit";

  uint8_t buf[HART_FRAME_MAX];
  const int32_t n = FormRqCmd(buf, &dev, 13);
  std::vector<uint8_t> request(buf, buf + n);  // five preambles
  for (int preambles = 5; preambles <= 9; ++preambles) {
    SCOPED_TRACE(preambles);
    const auto answer = send(request);
    EXPECT_EQ(answer.empty(), preambles < 8);
    request.insert(request.begin(), 0xFF);
  }
}

}  // namespace
