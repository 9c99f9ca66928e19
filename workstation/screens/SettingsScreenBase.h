// What the Quarn's and the Brenk's settings screens share: the read, write and zero-adjustment
// panels with the zero timer and its hint, the line about the external Dorv transducer, the
// setpoint limits, and the bookkeeping of a read or write in progress. Each screen builds its own
// controls and says how they are copied into the record and when the vent allows a zero adjustment.
#pragma once

#include "Screen.h"
#include "TDev.h"
#include "TDevValues.h"

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QTimer;

namespace arm {

class LabelPanel;
struct TModelRec;

class SettingsScreenBase : public Screen {
  Q_OBJECT
 public:
  // The calibrator gets this long to adjust its zero before the operator is told it is done.
  static constexpr int kZeroAdjustMs = 13000;
  static constexpr int32_t kDorvReference = REF_SOURCE_EXTERNAL;

  // ---- Handlers -----------------------------------------------------------------------------------
  // "Считать": only with a link; the controls empty until the settings-read notification.
  void Panel_ReadClick();
  // "Записать": only with a link; the controls go into the record's settings and task 8 starts.
  void Panel_SetClick();
  // "Подстройка нуля": task 18, and the timer that reports the end.
  void Panel_ZeroKDClick();
  void Timer_ZeroKDTimer();
  // An operator's change in a combo box or edit.
  void cbS_Change();

  // ---- Controls -----------------------------------------------------------------------------------
  LabelPanel* readButton() const { return read_; }
  LabelPanel* writeButton() const { return write_; }
  LabelPanel* zeroButton() const { return zero_; }
  QLabel* zeroHint() const { return zeroHint_; }
  QTimer* zeroTimer() const { return zeroTimer_; }
  QLineEdit* dorvLine() const { return dorvLine_; }

  // The corridor text as a percentage: false when it does not start with a number, or the number
  // is not finite or below 0. Text after the number is ignored, as the edit boxes' scan does.
  static bool corridorValue(const QString& text, float& value);
  // The line about the Dorv: its range, kind and serial number, " Неактивен" when absent, empty
  // without a link.
  static QString dorvLineText(const TDev& dev);
  // The upper limit of sub-range `index` (0-based) of module 1 or 2 for the pressure type (absolute
  // limits for type 0, gauge limits otherwise); 0 outside the table.
  static float moduleLimit(const TModelRec& model, int module, int index, int32_t pressType);
  // The setpoint limits the pressure control applies: the Dorv's upper range limit when it is the
  // reference, otherwise the first sub-range of the module chosen; the lower limit -100 kPa, or
  // minus the upper one for ranges up to 100 kPa. Without a model record, or when the catalogue has
  // no limit for the module (0), the limits stay as the calibrator reported them.
  static void setSetpointLimits(TDev& dev, const TModelRec* model);

 protected:
  SettingsScreenBase(WorkstationContext& context, const QString& objectName, QWidget* parent);

  // Copies the controls into the record's settings; false, with a text for the operator, when a
  // control holds something that cannot be written (then the record is left as it was).
  virtual bool copyIntoSettings(TDev& dev, QString& problem) = 0;
  // The vent state that allows a zero adjustment (Quarn: vent open; Brenk: venting mode).
  virtual bool ventOpen(const TDev& dev) const = 0;
  // After an operator's change (the Quarn's sub-range rule and the reference signal).
  virtual void afterChange() {}
  // Whether the Brenk disables "Считать" while writing.
  virtual bool readDisabledWhileWriting() const { return false; }
  // A control that keeps its choice when the screen is emptied for a read or write.
  virtual QWidget* keptWhenEmptied() const { return nullptr; }

  // The common controls, placed by the screen.
  QComboBox* type_;       // cbS_TypePress: pressure type by name (the items are the screen's)
  QComboBox* units_;      // cbS_Unuts: the eight display units
  QComboBox* decimals_;   // cbS_cDigits: 0..5
  QComboBox* averaging_;  // cbS_cAvatge: 1..29
  LabelPanel* read_;
  LabelPanel* write_;
  LabelPanel* zero_;
  QLabel* zeroHint_;
  QTimer* zeroTimer_;
  QLineEdit* dorvLine_;

  // Items "from" .. "to".
  static QStringList numberItems(int from, int to);
  // A caption and its control in the next row of a grid; returns the caption.
  static QLabel* addRow(QGridLayout* grid, const QString& labelName, const QString& caption,
                        QWidget* control);
  // The screen: identification and settings side by side, the Dorv line under them, the buttons
  // with the zero hint at the bottom.
  void layOutScreen(QWidget* identity, QWidget* settings);
  // What the operator is told when a corridor entry cannot be written.
  static QString corridorProblem(const QString& text);

  // A read-only edit box for a value of the record.
  QLineEdit* makeDisplay(const QString& name);
  // An operator's control: its changes run cbS_Change.
  QComboBox* makeChoice(const QString& name, const QStringList& items = {});
  QLineEdit* makeEntry(const QString& name);

  // Selects the name of a pressure type (nothing for a type without a name in the list).
  void selectPressureType(int32_t pressType);
  // Pressure type, unit, decimals and averaging of the record in their combo boxes, and back.
  void showCommonValues(const TDev& dev);
  void copyCommonValues(TDev& dev) const;

  // The settings-read notification arrived: "Считать" works again, no read or write is pending.
  void settingsArrived();
  // The values of a read are on the screen (writing may start from them), or the screen was
  // emptied.
  void setValuesShown(bool shown) { valuesShown_ = shown; }
  // Empties every edit box and unselects every combo box of the screen, except `keep`.
  void emptyControls(QWidget* keep = nullptr);
  // Rebuilds the Dorv line; while the Dorv is present the pressure type box shows its type and the
  // setpoint limits are set again.
  void rebuildDorvLine(TDev& dev);
  // The buttons after a notification. A read or write that ended without its settings-read
  // notification (refused, abandoned, the link lost) lets "Считать" work again and is told to the
  // operator; a failed write gives the record back the settings it held before. While the connection is being
  // set up no button starts anything. The zero button is usable while linked, with the vent open, the timer
  // not running and the calibrator's own modules as the reference; the hint is shown exactly while it is not.
  void updateButtons(TDev& dev);

 private:
  enum class Pending { None, Read, Write };

  void tell(const QString& text);
  void updateZeroButton(const TDev& dev);

  Pending pending_ = Pending::None;
  TSettings settingsBeforeWrite_{};
  // "Считать" waits for the settings report of a read (or of the Brenk's write).
  bool readLocked_ = false;
  // What the calibrator reported about the zero adjustment under way: it took the command, it did
  // not, or the link went meanwhile. Told when the adjustment's time is over.
  enum class ZeroOutcome { Unknown, Accepted, Failed, LinkLost };
  ZeroOutcome zeroOutcome_ = ZeroOutcome::Unknown;
  bool valuesShown_ = false;
};

}  // namespace arm
