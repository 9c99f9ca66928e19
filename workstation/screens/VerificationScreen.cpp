#include "VerificationScreen.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CalibrationPanel.h"
#include "HartWidgets.h"
#include "LabelPanel.h"
#include "ProjectController.h"
#include "ProtocolExporter.h"
#include "RecordTexts.h"
#include "RunControl.h"
#include "RunSnapshot.h"
#include "Suitability.h"
#include "TDev.h"
#include "TDevValues.h"
#include "UiHelpers.h"
#include "ZDialog.h"
#include "protocol_fields.h"

namespace arm {

namespace {

namespace data = quarn::data;

constexpr int kVoltageSignal = 4;
const QString kNoRelayValue = QStringLiteral("- - - -");
const QString kNoSwitching = QStringLiteral("- - -");
const QString kMessageCaption = QStringLiteral("Сообщение");

// Columns of the results list: the record's number and the reference, then current, pressure and
// error of each channel.
constexpr int kColumnsPerChannel = 3;
constexpr int kFirstChannelColumn = 2;
constexpr int kResultColumns = kFirstChannelColumn + 4 * kColumnsPerChannel;

QColor modeBackground() { return QColor(73, 86, 119); }
QColor chosenModeBackground() { return QColor(0, 128, 0); }
QColor modeText() { return QColor(0, 255, 0); }

// A sunken cell of the channel table.
QLabel* makeCell(const QString& name, QWidget* parent) {
  auto* cell = new QLabel(parent);
  cell->setObjectName(name);
  cell->setFrameShape(QFrame::Panel);
  cell->setFrameShadow(QFrame::Sunken);
  cell->setAlignment(Qt::AlignCenter);
  cell->setAutoFillBackground(true);
  cell->setMinimumSize(84, 30);
  QFont f = cell->font();
  f.setPointSize(f.pointSize() + 2);
  f.setBold(true);
  cell->setFont(f);
  return cell;
}

void setTextColour(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  if (p.color(QPalette::WindowText) == colour) return;
  p.setColor(QPalette::WindowText, colour);
  w->setPalette(p);
}

void setBackground(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  if (p.color(QPalette::Window) == colour) return;
  p.setColor(QPalette::Window, colour);
  w->setPalette(p);
}

QString relayStateText(uint32_t state) { return state ? QStringLiteral("ВКЛ") : QStringLiteral("выкл."); }

QString switchingText(float kPa, int decimals) {
  return std::isnan(kPa) ? kNoSwitching : formatValue(kPa, decimals);
}

QString qs(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

// ---- Reference bar --------------------------------------------------------------------------------

ReferenceBar::ReferenceBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pbEtl"));
  setMinimumSize(200, 22);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

ReferenceBar::Marker ReferenceBar::marker(int width, double pRef, double target, double halfBand) {
  Marker m;
  if (std::isnan(pRef) || std::isnan(target) || std::isnan(halfBand)) return m;
  m.shown = true;
  // A range that runs downwards gives a negative span; the band is as wide either way.
  const double c = std::fabs(halfBand);
  const double low = target - c;
  const double high = target + c;
  m.inside = pRef > low && pRef < high;
  if (m.inside)
    m.x = static_cast<int>(std::lround(width * (pRef - low) / (high - low)));
  else
    m.x = pRef >= high ? width - 5 : 5;
  return m;
}

void ReferenceBar::setValues(double pRef, double target, double halfBand) {
  if (pRef == pRef_ && target == target_ && halfBand == halfBand_) return;
  pRef_ = pRef;
  target_ = target;
  halfBand_ = halfBand;
  update();
}

void ReferenceBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = width();
  const int h = height();
  p.fillRect(rect(), Qt::white);
  // The ready band: the middle quarter of the bar.
  p.fillRect(QRect(w * 3 / 8, 0, w / 4, h), QColor(0, 200, 0));
  const Marker m = marker();
  if (m.shown) p.fillRect(QRect(m.x - 3, 1, 6, h - 2), m.inside ? QColor(0, 0, 255) : QColor(255, 0, 0));
  p.setPen(QPen(QColor(40, 40, 40), 1));
  p.drawLine(0, h / 2, w - 1, h / 2);
  p.drawLine(0, 0, 0, h - 1);
  p.drawLine(w - 1, 0, w - 1, h - 1);
}

// ---- Construction ---------------------------------------------------------------------------------

VerificationScreen::VerificationScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_4_Pov1"), parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(6);
  layout->addWidget(buildTop());

