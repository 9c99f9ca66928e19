// Field readers on answer texts: copies bounded by the destination, integers and floats, the
// hexadecimal encodings (upper case only), and the splitting of an answer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../serial/fake_vport.h"
#include "../serial/serial_fixture.h"
#include "uail/uail.h"
#include "uail_test_util.h"

namespace quarn::test {
namespace {

// Makes `fields` the current answer of the receiver `uail`.
void setAnswer(const std::string& fields) {
  UAIL_Init(&uail);
  ASSERT_EQ(feed(answerFrame("1;" + fields), &uail), 1) << fields;
}

TEST(UailFields, CopyStr1Table) {
  struct Case {
    int32_t k;
    const char* text;
    int32_t result;
    const char* dest;  // after the call ("untouched" = the marker)
  };
  const Case cases[] = {
      {0, "105;12;", 0, "105"},
      {1, "105;12;", 0, "12"},
      {2, "105;12;", -2, "untouched"},  // two fields: no field 2
      {3, "105;12;", -2, "untouched"},
      {1, "105;12", 0, "12"},      // last field without its ';'
      {0, ";abc;def;", 0, "abc"},  // a leading ';' is skipped first
      {1, ";abc;def;", 0, "def"},
      {1, "a;;b;", 0, ""},  // an empty field
      {0, "", -2, "untouched"},
      {0, "abc", 0, "abc"},
      {-1, "abc;", -1, "untouched"},
      {0, "12345678901234567890123;", 0, "1234567890123456789"},  // 19 characters at most
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " k=" + std::to_string(c.k));
    char dest[UAIL_FIELD_COPY_SIZE + 8];
    std::strcpy(dest, "untouched");
    std::memset(dest + 10, 'Z', sizeof dest - 10);  // guard bytes past the field size
    EXPECT_EQ(UAIL_getCopyStr1(c.k, dest, c.text), c.result);
    EXPECT_STREQ(dest, c.dest);
    for (size_t i = UAIL_FIELD_COPY_SIZE; i < sizeof dest; ++i) EXPECT_EQ(dest[i], 'Z') << "byte " << i;
  }
  char dest[8];
  EXPECT_EQ(UAIL_getCopyStr1(0, nullptr, "a;"), -1);
  EXPECT_EQ(UAIL_getCopyStr1(0, dest, nullptr), -1);
  EXPECT_EQ(quarn_uail_copy_field(0, dest, 4, "abcdef;"), 0);
  EXPECT_STREQ(dest, "abc");
  EXPECT_EQ(quarn_uail_copy_field(0, dest, 0, "abcdef;"), -1);
}

TEST(UailFields, GetAsIntTable) {
  ASSERT_NO_FATAL_FAILURE(setAnswer("12;-5;abc;;+7;99999999999;2147483647;-2147483648;2147483648;3.9;12x;"));
  struct Case {
    int32_t k;
    int32_t result;
    int32_t value;
  };
  const Case cases[] = {
      {0, 0, 12},         {1, 0, -5},
      {2, -1, 0},         {3, -1, 0},
      {4, 0, 7},          {5, -1, 0},  // huge: refused, not wrapped
      {6, 0, 2147483647}, {7, 0, -2147483647 - 1},
      {8, -1, 0},         {9, 0, 3},
      {10, 0, 12},        {11, -1, 0},  // past the last ';'
      {12, -1, 0},        {-1, -1, 0},
  };
  for (const auto& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(UAIL_getAsInt(c.k, &v), c.result) << "field " << c.k;
    if (c.result == 0) {
      EXPECT_EQ(v, c.value) << "field " << c.k;
    }
  }
  EXPECT_EQ(UAIL_getAsInt(0, nullptr), -1);
  // An empty answer text (an answer of nothing but its error block).
  ASSERT_NO_FATAL_FAILURE(setAnswer("$0;"));
  int32_t v = 0;
  EXPECT_EQ(UAIL_getAsInt(0, &v), -1);
}

TEST(UailFields, FloatsAsTextAndAsHex) {
  ASSERT_NO_FATAL_FAILURE(setAnswer("0000803F;0000803f;0000;00008;1.5;-2e3;X;000080BF;"));
  uint32_t bits = 0;
  EXPECT_EQ(UAIL_getAsFloatHex(0, &bits), 0);
  EXPECT_EQ(bits, 0x3F800000u);
  EXPECT_EQ(UAIL_getAsFloatHex(1, &bits), -1) << "lower case refused";
  EXPECT_EQ(UAIL_getAsFloatHex(2, &bits), -1) << "';' inside the eight digits";
  EXPECT_EQ(UAIL_getAsFloatHex(3, &bits), -1) << "odd digit count";
  float f = 0;
  EXPECT_EQ(UAIL_getAsFloatHex(7, &f), 0);
  EXPECT_EQ(f, -1.0f);
  int32_t i = 0;
  EXPECT_EQ(UAIL_getAsIntHex(0, &i), 0);
  EXPECT_EQ(i, 0x3F800000);
  EXPECT_EQ(UAIL_getAsFloatHex(99, &bits), -1);
  EXPECT_EQ(UAIL_getAsFloatHex(0, nullptr), -1);

  EXPECT_EQ(UAIL_getAsFloatStr(4, &f), 0);
  EXPECT_FLOAT_EQ(f, 1.5f);
  EXPECT_EQ(UAIL_getAsFloatStr(5, &f), 0);
  EXPECT_FLOAT_EQ(f, -2000.0f);
  EXPECT_EQ(UAIL_getAsFloatStr(6, &f), -1);

  // The text ending at a byte boundary stops early with success.
  uint8_t bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(UAIL_ASCIItoHex(bytes, "0A0B", 4), 0);
  EXPECT_EQ(bytes[0], 0x0A);
  EXPECT_EQ(bytes[1], 0x0B);
  EXPECT_EQ(bytes[2], 0xEE);
  EXPECT_EQ(UAIL_ASCIItoHex(bytes, "0A0", 4), -1);
  EXPECT_EQ(UAIL_ASCIItoHex(bytes, "0g", 1), -1);
  EXPECT_EQ(UAIL_ASCIItoHex(nullptr, "00", 1), -1);
}

// Field k is the text after the k-th ';': the last field of an answer reads like any other, and
// after the ';' that ends it there is no field for any reader (destinations untouched).
TEST(UailFields, TheLastFieldReadsLikeAnyOtherAndNothingFollowsIt) {
  struct Case {
    const char* answer;
    int32_t k;
    bool present;
  };
  const Case cases[] = {
      {"0000803F;", 0, true},      {"0000803F;", 1, false},   {"105;0000803F;", 1, true},
      {"105;0000803F;", 2, false}, {"$0;0000803F;", 0, true}, {"$0;0000803F;", 1, false},
      {"0000803F;105;", 0, true},  {"105;", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.answer << " field " << c.k);
    ASSERT_NO_FATAL_FAILURE(setAnswer(c.answer));
    constexpr uint32_t kUntouched = 0xEEEEEEEEu;
    uint32_t bits = kUntouched;
    int32_t hexInt = static_cast<int32_t>(kUntouched);
    int32_t i = -7;
    float f = -7.0f;
    char text[UAIL_FIELD_COPY_SIZE] = "untouched";
    const int32_t hexResult = UAIL_getAsFloatHex(c.k, &bits);
    const int32_t hexIntResult = UAIL_getAsIntHex(c.k, &hexInt);
    const int32_t copyResult = UAIL_getCopyStr(c.k, text);
    if (c.present) {
      EXPECT_EQ(hexResult, 0);
      EXPECT_EQ(bits, 0x3F800000u);
      EXPECT_EQ(hexIntResult, 0);
      EXPECT_EQ(hexInt, 0x3F800000);
      EXPECT_EQ(copyResult, 0);
      EXPECT_STREQ(text, "0000803F");
    } else {
      EXPECT_EQ(hexResult, -1);
      EXPECT_EQ(bits, kUntouched);
      EXPECT_EQ(hexIntResult, -1);
      EXPECT_EQ(static_cast<uint32_t>(hexInt), kUntouched);
      EXPECT_EQ(UAIL_getAsInt(c.k, &i), -1);
      EXPECT_EQ(i, -7);
      EXPECT_EQ(UAIL_getAsFloatStr(c.k, &f), -1);
      EXPECT_EQ(f, -7.0f);
      EXPECT_EQ(copyResult, -2);
      EXPECT_STREQ(text, "untouched");
    }
  }
}

TEST(UailFields, HexDigitsAndEncoding) {
  const std::string valid = "0123456789ABCDEF";
  for (int c = 0; c < 256; ++c) {
    const auto pos = valid.find(static_cast<char>(c));
    EXPECT_EQ(ASCIItoHexChar(static_cast<char>(c)), pos == std::string::npos || c == 0 ? -1 : int32_t(pos))
        << c;
  }
  const uint8_t bytes[] = {0x00, 0x7F, 0xA5, 0xFF};
  char text[9];
  EXPECT_EQ(UAIL_HexToASCII(text, bytes, 4), text);
  EXPECT_STREQ(text, "007FA5FF");
  uint8_t back[4] = {};
  EXPECT_EQ(UAIL_ASCIItoHex(back, text, 4), 0);
  EXPECT_EQ(std::memcmp(back, bytes, 4), 0);
}

TEST(UailFields, GetAsStrPointsIntoTheText) {
  const char* text = "a;bc;d";
  EXPECT_EQ(UAIL_getAsStr(0, text), text);
  EXPECT_EQ(UAIL_getAsStr(1, text), text + 2);
  EXPECT_EQ(UAIL_getAsStr(2, text), text + 5);
  EXPECT_STREQ(UAIL_getAsStr(3, text), "error parse!");
  EXPECT_STREQ(UAIL_getAsStr(-1, text), "error arg!");
  EXPECT_STREQ(UAIL_getAsStr(0, nullptr), "error arg!");
}

TEST(UailFields, ParceRxSplitsItsOwnCopy) {
  ASSERT_NO_FATAL_FAILURE(setAnswer("105;12;abc;"));
  TUailParce p{};
  ASSERT_EQ(UAIL_ParceRX(&uail, &p), 3);
  EXPECT_EQ(p.addr, 1);
  EXPECT_EQ(p.code, 105);
  EXPECT_STREQ(p.fields[0], "105");
  EXPECT_STREQ(p.fields[1], "12");
  EXPECT_STREQ(p.fields[2], "abc");
  EXPECT_STREQ(p.fields[3], "");
  EXPECT_EQ(p.fields[4], nullptr);
  EXPECT_EQ(keptText(uail), "105;12;abc;") << "the answer itself is not split";

  // At most 30 separators are split.
  std::string many;
  for (int i = 0; i < 40; ++i) many += std::to_string(i) + ";";
  ASSERT_NO_FATAL_FAILURE(setAnswer(many));
  TUailParce q{};
  ASSERT_EQ(UAIL_ParceRX(&uail, &q), UAIL_PARCE_MAX_SEPS);
  EXPECT_STREQ(q.fields[29], "29");
  EXPECT_EQ(std::string(q.fields[30]).substr(0, 6), "30;31;");
  EXPECT_EQ(q.fields[31], nullptr);

  TUail bare{};
  EXPECT_EQ(UAIL_ParceRX(&bare, &q), -1);
  EXPECT_EQ(UAIL_ParceRX(nullptr, &q), -1);
}

// File reads decode the answer's hexadecimal text, only after a complete error-free answer.
class FileReadTest : public SerialTest {
 protected:
  void SetUp() override {
    SerialTest::SetUp();
    InitDev();
    rs.hCom = OpenPortAsync(kPort, 9600, 0);
    ASSERT_TRUE(quarn_rs_handle_valid(rs.hCom));
  }
  static constexpr uint32_t kPort = 11;
  FakePeer peer;
  FakeVport reg{kPort, peer};
};

TEST_F(FileReadTest, DecodesOnlyAValidAnswer) {
  uint8_t data[8];
  std::memset(data, 0xEE, sizeof data);
  peer.queue(answerFrame("3;0A0B0C;"));
  ASSERT_EQ(RxUail(), 1);
  EXPECT_EQ(UAIL_File_Read_Ac(data), 0);
  EXPECT_EQ(data[0], 0x0A);
  EXPECT_EQ(data[2], 0x0C);
  EXPECT_EQ(data[3], 0xEE) << "len / 2 bytes, rounded down";
  // A destination size bounds the copy.
  std::memset(data, 0xEE, sizeof data);
  EXPECT_EQ(quarn_uail_file_read_ac(data, 2), 0);
  EXPECT_EQ(data[1], 0x0B);
  EXPECT_EQ(data[2], 0xEE);

  peer.queue(answerFrame("3;$7;"));
  ASSERT_EQ(RxUail(), 1);
  EXPECT_EQ(UAIL_File_Read_Ac(data), -1) << "answer with an error code";
  EXPECT_EQ(RxUail(), 0);
  EXPECT_EQ(UAIL_File_Read_Ac(data), -1) << "no answer";
  peer.queue(answerFrame("3;0a0b;"));
  ASSERT_EQ(RxUail(), 1);
  EXPECT_EQ(UAIL_File_Read_Ac(data), -1) << "lower case";
  EXPECT_EQ(UAIL_File_Read_Ac(nullptr), -1);
}

}  // namespace
}  // namespace quarn::test
