#include "RunRecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <cstring>

#include "HistoryStore.h"
#include "MethodList.h"
#include "ParametersScreen.h"
#include "RunBuilder.h"
#include "TDev.h"
#include "WorkstationContext.h"
#include "ZDialog.h"
#include "quarn/cp1251.h"

namespace arm {

namespace history = quarn::history;

namespace {

constexpr uint32_t kRetVerificationFinished = 14;
constexpr uint32_t kRetRelayCheckFinished = 15;
const QString kCaption = QStringLiteral("История поверок");

bool runTask(uint32_t task) { return task == TASK_CHECK || task == TASK_CHECK_HART; }

}  // namespace

RunRecorder::RunRecorder(WorkstationContext& context, QString historyPath, QObject* parent)
    : QObject(parent), context_(context), path_(historyPath.isEmpty() ? defaultHistoryPath() : historyPath) {}

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
  }
  // Another task (the operator stopped the run, or it ended): an end code now is no run's end.
  if (!inRun) armed_ = false;
  lastTask_ = dev.task;
  const bool finished = (dev.retCode == kRetVerificationFinished || dev.retCode == kRetRelayCheckFinished) &&
                        dev.retCode != lastRetCode_;
  lastRetCode_ = dev.retCode;
  // One run, one entry: until a host starts the measuring task again, the library's measuring cycles
  // still end in the finished run's last step and report its end code again.
  if (!finished || !armed_) return;
  armed_ = false;
  // The results are taken now: the record goes on changing once the library measures again.
  pending_.push_back(takeRun(dev));
  if (!storeQueued_) {
    storeQueued_ = true;
    QTimer::singleShot(0, this, [this] { storePending(); });
  }
}

history::RunRecord RunRecorder::takeRun(const TDev& dev) const {
  history::HostContext host;
  host.workstation = history::defaultWorkstationName();
  host.finishedAtMs = history::nowUtcMs();
  host.startedAtMs = startedAtMs_;
  host.utcOffsetMin = history::utcOffsetMinutes(host.startedAtMs);
  if (const ParametersScreen* params = context_.screens().parameters) {
    host.pointSet = params->selectedPointSetIndex() + 1;
    host.protocolFields = params->reportPlaceholders();
    const quarn::data::MethodList methods = params->methods();
    for (int c = 0; c < 4; ++c) {
      const TDevChannel& ch = dev.devCh[c];
      if (!ch.enabled) continue;
      const std::string name =
          quarn::text::cp1251ToUtf8(std::string(ch.name, strnlen(ch.name, sizeof ch.name)));
      const std::string document = quarn::data::methodDocument(methods, name);
      host.deviceMethods[static_cast<size_t>(c)] = document;
      if (!document.empty() && host.method.find(document) == std::string::npos)
        host.method += (host.method.empty() ? "" : "; ") + document;
    }
  }
  return history::buildRunRecord(dev, host);
}

void RunRecorder::storePending() {
  storeQueued_ = false;
  while (!pending_.empty()) {
    history::RunRecord run = std::move(pending_.front());
    pending_.pop_front();
    store(std::move(run));
  }
}

void RunRecorder::store(history::RunRecord run) {
  // The user's data folder is ours to make; a folder given on the command line must exist.
  if (path_ == defaultHistoryPath()) QDir().mkpath(QFileInfo(path_).absolutePath());
  auto opened = history::HistoryStore::open(path_.toStdString());
  if (!opened) return fail(QString::fromStdString(opened.error().message));
  history::HistoryStore& store = *opened.value();
  if (const auto offer = store.offerTag(run); offer && offer->tag == history::RunTag::AsLeft) {
    // A window of its own: the message window may still show the end of the run.
    ZDialog ask(context_.window());
    ask.showAndWait(
        QString::fromStdString(offer->reason) + QStringLiteral("\n\nСохранить запуск как «после настройки»?"),
        true, kCaption);
    if (ask.modalResult() == ZDialog::kResultOk) run.tag = history::RunTag::AsLeft;
  }
  const auto id = store.addRun(run);
  if (!id) return fail(QString::fromStdString(id.error().message));
  lastRunId_ = id.value();
  lastError_.clear();
  Q_EMIT runStored(static_cast<qint64>(lastRunId_));
}

void RunRecorder::fail(const QString& reason) {
  lastError_ = QStringLiteral("Запуск не сохранён в истории поверок.\n") + reason +
               QStringLiteral("\nРезультаты остаются на экране, протокол можно сформировать как обычно.");
  // The end of the run may be on show in the message window: it stays, the failure comes after it.
  ZDialog& window = context_.messageWindow();
  if (window.isVisible() && !window.text().isEmpty())
    window.showMessage(window.text() + QStringLiteral("\n\n") + lastError_, false, window.windowTitle());
  else
    window.showMessage(lastError_, false, kCaption);
  Q_EMIT storeFailed(lastError_);
}

}  // namespace arm
