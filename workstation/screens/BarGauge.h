// A bar gauge of the regulation screen: an integer-valued bar with a minimum, a maximum and a value,
// a scale factor (1 or 100) by which pressures in kPa are multiplied before they become gauge values,
// and a background that tells whether its module is in use.
#pragma once

#include <QColor>
#include <QWidget>

namespace arm {

class BarGauge : public QWidget {
 public:
  explicit BarGauge(const QString& objectName, QWidget* parent = nullptr);

  int minimum() const { return minimum_; }
  int maximum() const { return maximum_; }
  int value() const { return value_; }
  int scale() const { return scale_; }
  QColor background() const { return background_; }

  // The range; the value is kept inside it.
  void setRange(int minimum, int maximum);
  // The value, limited to the range.
  void setValue(int value);
  void setScale(int scale) { scale_ = scale; }
  void setBackground(const QColor& colour);
  // The gauge value of a pressure in kPa: pressure x scale, limited to the range, truncated.
  int gaugeValue(double kPa) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int minimum_ = 0;
  int maximum_ = 100;
  int value_ = 0;
  int scale_ = 1;
  QColor background_ = QColor(192, 192, 192);
};

// A pressure limit times a gauge scale as a gauge limit: truncated toward zero, kept within the
// integer range (a transducer may report any float).
int gaugeLimit(double kPa, int scale);

}  // namespace arm
