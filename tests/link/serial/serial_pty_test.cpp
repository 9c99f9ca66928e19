// The serial layer on real pseudo-terminals: line settings, mode switches, reads bounded by the
// record buffer, writes into a full queue, a device that vanishes, handles of closed ports.
#include <gtest/gtest.h>

#include <string>

#include "serial_fixture.h"

namespace quarn::test {
namespace {

constexpr int32_t kPortA = 201;
constexpr int32_t kPortB = 202;

class PtyPortTest : public SerialTest {
 protected:
  void SetUp() override {
    SerialTest::SetUp();
    ASSERT_TRUE(a.ok() && b.ok());
    ASSERT_EQ(quarn_port_register_path(kPortA, a.path().c_str()), 0);
    ASSERT_EQ(quarn_port_register_path(kPortB, b.path().c_str()), 0);
  }
  void TearDown() override {
    SerialTest::TearDown();
    quarn_port_unregister(kPortA);
    quarn_port_unregister(kPortB);
  }
  // Opens port A as the calibrator port in use.
  uint32_t openCalibratorPort(uint32_t baud = 9600, int32_t parity = RS_PARITY_NONE) {
    const uint32_t h = OpenPortAsync(kPortA, baud, parity);
    rs.hCom = h;
    rs.hPort[kPortA] = h;
    return h;
  }
  static bool parityOdd(uint32_t h) {
    termios t{};
    return quarn::serial::requestedTermios(h, &t) && (t.c_cflag & PARENB) && (t.c_cflag & PARODD);
  }
  static bool parityNone(uint32_t h) {
    termios t{};
    return quarn::serial::requestedTermios(h, &t) && !(t.c_cflag & (PARENB | PARODD));
  }

  Pty a;
  Pty b;
};

TEST_F(PtyPortTest, OpenAndEveryModeSwitchGiveTheLibrarysLineSettings) {
  const uint32_t h = openCalibratorPort();
  ASSERT_TRUE(quarn_rs_handle_valid(h));
  EXPECT_EQ(rs.curPort, kPortA);

  const auto expectLine = [&](speed_t speed, bool odd, const char* when) {
    SCOPED_TRACE(when);
    const termios t = a.lineSettings();
    EXPECT_EQ(cfgetospeed(&t), speed);
    EXPECT_EQ(cfgetispeed(&t), speed);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(t.c_cflag & CSTOPB) << "two stop bits";
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) << "raw";
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP));
    EXPECT_FALSE(t.c_oflag & OPOST);
    // A read waits for nothing (the descriptor never blocks) and an empty queue is not a 0 from
    // read, which only a device that hung up gives.
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    // The pseudo-terminal does not keep PARENB: the parity is checked on what the port requested.
    EXPECT_TRUE(odd ? parityOdd(h) : parityNone(h));
  };
  expectLine(B9600, false, "after open");
  ASSERT_EQ(RS_SetMode(RS_MODE_HART), 0);
  EXPECT_EQ(rs.mode, RS_MODE_HART);
  expectLine(B1200, true, "mode 2");
  ASSERT_EQ(RS_SetMode(RS_MODE_UAIL), 0);
  expectLine(B9600, false, "mode 1");

  // The external transducer's port is opened at 1200 baud; odd parity when asked for.
  ClosePortAsync(h);
  const uint32_t h1200 = OpenPortAsync(kPortA, 1200, RS_PARITY_ODD);
  ASSERT_TRUE(quarn_rs_handle_valid(h1200));
  const termios t1200 = a.lineSettings();
  EXPECT_EQ(cfgetospeed(&t1200), static_cast<speed_t>(B1200));
  EXPECT_TRUE(parityOdd(h1200));
}

TEST_F(PtyPortTest, ModeSwitchDiscardsWaitingBytesAnUnchangedModeKeepsThem) {
  openCalibratorPort();
  ASSERT_EQ(RS_SetMode(RS_MODE_UAIL), 0);  // record mode 0 -> 1

  a.send("kept");
  ASSERT_TRUE(eventually([&] { return a.waitingForLibrary() == 4; }));
  EXPECT_EQ(RS_SetMode(RS_MODE_UAIL), 0);
  ASSERT_EQ(ReadPortAsync0(), 4);
  EXPECT_STREQ(reinterpret_cast<const char*>(rs.rxBuf), "kept");

  a.send("lost");
  ASSERT_TRUE(eventually([&] { return a.waitingForLibrary() == 4; }));
  EXPECT_EQ(RS_SetMode(RS_MODE_HART), 0);
  EXPECT_EQ(ReadPortAsync0(), 0);
  EXPECT_EQ(rs.rxBuf[0], 0);

  // Unknown modes and a lost port are refused without touching the record.
  EXPECT_EQ(RS_SetMode(3), -1);
  EXPECT_EQ(rs.mode, RS_MODE_HART);
  rs.hCom = RS_HANDLE_INVALID;
  EXPECT_EQ(RS_SetMode(RS_MODE_UAIL), -1);
  EXPECT_EQ(rs.mode, RS_MODE_HART);
}

