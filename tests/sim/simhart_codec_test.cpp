// The simulator's own HART encodings against published byte vectors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "hart_codec.h"
#include "hart_frame.h"

using namespace quarnsim::hart;
using Bytes = std::vector<uint8_t>;

TEST(SimHartCodec, ChecksumIsXorOfTheFrameBody) {
  const Bytes body{0x82, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x00};
  EXPECT_EQ(checksum(body.data(), body.size()), 0x83);
  EXPECT_EQ(checksum(nullptr, 0), 0x00);
  const Bytes poll{0x02, 0x80, 0x00, 0x00};
  EXPECT_EQ(checksum(poll.data(), poll.size()), 0x82);
}

TEST(SimHartCodec, FloatsAreBigEndianSingles) {
  const struct {
    float value;
    Bytes bytes;
  } cases[] = {{4.0f, {0x40, 0x80, 0x00, 0x00}},
               {20.0f, {0x41, 0xA0, 0x00, 0x00}},
               {12.0f, {0x41, 0x40, 0x00, 0x00}},
               {-1.5f, {0xBF, 0xC0, 0x00, 0x00}},
               {0.0f, {0x00, 0x00, 0x00, 0x00}}};
  for (const auto& c : cases) {
    Bytes out;
    putFloat(out, c.value);
    EXPECT_EQ(out, c.bytes) << c.value;
    EXPECT_EQ(getFloat(c.bytes.data()), c.value);
  }
  Bytes nan;
  putFloat(nan, NAN);
  EXPECT_TRUE(std::isnan(getFloat(nan.data())));
}

TEST(SimHartCodec, TwentyFourBitIntegers) {
  const Bytes b{0x01, 0x02, 0x03};
  EXPECT_EQ(getU24(b.data()), 1u * 65536 + 2 * 256 + 3);
  Bytes out;
  putU24(out, 0xAB123456);  // only the low 24 bits travel
  EXPECT_EQ(out, (Bytes{0x12, 0x34, 0x56}));
}

TEST(SimHartCodec, PackedAsciiVectorsAndRoundTrip) {
  EXPECT_EQ(packAscii("ABCD", 4), (Bytes{0x04, 0x20, 0xC4}));
  const Bytes abcd{0x04, 0x20, 0xC4};
  EXPECT_EQ(unpackAscii(abcd.data(), 3), "ABCD");
  // An incomplete trailing group is ignored.
  const Bytes five{0x04, 0x20, 0xC4, 0x00, 0x00};
  EXPECT_EQ(unpackAscii(five.data(), five.size()), "ABCD");
  // '@' is code 0, space is code 32; both come back as themselves.
  const Bytes packed = packAscii("@ A@", 4);
  EXPECT_EQ(unpackAscii(packed.data(), packed.size()), "@ A@");

  // Every character of the alphabet survives; short texts are padded with spaces, long ones cut,
  // lowercase letters come back as capitals.
  std::string alphabet;
  for (char c = 0x20; c <= 0x5F; ++c) alphabet.push_back(c);
  const Bytes all = packAscii(alphabet, 64);
  ASSERT_EQ(all.size(), 48u);
  EXPECT_EQ(unpackAscii(all.data(), all.size()), alphabet);
  EXPECT_EQ(unpackAscii(packAscii("PT-1", 8).data(), 6), "PT-1    ");
  EXPECT_EQ(normalizePacked("tag", 8), "TAG");
  EXPECT_EQ(normalizePacked("ABCDEFGHIJ", 8), "ABCDEFGH");
  EXPECT_EQ(normalizePacked("a~b", 8), "A?B");
}

TEST(SimHartCodec, PressureUnitFactors) {
  const struct {
    uint8_t code;
    double kPa;
  } cases[] = {{12, 1.0},      {7, 100.0},       {237, 1000.0}, {11, 0.001},       {10, 98.0665},
               {6, 6.8947587}, {175, 6.8947587}, {5, 0.133322}, {176, 0.00980665}, {239, 0.00980665},
               {8, 0.1},       {14, 101.325},    {32, 0.0},     {0, 0.0},          {250, 0.0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(pressureUnitToKPa(c.code), c.kPa) << int(c.code);
}

TEST(SimHartFrame, ParsesRequestsAndRejectsBrokenOnes) {
  // Long frame with data, preambles and a trailing byte after the checksum.
  Bytes f{0xFF, 0xFF, 0xFF, 0x82, 0x99, 0x01, 0x00, 0x00, 0x07, 40, 4, 0x40, 0x80, 0x00, 0x00};
  f.push_back(checksum(f.data() + 3, f.size() - 3));
  f.push_back(0xFF);
  Request rq;
  ASSERT_EQ(parseRequest(f.data(), f.size(), rq), ParseResult::Ok);
  EXPECT_TRUE(rq.longAddress);
  EXPECT_EQ(rq.command, 40);
  EXPECT_EQ(rq.data, (Bytes{0x40, 0x80, 0x00, 0x00}));
  EXPECT_EQ(rq.address[4], 0x07);

  Bytes bad = f;
  bad[bad.size() - 2] ^= 1;
  EXPECT_EQ(parseRequest(bad.data(), bad.size(), rq), ParseResult::BadChecksum);
  EXPECT_EQ(parseRequest(f.data(), f.size() - 3, rq), ParseResult::Truncated);
  const Bytes answerDelimiter{0xFF, 0xFF, 0x06, 0x80, 0x00, 0x00, 0x86};
  EXPECT_EQ(parseRequest(answerDelimiter.data(), answerDelimiter.size(), rq), ParseResult::NotARequest);
  const Bytes onlyPreambles{0xFF, 0xFF};
  EXPECT_EQ(parseRequest(onlyPreambles.data(), onlyPreambles.size(), rq), ParseResult::NoFrame);

  // Expansion bytes (delimiter bits 5-6) sit between the address and the command.
  Bytes expanded{0xFF, 0xFF, 0x22, 0x80, 0xEE, 0x00, 0x00};
  expanded.push_back(checksum(expanded.data() + 2, expanded.size() - 2));
  ASSERT_EQ(parseRequest(expanded.data(), expanded.size(), rq), ParseResult::Ok);
  EXPECT_EQ(rq.command, 0);
}

TEST(SimHartFrame, AnswerEchoesAddressAndCountsStatusBytes) {
  Request rq;
  rq.longAddress = true;
  const uint8_t address[5] = {0x99, 0x01, 0x00, 0x00, 0x07};
  std::copy(address, address + 5, rq.address);
  rq.command = 1;
  const Bytes answer = buildAnswer(rq, 5, 0, 0x40, {12, 0x40, 0x80, 0x00, 0x00});
  const Bytes body{0x86, 0x99, 0x01, 0x00, 0x00, 0x07, 1, 7, 0, 0x40, 12, 0x40, 0x80, 0x00, 0x00};
  Bytes expected{0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  for (uint8_t b : body) expected.push_back(b);
  expected.push_back(checksum(body.data(), body.size()));
  EXPECT_EQ(answer, expected);
}
