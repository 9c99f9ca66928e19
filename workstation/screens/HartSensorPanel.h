// The sensor panel of the HART screen (Frame_Mode_2_3_HART1): the sensor trim of the selected
// transmitters at two reference pressures, P min and P max, with the readiness time and corridor, the
// check of both pressures against each device's range, the stop, and the grid of reduced errors per
// channel while the trim waits at each pressure.
#pragma once

#include <QFrame>
#include <array>

#include "TDev.h"

class QLabel;
class QLineEdit;

namespace arm {

class LabelPanel;
class WorkstationContext;

class HartSensorPanel : public QFrame {
  Q_OBJECT
 public:
  explicit HartSensorPanel(WorkstationContext& context, QWidget* parent = nullptr);

  // At every notification (called by the screen).
  void RefreshFromDev(TDev& dev);
  // A verification started: the buttons that start HART jobs are disabled at once, with `reason` as
  // their tool tip (the refreshes keep them so until the run ends).
  void lockJobs(const QString& reason);
  void ShowGrid(const TDev& dev);

  // Handlers.
  void pnTuneClick();
  void pnCheckStopClick();
  void pn_OnOff_Click(int tag);

 Q_SIGNALS:
  void message(const QString& text);

 private:
  WorkstationContext& context_;
  QLabel* errorInput_;
  QLabel* infoDo_;
  LabelPanel* tune_;
  LabelPanel* stop_;
  QLineEdit* min_;
  QLineEdit* max_;
  QLineEdit* time_;
  QLineEdit* corridor_;
  std::array<LabelPanel*, 4> toggles_{};
  std::array<std::array<QLabel*, 2>, 4> cells_{};
};

}  // namespace arm
