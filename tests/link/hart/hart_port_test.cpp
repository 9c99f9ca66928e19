// Sending requests and taking answers on the calibrator's port, against a scripted peer on a
// virtual port, in virtual time.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <vector>

#include "hart/hart_master.h"
#include "hart_test_util.h"
#include "quarn/cp1251.h"
#include "serial/serial_port.h"
#include "virtual_clock.h"

using hart_test::Answer;
using hart_test::appendFloat;
using hart_test::bytes;
using hart_test::frame;

namespace {

constexpr uint32_t kPortNo = 201;

// A device on the line: records what the library writes and the line settings, answers with
// whatever the test queues.
struct ScriptedPeer {
  std::vector<uint8_t> written;
  std::deque<uint8_t> pending;
  uint32_t baud = 0;
  int parity = -1;

  quarn_vport_ops ops() {
    quarn_vport_ops o{};
    o.ctx = this;
    o.open = [](void*) { return 0; };
    o.close = [](void*) {};
    o.set_line = [](void* ctx, uint32_t baud, int parity, int) {
      auto* self = static_cast<ScriptedPeer*>(ctx);
      self->baud = baud;
      self->parity = parity;
    };
    o.write = [](void* ctx, const uint8_t* data, uint32_t n, uint32_t) {
      auto* self = static_cast<ScriptedPeer*>(ctx);
      self->written.insert(self->written.end(), data, data + n);
      return static_cast<int>(n);
    };
    o.available = [](void* ctx, uint32_t) {
      return static_cast<int>(static_cast<ScriptedPeer*>(ctx)->pending.size());
    };
    o.read = [](void* ctx, uint8_t* buf, uint32_t max, uint32_t) {
      auto* self = static_cast<ScriptedPeer*>(ctx);
      uint32_t n = 0;
      while (n < max && !self->pending.empty()) {
        buf[n++] = self->pending.front();
        self->pending.pop_front();
      }
      return static_cast<int>(n);
    };
    o.purge = [](void* ctx) { static_cast<ScriptedPeer*>(ctx)->pending.clear(); };
    return o;
  }
  void answer(const std::vector<uint8_t>& b) { pending.insert(pending.end(), b.begin(), b.end()); }
};

class HartPortTest : public quarn::test::QuarnTest {
 protected:
  void SetUp() override {
    QuarnTest::SetUp();
    const quarn_vport_ops ops = peer.ops();
    ASSERT_EQ(quarn_port_register_virtual(kPortNo, &ops), 0);
    pRS = &rs;
    rs.hCom = OpenPortAsync(kPortNo, 9600, RS_PARITY_NONE);
    ASSERT_TRUE(quarn_rs_handle_valid(rs.hCom));
    rs.mode = RS_MODE_UAIL;
    InitDevHart();
    hdi = &Dev.hart[1];
    MakeLongAdr(hdi->longAddress, 0x0A0B0C, 0x2606);
    Dev.errCode = 0;
    Dev.errText = quarn_text_ok;
    Dev.onUpdate = &QuarnTest::countUpdates;
  }
  void TearDown() override {
    ClosePortAsync(rs.hCom);
    rs.hCom = 0;
    quarn_port_unregister(kPortNo);
    hdi = nullptr;
    QuarnTest::TearDown();
  }

  std::vector<uint8_t> request(uint8_t command, const std::vector<uint8_t>& data) const {
    std::vector<uint8_t> out(HART_FRAME_MAX);
    const int32_t n =
        FormRq(out.data(), hdi->longAddress, command, static_cast<int32_t>(data.size()), data.data());
    out.resize(static_cast<size_t>(n));
    return out;
  }

  ScriptedPeer peer;
};

TEST_F(HartPortTest, SendersWriteTheRequestInHartLineMode) {
  std::vector<uint8_t> f4, f20;
  appendFloat(f4, 4.0f);
  appendFloat(f20, 20.0f);
  auto cat = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* name;
    std::function<int32_t()> send;
    uint8_t command;
    std::vector<uint8_t> data;
  };
  const Case cases[] = {
      {"TxCmd", [] { return TxCmd(3); }, 3, {}},
      {"TxCmd_b", [] { return TxCmd_b(6, 2); }, 6, bytes({2})},
      {"TxCmd_bb", [] { return TxCmd_bb(6, 2, 1); }, 6, bytes({2, 1})},
      {"TxCmd_f", [] { return TxCmd_f(40, 4.0f); }, 40, f4},
      {"TxCmd_ff", [] { return TxCmd_ff(35, 20.0f, 4.0f); }, 35, cat(f20, f4)},
      {"TxCmd_bbbf", [] { return TxCmd_bbbf(130, 1, 2, 3, 20.0f); }, 130, cat(bytes({1, 2, 3}), f20)},
      {"TxCmd_bff", [] { return TxCmd_bff(35, 12, 20.0f, 4.0f); }, 35, cat(cat(bytes({12}), f20), f4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    peer.written.clear();
    Dev.errCode = 0;
    EXPECT_NE(c.send(), 0);
    EXPECT_EQ(peer.written, request(c.command, c.data));
    EXPECT_EQ(peer.written.size(), 15 + c.data.size());
    EXPECT_EQ(+Dev.errCode, 1u);
    EXPECT_EQ(+Dev.errText, quarn_error_text(1));  // the code's own text, not a stale one
    EXPECT_EQ(peer.baud, 1200u);
    EXPECT_EQ(peer.parity, RS_PARITY_ODD);
    EXPECT_EQ(std::memcmp(rawHART, peer.written.data(), peer.written.size()), 0);
  }
  EXPECT_EQ(updates, 0);  // sending does not notify
}

TEST_F(HartPortTest, ShortPollAndPreparedFrames) {
  EXPECT_NE(TxCmd_0(5), 0);
  EXPECT_EQ(peer.written, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x85, 0x00, 0x00, 0x87, 0xFF}));

