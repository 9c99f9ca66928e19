// The verification screen (Frame_Mode_4_Pov1, mode "Измерения и поверка ДД"): starts and stops a
// verification (task 21, back to measuring with task 4) or, in relay mode, a relay check; shows the
// reference with its bar, the four channels, the progress and the recorded results; takes the
// reference by hand and records points with "Добавить в протокол"; deletes records; hands the
// results to the protocol export ("в Excel"). Everything it shows comes from the record at the
// library's notifications; the screen has no timer.
#pragma once

#include <QWidget>
#include <array>

#include "RunControl.h"
#include "Screen.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTableWidget;

namespace arm {

class CalibrationPanel;
class LabelPanel;
class ProtocolExporter;

// The reference bar pbEtl: a green strip in the middle stands for the setpoint's ready band, a marker
// for the reference pressure (blue inside the band, red at the end it has left by).
class ReferenceBar : public QWidget {
 public:
  struct Marker {
    bool shown = false;   // no marker for a pressure that is not a number
    bool inside = false;  // strictly inside the band (blue); otherwise red at an end
    int x = 0;            // centre of the marker, pixels from the left
  };
  // The marker of `pRef` on a bar `width` pixels wide showing target - halfBand .. target + halfBand.
  static Marker marker(int width, double pRef, double target, double halfBand);

  explicit ReferenceBar(QWidget* parent = nullptr);
  void setValues(double pRef, double target, double halfBand);
  Marker marker() const { return marker(width(), pRef_, target_, halfBand_); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double pRef_ = 0;
  double target_ = 0;
  double halfBand_ = 0;
};

class VerificationScreen : public Screen {
  Q_OBJECT
 public:
  // At most this many records (the record's result table); "Добавить в протокол" refuses more.
  static constexpr int kMaxRecords = quarn::data::kProtocolRecordsMax;
  // Colours of the channel table and the reference display.
  static QColor goodColour() { return QColor(0, 150, 0); }
  static QColor badColour() { return QColor(220, 0, 0); }
  static QColor readyBackground() { return QColor(240, 244, 250); }
  static QColor waitBackground() { return QColor(255, 255, 0); }

  explicit VerificationScreen(WorkstationContext& context, QWidget* parent = nullptr);

  // ---- Operations (the buttons) -----------------------------------------------------------------
  // "ПУСК": prepares the record from the parameters screen's point set and starts the run. False
  // when it may not start (the hint says why) or there is no switched-on point.
  bool startRun();
  // "СТОП", also at the end of a run: back to measuring (task 4), the screen idle.
  void stopRun();
  // Starts a run once "ПУСК" can be used with the calibrator linked and the Kesto data in (for
  // pictures without an operator).
  void startWhenPossible() { startPending_ = true; }
  // pm_mode_Check / pm_mode_Relay; ignored while running.
  void setRelayMode(bool relay);
  // pm_mode_Calib "Калибровка с подстройкой": "ПУСК" runs the calibration sequence (as-found run,
  // HART trims of the devices that need them, as-left run); ignored while running.
  void setCalibrationMode(bool on);
  bool calibrationMode() const { return calibMode_; }
  CalibrationPanel* calibration() const { return calib_; }
  // cbHandInput's handler: handInput and the entry follow the check box.
  void handInputChanged();
  // "Добавить в протокол": records the current values; false (and the operator is told) when all
  // records are used.
  bool addToReport();
  // "Удалить запись" (the selected row) and "Удалить всё".
  void deleteSelected();
  void deleteAll();

  bool running() const { return running_; }
  bool relayMode() const { return relayMode_; }
  QTableWidget* results() const { return results_; }
  ReferenceBar* referenceBar() const { return bar_; }
  ProtocolExporter* exporter() const { return exporter_; }

  // ---- Hooks ------------------------------------------------------------------------------------
  void refresh(TDev& dev) override;
  void afterBinding(TDev& dev) override;

 Q_SIGNALS:
  // A text was shown in the message window (the end of a run, a refusal).
  void messageShown(const QString& text);

 private:
  QWidget* buildTop();
  QWidget* buildChannelTable();
  QWidget* buildRelayPanel();
  QWidget* buildResults();
  void showMessage(const QString& text);
  void paintModeButtons();
  void setButtonEnabled(LabelPanel* button, bool enabled);
  void updateDeleteButtons();
  // The results list from the valid records of the run (of the record before the first run), when
  // their number differs from the rows.
  void syncResults(const TDev& live);
  const TDev& shownRecord(const TDev& live) const;
  // While running: the run's snapshot takes the results from the record.
  void followRun();
  void writeRow(int row, int record, const TDev& dev);
  void refreshInputHint(const TDev& dev);
  void refreshStartPermission(const TDev& dev);
  void refreshRelayResults(const TDev& dev);
  void refreshChannels(const TDev& dev);
  void refreshTimeLeft(const TDev& dev);
  void refreshReference(TDev& dev);
  void refreshBar(const TDev& dev);
  void checkRunEnd(const TDev& dev);
  // The screen back to idle (everything "СТОП" does but the task).
  void becomeIdle();
  // Locked as for a run while the calibration panel runs its sequence or its exit after a reconnect.
  void lockForCalibration();
  TDev* record() const;

  bool running_ = false;
  bool startPending_ = false;
  bool relayMode_ = false;
  bool calibMode_ = false;
  int progressMax_ = 0;

  LabelPanel* start_ = nullptr;  // Panel_StartPov
  LabelPanel* stop_ = nullptr;   // Panel_StopPov
  LabelPanel* modeCheck_ = nullptr;
  LabelPanel* modeRelay_ = nullptr;
  LabelPanel* modeCalib_ = nullptr;  // pm_mode_Calib
  CalibrationPanel* calib_ = nullptr;
  QCheckBox* handInput_ = nullptr;
  QLineEdit* handValue_ = nullptr;  // ed_EtlHand
  LabelPanel* addToReport_ = nullptr;
  QLabel* refCaption_ = nullptr;       // Label_Tdev
  QLabel* refValue_ = nullptr;         // lab_Etl
  QLabel* setpointCaption_ = nullptr;  // lbUstCaption
  QLabel* setpoint_ = nullptr;         // lab_setPointValue
  ReferenceBar* bar_ = nullptr;        // pbEtl
  QLabel* info_ = nullptr;             // lbInfo
  QLabel* hint_ = nullptr;             // lab_Hint
  QProgressBar* progress_ = nullptr;   // ProgressBar1
  QLabel* currentHeading_ = nullptr;   // Label9

  struct ChannelRow {
    QLabel* on = nullptr;
    QLabel* current = nullptr;
    QLabel* pressure = nullptr;
    QLabel* timeLeft = nullptr;
    QLabel* error = nullptr;
    std::array<QLabel*, 2> relay{};
  };
  std::array<ChannelRow, 4> channels_{};

  QWidget* relayPanel_ = nullptr;  // Panel_Pov_Relay
  std::array<QLabel*, 4> relayPressure_{};
  struct RelayLabels {
    QLabel* state = nullptr;
    QLabel* pOn = nullptr;   // lr_Pmax_
    QLabel* pOff = nullptr;  // lr_Pmin_
  };
  std::array<RelayLabels, 8> relayLabels_{};  // index 2 x channel + relay, as the record's

  QTableWidget* results_ = nullptr;  // lvRes
  LabelPanel* deleteOne_ = nullptr;  // pn_Del_1
  LabelPanel* deleteAll_ = nullptr;  // pn_Del_All
  LabelPanel* toExcel_ = nullptr;    // pn_ToExcell
  ProtocolExporter* exporter_ = nullptr;
};

}  // namespace arm
