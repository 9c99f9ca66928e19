// TFormMain: the workstation's only top-level window. It binds to libquarn, creates the screens and
// switches between them with the mode buttons, shows the link state, the reference pressure and the
// calibrator's identity, carries the port menus, the project menu and the valve buttons, and keeps
// its placement, the project name and the port choice in "arm_quarn.ini". Every notification of the
// library arrives here (UpdateFromDev) and is passed on to the screens. What the screens may use is
// the workstation context; they never see this class.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "WorkstationContext.h"
#include "WorkstationSettings.h"
#include "quarn/library_binding.h"

class QAction;
class QLabel;
class QSocketNotifier;
class QTimer;
class QFileSystemWatcher;

namespace quarn::history {
class ServerPusher;
}

namespace arm {

class PanelButton;
class Screen;
class PortMenus;
class ProjectController;
class ZDialog;
class DialogUDiap;
class RunRecorder;
class HistoryDialog;

// Binds the library (candidates in order). On failure the operator sees the binding's message; the
// result is the binding's code (0 bound, -1 .. -4 refused).
int bindLibrary(quarn::host::Library& lib, const std::vector<std::string>& candidates, TUpdateFn callback,
                uint32_t model);

class MainWindow : public QMainWindow {
 public:
  struct Options {
    uint32_t model = 1;                             // 1 Quarn workstation, 0 Brenk
    std::vector<std::string> libraryCandidates;     // empty: beside the program, search path, configured
    std::string configuredLibrary;                  // "Path"/"Library" of the settings file or --library
    QString programDir;                             // empty: the program's folder
    QString settingsPath;                           // empty: "arm_quarn.ini" by the folder rule
    QString projectPath;                            // empty: the project the settings file names
    bool watchTimer = true;                         // watch the library's timer descriptor
    bool watchDevices = true;                       // rebuild the port menu when /dev changes
    std::function<bool(const QString&)> portProbe;  // null: open the device to test it
    QString historyPath;                            // empty: the run history in the user's data folder
  };

