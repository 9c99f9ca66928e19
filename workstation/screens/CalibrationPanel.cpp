#include "CalibrationPanel.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "IniValues.h"
#include "ProjectController.h"
#include "RunControl.h"
#include "RunSnapshot.h"
#include "TDevValues.h"
#include "WorkstationContext.h"
#include "protocol_fields.h"

namespace arm {

namespace data = quarn::data;

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QString verdictText(const std::optional<bool>& v) {
  if (!v) return QStringLiteral("—");
  return *v ? QStringLiteral("годен") : QStringLiteral("не годен");
}

QString channelList(const std::array<bool, 4>& channels) {
  QStringList out;
  for (int c = 0; c < 4; ++c)
    if (channels[static_cast<size_t>(c)]) out << QString::number(c + 1);
  return out.join(QStringLiteral(", "));
}

// "Прибор канала 1 может" or "Приборы каналов 1, 2 могут".
QString devicesMay(const std::array<bool, 4>& channels) {
  const bool single = std::count(channels.begin(), channels.end(), true) == 1;
  return (single ? QStringLiteral("Прибор канала %1 может") : QStringLiteral("Приборы каналов %1 могут"))
      .arg(channelList(channels));
}

QString adjustedText(const data::CalibrationChannel& c) {
  if (c.sensorTrimmed && c.currentTrimmed) return QStringLiteral("сенсор, ток");
  if (c.sensorTrimmed) return QStringLiteral("сенсор");
  if (c.currentTrimmed) return QStringLiteral("ток");
  return c.toAdjust ? QStringLiteral("нужна") : QStringLiteral("нет");
}

}  // namespace

// The sequence's side of the workstation: tasks through the context, each verification prepared as
// "ПУСК" prepares it, with the run's snapshot handed to the context (the results list, the protocol
// and the run history take it from there).
class CalibrationPanel::Host : public data::CalibrationHost {
 public:
  explicit Host(WorkstationContext& context) : context_(context) {}
  TDev& dev() override { return *context_.dev(); }
  void startTask(uint32_t task) override { context_.startTask(task); }
  std::unique_ptr<data::RunSnapshot> prepareRun(std::string& why) override {
    TDev& d = dev();
    ProjectController& project = context_.project();
    const data::Result<data::RunStart> ready =
        data::prepareVerification(project.model(), d, project.applyOptions(), false);
    if (!ready) {
      why = ready.why();
      return nullptr;
    }
    auto run = std::make_unique<data::RunSnapshot>(d, project.model(),
                                                   quarn::report::protocolPlaceholders(project.model()));
    context_.setRun(std::make_unique<data::RunSnapshot>(*run));
    // The first run is the as-found, the second the as-left: so they go into the history.
    context_.setCalibrationRunTag(runs_++ == 0 ? 0 : 1);
    return run;
  }
  // A new sequence: its first run is the as-found again.
  void restart() { runs_ = 0; }

 private:
  WorkstationContext& context_;
  int runs_ = 0;
};

CalibrationPanel::CalibrationPanel(WorkstationContext& context, QWidget* parent)
    : QFrame(parent), context_(context), host_(std::make_unique<Host>(context)), release_(*host_) {
  setObjectName(QStringLiteral("Panel_Calib"));
  setFrameShape(QFrame::StyledPanel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 4);
  stage_ =
      new QLabel(QStringLiteral("Калибровка с подстройкой: поверка до подстройки, подстройка HART-приборов, "
                                "поверка после подстройки"),
                 this);
  stage_->setObjectName(QStringLiteral("lbCalibStage"));
  QFont bold = stage_->font();
  bold.setBold(true);
  stage_->setFont(bold);
  layout->addWidget(stage_);
  table_ = new QTableWidget(4, 5, this);
  table_->setObjectName(QStringLiteral("lvCalib"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Канал"), QStringLiteral("До подстройки"),
                                     QStringLiteral("Подстройка"), QStringLiteral("После подстройки"),
                                     QStringLiteral("Примечание")});
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->horizontalHeader()->setStretchLastSection(true);
  for (int c = 0; c < 4; ++c)
    table_->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  table_->setFixedHeight(table_->horizontalHeader()->sizeHint().height() + 4 * 26 + 4);
  for (int r = 0; r < 4; ++r) {
    table_->setRowHeight(r, 26);
    for (int c = 0; c < 5; ++c)
      table_->setItem(r, c, new QTableWidgetItem(c == 0 ? QString::number(r + 1) : QString()));
  }
  layout->addWidget(table_);
}

