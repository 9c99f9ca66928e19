#include "MainWindow.h"

#include <unistd.h>

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BrenkSettingsScreen.h"
#include "DialogUDiap.h"
#include "GraphScreen.h"
#include "HartScreen.h"
#include "HistoryDialog.h"
#include "IniDocument.h"
#include "IniValues.h"
#include "LiveTexts.h"
#include "PanelButton.h"
#include "ParametersScreen.h"
#include "PortMenus.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "Prompts.h"
#include "QuarnSettingsScreen.h"
#include "ReferenceLimit.h"
#include "RegulationScreen.h"
#include "RunRecorder.h"
#ifdef QUARN_HISTORY_SERVER
#include "HistoryServerPusher.h"
#endif
#include "TDevValues.h"
#include "VerificationScreen.h"
#include "ZDialog.h"

#ifndef ARM_QUARN_VERSION
#define ARM_QUARN_VERSION "0.1"
#endif

namespace arm {

namespace {

const QColor kDark(73, 86, 119);
const QColor kLight(189, 207, 233);
const QColor kGreyText(192, 192, 192);
constexpr int kMinWidth = 1100;
constexpr int kMinHeight = 713;
constexpr int kMaxPlausibleSize = 20000;

// The window whose callback the library calls; one main window per process.
MainWindow* g_window = nullptr;

void setPanelColours(QWidget* w, const QColor& background) {
  w->setAutoFillBackground(true);
  QPalette p = w->palette();
  p.setColor(QPalette::Window, background);
  w->setPalette(p);
}

}  // namespace

int bindLibrary(quarn::host::Library& lib, const std::vector<std::string>& candidates, TUpdateFn callback,
                uint32_t model) {
  const quarn::host::BindResult r = quarn::host::bind(lib, candidates, callback, model);
  if (r.code != 0) Prompts::showError(QStringLiteral("Error"), QString::fromStdString(r.message));
  return r.code;
}

MainWindow::MainWindow(Options options, QWidget* parent) : QMainWindow(parent), options_(std::move(options)) {
  setObjectName(QStringLiteral("FormMain"));
  Screen::markOwner(this);
  programDir_ = options_.programDir.isEmpty() ? QString::fromStdString(quarn::host::programFolder())
                                              : options_.programDir;
  while (programDir_.size() > 1 && programDir_.endsWith(QLatin1Char('/'))) programDir_.chop(1);
  settingsPath_ = options_.settingsPath.isEmpty() ? defaultSettingsPath() : options_.settingsPath;
  context_.setProgramDir(programDir_);
  context_.setWindow(this);
  context_.project().setFileName(
      QDir(programDir_).filePath(QString::fromLatin1(quarn::data::kDefaultProjectName)));
  buildUi();
  buildMenus();
  context_.setDialogs(zDialog_, uDiap_);
}

MainWindow::~MainWindow() {
  serverPusher_.reset();  // a push under way stops between two transactions
  if (!closed_ && lib_.handle) {
    // Destroyed without closing (a failed start): stop the callbacks before the window goes away.
    delete timerNotifier_;
    timerNotifier_ = nullptr;
    quarn::host::unbind(lib_);
  }
  context_.bindRecord(nullptr);
  if (g_window == this) g_window = nullptr;
}

QString MainWindow::defaultSettingsPath() const {
  const QString name = QString::fromLatin1(quarn::data::kSettingsFileName);
  const QString beside = QDir(programDir_).filePath(name);
  const QByteArray folder = programDir_.toLocal8Bit();
  const QFileInfo existing(beside);
  const bool folderWritable = !programDir_.isEmpty() && access(folder.constData(), W_OK) == 0;
  if (folderWritable && (!existing.exists() || existing.isWritable())) return beside;
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
      .filePath(QStringLiteral("ARM_Quarn/") + name);
}

QString MainWindow::projectFileName() const { return context_.project().fileName(); }

// ---- Layout -------------------------------------------------------------------------------------

PanelButton* MainWindow::addModeButton(const QString& name, const QString& caption, int tag) {
  auto* b = new PanelButton(name, caption, tag, panelModes_);
  b->setMinimumHeight(64);
  QFont f = b->font();
  f.setPointSize(f.pointSize() + 2);
  f.setBold(true);
  b->setFont(f);
  b->setColours(kDark, Qt::white);
  connect(b, &PanelButton::mouseDown, this, [this, b] { pn_Mode_1_RegMouseDown(b); });
  modeButtons_[tag - 1] = b;
  return b;
}

PanelButton* MainWindow::makeValveButton(const QString& name, const QString& caption, const QString& hint,
                                         const QColor& colour) {
  auto* b = new PanelButton(name, caption, 0, panelModes_);
  b->setToolTip(hint);
  b->setMinimumHeight(52);
  QFont f = b->font();
  f.setPointSize(f.pointSize() + 2);
  f.setBold(true);
  b->setFont(f);
  b->setColours(colour, Qt::white);
  b->hide();
  connect(b, &PanelButton::mouseDown, this, [this, b] { pn_VENT_MouseDown(b); });
  return b;
}

void MainWindow::buildUi() {
  resize(1100, 778);
  setMinimumSize(kMinWidth, kMinHeight);
  setPanelColours(this, kDark);

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("Panel_Main"));
  setPanelColours(central, kDark);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  auto* body = new QHBoxLayout;
  body->setContentsMargins(4, 4, 4, 4);
  body->setSpacing(4);
  outer->addLayout(body, 1);