  hint_ = makeLabel(QStringLiteral("lab_Hint"), QString(), this, 1, true);
  setTextColour(hint_, badColour());
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("ProgressBar1"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  progress_->setFixedHeight(14);
  layout->addWidget(hint_);
  layout->addWidget(progress_);

  exporter_ = new ProtocolExporter(context, this);
  layout->addWidget(buildChannelTable());
  relayPanel_ = buildRelayPanel();
  layout->addWidget(relayPanel_);
  calib_ = new CalibrationPanel(context, this);
  calib_->hide();
  layout->addWidget(calib_);
  connect(calib_, &CalibrationPanel::finished, this, [this](const QString& text) {
    becomeIdle();
    showMessage(text);
  });
  // After a lost link the devices left in fixed-current mode are taken out of it on the next
  // connection: the screen shows the calibration panel and locks as for a run meanwhile.
  connect(calib_, &CalibrationPanel::releaseStarted, this, [this] {
    if (!calibMode_) setCalibrationMode(true);
    lockForCalibration();
  });
  connect(calib_, &CalibrationPanel::releaseFinished, this, [this](const QString& text) {
    becomeIdle();
    showMessage(text);
  });
  layout->addWidget(buildResults(), 1);

  connect(&context, &WorkstationContext::signalTypeChanged, this, [this](int type) {
    currentHeading_->setText(type == kVoltageSignal ? QStringLiteral("U, В") : QStringLiteral("Ток, мА"));
  });
  connect(&context, &WorkstationContext::referenceChoiceChanged, this, [this] { handInputChanged(); });

  connect(toExcel_, &LabelPanel::clicked, exporter_, &ProtocolExporter::exportProtocol);
  // After a calibration that ran to its end, "в Excel" writes the calibration's protocol.
  exporter_->setCalibrationSource([this]() -> std::optional<quarn::data::CalibrationRuns> {
    if (!calibMode_ || !calib_->sequence()) return std::nullopt;
    return quarn::data::calibrationRunsOf(*calib_->sequence());
  });

  becomeIdle();
  setButtonEnabled(toExcel_, false);
  paintModeButtons();
  relayPanel_->setVisible(relayMode_);
}

QWidget* VerificationScreen::buildTop() {
  auto* top = new QWidget(this);
  auto* row = new QHBoxLayout(top);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(10);

  // Controls: the two modes, start / stop, hand input.
  auto* controls = new QVBoxLayout;
  controls->setSpacing(6);
  modeCheck_ = hart::makeButton(QStringLiteral("pm_mode_Check"), QStringLiteral("lb_mode_Check"),
                                QStringLiteral("Поверка"), top);
  modeRelay_ = hart::makeButton(QStringLiteral("pm_mode_Relay"), QStringLiteral("lb_mode_Relay"),
                                QStringLiteral("Поверка реле"), top);
  connect(modeCheck_, &LabelPanel::clicked, this, [this] {
    setCalibrationMode(false);
    setRelayMode(false);
  });
  connect(modeRelay_, &LabelPanel::clicked, this, [this] { setRelayMode(true); });
  modeCalib_ = hart::makeButton(QStringLiteral("pm_mode_Calib"), QStringLiteral("lb_mode_Calib"),
                                QStringLiteral("Калибровка с подстройкой"), top);
  connect(modeCalib_, &LabelPanel::clicked, this, [this] { setCalibrationMode(true); });
  auto* modes = new QHBoxLayout;
  modes->addWidget(modeCheck_);
  modes->addWidget(modeRelay_);
  modes->addWidget(modeCalib_);
  controls->addLayout(modes);

  start_ = hart::makeButton(QStringLiteral("Panel_StartPov"), QStringLiteral("Label_StartPov"),
                            QStringLiteral("ПУСК"), top);
  stop_ = hart::makeButton(QStringLiteral("Panel_StopPov"), QStringLiteral("Label_StopPov"),
                           QStringLiteral("СТОП"), top);
  hart::paintButton(start_, QColor(0, 128, 0), Qt::white);
  hart::paintButton(stop_, QColor(190, 0, 0), Qt::white);
  for (LabelPanel* b : {start_, stop_}) {
    b->setMinimumHeight(48);
    QFont f = b->label()->font();
    f.setPointSize(f.pointSize() + 6);
    b->label()->setFont(f);
  }
  connect(start_, &LabelPanel::clicked, this, [this] { startRun(); });
  connect(stop_, &LabelPanel::clicked, this, [this] { stopRun(); });
  controls->addWidget(start_);
  controls->addWidget(stop_);

  handInput_ = new QCheckBox(QStringLiteral("Ручной ввод эталонного давления"), top);
  handInput_->setObjectName(QStringLiteral("cbHandInput"));
  connect(handInput_, &QCheckBox::toggled, this, [this] { handInputChanged(); });
  handValue_ = new QLineEdit(top);
  handValue_->setObjectName(QStringLiteral("ed_EtlHand"));
  handValue_->setMaximumWidth(160);
  NumericKeyFilter::install(handValue_);
  handValue_->hide();
  auto* hand = new QHBoxLayout;
  hand->addWidget(handInput_);
  hand->addWidget(handValue_);
  hand->addStretch(1);
  controls->addLayout(hand);
  addToReport_ = hart::makeButton(QStringLiteral("Panel_AddToReport"), QStringLiteral("Label_AddToReport"),
                                  QStringLiteral("Добавить в протокол"), top);
  connect(addToReport_, &LabelPanel::clicked, this, [this] { addToReport(); });
  controls->addWidget(addToReport_);
  controls->addStretch(1);
  row->addLayout(controls, 2);

  // The reference: its value, the setpoint, the bar and the hint about the input valve.
  auto* reference = new QGridLayout;
  reference->setVerticalSpacing(4);
  refCaption_ = makeLabel(QStringLiteral("Label_Tdev"), QStringLiteral("Эталон, кПа"), top, 2, true);
  refValue_ = makeLabel(QStringLiteral("lab_Etl"), QString(), top, 0, true);
  QFont digits = refValue_->font();
  digits.setPointSize(30);
  digits.setFamily(QStringLiteral("DejaVu Sans Mono"));
  refValue_->setFont(digits);
  refValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  refValue_->setAutoFillBackground(true);
  refValue_->setMinimumSize(260, 56);
  refValue_->setContentsMargins(8, 0, 12, 0);
  setBackground(refValue_, Qt::black);
  setTextColour(refValue_, QColor(0, 255, 0));
  setpointCaption_ = makeLabel(QStringLiteral("lbUstCaption"), QStringLiteral("Уставка, кПа"), top, 2, true);
  setpoint_ = makeLabel(QStringLiteral("lab_setPointValue"), QString(), top, 6, true);
  setpoint_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  bar_ = new ReferenceBar(top);
  info_ = makeLabel(QStringLiteral("lbInfo"), QString(), top, 2, true);
  info_->setAlignment(Qt::AlignCenter);
  reference->addWidget(refCaption_, 0, 0);
  reference->addWidget(refValue_, 0, 1);
  reference->addWidget(setpointCaption_, 1, 0);
  reference->addWidget(setpoint_, 1, 1);
  reference->addWidget(bar_, 2, 0, 1, 2);
  reference->addWidget(info_, 3, 0, 1, 2);
  reference->setRowStretch(4, 1);
  row->addLayout(reference, 3);
  return top;
}

QWidget* VerificationScreen::buildChannelTable() {
  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel_Pov_Meas"));
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(3);
  const QStringList headings{QStringLiteral("Канал"),       QStringLiteral("ВКЛ"),
                             QStringLiteral("Ток, мА"),     QStringLiteral("Давление"),
                             QStringLiteral("Погрешность"), QStringLiteral("Реле 1"),
                             QStringLiteral("Реле 2")};
  for (int col = 0; col < headings.size(); ++col) {
    const QString name = col == 2 ? QStringLiteral("Label9") : QStringLiteral("lbHead_%1").arg(col);
    QLabel* h = makeLabel(name, headings[col], panel, 1, true);
    h->setAlignment(Qt::AlignCenter);
    grid->addWidget(h, 0, col);
    if (col == 2) currentHeading_ = h;
  }
  for (int c = 0; c < 4; ++c) {
    const QString n = QString::number(c + 1);
    ChannelRow& r = channels_[static_cast<std::size_t>(c)];
    QLabel* number = makeLabel(QStringLiteral("lbCh_") + n, n, panel, 4, true);
    number->setAlignment(Qt::AlignCenter);
    r.on = makeCell(QStringLiteral("pn_On_") + n, panel);
    r.current = makeCell(QStringLiteral("pn_Imeas_") + n, panel);
    r.pressure = makeCell(QStringLiteral("pn_P_") + n, panel);
    r.pressure->setMinimumWidth(150);
    r.pressure->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    r.pressure->setIndent(8);
    // The seconds the channel still has to hold its point, at the right of its pressure.
    r.timeLeft = makeLabel(QStringLiteral("labTimeRem") + n, QString(), r.pressure);
    r.timeLeft->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* inside = new QHBoxLayout(r.pressure);
    inside->setContentsMargins(4, 0, 6, 0);
    inside->addStretch(1);
    inside->addWidget(r.timeLeft);
    r.error = makeCell(QStringLiteral("pn_Err_") + n, panel);
    r.relay[0] = makeCell(QStringLiteral("pn_rel1_ch") + n, panel);
    r.relay[1] = makeCell(QStringLiteral("pn_rel2_ch") + n, panel);
    grid->addWidget(number, c + 1, 0);
    int col = 1;
    for (QLabel* cell : {r.on, r.current, r.pressure, r.error, r.relay[0], r.relay[1]}) {
      setBackground(cell, readyBackground());
      grid->addWidget(cell, c + 1, col++);
    }
  }
  grid->setColumnStretch(3, 2);
  return panel;
}

QWidget* VerificationScreen::buildRelayPanel() {
  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel_Pov_Relay"));
  panel->setFrameShape(QFrame::StyledPanel);
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(2);
  const QStringList headings{QStringLiteral("Канал"),          QStringLiteral("P, кПа"),
                             QStringLiteral("Реле 1"),         QStringLiteral("Вкл. при, кПа"),
                             QStringLiteral("Выкл. при, кПа"), QStringLiteral("Реле 2"),
                             QStringLiteral("Вкл. при, кПа"),  QStringLiteral("Выкл. при, кПа")};
  for (int col = 0; col < headings.size(); ++col) {
    QLabel* h = makeLabel(QStringLiteral("lbRelayHead_%1").arg(col), headings[col], panel, 0, true);
    h->setAlignment(Qt::AlignCenter);
    grid->addWidget(h, 0, col);
  }
  for (int c = 0; c < 4; ++c) {
    const QString n = QString::number(c + 1);
    QLabel* number = makeLabel(QStringLiteral("lbRelayCh_") + n, n, panel, 0, true);
    number->setAlignment(Qt::AlignCenter);
    grid->addWidget(number, c + 1, 0);
    QLabel* p = makeCell(QStringLiteral("pn_P_%1_r").arg(n), panel);
    p->setMinimumHeight(24);
    setBackground(p, readyBackground());
    relayPressure_[static_cast<std::size_t>(c)] = p;
    grid->addWidget(p, c + 1, 1);
    for (int r = 0; r < 2; ++r) {
      // Named by relay number, then channel number: lr_State_21 is relay 2 of channel 1.
      const QString suffix = QString::number(r + 1) + n;
      RelayLabels& l = relayLabels_[static_cast<std::size_t>(2 * c + r)];
      l.state = makeLabel(QStringLiteral("lr_State_") + suffix, kNoRelayValue, panel, 0, true);
      l.pOn = makeLabel(QStringLiteral("lr_Pmax_") + suffix, kNoRelayValue, panel);
      l.pOff = makeLabel(QStringLiteral("lr_Pmin_") + suffix, kNoRelayValue, panel);
      int col = 2 + 3 * r;
      for (QLabel* x : {l.state, l.pOn, l.pOff}) {
        x->setAlignment(Qt::AlignCenter);
        grid->addWidget(x, c + 1, col++);
      }
    }
  }
  return panel;
}

namespace {
// A selected row keeps each cell's own text colour (the red of an error beyond its limit) on a light
// selection colour; the style's selection would paint every text in its highlighted colour.
class KeepTextColourDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant foreground = index.data(Qt::ForegroundRole);
    if (!foreground.isValid()) return;
    const QColor colour = foreground.value<QBrush>().color();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
      option->palette.setColor(group, QPalette::HighlightedText, colour);
      option->palette.setColor(group, QPalette::Highlight, QColor(189, 207, 233));
    }
  }
};
}  // namespace

