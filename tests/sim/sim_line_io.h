// Test-side helpers for talking to the simulator's ports in virtual time: a checksum and an answer
// parser of the test's own, so a fault in the simulator's codec cannot hide behind the same fault here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quarnsim/line_port.h"

namespace simtest {

inline uint16_t crc16(const std::string& text) {
  uint16_t crc = 0xFFFF;
  for (unsigned char c : text) {
    for (int bit = 0; bit < 8; ++bit) {
      const bool mix = ((crc ^ (c >> bit)) & 1) != 0;
      crc >>= 1;
      if (mix) crc ^= 0xA001;
    }
  }
  return crc;
}

inline std::vector<uint8_t> request(const std::string& payload) {
  std::string frame = "\xFF:" + payload + std::to_string(crc16(payload)) + "\r";
  return {frame.begin(), frame.end()};
}

struct Answer {
  int address = -1;  // -1: no answer frame arrived
  int error = -1;    // code after "$", 0 when none, -1 when no answer arrived
  bool arrived() const { return address >= 0; }
  std::vector<std::string> fields;  // data fields
  bool checksumOk = false;
};

// Parses one answer frame "!addr;[$code;]fields...;crc\r".
inline std::optional<Answer> parseAnswer(const std::string& bytes) {
  const size_t start = bytes.find('!');
  const size_t end = bytes.find('\r', start == std::string::npos ? 0 : start);
  if (start == std::string::npos || end == std::string::npos) return std::nullopt;
  const std::string frame = bytes.substr(start + 1, end - start - 1);
  const size_t last = frame.rfind(';');
  if (last == std::string::npos) return std::nullopt;
  const std::string body = frame.substr(0, last + 1);
  Answer a;
  a.checksumOk = frame.substr(last + 1) == std::to_string(crc16(body));
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == ';') {
      parts.push_back(body.substr(from, i - from));
      from = i + 1;
    }
  }
  if (parts.empty()) return std::nullopt;
  a.address = std::stoi(parts[0]);
  a.error = 0;
  size_t first = 1;
  if (parts.size() > 1 && !parts[1].empty() && parts[1][0] == '$') {
    a.error = std::stoi(parts[1].substr(1));
    first = 2;
  }
  a.fields.assign(parts.begin() + static_cast<long>(first), parts.end());
  return a;
}

// Little-endian hexadecimal float field -> value.
inline float hexFloat(const std::string& field) {
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i)
    bits |= static_cast<uint32_t>(std::stoul(field.substr(2 * i, 2), nullptr, 16)) << (8 * i);
  float value;
  static_assert(sizeof value == sizeof bits);
  __builtin_memcpy(&value, &bits, sizeof value);
  return value;
}

// A host on one port with its own millisecond clock.
class Host {
 public:
  explicit Host(quarnsim::LinePort& port, uint32_t startMs = 1000) : port_(port), now_(startMs) {
    port_.setLine(9600, 0, 2);
    port_.open(now_);
  }
  uint32_t now() const { return now_; }
  void wait(uint32_t ms) { now_ += ms; }
  void send(const std::vector<uint8_t>& bytes) { port_.write(bytes.data(), bytes.size(), now_); }
  std::string take() {
    std::string out;
    uint8_t buf[256];
    for (int n; (n = port_.read(buf, sizeof buf, now_)) > 0;) out.append(reinterpret_cast<char*>(buf), n);
    return out;
  }
  // Sends a request and collects what arrived after `waitMs`.
  std::string exchangeRaw(const std::string& payload, uint32_t waitMs = 300) {
    take();
    send(request(payload));
    wait(waitMs);
    return take();
  }
  Answer exchange(const std::string& payload, uint32_t waitMs = 300) {
    return parseAnswer(exchangeRaw(payload, waitMs)).value_or(Answer{});
  }
  quarnsim::LinePort& port() { return port_; }

 private:
  quarnsim::LinePort& port_;
  uint32_t now_;
};

}  // namespace simtest