  // The screens share one place; the mode buttons show one at a time. They are created once the
  // library is bound and the model is known.
  screensArea_ = new QWidget(central);
  screensArea_->setObjectName(QStringLiteral("Panel_Frames"));
  auto* stack = new QGridLayout(screensArea_);
  stack->setContentsMargins(0, 0, 0, 0);
  body->addWidget(screensArea_, 1);

  panelModes_ = new QFrame(central);
  panelModes_->setObjectName(QStringLiteral("Panel_Modes"));
  panelModes_->setFixedWidth(190);
  setPanelColours(panelModes_, kDark);
  auto* column = new QVBoxLayout(panelModes_);
  column->setContentsMargins(2, 2, 2, 2);
  column->setSpacing(4);
  column->addWidget(addModeButton(QStringLiteral("pn_Mode_1_Reg"), QStringLiteral("Измерение давления"), 1));
  column->addWidget(addModeButton(QStringLiteral("pn_Mode_2_HART"), QStringLiteral("HART"), 2));
  column->addWidget(
      addModeButton(QStringLiteral("pn_Mode_3_PovParam"), QStringLiteral("Параметры поверки"), 3));
  column->addWidget(
      addModeButton(QStringLiteral("pn_Mode_4_Pov"), QStringLiteral("Измерения и поверка ДД"), 4));
  column->addWidget(addModeButton(QStringLiteral("pn_Mode_6_Graph"), QStringLiteral("График"), 6));
  column->addWidget(addModeButton(QStringLiteral("pn_Mode_7_Settings"), QStringLiteral("Настройки"), 7));
  column->addStretch(1);
  // Each ON/OFF pair shares one place.
  inputOn_ = makeValveButton(QStringLiteral("pn_Mode_8_INPUT_ON"), QStringLiteral("ВКЛ. Вход"),
                             QStringLiteral("Открыть вход"), Qt::red);
  inputOff_ = makeValveButton(QStringLiteral("pn_Mode_8_INPUT_OFF"), QStringLiteral("ОТКЛ. Вход"),
                              QStringLiteral("Закрыть вход"), QColor(0, 128, 0));
  ventOn_ = makeValveButton(QStringLiteral("pn_Mode_8_VENT_ON"), QStringLiteral("ВКЛ. Сброс"),
                            QStringLiteral("Сброс давления"), Qt::red);
  ventOff_ = makeValveButton(QStringLiteral("pn_Mode_8_VENT_OFF"), QStringLiteral("ОТКЛ. Сброс"),
                             QStringLiteral("Отключить сброс давления"), QColor(0, 128, 0));
  auto* valves = new QGridLayout;
  valves->addWidget(inputOn_, 0, 0);
  valves->addWidget(inputOff_, 0, 0);
  valves->addWidget(ventOn_, 1, 0);
  valves->addWidget(ventOff_, 1, 0);
  column->addLayout(valves);
  body->addWidget(panelModes_);