QWidget* VerificationScreen::buildResults() {
  auto* box = new QWidget(this);
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(0, 0, 0, 0);
  results_ = new QTableWidget(0, kResultColumns, box);
  results_->setObjectName(QStringLiteral("lvRes"));
  QStringList headings{QStringLiteral("№"), QStringLiteral("Эталон")};
  for (int c = 1; c <= 4; ++c) {
    headings << QStringLiteral("I %1").arg(c) << QStringLiteral("P %1").arg(c)
             << (c == 1 ? QStringLiteral(" % 1") : QStringLiteral("% %1").arg(c));
  }
  results_->setHorizontalHeaderLabels(headings);
  results_->verticalHeader()->hide();
  results_->verticalHeader()->setDefaultSectionSize(22);
  // Every column as wide as its widest number; the list scrolls sideways when they do not fit.
  results_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  results_->horizontalHeader()->setMinimumSectionSize(24);
  QFont small = results_->font();
  small.setPointSize(std::max(small.pointSize() - 1, 7));
  results_->setFont(small);
  results_->setSelectionBehavior(QAbstractItemView::SelectRows);
  results_->setSelectionMode(QAbstractItemView::SingleSelection);
  results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  results_->setItemDelegate(new KeepTextColourDelegate(results_));
  connect(results_, &QTableWidget::itemSelectionChanged, this, [this] { updateDeleteButtons(); });
  row->addWidget(results_, 1);

  auto* buttons = new QVBoxLayout;
  deleteOne_ = hart::makeButton(QStringLiteral("pn_Del_1"), QStringLiteral("lb_Del_1"),
                                QStringLiteral("Удалить запись"), box);
  deleteAll_ = hart::makeButton(QStringLiteral("pn_Del_All"), QStringLiteral("lb_Del_All"),
                                QStringLiteral("Удалить всё"), box);
  toExcel_ = hart::makeButton(QStringLiteral("pn_ToExcell"), QStringLiteral("lb_ToExcell"),
                              QStringLiteral("в Excel"), box);
  for (LabelPanel* b : {deleteOne_, deleteAll_, toExcel_}) {
    b->setMinimumWidth(130);
    buttons->addWidget(b);
  }
  // A PDF of the protocol beside the workbook (needs LibreOffice).
  buttons->addWidget(exporter_->createPdfCheckBox(box));
  buttons->addStretch(1);
  connect(deleteOne_, &LabelPanel::clicked, this, [this] { deleteSelected(); });
  connect(deleteAll_, &LabelPanel::clicked, this, [this] { deleteAll(); });
  row->addLayout(buttons);
  updateDeleteButtons();
  return box;
}

