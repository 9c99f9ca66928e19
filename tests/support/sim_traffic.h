// The simulator's traffic log (quarn-sim --log FILE) read back: one frame a line,
//   "   1.234 calibrator host: \xFF:1;1;30721\r"    what the host sent
//   "   1.301 calibrator sim:  !1;0000C842;...\r"   what the simulator answered
// For tests of a host's last words to the calibrator.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace simtraffic {

struct Frame {
  std::string line;  // "calibrator" or "dorv"
  bool fromHost = false;
  std::string bytes;  // as logged (\xHH, \r)
};

inline std::vector<Frame> read(const std::string& path) {
  std::vector<Frame> out;
  std::ifstream f(path);
  for (std::string text; std::getline(f, text);) {
    std::istringstream words(text);
    std::string seconds, line, who;
    if (!(words >> seconds >> line >> who)) continue;
    Frame frame{line, who == "host:", {}};
    std::getline(words >> std::ws, frame.bytes);
    out.push_back(frame);
  }
  return out;
}

// The host's last words on the calibrator's line: after measuring (requests "1;1;"), a request to
// leave remote operation ("1;8;0;") that the simulator answered. "" when so, else what is missing.
inline std::string remoteOffAfterMeasuring(const std::vector<Frame>& frames) {
  int measuring = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    const Frame& f = frames[i];
    if (f.line != "calibrator" || !f.fromHost) continue;
    if (f.bytes.find(":1;1;") != std::string::npos) ++measuring;
    if (f.bytes.find(":1;8;0;") == std::string::npos) continue;
    if (measuring == 0) return "remote operation was switched off before any measuring";
    for (size_t k = i + 1; k < frames.size(); ++k)
      if (frames[k].line == "calibrator" && !frames[k].fromHost) return "";
    return "the request to leave remote operation was not answered";
  }
  return measuring == 0 ? "no measuring request reached the simulator"
                        : "no request to leave remote operation after " + std::to_string(measuring) +
                              " measuring requests";
}

}  // namespace simtraffic
