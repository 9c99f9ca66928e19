// The regulation screen (mode "Измерение давления", Frame_Mode_1_Reg1): the reference pressure in
// large digits with its type and unit, the speed of pressure change, the barometer, the bar gauges of
// the calibrator's two pressure modules and, for the Brenk, the regulation panel. Everything comes
// from the record at the notifications; the screen has no timer.
#pragma once

#include "Screen.h"

class QGroupBox;
class QLabel;

namespace arm {

class BarGauge;
class BrenkRegulationPanel;

class RegulationScreen : public Screen {
  Q_OBJECT
 public:
  explicit RegulationScreen(WorkstationContext& context, QWidget* parent = nullptr);

  void refresh(TDev& dev) override;
  void afterBinding(TDev& dev) override;

  // The gauges' ranges from the model record (settings read, Dorv found, external reference
  // switched off); nothing while no model record is loaded.
  void setupGauges(const TDev& dev);
  // The gauges' values for a new measurement.
  void updateGauges(const TDev& dev);

  BrenkRegulationPanel* brenkPanel() const { return brenk_; }
  BarGauge* gaugeHigh() const { return gHi_; }
  BarGauge* gaugeLow() const { return gLow_; }

  // Colours of the reference display and of the gauges.
  static QColor inCorridorColour() { return QColor(0, 255, 0); }  // lime
  static QColor nearColour() { return QColor(0, 255, 255); }      // aqua
  static QColor outsideColour() { return QColor(255, 255, 0); }   // yellow
  static QColor activeGauge() { return QColor(255, 255, 255); }   // white
  static QColor idleGauge() { return QColor(192, 192, 192); }     // silver

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void layoutGauges();
  void setDisplayColour(const QColor& colour);

  QLabel* pressMode_;
  QLabel* pressUnit_;
  QLabel* pEtl_;
  QGroupBox* speedBox_;
  QLabel* speed_;
  QGroupBox* baroBox_;
  QLabel* baro_;
  QWidget* gaugePanel_;
  BarGauge* gHi_;
  BarGauge* gLow_;
  QLabel* labMin_;
  QLabel* labHi_;
  QLabel* labMinLow_;
  QLabel* labLow_;
  QLabel* arrLow_;
  QLabel* arrHi_;
  QLabel* markHi_;
  QLabel* markLow_;
  BrenkRegulationPanel* brenk_;

  // Where gLow lies under gHi, as shares of gHi's width; without gHi it takes gHi's place.
  bool lowUnderHigh_ = true;
  double lowLeft_ = 0;
  double lowWidth_ = 1;
  // lab_gMinLow is shown for the second module's range when its left end has room, or always when
  // only the second module is used.
  bool lowOnly_ = false;
};

}  // namespace arm
