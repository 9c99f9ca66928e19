#include "GraphSamples.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "TDev.h"
#include "quarn/cp1251.h"

namespace arm {

namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// The table's number: fixed-point with 3 decimals and a point whatever the locale; a single blank for
// a gap and beyond +-1e27; no "-0.000".
void appendValue(std::string& out, double value) {
  if (std::isnan(value) || value > 1e27 || value < -1e27) {
    out += ' ';
    return;
  }
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
  std::string_view text(buf, static_cast<std::size_t>(r.ptr - buf));
  if (text == "-0.000") text.remove_prefix(1);
  out += text;
}

}  // namespace

GraphSample GraphSamples::fromRecord(const TDev& dev) {
  GraphSample s;
  s.fill(kNoValue);
  s[kGraphReference] = dev.pRefUnits;
  if (dev.kestoDataValid != 0) {
    for (int k = 0; k < kGraphChannels; ++k) {
      const TMeasCh& ch = dev.ch[k];
      s[graphSeries(kGraphPressure, k)] = static_cast<double>(ch.pFromIKPa) * dev.settings.unitFactor;
      s[graphSeries(kGraphCurrent, k)] = ch.current;
      s[graphSeries(kGraphError, k)] = ch.reducedError;
    }
  }
  return s;
}

bool GraphSamples::isGap(double value) { return std::isnan(value) || value >= 9e25 || value <= -9e25; }

std::string GraphSamples::label(std::size_t index) {
  const std::size_t hundredths = (index % 60) * 100 / 60;
  std::string text = std::to_string(index / 60);
  text += '.';
  text += static_cast<char>('0' + hundredths / 10);
  text += static_cast<char>('0' + hundredths % 10);
  return text;
}

void GraphSamples::append(const GraphSample& sample) {
  for (int i = 0; i < kGraphSeries; ++i) {
    const double v = isGap(sample[i]) ? kNoValue : sample[i];
    values_[i].push_back(v);
    if (std::isnan(v)) continue;
    if (!hasValue_[i]) {
      low_[i] = high_[i] = v;
      hasValue_[i] = true;
    } else {
      if (v < low_[i]) low_[i] = v;
      if (v > high_[i]) high_[i] = v;
    }
  }
}

void GraphSamples::clear() {
  for (auto& series : values_) series.clear();
  hasValue_.fill(false);
}

bool GraphSamples::valueRange(int series, double& low, double& high) const {
  if (!hasValue_[series]) return false;
  low = low_[series];
  high = high_[series];
  return true;
}

std::vector<std::vector<GraphSamples::Point>> GraphSamples::drawnRuns(int series, std::size_t first,
                                                                      std::size_t last,
                                                                      std::size_t maxBuckets) const {
  std::vector<std::vector<Point>> runs;
  const std::vector<double>& v = values_[series];
  if (v.empty() || first >= v.size()) return runs;
  last = std::min(last, v.size() - 1);
  if (last < first) return runs;
  std::size_t bucket = 1;
  while ((last - first + 1) / bucket > std::max<std::size_t>(maxBuckets, 1)) bucket *= 2;

  std::vector<Point>* run = nullptr;
  for (std::size_t start = first / bucket * bucket; start <= last; start += bucket) {
    const std::size_t from = std::max(start, first);
    const std::size_t to = std::min(start + bucket - 1, last);
    std::size_t lowAt = from;
    std::size_t highAt = from;
    bool any = false;
    for (std::size_t j = from; j <= to; ++j) {
      if (std::isnan(v[j])) continue;
      if (!any || v[j] < v[lowAt]) lowAt = j;
      if (!any || v[j] > v[highAt]) highAt = j;
      any = true;
    }
    if (!any) {
      run = nullptr;
      continue;
    }
    if (!run) run = &runs.emplace_back();
    const std::size_t a = std::min(lowAt, highAt);
    const std::size_t b = std::max(lowAt, highAt);
    run->push_back(Point{minutes(a), v[a]});
    if (b != a) run->push_back(Point{minutes(b), v[b]});
  }
  return runs;
}

std::string GraphSamples::table() const {
  std::string out =
      CP1251(" Время\t Эталон\t P1\t P2\t P3\t P4\t I1\t I2\t I3\t I4\t Err1\t Err2\t Err3\t Err4\r\n\r\n");
  out.reserve(out.size() + size() * (8 + kGraphSeries * 10));
  for (std::size_t j = 0; j < size(); ++j) {
    out += label(j);
    out += '\t';
    for (int i = 0; i < kGraphSeries; ++i) {
      appendValue(out, values_[i][j]);
      out += '\t';
    }
    out += "\r\n";
  }
  return out;
}

AxisLimits moveAxis(AxisLimits a, AxisMove move) {
  switch (move) {
    case AxisMove::Back:
      a.min -= (a.max - a.min) * 0.1;
      a.max -= (a.max - a.min) * 0.1;
      break;
    case AxisMove::Forward:
      a.min += (a.max - a.min) * 0.1;
      a.max += (a.max - a.min) * 0.1;
      break;
    case AxisMove::ZoomIn:
      a.min += (a.max - a.min) * 0.1;
      a.max -= (a.max - a.min) * 0.1;
      break;
    case AxisMove::ZoomOut:
      a.min -= (a.max - a.min) * 0.1;
      a.max += (a.max - a.min) * 0.1;
      break;
  }
  return a;
}

}  // namespace arm