CalibrationPanel::~CalibrationPanel() = default;

bool CalibrationPanel::start(bool always) {
  if (running() || releasing() || !context_.dev()) return false;
  host_->restart();
  data::CalibrationOptions options;
  options.always = always;
  const data::ReadinessSettings& readiness = context_.project().model().readiness;
  if (const double hold = data::scanNumber(readiness.holdTimeS); hold >= 1 && hold <= 600)
    options.trimHoldS = static_cast<int32_t>(hold);
  if (const double band = data::scanNumber(readiness.bandPrc); band > 0 && band <= 5)
    options.trimCorridorPercent = static_cast<float>(band);
  sequence_ = std::make_unique<data::CalibrationSequence>(*host_, options);
  endTold_ = false;
  sequence_->start();
  showState();
  return true;
}

void CalibrationPanel::stop() {
  if (releasing()) {
    // The devices stay on the list; the next connection tries again.
    context_.startTask(TASK_MEASURE);
    release_.arm(release_.channels());
    showState();
    Q_EMIT releaseFinished(QStringLiteral("Выход из режима фиксированного тока остановлен оператором: ") +
                           devicesMay(release_.channels()) +
                           QStringLiteral(" оставаться в режиме фиксированного тока."));
    return;
  }
  if (!running()) return;
  sequence_->stop();
  context_.calibrationStepped(*sequence_);
  showState();
  // Stopped at once (nothing fixed at a current): the end is told now, since the screen goes idle and
  // passes no more notifications on.
  if (sequence_->finished()) tellEnd();
}

void CalibrationPanel::notify(const TDev& dev) {
  if (!sequence_ || endTold_) return;
  sequence_->onNotify(dev);
  if (sequence_->actionDue() && !advanceQueued_) {
    // A task started inside the library's step would cut that step short.
    advanceQueued_ = true;
    QTimer::singleShot(0, this, [this] {
      advanceQueued_ = false;
      advance();
    });
  }
  if (sequence_->finished()) QTimer::singleShot(0, this, [this] { advance(); });
  showState();
}

void CalibrationPanel::advance() {
  if (!sequence_) return;
  sequence_->advance();
  context_.calibrationStepped(*sequence_);
  showState();
  if (sequence_->finished()) tellEnd();
}

void CalibrationPanel::tellEnd() {
  if (endTold_) return;
  endTold_ = true;
  // Later verification runs are no calibration's: the history asks about their tag again.
  context_.setCalibrationRunTag(-1);
  QString text;
  if (sequence_->stage() == data::CalibrationStage::Finished)
    text = sequence_->succeeded()
               ? QStringLiteral("Калибровка завершена: подстроенные приборы годны.")
               : QStringLiteral("Калибровка завершена: не все приборы подстроены и годны.");
  else
    text = QStringLiteral("Калибровка остановлена: ") + qs(sequence_->stopReason());
  const std::array<bool, 4>& fixed = sequence_->pendingExitFixed();
  if (sequence_->linkLost() && std::find(fixed.begin(), fixed.end(), true) != fixed.end()) {
    release_.arm(fixed);
    releaseTried_ = false;
    const bool single = std::count(fixed.begin(), fixed.end(), true) == 1;
    text += QLatin1Char('\n') + devicesMay(fixed) +
            (single ? QStringLiteral(
                          " оставаться в режиме фиксированного тока: при восстановлении связи он будет "
                          "из него выведен.")
                    : QStringLiteral(" оставаться в режиме фиксированного тока: при восстановлении связи они "
                                     "будут из него выведены."));
  }
  Q_EMIT finished(text);
}

