// What every screen of the workstation may use instead of reaching into the main window: the shared
// record and the previous notification's copy of it, starting a library task, the model flags, the
// calibrator's catalogue tables, the message and voltage-range dialogs, the live project, the run
// under way (or the last one) with its own snapshot, the mode buttons and the current mode. Screens
// never reach each other: what one tells the others goes through the signals below, what they share
// is the project and the run. The main window fills the context when it binds the library; a test
// fills it with a record of its own and a task recorder.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CalibratorCatalogue.h"

struct TDev;
class QWidget;

namespace quarn::data {
class CalibrationSequence;
class RunSnapshot;
}  // namespace quarn::data

namespace arm {

// The catalogue tables of the data layer, as the screens name them.
using quarn::data::kSubRanges;
using quarn::data::TErrorRec;
using quarn::data::TModelRec;
using quarn::data::TSensorLimits;

class ZDialog;
class DialogUDiap;
class ProjectController;

// Mode indexes of the main window: a mode button's tag - 1. Index 4 has neither button nor screen.
enum Mode : int {
  kModeRegulation = 0,
  kModeHart = 1,
  kModeParameters = 2,
  kModeVerification = 3,
  kModeGraph = 5,
  kModeSettings = 6,
  kModeCount = 7
};

class WorkstationContext : public QObject {
  Q_OBJECT
 public:
  explicit WorkstationContext(QObject* parent = nullptr);
  ~WorkstationContext() override;

  // ---- The record -------------------------------------------------------------------------------
  // The shared record; null while no library is bound.
  TDev* dev() const { return dev_; }
  // The record as it was at the end of the previous notification (all zero before the first one).
  // Compare with dev() to learn whether a field changed since then.
  const TDev& snapshot() const { return *snapshot_; }
  // Starts a library task (SetTask) after the caller has written the fields the task needs.
  // Returns SetTask's result; -1 while no library is bound.
  int32_t startTask(uint32_t task, void* argument = nullptr) const;
  // The connection is still being set up (task 3 runs: search, settings read, Kesto set-up). A task
  // started now abandons it, and the settings are then never read: controls that start tasks stay
  // disabled meanwhile.
  bool connecting() const;

  // ---- Model ------------------------------------------------------------------------------------
  // uiQuarn / uiBrenk: which calibrator the workstation serves (from the record's model after binding).
  bool uiQuarn() const { return uiQuarn_; }
  bool uiBrenk() const { return uiBrenk_; }
  // The calibrator model's range record and accuracy table from the catalogues, reloaded at every
  // settings read; null while not loaded (the range record also after the link was lost).
  const TModelRec* modelRecord() const { return modelRec_.get(); }
  const TErrorRec* errorRecord() const { return errorRec_.get(); }

  // ---- Dialogs and the program ------------------------------------------------------------------
  ZDialog& messageWindow();
  DialogUDiap& voltageDialog();
  // The main window (parent of file dialogs and question boxes); null in tests without one.
  QWidget* window() const { return window_; }
  // The program's folder (templates, drivers, catalogues).
  QString programDir() const { return programDir_; }

  // ---- Project ----------------------------------------------------------------------------------
  // The live project: the parameters screen edits it, a run starts from it.
  ProjectController& project() { return *project_; }
  const ProjectController& project() const { return *project_; }
  bool projectModified() const;
  void setProjectModified(bool modified);

  // ---- Modes ------------------------------------------------------------------------------------
  // The mode index shown (kModeRegulation ...); -1 before the first mode is selected.
  int currentMode() const { return currentMode_; }
  // The mode buttons switch screens only while enabled (the verification screen disables them
  // while a run is active).
  bool modeButtonsEnabled() const { return modeButtonsEnabled_; }
  void setModeButtonsEnabled(bool enabled);

  // ---- The run ----------------------------------------------------------------------------------
  // A verification or relay check is under way (from "ПУСК" to its end or "СТОП"): whatever would
  // disturb it (another task, a project opened under it, the port menus, the parameters it uses)
  // stays disabled meanwhile.
  bool runActive() const { return runActive_; }
  void setRunActive(bool active);
  // The run is a calibration's (its sequence, or the exit from fixed-current mode after a lost link):
  // the HART searches it makes are its own, and the parameters screen does not report them.
  bool calibrationActive() const { return runActive_ && calibrationActive_; }
  void setCalibrationActive(bool active) { calibrationActive_ = active; }
  // The run under way or the last one, with its own snapshot of what it uses (null before the first
  // run). The results list, the protocol and the history take it, never the parameters as they are
  // later.
  const quarn::data::RunSnapshot* run() const { return run_.get(); }
  quarn::data::RunSnapshot* run() { return run_.get(); }
  void setRun(std::unique_ptr<quarn::data::RunSnapshot> run);
  // While a calibration runs, how the run history tags its verification runs without asking the
  // operator: 0 as-found, 1 as-left; -1 (no calibration) lets the history offer the tag.
  int calibrationRunTag() const { return calibrationRunTag_; }
  void setCalibrationRunTag(int tag) { calibrationRunTag_ = tag; }
  // The calibration panel tells it after every step its sequence has taken (and after a stop): the
  // run history takes the trims with their values and the reasons of the run that ends the
  // calibration from the sequence then, once the sequence has set them.
  void calibrationStepped(const quarn::data::CalibrationSequence& sequence) const {
    if (calibrationStepped_) calibrationStepped_(sequence);
  }
  void setCalibrationStepHook(std::function<void(const quarn::data::CalibrationSequence&)> hook) {
    calibrationStepped_ = std::move(hook);
  }
  // Why a control is disabled while a run is active (its tool tip or status text).
  static QString runLockReason();

