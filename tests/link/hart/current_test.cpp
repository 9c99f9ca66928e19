// Current-output check, leaving fixed-current mode and the current trim against simulated
// transmitters whose output stages carry a gain and offset error.
#include "hartproc_fixture.h"

namespace {

using quarn::test::floatAt;
using quarn::test::floatBytes;
using quarn::test::HartProcTest;

class HartCurrent : public HartProcTest {
 protected:
  // Devices on channels 1 and 2 (the others unusable), found by a search.
  void twoDevices(quarnsim::Scenario s) {
    s.channelStatus = {0, 0, 1, 1};
    ASSERT_NO_FATAL_FAILURE(connect(s));
    ASSERT_NO_FATAL_FAILURE(search());
    ASSERT_EQ(quarn::test::field(Dev.hart[0].found), 1u);
    ASSERT_EQ(quarn::test::field(Dev.hart[1].found), 1u);
  }
  static std::vector<float> fixedCurrents(const std::vector<quarn::test::HartRequest>& rq) {
    std::vector<float> out;
    for (const auto& r : rq) out.push_back(floatAt(r.data, 0));
    return out;
  }
};

TEST_F(HartCurrent, CheckMeasuresEverySetPointComputesDeviationsAndLeavesFixedMode) {
  quarnsim::Scenario s = scenario();
  s.channels[0].analogOffset = 0.02;  // 4.02 mA at 4 mA
  s.channels[1].output = quarnsim::OutputType::mA0_5;
  s.channels[1].analogOffset = 0.05;  // against a 5 mA span
  ASSERT_NO_FATAL_FAILURE(twoDevices(s));
  ASSERT_TRUE(runTask(TASK_HART_CHECK_I));

  EXPECT_EQ(fixedCurrents(bench->requests(40, 0)), (std::vector<float>{4, 12, 20, 0}));
  EXPECT_EQ(bench->requests(40, 1).size(), 4u);
  const THartChk c0 = quarn::test::field(Dev.hartChk[0]);
  const float expected[3] = {4.02f, 12.02f, 20.02f};
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(c0.meas[k], expected[k], 1e-3) << k;
    EXPECT_NEAR(c0.dev[k], 0.125, 1e-3) << k;
  }
  const THartChk c1 = quarn::test::field(Dev.hartChk[1]);
  EXPECT_NEAR(c1.meas[0], 4.05, 1e-3);
  EXPECT_NEAR(c1.dev[0], 1.0, 1e-2) << "span of a 0-5 mA device is 5 mA";
  EXPECT_FALSE(tx(0).fixedCurrentMode());
  EXPECT_FALSE(tx(1).fixedCurrentMode());
  EXPECT_TRUE(sawRetCodeInTask(1, TASK_HART_CHECK_I));
  EXPECT_EQ(quarn::test::field(Dev.errCode), 0u);
}

TEST_F(HartCurrent, ADeviceThatStopsAnsweringAtTwelveMilliampsEndsTheCheckInFixedMode) {
  quarnsim::Scenario s = scenario();
  ASSERT_NO_FATAL_FAILURE(twoDevices(s));
  // Answers the 4 mA request, then nothing.
  tx(1).config().faults.stopAfterRequests = tx(1).requestsSeen() + 1;
  ASSERT_TRUE(runTask(TASK_HART_CHECK_I));
  EXPECT_TRUE(sawError(4, "Сбой\tустановки фиксированного входа!"));
  EXPECT_NEAR(quarn::test::field(Dev.hartChk[1].meas[0]), 4.0f, 1e-3) << "the 4 mA results were stored";
  EXPECT_TRUE(tx(0).fixedCurrentMode()) << "no exit after a failed check";
  EXPECT_FALSE(sawRetCodeInTask(1, TASK_HART_CHECK_I));
}