  peer.written.clear();
  const uint8_t data[2] = {0x10, 0x20};
  const int32_t n = FormRq(rawHART, hdi->longAddress, 130, 2, data);
  EXPECT_NE(transpTx(n), 0);
  EXPECT_EQ(peer.written, request(130, bytes({0x10, 0x20})));
}

TEST_F(HartPortTest, NothingIsWrittenForARefusedRequest) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    std::function<int32_t()> send;
  };
  const Case cases[] = {
      {"command above 255", [] {}, [] { return TxCmd(256); }},
      {"poll address above 63", [] {}, [] { return TxCmd_0(64); }},
      {"record without its end mark", [] { hdi->endMark = 0; }, [] { return TxCmd_f(40, 4.0f); }},
      {"no record", [] { hdi = nullptr; }, [] { return TxCmd(0); }},
      {"length outside the buffer", [] {}, [] { return transpTx(HART_FRAME_MAX + 1); }},
      {"negative length", [] {}, [] { return transpTx(-1); }},
      // A device never identified has the zero address, which every device takes as its own.
      {"zero long address", [] { std::memset(hdi->longAddress, 0, 5); }, [] { return TxCmd_f(40, 0.0f); }},
      {"zero address with the master bit",
       [] {
         std::memset(hdi->longAddress, 0, 5);
         hdi->longAddress[0] = 0x80;
       },
       [] { return TxCmd(0); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    hdi = &Dev.hart[1];
    hdi->endMark = THARTDEV_END_MARK;
    MakeLongAdr(hdi->longAddress, 0x0A0B0C, 0x2606);
    c.prepare();
    Dev.errCode = 0;
    EXPECT_EQ(c.send(), 0);
    EXPECT_TRUE(peer.written.empty());
    EXPECT_EQ(+Dev.errCode, 1u);  // the request was made, nobody will answer it
  }
}

TEST_F(HartPortTest, RequestsCarryThePreamblesTheDeviceAskedFor) {
  struct Case {
    uint8_t asked;  // command 0, byte 3
    size_t sent;
  };
  // Never fewer than five, and no more than the twenty a HART device may ask for.
  const Case cases[] = {{0, 5}, {3, 5}, {5, 5}, {6, 6}, {8, 8}, {20, 20}, {30, 20}, {255, 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.asked));
    hdi->requestPreambles = c.asked;
    peer.written.clear();
    ASSERT_NE(TxCmd_bff(35, 12, 20.0f, 4.0f), 0);
    std::vector<uint8_t> expected(c.sent - 5, 0xFF);
    std::vector<uint8_t> data = bytes({12});
    appendFloat(data, 20.0f);
    appendFloat(data, 4.0f);
    const auto frame5 = request(35, data);
    expected.insert(expected.end(), frame5.begin(), frame5.end());
    EXPECT_EQ(peer.written, expected);
    // The poll by polling address comes before anyone knows the device: always five.
    peer.written.clear();
    ASSERT_NE(TxCmd_0(2), 0);
    EXPECT_EQ(peer.written.size(), 11u);
  }
}