TDev* VerificationScreen::record() const { return context().dev(); }

void VerificationScreen::showMessage(const QString& text) {
  context().messageWindow().showMessage(text, false, kMessageCaption);
  Q_EMIT messageShown(text);
}

void VerificationScreen::setButtonEnabled(LabelPanel* button, bool enabled) {
  if (button->isEnabled() != enabled) enableTree(button, enabled);
}

void VerificationScreen::paintModeButtons() {
  const bool check = !relayMode_ && !calibMode_;
  hart::paintButton(modeCheck_, check ? chosenModeBackground() : modeBackground(),
                    check ? QColor(Qt::white) : modeText());
  hart::paintButton(modeRelay_, relayMode_ ? chosenModeBackground() : modeBackground(),
                    relayMode_ ? QColor(Qt::white) : modeText());
  hart::paintButton(modeCalib_, calibMode_ ? chosenModeBackground() : modeBackground(),
                    calibMode_ ? QColor(Qt::white) : modeText());
}

void VerificationScreen::updateDeleteButtons() {
  setButtonEnabled(deleteOne_, results_->selectionModel()->selectedRows().size() == 1);
  setButtonEnabled(deleteAll_, results_->rowCount() > 0);
}

// ---- Operations -----------------------------------------------------------------------------------

bool VerificationScreen::startRun() {
  TDev* dev = record();
  if (!dev || running_) return false;
  refreshStartPermission(*dev);
  if (!start_->isEnabled()) return false;
  if (calibMode_) {
    // The sequence prepares each of its runs itself, as below; the screen locks as for a run.
    results_->setRowCount(0);
    updateDeleteButtons();
    if (!calib_->start()) return false;
    lockForCalibration();
    return true;
  }

  // The run starts from the project as quarn-cli starts it, and takes its own copy of what it uses:
  // whatever changes in the parameters later, its results, protocol and history entry stay its own.
  const bool hand = handInput_->isChecked();
  ProjectController& project = context().project();
  const data::Result<data::RunStart> ready = data::prepareVerification(
      project.model(), *dev, project.applyOptions(), relayMode_, std::nullopt, hand);
  if (!ready) {
    showMessage(qs(ready.why()));
    return false;
  }
  const data::RunStart& r = *ready;
  context().setRun(std::make_unique<data::RunSnapshot>(*dev, project.model(),
                                                       quarn::report::protocolPlaceholders(project.model())));
  // The parameters are locked while the run uses them; the hand-input choice too.
  context().setRunActive(true);
  handInput_->setEnabled(false);
  handInput_->setVisible(hand);
  handValue_->setVisible(hand);
  bar_->setVisible(!hand);
  results_->setRowCount(0);
  updateDeleteButtons();
  progressMax_ = r.progressMax;
  progress_->setRange(0, std::max(progressMax_, 1));
  progress_->setValue(0);
  info_->setVisible(context().uiQuarn() && !hand);
  // Nothing to export yet; and while the library runs the points, "в Excel" would stop its timer
  // under the run.
  setButtonEnabled(toExcel_, false);
  if (r.startTask) context().startTask(TASK_CHECK);

  running_ = true;
  // The operator stays on this screen while the run lasts: a task started from another screen
  // would abandon the run.
  context().setModeButtonsEnabled(false);
  addToReport_->setVisible(hand);
  setButtonEnabled(modeCheck_, false);
  setButtonEnabled(modeRelay_, false);
  for (QWidget* w : {static_cast<QWidget*>(modeCheck_), static_cast<QWidget*>(modeRelay_),
                     static_cast<QWidget*>(handInput_)})
    w->setToolTip(WorkstationContext::runLockReason());
  // "в Excel" stops the library's timer, under a run of the library's.
  if (r.startTask) toExcel_->setToolTip(WorkstationContext::runLockReason());
  start_->hide();
  stop_->show();
  refresh(*dev);
  return true;
}

