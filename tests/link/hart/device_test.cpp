// Zero, reset, restoring manufacturer settings, the sensor trim and the HART check sequence.
#include "hartproc_fixture.h"

namespace {

using quarn::test::floatAt;
using quarn::test::HartProcTest;

class HartDeviceJobs : public HartProcTest {
 protected:
  // One device on channel 1; channel 2 usable but without a device.
  void oneDevice(quarnsim::Scenario s = scenario()) {
    s.channels[1].hart = false;
    s.channelStatus = {0, 0, 1, 1};
    ASSERT_NO_FATAL_FAILURE(connect(s));
    ASSERT_NO_FATAL_FAILURE(search());
    ASSERT_EQ(quarn::test::field(Dev.hart[0].found), 1u);
    ASSERT_EQ(quarn::test::field(Dev.hart[1].found), 0u);
    before = bench->hart.size();
  }
  std::size_t before = 0;
};

TEST_F(HartDeviceJobs, ZeroSetsTheDeviceZeroAndReadsThePrimaryVariable) {
  quarnsim::Scenario s = scenario();
  s.channels[0].errorPercent = 0.5;  // reads 3 kPa at 0 kPa
  ASSERT_NO_FATAL_FAILURE(oneDevice(s));
  int32_t ch = 0;
  ASSERT_TRUE(runTask(TASK_HART_SET_0, &ch));
  EXPECT_EQ(bench->commands(before), (std::vector<int>{43, 1}));
  EXPECT_NE(lastEvent(8), nullptr);
  EXPECT_NEAR(quarn::test::field(Dev.hart[0].dynVar[0].value), 0.0f, 0.05f);
  EXPECT_FALSE(sawRetCode(7));
}

TEST_F(HartDeviceJobs, ZeroAndResetOnAChannelWithoutDeviceSendNothing) {
  ASSERT_NO_FATAL_FAILURE(oneDevice());
  struct Case {
    uint32_t task;
    int32_t ch;
    bool retCode7;
  } cases[] = {{TASK_HART_SET_0, 1, true},
               {TASK_HART_SET_0, 9, true},
               {TASK_HART_RESET, 1, false},
               {TASK_HART_RESET, -1, false}};
  for (const Case& c : cases) {
    int32_t ch = c.ch;
    ASSERT_TRUE(runTask(c.task, &ch)) << c.task;
    EXPECT_EQ(bench->hart.size(), before) << c.task << " " << c.ch;
    EXPECT_EQ(sawRetCode(7), c.retCode7) << c.task << " " << c.ch;
  }
  // No argument at all.
  ASSERT_TRUE(runTask(TASK_HART_SET_0, nullptr));
  EXPECT_TRUE(sawRetCode(7));
}

TEST_F(HartDeviceJobs, ZeroRefusedByTheDeviceReportsSeven) {
  quarnsim::Scenario s = scenario();
  s.channels[0].faults.errorCommand = 43;
  s.channels[0].faults.errorCode = 9;
  ASSERT_NO_FATAL_FAILURE(oneDevice(s));
  int32_t ch = 0;
  ASSERT_TRUE(runTask(TASK_HART_SET_0, &ch));
  EXPECT_TRUE(sawRetCode(7));
  EXPECT_EQ(bench->commands(before), (std::vector<int>{43}));
  EXPECT_EQ(lastEvent(8), nullptr);
}

TEST_F(HartDeviceJobs, ResetSendsFortyTwo) {
  ASSERT_NO_FATAL_FAILURE(oneDevice());
  int32_t ch = 0;
  ASSERT_TRUE(runTask(TASK_HART_RESET, &ch));
  EXPECT_EQ(bench->commands(before), (std::vector<int>{42}));
}

TEST_F(HartDeviceJobs, RestoreBringsBackTheFactoryRangeAndReadsTheDeviceAgain) {
  ASSERT_NO_FATAL_FAILURE(oneDevice());
  tx(0).config().upperRange = 300;  // changed since the factory
  Dev.hartCh = 0;
  ASSERT_TRUE(runTask(TASK_HART_REPAIR_MAN));
  EXPECT_EQ(bench->commands(before), (std::vector<int>{136, 136, 42, 0, 7, 13, 14, 15, 128}));
  const auto restores = bench->requests(136, 0);
  ASSERT_EQ(restores.size(), 2u);
  EXPECT_EQ(restores[0].data, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(restores[1].data, (std::vector<uint8_t>{0, 1}));
  EXPECT_FLOAT_EQ(quarn::test::field(Dev.hart[0].upperRange), 600.0f);
  // Five counts before the read chain, then one per read step.
  const auto* read = lastEvent(9);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->hartProgress, 12u);
  EXPECT_TRUE(sawRetCode(5));

  for (int32_t chan : {1, 4, -1}) {
    Dev.hartCh = chan;
    const std::size_t n = bench->hart.size();
    ASSERT_TRUE(runTask(TASK_HART_REPAIR_MAN));
    EXPECT_TRUE(sawRetCodeInTask(9, TASK_HART_REPAIR_MAN)) << chan;
    EXPECT_EQ(bench->hart.size(), n);
  }
}

TEST_F(HartDeviceJobs, SensorTrimWaitsForSteadyReadingsAndTrimsAtPminAndPmax) {
  quarnsim::Scenario s = scenario();
  s.channels[0].errorPercent = 1.0;  // 6 kPa too high
  ASSERT_NO_FATAL_FAILURE(oneDevice(s));
  Dev.trimOn[0] = 1;
  Dev.trimPmin = 0;
  Dev.trimPmax = 100;
  Dev.trimCorridor = 0.5f;  // band 0.5 kPa
  Dev.trimTime = 3;
  const uint32_t start = clock.now();
  SetTask(TASK_HART_TUNE_TRIM, nullptr);
  ASSERT_TRUE(runUntil([] { return Dev.hartStage == 2; }, 120000));
  EXPECT_FLOAT_EQ(quarn::test::field(Dev.refStat.readyCorridor), 0.5f);
  EXPECT_EQ(quarn::test::field(Dev.ch[0].pStat.holdMs), 3000u);
  bench->engine.operatorSetsPressure(100);
  ASSERT_TRUE(runUntil([] { return Dev.task == TASK_MEASURE; }, 300000));

  const auto trims = bench->requests(82);
  ASSERT_EQ(trims.size(), 2u);
  EXPECT_EQ(trims[0].channel, 0);
  EXPECT_EQ(std::vector<uint8_t>(trims[0].data.begin(), trims[0].data.begin() + 3),
            (std::vector<uint8_t>{0, 1, 12}));
  EXPECT_NEAR(floatAt(trims[0].data, 3), 0.0f, 0.5f);
  EXPECT_GE(trims[0].atMs - start, 3000u) << "the readings must hold for the trim time first";
  EXPECT_EQ(std::vector<uint8_t>(trims[1].data.begin(), trims[1].data.begin() + 3),
            (std::vector<uint8_t>{0, 2, 12}));
  EXPECT_NEAR(floatAt(trims[1].data, 3), 100.0f, 0.5f);
  // What the operator is told while each trim point is written.
  EXPECT_EQ(trims[0].step, "Подстройка сенсора Pmin");
  EXPECT_EQ(trims[1].step, "Подстройка сенсора Pmax");
  EXPECT_TRUE(sawRetCodeInTask(1, TASK_HART_TUNE_TRIM));
  EXPECT_NE(lastEvent(7), nullptr);
  // The device now reads the reference pressure.
  tx(0).advance(bench->engine.nowS() + 10);
  EXPECT_NEAR(tx(0).primaryValue(), bench->engine.pressureKPa(), 0.5);
}

TEST_F(HartDeviceJobs, SensorTrimHoldsTheDevicesOnlyWhileTheReferenceIsInItsCorridor) {
  quarnsim::Scenario s = scenario();
  // The reference starts outside the Pmin corridor; the device is so slow that its own reading
  // stays steady all along, so only the reference decides when its hold may start.
  s.initialKPa = 5;
  s.channels[0].damping = 1000;
  ASSERT_NO_FATAL_FAILURE(oneDevice(s));
  Dev.trimOn[0] = 1;
  Dev.trimPmin = 0;
  Dev.trimPmax = 100;
  Dev.trimCorridor = 0.5f;
  Dev.trimTime = 8;  // well beyond the reference's own settling after its return
  SetTask(TASK_HART_TUNE_TRIM, nullptr);
  // Long enough for a steady device to finish its hold, were the reference not outside.
  clock.runFor(25000);
  EXPECT_TRUE(bench->requests(82).empty());
  bench->engine.setPressureKPa(0);
  const uint32_t back = clock.now();
  ASSERT_TRUE(runUntil([this] { return !bench->requests(82).empty(); }, 60000));
  EXPECT_GE(bench->requests(82).front().atMs - back, 8000u)
      << "the whole hold time after the reference came in";
  EXPECT_NEAR(floatAt(bench->requests(82).front().data, 3), 0.0f, 0.5f);
}

TEST_F(HartDeviceJobs, SensorTrimEndsWithErrorSixWhenTheChannelSelectIsNotAnswered) {
  quarnsim::Scenario s = scenario();
  ASSERT_NO_FATAL_FAILURE(oneDevice(s));
  quarnsim::Fault silent;
  silent.target = quarnsim::FaultTarget::Kesto;
  silent.kind = quarnsim::FaultKind::Silent;
  silent.command = 5;
  bench->engine.addFault(silent);
  Dev.trimOn[0] = 1;
  Dev.trimPmin = 0;
  Dev.trimPmax = 100;
  Dev.trimCorridor = 0.5f;
  Dev.trimTime = 1;
  ASSERT_TRUE(runTask(TASK_HART_TUNE_TRIM, nullptr, 120000));
  EXPECT_TRUE(sawError(6, "Сбой\tустановки канала Kesto"));
  EXPECT_TRUE(bench->requests(82).empty());
}

// A device busy with an earlier request (response code 32) has not carried the request out: the
// procedure shows a warning and asks again after a short pause while the repeat budget lasts.
enum class BusyJob { Search, WriteDamping, Zero, CurrentCheck };

struct BusyCase {
  const char* name;
  BusyJob job;
  int command;      // the command the device answers "busy"
  int busyAnswers;  // how many times (-1: always)
  size_t sends;     // requests of that command the device gets
  bool done;        // the job got what it asked for
};

void PrintTo(const BusyCase& c, std::ostream* os) { *os << c.name; }

class HartBusyDevice : public HartProcTest, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(HartBusyDevice, IsAskedAgainAfterAWarning) {
  const BusyCase& c = GetParam();
  quarnsim::Scenario s = scenario();
  s.channelStatus = {0, 1, 1, 1};
  // The scenario key of the simulator: "command:code:count".
  const std::string busy = std::to_string(c.command) + ":32:" + std::to_string(c.busyAnswers);
  ASSERT_EQ(quarnsim::applySetting(s, "channel.1.hart_error", busy), "");
  ASSERT_NO_FATAL_FAILURE(connect(s));
  SetTask(TASK_HART_SEARCH, nullptr);  // notices of the search are kept for the search case
  ASSERT_TRUE(runUntil([] { return Dev.task == TASK_MEASURE; }, 600000));
  ASSERT_EQ(quarn::test::field(Dev.hart[0].found), 1u);
  bool done = false;
  switch (c.job) {
    case BusyJob::Search:
      done = Dev.hart[0].upperRange == 600.0f;
      break;
    case BusyJob::WriteDamping:
      writeParameters(0, 12, 0, 0, 0, 600, 2.0f);  // only the damping differs
      ASSERT_TRUE(runTask(TASK_HART_WRITE));
      done = Dev.hart[0].damping == 2.0f;
      break;
    case BusyJob::Zero: {
      int32_t ch = 0;
      ASSERT_TRUE(runTask(TASK_HART_SET_0, &ch));
      done = lastEvent(8) != nullptr && !sawRetCode(7);
      break;
    }
    case BusyJob::CurrentCheck:
      ASSERT_TRUE(runTask(TASK_HART_CHECK_I));
      done = sawRetCodeInTask(1, TASK_HART_CHECK_I);
      break;
  }
  EXPECT_EQ(done, c.done);
  EXPECT_EQ(bench->requests(c.command, 0).size(), c.sends);
  EXPECT_TRUE(sawError(2, "Предупреждение: Устройство занято."));
  // The repeat is the same request, a short pause after the busy answer.
  const auto sent = bench->requests(c.command, 0);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[1].data, sent[0].data);
  EXPECT_GE(sent[1].atMs - sent[0].atMs, 150u);
  // The pause runs from the busy answer the library has taken, not from the request: the request and
  // its answer alone take about as long as the pause, so a repeat sent at once would still be 150 ms
  // after the request.
  const auto busyTaken = bench->answersTaken(c.command, 32);
  ASSERT_EQ(busyTaken.size(), c.busyAnswers < 0 ? sent.size() : static_cast<std::size_t>(c.busyAnswers));
  for (std::size_t i = 1; i < sent.size() && i <= busyTaken.size(); ++i)
    EXPECT_GE(sent[i].atMs - busyTaken[i - 1], 190u) << "repeat " << i;
  if (!c.done) {
    EXPECT_TRUE(sawError(2, "Ошибка прибора: Устройство занято."))
        << "the refusal once the budget is used up";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HartBusyDevice,
                         ::testing::Values(BusyCase{"ReadInTheSearch", BusyJob::Search, 15, 2, 3, true},
                                           BusyCase{"DampingWrite", BusyJob::WriteDamping, 34, 1, 2, true},
                                           BusyCase{"Zero", BusyJob::Zero, 43, 2, 3, true},
                                           BusyCase{"FixedCurrent", BusyJob::CurrentCheck, 40, 1, 5, true},
                                           // The first request and three repeats, then the refusal.
                                           BusyCase{"ZeroAlwaysBusy", BusyJob::Zero, 43, -1, 4, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The check sequence: search, range check, then the check run.
struct SequenceCase {
  const char* name;
  double upper1, upper2;  // kPa ranges of channels 1 and 2 (0: no HART device there)
  uint32_t errCode;
  const char* errText;
  uint32_t retCode;
};

class HartCheckSequence : public HartProcTest, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(HartCheckSequence, EndsWithItsResultCode) {
  const SequenceCase& c = GetParam();
  quarnsim::Scenario s = scenario();
  s.channelStatus = {0, 0, 1, 1};
  s.channels[0].hart = c.upper1 > 0;
  s.channels[1].hart = c.upper2 > 0;
  s.channels[0].upperRange = c.upper1;
  s.channels[1].upperRange = c.upper2;
  ASSERT_NO_FATAL_FAILURE(connect(s));
  // The operator holds the source at 0 kPa with the input valve open, so the run can record.
  bench->engine.operatorSetsPressure(0);
  Dev.pointCount = 1;
  Dev.points[0].prc = 0;
  Dev.povHeader.dRdy = 1;
  Dev.refStat.readyCorridor = 0.5f;  // readiness as the parameters screen sets it
  ASSERT_TRUE(runTask(TASK_CHECK_HART, nullptr, 600000));
  EXPECT_TRUE(sawRetCodeInTask(c.retCode, TASK_CHECK_HART));
  if (c.errCode) {
    EXPECT_TRUE(sawError(c.errCode, c.errText));
    // The end of the task still shows the range check's own code and text.
    ASSERT_FALSE(notices().empty());
    EXPECT_EQ(notices().back().errCode, c.errCode);
    EXPECT_EQ(notices().back().errText, c.errText);
  } else {
    for (const auto& n : notices()) EXPECT_TRUE(n.errCode < 12 || n.errCode > 15) << n.errCode;
  }
  if (c.name == std::string("RunsTheCheck")) {
    EXPECT_EQ(quarn::test::field(Dev.results[0].valid), 1u) << "the check run recorded its point";
    EXPECT_EQ(quarn::test::field(Dev.trimOn[0]), 1u);
    EXPECT_EQ(quarn::test::field(Dev.hartChk[0].active), 1u);
  }
  if (c.retCode == 1) {
    EXPECT_FALSE(sawRetCodeInTask(13, TASK_CHECK_HART)) << "no range check without devices";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HartCheckSequence,
                         ::testing::Values(SequenceCase{"NothingFound", 0, 0, 0, "", 1},
                                           SequenceCase{"RangesDiffer", 600, 1000, 13,
                                                        "Диапазоны приборов не совпадают!", 13},
                                           SequenceCase{"BeyondTheCalibrator", 3000, 0, 14,
                                                        "Диапазон\tприбора\tпревышает диапазон Brenk!", 13},
                                           SequenceCase{"RunsTheCheck", 600, 600, 0, "", 13}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
