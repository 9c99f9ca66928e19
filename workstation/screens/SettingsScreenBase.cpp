#include "SettingsScreenBase.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "CalibratorCatalogue.h"
#include "LabelPanel.h"
#include "RecordTexts.h"
#include "TDev.h"
#include "TDevValues.h"
#include "UiHelpers.h"
#include "ZDialog.h"

namespace arm {

namespace {

const QColor kButtonColour(73, 86, 119);
const QString kCaption = QStringLiteral("Сообщение");
// The library's error code of a zero adjustment the calibrator did not take.
constexpr uint32_t kErrZeroFailed = 17;

// A panel button whose caption turns grey while it is disabled, so "Записать" visibly waits for a
// change and "Подстройка нуля" for the vent.
LabelPanel* makeButton(const QString& panel, const QString& label, const QString& caption, QWidget* parent) {
  auto* b = new LabelPanel(panel, label, caption, parent);
  b->setColours(kButtonColour, Qt::white);
  for (QWidget* w : {static_cast<QWidget*>(b), static_cast<QWidget*>(b->label())}) {
    QPalette p = w->palette();
    p.setColor(QPalette::Disabled, QPalette::Window, QColor(128, 138, 160));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(200, 200, 200));
    w->setPalette(p);
  }
  QFont f = b->label()->font();
  f.setBold(true);
  f.setPointSize(f.pointSize() + 1);
  b->label()->setFont(f);
  b->setMinimumSize(170, 44);
  return b;
}

bool settingsTaskRunning(const TDev& dev) {
  return dev.task == TASK_SETTINGS_READ || dev.task == TASK_SETTINGS_WRITE;
}

// While the connection is being set up (its own settings read, the Kesto module's input type), a
// task started here would abandon it half-way: the buttons wait until it has ended.
bool connecting(const TDev& dev) { return dev.task == TASK_CONNECT; }

}  // namespace

SettingsScreenBase::SettingsScreenBase(WorkstationContext& context, const QString& objectName,
                                       QWidget* parent)
    : Screen(context, objectName, parent) {
  // Somewhat larger than the window's menus: the screen is read at arm's length on the bench.
  QFont f = font();
  f.setPointSize(f.pointSize() + 2);
  setFont(f);

  read_ =
      makeButton(QStringLiteral("Panel_Read"), QStringLiteral("Label_Read"), QStringLiteral("Считать"), this);
  write_ =
      makeButton(QStringLiteral("Panel_Set"), QStringLiteral("Label_Set"), QStringLiteral("Записать"), this);
  zero_ = makeButton(QStringLiteral("Panel_ZeroKD"), QStringLiteral("Label_ZeroKD"),
                     QStringLiteral("Подстройка нуля"), this);
  write_->setEnabled(false);
  zero_->setEnabled(false);
  connect(read_, &LabelPanel::clicked, this, &SettingsScreenBase::Panel_ReadClick);
  connect(write_, &LabelPanel::clicked, this, &SettingsScreenBase::Panel_SetClick);
  connect(zero_, &LabelPanel::clicked, this, &SettingsScreenBase::Panel_ZeroKDClick);

  zeroHint_ = new QLabel(QStringLiteral("* для активации включите Сброс"), this);
  zeroHint_->setObjectName(QStringLiteral("lab_SetZeroMsg"));

  zeroTimer_ = new QTimer(this);
  zeroTimer_->setObjectName(QStringLiteral("Timer_ZeroKD"));
  zeroTimer_->setInterval(kZeroAdjustMs);
  connect(zeroTimer_, &QTimer::timeout, this, &SettingsScreenBase::Timer_ZeroKDTimer);

  dorvLine_ = makeDisplay(QStringLiteral("edExtInfo"));

  type_ = makeChoice(QStringLiteral("cbS_TypePress"));
  QStringList unitNames;
  for (int u = 0; u < 8; ++u) unitNames << unitName(u);
  units_ = makeChoice(QStringLiteral("cbS_Unuts"), unitNames);
  decimals_ = makeChoice(QStringLiteral("cbS_cDigits"), numberItems(0, 5));
  averaging_ = makeChoice(QStringLiteral("cbS_cAvatge"), numberItems(1, 29));
}

QStringList SettingsScreenBase::numberItems(int from, int to) {
  QStringList items;
  for (int i = from; i <= to; ++i) items << QString::number(i);
  return items;
}