  auto* status = new QFrame(central);
  status->setObjectName(QStringLiteral("Panel_Status"));
  status->setFrameShape(QFrame::Panel);
  status->setFrameShadow(QFrame::Sunken);
  status->setFixedHeight(30);
  setPanelColours(status, kLight);
  auto* statusRow = new QHBoxLayout(status);
  statusRow->setContentsMargins(8, 2, 8, 2);
  labelState_ = new QLabel(QStringLiteral("Нет связи"), status);
  labelState_->setObjectName(QStringLiteral("Label_CurentState"));
  labelState_->setMinimumWidth(160);
  labelPressure_ = new QLabel(QStringLiteral("P="), status);
  labelPressure_->setObjectName(QStringLiteral("lbStatusPressure"));
  QFont sf = labelPressure_->font();
  sf.setBold(true);
  labelState_->setFont(sf);
  labelPressure_->setFont(sf);
  // While a run is under way: what is locked and why.
  labelRunLock_ = new QLabel(status);
  labelRunLock_->setObjectName(QStringLiteral("lbRunLock"));
  labelRunLock_->setFont(sf);
  QPalette lockColour = labelRunLock_->palette();
  lockColour.setColor(QPalette::WindowText, QColor(170, 0, 0));
  labelRunLock_->setPalette(lockColour);
  labelRunLock_->hide();
  labelRunLock_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  statusRow->addWidget(labelState_);
  statusRow->addWidget(labelPressure_);
  statusRow->addWidget(labelRunLock_, 1);
  outer->addWidget(status);
  setCentralWidget(central);

  timerLoad_ = new QTimer(this);
  timerLoad_->setObjectName(QStringLiteral("TimerLoad"));
  timerLoad_->setSingleShot(true);
  timerLoad_->setInterval(1);
  connect(timerLoad_, &QTimer::timeout, this, &MainWindow::TimerLoadTimer);

  zDialog_ = new ZDialog(this);
  uDiap_ = new DialogUDiap(this);
  connect(&context_, &WorkstationContext::modeButtonsEnabledChanged, this, [this](bool enabled) {
    for (PanelButton* b : modeButtons_)
      if (b) b->setEnabled(enabled);
  });
  connect(&context_, &WorkstationContext::runStateChanged, this, &MainWindow::applyRunLock);
}

void MainWindow::buildMenus() {
  // The menu bar has the screens' light colour with black text; the window's dark colour would
  // leave its captions unreadable.
  QMenuBar* bar = menuBar();
  bar->setAutoFillBackground(true);
  QPalette p = bar->palette();
  for (QPalette::ColorRole role : {QPalette::Window, QPalette::Button}) p.setColor(role, kLight);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
    p.setColor(role, Qt::black);
    // A disabled entry (the port menu during a run) is grey, as it is on any menu bar.
    p.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
  }
  bar->setPalette(p);

  QMenu* file = bar->addMenu(QStringLiteral(" Файл  "));
  file->setObjectName(QStringLiteral("N_File"));
  ProjectController* project = &context_.project();
  auto addItem = [&](const QString& name, const QString& caption, auto handler) {
    QAction* a = file->addAction(caption);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  // The disabled items say why (a verification under way) in their tool tips.
  file->setToolTipsVisible(true);
  // A project opened during a run would rewrite the channels the library measures with; saved under
  // another name it would leave the run's project behind: neither while a run is under way.
  openProject_ = addItem(QStringLiteral("N_OpenProject"), QStringLiteral("Открыть проект"), [this, project] {
    if (!context_.runActive()) project->N_OpenProject_Click();
  });
  addItem(QStringLiteral("N_SaveProject"), QStringLiteral("Сохранить проект"),
          [project] { project->N_SaveProject_Click(); });
  saveProjectAs_ =
      addItem(QStringLiteral("N_SaveProject_As"), QStringLiteral("Сохранить проект как"), [this, project] {
        if (!context_.runActive()) project->N_SaveProject_As_Click();
      });
  file->addSeparator();
  // "Драйвер FTDI" and "Шаблоны протоколов" open the program's subfolders in the file browser.
  addItem(QStringLiteral("N_FTDI"), QStringLiteral("Драйвер FTDI"), [this] {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(programDir_).filePath(QStringLiteral("Driver"))));
  });
  addItem(QStringLiteral("N_TeplateFolder"), QStringLiteral("Шаблоны протоколов"), [this] {
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QDir(programDir_).filePath(QStringLiteral("template_xml"))));
  });
  file->addSeparator();
  addItem(QStringLiteral("N_History"), QStringLiteral("История поверок"), [this] { openHistory(); });
  file->addSeparator();
  addItem(QStringLiteral("N_Exit"), QStringLiteral("Выход"), [this] { close(); });

  ports_ = new PortMenus(bar, lib_, options_.portProbe);
  connect(ports_, &PortMenus::calibratorPortChosen, this, [this](uint32_t) {
    if (lib_.dev) showLinkState(*lib_.dev);
  });
  connect(ports_, &PortMenus::dorvSwitchedOff, &context_, &WorkstationContext::externalReferenceSwitchedOff);
}

