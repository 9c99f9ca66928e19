// Virtual ports: every operation of the serial layer reaches the peer registered for the number.
#include <gtest/gtest.h>

#include "fake_vport.h"
#include "serial_fixture.h"

namespace quarn::test {
namespace {

constexpr int32_t kPort = 7;

class VportTest : public SerialTest {
 protected:
  FakePeer peer;
};

TEST_F(VportTest, EveryOperationReachesThePeer) {
  FakeVport reg(kPort, peer);
  const uint32_t h = OpenPortAsync(kPort, 9600, RS_PARITY_NONE);
  ASSERT_TRUE(quarn_rs_handle_valid(h));
  rs.hCom = h;
  EXPECT_EQ(peer.opens, 1);
  ASSERT_EQ(peer.lines.size(), 1u);
  EXPECT_EQ(peer.lines[0], (LineCall{9600, 0, 2}));
  const int purgesAfterOpen = peer.purges;
  EXPECT_GE(purgesAfterOpen, 1) << "opening discards what waited";

  EXPECT_EQ(RS_SetMode(RS_MODE_HART), 0);
  EXPECT_EQ(peer.lines.back(), (LineCall{1200, 1, 2}));
  EXPECT_EQ(peer.purges, purgesAfterOpen + 1);
  EXPECT_EQ(RS_SetMode(RS_MODE_HART), 0);
  EXPECT_EQ(peer.purges, purgesAfterOpen + 1) << "unchanged mode: no purge";

  EXPECT_NE(WritePortAsyncStr("hello", h), 0u);
  EXPECT_EQ(peer.received, "hello");

  peer.queue("answer");
  EXPECT_EQ(ReadPortAsync0(), 6);
  EXPECT_STREQ(reinterpret_cast<const char*>(rs.rxBuf), "answer");

  quarn_rs_purge(h);
  EXPECT_EQ(peer.purges, purgesAfterOpen + 2);

  ClosePortAsync(h);
  EXPECT_EQ(peer.closes, 1);
  EXPECT_EQ(peer.callsAfterClose, 0);
  EXPECT_EQ(WritePortAsyncStr("late", h), 0u);
  EXPECT_EQ(peer.received, "hello");
}

TEST_F(VportTest, BytesThePeerDoesNotTakeGoOutLaterInOrder) {
  FakeVport reg(kPort, peer);
  peer.takePerWrite = 3;
  const uint32_t h = OpenPortAsync(kPort, 9600, 0);
  rs.hCom = h;
  EXPECT_NE(WritePortAsyncStr("0123456789", h), 0u);
  EXPECT_NE(WritePortAsyncStr("abcdef", h), 0u);
  // Each later call on the port moves more on; nothing is lost or reordered.
  for (int i = 0; i < 20 && quarn::serial::pendingTx(h) > 0; ++i) ReadPortAsync0();
  EXPECT_EQ(peer.received, "0123456789abcdef");

  // A peer that takes nothing for a while: the bytes wait.
  peer.takePerWrite = 0;
  EXPECT_NE(WritePortAsyncStr("XYZ", h), 0u);
  EXPECT_EQ(quarn::serial::pendingTx(h), 3u);
  peer.takePerWrite = 100;
  ReadPortAsync0();
  EXPECT_EQ(peer.received, "0123456789abcdefXYZ");
  // A mode switch discards what had not gone out at the old speed.
  peer.takePerWrite = 0;
  WritePortAsyncStr("old", h);
  RS_SetMode(RS_MODE_UAIL);
  RS_SetMode(RS_MODE_HART);
  EXPECT_EQ(quarn::serial::pendingTx(h), 0u);
}

TEST_F(VportTest, APeerThatIsGoneMarksThePortLost) {
  FakeVport reg(kPort, peer);
  const uint32_t h = OpenPortAsync(kPort, 9600, 0);
  rs.hCom = h;
  rs.hPort[kPort] = h;
  rsDorv.hCom = 12345;  // another record's port is not touched
  peer.gone = true;
  EXPECT_EQ(ReadPortAsync0(), -1);
  EXPECT_EQ(rs.hCom, RS_HANDLE_INVALID);
  EXPECT_EQ(rs.hPort[kPort], RS_HANDLE_INVALID);
  EXPECT_EQ(rsDorv.hCom, 12345u);
}

TEST_F(VportTest, UnregisteringDetachesOpenPortsAndFreesTheNumber) {
  uint32_t h = 0;
  {
    FakeVport reg(kPort, peer);
    h = OpenPortAsync(kPort, 9600, 0);
    ASSERT_TRUE(quarn_rs_handle_valid(h));
  }
  const int callsBefore = peer.callsAfterClose + peer.opens + peer.closes + peer.purges;
  rs.hCom = h;
  EXPECT_EQ(WritePortAsyncStr("x", h), 0u);
  EXPECT_EQ(rs.hCom, RS_HANDLE_INVALID);
  EXPECT_EQ(peer.callsAfterClose + peer.opens + peer.closes + peer.purges, callsBefore)
      << "no call reaches a peer that is no longer registered";

  FakePeer next;
  FakeVport reg(kPort, next);
  EXPECT_TRUE(quarn_rs_handle_valid(OpenPortAsync(kPort, 9600, 0)));
  EXPECT_EQ(next.opens, 1);
}

TEST_F(VportTest, TheLineModeBelongsToTheRecordNotToThePort) {
  FakeVport reg(kPort, peer);
  pRS = &rsDorv;
  rsDorv.hCom = OpenPortAsync(kPort, 1200, RS_PARITY_NONE);
  EXPECT_EQ(rsDorv.curPort, kPort);
  EXPECT_EQ(rs.curPort, 0) << "the record pRS designates";
  EXPECT_EQ(RS_SetMode(RS_MODE_UAIL), 0);  // mode 0 -> 1: the first request switches to 9600
  EXPECT_EQ(peer.lines.back(), (LineCall{9600, 0, 2}));
  ClosePortAsync(rsDorv.hCom);
  rsDorv.hCom = OpenPortAsync(kPort, 1200, RS_PARITY_NONE);
  const size_t linesAfterReopen = peer.lines.size();
  EXPECT_EQ(RS_SetMode(RS_MODE_UAIL), 0);  // the record still reads 1: nothing changes
  EXPECT_EQ(peer.lines.size(), linesAfterReopen);
  EXPECT_EQ(peer.lines.back(), (LineCall{1200, 0, 2}));
  EXPECT_EQ(rs.mode, 0) << "the calibrator's record is untouched";
}

TEST_F(VportTest, APeerThatRefusesGivesTheInvalidHandle) {
  peer.refuseOpen = true;
  FakeVport reg(kPort, peer);
  EXPECT_EQ(OpenPortAsync(kPort, 9600, 0), RS_HANDLE_INVALID);
  EXPECT_EQ(quarn::serial::openCount(), 0u);
}

}  // namespace
}  // namespace quarn::test