TEST_F(HartPortTest, ADecodedAnswerClearsTheNoDeviceCodeItsRequestLeft) {
  struct Case {
    const char* name;
    uint32_t codeBefore;  // errCode when the answer is taken (1: left by the request)
    int answer;           // 0 silence, 1 a good answer, 2 a refusal
    uint32_t codeAfter;
    const char* textAfter;  // nullptr: the refusal's response text
  };
  const Case cases[] = {
      {"good answer", 1, 1, 0, quarn_text_ok},
      {"silence", 1, 0, 1, quarn_error_text(1)},
      {"refusal", 1, 2, 2, nullptr},
      // Only the pending "no HART device" is cleared: a code a step reported stays.
      {"good answer after another code", 5, 1, 5, quarn_error_text(5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(TxCmd(15), 0);
    ASSERT_EQ(+Dev.errCode, 1u);
    if (c.codeBefore != 1) {
      Dev.errCode = c.codeBefore;
      Dev.errText = quarn_error_text(c.codeBefore);
    }
    Answer a;
    a.command = 15;
    a.responseCode = c.answer == 2 ? 6 : 0;
    a.data = bytes({0, 0, 12});
    appendFloat(a.data, 100.0f);
    appendFloat(a.data, 0.0f);
    appendFloat(a.data, 1.0f);
    a.data.push_back(0);
    a.data.push_back(250);
    if (c.answer) peer.answer(frame(a));
    EXPECT_EQ(HART_Rx(), c.answer == 1 ? 1 : 0);
    EXPECT_EQ(+Dev.errCode, c.codeAfter);
    EXPECT_STREQ(+Dev.errText, c.textAfter ? c.textAfter : ToStrResponse(15, 6));
  }
}

TEST_F(HartPortTest, AnswerIsDecodedIntoTheSelectedRecord) {
  Answer a;
  a.command = 15;
  a.data = bytes({0, 0, 12});
  appendFloat(a.data, 100.0f);
  appendFloat(a.data, 0.0f);
  appendFloat(a.data, 1.0f);
  a.data.push_back(0);
  a.data.push_back(250);
  peer.answer(frame(a));
  EXPECT_EQ(HART_Rx(), 1);
  EXPECT_EQ(+Dev.hart[1].upperRange, 100.0f);
  EXPECT_EQ(+Dev.hart[0].upperRange, 0.0f);
  EXPECT_EQ(updates, 0);

  // Silence: nothing decoded, nothing reported.
  EXPECT_EQ(HART_Rx(), 0);
  EXPECT_EQ(+Dev.errCode, 0u);
  EXPECT_EQ(updates, 0);
}

TEST_F(HartPortTest, LongNoiseAfterTheAnswerDoesNotHideIt) {
  Answer a;
  a.command = 1;
  a.data = bytes({12});
  appendFloat(a.data, 20.0f);
  // Line noise, the answer, more noise: 300 bytes arrive, 44 modulo 256, and the answer starts after
  // the first 44.
  std::vector<uint8_t> buf(60, 0x00);
  const auto f = frame(a);
  buf.insert(buf.end(), f.begin(), f.end());
  buf.resize(300, 0x00);
  peer.answer(buf);
  EXPECT_EQ(HART_Rx(), 1);
  EXPECT_EQ(+hdi->dynVar[0].value, 20.0f);
}

TEST_F(HartPortTest, ResponseCodesAreReportedExceptForCommands45And136) {
  struct Case {
    uint8_t command;
    uint8_t code;
    bool reported;
  };
  const Case cases[] = {{35, 9, true},    {15, 6, true},  {0, 64, true},
                        {40, 0x82, true}, {45, 9, false}, {136, 8, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.command));
    Dev.errCode = 0;
    Dev.errText = quarn_text_ok;
    updates = 0;
    Answer a;
    a.command = c.command;
    a.responseCode = c.code;
    a.data = bytes({12, 0x41, 0xA0, 0, 0, 0, 0, 0, 0});
    peer.answer(frame(a));
    EXPECT_EQ(HART_Rx(), 0);
    EXPECT_STREQ(hdi->responseText, ToStrResponse(c.command, c.code));
    if (c.reported) {
      EXPECT_EQ(+Dev.errCode, 2u);
      EXPECT_EQ(+Dev.errText, +hdi->responseText);
      EXPECT_EQ(updates, 1);
    } else {
      EXPECT_EQ(+Dev.errCode, 0u);
      EXPECT_EQ(+Dev.errText, quarn_text_ok);
      EXPECT_EQ(updates, 0);
    }
  }
}

TEST_F(HartPortTest, ACorruptedFrameIsNotReportedAsADeviceError) {
  Answer a;
  a.command = 35;
  a.responseCode = 9;
  auto f = frame(a);
  f.back() ^= 0x55;
  peer.answer(f);
  EXPECT_EQ(HART_Rx(), 0);
  EXPECT_EQ(+Dev.errCode, 0u);
  EXPECT_EQ(+Dev.errText, quarn_text_ok);
  EXPECT_EQ(updates, 0);
}

int32_t nextStep() { return 0; }

TEST_F(HartPortTest, ReadStepDecodesSendsNotifiesAndWaits) {
  Answer a;
  a.command = 2;
  a.data.clear();
  appendFloat(a.data, 12.0f);
  appendFloat(a.data, 50.0f);
  peer.answer(frame(a));
  Dev.hartProgress = 4;
  hTx(13, &nextStep);
  EXPECT_EQ(+hdi->loopCurrent, 12.0f);
  EXPECT_EQ(peer.written, request(13, {}));
  EXPECT_EQ(+Dev.hartProgress, 5u);
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(OnTimer, &nextStep);
  EXPECT_EQ(+Dev.deadline, clock.now() + 800);  // the switch to the HART line mode slept 1 ms before
}

TEST_F(HartPortTest, ClearingLeavesFourValidRecords) {
  for (auto& dev : Dev.hart) {
    std::memset(&dev, 0xA5, sizeof dev);
  }
  InitDevHart();
  THartDev expected = hart_test::validRecord();
  for (auto& dev : Dev.hart) {
    EXPECT_EQ(check_DeviceInfo(&dev), 0);
    EXPECT_EQ(+dev.outputType, 1);
    EXPECT_EQ(std::memcmp(&dev, &expected, sizeof dev), 0);
  }
}

}  // namespace