void MainWindow::createScreens() {
  auto* stack = static_cast<QGridLayout*>(screensArea_->layout());
  auto add = [&](int mode, Screen* screen) {
    screens_.push_back({mode, screen});
    stack->addWidget(screen, 0, 0);
    screen->hide();
  };
  // The screens, in the order they refresh at a notification, each with the mode that shows it. A
  // new screen is one line here; only the settings screen of the calibrator in use exists.
  add(kModeRegulation, new RegulationScreen(context_, screensArea_));
  add(kModeHart, new HartScreen(context_, screensArea_));
  add(kModeParameters, new ParametersScreen(context_, screensArea_));
  add(kModeVerification, new VerificationScreen(context_, screensArea_));
  add(kModeGraph, new GraphScreen(context_, screensArea_));
  add(kModeSettings, uiBrenk() ? static_cast<Screen*>(new BrenkSettingsScreen(context_, screensArea_))
                               : new QuarnSettingsScreen(context_, screensArea_));

  recorder_ = new RunRecorder(context_, options_.historyPath, this);
  context_.setHistoryFooter([this](const TDev& dev) { return recorder_->protocolFooter(dev); });
  connect(recorder_, &RunRecorder::runStored, this, [this] {
    if (historyDialog_) historyDialog_->reload();
    if (serverPusher_) serverPusher_->request();
  });
}

std::vector<Screen*> MainWindow::screensInRefreshOrder() const {
  std::vector<Screen*> all;
  for (const ScreenSlot& slot : screens_) all.push_back(slot.screen);
  return all;
}

Screen* MainWindow::screenForMode(int mode) const {
  for (const ScreenSlot& slot : screens_)
    if (slot.mode == mode) return slot.screen;
  return nullptr;
}

HistoryDialog* MainWindow::openHistory() {
  if (!historyDialog_) {
    const QString path = recorder_ ? recorder_->historyPath() : RunRecorder::defaultHistoryPath();
    historyDialog_ = new HistoryDialog(path, programDir_, this);
    historyDialog_->setAttribute(Qt::WA_DeleteOnClose);
    historyDialog_->setLabServer(labServerUri());
  } else {
    historyDialog_->reload();
  }
  historyDialog_->show();
  historyDialog_->raise();
  return historyDialog_;
}

// ---- Creation -----------------------------------------------------------------------------------

int MainWindow::create() {
  // Numbers are written and scanned with a point whatever the system's locale says.
  QLocale::setDefault(QLocale::c());
  g_window = this;
  const std::vector<std::string> candidates = options_.libraryCandidates.empty()
                                                  ? quarn::host::defaultCandidates(options_.configuredLibrary)
                                                  : options_.libraryCandidates;
  const int rc = bindLibrary(lib_, candidates, &MainWindow::onLibraryUpdate, options_.model);
  if (rc != 0) {
    g_window = nullptr;
    return rc;
  }
  if (options_.watchTimer && (!lib_.timerFd || !lib_.timerDispatch || lib_.timerFd() < 0)) {
    // Without the timer descriptor the library's steps would never run in this thread.
    Prompts::showError(QStringLiteral("Error"), QStringLiteral("Function quarn_timer_fd not found !"));
    quarn::host::unbind(lib_);
    g_window = nullptr;
    return -5;
  }
  context_.bindRecord(lib_.dev);
  connect(&context_, &WorkstationContext::fastHartSearchChanged, this, [this] { applyFastHartSearch(); });
  context_.setTaskStarter(
      [this](uint32_t task, void* argument) { return lib_.SetTask ? lib_.SetTask(task, argument) : -1; });
  context_.setModel(lib_.dev->model);
  createScreens();
  ports_->FillPortMenu(ports_->portMenu(), true);
  timerLoad_->start();
  inputOn_->setVisible(uiQuarn());
  for (const ScreenSlot& slot : screens_) slot.screen->afterBinding(*lib_.dev);
  baseCaption_ = baseCaption(uiBrenk(), QStringLiteral(ARM_QUARN_VERSION));
  setWindowTitle(baseCaption_);
  UpdateFromDev();
  SelectMode(kModeRegulation);
  ports_->showDorvMenu(uiBrenk());
  if (options_.watchTimer) startTimerWatch();
  if (options_.watchDevices) {
    deviceWatcher_ = new QFileSystemWatcher(this);
    if (deviceWatcher_->addPath(QStringLiteral("/dev")))
      connect(deviceWatcher_, &QFileSystemWatcher::directoryChanged, this,
              [this] { ports_->OnDeviceChange(); });
  }
  return 0;
}

