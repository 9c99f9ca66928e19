// The fast HART search against simulated transmitters, in virtual time: it finds and reads the same
// devices as the search with fixed windows, it ends silent polls at the slave time-out, and the
// fixed windows stay as they were when the setting is off.
#include "hartproc_fixture.h"

namespace {

using quarn::test::HartProcTest;
using quarn::test::HartRequest;

// What a search leaves of each channel's device, for comparing two searches.
struct FoundDevice {
  uint32_t found;
  uint32_t pollingAddress;
  uint32_t deviceId;
  std::string tag;
  float upperRange;
  uint32_t outputType;
  bool operator==(const FoundDevice& o) const {
    return found == o.found && pollingAddress == o.pollingAddress && deviceId == o.deviceId && tag == o.tag &&
           upperRange == o.upperRange && outputType == o.outputType;
  }
};

void PrintTo(const FoundDevice& d, std::ostream* os) {
  *os << "{found " << d.found << ", address " << d.pollingAddress << ", id " << d.deviceId << ", tag '"
      << d.tag << "', upper " << d.upperRange << ", output " << d.outputType << "}";
}

struct SearchResult {
  std::array<FoundDevice, 4> devices;
  int32_t firstChannel;
  uint32_t durationMs;
};

class FastSearch : public HartProcTest {
 protected:
  void TearDown() override {
    quarn_hart_set_fast_search(0, QUARN_HART_TURNAROUND_DEFAULT_MS);
    HartProcTest::TearDown();
  }

  // A search on a fresh bench built from `s`, with the fast setting as given.
  SearchResult searchOnFreshBench(const quarnsim::Scenario& s, bool fast) {
    resetPorts();
    bench.reset();
    connect(s);
    quarn_hart_set_fast_search(fast ? 1 : 0, QUARN_HART_TURNAROUND_DEFAULT_MS);
    const uint32_t start = clock.now();
    EXPECT_TRUE(runTask(TASK_HART_SEARCH));
    SearchResult r{};
    r.durationMs = clock.now() - start;
    r.firstChannel = Dev.hartFirstCh;
    for (int ch = 0; ch < 4; ++ch) {
      const THartDev& h = Dev.hart[ch];
      r.devices[ch] = {h.found,      h.pollingAddress, h.deviceId, std::string(h.tag, strnlen(h.tag, 8)),
                       h.upperRange, h.outputType};
    }
    return r;
  }