void VerificationScreen::lockForCalibration() {
  context().setCalibrationActive(true);
  context().setRunActive(true);
  running_ = true;
  context().setModeButtonsEnabled(false);
  for (LabelPanel* b : {modeCheck_, modeRelay_, modeCalib_}) {
    setButtonEnabled(b, false);
    b->setToolTip(WorkstationContext::runLockReason());
  }
  handInput_->setEnabled(false);
  setButtonEnabled(toExcel_, false);
  start_->hide();
  stop_->show();
}

void VerificationScreen::stopRun() {
  if (calib_->releasing()) {
    // Its end (releaseFinished) makes the screen idle.
    calib_->stop();
    return;
  }
  if (calibMode_ && calib_->running()) {
    // The sequence ends once the devices are out of fixed-current mode (its finished signal).
    calib_->stop();
    if (!calib_->running()) becomeIdle();
    return;
  }
  followRun();
  context().startTask(TASK_MEASURE);
  becomeIdle();
}

void VerificationScreen::followRun() {
  TDev* dev = record();
  if (running_ && dev && context().run()) context().run()->follow(*dev);
}

const TDev& VerificationScreen::shownRecord(const TDev& live) const {
  // Before the first run the list shows what the record holds.
  return context().run() ? context().run()->record() : live;
}

