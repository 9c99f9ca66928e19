// Request frames, the answer frame and the checksum.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "hart/hart_master.h"
#include "hart_test_util.h"

using hart_test::bytes;

namespace {

std::vector<uint8_t> take(const uint8_t* buf, int32_t n) { return std::vector<uint8_t>(buf, buf + n); }

TEST(HartChecksum, IsTheXorOfTheGivenBytes) {
  const auto v = bytes({0x82, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x00});
  EXPECT_EQ(calc_crcHART(v.data(), 8), 0x83);
  EXPECT_EQ(calc_crcHART(v.data(), 0), 0);
  EXPECT_EQ(calc_crcHART(nullptr, 4), 0);
}

TEST(HartFrame, ShortPollOfCommandZero) {
  std::array<uint8_t, 16> buf{};
  ASSERT_EQ(FormShortRq0(buf.data(), 0), 11);
  EXPECT_EQ(take(buf.data(), 11), bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x80, 0x00, 0x00, 0x82, 0xFF}));

  ASSERT_EQ(FormShortRq0(buf.data(), 63), 11);
  EXPECT_EQ(buf[6], 0xBF);
  EXPECT_EQ(buf[9], 0x02 ^ 0xBF);

  // Refusals leave the buffer untouched.
  std::array<uint8_t, 16> untouched;
  untouched.fill(0x5A);
  auto copy = untouched;
  EXPECT_EQ(FormShortRq0(+copy.data(), 64), -2);
  EXPECT_EQ(copy, untouched);
  EXPECT_EQ(FormShortRq0(nullptr, 0), -1);
}

TEST(HartFrame, LongRequestWithoutData) {
  const uint8_t address[5] = {0x91, 0x22, 0x33, 0x44, 0x55};
  std::array<uint8_t, HART_FRAME_MAX> buf{};
  ASSERT_EQ(FormRq(buf.data(), address, 13, 0, nullptr), 15);
  EXPECT_EQ(take(buf.data(), 15), bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x82, 0x91, 0x22, 0x33, 0x44, 0x55, 13,
                                         0, 0x82 ^ 0x91 ^ 0x22 ^ 0x33 ^ 0x44 ^ 0x55 ^ 13, 0xFF}));
}

TEST(HartFrame, LongRequestWithLongestDataStaysInside) {
  const uint8_t address[5] = {0x80, 0, 0, 0, 1};
  std::vector<uint8_t> data(255);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  std::array<uint8_t, HART_FRAME_MAX + 1> buf;
  buf.fill(0xEE);
  ASSERT_EQ(FormRq(buf.data(), address, 255, 255, data.data()), HART_FRAME_MAX);
  EXPECT_EQ(buf[12], 255);
  EXPECT_EQ(buf[13 + 254], 254);
  EXPECT_EQ(buf[13 + 255], calc_crcHART(buf.data() + 5, 8 + 255));
  EXPECT_EQ(buf[14 + 255], 0xFF);
  EXPECT_EQ(buf[HART_FRAME_MAX], 0xEE);  // one past the frame is not written
}

TEST(HartFrame, RefusalsWriteNothing) {
  const uint8_t address[5] = {0x80, 1, 2, 3, 4};
  const uint8_t data[3] = {1, 2, 3};
  struct Case {
    uint8_t* buf;
    const uint8_t* address;
    uint32_t command;
    int32_t n;
    const uint8_t* data;
    int32_t expected;
  };
  std::array<uint8_t, HART_FRAME_MAX> buf;
  buf.fill(0x5A);
  const auto before = buf;
  const Case cases[] = {
      {nullptr, address, 1, 0, nullptr, -1},      {buf.data(), nullptr, 1, 0, nullptr, -1},
      {buf.data(), address, 256, 0, nullptr, -2}, {buf.data(), address, 1, -1, data, -3},
      {buf.data(), address, 1, 3, nullptr, -3},   {buf.data(), address, 1, 256, data, -3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormRq(c.buf, c.address, c.command, c.n, c.data), c.expected)
        << "command " << c.command << " n " << c.n;
    EXPECT_EQ(buf, before);
  }
}

TEST(HartFrame, LongAddressIsTheMasterBitAndTheThirtyEightAddressBits) {
  struct Case {
    uint16_t type;
    uint32_t id;
    std::vector<uint8_t> address;
  };
  // Bit 6 of the first byte is the burst-mode bit of a request: a master never sets it, whatever the
  // high byte of the device type holds there.
  const Case cases[] = {
      {0x2606, 0x123456, bytes({0xA6, 0x06, 0x12, 0x34, 0x56})},
      {0x4501, 0x000001, bytes({0x85, 0x01, 0x00, 0x00, 0x01})},
      {0x4A01, 0x000001, bytes({0x8A, 0x01, 0x00, 0x00, 0x01})},
      {0xE0F2, 0xFFFFFF, bytes({0xA0, 0xF2, 0xFF, 0xFF, 0xFF})},
      {0xFFFF, 0xABCDEF, bytes({0xBF, 0xFF, 0xAB, 0xCD, 0xEF})},
  };
  for (const auto& c : cases) {
    uint8_t address[5];
    EXPECT_EQ(MakeLongAdr(address, c.id, c.type), c.address[0]);
    EXPECT_EQ(take(address, 5), c.address) << std::hex << c.type;
  }
}

