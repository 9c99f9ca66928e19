#include "BrenkSettingsScreen.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "CalibratorCatalogue.h"
#include "LabelPanel.h"
#include "RecordTexts.h"
#include "TDev.h"
#include "TDevValues.h"
#include "UiHelpers.h"

namespace arm {

BrenkSettingsScreen::BrenkSettingsScreen(WorkstationContext& context, QWidget* parent)
    : SettingsScreenBase(context, QStringLiteral("Frame_Mode_7_Setings_Brenk1"), parent) {
  serial_ = makeDisplay(QStringLiteral("eb_I_sn"));
  date_ = makeDisplay(QStringLiteral("eb_I_date"));
  range_ = makeDisplay(QStringLiteral("eb_I_diap"));
  version_ = makeDisplay(QStringLiteral("eb_I_version"));
  model_ = makeDisplay(QStringLiteral("eb_I_cDorv"));
  type_->addItems({pressureTypeName(0), pressureTypeName(1), pressureTypeName(2)});
  type_->setCurrentIndex(-1);
  autoRange_ =
      makeChoice(QStringLiteral("cbS_DiapNo"), {QStringLiteral("ВКЛ"), QStringLiteral("Выкл."), QString()});
  corridor1_ = makeEntry(QStringLiteral("ebS_rdyPrc_1"));
  corridor2_ = makeEntry(QStringLiteral("ebS_rdyPrc_2"));

  auto* identity = new QGroupBox(QStringLiteral("Калибратор"), this);
  auto* idGrid = new QGridLayout(identity);
  addRow(idGrid, QStringLiteral("lab_I_cDorv"), QStringLiteral("Модель:"), model_);
  addRow(idGrid, QStringLiteral("lab_I_sn"), QStringLiteral("Серийный номер:"), serial_);
  addRow(idGrid, QStringLiteral("lab_I_date"), QStringLiteral("Дата производства:"), date_);
  addRow(idGrid, QStringLiteral("lab_I_diap"), QStringLiteral("Рабочий диапазон:"), range_);
  addRow(idGrid, QStringLiteral("lab_I_version"), QStringLiteral("Версия ПО:"), version_);

  auto* choices = new QGroupBox(QStringLiteral("Настройки"), this);
  auto* grid = new QGridLayout(choices);
  addRow(grid, QStringLiteral("lab_TypePress"), QStringLiteral("Измеряемое давление"), type_);
  addRow(grid, QStringLiteral("lab_Unuts"), QStringLiteral("Единицы измерения"), units_);
  addRow(grid, QStringLiteral("lab_cDigits"), QStringLiteral("Знаков после запятой"), decimals_);
  addRow(grid, QStringLiteral("lab_DiapNo"), QStringLiteral("Автоматический выбор диапазона"), autoRange_);
  addRow(grid, QStringLiteral("lab_cAvatge"), QStringLiteral("Количество усреднений"), averaging_);
  addRow(grid, QStringLiteral("lab_rdyPrc_1"), QStringLiteral("Коридор готовности Brenk 1, %"), corridor1_);
  addRow(grid, QStringLiteral("lab_rdyPrc_2"), QStringLiteral("Коридор готовности Brenk 2, %"), corridor2_);

  layOutScreen(identity, choices);
}

QString BrenkSettingsScreen::modelText(int32_t modelNo) {
  return (modelNo < 1000 ? QStringLiteral("0") : QString()) + QString::number(modelNo / 10);
}

void BrenkSettingsScreen::refresh(TDev& dev) {
  const uint32_t event = dev.event;
  if (event == EVENT_SETTINGS_READ) {
    settingsArrived();
    showValues(dev);
    // Without a second module there is no range to choose between.
    const TModelRec* model = context().modelRecord();
    if (model && model->sensCount > 0) autoRange_->setEnabled(model->sensCount == 2);
  }
  // The values of a calibrator that is gone are not shown as if they were in force.
  if (event == EVENT_LINK_CHANGED && dev.linkState == LINK_STATE_NONE) emptyControls();
  updateButtons(dev);
  if (event == EVENT_TRANSDUCER_IDENTIFIED || dev.settings.refSource == kDorvReference) rebuildDorvLine(dev);
}

void BrenkSettingsScreen::showValues(TDev& dev) {
  if (dev.calInfo.valid == 0 || dev.linked == 0) return;
  showCommonValues(dev);
  // Only "switched off" (1) has a settled meaning; every other value is the automatic choice the
  // regulation screen applies, so a written "ВКЛ" (0) reads back as "ВКЛ".
  autoRange_->setCurrentIndex(dev.settings.autoRange == 1 ? kAutoRangeOff : kAutoRangeOn);
  corridor1_->setText(formatValue(dev.settings.readyBand1, 3));
  corridor2_->setText(formatValue(dev.settings.readyBand2, 3));
  serial_->setText(recordText(dev.calInfo.serial));
  date_->setText(recordText(dev.calInfo.madeDate));
  range_->setText(formatValue(dev.calInfo.pLimitMin, 0) + QStringLiteral(" . . .") +
                  formatValue(dev.calInfo.pLimitMax, 0) + QStringLiteral(" кПа"));
  version_->setText(QString::number(dev.calInfo.version));
  model_->setText(modelText(dev.calInfo.modelNo));

  writeButton()->setEnabled(false);
  setValuesShown(true);
  // The regulation panel shows the stored setpoint of this read.
  Q_EMIT context().calibratorSettingsShown();
  dev.calInfo.valid = 0;
  rebuildDorvLine(dev);
}

bool BrenkSettingsScreen::copyIntoSettings(TDev& dev, QString& problem) {
  float band1 = 0;
  float band2 = 0;
  for (auto [edit, band] : {std::pair{corridor1_, &band1}, std::pair{corridor2_, &band2}}) {
    if (!corridorValue(edit->text(), *band)) {
      problem = corridorProblem(edit->text());
      return false;
    }
  }
  copyCommonValues(dev);
  // The empty item (or none) keeps the value the calibrator reported.
  const int autoRange = autoRange_->currentIndex();
  if (autoRange == kAutoRangeOn || autoRange == kAutoRangeOff) dev.settings.autoRange = autoRange;
  dev.settings.readyBand1 = band1;
  dev.settings.readyBand2 = band2;
  return true;
}

bool BrenkSettingsScreen::ventOpen(const TDev& dev) const { return dev.controlMode == CONTROL_MODE_VENT; }

}  // namespace arm
