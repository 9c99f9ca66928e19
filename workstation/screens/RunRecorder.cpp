#include "RunRecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <cstddef>
#include <cstring>

#include "CalibrationRuns.h"
#include "CalibrationSequence.h"
#include "HistoryStore.h"
#include "ProjectController.h"
#include "ProtocolFooter.h"
#include "RunBuilder.h"
#include "RunSnapshot.h"
#include "TDev.h"
#include "TDevValues.h"
#include "WorkstationContext.h"
#include "ZDialog.h"
#include "protocol_fields.h"
#include "quarn/cp1251.h"

namespace arm {

namespace history = quarn::history;

namespace {

const QString kCaption = QStringLiteral("История поверок");
const QString kRunNotStored = QStringLiteral("Запуск не сохранён в истории поверок.");

bool runTask(uint32_t task) { return task == TASK_CHECK || task == TASK_CHECK_HART; }

// What a protocol is made from in the record: the devices, the result records and their count
// (FNV-1a over their bytes; the record is packed, so its parts are taken by offset).
uint64_t resultsFingerprint(const TDev& dev) {
  uint64_t h = 1469598103934665603ull;
  const auto* bytes = reinterpret_cast<const unsigned char*>(&dev);
  auto add = [&](std::size_t from, std::size_t size) {
    for (std::size_t i = from; i < from + size; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
  };
  add(offsetof(TDev, devCh), sizeof(TDev::devCh));
  add(offsetof(TDev, results), sizeof(TDev::results));
  add(offsetof(TDev, pointIdx), sizeof(TDev::pointIdx));
  return h;
}

// The history as the workstation opens it for writing: its head remembered in the settings folder.
history::OpenOptions writerOptions() {
  history::OpenOptions o;
  o.anchorFolder = history::defaultAnchorFolder();
  o.keepHead = true;
  return o;
}

}  // namespace

RunRecorder::RunRecorder(WorkstationContext& context, QString historyPath, QObject* parent)
    : QObject(parent), context_(context), path_(historyPath.isEmpty() ? defaultHistoryPath() : historyPath) {
  // The hook may outlive the recorder and the recorder the context (the main window's context is gone
  // before its child objects are deleted), so the recorder never reaches back into the context on its
  // way out: the hook asks whether the recorder is still there.
  context_.setCalibrationStepHook(
      [recorder = QPointer<RunRecorder>(this)](const quarn::data::CalibrationSequence& sequence) {
        if (recorder) recorder->calibrationStepped(sequence);
      });
}

RunRecorder::~RunRecorder() = default;

QString RunRecorder::defaultHistoryPath() {
  const std::string path = history::defaultHistoryPath();
  if (!path.empty()) return QString::fromStdString(path);
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
      .filePath(QStringLiteral("quarn/history.db"));
}

void RunRecorder::notify(const TDev& dev) {
  const bool inRun = runTask(dev.task);
  if (inRun && !runTask(lastTask_)) {
    armed_ = true;
    startedAtMs_ = history::nowUtcMs();
    // The run's own copy of what it uses: the one the verification screen took at "ПУСК", or, for a
    // run started otherwise, one taken now from the record and the project.
    const quarn::data::RunSnapshot* started = context_.runActive() ? context_.run() : nullptr;
    run_ = started ? std::make_unique<quarn::data::RunSnapshot>(*started)
                   : std::make_unique<quarn::data::RunSnapshot>(
                         dev, context_.project().model(),
                         quarn::report::protocolPlaceholders(context_.project().model()));
  }
  // Another task (the operator stopped the run, or it ended): an end code now is no run's end.
  if (!inRun) armed_ = false;
  const bool trimEnded = (dev.task == TASK_HART_TUNE_I || dev.task == TASK_HART_TUNE_TRIM) &&
                         dev.retCode == RETCODE_FINISHED &&
                         (dev.task != lastTask_ || lastRetCode_ != RETCODE_FINISHED);
  const bool finished =
      (dev.retCode == RETCODE_VERIFICATION_DONE || dev.retCode == RETCODE_RELAY_CHECK_DONE) &&
      dev.retCode != lastRetCode_;
  lastTask_ = dev.task;
  lastRetCode_ = dev.retCode;
  // A calibration's trims come from its sequence, with their values (calibrationStepped).
  if (trimEnded && dev.errCode == 0 && context_.calibrationRunTag() < 0) takeAdjustments(dev);
  // One run, one entry: until a host starts the measuring task again, the library's measuring cycles
  // still end in the finished run's last step and report its end code again.
  if (!finished || !armed_) return;
  armed_ = false;
  // The results are taken now: the record goes on changing once the library measures again.
  TakenRun taken = takeRun(dev);
  if (!taken.tagDecided) return queue(std::move(taken));
  // A calibration's run waits for the sequence's step that takes it: that step sets the reasons the
  // run ending the calibration carries. One still waiting is stored as it is rather than lost.
  if (heldRun_) queue(std::move(*heldRun_));
  heldRun_ = std::move(taken);
}

void RunRecorder::calibrationStepped(const quarn::data::CalibrationSequence& sequence) {
  if (heldRun_) {
    const bool asLeft = heldRun_->run.tag == history::RunTag::AsLeft;
    const auto runStage =
        asLeft ? quarn::data::CalibrationStage::AsLeft : quarn::data::CalibrationStage::AsFound;
    // Still in the run's stage: the step that takes the run is yet to come.
    if (sequence.stage() != runStage) {
      const std::optional<quarn::data::CalibrationRuns> runs = quarn::data::calibrationRunsOf(sequence);
      if (runs && runs->asLeft.has_value() == asLeft)
        for (auto& field : quarn::data::calibrationReasonFields(*runs))
          heldRun_->run.protocol.fields.push_back(std::move(field));
      queue(std::move(*heldRun_));
      heldRun_.reset();
    }
  }
  // A new sequence, or one before its as-found run: none of its trims is queued yet.
  if (&sequence != calibration_ || !sequence.asFound()) {
    calibration_ = &sequence;
    trimsTaken_.clear();
  }
  for (const quarn::data::CalibrationAdjustment& x : quarn::data::calibrationAdjustments(sequence)) {
    const bool sensor = x.kind == quarn::data::TrimKind::Sensor;
    if (!trimsTaken_.insert({x.channel, sensor}).second) continue;
    history::Adjustment a;
    a.atMs = history::nowUtcMs();
    a.utcOffsetMin = history::utcOffsetMinutes(a.atMs);
    a.workstation = history::defaultWorkstationName();
    a.channel = x.channel;
    a.serial = x.serial;
    a.deviceName = x.deviceName;
    a.kind = sensor ? history::AdjustmentKind::SensorTrim : history::AdjustmentKind::CurrentTrim;
    a.note = x.note;
    queue(std::move(a));
  }
}

std::string RunRecorder::protocolFooter(const TDev& dev) const {
  if (lastRunId_ == 0 || lastHash_.empty() || resultsFingerprint(dev) != lastResults_)
    return history::protocolFooterUnstored();
  return history::protocolFooter(lastRunId_, lastHash_);
}

void RunRecorder::queue(std::variant<TakenRun, history::Adjustment> entry) {
  pending_.push_back(std::move(entry));
  if (!storeQueued_) {
    storeQueued_ = true;
    QTimer::singleShot(0, this, [this] { storePending(); });
  }
}

void RunRecorder::takeAdjustments(const TDev& dev) {
  const bool current = dev.task == TASK_HART_TUNE_I;
  for (int c = 0; c < 4; ++c) {
    // The current trim works on every found device whose channel is switched on for it, the sensor
    // trim on the devices chosen for it.
    const bool worked = dev.hart[c].found != 0 && (current ? dev.hartChk[c].active != 0 : dev.trimOn[c] != 0);
    const TDevChannel& ch = dev.devCh[c];
    const std::string serial = quarn::text::cp1251ToUtf8(std::string(ch.sn, strnlen(ch.sn, sizeof ch.sn)));
    // Runs know a device by its grid serial; without one the trim could not be paired with them.
    if (!worked || serial.empty()) continue;
    history::Adjustment a;
    a.atMs = history::nowUtcMs();
    a.utcOffsetMin = history::utcOffsetMinutes(a.atMs);
    a.workstation = history::defaultWorkstationName();
    a.channel = c + 1;
    a.serial = serial;
    a.deviceName = quarn::text::cp1251ToUtf8(std::string(ch.name, strnlen(ch.name, sizeof ch.name)));
    a.kind = *history::adjustmentOfTask(dev.task);
    queue(std::move(a));
  }
}

RunRecorder::TakenRun RunRecorder::takeRun(const TDev& dev) const {
  history::HostContext host;
  host.workstation = history::defaultWorkstationName();
  host.finishedAtMs = history::nowUtcMs();
  host.startedAtMs = startedAtMs_;
  host.utcOffsetMin = history::utcOffsetMinutes(host.startedAtMs);
  // The results as the run left them in the record; devices, texts and points as the run took them.
  quarn::data::RunSnapshot run = *run_;
  run.follow(dev);
  TakenRun taken{history::buildRunRecord(run, host), resultsFingerprint(run.record()), false};
  if (context_.calibrationRunTag() >= 0) {
    taken.run.tag = context_.calibrationRunTag() == 1 ? history::RunTag::AsLeft : history::RunTag::AsFound;
    taken.tagDecided = true;
  }
  return taken;
}

void RunRecorder::storePending() {
  storeQueued_ = false;
  while (!pending_.empty()) {
    auto entry = std::move(pending_.front());
    pending_.pop_front();
    if (auto* run = std::get_if<TakenRun>(&entry))
      store(std::move(*run));
    else
      store(std::get<history::Adjustment>(entry));
  }
}

void RunRecorder::store(TakenRun taken) {
  history::RunRecord& run = taken.run;
  // The user's data folder is ours to make; a folder given on the command line must exist.
  if (path_ == defaultHistoryPath()) QDir().mkpath(QFileInfo(path_).absolutePath());
  auto opened = history::HistoryStore::open(path_.toStdString(), writerOptions());
  if (!opened) return fail(kRunNotStored, QString::fromStdString(opened.error().message));
  history::HistoryStore& store = *opened.value();
  // A history that cannot take the run asks nothing: the write below tells why.
  const auto offer = store.readOnly() || taken.tagDecided
                         ? history::Result<history::TagOffer>(history::TagOffer{})
                         : store.offerTag(run);
  if (offer && offer->tag == history::RunTag::AsLeft) {
    // A window of its own: the message window may still show the end of the run.
    ZDialog ask(context_.window());
    ask.showAndWait(
        QString::fromStdString(offer->reason) + QStringLiteral("\n\nСохранить запуск как «после настройки»?"),
        true, kCaption);
    if (ask.modalResult() == ZDialog::kResultOk) run.tag = history::RunTag::AsLeft;
  }
  const auto id = store.addRun(run);
  if (!id) return fail(kRunNotStored, QString::fromStdString(id.error().message));
  lastRunId_ = id.value();
  lastHash_ = store.lastWrittenHash();
  lastResults_ = taken.results;
  lastError_.clear();
  Q_EMIT runStored(static_cast<qint64>(lastRunId_));
}

void RunRecorder::store(const history::Adjustment& adjustment) {
  if (path_ == defaultHistoryPath()) QDir().mkpath(QFileInfo(path_).absolutePath());
  auto opened = history::HistoryStore::open(path_.toStdString(), writerOptions());
  const auto id =
      opened ? opened.value()->addAdjustment(adjustment) : history::Result<int64_t>(opened.error());
  if (!id)
    fail(QStringLiteral("Подстройка прибора № %1 не записана в историю поверок.")
             .arg(QString::fromStdString(adjustment.serial)),
         QString::fromStdString(id.error().message));
}

void RunRecorder::fail(const QString& what, const QString& reason) {
  const bool run = what == kRunNotStored;
  const QString message =
      what + QLatin1Char('\n') + reason +
      (run ? QStringLiteral("\nРезультаты остаются на экране, протокол можно сформировать как обычно.")
           : QString());
  if (run) lastError_ = message;
  // The end of the run may be on show in the message window: it stays, the failure comes after it.
  ZDialog& window = context_.messageWindow();
  if (window.isVisible() && !window.text().isEmpty())
    window.showMessage(window.text() + QStringLiteral("\n\n") + message, false, window.windowTitle());
  else
    window.showMessage(message, false, kCaption);
  Q_EMIT storeFailed(message);
}

}  // namespace arm