void VerificationScreen::becomeIdle() {
  const bool wasRunning = running_;
  running_ = false;
  context().setModeButtonsEnabled(true);
  setButtonEnabled(toExcel_, true);
  for (ChannelRow& r : channels_) {
    r.timeLeft->clear();
    r.timeLeft->hide();
  }
  addToReport_->hide();
  setButtonEnabled(modeCheck_, true);
  setButtonEnabled(modeRelay_, true);
  setButtonEnabled(modeCalib_, true);
  modeCalib_->setToolTip(QString());
  for (QWidget* w : {static_cast<QWidget*>(modeCheck_), static_cast<QWidget*>(modeRelay_),
                     static_cast<QWidget*>(handInput_), static_cast<QWidget*>(toExcel_)})
    w->setToolTip(QString());
  start_->show();
  stop_->hide();
  handInput_->setEnabled(true);
  handInput_->show();
  handValue_->setVisible(handInput_->isChecked());
  bar_->hide();
  progress_->setValue(0);
  // The typed reference was the run's only: the calibrator's is the reference again.
  if (TDev* dev = record()) dev->handInput = 0;
  if (wasRunning) context().setRunActive(false);
  context().setCalibrationActive(false);
}

void VerificationScreen::setCalibrationMode(bool on) {
  if (running_) return;
  if (on) setRelayMode(false);
  calibMode_ = on;
  calib_->setVisible(on);
  paintModeButtons();
}

void VerificationScreen::setRelayMode(bool relay) {
  if (running_) return;
  if (relay) {
    calibMode_ = false;
    calib_->hide();
  }
  relayMode_ = relay;
  if (TDev* dev = record()) {
    dev->povMode = relay ? 1 : 0;
    refreshStartPermission(*dev);
  }
  relayPanel_->setVisible(relay);
  paintModeButtons();
}

void VerificationScreen::handInputChanged() {
  // Only a run takes the choice into the record (at its start): outside a run the typed value is
  // nobody's reference, and the status line and the graph go on showing the calibrator's.
  handValue_->setVisible(handInput_->isChecked());
}

bool VerificationScreen::addToReport() {
  TDev* dev = record();
  if (!dev || !running_) return false;
  // The value typed last counts, also when no notification has come since.
  if (dev->handInput) data::setHandReference(*dev, textToValue(handValue_->text()));
  if (const data::Outcome added = data::addHandResult(*dev); !added) {
    showMessage(qs(added.why()));
    return false;
  }
  followRun();
  setButtonEnabled(toExcel_, true);
  syncResults(*dev);
  if (context().currentMode() == kModeVerification)
    progress_->setValue(std::min(static_cast<int>(dev->pointIdx), progress_->maximum()));
  return true;
}

void VerificationScreen::deleteSelected() {
  TDev* dev = record();
  const QModelIndexList rows = results_->selectionModel()->selectedRows();
  if (!dev || rows.size() != 1) return;
  const int row = rows.front().row();
  const QTableWidgetItem* number = results_->item(row, 0);
  const int k = number ? number->data(Qt::UserRole).toInt() : -1;
  if (k >= 0 && k < POV_POINTS_MAX) std::memset(&dev->results[k], 0, sizeof(TPovResult));
  if (data::RunSnapshot* run = context().run()) run->deleteResult(k);
  results_->removeRow(row);
  updateDeleteButtons();
}

void VerificationScreen::deleteAll() {
  results_->setRowCount(0);
  if (TDev* dev = record()) std::memset(dev->results, 0, sizeof dev->results);
  if (data::RunSnapshot* run = context().run()) run->deleteAllResults();
  updateDeleteButtons();
}

// ---- Refresh --------------------------------------------------------------------------------------

void VerificationScreen::afterBinding(TDev& dev) {
  relayMode_ = dev.povMode == 1;
  relayPanel_->setVisible(relayMode_);
  paintModeButtons();
}

