#include "WorkstationContext.h"

#include <cstring>

#include "BrenkSettingsScreen.h"
#include "DialogUDiap.h"
#include "GraphScreen.h"
#include "HartScreen.h"
#include "ParametersScreen.h"
#include "ProjectController.h"
#include "QuarnSettingsScreen.h"
#include "RegulationScreen.h"
#include "TDev.h"
#include "VerificationScreen.h"
#include "ZDialog.h"

namespace arm {

Screen* ScreenSet::settings() const {
  if (quarnSettings) return quarnSettings;
  return brenkSettings;
}

std::vector<Screen*> ScreenSet::inRefreshOrder() const {
  std::vector<Screen*> all;
  for (Screen* s :
       {static_cast<Screen*>(regulation), static_cast<Screen*>(hart), static_cast<Screen*>(parameters),
        static_cast<Screen*>(verification), static_cast<Screen*>(graph), settings()})
    if (s) all.push_back(s);
  return all;
}

Screen* ScreenSet::forMode(int mode) const {
  switch (mode) {
    case kModeRegulation:
      return regulation;
    case kModeHart:
      return hart;
    case kModeParameters:
      return parameters;
    case kModeVerification:
      return verification;
    case kModeGraph:
      return graph;
    case kModeSettings:
      return settings();
    default:
      return nullptr;
  }
}

WorkstationContext::WorkstationContext(QObject* parent)
    : QObject(parent), snapshot_(std::make_unique<TDev>()), project_(new ProjectController(*this)) {
  std::memset(snapshot_.get(), 0, sizeof(TDev));
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

void WorkstationContext::setCurrentMode(int mode) {
  currentMode_ = mode;
  Q_EMIT modeChanged(mode);
}

}  // namespace arm
