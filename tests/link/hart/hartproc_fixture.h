// Fixture of the HART procedure tests: the library linked to the simulated bench in virtual time,
// with every frame the library writes on the calibrator's port recorded, and every notification.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calibrator/calibrator.h"
#include "hart/hart_master.h"
#include "hart/hart_procedures.h"
#include "quarn/cp1251.h"
#include "quarn_core.h"
#include "quarnsim/engine.h"
#include "serial/serial_port.h"
#include "sim_vport.h"
#include "uail/uail.h"
#include "virtual_clock.h"

namespace quarn::test {

// One HART request as the library wrote it.
struct HartRequest {
  uint32_t atMs;
  int channel;                         // the channel the Kesto module had selected
  bool shortFrame;                     // polling frame (command 0 by polling address)
  uint8_t address;                     // polling address of a short frame
  std::array<uint8_t, 5> longAddress;  // address bytes of a long frame
  int preambles;                       // 0xFF bytes before the delimiter
  uint8_t command;
  std::vector<uint8_t> data;
  std::string step;  // dsc[1] when the request was sent, UTF-8
};

// What the host saw at one notification.
struct HartNotice {
  uint32_t event;
  uint32_t retCode;
  uint32_t errCode;
  std::string errText;  // UTF-8
  uint32_t hartProgress;
  uint32_t task;
  uint32_t hartStage;
};

// The bench behind port 7 with a tap on what the library writes.
class TappedBench {
 public:
  explicit TappedBench(const quarnsim::Scenario& s) : engine(s) {
    inner_ = simVportOps(engine.calibratorPort());
    quarn_vport_ops ops = inner_;
    ops.ctx = this;
    ops.open = [](void* c) {
      auto* t = static_cast<TappedBench*>(c);
      return t->inner_.open(t->inner_.ctx);
    };
    ops.close = [](void* c) {
      auto* t = static_cast<TappedBench*>(c);
      t->inner_.close(t->inner_.ctx);
    };
    ops.set_line = [](void* c, uint32_t baud, int parity, int stopBits) {
      auto* t = static_cast<TappedBench*>(c);
      t->inner_.set_line(t->inner_.ctx, baud, parity, stopBits);
    };
    ops.write = [](void* c, const uint8_t* data, uint32_t n, uint32_t nowMs) {
      auto* t = static_cast<TappedBench*>(c);
      const int taken = t->inner_.write(t->inner_.ctx, data, n, nowMs);
      if (taken > 0) t->record(data, static_cast<uint32_t>(taken), nowMs);
      return taken;
    };
    ops.available = [](void* c, uint32_t nowMs) {
      auto* t = static_cast<TappedBench*>(c);
      return t->inner_.available(t->inner_.ctx, nowMs);
    };
    ops.read = [](void* c, uint8_t* buf, uint32_t max, uint32_t nowMs) {
      auto* t = static_cast<TappedBench*>(c);
      const int n = t->inner_.read(t->inner_.ctx, buf, max, nowMs);
      for (int i = 0; i < n; ++i) t->taken_.push_back({nowMs, buf[i]});
      return n;
    };
    ops.purge = [](void* c) {
      auto* t = static_cast<TappedBench*>(c);
      t->inner_.purge(t->inner_.ctx);
    };
    registered_ = quarn_port_register_virtual(7, &ops) == 0;
  }
  ~TappedBench() {
    if (registered_) quarn_port_unregister(7);
  }

  quarnsim::Engine engine;
  std::vector<HartRequest> hart;
  std::vector<std::string> uailRequests;

  // HART requests of one command (optionally on one channel only).
  std::vector<HartRequest> requests(int command, int channel = -1) const {
    std::vector<HartRequest> out;
    for (const HartRequest& r : hart)
      if (r.command == command && (channel < 0 || r.channel == channel)) out.push_back(r);
    return out;
  }
  // Long-frame commands in the order sent (from index `from` on).
  std::vector<int> commands(std::size_t from = 0, int channel = -1) const {
    std::vector<int> out;
    for (std::size_t i = from; i < hart.size(); ++i)
      if (!hart[i].shortFrame && (channel < 0 || hart[i].channel == channel)) out.push_back(hart[i].command);
    return out;
  }
  // The last request of a command (optionally on one channel); nullopt when none was sent.
  std::optional<HartRequest> last(int command, int channel = -1) const {
    const auto all = requests(command, channel);
    if (all.empty()) return std::nullopt;
    return all.back();
  }
  // When the library took the last byte of each answer to `command` that carried `responseCode`, in
  // the order taken (a HART answer: two preambles or more, delimiter 0x06 or 0x86, address, command,
  // byte count, the response code as the first data byte, checksum).
  std::vector<uint32_t> answersTaken(int command, uint8_t responseCode) const {
    std::vector<uint32_t> out;
    int preambles = 0;
    for (std::size_t i = 0; i < taken_.size(); ++i) {
      const uint8_t b = taken_[i].byte;
      if (b == 0xFF) {
        ++preambles;
        continue;
      }
      const bool start = preambles >= 2 && (b == 0x06 || b == 0x86);
      preambles = 0;
      if (!start) continue;
      const std::size_t at = i + 1 + (b == 0x86 ? 5 : 1);  // the command byte
      if (at + 2 >= taken_.size()) break;
      const std::size_t count = taken_[at + 1].byte;
      const std::size_t checksum = at + 2 + count;
      if (checksum >= taken_.size()) break;
      if (taken_[at].byte == command && count >= 1 && taken_[at + 2].byte == responseCode)
        out.push_back(taken_[checksum].atMs);
      i = checksum;
    }
    return out;
  }

