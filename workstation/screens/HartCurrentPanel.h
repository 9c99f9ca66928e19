// The current-output panel of the HART screen (Frame_Mode_2_2_HART1): the check of the transmitters'
// analog outputs at 4, 12 and 20 mA and their trim, the stop that brings them out of fixed-current
// mode, and the grid of deviations per channel with the stage being worked on highlighted.
#pragma once

#include <QFrame>
#include <array>

#include "TDev.h"

class QLabel;

namespace arm {

class LabelPanel;
class WorkstationContext;

class HartCurrentPanel : public QFrame {
  Q_OBJECT
 public:
  explicit HartCurrentPanel(WorkstationContext& context, QWidget* parent = nullptr);

  // At every notification (called by the screen).
  void RefreshFromDev(TDev& dev);
  // A verification started: the buttons that start HART jobs are disabled at once, with `reason` as
  // their tool tip (the refreshes keep them so until the run ends).
  void lockJobs(const QString& reason);
  void ShowGrid(const TDev& dev);
  // Refuses a check or trim with a message: no channel switched on, or a selected device whose
  // current output is off (polling address not 0).
  bool CheckPreconditions(const TDev& dev);

  // Handlers.
  void pnCheckClick();
  void pnTuneClick();
  void pnCheckStopClick();
  void OnOff_Ch_Click(int tag);

  // The "Подстроить" button and its caption label (Label2, which the screen forwards).
  LabelPanel* tuneButton() const { return tune_; }

 Q_SIGNALS:
  void message(const QString& text);
  // The caption label of "Подстроить" was clicked.
  void tuneLabelClicked();

 private:
  void start(uint32_t task);
  void clearInfo();

  WorkstationContext& context_;
  QLabel* infoCh_;
  QLabel* infoDo_;
  LabelPanel* check_;
  LabelPanel* tune_;
  LabelPanel* stop_;
  std::array<QLabel*, 3> header_{};
  std::array<LabelPanel*, 4> toggles_{};
  std::array<std::array<QLabel*, 3>, 4> cells_{};
};

}  // namespace arm