void VerificationScreen::refresh(TDev& dev) {
  // The run's results as the library records them; everything else of the run stays as it started.
  followRun();
  // Also a lost link: the sequence says so and keeps what it left in fixed-current mode.
  if (running_ && calibMode_) calib_->notify(dev);
  calib_->watch(dev);
  refreshBar(dev);
  refreshInputHint(dev);
  refreshStartPermission(dev);
  if (!dev.linked) {
    // The library stops a run whose link is lost; the screen says so once and goes idle.
    if (running_ && !calibMode_) checkRunEnd(dev);
    // The last readings of a calibrator that is gone are not shown as if they were this moment's.
    refValue_->clear();
    for (ChannelRow& r : channels_)
      for (QLabel* cell : {r.current, r.pressure, r.error}) cell->clear();
    return;
  }
  if (startPending_ && start_->isEnabled() && dev.kestoDataValid) {
    startPending_ = false;
    QTimer::singleShot(0, this, [this] { startRun(); });
  }
  refreshRelayResults(dev);
  syncResults(dev);
  updateDeleteButtons();
  for (int c = 0; c < 4; ++c)
    channels_[static_cast<std::size_t>(c)].on->setText(dev.devCh[c].enabled ? QStringLiteral("Да")
                                                                            : QStringLiteral("нет"));
  if (running_ && !calibMode_)
    checkRunEnd(dev);
  else if (!running_)
    progress_->setValue(0);
  setpoint_->setEnabled(dev.linked != 0);
  if (running_) {
    const double target = static_cast<double>(dev.pTarget) * dev.settings.unitFactor;
    setpoint_->setText(formatValue(target, dev.settings.decimals));
  }
  if (dev.event == EVENT_SETTINGS_READ) {
    const QString unit = unitName(dev.settings.units);
    refCaption_->setText(QStringLiteral("Эталон, ") + unit);
    setpointCaption_->setText(QStringLiteral("Уставка, ") + unit);
  }
  refreshTimeLeft(dev);
  refreshReference(dev);
  if (dev.kestoDataValid) {
    refreshChannels(dev);
  } else {
    // A reading of the module failed: the record still holds the last values it gave, which are not
    // this moment's and are not shown as if they were.
    for (ChannelRow& r : channels_)
      for (QLabel* cell : {r.current, r.pressure, r.error}) cell->clear();
  }
}

void VerificationScreen::refreshBar(const TDev& dev) {
  const float span = dev.povSpan != 0 ? dev.povSpan : dev.calInfo.span;
  const double halfBand = static_cast<double>(span) * dev.settings.readyBand1 * 4 / 100;
  bar_->setValues(dev.pRef, dev.pTarget, halfBand);
}

void VerificationScreen::refreshInputHint(const TDev& dev) {
  int s = 0;
  if (running_ && dev.linked) s = dev.inputOn || dev.settings.refSource == REF_SOURCE_EXTERNAL ? 2 : 1;
  if (context().uiBrenk()) {
    info_->hide();
    setpointCaption_->show();
    setpoint_->show();
    return;
  }
  const bool hand = handInput_->isChecked();
  if (s == 0 || (dev.settings.refSource == REF_SOURCE_EXTERNAL && hand)) {
    info_->hide();
    setpointCaption_->hide();
    setpoint_->hide();
    return;
  }
  if (s == 1) {
    info_->setText(QStringLiteral("\n Включите вход!"));
    setTextColour(info_, badColour());
  } else {
    info_->setText(QStringLiteral("Установите давление, соответствующее уставке"));
    setTextColour(info_, goodColour());
  }
  info_->setVisible(!hand);
  setpointCaption_->show();
  setpoint_->show();
}

void VerificationScreen::refreshStartPermission(const TDev& dev) {
  const data::StartPermission p = data::startPermission(dev, context().project().paramsValid(), relayMode_);
  QString hint = qs(p.hint);
  if (!p.allowed && hint.isEmpty()) hint = QStringLiteral("* Не выбрано ни одно реле");
  // A run needs the calibrator: without it the start would clear the results for a run that cannot
  // proceed.
  if (p.allowed && !dev.linked) hint = QStringLiteral("* Нет связи с калибратором");
  if (hint_->text() != hint) hint_->setText(hint);
  // A task started while the connection is being set up would abandon it.
  setButtonEnabled(start_, p.allowed && dev.linked && !context().connecting());
}

void VerificationScreen::refreshRelayResults(const TDev& dev) {
  const int decimals = dev.settings.decimals;
  for (int c = 0; c < 4; ++c) {
    relayPressure_[static_cast<std::size_t>(c)]->setText(formatValue(dev.ch[c].pFromIKPa, decimals));
    for (int r = 0; r < 2; ++r) {
      const int k = 2 * c + r;
      const TRelayResult& x = dev.relays[k];
      RelayLabels& l = relayLabels_[static_cast<std::size_t>(k)];
      l.state->setText(relayStateText(x.state));
      l.pOn->setText(switchingText(x.pOn, decimals));
      l.pOff->setText(switchingText(x.pOff, decimals));
    }
  }
}

void VerificationScreen::syncResults(const TDev& live) {
  const TDev& dev = shownRecord(live);
  const int valid = data::validResultCount(dev);
  if (valid == 0 || valid == results_->rowCount()) return;
  results_->setRowCount(valid);
  int row = 0;
  for (int k = 0; k < POV_POINTS_MAX && row < valid; ++k)
    if (dev.results[k].valid) writeRow(row++, k, dev);
  results_->selectRow(valid - 1);
  results_->scrollToBottom();
  updateDeleteButtons();
}

