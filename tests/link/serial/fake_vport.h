// An in-process peer for the serial layer's virtual ports: records what the library does to it and
// hands back bytes a test queues (or a responder produces).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/quarn_host.h"

namespace quarn::test {

struct LineCall {
  uint32_t baud;
  int parity;
  int stopBits;
  bool operator==(const LineCall&) const = default;
};

class FakePeer {
 public:
  // Behaviour.
  bool refuseOpen = false;
  bool gone = false;
  uint32_t takePerWrite = UINT32_MAX;  // bytes the peer accepts per write call
  // Called with every byte block the peer takes (e.g. to queue an answer).
  std::function<void(FakePeer&, const std::string&)> onWrite;

  // What happened.
  int opens = 0;
  int closes = 0;
  int purges = 0;
  int callsAfterClose = 0;
  std::vector<LineCall> lines;
  std::string received;       // bytes the library sent
  std::deque<uint8_t> inbox;  // bytes waiting for the library

  void queue(const std::string& bytes) { inbox.insert(inbox.end(), bytes.begin(), bytes.end()); }

  quarn_vport_ops ops() {
    quarn_vport_ops o{};
    o.ctx = this;
    o.open = [](void* c) {
      auto* p = self(c);
      if (p->refuseOpen) return -1;
      ++p->opens;
      p->open_ = true;
      return 0;
    };
    o.close = [](void* c) {
      ++self(c)->closes;
      self(c)->open_ = false;
    };
    o.set_line = [](void* c, uint32_t baud, int parity, int stop) {
      self(c)->touch();
      self(c)->lines.push_back({baud, parity, stop});
    };
    o.write = [](void* c, const uint8_t* data, uint32_t n, uint32_t) -> int {
      auto* p = self(c);
      p->touch();
      if (p->gone) return -1;
      const uint32_t take = n < p->takePerWrite ? n : p->takePerWrite;
      const std::string block(reinterpret_cast<const char*>(data), take);
      p->received += block;
      if (p->onWrite && take > 0) p->onWrite(*p, block);
      return static_cast<int>(take);
    };
    o.available = [](void* c, uint32_t) -> int {
      auto* p = self(c);
      p->touch();
      return p->gone ? -1 : static_cast<int>(p->inbox.size());
    };
    o.read = [](void* c, uint8_t* buf, uint32_t max, uint32_t) -> int {
      auto* p = self(c);
      p->touch();
      if (p->gone) return -1;
      uint32_t n = 0;
      while (n < max && !p->inbox.empty()) {
        buf[n++] = p->inbox.front();
        p->inbox.pop_front();
      }
      return static_cast<int>(n);
    };
    o.purge = [](void* c) {
      auto* p = self(c);
      p->touch();
      ++p->purges;
      p->inbox.clear();
    };
    return o;
  }

 private:
  static FakePeer* self(void* c) { return static_cast<FakePeer*>(c); }
  void touch() {
    if (!open_) ++callsAfterClose;
  }
  bool open_ = false;
};

// Registers a peer under a port number for the object's lifetime.
class FakeVport {
 public:
  FakeVport(uint32_t portNo, FakePeer& peer) : portNo_(portNo) {
    const quarn_vport_ops o = peer.ops();
    quarn_port_register_virtual(portNo, &o);
  }
  ~FakeVport() { quarn_port_unregister(portNo_); }
  FakeVport(const FakeVport&) = delete;
  FakeVport& operator=(const FakeVport&) = delete;

 private:
  uint32_t portNo_;
};

}  // namespace quarn::test
