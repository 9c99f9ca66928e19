// Packed ASCII, HART byte order and the pressure-unit factors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "hart/hart_master.h"
#include "hart_test_util.h"

using hart_test::bytes;

namespace {

std::string unpack(const std::vector<uint8_t>& packed, int32_t n, int32_t* count = nullptr) {
  char text[128];
  std::memset(text, '#', sizeof text);
  const int32_t r = SHARTtoString(text, packed.data(), n);
  if (count) *count = r;
  return std::string(text, text + r);
}

TEST(HartPackedAscii, KnownGroup) {
  uint8_t packed[8] = {};
  EXPECT_EQ(StringToHART("ABCD", packed), 3);
  EXPECT_EQ(std::vector<uint8_t>(packed, packed + 3), bytes({0x04, 0x20, 0xC4}));
  int32_t count = 0;
  EXPECT_EQ(unpack(bytes({0x04, 0x20, 0xC4}), 3, &count), "ABCD");
  EXPECT_EQ(count, 4);
}

TEST(HartPackedAscii, RoundTripsOfTheHartCharacterSet) {
  // Tag, descriptor and message lengths, with the characters 0x40, space and the top of the set.
  const std::string texts[] = {"PT-101  ", "@ABC XYZ[\\]^_ ?", "TRANSMITTER 0123",
                               "MESSAGE OF THIRTY-TWO CHARACTERS"};
  for (const auto& text : texts) {
    std::vector<uint8_t> packed(text.size());
    const int32_t n = StringToHART(text.c_str(), packed.data());
    ASSERT_EQ(n, static_cast<int32_t>(text.size() / 4 * 3));
    EXPECT_EQ(unpack(packed, n), text.substr(0, text.size() / 4 * 4));
  }
  // Every 6-bit code of a group survives the trip.
  for (int c = 0; c < 64; ++c) {
    const char ch = static_cast<char>(c < 32 ? c + 64 : c);
    const std::string text(4, ch);
    uint8_t packed[3];
    ASSERT_EQ(StringToHART(text.c_str(), packed), 3);
    EXPECT_EQ(unpack(std::vector<uint8_t>(packed, packed + 3), 3), text) << c;
  }
}

TEST(HartPackedAscii, LowerCaseIsFoldedToItsSixBits) {
  uint8_t upper[3], lower[3];
  StringToHART("abcd", lower);
  StringToHART("!\"#$", upper);  // 'a' & 63 == '!' & 63
  EXPECT_EQ(std::vector<uint8_t>(lower, lower + 3), std::vector<uint8_t>(upper, upper + 3));
}

TEST(HartPackedAscii, IncompleteGroupsAreDropped) {
  uint8_t packed[8];
  std::memset(packed, 0x5A, sizeof packed);
  EXPECT_EQ(StringToHART("ABC", packed), 0);
  EXPECT_EQ(packed[0], 0x5A);
  EXPECT_EQ(StringToHART("ABCDEF", packed), 3);
  EXPECT_EQ(packed[3], 0x5A);

  std::vector<uint8_t> five = {0x04, 0x20, 0xC4, 0x04, 0x20};
  int32_t count = 0;
  EXPECT_EQ(unpack(five, 5, &count), "ABCD");
  EXPECT_EQ(unpack(five, 2, &count), "");
  std::vector<uint8_t> long24(24, 0x82);
  unpack(long24, 24, &count);
  EXPECT_EQ(count, 32);
}

TEST(HartByteOrder, FloatsAndIntegers) {
  struct Case {
    std::vector<uint8_t> b;
    float value;
  };
  const Case cases[] = {{bytes({0x40, 0x80, 0, 0}), 4.0f},
                        {bytes({0x41, 0xA0, 0, 0}), 20.0f},
                        {bytes({0x41, 0x40, 0, 0}), 12.0f},
                        {bytes({0xC2, 0xC8, 0, 0}), -100.0f}};
  for (const auto& c : cases) {
    EXPECT_EQ(hex2float(c.b.data()), c.value);
    uint32_t bits;
    std::memcpy(&bits, &c.value, 4);
    uint8_t out[4];
    EXPECT_EQ(float2hex(bits, out), out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), c.b);
  }
  EXPECT_TRUE(std::isnan(hex2float(bytes({0x7F, 0xC0, 0, 0}).data())));
  EXPECT_EQ(hex2u24(bytes({1, 2, 3}).data()), 1u * 65536 + 2 * 256 + 3);
  EXPECT_EQ(hex2u24(bytes({0xFF, 0xFF, 0xFF}).data()), 0xFFFFFFu);
}

