// HART device search and device information against simulated transmitters, in virtual time.
#include "hartproc_fixture.h"

namespace {

using quarn::test::HartProcTest;
using quarnsim::OutputType;

class HartSearch : public HartProcTest {};

TEST_F(HartSearch, FindsEachChannelsDeviceReadsItAndFillsTheChannelRecords) {
  quarnsim::Scenario s = scenario();
  // Channel 1: a device at polling address 5 with a range in bar; the others show the output types.
  s.channels[0].pollingAddress = 5;
  s.channels[0].units = 7;
  s.channels[0].lowerRange = 0;
  s.channels[0].upperRange = 1.6;
  s.channels[0].lowerSensorLimit = -1;
  s.channels[0].upperSensorLimit = 25;
  s.channels[0].minSpan = 0.1;
  s.channels[0].deviceId = 123456;
  s.channels[0].damping = 0.25;
  s.channels[0].tag = "PT-5";
  s.channels[1].output = OutputType::mA0_5;
  s.channels[2].output = OutputType::mA5_0;
  s.channels[3].output = OutputType::mA20_4;
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());

  // Addresses 0..4 stay silent, 5 answers; nothing after the answer is polled.
  std::vector<int> polled;
  for (const auto& r : bench->hart)
    if (r.shortFrame && r.channel == 0) polled.push_back(r.address);
  ASSERT_EQ(polled, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  const auto firstPoll = bench->hart.front().atMs;
  const auto answeredPoll = bench->requests(0, 0).size() > 5 ? bench->requests(0, 0)[5].atMs : 0;
  EXPECT_NEAR(static_cast<double>(answeredPoll - firstPoll), 5000.0, 200.0)
      << "one second per silent address";
  EXPECT_EQ(bench->commands(0, 0), (std::vector<int>{0, 7, 13, 14, 15, 128}));
  for (int ch = 1; ch < 4; ++ch) EXPECT_EQ(bench->polls(ch), 1) << ch;

  EXPECT_EQ(quarn::test::field(Dev.hartFirstCh), 0);
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(quarn::test::field(Dev.hart[ch].found), 1u) << ch;
    EXPECT_EQ(quarn::test::field(Dev.hartChk[ch].active), 1u) << ch;
  }
  const THartDev& h = Dev.hart[0];
  EXPECT_EQ(+h.pollingAddress, 5);
  EXPECT_EQ(+h.deviceId, 123456u);
  EXPECT_EQ(std::string(h.tag, 4), "PT-5");

  const TDevChannel& d = Dev.devCh[0];
  EXPECT_EQ(d.enabled, 1);
  EXPECT_STREQ(d.sn, "123456");
  EXPECT_STREQ(d.name, h.deviceTypeName);
  EXPECT_FLOAT_EQ(quarn::test::field(d.Min), 0.0f);
  EXPECT_FLOAT_EQ(quarn::test::field(d.Max), 1.6f);
  EXPECT_FLOAT_EQ(quarn::test::field(d.MinKpa), 0.0f);
  EXPECT_FLOAT_EQ(quarn::test::field(d.MaxKpa), 160.0f);
  EXPECT_FLOAT_EQ(quarn::test::field(d.toKpaMul), 100.0f);
  EXPECT_FLOAT_EQ(quarn::test::field(d.tDamp), 0.25f);
  EXPECT_EQ(std::string(d.Unit), std::string(CP1251("Бар")));
  EXPECT_EQ(std::string(d.el_Unit), std::string(CP1251("мА")));

