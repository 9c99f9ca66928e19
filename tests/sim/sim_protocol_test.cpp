// The simulator's UAIL codec against the published vectors, and the identification and settings
// answers of both calibrator models, read back with the test's own parser.
#include <gtest/gtest.h>

#include <string>

#include "quarnsim/engine.h"
#include "quarnsim/uail_codec.h"
#include "sim_line_io.h"

namespace {

using quarnsim::Engine;
using quarnsim::Model;
using quarnsim::Scenario;

std::string text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(SimUailCodec, CrcFramesAndFloatsMatchKnownVectors) {
  EXPECT_EQ(quarnsim::uail::crc16("123456789"), 0x4B37);
  EXPECT_EQ(simtest::crc16("123456789"), 0x4B37);
  EXPECT_EQ(text(quarnsim::uail::requestFrame("1;0;")), "\xFF:1;0;50730\r");
  EXPECT_EQ(quarnsim::uail::requestFrame("1;0;").size(), 12u);
  EXPECT_EQ(quarnsim::uail::hexFloat(1.0f), "0000803F");
  EXPECT_EQ(quarnsim::uail::hexFloat(100.0f), "0000C842");
  EXPECT_EQ(*quarnsim::uail::parseHexFloat("0000803F"), 1.0f);
  EXPECT_FALSE(quarnsim::uail::parseHexFloat("0000803f"));  // lower case is not the encoding
  EXPECT_FALSE(quarnsim::uail::parseHexFloat("0000803"));
  const std::string answer = text(quarnsim::uail::answerFrame("1;105;12;"));
  EXPECT_EQ(answer, "!1;105;12;" + std::to_string(simtest::crc16("1;105;12;")) + "\r");
}

TEST(SimUailCodec, ReceiverTakesOnlyWellFormedRequests) {
  struct Case {
    std::string bytes;
    bool request;
    bool badChecksum;
    int address, type;
  } cases[] = {
      {"\xFF:1;0;50730\r", true, false, 1, 0},
      {":1;0;50730\r", true, false, 1, 0},           // wake-up byte missing: still a request
      {"noise\xFF:1;0;50730\r", true, false, 1, 0},  // noise before the frame
      {"\xFF:1;0;50731\r", false, true, 1, 0},       // wrong checksum, address readable
      {"\xFF:1;0;\r", false, true, 1, 0},            // no checksum
      {"\xFF:1; 0;50730\r", false, false, 0, 0},     // a blank cannot be part of a request
      {"\xFF:x;0;1\r", false, false, 0, 0},          // address not a number
      {"\xFF:3;0;:1;0;50730\r", true, false, 1, 0},  // a second start mark restarts the frame
  };
  for (const auto& c : cases) {
    quarnsim::uail::RequestReceiver rx;
    std::optional<quarnsim::uail::RequestReceiver::Result> got;
    for (unsigned char b : c.bytes) {
      if (auto r = rx.feed(b)) got = r;
    }
    SCOPED_TRACE(c.bytes);
    if (!c.request && !c.badChecksum) {
      EXPECT_FALSE(got);
      continue;
    }
    ASSERT_TRUE(got);
    EXPECT_EQ(got->kind == quarnsim::uail::RequestReceiver::Result::Kind::BadChecksum, c.badChecksum);
    EXPECT_EQ(got->request.address, c.address);
    if (c.request) {
      EXPECT_EQ(got->request.type, c.type);
    }
  }
}

TEST(SimIdentification, EachModelAnswersWithItsDeviceType) {
  struct Case {
    Model model;
    int deviceType;
    int expected;
  } cases[] = {{Model::Quarn, -1, 105},
               {Model::Quarn, 106, 106},
               {Model::Brenk, -1, 84},
               {Model::Brenk, 85, 85},
               {Model::Quarn, 84, 84}};  // the wrong model on the line
  for (const auto& c : cases) {
    Scenario s;
    s.model = c.model;
    s.deviceType = c.deviceType;
    Engine bench(s);
    simtest::Host host(bench.calibratorPort());
    const std::string raw = host.exchangeRaw("1;0;");
    const std::string expected = "!1;" + std::to_string(c.expected) + ";";
    EXPECT_EQ(raw, expected + std::to_string(simtest::crc16(expected.substr(1))) + "\r");
  }
}

TEST(SimIdentification, SettingsAndInformationTextsOfBothModels) {
  Scenario quarn;
  quarn.units = 1;
  quarn.readyBand1 = 5.0f;
  Engine q(quarn);
  simtest::Host hq(q.calibratorPort());
  auto settings = hq.exchange("1;16;");
  ASSERT_TRUE(settings.arrived());
  EXPECT_TRUE(settings.checksumOk);
  EXPECT_EQ(settings.fields, (std::vector<std::string>{"0", "0", "1", "1", "3", "5", "0000A040"}));

  auto info = hq.exchange("1;9;");
  ASSERT_TRUE(info.arrived() && info.fields.size() == 4);
  EXPECT_EQ(info.fields[0], quarn.serial);
  EXPECT_EQ(simtest::hexFloat(info.fields[3]), static_cast<float>(quarn.pLimitMaxKPa));
  auto version = hq.exchange("1;11;");
  ASSERT_TRUE(version.arrived());
  EXPECT_EQ(version.fields, (std::vector<std::string>{"2", "15", quarn.modelName, "1", "1"}));

  Scenario brenk;
  brenk.model = Model::Brenk;
  brenk.setpointKPa = 100.0f;
  Engine b(brenk);
  simtest::Host hb(b.calibratorPort());
  settings = hb.exchange("1;16;");
  ASSERT_TRUE(settings.arrived() && settings.fields.size() == 9);
  EXPECT_EQ(settings.fields[6], "0000C842");
  // The settings text must fit the 21..41 characters the host accepts.
  std::string joined;
  for (const auto& f : settings.fields) joined += f + ";";
  EXPECT_GE(joined.size(), 21u);
  EXPECT_LE(joined.size(), 41u);
  version = hb.exchange("1;11;");
  ASSERT_TRUE(version.arrived());
  EXPECT_EQ(version.fields, (std::vector<std::string>{"2", "15", std::to_string(brenk.modelNo)}));
}

TEST(SimIdentification, SettingsWriteIsCheckedAndReadBack) {
  Engine q{Scenario()};
  simtest::Host host(q.calibratorPort());
  // Without remote operation the calibrator refuses to change anything.
  EXPECT_EQ(host.exchange("1;17;0;0;1;1;3;5;0000A040;0000A040;").error, 4);
  EXPECT_EQ(host.exchange("1;8;1;").error, 0);
  EXPECT_TRUE(q.remoteOperation());
  struct Case {
    std::string payload;
    int error;
  } cases[] = {
      {"1;17;0;0;1;1;3;5;0000A040;0000A040;", 0},  // the host's write text (corridor twice)
      {"1;17;0;0;1;9;3;5;0000A040;0000A040;", 6},  // unit index out of range
      {"1;17;0;0;1;1;3;5;0000a040;0000A040;", 2},  // not the hexadecimal encoding
      {"1;17;0;0;1;", 2},                          // too few fields
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    auto a = host.exchange(c.payload, 500);
    ASSERT_TRUE(a.arrived());
    EXPECT_EQ(a.error, c.error);
  }
  auto settings = host.exchange("1;16;");
  ASSERT_TRUE(settings.arrived());
  EXPECT_EQ(settings.fields, (std::vector<std::string>{"0", "0", "1", "1", "3", "5", "0000A040"}));
}

TEST(SimIdentification, UnknownCommandsAndModulesAreAnsweredAsTheDeviceWould) {
  Engine q{Scenario()};
  simtest::Host host(q.calibratorPort());
  EXPECT_EQ(host.exchange("1;99;").error, 1);          // command not found
  EXPECT_EQ(host.exchange("1;2;0000C842;").error, 1);  // the Quarn takes no setpoint
  EXPECT_EQ(host.exchangeRaw("7;0;"), "");             // no module 7 on the line
  // A damaged request to the calibrator is refused with the packet error.
  host.send({0xFF, ':', '1', ';', '0', ';', '1', '2', '\r'});
  host.wait(300);
  const auto a = simtest::parseAnswer(host.take()).value_or(simtest::Answer{});
  ASSERT_TRUE(a.arrived());
  EXPECT_EQ(a.error, 50);
}

}  // namespace
