// The answer receiver byte by byte, and RxUail on a port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../serial/fake_vport.h"
#include "../serial/serial_fixture.h"
#include "quarn/cp1251.h"
#include "uail/uail.h"
#include "uail_test_util.h"

namespace quarn::test {
namespace {

class UailReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override { UAIL_Init(&rx); }
  TUail rx{};
};

TEST(UailCharClasses, EveryByteHasItsClass) {
  const std::string numeric = "0123456789Ee+-.";
  const std::string hex = "ABCDFabcdf";
  for (int c = 0; c < 256; ++c) {
    int expected = UAIL_CH_PRINTABLE;
    if (c == '!')
      expected = UAIL_CH_START;
    else if (numeric.find(static_cast<char>(c)) != std::string::npos)
      expected = UAIL_CH_NUMERIC;
    else if (hex.find(static_cast<char>(c)) != std::string::npos)
      expected = UAIL_CH_HEX;
    else if (c == ';')
      expected = UAIL_CH_SEP;
    else if (c == '$')
      expected = UAIL_CH_ERROR;
    else if (c == '\r')
      expected = UAIL_CH_END;
    else if (c < 0x21)
      expected = UAIL_CH_BLANK;
    EXPECT_EQ(UAIL_getTypeChar(static_cast<uint8_t>(c)), expected) << c;
  }
}

struct RxCase {
  const char* name;
  std::string bytes;
  int completions;
  uint8_t addr;  // checked when completed
  std::string text;
  uint8_t rxErr;
};

TEST_F(UailReceiverTest, AnswerFrames) {
  const std::string good = answerFrame("1;105;12;");
  std::string badCrc = good;
  badCrc[badCrc.size() - 2] =
      badCrc[badCrc.size() - 2] == '9' ? '0' : static_cast<char>(badCrc[badCrc.size() - 2] + 1);

  // The same answer with another checksum text.
  const std::string body = "1;105;12;";
  const uint64_t crc = CalcMemCRC(body.data(), static_cast<uint16_t>(body.size()));
  const auto withChecksum = [&](const std::string& sum) { return "!" + body + sum + "\r"; };
  const auto offBy = [&](uint64_t d) { return withChecksum(std::to_string(crc + d)); };

  const RxCase cases[] = {
      {"plain answer", good, 1, 1, "105;12;", 0},
      {"checksum digit changed", badCrc, 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"checksum off by 256", offBy(256), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"checksum off by 65536", offBy(65536), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"checksum off by 3 * 65536", offBy(3 * 65536), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"checksum off by 2^32", offBy(uint64_t{1} << 32), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"overlong checksum text", withChecksum(std::to_string(crc) + "0"), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"checksum text of thirty digits", withChecksum(std::string(25, '9') + std::to_string(crc)), 0, 0, "",
       UAIL_RX_ERR_DAMAGED},
      {"sign before the checksum", withChecksum("+" + std::to_string(crc)), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"letter in the checksum", withChecksum("A" + std::to_string(crc)), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"no checksum", withChecksum(""), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"leading zero: the same value", withChecksum("0" + std::to_string(crc)), 1, 1, "105;12;", 0},
      {"error block only", answerFrame("1;$3;"), 1, 1, "", 3},
      {"error block and fields", answerFrame("1;$0;5;"), 1, 1, "5;", 0},
      {"three-digit error code wraps to 8 bits", answerFrame("1;$300;"), 1, 1, "", 44},
      {"noise before the start", std::string("\x00\x7F junk;;$\r", 11) + good, 1, 1, "105;12;", 0},
      {"a second '!' restarts", "!1;99;8" + good, 1, 1, "105;12;", 0},
      {"multi-digit address", answerFrame("12;7;"), 1, 12, "7;", 0},
      {"address wraps to 8 bits", answerFrame("300;7;"), 1, 44, "7;", 0},
      {"lower-case hex passes", answerFrame("1;0000803f;"), 1, 1, "0000803f;", 0},
      {"bytes above 0x7F are printable", answerFrame("1;\xC0\xFF;"), 1, 1, "\xC0\xFF;", 0},
      {"space in the data", answerFrame("1;10 5;"), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"tab in the data", answerFrame("1;10\t5;"), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"line feed in the data", answerFrame("1;105;\n"), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"'$' later than after the address", answerFrame("1;5;$3;"), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"no address", answerFrame(";5;"), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"letter in the address", answerFrame("1A;5;"), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"letter in the error code", answerFrame("1;$A;"), 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"CR right after the address", "!1;" + crcOf("1;") + "\r", 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"CR after data without separator", "!1;abc\r", 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"CR in the address", "!1\r", 0, 0, "", UAIL_RX_ERR_DAMAGED},
      {"two answers", good + answerFrame("3;9;"), 2, 3, "9;", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UAIL_Init(&rx);
    EXPECT_EQ(feed(c.bytes, &rx), c.completions);
    EXPECT_EQ(rx.rxErr, c.rxErr);
    EXPECT_EQ(rx.state, UAIL_ST_WAIT_START);
    if (c.completions > 0) {
      EXPECT_EQ(rx.addr, c.addr);
      EXPECT_EQ(keptText(rx), c.text);
      EXPECT_EQ(rx.len, c.text.size());
    }
  }
}

TEST_F(UailReceiverTest, ErrorBlockSetsTheTextOfTheCode) {
  ASSERT_EQ(feed(answerFrame("1;$3;"), &rx), 1);
  EXPECT_EQ(std::string(rx.rxErrText), quarn::text::utf8ToCp1251("Параметр не\tнайден."));
  ASSERT_EQ(feed(answerFrame("1;$77;"), &rx), 1);
  EXPECT_EQ(std::string(rx.rxErrText), quarn::text::utf8ToCp1251("Неизвестный\tкод\tошибки!"));
}

TEST_F(UailReceiverTest, AnswerLongerThanTheBufferIsAReceiveErrorWithoutOverrun) {
  // ASan/UBSan builds catch any write past uail_RxStr.
  const std::string body = "1;" + std::string(3000, '7') + ";";
  EXPECT_EQ(feed(answerFrame(body), &rx), 0);
  EXPECT_EQ(rx.rxErr, UAIL_RX_ERR_DAMAGED);
  EXPECT_LE(rx.wr, rx.buf + UAIL_RX_BUF_SIZE - 1);
  EXPECT_EQ(rx.buf[UAIL_RX_BUF_SIZE - 1], '\0');
  // The longest answer one read can deliver (1022 bytes) still completes.
  std::string longest;
  for (size_t n = RS_RX_BUF_SIZE; answerFrame(longest).size() != RS_RX_BUF_SIZE - 2; --n)
    longest = "1;" + std::string(n, '7') + ";";
  EXPECT_EQ(feed(answerFrame(longest), &rx), 1);
  EXPECT_EQ(rx.len, longest.size() - 2);
}

TEST_F(UailReceiverTest, AStaleSeparatorOfAnEarlierAnswerIsNeverUsed) {
  ASSERT_EQ(feed(answerFrame("1;5;"), &rx), 1);
  // An answer whose CR comes without any separator of its own, with digits equal to the previous
  // answer's checksum position: refused, not completed with the old text.
  const std::string stale = "!1;" + std::to_string(rx.crcAtSep) + "\r";
  EXPECT_EQ(feed(stale, &rx), 0);
  EXPECT_EQ(rx.rxErr, UAIL_RX_ERR_DAMAGED);
}

TEST(UailReceiverWithoutBuffer, LogsAndKeepsNothing) {
  static std::vector<std::string> lines;
  lines.clear();
  quarn_set_log([](const char* line) { lines.emplace_back(line); });
  TUail bare{};
  EXPECT_EQ(feed(answerFrame("1;5;"), &bare), 0);
  UAIL_Reset(&bare);
  quarn_set_log(nullptr);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "pMainRes\t== NULL!   Call\tUAIL_Init()!!!");
  EXPECT_EQ(bare.wr, nullptr);
  UAIL_Reset(nullptr);
  EXPECT_EQ(UAIL_RxChar('!', nullptr), 0);
}

// RxUail on the calibrator port (a virtual port).
class RxUailTest : public SerialTest {
 protected:
  void SetUp() override {
    SerialTest::SetUp();
    InitDev();
    Dev.onUpdate = &RxUailTest::countUpdate;
    updates = 0;
    rs.hCom = OpenPortAsync(kPort, 9600, 0);
    ASSERT_TRUE(quarn_rs_handle_valid(rs.hCom));
    cRepeat = 0;
  }
  void TearDown() override {
    Dev.onUpdate = nullptr;
    SerialTest::TearDown();
  }
  static void countUpdate() { ++updates; }
  static inline int updates = 0;
  static constexpr uint32_t kPort = 9;
  FakePeer peer;
  FakeVport reg{kPort, peer};
};

TEST_F(RxUailTest, FindsOneCompleteAnswerAmongTheWaitingBytes) {
  peer.queue("garbage" + answerFrame("1;105;12;") + answerFrame("1;999;"));
  EXPECT_EQ(RxUail(), 1);
  EXPECT_EQ(keptText(uail), "105;12;");
  EXPECT_EQ(cRepeat, 3);
  EXPECT_EQ(updates, 0) << "an error-free answer is not announced";
  EXPECT_TRUE(peer.inbox.empty()) << "the second answer was read and dropped";
  EXPECT_EQ(RxUail(), 0);
}

TEST_F(RxUailTest, AFrameSplitOverTwoReadsIsLost) {
  const std::string frame = answerFrame("1;105;");
  peer.queue(frame.substr(0, 5));
  EXPECT_EQ(RxUail(), 0);
  peer.queue(frame.substr(5));
  EXPECT_EQ(RxUail(), 0);
  EXPECT_EQ(cRepeat, 0);
}

TEST_F(RxUailTest, AnAnswerWithAnErrorCodeIsCompleteButNotOk) {
  peer.queue(answerFrame("1;$5;"));
  EXPECT_EQ(IsRxUailOk(), 0);
  EXPECT_EQ(uail.rxErr, 5);
  EXPECT_EQ(updates, 1) << "the host sees the answer's error";
  EXPECT_EQ(cRepeat, 3);

  peer.queue(answerFrame("1;7;"));
  EXPECT_EQ(IsRxUailOk(), 1);
  peer.queue(answerFrame("1;7;").substr(1));  // no start: nothing
  EXPECT_EQ(IsRxUailOk(), 0);
}

}  // namespace
}  // namespace quarn::test