QLabel* SettingsScreenBase::addRow(QGridLayout* grid, const QString& labelName, const QString& caption,
                                   QWidget* control) {
  const int row = grid->count() / 2;  // every row holds a caption and a control
  auto* label = new QLabel(caption);
  label->setObjectName(labelName);
  grid->addWidget(label, row, 0);
  grid->addWidget(control, row, 1);
  return label;
}

void SettingsScreenBase::layOutScreen(QWidget* identity, QWidget* settings) {
  // One group above the other: the identification's range texts need the width, and the screen
  // has height to spare. The controls keep their own width; the groups' right side stays free.
  for (QWidget* group : {identity, settings}) {
    if (auto* grid = qobject_cast<QGridLayout*>(group->layout())) {
      grid->setColumnStretch(2, 1);
      grid->setHorizontalSpacing(16);
    }
  }

  // The Dorv line closes the identification: it tells what is connected, like the rows above it.
  if (auto* grid = qobject_cast<QGridLayout*>(identity->layout()))
    addRow(grid, QStringLiteral("lab_ExtInfo"), QStringLiteral("Внешний датчик:"), dorvLine_);

  auto* buttons = new QGridLayout;
  buttons->setHorizontalSpacing(16);
  buttons->addWidget(read_, 0, 0);
  buttons->addWidget(write_, 0, 1);
  buttons->addWidget(zero_, 0, 2);
  buttons->addWidget(zeroHint_, 1, 2);
  buttons->setColumnStretch(3, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 14, 16, 14);
  layout->setSpacing(14);
  layout->addWidget(identity);
  layout->addWidget(settings);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  layout->addStretch(1);
}

QString SettingsScreenBase::corridorProblem(const QString& text) {
  return QStringLiteral(
             "Коридор готовности должен быть числом не меньше 0, введено: \"%1\". Настройки не записаны.")
      .arg(text);
}

QLineEdit* SettingsScreenBase::makeDisplay(const QString& name) {
  auto* e = new QLineEdit(this);
  e->setObjectName(name);
  e->setReadOnly(true);
  e->setFocusPolicy(Qt::ClickFocus);
  e->setMinimumWidth(460);
  // Shown, not entered: a background apart from the entries the operator may change.
  QPalette p = e->palette();
  p.setColor(QPalette::Base, QColor(226, 232, 242));
  e->setPalette(p);
  return e;
}

QComboBox* SettingsScreenBase::makeChoice(const QString& name, const QStringList& items) {
  auto* c = new QComboBox(this);
  c->setObjectName(name);
  c->addItems(items);
  c->setCurrentIndex(-1);
  c->setMinimumWidth(280);
  // activated: only the operator's choices count as a change, not the screen's own selections.
  connect(c, &QComboBox::activated, this, &SettingsScreenBase::cbS_Change);
  return c;
}

QLineEdit* SettingsScreenBase::makeEntry(const QString& name) {
  auto* e = new QLineEdit(this);
  e->setObjectName(name);
  e->setMinimumWidth(280);
  NumericKeyFilter::install(e);
  connect(e, &QLineEdit::textEdited, this, &SettingsScreenBase::cbS_Change);
  return e;
}

// ---- Record helpers -------------------------------------------------------------------------------

bool SettingsScreenBase::corridorValue(const QString& text, float& value) {
  // The number at the start of the text, as the C "%f" scan takes it ("2e" reads 2, "1.5.5" 1.5).
  static const QRegularExpression number(
      QStringLiteral("^\\s*([+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?)"));
  const QRegularExpressionMatch m = number.match(text);
  if (!m.hasMatch()) return false;
  bool ok = false;
  const double v = m.captured(1).toDouble(&ok);
  const auto f = static_cast<float>(v);
  if (!ok || !std::isfinite(f) || f < 0) return false;
  value = f;
  return true;
}

QString SettingsScreenBase::dorvLineText(const TDev& dev) {
  if (dev.linked == 0) return {};
  if (dev.dorv.present == 0) return QStringLiteral(" Неактивен");
  static const char* const kKinds[4] = {"ДА", "ДИ", "ДИ", "ДИВ"};
  const int32_t type = dev.dorv.pressType;
  const QString kind = type >= 0 && type < 4 ? QString::fromUtf8(kKinds[type]) : QString();
  const float low = dev.dorv.rangeLow;
  const float high = dev.dorv.rangeHigh;
  const uint32_t serial = dev.dorv.serialNo;
  return formatGeneral(low) + QStringLiteral("..") + formatGeneral(high) + QStringLiteral(" кПа ") + kind +
         QStringLiteral("  №") + QString::number(serial);
}

