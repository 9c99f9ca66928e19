#include "BrenkRegulationPanel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <optional>

#include "FormPersistence.h"
#include "IniValues.h"
#include "LabelPanel.h"
#include "TDev.h"
#include "TDevValues.h"
#include "UiHelpers.h"
#include "WorkstationContext.h"
#include "ZDialog.h"

namespace arm {

namespace {

const QColor kButtonColour(73, 86, 119);

struct Step {
  const char* name;
  int tag;  // thousandths of the display unit
  const char* caption;
};
// Each button's caption says its step. The plus row reads +0.100 +0.010 +0.001, the minus row below
// it -0.100 -0.010 -0.001.
constexpr Step kSteps[6] = {
    {"Btn_Up_01", 100, "+ 0.100"}, {"BitBtn1", 10, "+ 0.010"},  {"BitBtn2", 1, "+ 0.001"},
    {"BitBtn5", -100, "- 0.100"},  {"BitBtn4", -10, "- 0.010"}, {"BitBtn3", -1, "- 0.001"},
};

// The factor from the display unit to kPa. A record with the factor but no inverse (0, as a library
// that sets only the factor leaves it before its first settings read) would turn every typed
// setpoint into 0 kPa; the inverse is then taken from the factor itself.
double displayToKPa(const TDev& dev) {
  const float inverse = dev.settings.unitFactorInv;
  if (std::isfinite(inverse) && inverse > 0) return inverse;
  const float factor = dev.settings.unitFactor;
  return std::isfinite(factor) && factor > 0 ? 1.0 / factor : 1.0;
}

}  // namespace

BrenkRegulationPanel::BrenkRegulationPanel(WorkstationContext& context, QWidget* parent)
    : QFrame(parent), context_(context) {
  setObjectName(QStringLiteral("Frame_regul_brenk1"));
  FormPersistence::markOwner(this);
  // A settings read of the Brenk brings the calibrator's stored setpoint into the entry, unless the
  // operator is typing there.
  connect(&context, &WorkstationContext::calibratorSettingsShown, this, [this] {
    const TDev* dev = context_.dev();
    if (!dev || !context_.uiBrenk() || editing_) return;
    edit_->setText(formatValue(static_cast<double>(dev->settings.pTargetStored) * dev->settings.unitFactor,
                               dev->settings.decimals));
  });
  setFrameShape(QFrame::StyledPanel);
  // Enter moves the focus here, out of the entry.
  setFocusPolicy(Qt::StrongFocus);

  auto* caption = new QLabel(QStringLiteral("Уставка:"), this);
  caption->setObjectName(QStringLiteral("Label4"));
  QFont big = caption->font();
  big.setPointSize(big.pointSize() + 6);
  big.setBold(true);
  caption->setFont(big);

  edit_ = new QLineEdit(this);
  edit_->setObjectName(QStringLiteral("Edit_P_target"));
  edit_->setFont(big);
  edit_->setAlignment(Qt::AlignRight);
  edit_->setMinimumWidth(180);
  edit_->setEnabled(false);
  edit_->installEventFilter(this);
  setEditing(false);

  setOn_ = new LabelPanel(QStringLiteral("Panel_SetOn_regul"), QStringLiteral("Label_SetOn_regul"),
                          QStringLiteral("Включить регулирование"), this);
  setOff_ = new LabelPanel(QStringLiteral("Panel_SetOff_regul"), QStringLiteral("Label_SetOff_regul"),
                           QStringLiteral("Отключить регулирование"), this);
  for (LabelPanel* p : {setOn_, setOff_}) {
    p->setColours(kButtonColour, Qt::white);
    p->setMinimumSize(220, 48);
    QFont f = p->label()->font();
    f.setBold(true);
    p->label()->setFont(f);
    connect(p, &LabelPanel::clicked, this, &BrenkRegulationPanel::SetOnOff_regulClick);
  }
  setOff_->hide();

  auto* upDown = new QFrame(this);
  upDown->setObjectName(QStringLiteral("Panel_UpDown"));
  auto* grid = new QGridLayout(upDown);
  grid->setContentsMargins(0, 0, 0, 0);
  for (int i = 0; i < 6; ++i) {
    auto* b = new QPushButton(QString::fromLatin1(kSteps[i].caption), upDown);
    b->setObjectName(QString::fromLatin1(kSteps[i].name));
    b->setProperty("tag", kSteps[i].tag);
    b->setMinimumSize(84, 34);
    b->setFocusPolicy(Qt::NoFocus);
    connect(b, &QPushButton::clicked, this, [this, b] { UpDown_Btn_Click(b); });
    grid->addWidget(b, i / 3, i % 3);
    steps_[i] = b;
  }

  auto* entryRow = new QHBoxLayout;
  entryRow->addWidget(caption);
  entryRow->addWidget(edit_);
  entryRow->addStretch(1);
  auto* switches = new QGridLayout;
  switches->addWidget(setOn_, 0, 0);
  switches->addWidget(setOff_, 0, 0);
  auto* row = new QHBoxLayout(this);
  row->addLayout(entryRow, 1);
  row->addWidget(upDown);
  row->addSpacing(12);
  row->addLayout(switches);
}

void BrenkRegulationPanel::setEditing(bool editing) {
  editing_ = editing;
  QPalette p = edit_->palette();
  p.setColor(QPalette::Base, editing ? QColor(Qt::yellow) : QColor(Qt::white));
  edit_->setPalette(p);
}

void BrenkRegulationPanel::refresh(const TDev& dev) {
  const float pTarget = dev.pTarget;
  const float factor = dev.settings.unitFactor;
  if (!editing_) edit_->setText(formatValue(static_cast<double>(pTarget) * factor, dev.settings.decimals));
  // Usable once linked and the connection has read the settings: a setpoint sent earlier would
  // abandon the settings read.
  const bool linked = dev.linked != 0;
  const bool usable = linked && !context_.connecting();
  for (QWidget* w : std::initializer_list<QWidget*>{setOn_, setOff_, edit_}) w->setEnabled(usable);
  for (QPushButton* b : steps_) b->setEnabled(usable);
  if (!linked) edit_->clear();
  // The switch shows the mode the calibrator is in, whoever changed it: a click here, a run (which
  // regulates and ends in measuring), a lost link, or the device's own mode read at a connection.
  // A switch kept as the last click left it would offer to stop a regulation that is not running,
  // and a typed setpoint would then not move the pressure.
  const bool regulating = linked && dev.controlMode == CONTROL_MODE_REGULATE;
  setOn_->setVisible(!regulating);
  setOff_->setVisible(regulating);
}

void BrenkRegulationPanel::SetOnOff_regulClick(QWidget* control) {
  TDev* dev = context_.dev();
  if (!dev) return;
  const bool on = control == setOn_ || control == setOn_->label();
  setOn_->setVisible(!on);
  setOff_->setVisible(on);
  dev->regulReq = 1;
  dev->controlMode = on ? 1 : 0;
  context_.startTask(TASK_MEASURE_REGUL);
}

void BrenkRegulationPanel::applyEntry() {
  TDev* dev = context_.dev();
  if (!dev) return;
  // An entry that does not read as a number ("." or "-" alone, "1.5.5") sends nothing: read as 0 it
  // would drive the pressure to 0 kPa, or the lower working limit, without anyone having asked.
  const std::optional<double> value = quarn::data::parseFloat(edit_->text().toStdString());
  if (!value) {
    context_.messageWindow().showMessage(QStringLiteral("Уставка не отправлена: \"") + edit_->text() +
                                             QStringLiteral("\" не читается как число."),
                                         false, QStringLiteral("Ошибка"));
    return;
  }
  dev->pTarget = static_cast<float>(*value * displayToKPa(*dev));
  context_.startTask(TASK_MEASURE_REGUL);
  setEditing(false);
}

void BrenkRegulationPanel::UpDown_Btn_Click(QPushButton* button) {
  TDev* dev = context_.dev();
  if (!dev || !button) return;
  // A step from an entry that does not read as a number starts from what the calibrator is set to.
  const std::optional<double> typed = quarn::data::parseFloat(edit_->text().toStdString());
  const double from = typed ? *typed : static_cast<double>(dev->pTarget) * dev->settings.unitFactor;
  const double value = (std::isfinite(from) ? from : 0.0) + button->property("tag").toInt() * 0.001;
  edit_->setText(formatValue(value, dev->settings.decimals));
  dev->pTarget = static_cast<float>(value * displayToKPa(*dev));
  // The entry is read again, so a step below the shown resolution is lost.
  applyEntry();
}

bool BrenkRegulationPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_ || event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    applyEntry();
    setFocus();
    return true;
  }
  if (key->key() == Qt::Key_Delete) {
    setEditing(true);
    return false;
  }
  const QString text = key->text();
  // Keys without a character (arrows, Home, ...) and shortcuts are not typing.
  if (text.size() != 1 || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
  const QChar typed = text.at(0);
  if (isEditingControl(typed)) {
    setEditing(true);
    return false;
  }
  if (typed.unicode() < 0x20) return false;
  const QChar c = filterNumericChar(typed);
  if (c.isNull()) return true;
  setEditing(true);
  if (c == typed) return false;
  edit_->insert(QString(c));
  return true;
}

}  // namespace arm