  struct Expected {
    float lo, hi;
    int type;
  };
  const Expected byChannel[4] = {{4, 20, 0}, {0, 5, 2}, {5, 0, 3}, {20, 4, 1}};
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_FLOAT_EQ(quarn::test::field(Dev.devCh[ch].el_Min), byChannel[ch].lo) << ch;
    EXPECT_FLOAT_EQ(quarn::test::field(Dev.devCh[ch].el_Max), byChannel[ch].hi) << ch;
    EXPECT_EQ(quarn::test::field(Dev.devCh[ch].elTypeSignal), byChannel[ch].type) << ch;
  }

  // One "found" and one "read" report per device, and the end of the search.
  int found = 0, read = 0;
  for (const auto& n : notices()) {
    found += n.retCode == 3;
    read += n.event == 9;
  }
  EXPECT_GE(found, 4);
  EXPECT_EQ(read, 4);
  EXPECT_NE(lastEvent(6), nullptr);
}

TEST_F(HartSearch, SkipsUnusableChannelsCountsEmptyOnesAndNamesTheFirstFound) {
  quarnsim::Scenario s = scenario();
  s.channels[0].hart = false;  // a loop without a HART device: every address is tried
  s.channelStatus[1] = 1;      // the Kesto module reports channel 2 unusable
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());

  EXPECT_EQ(bench->polls(0), 64);
  EXPECT_EQ(bench->polls(1), 0);
  EXPECT_EQ(quarn::test::field(Dev.chSkip[1]), 1);
  EXPECT_EQ(quarn::test::field(Dev.hartChk[1].active), 0u);
  EXPECT_EQ(quarn::test::field(Dev.hart[0].found), 0u);
  EXPECT_EQ(quarn::test::field(Dev.hart[1].found), 0u);
  EXPECT_EQ(quarn::test::field(Dev.hart[2].found), 1u);
  EXPECT_EQ(quarn::test::field(Dev.hart[3].found), 1u);
  EXPECT_EQ(quarn::test::field(Dev.hartFirstCh), 2);
}

TEST_F(HartSearch, NothingFoundEndsThroughSuccessWithFirstChannelMinusOne) {
  quarnsim::Scenario s = scenario();
  for (auto& c : s.channels) c.hart = false;
  s.channelStatus = {1, 1, 0, 1};
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());
  EXPECT_EQ(bench->polls(2), 64);
  EXPECT_EQ(quarn::test::field(Dev.hartFirstCh), -1);
  for (const THartDev& h : Dev.hart) EXPECT_EQ(+h.found, 0u);
  EXPECT_NE(lastEvent(6), nullptr);
}

TEST_F(HartSearch, AnUnansweredChannelSelectEndsTheSearchWithErrorSix) {
  quarnsim::Scenario s = scenario();
  quarnsim::Fault silent;
  silent.target = quarnsim::FaultTarget::Kesto;
  silent.kind = quarnsim::FaultKind::Silent;
  silent.command = 5;
  s.faults.push_back(silent);
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());
  EXPECT_TRUE(sawError(6, "Сбой\tустановки канала Kesto"));
  EXPECT_TRUE(bench->hart.empty()) << "no channel is polled";
  // The first select and three repeats.
  int selects = 0;
  for (const auto& r : bench->uailRequests) selects += r.find("3;5;0;") != std::string::npos;
  EXPECT_EQ(selects, 4);
  EXPECT_EQ(lastEvent(6), nullptr);
}

// The calibrator's line goes during the search (its port is gone): the next channel select fails,
// and the search says that the link was lost, not that the module failed to select a channel.
TEST_F(HartSearch, ALineLostDuringTheSearchSaysTheLinkWasLost) {
  ASSERT_NO_FATAL_FAILURE(connect(scenario()));
  notices().clear();
  SetTask(TASK_HART_SEARCH, nullptr);
  ASSERT_TRUE(runUntil([&] { return bench->polls(1) > 0; }, 120000)) << "the second channel is polled";
  bench->engine.setConnected(false);
  ASSERT_TRUE(runUntil([] { return Dev.task == TASK_MEASURE; }, 600000));
  EXPECT_TRUE(sawError(ERR_LINK_LOST, "связь с калибратором потеряна"));
  for (const auto& n : notices()) EXPECT_NE(n.errCode, 6u) << n.errText;
  EXPECT_EQ(lastEvent(6), nullptr) << "the search did not end as done";
}

