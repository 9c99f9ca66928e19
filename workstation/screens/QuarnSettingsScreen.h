// The Quarn calibrator's settings screen (mode "Настройки" of the Quarn workstation,
// Frame_Mode_7_Setings_Quarn1): the calibrator's identification and module ranges, the reference,
// sub-range, pressure type, unit, decimals, averaging and readiness corridor it measures with, and
// the read, write and zero-adjustment buttons. The choice lists follow the model's module kind from
// the models catalogue, so the values are shown only once that catalogue entry is loaded.
#pragma once

#include "SettingsScreenBase.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace arm {

class QuarnSettingsScreen : public SettingsScreenBase {
  Q_OBJECT
 public:
  explicit QuarnSettingsScreen(WorkstationContext& context, QWidget* parent = nullptr);

  void refresh(TDev& dev) override;

  // The choice lists for the model's module kind (0 absolute, 1 gauge, 3 gauge-vacuum, 8 gauge-vacuum
  // with absolute) or the Dorv as the reference, with the sub-ranges of the module chosen.
  void rebuildChoiceLists(const TDev& dev, const TModelRec& model);
  // The record's settings and identification in the controls (only while identified and linked).
  void showValues(TDev& dev, const TModelRec& model);

  // The range texts of the two modules for the model's kind.
  static QString moduleText(const TModelRec& model, int module, uint8_t accuracyClass);

 protected:
  bool copyIntoSettings(TDev& dev, QString& problem) override;
  bool ventOpen(const TDev& dev) const override;
  void afterChange() override;
  QWidget* keptWhenEmptied() const override;

 private:
  // "Автовыбор" as the reference leaves the sub-range to the calibrator: first item, disabled.
  void applySubRangeRule();
  // The sub-range list ("Автовыбор" and one entry per sub-range of `module`, 0 or 1, for the pressure
  // type); the selected index is kept.
  void fillSubRanges(const TDev& dev, const TModelRec& model, int module, int32_t pressType);
  // The sub-range list for the module and pressure type chosen on the screen.
  void followChosenModule();
  void showDorvChoices(bool dorv);

  QLineEdit* model_;
  QLineEdit* serial_;
  QLineEdit* date_;
  QLabel* versionLabel_;
  QLineEdit* version_;
  QLineEdit* range1_;
  QLineEdit* range2_;
  QComboBox* sensor_;
  QLabel* subRangeLabel_;
  QComboBox* subRange_;
  QLabel* dorvClassLabel_;
  QComboBox* dorvClass_;
  QLineEdit* corridor_;
};

}  // namespace arm
