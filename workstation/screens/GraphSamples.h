// The graph screen's store of samples, without Qt: one value per second for each of the 13 series
// (reference pressure; each channel's pressure, current and reduced error), the point labels, the
// tab-separated table the screen saves beside its picture, and the arithmetic of the axis buttons.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

struct TDev;

namespace arm {

// The series in the order of the saved table: 0 the reference, 1-4 the channels' pressures,
// 5-8 their currents, 9-12 their reduced errors.
constexpr int kGraphSeries = 13;
constexpr int kGraphChannels = 4;
constexpr int kGraphReference = 0;

// The quantity the switch panels choose.
enum GraphQuantity : int { kGraphPressure = 0, kGraphCurrent = 1, kGraphError = 2 };

// The series of a channel (0..3) for a quantity.
constexpr int graphSeries(GraphQuantity quantity, int channel) { return 1 + 4 * quantity + channel; }

using GraphSample = std::array<double, kGraphSeries>;

class GraphSamples {
 public:
  // What one sampling takes from the record: the reference in the display unit, and while the
  // Kesto data are valid each channel's pressure (display unit), current (mA) and reduced error (%).
  // Channels without valid data are gaps, so that every series keeps one value per sampling and a
  // channel's value stays at the time it was taken.
  static GraphSample fromRecord(const TDev& dev);
  // A value that is drawn as a gap: NaN, or at or beyond +-9e25 (the record's "no value" marks).
  static bool isGap(double value);
  // The label of point `index`: minutes and hundredths of a minute since the series began, "%d.%02d"
  // (point 90 is "1.50").
  static std::string label(std::size_t index);
  // Where point `index` lies on the time axis, in minutes.
  static double minutes(std::size_t index) { return static_cast<double>(index) / 60.0; }

  // Adds one point to every series; gaps are kept as NaN.
  void append(const GraphSample& sample);
  void clear();
  std::size_t size() const { return values_[0].size(); }
  bool empty() const { return size() == 0; }
  // A series' value at a point; NaN for a gap.
  double value(int series, std::size_t index) const { return values_[series][index]; }
  // The smallest and the largest value a series holds; false when it holds none (only gaps).
  bool valueRange(int series, double& low, double& high) const;

  // What is drawn of a series between two points (inclusive): unbroken runs of (minutes, value)
  // points, a gap ending a run. Up to `maxBuckets` points are drawn as they are; more are thinned
  // out: the points are grouped into buckets of a power-of-two size counted from the first point of
  // the series, and each bucket gives its smallest and its largest value in time order (so a spike
  // stays visible); a bucket is a gap only when all its points are gaps. The stored samples are
  // never changed.
  struct Point {
    double minutes;
    double value;
  };
  std::vector<std::vector<Point>> drawnRuns(int series, std::size_t first, std::size_t last,
                                            std::size_t maxBuckets) const;

  // The saved table, as bytes for a file: the header line (Windows-1251) and an empty line, then one
  // row per point: its label and a TAB, then each series' value with 3 decimals and a TAB (a single
  // blank for a gap), every line ended by CR LF.
  std::string table() const;

 private:
  std::array<std::vector<double>, kGraphSeries> values_;
  std::array<double, kGraphSeries> low_{};
  std::array<double, kGraphSeries> high_{};
  std::array<bool, kGraphSeries> hasValue_{};
};

// The axis buttons. Each moves the axis limits by a tenth of the range, the second limit computed
// after the first has moved (so a shift also changes the range by 1 %).
struct AxisLimits {
  double min;
  double max;
};
enum class AxisMove {
  Back,     // "Сдвиг влево", "Сдвиг вниз": both limits down
  Forward,  // "Сдвиг вправо", "Сдвиг вверх": both limits up
  ZoomIn,   // "Увеличить масштаб ...": both limits inwards
  ZoomOut   // "Уменьшить масштаб ...": both limits outwards
};
AxisLimits moveAxis(AxisLimits limits, AxisMove move);

}  // namespace arm