float SettingsScreenBase::moduleLimit(const TModelRec& model, int module, int index, int32_t pressType) {
  if (module < 0 || module > 1 || index < 0 || index >= kSubRanges) return 0;
  return pressType == 0 ? model.sens[module].A[index] : model.sens[module].G[index];
}

void SettingsScreenBase::setSetpointLimits(TDev& dev, const TModelRec* model) {
  const int32_t refSource = dev.settings.refSource;
  float upper = 0;
  if (refSource == kDorvReference) {
    upper = dev.dorv.rangeHigh;
  } else {
    if (!model) return;
    upper = moduleLimit(*model, refSource == REF_SOURCE_MODULE_2 ? 1 : 0, 0, dev.settings.pressType);
  }
  // A limit of 0 is a module without that range in the catalogue (or a transducer not yet read):
  // limits of 0..0 would pin every setpoint to zero.
  if (!std::isfinite(upper) || upper <= 0) return;
  dev.calInfo.pLimitMax = upper;
  dev.calInfo.pLimitMin = upper > 100 ? -100.0f : -upper;
}

void SettingsScreenBase::selectPressureType(int32_t pressType) {
  type_->setCurrentIndex(pressType >= 0 && pressType <= 2 ? type_->findText(pressureTypeName(pressType))
                                                          : -1);
}

void SettingsScreenBase::showCommonValues(const TDev& dev) {
  selectPressureType(dev.settings.pressType);
  const int32_t units = dev.settings.units;
  const int32_t decimals = dev.settings.decimals;
  const int32_t averaging = dev.settings.averaging;
  units_->setCurrentIndex(units >= 0 && units < units_->count() ? units : -1);
  decimals_->setCurrentIndex(decimals >= 0 && decimals < decimals_->count() ? decimals : -1);
  averaging_->setCurrentIndex(averaging >= 1 && averaging <= averaging_->count() ? averaging - 1 : -1);
}

void SettingsScreenBase::copyCommonValues(TDev& dev) const {
  // The type is taken by its name: the Quarn's list holds only the types of its modules.
  for (int32_t t = 0; t < 3; ++t)
    if (type_->currentIndex() >= 0 && type_->currentText() == pressureTypeName(t)) dev.settings.pressType = t;
  dev.settings.units = std::max(units_->currentIndex(), 0);
  dev.settings.decimals = std::max(decimals_->currentIndex(), 0);
  dev.settings.averaging = averaging_->currentIndex() + 1;
}

// ---- Screen state -------------------------------------------------------------------------------

void SettingsScreenBase::settingsArrived() {
  readLocked_ = false;
  read_->setEnabled(true);
  pending_ = Pending::None;
}

void SettingsScreenBase::emptyControls(QWidget* keep) {
  for (QLineEdit* edit : findChildren<QLineEdit*>()) {
    // The line edit inside a combo box belongs to the combo box.
    if (!qobject_cast<QComboBox*>(edit->parentWidget())) edit->clear();
  }
  for (QComboBox* combo : findChildren<QComboBox*>())
    if (combo != keep) combo->setCurrentIndex(-1);
  valuesShown_ = false;
}

void SettingsScreenBase::rebuildDorvLine(TDev& dev) {
  dorvLine_->setText(dorvLineText(dev));
  if (dev.linked == 0 || dev.dorv.present == 0) return;
  const int32_t type = dev.dorv.pressType;
  if (type >= 0 && type <= 2 && type_->findText(pressureTypeName(type)) >= 0) selectPressureType(type);
  setSetpointLimits(dev, context().modelRecord());
}