TEST(HartFrame, TypedBuildersPutValuesMostSignificantByteFirst) {
  THartDev dev = hart_test::validRecord();
  MakeLongAdr(dev.longAddress, 0x010203, 0x2606);
  struct Case {
    const char* name;
    std::function<int32_t(uint8_t*)> build;
    uint8_t command;
    std::vector<uint8_t> data;
  };
  const Case cases[] = {
      {"Cmd", [&](uint8_t* b) { return FormRqCmd(b, &dev, 3); }, 3, {}},
      {"B", [&](uint8_t* b) { return FormRq_B(b, &dev, 6, 7); }, 6, bytes({7})},
      {"BB", [&](uint8_t* b) { return FormRq_BB(b, &dev, 6, 7, 8); }, 6, bytes({7, 8})},
      {"F", [&](uint8_t* b) { return FormRq_F(b, &dev, 40, 4.0f); }, 40, bytes({0x40, 0x80, 0x00, 0x00})},
      {"FF", [&](uint8_t* b) { return FormRq_FF(b, &dev, 35, 20.0f, 12.0f); }, 35,
       bytes({0x41, 0xA0, 0, 0, 0x41, 0x40, 0, 0})},
      {"BFF", [&](uint8_t* b) { return FormRq_BFF(b, &dev, 35, 12, 4.0f, 20.0f); }, 35,
       bytes({12, 0x40, 0x80, 0, 0, 0x41, 0xA0, 0, 0})},
      {"BBBF", [&](uint8_t* b) { return FormRq_BBBF(b, &dev, 130, 1, 2, 3, 4.0f); }, 130,
       bytes({1, 2, 3, 0x40, 0x80, 0, 0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::array<uint8_t, HART_FRAME_MAX> buf{};
    const int32_t n = static_cast<int32_t>(c.data.size());
    ASSERT_EQ(c.build(buf.data()), 15 + n);
    EXPECT_EQ(take(buf.data() + 5, 8), bytes({0x82, 0xA6, 0x06, 0x01, 0x02, 0x03, c.command, n}));
    EXPECT_EQ(take(buf.data() + 13, n), c.data);
    EXPECT_EQ(buf[13 + n], calc_crcHART(buf.data() + 5, 8 + n));
    EXPECT_EQ(buf[14 + n], 0xFF);
  }
}

TEST(HartFrame, TypedBuildersRefuseAnInvalidRecord) {
  std::array<uint8_t, HART_FRAME_MAX> buf{};
  THartDev wrongSize = hart_test::validRecord();
  wrongSize.size = 711 + 1;
  THartDev wrongMark = hart_test::validRecord();
  wrongMark.endMark = 0;
  for (const THartDev* dev : {static_cast<const THartDev*>(nullptr), static_cast<const THartDev*>(&wrongSize),
                              static_cast<const THartDev*>(&wrongMark)}) {
    EXPECT_EQ(FormRqCmd(buf.data(), dev, 0), HART_ERR_RECORD);
    EXPECT_EQ(FormRq_B(buf.data(), dev, 0, 1), HART_ERR_RECORD);
    EXPECT_EQ(FormRq_BB(buf.data(), dev, 0, 1, 2), HART_ERR_RECORD);
    EXPECT_EQ(FormRq_F(buf.data(), dev, 0, 1), HART_ERR_RECORD);
    EXPECT_EQ(FormRq_FF(buf.data(), dev, 0, 1, 2), HART_ERR_RECORD);
    EXPECT_EQ(FormRq_BFF(buf.data(), dev, 0, 1, 2, 3), HART_ERR_RECORD);
    EXPECT_EQ(FormRq_BBBF(buf.data(), dev, 0, 1, 2, 3, 4), HART_ERR_RECORD);
  }
  THartDev good = hart_test::validRecord();
  EXPECT_EQ(FormRq_B(buf.data(), &good, 256, 1), -2);
}

TEST(HartFrame, AnswerFrameFollowsTheLastReceivedFrame) {
  THartDev dev = hart_test::validRecord();
  THartDev* saved = hdi;
  hdi = &dev;
  MakeLongAdr(dev.longAddress, 0x0A0B0C, 0x2606);
  dev.pollingAddress = 5;
  dev.rxCommand = 3;
  std::array<uint8_t, 64> buf{};
  const auto data = bytes({0x11, 0x22});

  dev.rxDelimiter = 0x82;  // last frame had a long address
  ASSERT_EQ(FormAc(buf.data(), 2, data.data()), 12 + 2);
  EXPECT_EQ(take(buf.data(), 19), bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x86, 0xA6, 0x06, 0x0A, 0x0B, 0x0C, 3,
                                         4, 0, 0, 0x11, 0x22, buf[17], 0xFF}));
  EXPECT_EQ(buf[17], calc_crcHART(buf.data() + 5, 12));

  dev.rxDelimiter = 0x02;
  ASSERT_EQ(FormAc(buf.data(), 2, data.data()), 8 + 2);
  EXPECT_EQ(take(buf.data() + 5, 10), bytes({0x06, 5, 3, 4, 0, 0, 0x11, 0x22, buf[13], 0xFF}));
  EXPECT_EQ(buf[13], calc_crcHART(buf.data() + 5, 8));

  EXPECT_EQ(FormAc(nullptr, 0, nullptr), -1);
  EXPECT_EQ(FormAc(buf.data(), 254, data.data()), -3);
  dev.endMark = 1;
  EXPECT_EQ(FormAc(buf.data(), 0, nullptr), HART_ERR_RECORD);
  hdi = saved;
}

}  // namespace
