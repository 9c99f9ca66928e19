// The device panel of the HART screen (Frame_Mode_2_1_HART1): the search over the four channels
// with its progress, the channel selectors, the data of the selected transmitter and the operations
// on it (write the configuration, reset, zero, restore the manufacturer's settings), and the
// warnings about devices whose current output is off or not 4-20 mA.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

#include "TDev.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;

namespace arm {

class LabelPanel;
class WorkstationContext;

class HartDevicePanel : public QFrame {
  Q_OBJECT
 public:
  // The units list: its entries in order and the HART units code of each.
  static constexpr int kUnitCount = 8;
  static constexpr std::array<uint8_t, kUnitCount> kUnitCodes = {12, 237, 7, 10, 176, 239, 5, 175};
  // The list index of a HART units code; -1 for a code the list does not have.
  static int unitIndex(int code);

  explicit HartDevicePanel(WorkstationContext& context, QWidget* parent = nullptr);

  // At every notification (called by the screen).
  void RefreshFromDev(TDev& dev);
  // A verification started: the buttons that start HART jobs are disabled at once, with `reason` as
  // their tool tip (the refreshes keep them so until the run ends).
  void lockJobs(const QString& reason);

  void ShowDevice(const THartDev& device);
  void ClearDevice();
  // Starts the search (start) or stops it (back to measuring).
  void StartStopSearch(bool start);
  void ShowSearchProgress(const TDev& dev);
  void WriteParamsToDev(TDev& dev);

  // Handlers.
  void pnHartSearchClick();
  void Sel_Ch_Click(int tag);
  void pnHartWriteClick();
  void pnHartResetClick();
  void pnSet_0Click();
  void btn_Recovery();

  // The channel shown, 0-3; -1 at creation and after every search start.
  int selCh() const { return selCh_; }
  // "Начать поиск ".
  LabelPanel* searchButton() const { return search_; }
  // "Быстрый поиск HART".
  QCheckBox* fastSearchBox() const { return fastSearch_; }

 Q_SIGNALS:
  // A text for the message window.
  void message(const QString& text);

 private:
  struct ShownValue {
    QString text;  // as the field was filled
    float value = 0;
  };

  QLineEdit* addField(const QString& name, const QString& caption, int row, int column, int span = 1);
  QComboBox* addList(const QString& name, const QString& caption, int row, int column);
  void warningScan(const TDev& dev);
  void colourSelectors(int selected);
  // The value of an edit box for the device: the device's own value while the field still shows
  // what ShowDevice put there (its text is rounded), else the typed text (0 when it does not scan).
  float editedValue(const QLineEdit* edit, const ShownValue& shown) const;

  WorkstationContext& context_;
  int32_t selCh_ = -1;
  // The channel tasks 11 and 12 work on. Their argument points here rather than at selCh: the
  // channel selectors stay usable while the task runs, and the zero's result must name the device
  // the zero was made on.
  int32_t taskCh_ = -1;

  QGridLayout* fields_ = nullptr;
  std::array<LabelPanel*, 4> selectors_{};
  std::array<QLabel*, 4> stateOn_{};
  std::array<QLabel*, 4> state_{};
  std::array<QLabel*, 4> badAdr_{};
  QLabel* attentionAdr_;
  QLabel* attentionI_;
  QLabel* rec_;
  LabelPanel* search_;
  LabelPanel* stopSearch_;
  QCheckBox* fastSearch_;
  QLineEdit* devName_;
  QComboBox* adr_;
  QLineEdit* sensDiap_;
  QLineEdit* sensSpan_;
  QLineEdit* diapMin_;
  QLineEdit* diapMax_;
  QComboBox* units_;
  QLineEdit* sn_;
  QLineEdit* date_;
  QLineEdit* dempf_;
  QComboBox* fn_;
  LabelPanel* write_;
  LabelPanel* reset_;
  LabelPanel* set0_;
  LabelPanel* repair_;

  // What ShowDevice showed: the range and damping texts with the device's values, its units and
  // transfer function codes.
  ShownValue shownLower_;
  ShownValue shownUpper_;
  ShownValue shownDamping_;
  int shownUnits_ = -1;
  int shownFunction_ = -1;
};

}  // namespace arm