TEST_F(PtyPortTest, WaitingBytesAreTakenAtMost1022PerRead) {
  openCalibratorPort();
  std::string sent(1500, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>('A' + i % 26);
  a.send(sent);
  ASSERT_TRUE(eventually([&] { return a.waitingForLibrary() == 1500; }));

  ASSERT_EQ(ReadPortAsync0(), 1022);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rs.rxBuf), 1022), sent.substr(0, 1022));
  EXPECT_EQ(rs.rxBuf[1022], 0);
  ASSERT_EQ(ReadPortAsync0(), 478);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rs.rxBuf), 478), sent.substr(1022));
  EXPECT_EQ(rs.rxBuf[478], 0);
  EXPECT_EQ(ReadPortAsync0(), 0);
  EXPECT_EQ(rs.rxBuf[0], 0);

  // A caller's own buffer: size - 2 bytes at most.
  a.send("0123456789");
  ASSERT_TRUE(eventually([&] { return a.waitingForLibrary() == 10; }));
  char small[6];
  EXPECT_EQ(ReadPortAsync(rs.hCom, small, sizeof small), 4);
  EXPECT_STREQ(small, "0123");
  EXPECT_EQ(ReadPortAsync(rs.hCom, nullptr, 100), -2);
}

TEST_F(PtyPortTest, WritingIntoAFullQueueLosesAndReordersNothing) {
  const uint32_t h = openCalibratorPort();
  // Numbered blocks, far more than the pseudo-terminal buffers while nobody reads the other side.
  std::string expected;
  bool sawBacklog = false;
  for (int i = 0; i < 300; ++i) {
    char block[128];
    std::snprintf(block, sizeof block, "<%05d:%0100d>", i, i);
    expected += block;
    ASSERT_NE(WritePortAsyncStr(block, h), 0u) << "block " << i;
    sawBacklog = sawBacklog || quarn::serial::pendingTx(h) > 0;
  }
  EXPECT_TRUE(sawBacklog) << "the queue never filled; the test proves nothing";

  // The device reads; the library's later calls on the port move the rest on.
  std::string got;
  ASSERT_TRUE(eventually(
      [&] {
        got += a.take();
        ReadPortAsync0();
        return got.size() >= expected.size();
      },
      5000));
  got += a.take();
  EXPECT_EQ(got, expected);
  EXPECT_EQ(quarn::serial::pendingTx(h), 0u);
  EXPECT_EQ(rs.hCom, h) << "a full queue is no failure";
}

TEST_F(PtyPortTest, TransmitBufferHasALimitAndRefusesBeyondIt) {
  const uint32_t h = openCalibratorPort();
  const std::string block(4096, 'x');
  int refused = 0;
  for (int i = 0; i < 64 && !refused; ++i)
    if (WritePortAsyncStr(block.c_str(), h) == 0) ++refused;
  EXPECT_EQ(refused, 1);
  EXPECT_LE(quarn::serial::pendingTx(h), quarn::serial::kTxPendingMax);
  EXPECT_EQ(rs.hCom, h) << "refusing is not losing the port";
}

struct VanishCase {
  const char* name;
  std::function<int64_t(uint32_t)> firstCall;
  int64_t expected;
  const char* waiting;  // bytes the device sent before it vanished
};

