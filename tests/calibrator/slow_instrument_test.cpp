// The measuring cycle against an instrument that answers late and damages answers, played by the
// scripted peer (exact texts and file positions) and by the simulator: the Kesto currents are only
// ever taken from a checked answer to a read at position 16, and a measuring answer that is late or
// missing never moves a valve.
#include <cmath>

#include "calibrator_fixture.h"
#include "quarnsim/engine.h"
#include "scripted_bench.h"
#include "sim_vport.h"

namespace {

using quarn::test::CalibratorTest;
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
