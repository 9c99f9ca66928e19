// TFormMain: the workstation's only top-level window. It binds to libquarn, hosts the screens and
// switches between them with the mode buttons, shows the link state, the reference pressure and the
// calibrator's identity, offers the port menus and the valve buttons, opens and saves projects, and
// keeps its placement, the project name and the port choice in "arm_quarn.ini". Every notification
// of the library arrives here (UpdateFromDev) and is passed on to the screens.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LiveTexts.h"
#include "ModelCatalog.h"
#include "ProjectModel.h"
#include "WorkstationSettings.h"
#include "quarn/library_binding.h"

class QAction;
class QActionGroup;
class QFileSystemWatcher;
class QLabel;
class QMenu;
class QSocketNotifier;
class QTimer;

namespace arm {

class ModeFrame;
class PanelButton;
class ZDialog;
class DialogUDiap;

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
    bool watchTimer = true;                         // watch the library's timer descriptor
    bool watchDevices = true;                       // rebuild the port menu when /dev changes
    std::function<bool(const QString&)> portProbe;  // null: open the device to test it
  };

  explicit MainWindow(Options options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The creation steps: binding, model flags, port menu, start-up timer, first refresh. Returns the
  // binding's result (-5: the library has no timer descriptor to watch); anything but 0 means the
  // program must end.
  int create();

  // Operations and handlers (names as the project file and the report know them).
  void TimerLoadTimer();
  void SelectMode(int index);
  void UpdateFromDev();
  void BuildCaption();
  void FillPortMenu(QMenu* menu, bool withAll);
  void COM11Click(QAction* item);
  void OnDeviceChange();
  void menuExtDorvClick();
  void menuExtDorv_isOnClick();
  void pn_VENT_MouseDown(PanelButton* button);
  void pn_Mode_1_RegMouseDown(PanelButton* button);
  void N_OpenProject_Click();
  void N_SaveProject_Click();
  void N_SaveProject_As_Click();
  void N_FTDI_Click();
  void N_TeplateFolder_Click();

  // Registers a device path (e.g. the simulator's terminal) as a port; returns its number, 0 when
  // the map has no room. The port menu is rebuilt.
  uint32_t registerPortPath(const QString& path);
  // A port chosen on the command line: the start-up timer selects it instead of the saved choice.
  void setStartPort(uint32_t portNo) { startPort_ = portNo; }

  // State for the screens and for tests.
  TDev* dev() const { return lib_.dev; }
  quarn::host::Library& library() { return lib_; }
  const TDev& snapshot() const { return *snapshot_; }
  bool uiQuarn() const { return uiQuarn_; }
  bool uiBrenk() const { return uiBrenk_; }
  bool projectModified() const { return projectModified_; }
  void setProjectModified(bool modified) { projectModified_ = modified; }
  quarn::data::Project& project() { return project_; }
  QString projectFileName() const { return projectFileName_; }
  QString settingsPath() const { return settingsPath_; }
  QString programDir() const { return programDir_; }
  QMenu* portMenu() const { return comSelect_; }
  QMenu* dorvPortMenu() const { return dorvPort_; }
  ZDialog* messageWindow() const { return zDialog_; }
  DialogUDiap* voltageDialog() const { return uDiap_; }
  const TModelRec* modelRecord() const { return modelRec_.get(); }
  int currentMode() const { return currentMode_; }
  // Durations of the refreshes done for notifications, in nanoseconds.
  const std::vector<qint64>& updateDurations() const { return updateNs_; }
  // Unbinds (after the project question) as closing does; true when the window may close.
  bool closeRequested() const { return closed_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  static void onLibraryUpdate();
  void buildUi();
  void buildMenus();
  PanelButton* addModeButton(const QString& name, const QString& caption, int tag);
  PanelButton* makeValveButton(const QString& name, const QString& caption, const QString& hint,
                               const QColor& colour);
  void applyValveColours(bool external);
  void startTimerWatch();
  void restoreMenu(QMenu* menu, const std::string& section);
  void normalisePortMenu();
  std::map<std::string, std::vector<std::string>> menuItemNames() const;
  void storeMenuChecks(QMenu* menu, const std::string& section);
  QList<QAction*> portItems(QMenu* menu) const;
  void loadProjectFile(const QString& path);
  bool saveProjectFile(const QString& path);
  void reloadModelTables();
  QString defaultSettingsPath() const;
  void showCatalogueProblem(const QString& text);

  Options options_;
  quarn::host::Library lib_;
  std::unique_ptr<TDev> snapshot_;
  bool uiQuarn_ = false;
  bool uiBrenk_ = false;
  bool closed_ = false;
  QString programDir_;
  QString settingsPath_;
  QString baseCaption_;
  QString projectFileName_;
  bool projectModified_ = false;
  quarn::data::Project project_;
  quarn::data::WorkstationSettings settings_;
  std::unique_ptr<TModelRec> modelRec_;
  std::unique_ptr<TErrorRec> errorRec_;
  QString lastCatalogueProblem_;
  uint32_t startPort_ = 0;
  int currentMode_ = -1;
  std::vector<qint64> updateNs_;

  // Controls.
  QTimer* timerLoad_ = nullptr;
  QSocketNotifier* timerNotifier_ = nullptr;
  QFileSystemWatcher* deviceWatcher_ = nullptr;
  QWidget* panelModes_ = nullptr;
  std::array<PanelButton*, 7> modeButtons_{};
  std::array<ModeFrame*, 7> frames_{};
  ModeFrame* settingsQuarn_ = nullptr;
  ModeFrame* settingsBrenk_ = nullptr;
  PanelButton* inputOn_ = nullptr;
  PanelButton* inputOff_ = nullptr;
  PanelButton* ventOn_ = nullptr;
  PanelButton* ventOff_ = nullptr;
  QLabel* labelState_ = nullptr;
  QLabel* labelPressure_ = nullptr;
  QMenu* comSelect_ = nullptr;
  QMenu* extDorv_ = nullptr;
  QMenu* dorvPort_ = nullptr;
  QAction* dorvIsOn_ = nullptr;
  ZDialog* zDialog_ = nullptr;
  DialogUDiap* uDiap_ = nullptr;
};

}  // namespace arm