TEST_F(HartSearch, AChannelSelectAnsweredWithAnErrorCodeAlsoEndsAfterTheBudget) {
  quarnsim::Scenario s = scenario();
  quarnsim::Fault refused;
  refused.target = quarnsim::FaultTarget::Kesto;
  refused.kind = quarnsim::FaultKind::ErrorCode;
  refused.command = 5;
  refused.code = 11;
  s.faults.push_back(refused);
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_TRUE(runTask(TASK_HART_SEARCH, nullptr, 30000))
      << "a refusing module must not keep the search repeating";
  EXPECT_TRUE(sawError(6, "Сбой\tустановки канала Kesto"));
}

TEST_F(HartSearch, ASlowModuleThatLosesOneSelectAnswerGetsTheFullWindowForTheRepeat) {
  quarnsim::Scenario s = scenario();
  // The Kesto module answers 80 ms after a request, and the answer to the first channel select is
  // lost.
  ASSERT_EQ(quarnsim::applyScenarioText(s, "kesto.turnaround_ms = 80\nfault = kesto silent cmd=5 nth=1\n"),
            "");
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());

  EXPECT_FALSE(sawError(6, "Сбой\tустановки канала Kesto"));
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(quarn::test::field(Dev.hart[ch].found), 1u) << ch;
  // Channel 1 was selected twice (the lost answer and its repeat), the others once.
  int selects = 0;
  for (const auto& r : bench->uailRequests) selects += r.find("3;5;0;") != std::string::npos;
  EXPECT_EQ(selects, 2);
}

TEST_F(HartSearch, RequestsCarryThePreamblesTheDeviceAsksFor) {
  quarnsim::Scenario s = scenario();
  ASSERT_EQ(quarnsim::applySetting(s, "channel.1.request_preambles", "8"), "");  // hears no fewer
  s.channels[0].tag = "EIGHT";
  s.channels[1].requestPreambles = 3;  // asks for fewer than any frame carries
  s.channelStatus = {0, 0, 1, 1};
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());

  ASSERT_EQ(bench->commands(0, 0), (std::vector<int>{0, 7, 13, 14, 15, 128}));
  EXPECT_EQ(std::string(Dev.hart[0].tag, 5), "EIGHT") << "the device heard the read chain";
  EXPECT_EQ(quarn::test::field(Dev.hart[1].found), 1u);
  for (const auto& r : bench->hart) {
    // The polls come before the device has said what it needs.
    const int expected = r.shortFrame || r.channel == 1 ? 5 : 8;
    EXPECT_EQ(r.preambles, expected) << "channel " << r.channel << " command " << int(r.command);
  }
}

// What errCode says when a HART procedure ends: a decoded answer clears the "no HART device" each
// request leaves pending, and that code carries its own text.
enum class AfterSearch { Nothing, WriteDamping, ZeroOnSilentDevice };

struct EndCodeCase {
  const char* name;
  void (*arrange)(quarnsim::Scenario&);
  AfterSearch then;
  uint32_t errCode;
  const char* errText;
};

void PrintTo(const EndCodeCase& c, std::ostream* os) { *os << c.name; }

class HartEndCode : public HartProcTest, public ::testing::WithParamInterface<EndCodeCase> {};

