// Progress for people on stderr. On a terminal one line is rewritten in place (what is going on, a
// bar, the time left where it is known); when stderr is a file or a pipe, plain lines are written
// instead: one whenever the stage changes and at most one a second while it stays.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace cli {

class ProgressLine {
 public:
  // `terminal` < 0: decide by whether `out` is a terminal.
  explicit ProgressLine(std::FILE* out = stderr, int terminal = -1);
  ~ProgressLine() { finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // `stage` names where the job stands ("point 2 of 5"); `detail` the rest of the line. `fraction`
  // in 0..1 draws the bar (none when negative); `secondsLeft` >= 0 is shown as the time left.
  void show(const std::string& stage, const std::string& detail, double fraction = -1,
            double secondsLeft = -1);
  // Ends the line on a terminal, so that what is printed next starts on a line of its own.
  void finish();
  bool terminal() const { return terminal_; }
  // The millisecond tick that paces the lines (the system's monotonic clock unless set): the
  // session's, so a run in virtual time prints the lines that its time would show.
  void setClock(std::function<uint32_t()> nowMs) { nowMs_ = std::move(nowMs); }

  // The parts of a line, for the terminal form.
  static std::string bar(double fraction, int width);
  static std::string duration(double seconds);

 private:
  std::FILE* out_;
  bool terminal_;
  bool open_ = false;  // a terminal line is shown and not yet ended
  std::string lastStage_;
  std::string lastText_;
  std::function<uint32_t()> nowMs_;
  uint32_t lastPrintMs_ = 0;
  bool printed_ = false;
};

}  // namespace cli