void MainWindow::startTimerWatch() {
  if (!lib_.timerFd || !lib_.timerDispatch) return;
  const int fd = lib_.timerFd();
  if (fd < 0) return;
  timerNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  auto dispatch = lib_.timerDispatch;
  connect(timerNotifier_, &QSocketNotifier::activated, this, [dispatch] { dispatch(); });
}

void MainWindow::onLibraryUpdate() {
  MainWindow* w = g_window;
  if (!w || !w->lib_.dev) return;
  QElapsedTimer clock;
  clock.start();
  w->UpdateFromDev();
  w->context_.takeSnapshot();
  if (w->updateNs_.size() < 1000000) w->updateNs_.push_back(clock.nsecsElapsed());
}

void MainWindow::applyFastHartSearch() {
  const auto set = lib_.symbol<void (*)(int, uint32_t)>("quarn_hart_set_fast_search");
  if (!set) return;
  uint32_t turnaroundMs = QUARN_HART_TURNAROUND_DEFAULT_MS;
  if (settings_.hartTurnaroundMs) {
    turnaroundMs = *settings_.hartTurnaroundMs;
  } else if (const auto get = lib_.symbol<int (*)(uint32_t*)>("quarn_hart_fast_search")) {
    get(&turnaroundMs);
  }
  set(context_.fastHartSearch() ? 1 : 0, turnaroundMs);
}

// ---- Start-up timer and closing -----------------------------------------------------------------

void MainWindow::TimerLoadTimer() {
  timerLoad_->stop();
  // Only the very first start (no settings file yet) waits for the operator to choose a port.
  const bool firstStart = !QFileInfo::exists(settingsPath_);
  const quarn::data::Outcome loaded = quarn::data::loadSettings(
      settingsPath_.toStdString(), programDir_.toStdString(), ports_->itemNames(), settings_);
  if (!loaded) {
    // A damaged settings file: start with the defaults; closing writes a sound file over it.
    settings_ = quarn::data::settingsFromIni(quarn::data::IniDocument{}, programDir_.toStdString(),
                                             ports_->itemNames());
    qWarning("arm_quarn.ini: %s", loaded.why().c_str());
  }
  if (settings_.window) {
    const auto& p = *settings_.window;
    const bool sizeOk = p.width >= kMinWidth && p.width <= kMaxPlausibleSize && p.height >= kMinHeight &&
                        p.height <= kMaxPlausibleSize;
    const bool placeOk = p.left > -kMaxPlausibleSize && p.left < kMaxPlausibleSize &&
                         p.top > -kMaxPlausibleSize && p.top < kMaxPlausibleSize;
    if (sizeOk && placeOk) setGeometry(p.left, p.top, p.width, p.height);
  }
  context_.setFastHartSearch(settings_.fastHartSearch);
  applyFastHartSearch();
  QString project = options_.projectPath.isEmpty() ? QString::fromStdString(settings_.projectFileName)
                                                   : QFileInfo(options_.projectPath).absoluteFilePath();
  const QString defaultProject =
      QDir(programDir_).filePath(QString::fromLatin1(quarn::data::kDefaultProjectName));
  if (!project.isEmpty() && !QFileInfo(project).isFile() &&
      QFileInfo(project).absoluteFilePath() != QFileInfo(defaultProject).absoluteFilePath()) {
    // A project named on the command line or kept in the settings that is not there is said, not
    // replaced by the default one in silence (the default one missing is a first start).
    const QString text = QStringLiteral("Проект \"%1\" не найден, открыт проект по умолчанию \"%2\"")
                             .arg(project, defaultProject);
    std::fprintf(stderr, "ARM_Quarn: %s\n", qPrintable(text));
    context_.messageWindow().showMessage(text, false, QStringLiteral("Проект"));
    project.clear();
  }
  if (project.isEmpty()) project = defaultProject;
  context_.project().setFileName(project);

  if (startPort_ != 0) {
    // A port chosen on the command line wins over the saved choice.
    for (QAction* item : ports_->portItems(ports_->portMenu()))
      if (item->data().toUInt() == startPort_) ports_->COM11Click(item);
  }
  quarn::data::WorkstationSettings restored = settings_;
  if (startPort_ != 0) restored.portMenus.erase(quarn::data::ownerChainSection({"FormMain", "COMselect"}));
  ports_->restore(restored, uiBrenk());
  startServerPush();
  // A history dialog opened before the settings were read learns the lab server now.
  if (historyDialog_) historyDialog_->setLabServer(labServerUri());

  if (lib_.dev) {
    // A project that could not be loaded (told by load()) is not the current file: a save would
    // write the defaults over it. The program goes on with the default project, without a file.
    if (!context_.project().load(project)) context_.project().startUnnamed(defaultProject);
    ports_->normalise(!firstStart);
    context_.setProjectModified(false);
  }
}

