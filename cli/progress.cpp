#include "progress.h"

#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cmath>

namespace cli {

namespace {

// Columns of the terminal behind the stream; 80 when it does not say.
int terminalColumns(std::FILE* out) {
  winsize ws{};
  if (ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20) return ws.ws_col;
  return 80;
}

// Cuts UTF-8 text to `columns` characters (one column per code point): a line longer than the
// terminal would wrap, and the carriage return would then rewrite only its last part.
std::string cutToColumns(const std::string& s, int columns) {
  int count = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (++count > columns) return s.substr(0, i);
  }
  return s;
}

uint32_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* out, int terminal)
    : out_(out), terminal_(terminal < 0 ? isatty(fileno(out)) != 0 : terminal != 0) {}

std::string ProgressLine::bar(double fraction, int width) {
  const double f = std::isfinite(fraction) ? std::fmin(std::fmax(fraction, 0.0), 1.0) : 0.0;
  const int filled = static_cast<int>(std::lround(f * width));
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(width - filled), '.') + "]";
}

std::string ProgressLine::duration(double seconds) {
  const long s = std::isfinite(seconds) && seconds > 0 ? std::lround(std::ceil(seconds)) : 0;
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s / 60 % 60) + " min";
}

void ProgressLine::show(const std::string& stage, const std::string& detail, double fraction,
                        double secondsLeft) {
  std::string text;
  if (terminal_) {
    text = stage;
    if (fraction >= 0)
      text += " " + bar(fraction, 20) + " " + std::to_string(std::lround(fraction * 100)) + "%";
    if (secondsLeft >= 0) text += "  " + duration(secondsLeft) + " left";
    if (!detail.empty()) text += "  " + detail;
  } else {
    text = detail.empty() ? stage : stage + "  " + detail;
  }
  const uint32_t now = nowMs_ ? nowMs_() : monotonicMs();
  const bool newStage = stage != lastStage_;
  if (!newStage && text == lastText_) return;
  const uint32_t minGapMs = terminal_ ? 100 : 1000;
  if (!newStage && printed_ && static_cast<uint32_t>(now - lastPrintMs_) < minGapMs) return;
  lastStage_ = stage;
  lastText_ = text;
  lastPrintMs_ = now;
  printed_ = true;

  if (terminal_) {
    // Carriage return, the line, then clear what an earlier, longer line left behind.
    std::fprintf(out_, "\r%s\033[K", cutToColumns(text, terminalColumns(out_) - 1).c_str());
    open_ = true;
  } else {
    std::fprintf(out_, "%s\n", text.c_str());
  }
  std::fflush(out_);
}

void ProgressLine::finish() {
  if (!open_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  open_ = false;
}

}  // namespace cli
