#include "HartSensorPanel.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

#include "HartWidgets.h"
#include "LabelPanel.h"
#include "TDevValues.h"
#include "UiHelpers.h"
#include "WorkstationContext.h"

namespace arm {

namespace {

// How far each trim pressure may lie outside a device's range: 12 % of its span.
constexpr double kTrimMarginPercent = 12;

bool validChannel(int32_t ch) { return ch >= 0 && ch < 4; }

QLineEdit* makeEntry(const QString& name, const QString& text, QWidget* parent) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(name);
  edit->setMaximumWidth(110);
  NumericKeyFilter::install(edit);  // ed_minKeyPress
  return edit;
}

// Whole seconds of a typed time, truncated toward zero; a text beyond the integer range is held at
// its end instead of overflowing.
int32_t wholeSeconds(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace

HartSensorPanel::HartSensorPanel(WorkstationContext& context, QWidget* parent)
    : QFrame(parent), context_(context) {
  setObjectName(QStringLiteral("Frame_Mode_2_3_HART1"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(24);

  // ---- Pressures, parameters and buttons (left) ----
  auto* left = new QVBoxLayout;
  left->setSpacing(8);
  errorInput_ = new QLabel(QStringLiteral("Включите вход !"), this);
  errorInput_->setObjectName(QStringLiteral("Label_ERROR_Input"));
  infoDo_ = new QLabel(this);
  infoDo_->setObjectName(QStringLiteral("lab_InfoDo"));
  for (QLabel* l : {errorInput_, infoDo_}) {
    QFont f = l->font();
    f.setBold(true);
    f.setPointSize(f.pointSize() + 2);
    l->setFont(f);
    l->setMinimumHeight(24);
    l->setWordWrap(true);
    QSizePolicy policy = l->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    l->setSizePolicy(policy);
    l->hide();
  }
  QPalette red = errorInput_->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  errorInput_->setPalette(red);
  left->addWidget(errorInput_);
  left->addWidget(infoDo_);

  auto* entries = new QHBoxLayout;
  entries->setSpacing(16);
  auto* pressures = new QFormLayout;
  min_ = makeEntry(QStringLiteral("ed_min"), QStringLiteral("0"), this);
  max_ = makeEntry(QStringLiteral("ed_max"), QStringLiteral("100"), this);
  pressures->addRow(QStringLiteral("P min, кПа:"), min_);
  pressures->addRow(QStringLiteral("P max, кПа:"), max_);
  entries->addLayout(pressures);
  auto* parameters = new QGroupBox(QStringLiteral("Параметры"), this);
  parameters->setObjectName(QStringLiteral("GroupBox_Params"));
  auto* parameterForm = new QFormLayout(parameters);
  time_ = makeEntry(QStringLiteral("ed_T"), QStringLiteral("10"), parameters);
  corridor_ = makeEntry(QStringLiteral("ed_Kor"), QStringLiteral("0.05"), parameters);
  parameterForm->addRow(QStringLiteral("Время готовности, сек"), time_);
  parameterForm->addRow(QStringLiteral("Коридор, % "), corridor_);
  entries->addWidget(parameters);
  left->addLayout(entries);

  tune_ = hart::makeButton(QStringLiteral("pnTune"), QStringLiteral("Label_Tune"),
                           QStringLiteral("Подстроить сенсор"), this);
  stop_ = hart::makeButton(QStringLiteral("pnCheckStop"), QStringLiteral("Label_CheckStop"),
                           QStringLiteral("СТОП"), this);
  for (LabelPanel* b : {tune_, stop_}) {
    b->setMinimumSize(200, 44);
    QSizePolicy policy = b->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    b->setSizePolicy(policy);
  }
  enableTree(tune_, false);
  stop_->hide();
  auto* buttons = new QGridLayout;
  buttons->addWidget(tune_, 0, 0);
  buttons->addWidget(stop_, 0, 0);
  left->addLayout(buttons);
  left->addStretch(1);
  layout->addLayout(left);
  connect(tune_, &LabelPanel::clicked, this, [this] { pnTuneClick(); });
  connect(stop_, &LabelPanel::clicked, this, [this] { pnCheckStopClick(); });

  // ---- Grid of reduced errors (right) ----
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
  grid->addWidget(
      hart::makeCell(QStringLiteral("Panel_Pmin"), QStringLiteral("P min"), hart::headerCell(), this), 0, 2);
  grid->addWidget(
      hart::makeCell(QStringLiteral("Panel_Pmax"), QStringLiteral("P max"), hart::headerCell(), this), 0, 3);
  for (int ch = 0; ch < 4; ++ch) {
    grid->addWidget(hart::makeCell(QStringLiteral("Panel_Ch%1").arg(ch + 1), QString::number(ch + 1),
                                   hart::headerCell(), this),
                    1 + ch, 0);
    toggles_[ch] = hart::makeButton(QStringLiteral("pn_OnOff_%1").arg(ch + 1),
                                    QStringLiteral("lab_OnOff_%1").arg(ch + 1), QString(), this);
    toggles_[ch]->setProperty("tag", ch);
    toggles_[ch]->setMinimumSize(64, 30);
    enableTree(toggles_[ch], false);
    connect(toggles_[ch], &LabelPanel::clicked, this, [this, ch] { pn_OnOff_Click(ch); });
    grid->addWidget(toggles_[ch], 1 + ch, 1);
    for (int k = 0; k < 2; ++k) {
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

void HartSensorPanel::ShowGrid(const TDev& dev) {
  errorInput_->setVisible(!(dev.inputOn != 0 || dev.settings.refSource == REF_SOURCE_EXTERNAL));
  const uint32_t task = dev.task;
  if (task == TASK_HART_TUNE_TRIM) {
    const int column = static_cast<int>(dev.hartStage) - 1;  // stage 1 at P min, 2 at P max
    if (column == 0 || column == 1) {
      for (int ch = 0; ch < 4; ++ch) {
        const float reducedError = dev.ch[ch].reducedError;
        cells_[ch][column]->setText(dev.trimOn[ch] ? formatValue(reducedError, 3) : QString());
      }
    }
    infoDo_->setText(hart::libraryText(dev.dsc[1]));
  }
  if (task == TASK_MEASURE) {
    tune_->show();
    stop_->hide();
    infoDo_->clear();
  }
  bool anySelected = false;
  for (int ch = 0; ch < 4; ++ch) {
    const bool found = dev.hart[ch].found != 0;
    const bool active = dev.hartChk[ch].active != 0;
    enableTree(toggles_[ch], found);
    toggles_[ch]->label()->setText(!found   ? QString()
                                   : active ? QStringLiteral("Да")
                                            : QStringLiteral("нет"));
    anySelected = anySelected || (found && active);
  }
  hart::enableJob(tune_, task == TASK_MEASURE && anySelected,
                  context_.runActive() ? WorkstationContext::runLockReason() : QString());
}

void HartSensorPanel::RefreshFromDev(TDev& dev) {
  ShowGrid(dev);
  if (dev.event == EVENT_HART_SEARCH_DONE && validChannel(dev.hartFirstCh)) {
    const float minKpa = dev.devCh[dev.hartFirstCh].MinKpa;
    const float maxKpa = dev.devCh[dev.hartFirstCh].MaxKpa;
    min_->setText(formatValue(minKpa, 3));
    max_->setText(formatValue(maxKpa, 3));
  }
  if (dev.event == EVENT_SENSOR_TRIM_DONE) Q_EMIT message(QStringLiteral("Подстройка завершена"));
}

void HartSensorPanel::pn_OnOff_Click(int tag) {
  TDev* dev = context_.dev();
  if (!dev || tag < 0 || tag > 3) return;
  const uint32_t active = dev->hartChk[tag].active ? 0 : 1;
  dev->hartChk[tag].active = active;
  toggles_[tag]->label()->setText(active ? QStringLiteral("Да") : QStringLiteral("нет"));
  if (active) {
    const float minKpa = dev->devCh[tag].MinKpa;
    const float maxKpa = dev->devCh[tag].MaxKpa;
    min_->setText(formatValue(minKpa, 3));
    max_->setText(formatValue(maxKpa, 3));
  }
  ShowGrid(*dev);
}

void HartSensorPanel::pnTuneClick() {
  TDev* dev = context_.dev();
  if (!dev) return;
  tune_->hide();
  stop_->show();
  infoDo_->clear();
  infoDo_->show();

  // The checks take the pressures as typed, so that a pressure typed exactly on a limit (19.2 for
  // 0...160 kPa) is not refused by its rounding to single precision.
  const double pMin = widgetValue(min_);
  const double pMax = widgetValue(max_);
  dev->trimPmin = static_cast<float>(pMin);
  dev->trimPmax = static_cast<float>(pMax);
  dev->trimTime = wholeSeconds(widgetValue(time_));
  dev->trimCorridor = static_cast<float>(widgetValue(corridor_));

  // Both pressures must lie within 12 % of the span around each selected device's range ends; the
  // message of the last failing check is shown. The buttons come back at the next refresh.
  QString refusal;
  for (int ch = 0; ch < 4; ++ch) {
    const bool on = toggles_[ch]->label()->text() == QStringLiteral("Да");
    dev->trimOn[ch] = on ? 1 : 0;
    if (!on || !dev->hart[ch].found) continue;
    const double minKpa = dev->devCh[ch].MinKpa;
    const double maxKpa = dev->devCh[ch].MaxKpa;
    const double h = std::fabs(maxKpa - minKpa) * kTrimMarginPercent * 0.01;
    if (minKpa - h > pMin) refusal = QStringLiteral("P min  меньше допустомого!");
    if (minKpa + h < pMin) refusal = QStringLiteral("P min  больше допустомого!");
    if (maxKpa - h > pMax) refusal = QStringLiteral("P max  меньше допустомого!");
    if (maxKpa + h < pMax) refusal = QStringLiteral("P max  больше допустомого!");
  }
  if (!refusal.isEmpty()) {
    Q_EMIT message(refusal);
    return;
  }
  for (auto& row : cells_)
    for (QLabel* cell : row) cell->clear();
  context_.startTask(TASK_HART_TUNE_TRIM);
}

void HartSensorPanel::pnCheckStopClick() {
  tune_->show();
  stop_->hide();
  infoDo_->clear();
  context_.startTask(TASK_MEASURE);
}

void HartSensorPanel::lockJobs(const QString& reason) {
  for (LabelPanel* b : {tune_}) hart::enableJob(b, false, reason);
}

}  // namespace arm
