// Writing a configuration into the transmitter of one channel: only what differs, in the order
// units, polling address, damping, transfer function, range; then the device is read again.
#include "hartproc_fixture.h"

namespace {

using quarn::test::HartProcTest;
using Bytes = std::vector<uint8_t>;

struct WriteCase {
  const char* name;
  uint8_t deviceAddress;
  uint32_t units, address, function;
  float lower, upper, damping;
  std::vector<std::pair<int, Bytes>> writes;  // expected writes, in order, with their data
};

class HartWrite : public HartProcTest, public ::testing::WithParamInterface<WriteCase> {
 protected:
  // One kPa device 0..600 at `address` on channel 1, found by a search.
  void deviceOnChannelOne(uint8_t address) {
    quarnsim::Scenario s = scenario();
    s.channels[0].pollingAddress = address;
    s.channels[0].damping = 0.5;
    s.channelStatus = {0, 1, 1, 1};
    ASSERT_NO_FATAL_FAILURE(connect(s));
    ASSERT_NO_FATAL_FAILURE(search());
    ASSERT_EQ(quarn::test::field(Dev.hart[0].found), 1u);
  }
};

TEST_P(HartWrite, SendsOnlyWhatDiffersInOrderAndReadsTheDeviceAgain) {
  const WriteCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(deviceOnChannelOne(c.deviceAddress));
  const std::size_t before = bench->hart.size();
  Dev.hartCh = 0;
  Dev.hartWrUnits = c.units;
  Dev.hartWrAddress = c.address;
  Dev.hartWrFunction = c.function;
  Dev.hartWrLower = c.lower;
  Dev.hartWrUpper = c.upper;
  Dev.hartWrDamping = c.damping;
  ASSERT_TRUE(runTask(TASK_HART_WRITE));

  std::vector<int> expected;
  for (const auto& w : c.writes) expected.push_back(w.first);
  for (int read : {0, 7, 13, 14, 15, 128}) expected.push_back(read);
  EXPECT_EQ(bench->commands(before), expected);
  for (const auto& w : c.writes) {
    const auto sent = bench->requests(w.first);
    ASSERT_FALSE(sent.empty()) << w.first;
    EXPECT_EQ(sent.back().data, w.second) << "command " << w.first;
  }
  EXPECT_TRUE(sawRetCode(4));
  EXPECT_EQ(quarn::test::field(Dev.hart[0].found), 1u);
  // The record shows what the device reports after the writes.
  EXPECT_EQ(quarn::test::field(Dev.hart[0].rangeUnits), c.units & 0xFF);
  EXPECT_FLOAT_EQ(quarn::test::field(Dev.hart[0].upperRange), c.upper);
  EXPECT_FLOAT_EQ(quarn::test::field(Dev.devCh[0].MaxKpa), c.upper * quarn_hart_range_kpa_factor(c.units));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HartWrite,
    ::testing::Values(
        WriteCase{"NothingChanged", 0, 12, 0, 0, 0, 600, 0.5f, {}},
        WriteCase{"EverythingChanged",
                  0,
                  237,
                  5,
                  1,
                  0,
                  1.6f,
                  1.0f,
                  {{44, {237}},
                   {6, {5, 0}},
                   {34, {0x3F, 0x80, 0, 0}},
                   {47, {1}},
                   {35, {237, 0x3F, 0xCC, 0xCC, 0xCD, 0, 0, 0, 0}}}},
        WriteCase{
            "RangeInBar", 0, 7, 0, 0, 0, 2.5f, 0.5f, {{44, {7}}, {35, {7, 0x40, 0x20, 0, 0, 0, 0, 0, 0}}}},
        // No address chosen in the list (index -1): address 0 with the loop current on.
        WriteCase{"UnselectedAddressMeansZero", 3, 12, 0xFFFFFFFFu, 0, 0, 600, 0.5f, {{6, {0, 1}}}}),
    [](const auto& info) { return std::string(info.param.name); });

class HartWriteChecks : public HartProcTest {};

TEST_F(HartWriteChecks, NaNDampingIsWrittenAndAnInvalidChannelSendsNothing) {
  quarnsim::Scenario s = scenario();
  s.channelStatus = {0, 1, 1, 1};
  ASSERT_NO_FATAL_FAILURE(connect(s));
  ASSERT_NO_FATAL_FAILURE(search());
  const std::size_t before = bench->hart.size();

  Dev.hartCh = 7;
  ASSERT_TRUE(runTask(TASK_HART_WRITE));
  EXPECT_EQ(bench->hart.size(), before);
  EXPECT_FALSE(sawRetCode(4));

  Dev.hartCh = 0;
  Dev.hartWrUnits = 12;
  Dev.hartWrAddress = 0;
  Dev.hartWrFunction = 0;
  Dev.hartWrLower = 0;
  Dev.hartWrUpper = 600;
  Dev.hartWrDamping = NAN;
  ASSERT_TRUE(runTask(TASK_HART_WRITE));
  ASSERT_EQ(bench->requests(34).size(), 1u);
  // The device refuses NaN: the refusal shows as errCode 2 with its text, the read goes on.
  bool refused = false;
  for (const auto& n : notices()) refused |= n.errCode == 2;
  EXPECT_TRUE(refused);
  EXPECT_TRUE(sawRetCode(4));
  EXPECT_FLOAT_EQ(quarn::test::field(Dev.hart[0].damping), 0.5f);
}

}  // namespace