void SettingsScreenBase::updateButtons(TDev& dev) {
  if (pending_ != Pending::None && !settingsTaskRunning(dev)) {
    // The library went on with something else without reporting the settings: the read or write
    // failed or was abandoned. Without this "Считать" would stay disabled and the screen empty.
    const bool wasWrite = pending_ == Pending::Write;
    pending_ = Pending::None;
    // The record keeps what the calibrator last reported, not what it refused: the display unit's
    // name, the readiness corridors of a verification and the next write all come from it.
    if (wasWrite) dev.settings = settingsBeforeWrite_;
    readLocked_ = false;
    tell(wasWrite ? QStringLiteral("Не удалось записать настройки в калибратор.")
                  : QStringLiteral("Не удалось считать настройки калибратора."));
  }
  read_->setEnabled(!readLocked_ && !connecting(dev));
  if (connecting(dev)) write_->setEnabled(false);
  if (zeroTimer_->isActive()) {
    if (dev.linked == 0)
      zeroOutcome_ = ZeroOutcome::LinkLost;
    else if (zeroOutcome_ == ZeroOutcome::Unknown && dev.retCode == RETCODE_ZERO_ACCEPTED)
      zeroOutcome_ = ZeroOutcome::Accepted;
    else if (zeroOutcome_ == ZeroOutcome::Unknown && dev.errCode == kErrZeroFailed)
      zeroOutcome_ = ZeroOutcome::Failed;
  }
  updateZeroButton(dev);
}

void SettingsScreenBase::updateZeroButton(const TDev& dev) {
  const bool usable = dev.linked != 0 && !connecting(dev) && ventOpen(dev) && !zeroTimer_->isActive() &&
                      dev.settings.refSource != kDorvReference;
  zero_->setEnabled(usable);
  zeroHint_->setVisible(!usable);
}

void SettingsScreenBase::tell(const QString& text) {
  context().messageWindow().showMessage(text, false, kCaption);
}

// ---- Handlers -----------------------------------------------------------------------------------

void SettingsScreenBase::cbS_Change() {
  const TDev* dev = context().dev();
  // Writing starts from the controls, so it needs a read's values on the screen.
  if (dev && dev->linked != 0 && !settingsTaskRunning(*dev) && !connecting(*dev) && valuesShown_)
    write_->setEnabled(true);
  afterChange();
}

void SettingsScreenBase::Panel_ReadClick() {
  TDev* dev = context().dev();
  if (!dev || dev->linkState != LINK_STATE_LINKED || connecting(*dev)) return;
  context().startTask(TASK_SETTINGS_READ);
  pending_ = Pending::Read;
  readLocked_ = true;
  read_->setEnabled(false);
  write_->setEnabled(false);
  emptyControls(keptWhenEmptied());
}

void SettingsScreenBase::Panel_SetClick() {
  TDev* dev = context().dev();
  if (!dev || dev->linkState != LINK_STATE_LINKED || connecting(*dev)) return;
  QString problem;
  settingsBeforeWrite_ = dev->settings;
  if (!copyIntoSettings(*dev, problem)) {
    tell(problem);
    return;
  }
  emptyControls(keptWhenEmptied());
  context().startTask(TASK_SETTINGS_WRITE);
  pending_ = Pending::Write;
  write_->setEnabled(false);
  if (readDisabledWhileWriting()) {
    readLocked_ = true;
    read_->setEnabled(false);
  }
  Q_EMIT context().settingsWritten();
}

void SettingsScreenBase::Panel_ZeroKDClick() {
  TDev* dev = context().dev();
  if (!dev || dev->settings.refSource == kDorvReference || zeroTimer_->isActive() || connecting(*dev)) return;
  zero_->setEnabled(false);
  zeroHint_->setVisible(true);
  zeroOutcome_ = ZeroOutcome::Unknown;
  zeroTimer_->start();
  context().startTask(TASK_SET_0_KD);
}

void SettingsScreenBase::Timer_ZeroKDTimer() {
  zeroTimer_->stop();
  if (const TDev* dev = context().dev())
    updateZeroButton(*dev);
  else
    zero_->setEnabled(true);
  // Success only when the calibrator said it took the command.
  switch (zeroOutcome_) {
    case ZeroOutcome::Accepted:
      tell(QStringLiteral("Подстройка нуля завершена."));
      break;
    case ZeroOutcome::LinkLost:
      tell(QStringLiteral("Подстройка нуля не выполнена: связь с калибратором потеряна."));
      break;
    default:
      tell(QStringLiteral("Подстройка нуля не выполнена: калибратор не подтвердил команду."));
      break;
  }
  zeroOutcome_ = ZeroOutcome::Unknown;
}

}  // namespace arm