  // ---- Run history ------------------------------------------------------------------------------
  // The line a protocol of the record's results carries about their entry in the run history
  // (RunRecorder::protocolFooter, UTF-8); empty while the host has set none.
  std::string historyFooter(const TDev& dev) const {
    return historyFooter_ ? historyFooter_(dev) : std::string();
  }
  void setHistoryFooter(std::function<std::string(const TDev&)> footer) {
    historyFooter_ = std::move(footer);
  }

  // ---- HART -------------------------------------------------------------------------------------
  // "Быстрый поиск HART": the device search takes answers as soon as they are complete. The HART
  // screen's check box sets it; the main window keeps it in the settings file and tells the library.
  bool fastHartSearch() const { return fastHartSearch_; }
  void setFastHartSearch(bool on);

  // ---- Filled by the host (the main window, or a test) ------------------------------------------
  void bindRecord(TDev* dev) { dev_ = dev; }
  // Copies the record into the snapshot; the host does it at the end of every notification.
  void takeSnapshot();
  TDev& mutableSnapshot() { return *snapshot_; }
  void setTaskStarter(std::function<int32_t(uint32_t task, void* argument)> starter) {
    startTask_ = std::move(starter);
  }
  // The record's model: 1 Quarn, 0 Brenk (anything else sets neither flag).
  void setModel(uint32_t model);
  void setModelTables(std::unique_ptr<TModelRec> model, std::unique_ptr<TErrorRec> errors);
  // The link was lost: the range record goes, the accuracy table stays.
  void dropModelRecord() { modelRec_.reset(); }
  void dropModelTables();
  void setDialogs(ZDialog* message, DialogUDiap* voltage);
  void setWindow(QWidget* window);
  void setProgramDir(const QString& dir);
  void setCurrentMode(int mode);

 Q_SIGNALS:
  // The shown mode changed (after the screens were shown and hidden).
  void modeChanged(int mode);
  // The mode buttons were enabled or disabled.
  void modeButtonsEnabledChanged(bool enabled);
  // The calibrator's settings were written (settings screens): the graph starts anew.
  void settingsWritten();
  // The output-signal type of the devices under test changed (parameters screen): the verification
  // and graph screens switch their captions between current and voltage.
  void signalTypeChanged(int signalType);
  // The reference choice changed on a settings screen: the verification screen re-evaluates its
  // manual reference entry.
  void referenceChoiceChanged();
  // A settings screen has shown a settings read and set the setpoint limits (calInfo.pLimitMin,
  // pLimitMax) from it: the parameters screen refreshes, as its range check uses those limits; the
  // Brenk's regulation panel shows the calibrator's stored setpoint.
  void calibratorSettingsShown();
  // A verification or relay check started or stopped (setRunActive): the parameters screen locks or
  // frees its pages, the HART screen its jobs, the main window its project and port menus.
  void runStateChanged(bool running);
  // A measurement said whether the calibrator's Kesto module answers (the main window, at every
  // measurement): without it the graph plots the reference alone.
  void kestoReported(bool present);
  // The external transducer was switched off (port menu): the regulation screen sets its gauges for
  // the calibrator's own modules again.
  void externalReferenceSwitchedOff();
  // A verification (relayCheck false) or relay check ran to its end; the record holds its results.
  void runFinished(bool relayCheck);
  // The fast HART search was switched on or off.
  void fastHartSearchChanged(bool on);

 private:
  TDev* dev_ = nullptr;
  std::unique_ptr<TDev> snapshot_;
  std::function<int32_t(uint32_t, void*)> startTask_;
  bool uiQuarn_ = false;
  bool uiBrenk_ = false;
  bool fastHartSearch_ = false;
  std::unique_ptr<TModelRec> modelRec_;
  std::unique_ptr<TErrorRec> errorRec_;
  QPointer<ZDialog> messageWindow_;
  QPointer<DialogUDiap> voltageDialog_;
  // Dialogs made here when the host gave none (a test without a main window).
  std::unique_ptr<ZDialog> ownMessageWindow_;
  std::unique_ptr<DialogUDiap> ownVoltageDialog_;
  QWidget* window_ = nullptr;
  QString programDir_;
  ProjectController* project_;
  int currentMode_ = -1;
  bool modeButtonsEnabled_ = true;
  bool runActive_ = false;
  bool calibrationActive_ = false;
  int calibrationRunTag_ = -1;
  std::unique_ptr<quarn::data::RunSnapshot> run_;
  std::function<std::string(const TDev&)> historyFooter_;
  std::function<void(const quarn::data::CalibrationSequence&)> calibrationStepped_;
};

}  // namespace arm