  // Silent polls of one channel: the time between a poll and the next one.
  std::vector<uint32_t> pollGaps(int channel) const {
    std::vector<uint32_t> at, gaps;
    for (const HartRequest& r : bench->hart)
      if (r.shortFrame && r.channel == channel) at.push_back(r.atMs);
    for (std::size_t i = 1; i < at.size(); ++i) gaps.push_back(at[i] - at[i - 1]);
    return gaps;
  }
};

// Each scenario's devices, as the search with fixed windows finds them.
struct SameDevicesCase {
  const char* name;
  void (*arrange)(quarnsim::Scenario&);
  std::array<int, 4> expectedAddress;  // polling address found per channel, -1 for none
};

void PrintTo(const SameDevicesCase& c, std::ostream* os) { *os << c.name; }

class FastSearchFindsTheSameDevices : public FastSearch,
                                      public ::testing::WithParamInterface<SameDevicesCase> {};

TEST_P(FastSearchFindsTheSameDevices, AsTheSearchWithFixedWindows) {
  const SameDevicesCase& c = GetParam();
  quarnsim::Scenario s = scenario();
  for (int ch = 0; ch < 4; ++ch) {
    s.channels[ch].deviceId = 1000 + static_cast<uint32_t>(ch);
    s.channels[ch].tag = "CH" + std::to_string(ch + 1);
    s.channels[ch].upperRange = 100.0 * (ch + 1);
  }
  c.arrange(s);

  const SearchResult fixed = searchOnFreshBench(s, false);
  const SearchResult fast = searchOnFreshBench(s, true);
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE("channel " + std::to_string(ch + 1));
    const int expected = c.expectedAddress[ch];
    EXPECT_EQ(fixed.devices[ch].found, expected >= 0 ? 1u : 0u);
    if (expected >= 0) {
      EXPECT_EQ(fixed.devices[ch].pollingAddress, static_cast<uint32_t>(expected));
      // Eight packed-ASCII characters, padded with blanks.
      EXPECT_EQ(fixed.devices[ch].tag, "CH" + std::to_string(ch + 1) + "     ")
          << "the read chain was answered";
    }
    EXPECT_EQ(fast.devices[ch], fixed.devices[ch]);
  }
  EXPECT_EQ(fast.firstChannel, fixed.firstChannel);
  EXPECT_LT(fast.durationMs, fixed.durationMs);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, FastSearchFindsTheSameDevices,
    ::testing::Values(SameDevicesCase{"AddressesUpTo15AndAPlainTransmitter",
                                      [](quarnsim::Scenario& s) {
                                        s.channels[1].pollingAddress = 7;
                                        s.channels[2].pollingAddress = 15;
                                        s.channels[3].hart = false;  // a 4-20 mA transmitter without HART
                                      },
                                      {0, 7, 15, -1}},
                      // Transmitters that begin their answers just inside the slave time-out (257 ms).
                      SameDevicesCase{"SlowAnswersNearTheTimeOut",
                                      [](quarnsim::Scenario& s) {
                                        s.channels[0].pollingAddress = 2;
                                        s.channels[2].pollingAddress = 9;
                                        for (int ch = 0; ch < 4; ++ch)
                                          s.channelTurnaround[ch] = quarnsim::DelayRange{245, 257};
                                      },
                                      {2, 0, 9, 0}},
                      // Busy with an earlier request at the first poll: the device answers only the repeat.
                      SameDevicesCase{"AnswerOnlyToTheRepeatedPoll",
                                      [](quarnsim::Scenario& s) {
                                        s.channels[0].pollingAddress = 3;
                                        s.channels[0].faults.errorCommand = 0;
                                        s.channels[0].faults.errorCode = 32;
                                        s.channels[0].faults.errorCount = 1;
                                      },
                                      {3, 0, 0, 0}},
                      // Busy twice while its tag is read: the read is asked again, the chain goes on.
                      SameDevicesCase{"BusyDeviceDuringTheReads",
                                      [](quarnsim::Scenario& s) {
                                        s.channels[1].faults.errorCommand = 13;
                                        s.channels[1].faults.errorCode = 32;
                                        s.channels[1].faults.errorCount = 2;
                                      },
                                      {0, 0, 0, 0}},
                      // The Kesto module answers late and loses its first select answer: the fast
                      // search takes its answers as they end, so it must wait for the late ones and
                      // repeat the lost one as the fixed windows do.
                      SameDevicesCase{"SlowKestoModuleLosingASelectAnswer",
                                      [](quarnsim::Scenario& s) {
                                        ASSERT_EQ(
                                            quarnsim::applyScenarioText(s,
                                                                        "kesto.turnaround_ms = 80\n"
                                                                        "fault = kesto silent cmd=5 nth=1\n"),
                                            "");
                                        s.channels[1].pollingAddress = 1;
                                      },
                                      {0, 1, 0, 0}},
                      SameDevicesCase{"NoDeviceAnywhere",
                                      [](quarnsim::Scenario& s) {
                                        s.channelStatus = {0, 1, 1, 0};
                                        s.channels[0].hart = false;
                                        s.channels[3].present = false;
                                      },
                                      {-1, -1, -1, -1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FastSearch, ASilentPollEndsAtTheSlaveTimeOutAfterTheRequestsLastByte) {
  quarnsim::Scenario s = scenario();
  s.channels[0].pollingAddress = 4;
  s.channelStatus = {0, 1, 1, 1};
  const SearchResult r = searchOnFreshBench(s, true);
  ASSERT_EQ(r.devices[0].found, 1u);
  const std::vector<uint32_t> gaps = pollGaps(0);
  ASSERT_EQ(gaps.size(), 4u) << "addresses 0 to 3 stay silent";
  // 11 bytes at 10 ms, the 257 ms a device has to begin, its first byte, the line's turnaround; the
  // virtual timer looks on a 20 ms grid.
  const uint32_t earliest = 110 + 257 + 10 + QUARN_HART_TURNAROUND_DEFAULT_MS;
  for (const uint32_t gap : gaps) {
    EXPECT_GE(gap, earliest);
    EXPECT_LT(gap, earliest + 20);
  }
}

// Before its first poll the search reads the Kesto module's channel status (three requests) and
// selects the channel: the fixed windows wait 200 ms for each status answer and 300 ms for the
// select's, the fast search takes each answer once it has ended. Both give the module the same
// 200 ms after the select's answer, and the same status.
TEST_F(FastSearch, TheKestoModulesAnswersAreTakenAsTheyEnd) {
  quarnsim::Scenario s = scenario();
  s.channelStatus = {1, 0, 1, 1};  // channel 2 alone is usable
  uint32_t firstPoll[2] = {};
  for (const bool fast : {false, true}) {
    SCOPED_TRACE(fast ? "fast" : "fixed windows");
    resetPorts();
    bench.reset();
    connect(s);
    quarn_hart_set_fast_search(fast ? 1 : 0, QUARN_HART_TURNAROUND_DEFAULT_MS);
    const uint32_t start = clock.now();
    ASSERT_TRUE(runTask(TASK_HART_SEARCH));
    ASSERT_FALSE(bench->hart.empty());
    EXPECT_EQ(bench->hart.front().channel, 1);
    EXPECT_EQ(Dev.hartFirstCh, 1);
    firstPoll[fast] = bench->hart.front().atMs - start;
  }
  // SetTask's 200 ms, then the status reading and the select.
  EXPECT_GE(firstPoll[false], 200u + 3 * 200u + 300u + 200u);
  // The module answers 5 to 25 ms after a request; each answer is looked for every timer period.
  EXPECT_LE(firstPoll[true], 200u + 4 * 80u + 200u);
}

TEST_F(FastSearch, ATurnaroundSettingWaitsLongerForEachSilentPoll) {
  quarnsim::Scenario s = scenario();
  s.channels[0].hart = false;
  s.channelStatus = {0, 1, 1, 1};
  resetPorts();
  connect(s);
  quarn_hart_set_fast_search(1, 100);
  ASSERT_TRUE(runTask(TASK_HART_SEARCH));
  const std::vector<uint32_t> gaps = pollGaps(0);
  ASSERT_EQ(gaps.size(), 63u);
  for (const uint32_t gap : gaps) EXPECT_GE(gap, 110u + 257u + 10u + 100u);
  uint32_t turnaround = 0;
  EXPECT_EQ(quarn_hart_fast_search(&turnaround), 1);
  EXPECT_EQ(turnaround, 100u);
  quarn_hart_set_fast_search(1, 60000);
  quarn_hart_fast_search(&turnaround);
  EXPECT_EQ(turnaround, 1000u) << "at most 1 s";
}

// The time from one request to the next when the step between takes its answer after `windowMs`:
// the window itself, up to the timer call that follows its end.
void expectFixedWindow(uint32_t gapMs, uint32_t windowMs) {
  EXPECT_GE(gapMs, windowMs);
  EXPECT_LT(gapMs, windowMs + quarn::test::VirtualClock::kTimerPeriodMs);
}

// With the setting off, the search keeps its fixed windows, 1 s per poll and 800 ms per read, also
// after a fast search has run.
TEST_F(FastSearch, TheFixedWindowsStayWhenTheSettingIsOff) {
  quarnsim::Scenario s = scenario();
  s.channels[0].pollingAddress = 2;
  s.channelStatus = {0, 1, 1, 1};
  for (const bool fastBefore : {false, true}) {
    SCOPED_TRACE(fastBefore ? "after a fast search" : "setting never on");
    if (fastBefore) searchOnFreshBench(s, true);
    const SearchResult r = searchOnFreshBench(s, false);
    ASSERT_EQ(r.devices[0].found, 1u);
    const std::vector<uint32_t> gaps = pollGaps(0);
    ASSERT_EQ(gaps.size(), 2u);
    for (const uint32_t gap : gaps) expectFixedWindow(gap, 1000);
    std::vector<uint32_t> reads;
    for (const HartRequest& q : bench->hart)
      if (!q.shortFrame) reads.push_back(q.atMs);
    ASSERT_EQ(reads.size(), 6u);
    // The read chain starts when the answered poll's window ends.
    expectFixedWindow(reads[0] - bench->hart[2].atMs, 1000);
    for (std::size_t i = 1; i < reads.size(); ++i) expectFixedWindow(reads[i] - reads[i - 1], 800);
  }
}

TEST_F(FastSearch, OnlyTheSearchIsFastAWriteAfterItWaitsItsFixedWindows) {
  quarnsim::Scenario s = scenario();
  s.channelStatus = {0, 1, 1, 1};
  searchOnFreshBench(s, true);
  bench->hart.clear();
  writeParameters(0, 12, 0, 0, 0, 600, 2.0f);  // only the damping differs: 34, then the read chain
  ASSERT_TRUE(runTask(TASK_HART_WRITE));
  std::vector<uint32_t> reads;
  for (const HartRequest& q : bench->hart)
    if (q.command != 34) reads.push_back(q.atMs);
  ASSERT_EQ(reads.size(), 6u);
  for (std::size_t i = 1; i < reads.size(); ++i) expectFixedWindow(reads[i] - reads[i - 1], 800);
}

// What the fast search does beyond the fixed windows: a poll whose answer arrives damaged is sent
// once more, so a device whose first answer was hit by noise is found (the fixed-window search goes
// on to the next address and misses it).
TEST_F(FastSearch, APollWithADamagedAnswerIsSentOnceMore) {
  quarnsim::Scenario s = scenario();
  s.channels[0].pollingAddress = 1;
  s.channels[0].faults.damagedFirst = 1;
  s.channels[1].faults.badChecksum = true;  // damaged every time: one repeat, then the next address
  s.channelStatus = {0, 0, 1, 1};
  const SearchResult fast = searchOnFreshBench(s, true);
  EXPECT_EQ(fast.devices[0].found, 1u);
  EXPECT_EQ(fast.devices[0].pollingAddress, 1u);
  std::vector<int> polled;
  for (const HartRequest& r : bench->hart)
    if (r.shortFrame && r.channel == 0) polled.push_back(r.address);
  EXPECT_EQ(polled, (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(fast.devices[1].found, 0u);
  EXPECT_EQ(bench->polls(1), 65) << "64 addresses, address 0 twice";

  const SearchResult fixed = searchOnFreshBench(s, false);
  EXPECT_EQ(fixed.devices[0].found, 0u);
}

}  // namespace