// The lab server, when one is configured (QUARN_HISTORY_SERVER, else Uri in the section HistoryServer
// of arm_quarn.ini, with the workstation's name there as Workstation, else the host name): the run
// history is pushed to it in the background now and after each stored run. The history file stays the
// one the runs are written to; the push only reads it.
std::string MainWindow::labServerUri() const {
#ifdef QUARN_HISTORY_SERVER
  if (const char* env = std::getenv(quarn::history::kServerEnvironment); env && *env) return env;
  return quarn::data::readTextUtf8(settings_.file, "HistoryServer", "Uri", "");
#else
  return {};
#endif
}

void MainWindow::startServerPush() {
#ifdef QUARN_HISTORY_SERVER
  namespace history = quarn::history;
  if (serverPusher_ || !recorder_) return;
  history::ServerOptions server;
  server.uri = labServerUri();
  if (server.uri.empty()) return;
  server.workstationId = quarn::data::readTextUtf8(settings_.file, "HistoryServer", "Workstation", "");
  if (server.workstationId.empty()) server.workstationId = history::defaultWorkstationId();
  server.anchorFolder = history::defaultAnchorFolder();
  history::OpenOptions store;
  store.anchorFolder = server.anchorFolder;
  // The outcome arrives on the pusher's thread; the window takes it in its own.
  serverPusher_ = std::make_unique<history::ServerPusher>(
      recorder_->historyPath().toStdString(), store, server,
      [this](const history::Result<history::SyncResult>& r) {
        const QString problem = r ? QString() : QString::fromStdString(r.error().message);
        QMetaObject::invokeMethod(
            this, [this, problem] { serverPushDone(problem); }, Qt::QueuedConnection);
      });
  serverPusher_->request();
#endif
}

// A push that failed is told in the message window once per new reason (a server that stays down
// is not repeated after every run); the runs stay in the local history and go with a later push.
void MainWindow::serverPushDone(const QString& problem) {
  if (problem.isEmpty() || problem == serverPushProblem_) {
    serverPushProblem_ = problem;
    return;
  }
  serverPushProblem_ = problem;
  if (zDialog_)
    zDialog_->showMessage(
        QStringLiteral("История поверок не передана на сервер лаборатории; запуски сохранены "
                       "на этой станции и будут переданы позже.\n") +
            problem,
        false, QStringLiteral("История поверок"));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  if (!context_.project().confirmClose()) {
    event->ignore();
    return;
  }

  context_.dropModelTables();
  serverPusher_.reset();
  delete timerNotifier_;
  timerNotifier_ = nullptr;
  if (lib_.handle) quarn::host::unbind(lib_);
  context_.bindRecord(nullptr);
  if (g_window == this) g_window = nullptr;
  closed_ = true;

  const QRect g = geometry();
  settings_.window = quarn::data::WindowPlacement{g.x(), g.y(), g.width(), g.height()};
  // A project without a file of its own leaves the settings naming the one that failed to load.
  if (context_.project().named()) settings_.projectFileName = projectFileName().toStdString();
  settings_.fastHartSearch = context_.fastHartSearch();
  ports_->store(settings_, uiBrenk());
  QDir().mkpath(QFileInfo(settingsPath_).absolutePath());
  const quarn::data::Outcome saved = quarn::data::saveSettings(settingsPath_.toStdString(), settings_);
  if (!saved) qWarning("arm_quarn.ini not written: %s", saved.why().c_str());
  event->accept();
}