TEST_F(HartCurrent, ExitSendsZeroToEveryFoundDeviceAndGoesOnPastASilentOne) {
  quarnsim::Scenario s = scenario();
  s.channelStatus = {0, 0, 0, 1};
  s.channels[2].hart = false;  // usable, but nothing answers there
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());
  ASSERT_TRUE(runTask(TASK_HART_CHECK_I));
  tx(1).config().faults.silent = true;
  const std::size_t before = bench->hart.size();
  ASSERT_TRUE(runTask(TASK_HART_EXIT_I_OUT));
  std::vector<int> tries(4, 0);
  for (std::size_t i = before; i < bench->hart.size(); ++i) {
    const auto& r = bench->hart[i];
    if (r.command == 40) {
      EXPECT_EQ(floatAt(r.data, 0), 0.0f);
      ++tries[r.channel];
    }
  }
  EXPECT_EQ(tries, (std::vector<int>{1, 2, 0, 0})) << "channel 3 has no device to leave fixed mode";
  EXPECT_TRUE(sawError(4, "Сбой\tустановки фиксированного входа!"));
}

TEST_F(HartCurrent, ExitLeavesAUsableChannelWithoutADeviceAlone) {
  quarnsim::Scenario s = scenario();
  s.channelStatus = {0, 0, 0, 1};
  s.channels[2].hart = false;  // usable, but no device was found there
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());
  ASSERT_EQ(quarn::test::field(Dev.hart[2].found), 0u);
  const std::size_t before = bench->hart.size();
  const uint32_t start = clock.now();
  ASSERT_TRUE(runTask(TASK_HART_EXIT_I_OUT));

  ASSERT_EQ(bench->hart.size(), before + 2) << "one request for each found device";
  for (std::size_t i = before; i < bench->hart.size(); ++i) {
    const auto& r = bench->hart[i];
    EXPECT_EQ(r.command, 40);
    EXPECT_NE(r.channel, 2);
    // Never the zero address, which every device on a loop takes as its own.
    EXPECT_TRUE((r.longAddress[0] & 0x3F) || r.longAddress[1] || r.longAddress[2] || r.longAddress[3] ||
                r.longAddress[4]);
  }
  for (const auto& n : notices()) EXPECT_NE(n.errCode, 4u) << "nothing failed";
  EXPECT_LT(clock.now() - start, 4000u) << "no two silent seconds on the empty channel";
}

TEST_F(HartCurrent, TrimUsesTheMeasuredCurrentsAndTheSecondCheckShowsThemCorrected) {
  quarnsim::Scenario s = scenario();
  s.channels[0].analogGain = 1.01;
  s.channels[0].analogOffset = -0.05;  // 3.99 mA at 4, 20.15 mA at 20
  ASSERT_NO_FATAL_FAILURE(twoDevices(s));
  const std::size_t before = bench->hart.size();
  ASSERT_TRUE(runTask(TASK_HART_TUNE_I));

  std::vector<int> onChannel;
  for (std::size_t i = before; i < bench->hart.size(); ++i)
    if (bench->hart[i].channel == 0 && bench->hart[i].command != 40)
      onChannel.push_back(bench->hart[i].command);
  EXPECT_EQ(onChannel, (std::vector<int>{6, 45, 46}));
  const auto address = bench->last(6, 0), zero = bench->last(45, 0), gain = bench->last(46, 0);
  ASSERT_TRUE(address && zero && gain);
  EXPECT_EQ(address->data, (std::vector<uint8_t>{0, 1}));
  EXPECT_NEAR(floatAt(zero->data, 0), 3.99f, 1e-3);
  EXPECT_NEAR(floatAt(gain->data, 0), 20.15f, 1e-3);
  const THartChk c0 = quarn::test::field(Dev.hartChk[0]);
  EXPECT_NEAR(c0.meas[0], 4.0f, 2e-3);
  EXPECT_NEAR(c0.meas[1], 12.0f, 2e-3);
  EXPECT_NEAR(c0.meas[2], 20.0f, 2e-3);
  EXPECT_FALSE(tx(0).fixedCurrentMode());
  EXPECT_TRUE(sawRetCodeInTask(1, TASK_HART_TUNE_I));
}