void CalibrationPanel::watch(const TDev& dev) {
  if (release_.running()) {
    release_.onNotify(dev);
    if (release_.finished() || release_.actionDue()) {
      if (!releaseQueued_) {
        releaseQueued_ = true;
        QTimer::singleShot(0, this, [this] {
          releaseQueued_ = false;
          advanceRelease();
        });
      }
    }
    return;
  }
  if (!dev.linked) {
    releaseTried_ = false;
    return;
  }
  if (release_.armed() && !releaseTried_ && !releaseQueued_ && !running() &&
      data::FixedCurrentRelease::linkReady(dev)) {
    // A task started inside the library's step would cut that step short.
    releaseQueued_ = true;
    QTimer::singleShot(0, this, [this] {
      releaseQueued_ = false;
      startRelease();
    });
  }
}

void CalibrationPanel::startRelease() {
  const TDev* dev = context_.dev();
  // A run the operator started meanwhile is not abandoned: the release waits for the next chance.
  if (!dev || running() || release_.running() || context_.runActive() ||
      !data::FixedCurrentRelease::linkReady(*dev))
    return;
  releaseTried_ = true;
  Q_EMIT releaseStarted();
  release_.start();
  showState();
}

void CalibrationPanel::advanceRelease() {
  if (release_.running()) release_.advance();
  showState();
  if (!release_.finished()) return;
  if (release_.succeeded() && sequence_) sequence_->exitFixedSent();
  Q_EMIT releaseFinished(QStringLiteral("После восстановления связи: ") + qs(release_.text()));
}

void CalibrationPanel::showState() {
  if (release_.running()) {
    stage_->setText(
        QStringLiteral("Выход из режима фиксированного тока после восстановления связи: каналы ") +
        channelList(release_.channels()));
    return;
  }
  if (!sequence_) return;
  QString stage = QString::fromUtf8(data::calibrationStageText(sequence_->stage()));
  if (sequence_->stage() == data::CalibrationStage::SensorTrim ||
      sequence_->stage() == data::CalibrationStage::CurrentTrim) {
    QStringList trimmed;
    for (int c = 0; c < 4; ++c)
      if (sequence_->channels()[static_cast<size_t>(c)].toAdjust) trimmed << QString::number(c + 1);
    stage += QStringLiteral(": каналы ") + trimmed.join(QStringLiteral(", "));
  }
  if (!sequence_->stopReason().empty())
    stage += QStringLiteral(" (") + qs(sequence_->stopReason()) + QStringLiteral(")");
  stage_->setText(stage);
  for (int c = 0; c < 4; ++c) {
    const data::CalibrationChannel& x = sequence_->channels()[static_cast<size_t>(c)];
    const bool shown = x.enabled;
    table_->item(c, 1)->setText(shown ? verdictText(x.asFound) : QString());
    table_->item(c, 2)->setText(shown ? adjustedText(x) : QString());
    table_->item(c, 3)->setText(shown ? verdictText(x.asLeft) : QString());
    QString note = qs(x.reason);
    if (note.isEmpty() && x.adjustedAndPassing())
      note = QStringLiteral("подстроен");
    else if (note.isEmpty() && x.toAdjust && !sequence_->finished())
      note = QStringLiteral("подстраивается");
    table_->item(c, 4)->setText(shown ? note : QString());
    const QColor colour = x.asLeft == false || (!x.reason.empty() && x.toAdjust) ? QColor(220, 0, 0)
                          : x.asLeft == true                                     ? QColor(0, 150, 0)
                                                                                 : QColor(Qt::black);
    table_->item(c, 3)->setForeground(colour);
  }
}

}  // namespace arm