// ---- A run under way ------------------------------------------------------------------------------

void MainWindow::applyRunLock(bool running) {
  const QString reason = running ? WorkstationContext::runLockReason() : QString();
  for (QAction* item : {openProject_, saveProjectAs_}) {
    item->setEnabled(!running);
    item->setToolTip(reason);
    item->setStatusTip(reason);
  }
  ports_->setRunLock(reason);
  for (PanelButton* b : modeButtons_)
    if (b) b->setToolTip(reason);
  labelRunLock_->setText(running
                             ? QStringLiteral("Идёт поверка: открытие проекта, COM-порт, HART и параметры "
                                              "недоступны")
                             : QString());
  labelRunLock_->setVisible(running);
}

// ---- Modes --------------------------------------------------------------------------------------

void MainWindow::pn_Mode_1_RegMouseDown(PanelButton* button) {
  if (context_.modeButtonsEnabled()) SelectMode(button->tag() - 1);
}

void MainWindow::SelectMode(int index) {
  Screen* shown = screenForMode(index);
  if (!shown) return;
  for (int i = 0; i < kModeCount; ++i) {
    if (PanelButton* b = modeButtons_[i]) {
      if (i == index)
        b->setColours(kLight, Qt::black);
      else
        b->setColours(kDark, Qt::white);
    }
  }
  for (const ScreenSlot& slot : screens_)
    if (slot.screen != shown) slot.screen->hideFrame();
  shown->showFrame();
  context_.setCurrentMode(index);
}

// ---- Valves -------------------------------------------------------------------------------------

void MainWindow::pn_VENT_MouseDown(PanelButton* button) {
  if (!lib_.dev || !button) return;
  // The Quarn's valves go by task 6, which would abandon a connection still reading the settings.
  if (uiQuarn() && context_.connecting()) return;
  TDev& dev = *lib_.dev;
  if (button == ventOn_) {
    zDialog_->showAndWait(QStringLiteral("Выполнить сброс давления?"), true,
                          QStringLiteral("Сброс давления"));
    if (zDialog_->modalResult() != ZDialog::kResultOk) return;
    if (uiBrenk()) dev.controlMode = CONTROL_MODE_VENT;
  }
  if (button == ventOff_ && uiBrenk()) dev.controlMode = CONTROL_MODE_MEASURE;
  if (uiBrenk()) return;
  if (button == inputOff_) {
    dev.inputOn = 0;
  } else if (button == inputOn_) {
    dev.inputOn = 1;
    dev.ventOn = 0;
  } else if (button == ventOff_) {
    dev.ventOn = 0;
  } else if (button == ventOn_) {
    dev.ventOn = 1;
    dev.inputOn = 0;
  }
  dev.controlMode = dev.controlMode == CONTROL_MODE_MEASURE ? CONTROL_MODE_REGULATE : CONTROL_MODE_MEASURE;
  context_.startTask(TASK_CONTROL);
}

void MainWindow::applyValveColours(bool greyed) {
  const QColor text = greyed ? kGreyText : QColor(Qt::white);
  for (PanelButton* b : {inputOn_, inputOff_, ventOn_, ventOff_}) {
    b->setEnabled(!greyed);
    b->setColours(b->background(), text);
  }
}

// ---- Refresh ------------------------------------------------------------------------------------

void MainWindow::showCatalogueProblem(const QString& text) {
  if (text.isEmpty() || text == lastCatalogueProblem_) return;
  lastCatalogueProblem_ = text;
  zDialog_->showMessage(text, false, QStringLiteral("Каталог калибраторов"));
}

void MainWindow::reloadModelTables() {
  namespace data = quarn::data;
  const std::string folder = programDir_.toStdString();
  const data::Result<TModelRec> model =
      data::readModelCatalogue(data::cataloguePath(data::modelCatalogueName(uiBrenk()), folder),
                               data::catalogueModelText(*lib_.dev, uiBrenk()));
  std::unique_ptr<TModelRec> modelRec;
  std::unique_ptr<TErrorRec> errorRec;
  // A model catalogue that cannot be had is told with what it means for the uncertainty, at the
  // next measurement (keepReferenceLimit).
  modelProblem_ = model.why();
  std::string problem;
  if (model) {
    modelRec = std::make_unique<TModelRec>(*model);
    // The accuracy table is only of use with a model to read it for.
    const data::Result<TErrorRec> errors =
        data::readErrorCatalogue(data::cataloguePath(data::kErrorCatalogue, folder));
    if (errors)
      errorRec = std::make_unique<TErrorRec>(*errors);
    else
      problem = errors.why();
  }
  context_.setModelTables(std::move(modelRec), std::move(errorRec));
  showCatalogueProblem(QString::fromStdString(problem));
}

