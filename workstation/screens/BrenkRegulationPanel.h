// The Brenk regulation panel embedded in the regulation screen (Frame_regul_brenk1): the setpoint
// entry in the display unit, six step buttons and the switch that turns regulation on and off. Every
// change is written into the record and the measuring cycle is started anew (task 5), whose
// pressure-control step sends it to the calibrator.
#pragma once

#include <QFrame>
#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
struct TDev;

namespace arm {

class LabelPanel;
class WorkstationContext;

class BrenkRegulationPanel : public QFrame {
  Q_OBJECT
 public:
  BrenkRegulationPanel(WorkstationContext& context, QWidget* parent = nullptr);

  // The entry shows the setpoint unless the operator is editing it; the controls work only while
  // the calibrator is linked and its connection is set up.
  void refresh(const TDev& dev);

  // Handlers.
  void SetOnOff_regulClick(QWidget* control);
  void UpDown_Btn_Click(QPushButton* button);
  // Enter in the entry: the typed setpoint is applied and the focus leaves the entry.
  void applyEntry();

  // The entry carries the editing mark (yellow) from the first accepted key until it is applied.
  bool editing() const { return editing_; }
  QLineEdit* entry() const { return edit_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void setEditing(bool editing);

  WorkstationContext& context_;
  QLineEdit* edit_;
  LabelPanel* setOn_;
  LabelPanel* setOff_;
  std::array<QPushButton*, 6> steps_{};
  bool editing_ = false;
};

}  // namespace arm