TEST(HartUnits, FactorsToKilopascal) {
  struct Case {
    uint32_t code;
    float factor;
  };
  const Case cases[] = {{4, 0.00980665f},
                        {5, 0.133322f},
                        {6, 6.8947587f},
                        {7, 100.0f},
                        {10, 98.0665f},
                        {11, 0.001f},
                        {14, 101.325f},
                        {176, 0.00980665f},
                        {237, 1000.0f},
                        // every other code, kPa and other pressure units among them, counts as kPa
                        {12, 1.0f},
                        {8, 1.0f},
                        {175, 1.0f},
                        {239, 1.0f},
                        {0, 1.0f},
                        {255, 1.0f},
                        {100000, 1.0f}};
  for (const auto& c : cases) EXPECT_FLOAT_EQ(HART_to_kPa_factor(c.code), c.factor) << c.code;
}

TEST(HartUnits, SignedSquare) {
  EXPECT_EQ(pow2sgn(-3.0f), -9.0);
  EXPECT_EQ(pow2sgn(0.5f), 0.25);
  EXPECT_EQ(pow2sgn(0.0f), 0.0);
}

TEST(HartUnits, RangeIsBroughtIntoItsOwnUnits) {
  THartDev dev = hart_test::validRecord();
  dev.rangeUnits = 237;              // the device works in MPa
  THartRange range{1.0f, 2.5f, 12};  // wanted in kPa
  Hart_recalc_PV(&range, &dev);
  EXPECT_FLOAT_EQ(+range.lower, 1000.0f);
  EXPECT_FLOAT_EQ(+range.upper, 2500.0f);

  dev.rangeUnits = 12;
  THartRange bar{100.0f, 250.0f, 7};  // kPa values wanted in bar
  Hart_recalc_PV(&bar, &dev);
  EXPECT_FLOAT_EQ(+bar.lower, 1.0f);
  EXPECT_FLOAT_EQ(+bar.upper, 2.5f);

  // Every pressure unit with its real factor, also those the factor table takes as kPa.
  struct Case {
    uint8_t deviceUnits, rangeUnits;
    float value, expected;
  };
  const Case cases[] = {
      {8, 12, 1600.0f, 160.0f},       // mbar device, range wanted in kPa
      {12, 8, 100.0f, 1000.0f},       // kPa device, range wanted in mbar
      {175, 12, 100.0f, 689.47573f},  // psia
      {12, 175, 689.47573f, 100.0f},  //
      {174, 8, 5.0f, 5.0f},           // hPa and mbar are the same size
      {239, 12, 1000.0f, 9.80638f},   // mm of water at 4 °C
      {1, 12, 10.0f, 2.48642f},       // inches of water at 68 °F
      {145, 12, 10.0f, 2.48843f},     // inches of water at 60 °F
      {237, 7, 1.0f, 10.0f},          // MPa to bar, both in the table
  };
  for (const Case& c : cases) {
    dev.rangeUnits = c.deviceUnits;
    THartRange r{0.0f, c.value, c.rangeUnits};
    Hart_recalc_PV(&r, &dev);
    EXPECT_NEAR(+r.upper, c.expected, 1e-5 * c.expected) << +c.deviceUnits << " -> " << +c.rangeUnits;
  }

  dev.endMark = 0;  // an invalid record changes nothing
  THartRange same{3.0f, 4.0f, 7};
  Hart_recalc_PV(&same, &dev);
  EXPECT_EQ(+same.lower, 3.0f);
  Hart_recalc_PV(nullptr, &dev);
}

}  // namespace
