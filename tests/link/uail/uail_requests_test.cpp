// Requests on the calibrator port: what each builder sends, the line mode before sending, the
// repeat budget, and the unload exchange that takes the calibrator out of remote operation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../serial/fake_vport.h"
#include "../serial/serial_fixture.h"
#include "uail/link_lifecycle.h"
#include "uail/uail.h"
#include "uail_test_util.h"

namespace quarn::test {
namespace {

constexpr uint32_t kPort = 5;

class UailRequestTest : public SerialTest {
 protected:
  void SetUp() override {
    SerialTest::SetUp();
    InitDev();
    OnTimer = nullptr;
    Dev.onUpdate = nullptr;
    rs.hCom = OpenPortAsync(kPort, 9600, 0);
    ASSERT_TRUE(quarn_rs_handle_valid(rs.hCom));
    uail.addr = 1;
  }
  void TearDown() override {
    OnTimer = nullptr;
    SerialTest::TearDown();
  }
  // Frames the peer received, split at each 0xFF.
  std::vector<std::string> frames() const {
    std::vector<std::string> out;
    for (char c : peer.received) {
      if (c == '\xFF') out.emplace_back();
      if (!out.empty()) out.back() += c;
    }
    return out;
  }
  static int32_t failStep() { return 0; }

  FakePeer peer;
  FakeVport reg{kPort, peer};
};

TEST_F(UailRequestTest, BuildersSendTheirPayloads) {
  struct Case {
    const char* name;
    uint8_t addr;
    std::function<uint32_t()> send;
    std::string payload;
  };
  const uint8_t reg1A[] = {0x01, 0xAB};
  const Case cases[] = {
      {"identification", 1, [] { return Uail_txC(0); }, "1;0;"},
      {"remote on", 1, [] { return Uail_txI(8, 1); }, "1;8;1;"},
      {"valves", 1, [] { return Uail_txII(3, 1, 0); }, "1;3;1;0;"},
      {"setpoint 1.0", 1, [] { return Uail_txF(2, 1.0f); }, "1;2;0000803F;"},
      {"setpoint -2.5", 1, [] { return Uail_txF(2, -2.5f); }, "1;2;000020C0;"},
      {"register", 0, [] { return Uail_txRqReg(0x1A); }, "0;37;1A;"},
      {"text", 1, [] { return tx(17, "a b"); }, "1;17;a b;"},
      {"file open", 3, [] { return UAIL_File_Open_Rq(5); }, "3;40;5;"},
      {"file seek", 3, [] { return UAIL_File_Seek_Rq(128); }, "3;41;128;0;"},
      {"file read", 3, [] { return UAIL_File_Read_Rq(64); }, "3;42;64;"},
      {"file write", 3, [&] { return UAIL_File_Write_Rq(reg1A, 2); }, "3;43;01AB;"},
      {"file close", 3, [] { return UAIL_File_Close_Rq(); }, "3;44;0;"},
      {"explicit port", 7, [] { return Uail_Tx(rs.hCom, 7, 1, "0"); }, "7;1;0;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    peer.received.clear();
    uail.addr = c.addr;
    EXPECT_NE(c.send(), 0u);
    EXPECT_EQ(peer.received, requestFrame(c.payload));
  }
}

TEST_F(UailRequestTest, SendingSwitchesToTheUailModeFirst) {
  rs.mode = 0;
  peer.lines.clear();
  const int purges = peer.purges;
  Uail_txC(0);
  EXPECT_EQ(rs.mode, RS_MODE_UAIL);
  ASSERT_EQ(peer.lines.size(), 1u);
  EXPECT_EQ(peer.lines[0], (LineCall{9600, 0, 2}));
  EXPECT_EQ(peer.purges, purges + 1);
  Uail_txC(0);
  EXPECT_EQ(peer.lines.size(), 1u) << "already in mode 1";
  // After a HART exchange the repeat goes out at the UAIL speed again.
  RS_SetMode(RS_MODE_HART);
  Uail_RepeatTx();
  EXPECT_EQ(rs.mode, RS_MODE_UAIL);
  EXPECT_EQ(frames().size(), 3u);
}

TEST_F(UailRequestTest, RequestsThatDoNotFitAreNotSent) {
  const std::string big(UAIL_PAYLOAD_MAX, 'x');
  EXPECT_EQ(tx(17, big.c_str()), 0u);
  std::vector<uint8_t> bytes(UAIL_PAYLOAD_MAX, 0x55);
  EXPECT_EQ(UAIL_File_Write_Rq(bytes.data(), static_cast<int32_t>(bytes.size())), 0u);
  EXPECT_EQ(UAIL_File_Write_Rq(nullptr, 1), 0u);
  EXPECT_EQ(Uail_RepeatTx(), 0u) << "nothing left to repeat";
  EXPECT_TRUE(peer.received.empty());
}

TEST_F(UailRequestTest, RepeatUailTxOkAllowsFourTransmissions) {
  cRepeat = 3;
  Uail_txI(8, 1);
  int results = 0;
  for (int i = 0; i < 3; ++i) results += RepeatUailTxOk(&UailRequestTest::failStep, 6);
  EXPECT_EQ(results, 0);
  EXPECT_EQ(frames().size(), 4u);
  EXPECT_EQ(OnTimer, nullptr);
  EXPECT_EQ(RepeatUailTxOk(&UailRequestTest::failStep, 6), 0);
  EXPECT_EQ(frames().size(), 4u);
  EXPECT_EQ(OnTimer, &UailRequestTest::failStep);
  EXPECT_EQ(Dev.errCode, 6u);
  for (const auto& f : frames()) EXPECT_EQ(f, requestFrame("1;8;1;"));

  // An error-free answer ends the repeats and renews the budget.
  OnTimer = nullptr;
  cRepeat = 1;
  peer.queue(answerFrame("1;0;"));
  EXPECT_EQ(RepeatUailTxOk(&UailRequestTest::failStep, 6), 1);
  EXPECT_EQ(cRepeat, 3);
}

TEST_F(UailRequestTest, RepErrUailRepeatsAtTheNextTimerCall) {
  static int32_t (*const pending)() = [] { return int32_t{0}; };
  Uail_txC(1);
  OnTimer = pending;
  cRepeat = 2;
  repErrUAIL(&UailRequestTest::failStep);
  EXPECT_EQ(cRepeat, 1);
  EXPECT_EQ(cTimerDelay, 5u);
  EXPECT_EQ(OnTimer, pending) << "the pending step stays";
  EXPECT_EQ(frames().size(), 2u);
  repErrUAIL(&UailRequestTest::failStep);
  EXPECT_EQ(OnTimer, &UailRequestTest::failStep);
  EXPECT_EQ(frames().size(), 2u);
}

// The unload exchange: remote operation off, at most four transmissions with 500 ms waits.
class ShutdownTest : public UailRequestTest {};

TEST_F(ShutdownTest, SilentCalibratorGetsFourRequestsInOneAndAHalfSeconds) {
  uail.addr = 3;  // whatever module was addressed last
  const uint64_t before = clock.sleptMs();
  quarn_link_shutdown();
  const auto sent = frames();
  ASSERT_EQ(sent.size(), 4u);
  for (const auto& f : sent) EXPECT_EQ(f, requestFrame("1;8;0;"));
  const uint64_t slept = clock.sleptMs() - before;
  EXPECT_GE(slept, 1500u);
  EXPECT_LE(slept, 1510u);
  EXPECT_EQ(rs.hCom, RS_HANDLE_NONE);
  EXPECT_EQ(peer.closes, 1);
  EXPECT_EQ(quarn::serial::openCount(), 0u);
}

TEST_F(ShutdownTest, AnsweringCalibratorGetsOneRequest) {
  peer.onWrite = [](FakePeer& p, const std::string&) { p.queue(answerFrame("1;0;")); };
  const uint64_t before = clock.sleptMs();
  quarn_link_shutdown();
  EXPECT_EQ(frames().size(), 1u);
  EXPECT_LT(clock.sleptMs() - before, 510u);
  EXPECT_EQ(peer.closes, 1);
}

TEST_F(ShutdownTest, AnAnswerWithAnErrorCodeDoesNotCount) {
  peer.onWrite = [](FakePeer& p, const std::string&) { p.queue(answerFrame("1;$4;")); };
  quarn_link_shutdown();
  EXPECT_EQ(frames().size(), 4u);
}

// Answers of another module (a late Kesto answer, a damaged frame) set the receiver's address while
// they are read: the repeats still go to the main unit, and only the main unit's answer confirms.
TEST_F(ShutdownTest, RemoteOffGoesToTheMainUnitAndOnlyItsAnswerConfirms) {
  struct Case {
    const char* name;
    std::vector<std::string> answers;  // one per request, "" for none
    size_t requests;
  };
  const std::string damaged = "!3;105;1\r";
  const Case cases[] = {
      {"module 3 answers every request", {answerFrame("3;0;"), answerFrame("3;0;"), answerFrame("3;0;")}, 4},
      {"a damaged frame from module 3", {damaged, damaged, damaged, damaged}, 4},
      {"a late answer from module 3, then silence", {answerFrame("3;12;")}, 4},
      {"module 3, then the main unit", {answerFrame("3;0;"), answerFrame("1;0;")}, 2},
      {"the main unit at once", {answerFrame("1;0;")}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    peer.received.clear();
    if (!quarn_rs_handle_valid(rs.hCom)) rs.hCom = OpenPortAsync(kPort, 9600, 0);  // closed by the last case
    ASSERT_TRUE(quarn_rs_handle_valid(rs.hCom));
    uail.addr = 1;
    size_t next = 0;
    peer.onWrite = [&](FakePeer& p, const std::string&) {
      if (next < c.answers.size()) p.queue(c.answers[next]);
      ++next;
    };
    quarn_link_shutdown();
    peer.onWrite = nullptr;
    const auto sent = frames();
    EXPECT_EQ(sent.size(), c.requests);
    for (const auto& f : sent) EXPECT_EQ(f, requestFrame("1;8;0;"));
    EXPECT_EQ(rs.hCom, RS_HANDLE_NONE);
  }
}

TEST_F(ShutdownTest, WithoutACalibratorItStillWaitsAndReleasesEveryPort) {
  ClosePortAsync(rs.hCom);
  rs.hCom = RS_HANDLE_NONE;
  FakePeer dorvPeer;
  FakeVport dorvReg(kPort + 1, dorvPeer);
  pRS = &rsDorv;
  rsDorv.hCom = OpenPortAsync(kPort + 1, 1200, 0);
  ASSERT_TRUE(quarn_rs_handle_valid(rsDorv.hCom));
  const uint64_t before = clock.sleptMs();
  quarn_link_shutdown();
  EXPECT_GE(clock.sleptMs() - before, 1500u);
  EXPECT_TRUE(peer.received.empty());
  EXPECT_TRUE(dorvPeer.received.empty()) << "the transducer's port is not the calibrator's";
  EXPECT_EQ(pRS, &rs);
  EXPECT_EQ(dorvPeer.closes, 1);
  EXPECT_EQ(quarn::serial::openCount(), 0u);
}

TEST_F(UailRequestTest, StartupAttachesTheReceiverAndTaskStartPurges) {
  Dev.uailPtr = nullptr;
  uail.buf = nullptr;
  quarn_link_startup();
  EXPECT_EQ(Dev.uailPtr, &uail);
  EXPECT_EQ(uail.buf, uail_RxStr);
  EXPECT_EQ(uail.state, UAIL_ST_WAIT_START);

  peer.queue("stale answer");
  const int purges = peer.purges;
  quarn_link_purge();
  EXPECT_EQ(peer.purges, purges + 1);
  EXPECT_EQ(ReadPortAsync0(), 0);
}

}  // namespace
}  // namespace quarn::test