  explicit MainWindow(Options options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The creation steps: binding, model flags, screens, port menu, start-up timer, first refresh.
  // Returns the binding's result (-5: the library has no timer descriptor to watch); anything but 0
  // means the program must end.
  int create();

  // Operations and handlers.
  void TimerLoadTimer();
  void SelectMode(int index);
  void UpdateFromDev();
  void BuildCaption();
  void pn_VENT_MouseDown(PanelButton* button);
  void pn_Mode_1_RegMouseDown(PanelButton* button);

  // A port chosen on the command line: the start-up timer selects it instead of the saved choice.
  void setStartPort(uint32_t portNo) { startPort_ = portNo; }

  WorkstationContext& context() { return context_; }
  // A screen of the window by its class; null when it was not created (only the settings screen of
  // the calibrator in use exists). For the program's options and the tests: screens themselves
  // never reach each other.
  template <class S>
  S* screen() const {
    return findChild<S*>();
  }
  // The screens in the order they refresh at a notification.
  std::vector<Screen*> screensInRefreshOrder() const;
  PortMenus& ports() { return *ports_; }
  ProjectController& projectController() { return context_.project(); }
  // Stores every finished run in the run history (null before create()).
  RunRecorder* runRecorder() const { return recorder_; }
  // File -> "История поверок": shows the history dialog (one at a time) and returns it.
  HistoryDialog* openHistory();

  // State for tests and the program's options.
  TDev* dev() const { return lib_.dev; }
  quarn::host::Library& library() { return lib_; }
  const TDev& snapshot() const { return context_.snapshot(); }
  bool uiQuarn() const { return context_.uiQuarn(); }
  bool uiBrenk() const { return context_.uiBrenk(); }
  bool projectModified() const { return context_.projectModified(); }
  void setProjectModified(bool modified) { context_.setProjectModified(modified); }
  QString projectFileName() const;
  QString settingsPath() const { return settingsPath_; }
  QString programDir() const { return programDir_; }
  ZDialog* messageWindow() const { return zDialog_; }
  DialogUDiap* voltageDialog() const { return uDiap_; }
  const TModelRec* modelRecord() const { return context_.modelRecord(); }
  int currentMode() const { return context_.currentMode(); }
  // Durations of the refreshes done for notifications, in nanoseconds.
  const std::vector<qint64>& updateDurations() const { return updateNs_; }
  // The window closed: the library is unbound.
  bool closeRequested() const { return closed_; }
  // The lab server's background push (none without a server configured), and its last problem
  // (empty after a push that went through).
  quarn::history::ServerPusher* serverPusher() const { return serverPusher_.get(); }
  QString serverPushProblem() const { return serverPushProblem_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  static void onLibraryUpdate();
  void buildUi();
  // The lab server's connection string: QUARN_HISTORY_SERVER, else Uri in the section HistoryServer of
  // the settings file; empty when none is configured (or the build has no libpq).
  std::string labServerUri() const;
  void startServerPush();
  void serverPushDone(const QString& problem);
  void buildMenus();
  void createScreens();
  Screen* screenForMode(int mode) const;
  PanelButton* addModeButton(const QString& name, const QString& caption, int tag);
  PanelButton* makeValveButton(const QString& name, const QString& caption, const QString& hint,
                               const QColor& colour);
  void applyValveColours(bool external);
  // A run started or ended: the project and port menus, the mode buttons and the status line.
  void applyRunLock(bool running);
  void startTimerWatch();
  // Tells the library the HART search's setting: the context's "Быстрый поиск HART" with the
  // settings file's turnaround (or the library's own).
  void applyFastHartSearch();
  void reloadModelTables();
  void showLinkState(const TDev& dev);
  QString defaultSettingsPath() const;
  void showCatalogueProblem(const QString& text);
  // refUpper for the reference in use (lab/ReferenceLimit.h); each reason the catalogue's limit
  // could not be taken is told once in the message window.
  void keepReferenceLimit(TDev& dev);

  Options options_;
  quarn::host::Library lib_;
  WorkstationContext context_;
  bool closed_ = false;
  QString programDir_;
  QString settingsPath_;
  QString baseCaption_;
  quarn::data::WorkstationSettings settings_;
  QString lastCatalogueProblem_;
  std::string modelProblem_;  // why the context has no model record, from the last catalogue read
  std::set<std::string> toldReferenceLimits_;
  uint32_t startPort_ = 0;
  std::vector<qint64> updateNs_;

  // Controls.
  QTimer* timerLoad_ = nullptr;
  QSocketNotifier* timerNotifier_ = nullptr;
  QFileSystemWatcher* deviceWatcher_ = nullptr;
  PortMenus* ports_ = nullptr;
  QWidget* screensArea_ = nullptr;
  QWidget* panelModes_ = nullptr;
  std::array<PanelButton*, kModeCount> modeButtons_{};
  PanelButton* inputOn_ = nullptr;
  PanelButton* inputOff_ = nullptr;
  PanelButton* ventOn_ = nullptr;
  PanelButton* ventOff_ = nullptr;
  QLabel* labelState_ = nullptr;
  QLabel* labelPressure_ = nullptr;
  QLabel* labelRunLock_ = nullptr;  // what a run under way locks
  QAction* openProject_ = nullptr;
  QAction* saveProjectAs_ = nullptr;
  ZDialog* zDialog_ = nullptr;
  DialogUDiap* uDiap_ = nullptr;
  RunRecorder* recorder_ = nullptr;
  QPointer<HistoryDialog> historyDialog_;
  std::unique_ptr<quarn::history::ServerPusher> serverPusher_;
  QString serverPushProblem_;
  // The screens in refresh order, each with the mode index that shows it.
  struct ScreenSlot {
    int mode;
    Screen* screen;
  };
  std::vector<ScreenSlot> screens_;
};

}  // namespace arm
