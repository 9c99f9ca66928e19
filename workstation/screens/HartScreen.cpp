#include "HartScreen.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "HartCurrentPanel.h"
#include "HartDevicePanel.h"
#include "HartSensorPanel.h"
#include "HartWidgets.h"
#include "LabelPanel.h"
#include "TDev.h"
#include "ZDialog.h"

namespace arm {

namespace {

constexpr uint32_t kErrHartResponse = 2;
// Failures of the HART procedures the screen starts: current trim (3), fixed current (4), current
// measurement (5), Kesto channel select (6).
constexpr uint32_t kErrFirstHartFailure = 3;
constexpr uint32_t kErrLastHartFailure = 6;

QLabel* makeSelector(const QString& name, const QString& caption, QWidget* parent) {
  auto* s = new QLabel(caption, parent);
  s->setObjectName(name);
  s->setFrameShape(QFrame::Panel);
  s->setLineWidth(2);
  s->setAlignment(Qt::AlignCenter);
  s->setMinimumSize(170, 30);
  s->setCursor(Qt::PointingHandCursor);
  s->setAutoFillBackground(true);
  QFont f = s->font();
  f.setBold(true);
  s->setFont(f);
  return s;
}

}  // namespace

HartScreen::HartScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_2_HART1"), parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(6);

  device_ = new HartDevicePanel(context, this);
  markOwner(device_);
  layout->addWidget(device_);

  auto* separator = new QFrame(this);
  separator->setObjectName(QStringLiteral("Bevel1"));
  separator->setFrameShape(QFrame::HLine);
  separator->setFrameShadow(QFrame::Sunken);
  layout->addWidget(separator);

  selectorI_ = makeSelector(QStringLiteral("StaticText_I"), QStringLiteral("Токовый выход"), this);
  selectorS_ = makeSelector(QStringLiteral("StaticText_Sens"), QStringLiteral("Сенсор"), this);
  auto* selectors = new QHBoxLayout;
  selectors->setSpacing(4);
  for (QLabel* s : {selectorI_, selectorS_}) {
    s->installEventFilter(this);
    selectors->addWidget(s);
  }
  selectors->addStretch(1);
  layout->addLayout(selectors);

  // Both panels in the same place; one is shown.
  pnI_ = new QWidget(this);
  pnI_->setObjectName(QStringLiteral("pn_I"));
  pnS_ = new QWidget(this);
  pnS_->setObjectName(QStringLiteral("pn_S"));
  current_ = new HartCurrentPanel(context, pnI_);
  sensor_ = new HartSensorPanel(context, pnS_);
  markOwner(current_);
  markOwner(sensor_);
  for (auto [holder, panel] : {std::pair<QWidget*, QWidget*>{pnI_, current_}, {pnS_, sensor_}}) {
    auto* l = new QVBoxLayout(holder);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(panel);
  }
  auto* place = new QGridLayout;
  place->addWidget(pnI_, 0, 0);
  place->addWidget(pnS_, 0, 0);
  layout->addLayout(place, 1);
  Type_Click(selectorI_);

  auto forward = [this](const QString& text) { showMessage(text, inRefresh_); };
  connect(device_, &HartDevicePanel::message, this, forward);
  connect(current_, &HartCurrentPanel::message, this, forward);
  connect(sensor_, &HartSensorPanel::message, this, forward);
  connect(current_, &HartCurrentPanel::tuneLabelClicked, this, [this] { Frame_Mode_2_2_HART1Label2Click(); });
  // A HART job started during a verification would abandon it: the jobs are locked at its start; the
  // refreshes keep them locked until it ends.
  connect(&context, &WorkstationContext::runStateChanged, this, [this](bool running) {
    if (!running) return;
    const QString reason = WorkstationContext::runLockReason();
    device_->lockJobs(reason);
    current_->lockJobs(reason);
    sensor_->lockJobs(reason);
  });
}

void HartScreen::Type_Click(QLabel* selector) {
  const bool current = selector != selectorS_;
  pnI_->setVisible(current);
  pnS_->setVisible(!current);
  selectorI_->setFrameShadow(current ? QFrame::Sunken : QFrame::Raised);
  selectorS_->setFrameShadow(current ? QFrame::Raised : QFrame::Sunken);
  // The chosen one also light, as the chosen channel and mode are.
  for (QLabel* s : {selectorI_, selectorS_}) {
    const bool chosen = s->frameShadow() == QFrame::Sunken;
    QPalette p = s->palette();
    p.setColor(QPalette::Window, chosen ? hart::selectedPanel() : hart::darkPanel());
    p.setColor(QPalette::WindowText, chosen ? Qt::black : Qt::white);
    s->setPalette(p);
  }
}

void HartScreen::Frame_Mode_2_2_HART1Label2Click() { current_->pnTuneClick(); }

bool HartScreen::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == selectorI_ || watched == selectorS_) && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Type_Click(static_cast<QLabel*>(watched));
    return true;
  }
  return Screen::eventFilter(watched, event);
}

void HartScreen::refresh(TDev& dev) { HartRefresh(dev); }

void HartScreen::HartRefresh(TDev& dev) {
  inRefresh_ = true;
  const uint32_t errCode = dev.errCode;
  // During a run or a calibration the error codes belong to the verification screen's sequence,
  // which reads them after this screen (a device's refusal, the lost link, an exit from fixed-current
  // mode not confirmed) and tells them itself: they are neither shown here nor cleared.
  const bool runActive = context().runActive();
  if (!runActive && errCode == kErrHartResponse) {
    // The device's response text; a record without one still says what happened.
    QString text = hart::libraryText(dev.errText);
    if (text.isEmpty()) text = QStringLiteral("HART-устройство вернуло код ошибки");
    showMessage(text, true);
  } else if (!runActive && errCode >= kErrFirstHartFailure && errCode <= kErrLastHartFailure && dev.errText) {
    // A procedure that failed ends back in measuring like one that succeeded: without the text the
    // operator would not know that the devices may still be in fixed-current mode.
    showMessage(hart::libraryText(dev.errText), true);
  }
  device_->RefreshFromDev(dev);
  current_->RefreshFromDev(dev);
  sensor_->RefreshFromDev(dev);
  if (!runActive) dev.errCode = 0;
  inRefresh_ = false;
  const LabelPanel* search = device_->searchButton();
  if (searchRequested_ && search->isEnabled() && !search->isHidden()) {
    searchRequested_ = false;
    // Not from inside the library's notification: the click starts a task.
    QTimer::singleShot(0, this, [this] { device_->pnHartSearchClick(); });
  }
}

void HartScreen::showMessage(const QString& text, bool fromLibrary) {
  ZDialog& window = context().messageWindow();
  const TDev* dev = context().dev();
  const uint32_t task = dev ? dev->task : 0;
  const bool stillShown = window.isVisible() && window.text() == windowText_;
  if (fromLibrary && !libraryMessages_.isEmpty() && task == messageTask_ && stillShown) {
    if (!libraryMessages_.contains(text)) libraryMessages_ << text;
  } else {
    libraryMessages_ = fromLibrary ? QStringList{text} : QStringList{};
  }
  messageTask_ = task;
  QString shown = fromLibrary ? libraryMessages_.join(QLatin1Char('\n')) : text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  windowText_ = shown;
  window.showMessage(shown, false, QStringLiteral("Сообщение"));
  Q_EMIT messageShown(text);
}

}  // namespace arm