void MainWindow::keepReferenceLimit(TDev& dev) {
  const std::string note =
      quarn::data::applyReferenceLimit(dev, context_.modelRecord(), modelProblem_, toldReferenceLimits_);
  if (!note.empty())
    zDialog_->showMessage(QString::fromStdString(note), false, QStringLiteral("Каталог калибраторов"));
}

void MainWindow::BuildCaption() {
  if (lib_.dev) setWindowTitle(buildCaption(*lib_.dev, baseCaption_, uiQuarn(), uiBrenk()));
}

void MainWindow::showLinkState(const TDev& dev) {
  if (dev.linkState == LINK_STATE_LINKED) {
    labelState_->setText(QStringLiteral("есть связь"));
  } else if (dev.linkState == LINK_STATE_NONE) {
    // "Все доступные" tries every port until a calibrator answers; say so instead of "no link".
    const bool searching = dev.task == TASK_CONNECT && dev.portNo == 0;
    labelState_->setText(searching ? QStringLiteral("Поиск калибратора...") : QStringLiteral("Нет связи"));
  }
}

void MainWindow::UpdateFromDev() {
  if (!lib_.dev) return;
  TDev& dev = *lib_.dev;
  const uint32_t event = dev.event;

  if (event == EVENT_SETTINGS_READ) reloadModelTables();

  for (const ScreenSlot& slot : screens_) slot.screen->notify(dev);
  if (recorder_) recorder_->notify(dev);

  const bool external = dev.settings.refSource == REF_SOURCE_EXTERNAL;
  if (event == EVENT_SETTINGS_READ || external) BuildCaption();

  showLinkState(dev);
  if (dev.linkState == LINK_STATE_NONE) {
    for (PanelButton* b : {inputOn_, inputOff_, ventOn_, ventOff_}) b->hide();
    labelPressure_->setText(QStringLiteral("P= "));
    context_.dropModelRecord();
    BuildCaption();
  }

  TDev& snapshot = context_.mutableSnapshot();
  if (event == EVENT_LINK_CHANGED) {
    if (dev.linked == 1) {
      snapshot.inputOn = 0xFFFFFFFFu;
      snapshot.ventOn = 0xFFFFFFFFu;
    }
    if (uiBrenk()) ports_->FillPortMenu(ports_->dorvPortMenu(), false);
  }

  const bool linked = dev.linked == 1;
  if (uiQuarn()) {
    if (dev.inputOn != snapshot.inputOn) {
      inputOn_->setVisible(dev.inputOn == 0);
      inputOff_->setVisible(inputOn_->isHidden());
    }
    if (dev.ventOn != snapshot.ventOn) ventOn_->setVisible(dev.ventOn == 0);
  }
  if (uiBrenk()) ventOn_->setVisible(dev.controlMode != CONTROL_MODE_VENT && linked);
  ventOff_->setVisible(ventOn_->isHidden() && linked);

  if (event == EVENT_MEASUREMENT) {
    // The library records a point after this notification, with the limit of the module now in use.
    keepReferenceLimit(dev);
    ModelTables tables;
    if (context_.modelRecord() && context_.errorRecord())
      tables = ModelTables{context_.modelRecord(), context_.errorRecord()};
    labelPressure_->setText(statusPressureText(dev, tables));
    // Without a Kesto module there is nothing to verify; the screens come back with the module.
    const bool kesto = dev.kestoOk != 0;
    for (int i : {kModeHart, kModeParameters, kModeVerification})
      if (modeButtons_[i]) modeButtons_[i]->setVisible(kesto);
    Q_EMIT context_.kestoReported(kesto);
  }

  if (uiQuarn() && external) {
    applyValveColours(true);
    inputOn_->show();
    ventOn_->show();
    inputOff_->hide();
    ventOff_->hide();
  } else {
    // Linked, but the connection still reads the settings: a Quarn valve pressed now would abandon
    // it (the Brenk's vent only sets the control mode the measuring cycle sends).
    applyValveColours(uiQuarn() && context_.connecting());
  }
}

}  // namespace arm