TEST_P(HartEndCode, TheLastNotificationOfTheTaskShowsWhatHappened) {
  const EndCodeCase& c = GetParam();
  quarnsim::Scenario s = scenario();
  s.channelStatus = {0, 0, 1, 1};
  c.arrange(s);
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());
  uint32_t task = TASK_HART_SEARCH;
  if (c.then == AfterSearch::WriteDamping) {
    task = TASK_HART_WRITE;
    writeParameters(0, 12, 0, 0, 0, 600, 2.0f);  // only the damping differs
    ASSERT_TRUE(runTask(task));
    ASSERT_EQ(bench->requests(34).size(), 1u);
  } else if (c.then == AfterSearch::ZeroOnSilentDevice) {
    task = TASK_HART_SET_0;
    tx(0).config().faults.silent = true;
    int32_t ch = 0;
    ASSERT_TRUE(runTask(task, &ch));
  }
  const quarn::test::HartNotice* end = nullptr;
  for (const quarn::test::HartNotice& n : notices())
    if (n.task == task) end = &n;
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->errCode, c.errCode);
  EXPECT_EQ(end->errText, c.errText);
  // Code 1 never shows the text of another report.
  for (const quarn::test::HartNotice& n : notices()) {
    if (n.errCode == 1) {
      EXPECT_EQ(n.errText, "Нет подключенных\tHART-устройств");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HartEndCode,
    ::testing::Values(
        EndCodeCase{"FullyAnsweredSearch", [](quarnsim::Scenario&) {}, AfterSearch::Nothing, 0, "Ok"},
        // A refused read is reported with the device's text; the answers after it clear it.
        EndCodeCase{"RefusedReadThenAnswers",
                    [](quarnsim::Scenario& s) {
                      s.channels[1].faults.errorCommand = 13;
                      s.channels[1].faults.errorCode = 6;
                    },
                    AfterSearch::Nothing, 0, "Ok"},
        // The polls of an empty last channel do not make the search a failure...
        EndCodeCase{"SearchEndingOnAnEmptyChannel", [](quarnsim::Scenario& s) { s.channels[1].hart = false; },
                    AfterSearch::Nothing, 0, "Ok"},
        // ... but a search that found nothing says so.
        EndCodeCase{"NothingFound",
                    [](quarnsim::Scenario& s) { s.channels[0].hart = s.channels[1].hart = false; },
                    AfterSearch::Nothing, 1, "Нет подключенных\tHART-устройств"},
        EndCodeCase{"FullyAnsweredWrite", [](quarnsim::Scenario&) {}, AfterSearch::WriteDamping, 0, "Ok"},
        // The device falls silent after the search: the zero ends on an unanswered request.
        EndCodeCase{"SilentDevice", [](quarnsim::Scenario&) {}, AfterSearch::ZeroOnSilentDevice, 1,
                    "Нет подключенных\tHART-устройств"}),
    [](const auto& info) { return std::string(info.param.name); });

// Broken answers on channel 1; channel 2 always holds a good device.
struct BrokenAnswer {
  const char* name;
  void (*apply)(quarnsim::TransmitterConfig&);
  bool found;
  int pollsOnChannel;
};

class HartSearchBrokenAnswers : public HartProcTest, public ::testing::WithParamInterface<BrokenAnswer> {};

TEST_P(HartSearchBrokenAnswers, EndTheirChannelAndTheNextChannelsDeviceIsStillFound) {
  quarnsim::Scenario s = scenario();
  GetParam().apply(s.channels[0]);
  s.channelStatus = {0, 0, 1, 1};
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_TRUE(runTask(TASK_HART_SEARCH, nullptr, 200000));
  EXPECT_EQ(quarn::test::field(Dev.hart[0].found), GetParam().found ? 1u : 0u);
  EXPECT_EQ(bench->polls(0), GetParam().pollsOnChannel);
  EXPECT_EQ(quarn::test::field(Dev.hart[1].found), 1u);
  EXPECT_EQ(quarn::test::field(Dev.hartFirstCh), GetParam().found ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HartSearchBrokenAnswers,
    ::testing::Values(
        BrokenAnswer{"WrongChecksum", [](quarnsim::TransmitterConfig& c) { c.faults.badChecksum = true; },
                     false, 64},
        BrokenAnswer{"Truncated", [](quarnsim::TransmitterConfig& c) { c.faults.truncated = true; }, false,
                     64},
        BrokenAnswer{"Silent", [](quarnsim::TransmitterConfig& c) { c.faults.silent = true; }, false, 64},
        // Answers the poll and command 0 of the read chain, then falls silent: still found.
        BrokenAnswer{"StopsMidway", [](quarnsim::TransmitterConfig& c) { c.faults.stopAfterRequests = 2; },
                     true, 1},
        // Command 13 answered with an error code: reported, the chain goes on.
        BrokenAnswer{"ErrorCode",
                     [](quarnsim::TransmitterConfig& c) {
                       c.faults.errorCommand = 13;
                       c.faults.errorCode = 6;
                     },
                     true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HartSearch, ReadChainKeepsUnansweredFieldsAndReportsErrorAnswers) {
  quarnsim::Scenario s = scenario();
  s.channels[0].faults.errorCommand = 15;
  s.channels[0].faults.errorCode = 6;
  s.channels[1].faults.stopAfterRequests = 3;  // poll, 0, 7 answered; 13, 14, 15, 128 not
  s.channels[1].tag = "GONE";
  s.channelStatus = {0, 0, 1, 1};
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());
  // A device error answer: errCode 2 with the device's text; the chain goes on to 128.
  bool reported = false;
  for (const auto& n : notices()) reported |= n.errCode == 2 && !n.errText.empty();
  EXPECT_TRUE(reported);
  EXPECT_EQ(bench->commands(0, 0), (std::vector<int>{0, 7, 13, 14, 15, 128}));
  EXPECT_EQ(quarn::test::field(Dev.hart[0].found), 1u);
  // The silent one: found, its tag never read, and its range left as cleared.
  EXPECT_EQ(quarn::test::field(Dev.hart[1].found), 1u);
  EXPECT_EQ(quarn::test::field(Dev.hart[1].tag[0]), 0);
  EXPECT_EQ(bench->commands(0, 1), (std::vector<int>{0, 7, 13, 14, 15, 128}));
}

TEST(HartRangeFactor, PressureUnitsOfTheRecordAreConvertedToKpa) {
  struct Case {
    uint32_t code;
    float factor;
  } cases[] = {{12, 1.0f}, {7, 100.0f},       {237, 1000.0f},     {6, 6.8947587f},
               {8, 0.1f},  {175, 6.8947587f}, {239, 0.00980638f}, {11, 0.001f}};
  for (const Case& c : cases) EXPECT_FLOAT_EQ(quarn_hart_range_kpa_factor(c.code), c.factor) << c.code;
}

TEST(HartDeviceData, OnlyFoundDevicesAreCopiedAndUnknownOutputTypesKeepTheSignal) {
  InitDevHart();
  std::memset(Dev.devCh, 0, sizeof Dev.devCh);
  Dev.devCh[0].el_Min = 1;
  Dev.devCh[0].el_Max = 9;
  Dev.devCh[0].elTypeSignal = 7;
  Dev.hart[0].found = 1;
  Dev.hart[0].outputType = 7;
  Dev.hart[0].rangeUnits = 8;  // mbar
  Dev.hart[0].upperRange = 1600;
  std::memset(Dev.hart[0].deviceTypeName, 'X', sizeof Dev.hart[0].deviceTypeName - 1);
  Dev.devCh[1].el_Max = 3;  // channel 2 has no device: nothing changes
  Hart_Dev_Data_Upd();
  EXPECT_FLOAT_EQ(quarn::test::field(Dev.devCh[0].el_Min), 1.0f);
  EXPECT_FLOAT_EQ(quarn::test::field(Dev.devCh[0].el_Max), 9.0f);
  EXPECT_EQ(quarn::test::field(Dev.devCh[0].elTypeSignal), 7);
  EXPECT_FLOAT_EQ(quarn::test::field(Dev.devCh[0].MaxKpa), 160.0f);
  EXPECT_EQ(std::strlen(Dev.devCh[0].name), sizeof Dev.devCh[0].name - 1)
      << "a long model name is cut to fit";
  EXPECT_EQ(quarn::test::field(Dev.devCh[1].enabled), 0);
  EXPECT_FLOAT_EQ(quarn::test::field(Dev.devCh[1].el_Max), 3.0f);
}

}  // namespace
