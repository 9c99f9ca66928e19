// A calibrator with its Kesto module played by a script on a virtual port, for the cases that need
// exact answer texts (error answers, missing fields, particular state words and limits). Each
// answer is the text after '!' up to the checksum: the module's address and the ';'-terminated
// fields. A test replaces single answers; nullopt means no answer.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

  // The Kesto module's data file 1 as a file: open puts the position at 0, a seek sets it, and each
  // read returns the bytes from the position and moves it on past them, whatever the answer's text
  // rule says (a rule for a read replaces only the answer's text). Bytes 16-31 are the currents,
  // 56-57 the status word.
  static constexpr int kFileSize = 64;

  void set(int addr, int type, Answer a) {
    rules_[{addr, type}] = [a](const UailRequest&) { return a; };
  }
  void rule(int addr, int type, Rule r) { rules_[{addr, type}] = std::move(r); }
  void setCurrents(float a, float b, float c, float d) {
    const float v[4] = {a, b, c, d};
    std::memcpy(file_ + 16, v, sizeof v);  // little-endian, as the module stores them
  }
  void setStatusWord(uint16_t w) {
    file_[56] = static_cast<uint8_t>(w & 0xFF);
    file_[57] = static_cast<uint8_t>(w >> 8);
  }
  // The answer to a status read (2 bytes at 56) replaced by this text.
  void setStatusText(std::string text) { statusText_ = std::move(text); }
  // Position and byte count of every data-file read, in order.
  const std::vector<std::pair<int, int>>& fileReads() const { return reads_; }
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
    if (rq.addr == 3 && rq.type == 40) position_ = 0;
    if (rq.addr == 3 && rq.type == 41 && !rq.data.empty()) position_ = std::atoi(rq.data[0].c_str());
    const auto it = rules_.find({rq.addr, rq.type});
    if (rq.addr == 3 && rq.type == 42) {
      const Answer read = fileRead(rq);
      return it == rules_.end() ? read : it->second(rq);  // a rule replaces the file's answer
    }
    if (it == rules_.end()) return std::to_string(rq.addr) + ";$1;";
    return it->second(rq);
  }

  Answer fileRead(const UailRequest& rq) {
    const int count = rq.data.empty() ? 0 : std::atoi(rq.data[0].c_str());
    reads_.emplace_back(position_, count);
    if (count < 0 || count > 32 || position_ < 0 || position_ > kFileSize) return "3;$6;";
    if (!statusText_.empty() && position_ == 56 && count == 2) {
      position_ += count;
      return statusText_;
    }
    static const char d[] = "0123456789ABCDEF";
    std::string hex;
    for (int i = 0; i < count && position_ < kFileSize; ++i, ++position_) {
      hex += d[file_[position_] >> 4];
      hex += d[file_[position_] & 0xF];
    }
    return "3;" + hex + ";";
  }

  ScriptedPeer peer_;
  std::map<std::pair<int, int>, Rule> rules_;
  uint8_t file_[kFileSize] = {};
  int position_ = 0;
  std::vector<std::pair<int, int>> reads_;
  std::string statusText_;
  std::string written_;
  int silent_ = 0;
};

}  // namespace quarn::test
