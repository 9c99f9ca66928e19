// A scripted device on a virtual port: it takes the library's UAIL request frames, hands each to a
// script that returns the answer's text (address, fields, ';'-terminated) or nothing, and puts the
// framed answer on the line after a turnaround. Every request is recorded for the test to inspect.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/quarn_host.h"
#include "uail/uail.h"

namespace quarn::test {

struct UailRequest {
  int addr = -1;
  int type = -1;
  std::vector<std::string> data;  // the data fields
  std::string payload;            // "addr;type;data;"
  uint32_t atMs = 0;
};

class ScriptedPeer {
 public:
  using Script = std::function<std::optional<std::string>(const UailRequest&)>;

  ScriptedPeer(uint32_t portNo, Script script) : portNo_(portNo), script_(std::move(script)) {
    const quarn_vport_ops ops{this,
                              &ScriptedPeer::openThunk,
                              &ScriptedPeer::closeThunk,
                              &ScriptedPeer::setLineThunk,
                              &ScriptedPeer::writeThunk,
                              &ScriptedPeer::availableThunk,
                              &ScriptedPeer::readThunk,
                              &ScriptedPeer::purgeThunk};
    quarn_port_register_virtual(portNo_, &ops);
  }
  ~ScriptedPeer() { quarn_port_unregister(portNo_); }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // A framed answer: '!' + text + CRC of the text in decimal + CR.
  static std::string frame(const std::string& text) {
    return "!" + text + std::to_string(CalcMemCRC(text.data(), static_cast<uint16_t>(text.size())) & 0xFFFF) +
           "\r";
  }

  void setScript(Script script) { script_ = std::move(script); }
  void setTurnaround(uint32_t ms) { turnaroundMs_ = ms; }
  // Turnaround chosen per request (overrides setTurnaround while set).
  void setDelay(std::function<uint32_t(const UailRequest&)> delay) { delay_ = std::move(delay); }
  // Answers for which this returns true go out with a wrong checksum (damaged on the line).
  void setDamage(std::function<bool(const UailRequest&)> damage) { damage_ = std::move(damage); }
  // Unplugged: opening fails and an open port reports the device gone.
  void setPresent(bool present) { present_ = present; }
  // Extra bytes put on the line at once (noise).
  void inject(const std::string& bytes, uint32_t nowMs) {
    for (char c : bytes) out_.push_back({static_cast<uint8_t>(c), nowMs});
  }

  const std::vector<UailRequest>& requests() const { return requests_; }
  std::vector<UailRequest> requestsOfType(int type) const {
    std::vector<UailRequest> r;
    for (const auto& q : requests_)
      if (q.type == type) r.push_back(q);
    return r;
  }
  void clearRequests() { requests_.clear(); }
  bool isOpen() const { return open_; }
  uint32_t baud() const { return baud_; }
  int opens() const { return opens_; }

 private:
  struct OutByte {
    uint8_t byte;
    uint32_t dueMs;
  };

  static bool reached(uint32_t now, uint32_t due) { return static_cast<int32_t>(now - due) >= 0; }

  void onRequest(const std::string& frameText, uint32_t now) {
    // frameText: payload + CRC digits (after ':' up to CR).
    const auto lastSep = frameText.rfind(';');
    if (lastSep == std::string::npos) return;
    UailRequest rq;
    rq.payload = frameText.substr(0, lastSep + 1);
    rq.atMs = now;
    std::vector<std::string> fields;
    std::string cur;
    for (char c : rq.payload) {
      if (c == ';') {
        fields.push_back(cur);
        cur.clear();
      } else {
        cur += c;
      }
    }
    if (fields.size() < 2) return;
    rq.addr = std::atoi(fields[0].c_str());
    rq.type = std::atoi(fields[1].c_str());
    rq.data.assign(fields.begin() + 2, fields.end());
    requests_.push_back(rq);
    if (!script_) return;
    if (const auto answer = script_(rq)) {
      std::string bytes = frame(*answer);
      if (damage_ && damage_(rq)) bytes[bytes.size() - 2] = bytes[bytes.size() - 2] == '0' ? '1' : '0';
      const uint32_t due = now + (delay_ ? delay_(rq) : turnaroundMs_);
      for (char c : bytes) out_.push_back({static_cast<uint8_t>(c), due});
    }
  }

  int write(const uint8_t* data, uint32_t n, uint32_t now) {
    if (!present_) return -1;
    for (uint32_t i = 0; i < n; ++i) {
      const char c = static_cast<char>(data[i]);
      if (c == ':') {
        inFrame_ = true;
        rx_.clear();
      } else if (c == '\r') {
        if (inFrame_) onRequest(rx_, now);
        inFrame_ = false;
      } else if (inFrame_) {
        rx_ += c;
      }
    }
    return static_cast<int>(n);
  }
  int available(uint32_t now) const {
    if (!present_) return -1;
    int n = 0;
    for (const auto& b : out_)
      if (reached(now, b.dueMs)) ++n;
    return n;
  }
  int read(uint8_t* buf, uint32_t max, uint32_t now) {
    if (!present_) return -1;
    uint32_t n = 0;
    while (n < max && !out_.empty() && reached(now, out_.front().dueMs)) {
      buf[n++] = out_.front().byte;
      out_.pop_front();
    }
    return static_cast<int>(n);
  }

  static int openThunk(void* ctx) {
    auto* self = static_cast<ScriptedPeer*>(ctx);
    if (!self->present_) return -1;
    self->open_ = true;
    ++self->opens_;
    return 0;
  }
  static void closeThunk(void* ctx) {
    auto* self = static_cast<ScriptedPeer*>(ctx);
    self->open_ = false;
    self->out_.clear();
  }
  static void setLineThunk(void* ctx, uint32_t baud, int, int) {
    static_cast<ScriptedPeer*>(ctx)->baud_ = baud;
  }
  static int writeThunk(void* ctx, const uint8_t* d, uint32_t n, uint32_t now) {
    return static_cast<ScriptedPeer*>(ctx)->write(d, n, now);
  }
  static int availableThunk(void* ctx, uint32_t now) {
    return static_cast<ScriptedPeer*>(ctx)->available(now);
  }
  static int readThunk(void* ctx, uint8_t* b, uint32_t m, uint32_t now) {
    return static_cast<ScriptedPeer*>(ctx)->read(b, m, now);
  }
  static void purgeThunk(void* ctx) { static_cast<ScriptedPeer*>(ctx)->out_.clear(); }

  uint32_t portNo_;
  Script script_;
  std::function<uint32_t(const UailRequest&)> delay_;
  std::function<bool(const UailRequest&)> damage_;
  uint32_t turnaroundMs_ = 30;
  bool present_ = true;
  bool open_ = false;
  int opens_ = 0;
  uint32_t baud_ = 0;
  bool inFrame_ = false;
  std::string rx_;
  std::deque<OutByte> out_;
  std::vector<UailRequest> requests_;
};

}  // namespace quarn::test
