// The HART line of the calibrator: request frames assembled from the host's byte stream and routed to
// the transmitter of the selected channel.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "quarnsim/hart_line.h"
#include "quarnsim/transmitter.h"
#include "simhart_frames.h"

using namespace simhart_test;
using quarnsim::HartLine;
using quarnsim::Transmitter;
using quarnsim::TransmitterConfig;
using Bytes = std::vector<uint8_t>;

namespace {

struct Rig {
  Rig() {
    for (int ch = 0; ch < 4; ++ch) {
      TransmitterConfig c;
      c.deviceId = 0x100 + static_cast<uint32_t>(ch);
      c.damping = 0;
      devices.push_back(std::make_unique<Transmitter>(c));
      line.attach(ch, devices.back().get());
    }
  }
  Bytes send(const Bytes& bytes) { return line.onHostBytes(bytes.data(), bytes.size()); }
  // The device id of the answering transmitter, from its command 0 answer; -1 when none answered.
  int answeringDevice(const Bytes& answer) {
    const Answer a = readAnswer(answer);
    if (!a.valid || a.data.size() < 12) return -1;
    return (a.data[9] << 16) | (a.data[10] << 8) | a.data[11];
  }
  HartLine line;
  std::vector<std::unique_ptr<Transmitter>> devices;
};

}  // namespace

TEST(SimHartLine, RoutesToTheSelectedChannelOnly) {
  Rig rig;
  EXPECT_TRUE(rig.send(shortPoll(0)).empty()) << "no channel selected";
  for (int ch : {2, 0, 3}) {
    rig.line.selectChannel(ch);
    EXPECT_EQ(rig.answeringDevice(rig.send(shortPoll(0))), 0x100 + ch);
  }
  rig.line.attach(3, nullptr);
  EXPECT_TRUE(rig.send(shortPoll(0)).empty()) << "nothing attached";
  rig.line.selectChannel(7);
  EXPECT_EQ(rig.line.selectedChannel(), -1);
  EXPECT_TRUE(rig.send(shortPoll(0)).empty());

  // A long request for the device on channel 1 reaches it only while channel 1 is selected.
  const uint8_t address[5] = {0x80 | 0x99, 0x01, 0x00, 0x01, 0x01};
  rig.line.selectChannel(0);
  EXPECT_TRUE(rig.send(longRequest(address, 0)).empty());
  rig.line.selectChannel(1);
  EXPECT_EQ(rig.answeringDevice(rig.send(longRequest(address, 0))), 0x101);
}

TEST(SimHartLine, AssemblesFramesFromAnyChunking) {
  Rig rig;
  rig.line.selectChannel(0);
  const uint8_t address[5] = {0x80 | 0x99, 0x01, 0x00, 0x01, 0x00};
  const Bytes stream = cat({shortPoll(0), longRequest(address, 40, floatBytes(12.0f)), shortPoll(0)});

  // Byte by byte: an answer appears exactly when a checksum byte arrives.
  size_t answers = 0;
  for (uint8_t b : stream) {
    const Bytes out = rig.line.onHostBytes(&b, 1);
    if (!out.empty()) {
      ++answers;
      EXPECT_TRUE(readAnswer(out).valid);
    }
  }
  EXPECT_EQ(answers, 3u);
  EXPECT_DOUBLE_EQ(rig.devices[0]->loopCurrent(), 12.0) << "the fixed-current request was carried out";

  // All at once: three answers back to back.
  const Bytes all = rig.send(stream);
  const Answer first = readAnswer(all);
  EXPECT_TRUE(first.valid);
  EXPECT_GT(all.size(), 3 * 20u);
}

TEST(SimHartLine, IgnoresNoiseBadFramesAndTooFewPreambles) {
  Rig rig;
  rig.line.selectChannel(0);

  // Noise before the preambles is skipped.
  EXPECT_TRUE(readAnswer(rig.send(cat({{0x00, 0x12, 0x82, 0x02}, shortPoll(0)}))).valid);

  // One preamble byte is not enough to start a frame.
  const Bytes onePreamble{0x00, 0xFF, 0x02, 0x80, 0x00, 0x00, 0x82};
  EXPECT_TRUE(rig.send(onePreamble).empty());

  // A wrong checksum is not answered, and the next frame still is.
  Bytes bad = shortPoll(0);
  bad[9] ^= 0x40;
  EXPECT_TRUE(rig.send(bad).empty());
  EXPECT_TRUE(readAnswer(rig.send(shortPoll(0))).valid);

  // An answer frame (slave delimiter) is not a request.
  Bytes answerLike{0xFF, 0xFF, 0xFF, 0x06, 0x80, 0x00, 0x00};
  answerLike.push_back(0x06 ^ 0x80);
  EXPECT_TRUE(rig.send(answerLike).empty());
  EXPECT_TRUE(readAnswer(rig.send(shortPoll(0))).valid);

  // A frame cut off mid-way is dropped by a reset (quiet line, mode switch) and does not swallow the
  // next one.
  const Bytes poll = shortPoll(0);
  EXPECT_TRUE(rig.send(Bytes(poll.begin(), poll.begin() + 8)).empty());
  rig.line.reset();
  EXPECT_TRUE(readAnswer(rig.send(shortPoll(0))).valid);

  // Selecting another channel also drops a partial frame.
  EXPECT_TRUE(rig.send(Bytes(poll.begin(), poll.begin() + 7)).empty());
  rig.line.selectChannel(1);
  EXPECT_EQ(rig.answeringDevice(rig.send(shortPoll(0))), 0x101);
}

TEST(SimHartLine, RandomBytesNeverBreakTheLine) {
  Rig rig;
  rig.line.selectChannel(0);
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> byte(0, 255), length(1, 300);
  for (int round = 0; round < 2000; ++round) {
    Bytes noise(static_cast<size_t>(length(rng)));
    for (auto& b : noise) b = static_cast<uint8_t>(round % 3 == 0 && byte(rng) < 64 ? 0xFF : byte(rng));
    const Bytes out = rig.send(noise);
    // Whatever came back is a well-formed answer of the device on channel 0.
    if (!out.empty()) {
      const Answer a = readAnswer(out);
      EXPECT_TRUE(a.valid);
      EXPECT_EQ(a.delimiter & 0x07, 0x06);
    }
  }
  rig.line.reset();
  EXPECT_EQ(rig.answeringDevice(rig.send(shortPoll(0))), 0x100);
  EXPECT_TRUE(rig.line.onHostBytes(nullptr, 10).empty());
}