  int polls(int channel) const {
    int n = 0;
    for (const HartRequest& r : hart) n += r.shortFrame && r.channel == channel;
    return n;
  }

 private:
  void record(const uint8_t* data, uint32_t n, uint32_t nowMs) {
    uint32_t i = 0;
    while (i < n && data[i] == 0xFF) ++i;
    if (i >= n) return;
    const int preambles = static_cast<int>(i);
    if (data[i] == ':') {
      uailRequests.emplace_back(reinterpret_cast<const char*>(data + i), n - i);
      return;
    }
    HartRequest r{};
    r.atMs = nowMs;
    r.step = Dev.dsc[1] ? text::cp1251ToUtf8(Dev.dsc[1]) : "";
    r.channel = engine.selectedChannel();
    const uint8_t delimiter = data[i++];
    r.shortFrame = (delimiter & 0x80) == 0;
    const uint32_t addressBytes = r.shortFrame ? 1 : 5;
    if (i + addressBytes + 2 > n) return;
    r.address = data[i] & 0x3F;
    r.preambles = preambles;
    if (!r.shortFrame) std::copy(data + i, data + i + 5, r.longAddress.begin());
    i += addressBytes;
    r.command = data[i++];
    const uint8_t count = data[i++];
    for (uint32_t k = 0; k < count && i < n; ++k) r.data.push_back(data[i++]);
    hart.push_back(r);
  }

  struct TakenByte {
    uint32_t atMs;
    uint8_t byte;
  };

  quarn_vport_ops inner_{};
  bool registered_ = false;
  std::vector<TakenByte> taken_;  // every byte the library read, with the time it read it
};

inline std::vector<uint8_t> floatBytes(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 8),
          static_cast<uint8_t>(bits)};
}
inline float floatAt(const std::vector<uint8_t>& d, std::size_t at) {
  if (d.size() < at + 4) return NAN;
  const uint32_t bits =
      (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) | d[at + 3];
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

class HartProcTest : public QuarnTest {
 protected:
  void SetUp() override {
    QuarnTest::SetUp();
    resetPorts();
    notices().clear();
    Dev.onUpdate = &HartProcTest::record;
  }
  void TearDown() override {
    OnTimer = nullptr;
    resetPorts();
    bench.reset();
    QuarnTest::TearDown();
  }
  static void resetPorts() {
    OnTimer = nullptr;
    pRS = &rs;
    ClosePorts(-1);
    isQuarn = isBrenk = 0;
    _oldControl_Mode = -1;
    _oldControl_Ptarget = -9999.9f;
  }

  static quarnsim::Scenario scenario() {
    quarnsim::Scenario s;
    s.model = quarnsim::Model::Quarn;
    return s;
  }

  // Builds the bench, connects the library to it and waits for the measuring cycle.
  void connect(const quarnsim::Scenario& s) {
    bench = std::make_unique<TappedBench>(s);
    Dev.model = 1;
    Dev.portNo = 7;
    SetTask(TASK_CONNECT, nullptr);
    ASSERT_TRUE(
        runUntil([] { return Dev.linked == 1 && Dev.linkState == 2 && Dev.task == TASK_MEASURE; }, 20000));
    ASSERT_TRUE(runUntil([] { return lastEvent(2) != nullptr; }, 5000));
    bench->hart.clear();
    bench->uailRequests.clear();
    notices().clear();
  }

  // Starts a task and runs until the library is back in the measuring cycle.
  bool runTask(uint32_t task, void* arg = nullptr, uint32_t maxMs = 600000) {
    notices().clear();
    SetTask(task, arg);
    return runUntil([] { return Dev.task == TASK_MEASURE; }, maxMs);
  }

  bool runUntil(const std::function<bool()>& done, uint32_t maxMs) { return clock.runUntil(done, maxMs); }

  // Searches and expects every configured device to be found.
  void search() { ASSERT_TRUE(runTask(TASK_HART_SEARCH)); }

  // The configuration a write (task 13) puts into the device of channel `ch`.
  static void writeParameters(int32_t ch, uint32_t units, uint32_t address, uint32_t function, float lower,
                              float upper, float damping) {
    Dev.hartCh = ch;
    Dev.hartWrUnits = units;
    Dev.hartWrAddress = address;
    Dev.hartWrFunction = function;
    Dev.hartWrLower = lower;
    Dev.hartWrUpper = upper;
    Dev.hartWrDamping = damping;
  }

  static std::vector<HartNotice>& notices() {
    static std::vector<HartNotice> n;
    return n;
  }
  static void record() {
    notices().push_back({Dev.event, Dev.retCode, Dev.errCode,
                         Dev.errText ? text::cp1251ToUtf8(Dev.errText) : "", Dev.hartProgress, Dev.task,
                         Dev.hartStage});
  }
  static const HartNotice* lastEvent(uint32_t event) {
    for (auto it = notices().rbegin(); it != notices().rend(); ++it)
      if (it->event == event) return &*it;
    return nullptr;
  }
  static bool sawRetCode(uint32_t code) {
    for (const HartNotice& n : notices())
      if (n.retCode == code) return true;
    return false;
  }
  // A result code reported while the task was still running (Meas reports 1 as task 4).
  static bool sawRetCodeInTask(uint32_t code, uint32_t task) {
    for (const HartNotice& n : notices())
      if (n.retCode == code && n.task == task) return true;
    return false;
  }
  static bool sawError(uint32_t code, const std::string& text) {
    for (const HartNotice& n : notices())
      if (n.errCode == code && n.errText == text) return true;
    return false;
  }

  quarnsim::Transmitter& tx(int ch) { return bench->engine.transmitter(ch); }

  std::unique_ptr<TappedBench> bench;
};

}  // namespace quarn::test
