#include "HartCurrentPanel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "HartWidgets.h"
#include "LabelPanel.h"
#include "TDevValues.h"
#include "UiHelpers.h"
#include "WorkstationContext.h"

namespace arm {

HartCurrentPanel::HartCurrentPanel(WorkstationContext& context, QWidget* parent)
    : QFrame(parent), context_(context) {
  setObjectName(QStringLiteral("Frame_Mode_2_2_HART1"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(24);

  // ---- Information lines and buttons (left) ----
  auto* left = new QVBoxLayout;
  left->setSpacing(8);
  infoCh_ = new QLabel(this);
  infoCh_->setObjectName(QStringLiteral("lab_InfoCh"));
  infoDo_ = new QLabel(this);
  infoDo_->setObjectName(QStringLiteral("lab_InfoDo"));
  for (QLabel* l : {infoCh_, infoDo_}) {
    QFont f = l->font();
    f.setBold(true);
    f.setPointSize(f.pointSize() + 2);
    l->setFont(f);
    l->setMinimumHeight(24);
    l->setWordWrap(true);
    QSizePolicy policy = l->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    l->setSizePolicy(policy);
    left->addWidget(l);
  }
  check_ = hart::makeButton(QStringLiteral("pnCheck"), QStringLiteral("Label1"), QStringLiteral("Проверить"),
                            this);
  tune_ = hart::makeButton(QStringLiteral("pnTune"), QStringLiteral("Label2"), QStringLiteral("Подстроить"),
                           this);
  stop_ =
      hart::makeButton(QStringLiteral("pnCheckStop"), QStringLiteral("Label3"), QStringLiteral("СТОП"), this);
  for (LabelPanel* b : {check_, tune_, stop_}) {
    b->setMinimumSize(200, 44);
    QSizePolicy policy = b->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    b->setSizePolicy(policy);
  }
  enableTree(check_, false);
  enableTree(tune_, false);
  stop_->hide();
  // "СТОП" takes the place of both buttons.
  auto* buttons = new QGridLayout;
  buttons->setVerticalSpacing(8);
  buttons->addWidget(check_, 0, 0);
  buttons->addWidget(tune_, 1, 0);
  buttons->addWidget(stop_, 0, 0, 2, 1);
  left->addSpacing(8);
  left->addLayout(buttons);
  left->addStretch(1);
  layout->addLayout(left);

  connect(check_, &LabelPanel::clicked, this, [this] { pnCheckClick(); });
  connect(tune_, &LabelPanel::clicked, this, [this](QWidget* control) {
    if (control == tune_->label())
      Q_EMIT tuneLabelClicked();
    else
      pnTuneClick();
  });
  connect(stop_, &LabelPanel::clicked, this, [this] { pnCheckStopClick(); });

  // ---- Deviation grid (right) ----
  auto* gridBox = new QVBoxLayout;
  auto* title = new QLabel(QStringLiteral("Отклонение, %"), this);
  title->setObjectName(QStringLiteral("StaticText1"));
  QFont titleFont = title->font();
  titleFont.setBold(true);
  title->setFont(titleFont);
  title->setAlignment(Qt::AlignCenter);
  gridBox->addWidget(title);
  auto* grid = new QGridLayout;
  grid->setSpacing(2);
  grid->addWidget(
      hart::makeCell(QStringLiteral("Panel_Ch"), QStringLiteral("Канал"), hart::headerCell(), this), 0, 0);
  grid->addWidget(
      hart::makeCell(QStringLiteral("Panel_OnOff"), QStringLiteral("Вкл."), hart::headerCell(), this), 0, 1);
  const char* const kHeaderNames[3] = {"Panel_4mA", "Panel_12mA", "Panel_20mA"};
  const char* const kHeaderTexts[3] = {"4 мА", "12 мА", "20 мА"};
  for (int k = 0; k < 3; ++k) {
    header_[k] = hart::makeCell(QString::fromLatin1(kHeaderNames[k]), QString::fromUtf8(kHeaderTexts[k]),
                                hart::headerCell(), this);
    grid->addWidget(header_[k], 0, 2 + k);
  }
  for (int ch = 0; ch < 4; ++ch) {
    grid->addWidget(hart::makeCell(QStringLiteral("Panel_Ch%1").arg(ch + 1), QString::number(ch + 1),
                                   hart::headerCell(), this),
                    1 + ch, 0);
    toggles_[ch] = hart::makeButton(QStringLiteral("pn_OnOff_%1").arg(ch + 1),
                                    QStringLiteral("lab_OnOff_%1").arg(ch + 1), QString(), this);
    toggles_[ch]->setProperty("tag", ch);
    toggles_[ch]->setMinimumSize(64, 30);
    enableTree(toggles_[ch], false);
    connect(toggles_[ch], &LabelPanel::clicked, this, [this, ch] { OnOff_Ch_Click(ch); });
    grid->addWidget(toggles_[ch], 1 + ch, 1);
    for (int k = 0; k < 3; ++k) {
      cells_[ch][k] = hart::makeCell(QStringLiteral("pn_r%1_c%2").arg(ch).arg(k), QString(), Qt::white, this);
      cells_[ch][k]->setMinimumWidth(96);
      grid->addWidget(cells_[ch][k], 1 + ch, 2 + k);
    }
  }
  gridBox->addLayout(grid);
  gridBox->addStretch(1);
  layout->addLayout(gridBox);
  layout->addStretch(1);
}

void HartCurrentPanel::ShowGrid(const TDev& dev) {
  bool anySelected = false;
  for (int ch = 0; ch < 4; ++ch) {
    const THartChk& chk = dev.hartChk[ch];
    const bool active = chk.active != 0;
    const bool found = dev.hart[ch].found != 0;
    for (int k = 0; k < 3; ++k) {
      const float deviation = chk.dev[k];
      cells_[ch][k]->setText(active ? formatValue(deviation, 3) : QString());
    }
    enableTree(toggles_[ch], found);
    toggles_[ch]->label()->setText(!found   ? QString()
                                   : active ? QStringLiteral("Да")
                                            : QStringLiteral("нет"));
    anySelected = anySelected || (found && active);
  }
  const uint32_t task = dev.task;
  const bool idle = task == TASK_MEASURE;
  const QString run = context_.runActive() ? WorkstationContext::runLockReason() : QString();
  hart::enableJob(check_, idle && anySelected, run);
  hart::enableJob(tune_, idle && anySelected, run);
  if (task == TASK_HART_CHECK_I || task == TASK_HART_TUNE_I) {
    infoCh_->setText(hart::libraryText(dev.dsc[0]));
    const QString doing = hart::libraryText(dev.dsc[1]);
    infoDo_->setText(doing);
    infoCh_->setVisible(!doing.contains(QStringLiteral("Измерение")));
    for (uint32_t k = 0; k < 3; ++k)
      hart::setCellColour(header_[k], k == dev.hartStage ? hart::activeHeaderCell() : hart::headerCell());
  } else {
    for (QLabel* h : header_) hart::setCellColour(h, hart::headerCell());
  }
}

void HartCurrentPanel::clearInfo() {
  infoCh_->clear();
  infoDo_->clear();
}

void HartCurrentPanel::RefreshFromDev(TDev& dev) {
  ShowGrid(dev);
  const uint32_t task = dev.task;
  if (task == TASK_MEASURE) {
    check_->show();
    tune_->show();
    stop_->hide();
    clearInfo();
  }
  if (dev.retCode == RETCODE_FINISHED) {
    if (task == TASK_HART_CHECK_I) Q_EMIT message(QStringLiteral("Проверка завершена"));
    if (task == TASK_HART_TUNE_I) Q_EMIT message(QStringLiteral("Подстройка завершена"));
  }
}

void HartCurrentPanel::OnOff_Ch_Click(int tag) {
  TDev* dev = context_.dev();
  if (!dev || tag < 0 || tag > 3) return;
  const uint32_t active = dev->hartChk[tag].active ? 0 : 1;
  dev->hartChk[tag].active = active;
  toggles_[tag]->label()->setText(active ? QStringLiteral("Да") : QStringLiteral("нет"));
  ShowGrid(*dev);
}

bool HartCurrentPanel::CheckPreconditions(const TDev& dev) {
  if (dev.kestoChCount < 1) {
    Q_EMIT message(QStringLiteral("Нет подключенных устройств!"));
    return false;
  }
  for (int ch = 0; ch < 4; ++ch) {
    const THartDev& device = dev.hart[ch];
    if (device.found && device.pollingAddress != 0 && dev.hartChk[ch].active) {
      Q_EMIT message(QStringLiteral("Операция невозможна. Прибор в канале %1 имеет адрес отличный от нуля!")
                         .arg(ch + 1));
      return false;
    }
  }
  return true;
}

void HartCurrentPanel::start(uint32_t task) {
  TDev* dev = context_.dev();
  if (!dev || !CheckPreconditions(*dev)) return;
  check_->hide();
  tune_->hide();
  stop_->show();
  context_.startTask(task);
}

void HartCurrentPanel::pnCheckClick() { start(TASK_HART_CHECK_I); }

void HartCurrentPanel::pnTuneClick() { start(TASK_HART_TUNE_I); }

void HartCurrentPanel::pnCheckStopClick() {
  check_->show();
  tune_->show();
  stop_->hide();
  clearInfo();
  context_.startTask(TASK_HART_EXIT_I_OUT);
}

void HartCurrentPanel::lockJobs(const QString& reason) {
  for (LabelPanel* b : {check_, tune_}) hart::enableJob(b, false, reason);
}

}  // namespace arm