void VerificationScreen::writeRow(int row, int record, const TDev& dev) {
  const TPovResult& r = dev.results[record];
  const int digits = std::clamp(static_cast<int>(dev.cDigits), 0, 9);
  const float vrCoeff = dev.povHeader.vrCoeff;
  auto put = [&](int column, const QString& text, const QColor& colour = Qt::black) {
    auto* item = new QTableWidgetItem(text);
    item->setForeground(colour);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    results_->setItem(row, column, item);
    return item;
  };
  put(0, QString::number(row))->setData(Qt::UserRole, record);
  put(1, formatValue(static_cast<double>(r.pRef) * dev.settings.unitFactor, 4));
  for (int c = 0; c < 4; ++c) {
    const int col = kFirstChannelColumn + kColumnsPerChannel * c;
    if (!dev.devCh[c].enabled) {
      for (int i = 0; i < kColumnsPerChannel; ++i) put(col + i, QString());
      continue;
    }
    const TPovChResult& x = r.ch[c];
    put(col, formatValue(x.current, digits));
    put(col + 1, formatValue(x.pFromI, digits));
    const bool ok = data::withinLimit(x.reducedError, dev.devCh[c].errOk, vrCoeff);
    put(col + 2, formatValue(x.reducedError, digits), ok ? QColor(Qt::black) : badColour());
  }
}

void VerificationScreen::checkRunEnd(const TDev& dev) {
  const data::RunEndInfo end = data::checkRunEnd(dev);
  if (end.end == data::RunEnd::Running) {
    if (context().currentMode() == kModeVerification)
      progress_->setValue(std::min(static_cast<int>(dev.pointIdx), progress_->maximum()));
    return;
  }
  // This runs inside the library's notification: the screen goes idle now, and the measuring task
  // starts once the library's step is over (a task started inside a step would cut it short).
  const bool relay = end.end == data::RunEnd::RelayCheckFinished;
  QString text = qs(end.message);
  text.replace(QLatin1Char('\t'), QLatin1Char(' '));
  if (end.end == data::RunEnd::LinkLost) {
    // Stopped, not finished: no run to store, and no measuring task, which would cut short the
    // library's search for the calibrator.
    becomeIdle();
    showMessage(text);
    return;
  }
  if (relay) showMessage(text);
  becomeIdle();
  QTimer::singleShot(0, this, [this] {
    if (!running_) context().startTask(TASK_MEASURE);
  });
  if (!relay) showMessage(text);
  Q_EMIT context().runFinished(relay);
}

void VerificationScreen::refreshTimeLeft(const TDev& dev) {
  for (int c = 0; c < 4; ++c) {
    QLabel* l = channels_[static_cast<std::size_t>(c)].timeLeft;
    const bool shown = running_ && dev.devCh[c].enabled;
    l->setVisible(shown);
    if (shown) l->setText(qs(data::holdTimeText(data::holdTimeLeft(dev, c))));
  }
}

void VerificationScreen::refreshReference(TDev& dev) {
  if (running_ && dev.handInput) {
    data::setHandReference(dev, textToValue(handValue_->text()));
    return;
  }
  if (dev.event != EVENT_MEASUREMENT) return;
  refValue_->setText(formatValue(dev.pRefUnits, dev.settings.decimals));
  setTextColour(refValue_, dev.refStat.inCorridor ? QColor(0, 255, 0) : QColor(255, 255, 0));
}

void VerificationScreen::refreshChannels(const TDev& dev) {
  const int decimals = dev.settings.decimals;
  const double unitFactor = dev.settings.unitFactor;
  const float vrCoeff = dev.povHeader.vrCoeff;
  for (int c = 0; c < 4; ++c) {
    ChannelRow& r = channels_[static_cast<std::size_t>(c)];
    const std::array<QLabel*, 5> cells{r.current, r.pressure, r.error, r.relay[0], r.relay[1]};
    if (!dev.devCh[c].enabled) {
      for (QLabel* cell : cells) {
        cell->clear();
        setBackground(cell, readyBackground());
      }
      setBackground(r.on, readyBackground());
      continue;
    }
    const TMeasCh& m = dev.ch[c];
    r.current->setText(formatValue(m.current, 4));
    r.pressure->setText(formatValue(m.pFromIKPa * unitFactor, decimals));
    setTextColour(r.pressure, m.pStat.stable ? goodColour() : badColour());
    const bool ok = data::withinLimit(m.reducedError, dev.devCh[c].errOk, vrCoeff);
    r.error->setText(formatValue(m.reducedError, 3));
    setTextColour(r.error, ok ? goodColour() : badColour());
    for (int k = 0; k < 2; ++k)
      r.relay[static_cast<std::size_t>(k)]->setText(relayStateText(dev.relays[2 * c + k].state));
    const bool ready = !running_ || (dev.refStat.inCorridor && ok);
    const QColor background = ready ? readyBackground() : waitBackground();
    setBackground(r.on, background);
    for (QLabel* cell : cells) setBackground(cell, background);
  }
}

}  // namespace arm
