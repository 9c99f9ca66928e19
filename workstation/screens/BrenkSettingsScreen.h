// The Brenk calibrator's settings screen (mode "Настройки" of the Brenk workstation,
// Frame_Mode_7_Setings_Brenk1): the calibrator's identification and working range, the pressure
// type, unit, decimals, automatic range choice, averaging and the two readiness corridors it
// regulates with, and the read, write and zero-adjustment buttons. A read also puts the setpoint the
// calibrator stores into the regulation panel's entry.
#pragma once

#include "SettingsScreenBase.h"

class QComboBox;
class QLineEdit;

namespace arm {

class BrenkSettingsScreen : public SettingsScreenBase {
  Q_OBJECT
 public:
  // Items of cbS_DiapNo: automatic range choice on, off, and an empty item.
  static constexpr int kAutoRangeOn = 0;
  static constexpr int kAutoRangeOff = 1;

  explicit BrenkSettingsScreen(WorkstationContext& context, QWidget* parent = nullptr);

  void refresh(TDev& dev) override;
  // The record's settings and identification in the controls, once per read (only while identified
  // and linked; the identification's valid flag is cleared afterwards).
  void showValues(TDev& dev);

  // The model as the catalogue names it: modelNo / 10, with a leading "0" below model number 1000.
  static QString modelText(int32_t modelNo);

 protected:
  bool copyIntoSettings(TDev& dev, QString& problem) override;
  bool ventOpen(const TDev& dev) const override;
  bool readDisabledWhileWriting() const override { return true; }

 private:
  QLineEdit* serial_;
  QLineEdit* date_;
  QLineEdit* range_;
  QLineEdit* version_;
  QLineEdit* model_;
  QComboBox* autoRange_;
  QLineEdit* corridor1_;
  QLineEdit* corridor2_;
};

}  // namespace arm