TEST_F(HartCurrent, ADeviceRefusingTheZeroTrimGetsNewOutputCoefficients) {
  quarnsim::Scenario s = scenario();
  for (int ch : {0, 1}) {
    s.channels[ch].refuseCommand45 = true;
    s.channels[ch].analogGain = 0.995;
    s.channels[ch].analogOffset = 0.03;
  }
  s.channels[1].output = quarnsim::OutputType::mA20_4;  // the fixed currents are the same 4 and 20 mA
  ASSERT_NO_FATAL_FAILURE(twoDevices(s));
  const std::size_t before = bench->hart.size();
  ASSERT_TRUE(runTask(TASK_HART_TUNE_I));

  for (int ch : {0, 1}) {
    std::vector<int> onChannel;
    for (std::size_t i = before; i < bench->hart.size(); ++i)
      if (bench->hart[i].channel == ch && bench->hart[i].command != 40)
        onChannel.push_back(bench->hart[i].command);
    EXPECT_EQ(onChannel, (std::vector<int>{6, 45, 128, 122, 123})) << ch;
    const float m4 = 0.995f * 4 + 0.03f, m20 = 0.995f * 20 + 0.03f;
    float k = 0, b = 0;
    quarn_hart_output_trim(1.0f, 0.0f, m4, m20, &k, &b);
    const auto coefficients = bench->last(123, ch);
    ASSERT_TRUE(coefficients) << ch;
    const auto& data = coefficients->data;
    EXPECT_NEAR(floatAt(data, 0), k, 1e-4) << ch;
    EXPECT_NEAR(floatAt(data, 4), b, 1e-3) << ch;
    // The second check finds the output exact.
    const THartChk c = quarn::test::field(Dev.hartChk[ch]);
    EXPECT_NEAR(c.meas[0], 4.0f, 2e-3) << ch;
    EXPECT_NEAR(c.meas[2], 20.0f, 2e-3) << ch;
  }
  EXPECT_TRUE(sawRetCodeInTask(1, TASK_HART_TUNE_I));
}

TEST_F(HartCurrent, AnUnansweredOutputParameterReadEndsTheTrimWithErrorThree) {
  quarnsim::Scenario s = scenario();
  s.channels[0].refuseCommand45 = true;
  s.channels[0].faults.errorCommand = 128;
  ASSERT_NO_FATAL_FAILURE(twoDevices(s));
  ASSERT_TRUE(runTask(TASK_HART_TUNE_I));
  EXPECT_TRUE(sawError(3, "Сбой\tподстройки тока"));
  EXPECT_TRUE(bench->requests(122).empty());
  EXPECT_TRUE(tx(0).fixedCurrentMode()) << "a failed trim leaves the device fixed";
  EXPECT_FALSE(sawRetCodeInTask(1, TASK_HART_TUNE_I));
}

TEST(HartOutputTrim, CoefficientsFromTheCurrentsMeasuredAtFourAndTwentyMilliamps) {
  struct Case {
    float k, b, m4, m20, kNew, bNew;
  } cases[] = {
      {1.0f, 0.0f, 4.1f, 20.1f, 1.0f, -0.1f},
      {2.0f, 1.0f, 12.0f, 12.0f, 2.0f, 17.0f},  // no spread: K stays
      {0.0f, 0.5f, 4.0f, 20.0f, 0.0f, 0.5f},    // K 0 stays 0
      {1.0f, 0.0f, 3.9f, 20.3f, 16.0f / 16.4f, 20.0f - 20.3f * (16.0f / 16.4f)},
  };
  for (const Case& c : cases) {
    float k = 0, b = 0;
    quarn_hart_output_trim(c.k, c.b, c.m4, c.m20, &k, &b);
    EXPECT_NEAR(k, c.kNew, 1e-6) << c.m4 << " " << c.m20;
    EXPECT_NEAR(b, c.bNew, 1e-5) << c.m4 << " " << c.m20;
  }
  float k = 0, b = 0;
  quarn_hart_output_trim(1.0f, 0.0f, NAN, 20.0f, &k, &b);
  EXPECT_TRUE(std::isnan(k) && std::isnan(b))
      << "a missing measurement gives coefficients the device refuses";
}

}  // namespace
