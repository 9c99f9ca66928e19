// Line behaviour: answers after the turnaround and only as fast as the line carries them, line
// modes (UAIL, HART, wrong speed), injected faults, and hostile input that must never crash or
// stall the device.
#include <gtest/gtest.h>

#include <random>

#include "quarnsim/engine.h"
#include "sim_line_io.h"
#include "simhart_frames.h"

namespace {

using quarnsim::Engine;
using quarnsim::Fault;
using quarnsim::FaultKind;
using quarnsim::FaultTarget;
using quarnsim::Scenario;
using simtest::Host;

Scenario fixedTiming(double turnaroundMs) {
  Scenario s;
  s.turnaround = {turnaroundMs, turnaroundMs};
  s.kestoTurnaround = {turnaroundMs, turnaroundMs};
  return s;
}

TEST(SimLine, AnswerArrivesAfterTurnaroundAtTheLineRate) {
  Engine bench(fixedTiming(50));
  quarnsim::LinePort& port = bench.calibratorPort();
  port.setLine(9600, 0, 2);
  ASSERT_EQ(port.open(0), 0);
  const auto rq = simtest::request("1;0;");  // 12 bytes: 13.75 ms at 9600 baud, 11 bits a character
  const std::string answer = "!1;105;" + std::to_string(simtest::crc16("1;105;")) + "\r";
  ASSERT_EQ(port.write(rq.data(), rq.size(), 0), 12);
  const double byteMs = 11.0 / 9.6;
  const double first = 12 * byteMs + 50 + byteMs;  // request on the wire, turnaround, first byte
  EXPECT_EQ(port.available(static_cast<uint32_t>(first) - 1), 0);
  EXPECT_EQ(port.available(static_cast<uint32_t>(first) + 1), 1);
  // Half way through the answer only part of it is there.
  const uint32_t half = static_cast<uint32_t>(first + byteMs * answer.size() / 2);
  const int part = port.available(half);
  EXPECT_GT(part, 1);
  EXPECT_LT(part, static_cast<int>(answer.size()));
  const uint32_t all = static_cast<uint32_t>(first + byteMs * answer.size()) + 1;
  ASSERT_EQ(port.available(all), static_cast<int>(answer.size()));
  std::string got(answer.size(), '\0');
  EXPECT_EQ(port.read(reinterpret_cast<uint8_t*>(got.data()), got.size(), all),
            static_cast<int>(answer.size()));
  EXPECT_EQ(got, answer);
  EXPECT_FALSE(port.nextByteDueMs());
}

TEST(SimLine, TurnaroundIsSeededAndStaysInItsRange) {
  auto delays = [](uint64_t seed) {
    Scenario s;
    s.seed = seed;
    Engine bench(s);
    quarnsim::LinePort& port = bench.calibratorPort();
    port.open(0);
    std::vector<uint32_t> out;
    uint32_t now = 0;
    for (int i = 0; i < 20; ++i) {
      const auto rq = simtest::request("1;0;");
      port.write(rq.data(), rq.size(), now);
      const uint32_t sent = now;
      const uint32_t limit = now + 1000;
      while (port.available(now) == 0 && now < limit) ++now;
      out.push_back(now - sent);
      now += 100;
      uint8_t buf[64];
      port.read(buf, sizeof buf, now);
    }
    return out;
  };
  const auto a = delays(7), b = delays(7), c = delays(8);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  for (uint32_t d : a) {
    EXPECT_GE(d, 14u + 20u);  // request on the wire + shortest turnaround
    EXPECT_LE(d, 15u + 80u + 2u);
  }
}

// Each unit answers after its own turnaround, also a long one: the Kesto module a second after a
// request, one channel's transmitter later than the others.
TEST(SimLine, EachUnitAnswersAfterItsOwnTurnaround) {
  Scenario s = fixedTiming(20);
  ASSERT_EQ(quarnsim::applySetting(s, "kesto.turnaround_ms", "1000"), "");
  ASSERT_EQ(quarnsim::applySetting(s, "hart.turnaround_ms", "20"), "");
  ASSERT_EQ(quarnsim::applySetting(s, "channel.2.turnaround_ms", "300"), "");
  Engine bench(s);
  quarnsim::LinePort& port = bench.calibratorPort();
  uint32_t now = 1000;
  port.setLine(9600, 0, 2);
  ASSERT_EQ(port.open(now), 0);
  // Milliseconds from the start of a write to the first answer byte; the line is emptied after.
  auto firstByteAfter = [&](const std::vector<uint8_t>& bytes) -> double {
    port.write(bytes.data(), bytes.size(), now);
    const auto due = port.nextByteDueMs();
    const double delay = due ? static_cast<double>(*due - now) : -1;
    now += 3000;
    uint8_t buf[256];
    while (port.read(buf, sizeof buf, now) > 0) {
    }
    return delay;
  };
  const double uailByte = 11.0 / 9.6;
  const double hartByte = 12.0 / 1.2;
  // Main unit: 12 request bytes, 20 ms, the first answer byte.
  EXPECT_NEAR(firstByteAfter(simtest::request("1;0;")), 13 * uailByte + 20, 2);
  EXPECT_NEAR(firstByteAfter(simtest::request("3;0;")), 13 * uailByte + 1000, 2);

  struct Case {
    int channel;  // 0-based, as the select request carries it
    double turnaroundMs;
  } cases[] = {{0, 20}, {1, 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.channel);
    port.setLine(9600, 0, 2);
    ASSERT_GT(firstByteAfter(simtest::request("3;5;" + std::to_string(c.channel) + ";")), 0);
    port.setLine(1200, 1, 2);
    const auto poll = simhart_test::shortPoll(0);
    EXPECT_NEAR(firstByteAfter(poll), (poll.size() + 1) * hartByte + c.turnaroundMs, 2);
  }
}

TEST(SimLine, HostClockSetBackOrWrappingDoesNotStallTheDevice) {
  Engine bench(fixedTiming(20));
  quarnsim::LinePort& port = bench.calibratorPort();
  const auto rq = simtest::request("1;0;");
  for (uint32_t start : {0xFFFFFF00u, 5000u, 100u}) {  // across the 32-bit wrap, then set back twice
    SCOPED_TRACE(start);
    ASSERT_EQ(port.open(start), 0);
    port.write(rq.data(), rq.size(), start);
    EXPECT_EQ(port.available(start + 10), 0);
    EXPECT_EQ(port.available(start + 100), 13);
  }
}

TEST(SimLine, LineModesDecideWhoListens) {
  Engine bench(fixedTiming(20));
  Host host(bench.calibratorPort());
  // A UAIL request at the HART speed reaches only the modem, which finds no HART frame in it.
  host.port().setLine(1200, 1, 2);
  EXPECT_EQ(host.exchangeRaw("1;0;", 1000), "");
  // Any other speed is noise to the device.
  host.port().setLine(19200, 0, 2);
  EXPECT_EQ(host.exchangeRaw("1;0;"), "");
  host.port().setLine(9600, 0, 2);
  EXPECT_TRUE(host.exchange("1;0;").arrived());
  // An answer still on the wire when the host switches speed is lost.
  host.send(simtest::request("1;0;"));
  host.wait(30);
  bench.advanceTo(host.now());
  host.port().setLine(1200, 1, 2);
  host.port().setLine(9600, 0, 2);
  host.wait(500);
  EXPECT_EQ(host.take(), "");
  // A pseudo-terminal cannot tell the parity: the speed decides.
  host.port().setLine(9600, -1, 2);
  EXPECT_TRUE(host.exchange("1;0;").arrived());
}

TEST(SimFaults, EachFaultShowsOnTheLineAsConfigured) {
  struct Case {
    const char* text;
    const char* payload;
    enum { Normal, None, Error, BadCrc, Garbage } expect;
    int code;
  } cases[] = {
      {"calibrator silent", "1;0;", Case::None, 0},
      {"calibrator silent cmd=1", "1;0;", Case::Normal, 0},  // only the measuring request is hit
      {"calibrator silent cmd=1", "1;1;", Case::None, 0},
      {"kesto silent", "1;0;", Case::Normal, 0},  // the main unit still answers
      {"kesto silent", "3;0;", Case::None, 0},
      {"calibrator error 11", "1;0;", Case::Error, 11},
      {"calibrator badcrc", "1;0;", Case::BadCrc, 0},
      {"calibrator garbage", "1;0;", Case::Garbage, 0},
      {"calibrator late 400", "1;0;", Case::None, 0},  // not there within the 300 ms the host waits
      {"calibrator late 100", "1;0;", Case::Normal, 0},
      {"any silent prob=0", "1;0;", Case::Normal, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.payload);
    Scenario s;
    s.turnaround = {20, 20};
    s.kestoTurnaround = {20, 20};
    ASSERT_EQ(quarnsim::applySetting(s, "fault", c.text), "");
    Engine bench(s);
    Host host(bench.calibratorPort());
    const std::string raw = host.exchangeRaw(c.payload, 300);
    const auto a = simtest::parseAnswer(raw);
    switch (c.expect) {
      case Case::Normal:
        ASSERT_TRUE(a);
        EXPECT_TRUE(a->checksumOk);
        EXPECT_EQ(a->error, 0);
        break;
      case Case::None:
        EXPECT_EQ(raw, "");
        break;
      case Case::Error:
        ASSERT_TRUE(a);
        EXPECT_TRUE(a->checksumOk);
        EXPECT_EQ(a->error, c.code);
        break;
      case Case::BadCrc:
        ASSERT_TRUE(a);
        EXPECT_FALSE(a->checksumOk);
        break;
      case Case::Garbage:
        EXPECT_FALSE(raw.empty());
        if (a) {
          EXPECT_FALSE(a->checksumOk);
        }
        break;
    }
  }
}

TEST(SimFaults, StopsAnsweringAfterNRequestsAndCountsAreKept) {
  Scenario s;
  ASSERT_EQ(quarnsim::applySetting(s, "fault", "calibrator stop after=3"), "");
  Engine bench(s);
  Host host(bench.calibratorPort());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(host.exchange("1;1;").arrived());
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(host.exchange("1;1;").arrived());
  EXPECT_EQ(bench.requestsSeen(FaultTarget::Calibrator), 6);
  // A limited count of hits: the error answers come twice, then normal answers again.
  Scenario e;
  ASSERT_EQ(quarnsim::applySetting(e, "fault", "kesto error 5 count=2"), "");
  Engine b2(e);
  Host h2(b2.calibratorPort());
  EXPECT_EQ(h2.exchange("3;40;1;").error, 5);
  EXPECT_EQ(h2.exchange("3;40;1;").error, 5);
  EXPECT_EQ(h2.exchange("3;40;1;").error, 0);
}

// "nth=N" picks one answer to one request: the N-th request of the fault's target and command,
// however many other requests come between; "count" widens it to a run of answers.
TEST(SimFaults, NthHitsTheChosenAnswerToItsRequestOnly) {
  // The same sequence of Kesto requests for every case; the expected outcome per request:
  // 'N' normal answer, 'C' damaged checksum, '-' no answer, 'E' error code.
  const char* const payloads[] = {"3;40;1;", "3;42;16;", "3;41;16;0;", "3;42;16;", "3;42;16;", "3;1;10;"};
  struct Case {
    const char* fault;
    const char* expect;
  } cases[] = {
      {"kesto badcrc cmd=42 nth=2", "NNNCNN"},
      {"kesto badcrc cmd=42 nth=2 count=2", "NNNCCN"},
      {"kesto silent nth=2", "N-NNNN"},  // without cmd: the second request to the module
      {"kesto error 11 cmd=41 nth=1", "NNENNN"},
      {"calibrator silent cmd=42 nth=1", "NNNNNN"},  // another unit's requests are not counted
      {"kesto silent cmd=42 nth=4", "NNNNNN"},       // there is no fourth read
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Scenario s = fixedTiming(20);
    ASSERT_EQ(quarnsim::applySetting(s, "fault", c.fault), "");
    Engine bench(s);
    Host host(bench.calibratorPort());
    std::string got;
    for (const char* payload : payloads) {
      const std::string raw = host.exchangeRaw(payload, 300);
      const auto a = simtest::parseAnswer(raw);
      got += !a ? '-' : !a->checksumOk ? 'C' : a->error != 0 ? 'E' : 'N';
    }
    EXPECT_EQ(got, c.expect);
  }
}

TEST(SimFaults, DisconnectTakesThePortAwayAndBringsItBack) {
  Scenario s;
  ASSERT_EQ(quarnsim::applySetting(s, "fault", "any disconnect at_ms=1000 for_ms=2000"), "");
  Engine bench(s);
  quarnsim::LinePort& port = bench.calibratorPort();
  ASSERT_EQ(port.open(0), 0);
  const auto rq = simtest::request("1;0;");
  EXPECT_EQ(port.write(rq.data(), rq.size(), 500), 12);
  EXPECT_EQ(port.available(1500), -1);
  EXPECT_EQ(port.write(rq.data(), rq.size(), 1600), -1);
  EXPECT_EQ(port.open(1700), -1);
  EXPECT_EQ(port.open(3100), 0);
  EXPECT_EQ(port.write(rq.data(), rq.size(), 3100), 12);
  EXPECT_GT(port.available(3400), 0);
  // Taken away by hand.
  bench.setConnected(false);
  EXPECT_EQ(port.read(nullptr, 0, 3500), -1);
  bench.setConnected(true);
  EXPECT_EQ(port.open(3500), 0);
  EXPECT_EQ(port.available(3500), 0);  // a reopened port starts empty
}

TEST(SimRobustness, HostileBytesNeverCrashOrStallTheDevice) {
  std::mt19937 random(12345);
  Engine bench{Scenario()};
  quarnsim::LinePort& port = bench.calibratorPort();
  quarnsim::LinePort& dorv = bench.dorvPort();
  port.open(0);
  dorv.open(0);
  uint32_t now = 0;
  const uint32_t speeds[] = {9600, 1200, 4800};
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> bytes(random() % 64);
    for (auto& b : bytes) {
      // Mostly protocol characters, so that frames start and half-parse often.
      const char alphabet[] = ":;$!0123456789ABCDEF\r\xFF\x82\x02";
      b = (random() % 4) ? static_cast<uint8_t>(alphabet[random() % (sizeof alphabet - 1)])
                         : static_cast<uint8_t>(random());
    }
    if (random() % 10 == 0) port.setLine(speeds[random() % 3], static_cast<int>(random() % 3) - 1, 2);
    port.write(bytes.data(), bytes.size(), now);
    dorv.write(bytes.data(), bytes.size(), now);
    now += random() % 50;
    uint8_t buf[128];
    port.read(buf, sizeof buf, now);
    dorv.read(buf, sizeof buf, now);
  }
  // After all that (and the purge the host does when it switches its line) the device still answers
  // a proper request.
  port.setLine(9600, 0, 2);
  port.purge();
  Host host(port, now + 1000);
  EXPECT_TRUE(host.exchange("1;0;", 400).arrived());
}

}  // namespace
