#include "WorkstationContext.h"

#include <cstring>

#include "DialogUDiap.h"
#include "ProjectController.h"
#include "RunSnapshot.h"
#include "TDev.h"
#include "ZDialog.h"

namespace arm {

WorkstationContext::WorkstationContext(QObject* parent)
    : QObject(parent), snapshot_(std::make_unique<TDev>()), project_(new ProjectController(this)) {
  std::memset(snapshot_.get(), 0, sizeof(TDev));
  project_->setMessenger([this](const QString& text, const QString& caption) {
    messageWindow().showMessage(text, false, caption);
  });
  project_->setAsker([this](const QString& text, const QString& caption) {
    messageWindow().showAndWait(text, true, caption);
    return messageWindow().modalResult() == 1;  // "Да"
  });
}

WorkstationContext::~WorkstationContext() = default;

int32_t WorkstationContext::startTask(uint32_t task, void* argument) const {
  if (!dev_ || !startTask_) return -1;
  return startTask_(task, argument);
}

bool WorkstationContext::connecting() const { return dev_ && dev_->task == TASK_CONNECT; }

void WorkstationContext::takeSnapshot() {
  if (dev_) std::memcpy(snapshot_.get(), dev_, sizeof(TDev));
}

void WorkstationContext::setModel(uint32_t model) {
  uiQuarn_ = model == 1;
  uiBrenk_ = model == 0;
}

void WorkstationContext::setModelTables(std::unique_ptr<TModelRec> model, std::unique_ptr<TErrorRec> errors) {
  modelRec_ = std::move(model);
  errorRec_ = std::move(errors);
}

void WorkstationContext::dropModelTables() {
  modelRec_.reset();
  errorRec_.reset();
}

ZDialog& WorkstationContext::messageWindow() {
  if (!messageWindow_) {
    if (!ownMessageWindow_) ownMessageWindow_ = std::make_unique<ZDialog>();
    return *ownMessageWindow_;
  }
  return *messageWindow_;
}

DialogUDiap& WorkstationContext::voltageDialog() {
  if (!voltageDialog_) {
    if (!ownVoltageDialog_) ownVoltageDialog_ = std::make_unique<DialogUDiap>();
    return *ownVoltageDialog_;
  }
  return *voltageDialog_;
}

void WorkstationContext::setDialogs(ZDialog* message, DialogUDiap* voltage) {
  messageWindow_ = message;
  voltageDialog_ = voltage;
}

bool WorkstationContext::projectModified() const { return project_->modified(); }

void WorkstationContext::setProjectModified(bool modified) { project_->setModified(modified); }

void WorkstationContext::setModeButtonsEnabled(bool enabled) {
  if (modeButtonsEnabled_ == enabled) return;
  modeButtonsEnabled_ = enabled;
  Q_EMIT modeButtonsEnabledChanged(enabled);
}

void WorkstationContext::setWindow(QWidget* window) {
  window_ = window;
  project_->setWindow(window);
}

void WorkstationContext::setProgramDir(const QString& dir) {
  programDir_ = dir;
  project_->setProgramDir(dir);
}

void WorkstationContext::setRunActive(bool active) {
  if (runActive_ == active) return;
  runActive_ = active;
  Q_EMIT runStateChanged(active);
}

void WorkstationContext::setRun(std::unique_ptr<quarn::data::RunSnapshot> run) { run_ = std::move(run); }

QString WorkstationContext::runLockReason() {
  return QStringLiteral("Идёт поверка: недоступно до её окончания или до нажатия «СТОП»");
}

void WorkstationContext::setFastHartSearch(bool on) {
  if (fastHartSearch_ == on) return;
  fastHartSearch_ = on;
  Q_EMIT fastHartSearchChanged(on);
}

void WorkstationContext::setCurrentMode(int mode) {
  currentMode_ = mode;
  Q_EMIT modeChanged(mode);
}

}  // namespace arm
