#include "BarGauge.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace arm {

namespace {
constexpr double kIntLimit = 2.0e9;

int truncated(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int>(std::clamp(v, -kIntLimit, kIntLimit));
}
}  // namespace

int gaugeLimit(double kPa, int scale) { return truncated(kPa * scale); }

BarGauge::BarGauge(const QString& objectName, QWidget* parent) : QWidget(parent) {
  setObjectName(objectName);
}

void BarGauge::setRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
  setValue(value_);
}

void BarGauge::setValue(int value) {
  const int lo = std::min(minimum_, maximum_);
  const int hi = std::max(minimum_, maximum_);
  value_ = std::clamp(value, lo, hi);
  update();
}

void BarGauge::setBackground(const QColor& colour) {
  background_ = colour;
  update();
}

int BarGauge::gaugeValue(double kPa) const {
  if (std::isnan(kPa)) return minimum_;
  const double lo = std::min(minimum_, maximum_);
  const double hi = std::max(minimum_, maximum_);
  return truncated(std::clamp(kPa * scale_, lo, hi));
}

void BarGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect().adjusted(0, 0, -1, -1);
  p.fillRect(r, background_);
  const double span = static_cast<double>(maximum_) - minimum_;
  if (span > 0) {
    const double share = (static_cast<double>(value_) - minimum_) / span;
    const int w = static_cast<int>(std::lround(share * (r.width() - 2)));
    p.fillRect(QRect(r.left() + 1, r.top() + 1, w, r.height() - 1), QColor(0, 90, 200));
  }
  p.setPen(QColor(60, 60, 60));
  p.drawRect(r);
}

}  // namespace arm
