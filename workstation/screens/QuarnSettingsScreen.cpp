#include "QuarnSettingsScreen.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStandardItemModel>
#include <algorithm>

#include "CalibratorCatalogue.h"
#include "LabelPanel.h"
#include "RecordTexts.h"
#include "TDev.h"
#include "TDevValues.h"
#include "UiHelpers.h"

namespace arm {

namespace {

constexpr int32_t kAutomatic = 0;
constexpr int32_t kModule2 = REF_SOURCE_MODULE_2;

const char* const kClassNames[4] = {"A0", "A", "B", "C"};

QString className(uint8_t code) { return code < 4 ? QString::fromLatin1(kClassNames[code]) : QString(); }

// The lower end of a gauge-vacuum range: minus the upper end, but not below -100 kPa.
double vacuumEnd(double up) { return std::max(-up, -100.0); }

}  // namespace

QuarnSettingsScreen::QuarnSettingsScreen(WorkstationContext& context, QWidget* parent)
    : SettingsScreenBase(context, QStringLiteral("Frame_Mode_7_Setings_Quarn1"), parent) {
  model_ = makeDisplay(QStringLiteral("eb_Model"));
  serial_ = makeDisplay(QStringLiteral("eb_I_sn"));
  date_ = makeDisplay(QStringLiteral("eb_I_date"));
  version_ = makeDisplay(QStringLiteral("eb_I_version"));
  range1_ = makeDisplay(QStringLiteral("eb_diap1"));
  range2_ = makeDisplay(QStringLiteral("eb_diap2"));

  sensor_ = makeChoice(QStringLiteral("cbS_Sensor"));
  subRange_ = makeChoice(QStringLiteral("cbS_SubRange"));
  dorvClass_ = makeChoice(QStringLiteral("cbClassExtDorv"), {"A0", "A", "B", "C"});
  corridor_ = makeEntry(QStringLiteral("ebS_rdyPrc_1"));

  auto* identity = new QGroupBox(QStringLiteral("Калибратор"), this);
  auto* idGrid = new QGridLayout(identity);
  addRow(idGrid, QStringLiteral("lab_Model"), QStringLiteral("Модель:"), model_);
  addRow(idGrid, QStringLiteral("lab_I_sn"), QStringLiteral("серийный номер:"), serial_);
  addRow(idGrid, QStringLiteral("lab_I_date"), QStringLiteral("Дата производства:"), date_);
  versionLabel_ = addRow(idGrid, QStringLiteral("lab_I_version"), QStringLiteral("Версия ПО:"), version_);
  versionLabel_->hide();
  version_->hide();
  addRow(idGrid, QStringLiteral("lab_diap1"), QStringLiteral("Mодуль №1:"), range1_);
  addRow(idGrid, QStringLiteral("lab_diap2"), QStringLiteral("Mодуль №2:"), range2_);

  auto* choices = new QGroupBox(QStringLiteral("Настройки"), this);
  auto* grid = new QGridLayout(choices);
  addRow(grid, QStringLiteral("lab_Sensor"), QStringLiteral("Модуль давления:"), sensor_);
  subRangeLabel_ = addRow(grid, QStringLiteral("labSubRange"), QStringLiteral("Поддиапазон:"), subRange_);
  dorvClassLabel_ =
      addRow(grid, QStringLiteral("Lab_ExtDorv"), QStringLiteral("Класс точности Dorv:"), dorvClass_);
  addRow(grid, QStringLiteral("lab_TypePress"), QStringLiteral("Вид давления:"), type_);
  addRow(grid, QStringLiteral("lab_Unuts"), QStringLiteral("Единицы измерения:"), units_);
  addRow(grid, QStringLiteral("lab_cDigits"), QStringLiteral("Знаков после запятой:"), decimals_);
  addRow(grid, QStringLiteral("lab_cAvatge"), QStringLiteral("Количество усреднений:"), averaging_);
  addRow(grid, QStringLiteral("lab_rdyPrc_1"), QStringLiteral("Коридор готовности  %:"), corridor_);
  showDorvChoices(false);

  layOutScreen(identity, choices);
}

QWidget* QuarnSettingsScreen::keptWhenEmptied() const {
  // The Dorv's accuracy class is the workstation's own choice, not a value the calibrator reports:
  // emptying it would show "A" after every read whatever class is in force.
  return dorvClass_;
}

void QuarnSettingsScreen::showDorvChoices(bool dorv) {
  subRange_->setVisible(!dorv);
  subRangeLabel_->setVisible(!dorv);
  dorvClass_->setVisible(dorv);
  dorvClassLabel_->setVisible(dorv);
}

// ---- Notifications ------------------------------------------------------------------------------

void QuarnSettingsScreen::refresh(TDev& dev) {
  const uint32_t event = dev.event;
  if (event == EVENT_TRANSDUCER_IDENTIFIED || dev.settings.refSource == kDorvReference) rebuildDorvLine(dev);
  if (event == EVENT_SETTINGS_READ) {
    settingsArrived();
    // A catalogue without the calibrator's model gives a record without modules: nothing to show.
    const TModelRec* model = context().modelRecord();
    if (model && model->sensCount > 0) {
      rebuildChoiceLists(dev, *model);
      showValues(dev, *model);
    }
    setSetpointLimits(dev, model && model->sensCount > 0 ? model : nullptr);
    Q_EMIT context().calibratorSettingsShown();
  }
  if (event == EVENT_LINK_CHANGED && dev.linkState == LINK_STATE_NONE) emptyControls(keptWhenEmptied());
  updateButtons(dev);
}

void QuarnSettingsScreen::rebuildChoiceLists(const TDev& dev, const TModelRec& model) {
  const bool dorv = dev.settings.refSource == kDorvReference;
  QStringList types;
  if (dorv) {
    types = {pressureTypeName(0), pressureTypeName(1), pressureTypeName(2)};
  } else {
    switch (model.VpCont) {
      case 0:
        types = {pressureTypeName(0)};
        break;
      case 1:
        types = {pressureTypeName(1)};
        break;
      case 3:
        types = {pressureTypeName(2), pressureTypeName(1)};
        break;
      default:
        types = {pressureTypeName(0), pressureTypeName(1), pressureTypeName(2)};
        break;
    }
  }
  type_->clear();
  type_->addItems(types);

  // Each reference item carries its refSource value: without module 2 the Dorv is the third item
  // but still reference 3.
  sensor_->clear();
  sensor_->addItem(QStringLiteral("Автовыбор"), 0);
  sensor_->addItem(QStringLiteral("Модуль №1"), 1);
  if (model.sensCount == 2) sensor_->addItem(QStringLiteral("Модуль №2"), 2);
  sensor_->addItem(QStringLiteral("Внешний Dorv"), 3);

  subRange_->clear();
  if (dorv) {
    subRangeLabel_->setText(QStringLiteral("Класс точности"));
    return;
  }
  subRangeLabel_->setText(QStringLiteral("Поддиапазон"));
  fillSubRanges(dev, model, dev.settings.refSource == kModule2 ? 1 : 0, dev.settings.pressType);
}

void QuarnSettingsScreen::fillSubRanges(const TDev& dev, const TModelRec& model, int module,
                                        int32_t pressType) {
  const int chosen = subRange_->currentIndex();
  subRange_->clear();
  subRange_->addItem(QStringLiteral("Автовыбор"));
  const double factor = dev.settings.unitFactor;
  const QString unit = unitName(dev.settings.units);
  auto* items = qobject_cast<QStandardItemModel*>(subRange_->model());
  for (int i = 0; i < kSubRanges; ++i) {
    const double up = moduleLimit(model, module, i, pressType);
    const double lo = pressType == 2 ? vacuumEnd(up) : 0.0;
    subRange_->addItem(formatGeneral(lo * factor) + QStringLiteral("...") + formatGeneral(up * factor) +
                       QStringLiteral(" ") + unit);
    // A sub-range the catalogue gives no limit for does not exist on this module.
    if (up <= 0 && items) items->item(subRange_->count() - 1)->setEnabled(false);
  }
  subRange_->setCurrentIndex(chosen);
}

void QuarnSettingsScreen::followChosenModule() {
  // The sub-ranges listed are those of the module and pressure type chosen now, not of the ones the
  // calibrator reported at the last read: the index written is then the range the operator picked.
  const TDev* dev = context().dev();
  const TModelRec* model = context().modelRecord();
  if (!dev || !model || model->sensCount <= 0 || sensor_->currentIndex() < 0) return;
  const int reference = sensor_->currentData().toInt();
  if (reference == kDorvReference) return;
  int32_t pressType = dev->settings.pressType;
  for (int32_t t = 0; t < 3; ++t)
    if (type_->currentIndex() >= 0 && type_->currentText() == pressureTypeName(t)) pressType = t;
  fillSubRanges(*dev, *model, reference == kModule2 ? 1 : 0, pressType);
}

QString QuarnSettingsScreen::moduleText(const TModelRec& model, int module, uint8_t accuracyClass) {
  const double u = model.sens[module].G[0];
  const double a = model.sens[module].A[0];
  const QString cls = className(accuracyClass);
  const bool first = module == 0;
  switch (model.VpCont) {
    case 0:
      return QStringLiteral(" 0..") + formatGeneral(a) +
             (first ? QStringLiteral(" кПа  'ДА' класс ") : QStringLiteral(" кПа  'ДА'  класс ")) + cls;
    case 1:
      return QStringLiteral(" 0..") + formatGeneral(u) + QStringLiteral(" кПа  'ДИ'  класс ") + cls;
    case 3:
      return QStringLiteral(" ") + formatGeneral(vacuumEnd(u)) + QStringLiteral("..") + formatGeneral(u) +
             QStringLiteral(" кПа 'ДИВ'  класс ") + cls;
    case 8:
      return QStringLiteral(" ") + formatGeneral(vacuumEnd(u)) + QStringLiteral("..") + formatGeneral(u) +
             QStringLiteral(" кПа 'ДИВ'") + QStringLiteral(" / 0..") + formatGeneral(a) +
             QStringLiteral(" кПа 'ДА'  класс ") + cls;
    default:
      return {};
  }
}

void QuarnSettingsScreen::showValues(TDev& dev, const TModelRec& model) {
  if (dev.calInfo.valid == 0 || dev.linked == 0) return;
  const bool dorv = dev.settings.refSource == kDorvReference;

  sensor_->setCurrentIndex(sensor_->findData(dev.settings.refSource));
  const int32_t subRange = dev.settings.subRange;
  subRange_->setCurrentIndex(subRange >= 0 && subRange < subRange_->count() ? subRange : -1);
  showDorvChoices(dorv);
  if (dorv && dorvClass_->currentIndex() < 0) dorvClass_->setCurrentIndex(1);  // "A"
  // With the Dorv as the reference the pressure type is the transducer's: the Dorv line selects it.
  showCommonValues(dev);
  type_->setEnabled(!dorv);
  corridor_->setText(formatValue(dev.settings.readyBand1, 3));

  serial_->setText(recordText(dev.calInfo.serial));
  date_->setText(recordText(dev.calInfo.madeDate));
  const int32_t version = dev.calInfo.version;
  version_->setText(formatValue(version / 100, 2));
  model_->setText(recordText(dev.calInfo.modelName));

  range1_->setText(moduleText(model, 0, dev.calInfo.module1Class));
  range2_->setText(QStringLiteral("- - -"));
  if (model.sensCount == 2) range2_->setText(moduleText(model, 1, dev.calInfo.module2Class));

  applySubRangeRule();
  writeButton()->setEnabled(false);
  setValuesShown(true);
  rebuildDorvLine(dev);
}

// ---- Operator's actions -------------------------------------------------------------------------

void QuarnSettingsScreen::applySubRangeRule() {
  const bool automatic = sensor_->currentIndex() >= 0 && sensor_->currentData().toInt() == kAutomatic;
  if (automatic && subRange_->count() > 0) subRange_->setCurrentIndex(0);
  subRange_->setEnabled(!automatic);
}

void QuarnSettingsScreen::afterChange() {
  followChosenModule();
  applySubRangeRule();
  Q_EMIT context().referenceChoiceChanged();
}

bool QuarnSettingsScreen::copyIntoSettings(TDev& dev, QString& problem) {
  float band = 0;
  if (!corridorValue(corridor_->text(), band)) {
    problem = corridorProblem(corridor_->text());
    return false;
  }
  if (sensor_->currentIndex() >= 0) dev.settings.refSource = sensor_->currentData().toInt();
  copyCommonValues(dev);
  dev.settings.readyBand1 = band;
  dev.settings.subRange = std::max(subRange_->currentIndex(), 0);
  dev.dorv.accuracyClass = dorvClass_->currentIndex() >= 0 ? dorvClass_->currentIndex() : 1;
  return true;
}

bool QuarnSettingsScreen::ventOpen(const TDev& dev) const { return dev.ventOn != 0; }

}  // namespace arm