// Each transfer itself tells the device is gone (no error query goes before it): a read or a write
// right after the device vanished marks the port lost, also with bytes still waiting, while a live
// port with nothing to read stays.
TEST_F(PtyPortTest, AVanishedDeviceMarksThePortLost) {
  const VanishCase cases[] = {
      {"read", [](uint32_t) { return int64_t{ReadPortAsync0()}; }, -1, ""},
      {"write", [](uint32_t h) { return int64_t{WritePortAsyncStr("x", h)}; }, 0, ""},
      {"record read", [](uint32_t h) { return int64_t{ReadPortAsyncRS(h)}; }, -1, ""},
      {"read with bytes waiting", [](uint32_t) { return int64_t{ReadPortAsync0()}; }, -1, "!1;2;"},
      {"write with bytes waiting", [](uint32_t h) { return int64_t{WritePortAsyncStr("x", h)}; }, 0, "!1;2;"},
      {"read into a caller's buffer",
       [](uint32_t h) {
         char buf[8];
         return int64_t{ReadPortAsync(h, buf, sizeof buf)};
       },
       -1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    resetSerial();
    Pty pty;
    ASSERT_TRUE(pty.ok());
    quarn_port_register_path(kPortA, pty.path().c_str());
    const uint32_t h = openCalibratorPort();
    ASSERT_TRUE(quarn_rs_handle_valid(h));
    // Alive and silent: nothing to read is no loss.
    EXPECT_EQ(ReadPortAsync0(), 0);
    EXPECT_EQ(rs.hCom, h);
    if (*c.waiting) {
      pty.send(c.waiting);
      ASSERT_TRUE(eventually([&] { return pty.waitingForLibrary() > 0; }));
    }
    pty.closeMaster();

    EXPECT_EQ(c.firstCall(h), c.expected);
    EXPECT_EQ(rs.hCom, RS_HANDLE_INVALID);
    EXPECT_EQ(rs.hPort[kPortA], RS_HANDLE_INVALID);
    EXPECT_EQ(quarn::serial::openCount(), 0u) << "the device is released";
    // Everything later fails quietly.
    EXPECT_EQ(WritePortAsyncStr("again", h), 0u);
    EXPECT_EQ(ReadPortAsync0(), -1);
    EXPECT_EQ(RS_SetMode(RS_MODE_HART), -1);
    ClosePortAsync(h);
  }
}

TEST_F(PtyPortTest, HandleOfAClosedPortNeverReachesItsSuccessor) {
  const uint32_t first = OpenPortAsync(kPortA, 9600, RS_PARITY_NONE);
  ASSERT_TRUE(quarn_rs_handle_valid(first));
  EXPECT_EQ(OpenPortAsync(kPortA, 9600, RS_PARITY_NONE), RS_HANDLE_INVALID) << "not shared";
  ClosePortAsync(first);
  const uint32_t second = OpenPortAsync(kPortA, 9600, RS_PARITY_NONE);
  ASSERT_TRUE(quarn_rs_handle_valid(second));
  EXPECT_NE(second, first);

  EXPECT_EQ(WritePortAsyncStr("stale", first), 0u);
  EXPECT_EQ(ReadPortAsync(first, rs.rxBuf, RS_RX_BUF_SIZE), -1);
  ClosePortAsync(first);
  ASSERT_NE(WritePortAsyncStr("fresh", second), 0u);
  std::string got;
  ASSERT_TRUE(eventually([&] {
    got += a.take();
    return got.size() >= 5;
  }));
  EXPECT_EQ(got, "fresh");
}

TEST_F(PtyPortTest, OpenRefusesNumbersThatReachNothing) {
  EXPECT_EQ(OpenPortAsync(0, 9600, 0), RS_HANDLE_NONE);
  EXPECT_EQ(OpenPortAsync(-1, 9600, 0), RS_HANDLE_NONE);
  EXPECT_EQ(OpenPortAsync(254, 9600, 0), RS_HANDLE_INVALID);
  EXPECT_EQ(OpenPortAsync(250, 9600, 0), RS_HANDLE_INVALID) << "unmapped";
  EXPECT_EQ(OpenPortAsync(kPortA, 12345, 0), RS_HANDLE_INVALID) << "no such speed";
  EXPECT_EQ(OpenPortAsync(kPortA, 9600, 7), RS_HANDLE_INVALID) << "no such parity";
  // A registered path that is not a terminal.
  quarn_port_register_path(kPortB, "/dev/null");
  EXPECT_EQ(OpenPortAsync(kPortB, 9600, 0), RS_HANDLE_INVALID);
  EXPECT_EQ(quarn::serial::openCount(), 0u);

  EXPECT_EQ(WritePortAsyncBin("x", 0, rs.hCom), 0u);
  EXPECT_EQ(WritePortAsyncBin("x", 1, RS_HANDLE_NONE), 0u);
  EXPECT_EQ(WritePortAsyncBin(nullptr, 1, 1234u), 0u);
  EXPECT_EQ(ReadPortAsync(RS_HANDLE_NONE, rs.rxBuf, RS_RX_BUF_SIZE), -1);
}

TEST_F(PtyPortTest, ClosePortsKeepsWhatItIsAskedToKeep) {
  rs.hPort[kPortA] = OpenPortAsync(kPortA, 9600, 0);
  rs.hPort[kPortB] = OpenPortAsync(kPortB, 9600, 0);
  rs.hCom = rs.hPort[kPortB];
  ClosePorts(kPortB);
  EXPECT_EQ(rs.hPort[kPortA], RS_HANDLE_INVALID);
  EXPECT_TRUE(quarn::serial::isOpen(rs.hPort[kPortB]));
  EXPECT_EQ(rs.hCom, rs.hPort[kPortB]);
  EXPECT_EQ(rs.hPort[1], RS_HANDLE_INVALID) << "entries never opened are marked too";

  ClosePorts(-1);
  EXPECT_EQ(rs.hCom, RS_HANDLE_NONE);
  EXPECT_EQ(rs.hPort[kPortB], RS_HANDLE_INVALID);
  EXPECT_EQ(quarn::serial::openCount(), 0u);

  std::memset(rs.hPort, 0, sizeof rs.hPort);
  rs.hPort[kPortA] = OpenPortAsync(kPortA, 9600, 0);
  rs.hPort[kPortB] = OpenPortAsync(kPortB, 9600, 0);
  rs.hCom = rs.hPort[kPortA];
  ClosePorts2(kPortA, 7);
  EXPECT_TRUE(quarn::serial::isOpen(rs.hPort[kPortA]));
  EXPECT_EQ(rs.hPort[kPortB], RS_HANDLE_INVALID);
  EXPECT_EQ(rs.hPort[1], RS_HANDLE_NONE) << "only entries that held a port are marked";
  EXPECT_EQ(rs.hCom, rs.hPort[kPortA]);
}

TEST_F(PtyPortTest, ScansFindThePortThatAnswers) {
  EXPECT_GE(ScanOpenPorts(rs.hPort, 9600), 2);
  ASSERT_TRUE(quarn::serial::isOpen(rs.hPort[kPortA]));
  ASSERT_TRUE(quarn::serial::isOpen(rs.hPort[kPortB]));
  EXPECT_EQ(rs.hPort[250], RS_HANDLE_INVALID);

  EXPECT_EQ(ScanTxPorts("?ID\r", rs.hPort), 1);
  std::string atA, atB;
  ASSERT_TRUE(eventually([&] {
    atA += a.take();
    atB += b.take();
    return atA.size() >= 4 && atB.size() >= 4;
  }));
  EXPECT_EQ(atA, "?ID\r");
  EXPECT_EQ(atB, "?ID\r");

  // Only B answers with the text looked for.
  a.send("noise");
  b.send("xx!1;105;yy");
  ASSERT_TRUE(eventually([&] { return b.waitingForLibrary() == 11 && a.waitingForLibrary() == 5; }));
  EXPECT_EQ(ScanRxPorts(rs.hPort, "!1;"), kPortB);
  EXPECT_EQ(rs.hCom, rs.hPort[kPortB]);

  // One value scanned from the format's first character on.
  a.send("junk!1;84;");
  b.send("!1;105;");
  ASSERT_TRUE(eventually([&] { return a.waitingForLibrary() == 10 && b.waitingForLibrary() == 7; }));
  int value = 0;
  EXPECT_EQ(ScanRxPortsI(rs.hPort, "!1;%d", &value), kPortA);
  EXPECT_EQ(value, 84);
  ReadPortAsyncRS(rs.hPort[kPortB]);  // B's answer was not looked at

  // Only the two ports named may win; the other answers in vain.
  a.send("!1;84;");
  b.send("!1;105;");
  ASSERT_TRUE(eventually([&] { return a.waitingForLibrary() == 6 && b.waitingForLibrary() == 7; }));
  value = 0;
  EXPECT_EQ(ScanRxPortsII(rs.hPort, "!1;%d", &value, kPortB, 99), kPortB);
  EXPECT_EQ(value, 105);

  // A table entry 0 is marked on send.
  rs.hPort[kPortA] = RS_HANDLE_NONE;
  ScanTxPorts("x", rs.hPort);
  EXPECT_EQ(rs.hPort[kPortA], RS_HANDLE_INVALID);
}

TEST_F(PtyPortTest, TextHelpersSendFormattedValuesAndScanAnswers) {
  const uint32_t h = openCalibratorPort();
  EXPECT_NE(Tx_Int(-42, "I%d;"), 0u);
  EXPECT_NE(Tx_Float(2.5f, "F%.2f;"), 0u);
  EXPECT_NE(Tx_Str("S;", h), 0u);
  std::string got;
  ASSERT_TRUE(eventually([&] {
    got += a.take();
    return got.size() >= 13;
  }));
  EXPECT_EQ(got, "I-42;F2.50;S;");

  a.send("P=12.25");
  ASSERT_TRUE(eventually([&] { return a.waitingForLibrary() == 7; }));
  float f = 0;
  EXPECT_EQ(Rx_Float(&f, "P=%f"), 1);
  EXPECT_FLOAT_EQ(f, 12.25f);
  EXPECT_EQ(Rx_Float(&f, "P=%f"), 0) << "nothing waiting";

  a.send("...READY...");
  ASSERT_TRUE(eventually([&] { return a.waitingForLibrary() == 11; }));
  EXPECT_EQ(Rx_StrCompare("READY", h), 1);
  a.send("BUSY");
  ASSERT_TRUE(eventually([&] { return a.waitingForLibrary() == 4; }));
  EXPECT_EQ(Rx_StrCompare("READY", h), 0);
}

}  // namespace
}  // namespace quarn::test
