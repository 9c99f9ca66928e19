// A calibrator with its Kesto module played by a script on a virtual port, for the cases that need
// exact answer texts (error answers, missing fields, particular state words and limits). Each
// answer is the text after '!' up to the checksum: the module's address and the ';'-terminated
// fields. A test replaces single answers; nullopt means no answer.
#pragma once

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "scripted_peer.h"

namespace quarn::test {

inline std::string hexOf(float v) {
  uint32_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  char out[9];
  static const char d[] = "0123456789ABCDEF";
  for (int b = 0; b < 4; ++b) {
    out[2 * b] = d[(bits >> (8 * b + 4)) & 0xF];
    out[2 * b + 1] = d[(bits >> (8 * b)) & 0xF];
  }
  out[8] = 0;
  return out;
}

class ScriptedBench {
 public:
  using Answer = std::optional<std::string>;
  using Rule = std::function<Answer(const UailRequest&)>;

  ScriptedBench(uint32_t portNo, bool quarn)
      : peer_(portNo, [this](const UailRequest& rq) { return answer(rq); }) {
    if (quarn) {
      set(1, 0, "1;105;");
      set(1, 16, "1;0;0;1;0;3;5;0000A040;");
      set(1, 11, "1;2;15;QC;1;1;");
      set(1, 1, "1;0000C842;100.00;99.50;0.05;5;");
      rule(1, 3, [](const UailRequest& rq) -> Answer {
        return "1;" + (rq.data.size() > 0 ? rq.data[0] : "") + ";" + (rq.data.size() > 1 ? rq.data[1] : "") +
               ";";
      });
    } else {
      set(1, 0, "1;84;");
      set(1, 16, "1;1;0;3;1;5;0;0000C842;CDCC4C3D;CDCCCC3D;");
      set(1, 11, "1;3;7;250;");
      set(1, 1, "1;0000C842;0000CA42;");
      set(1, 3, "1;$0;");
    }
    set(1, 9, "1;Q1;01.01.2024;0000BEC2;00401C45;");  // -95 .. 2500 kPa
    for (int type : {2, 4, 8}) set(1, type, "1;$0;");
    rule(1, 17, [this](const UailRequest& rq) -> Answer {
      std::string text;
      for (const auto& f : rq.data) text += f + ";";
      written_ = text;
      set(1, 16, "1;" + text);
      return "1;$0;";
    });
    set(3, 0, "3;3;");
    for (int type : {40, 41, 43, 44}) set(3, type, "3;$0;");
    set(3, 1, "3;5;");
    setCurrents(4, 12, 20, 8);
    setStatusWord(0);
  }

  void set(int addr, int type, Answer a) {
    rules_[{addr, type}] = [a](const UailRequest&) { return a; };
  }
  void rule(int addr, int type, Rule r) { rules_[{addr, type}] = std::move(r); }
  void setCurrents(float a, float b, float c, float d) {
    currents_ = "3;" + hexOf(a) + hexOf(b) + hexOf(c) + hexOf(d) + ";";
  }
  void setStatusWord(uint16_t w) {
    char t[8];
    std::snprintf(t, sizeof t, "%02X%02X", w & 0xFF, w >> 8);
    status_ = std::string("3;") + t + ";";
  }
  void setStatusText(std::string text) { status_ = std::move(text); }
  // Everything silent for the next n requests (n < 0: until told otherwise).
  void silence(int n) { silent_ = n; }

  ScriptedPeer& peer() { return peer_; }
  const std::string& lastWrittenSettings() const { return written_; }

 private:
  Answer answer(const UailRequest& rq) {
    if (silent_ != 0) {
      if (silent_ > 0) --silent_;
      return std::nullopt;
    }
    if (rq.addr == 3 && rq.type == 42) return rq.data.size() == 1 && rq.data[0] == "2" ? status_ : currents_;
    const auto it = rules_.find({rq.addr, rq.type});
    if (it == rules_.end()) return std::to_string(rq.addr) + ";$1;";
    return it->second(rq);
  }

  ScriptedPeer peer_;
  std::map<std::pair<int, int>, Rule> rules_;
  std::string currents_;
  std::string status_;
  std::string written_;
  int silent_ = 0;
};

}  // namespace quarn::test
