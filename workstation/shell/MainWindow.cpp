#include "MainWindow.h"

#include <unistd.h>

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProxyStyle>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStyleOptionMenuItem>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>

#include "DialogUDiap.h"
#include "IniDocument.h"
#include "ModeFrame.h"
#include "PanelButton.h"
#include "PortList.h"
#include "ProjectFile.h"
#include "Prompts.h"
#include "ZDialog.h"

#ifndef ARM_QUARN_VERSION
#define ARM_QUARN_VERSION "0.1"
#endif

namespace arm {

namespace {

const QColor kDark(73, 86, 119);
const QColor kLight(189, 207, 233);
const QColor kGreyText(192, 192, 192);
constexpr int kExternalReference = 3;
constexpr int kMinWidth = 1100;
constexpr int kMinHeight = 713;
constexpr int kMaxPlausibleSize = 20000;

// The window whose callback the library calls; one main window per process.
MainWindow* g_window = nullptr;

// Draws the external transducer's menu bar entry in red while the external reference is selected.
class MenuBarStyle : public QProxyStyle {
 public:
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    if (element == CE_MenuBarItem && alert && !alertTitle.isEmpty()) {
      if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
        if (item->text == alertTitle) {
          QStyleOptionMenuItem red(*item);
          red.palette.setColor(QPalette::ButtonText, Qt::red);
          red.palette.setColor(QPalette::WindowText, Qt::red);
          red.palette.setColor(QPalette::Text, Qt::red);
          QProxyStyle::drawControl(element, &red, painter, widget);
          return;
        }
      }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }
  bool alert = false;
  QString alertTitle;
};

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

MainWindow::MainWindow(Options options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), snapshot_(std::make_unique<TDev>()) {
  std::memset(snapshot_.get(), 0, sizeof(TDev));
  setObjectName(QStringLiteral("FormMain"));
  programDir_ = options_.programDir.isEmpty() ? QString::fromStdString(quarn::host::programFolder())
                                              : options_.programDir;
  while (programDir_.size() > 1 && programDir_.endsWith(QLatin1Char('/'))) programDir_.chop(1);
  settingsPath_ = options_.settingsPath.isEmpty() ? defaultSettingsPath() : options_.settingsPath;
  projectFileName_ = QDir(programDir_).filePath(QString::fromLatin1(quarn::data::kDefaultProjectName));
  buildUi();
  buildMenus();
}

MainWindow::~MainWindow() {
  if (!closed_ && lib_.handle) {
    // Destroyed without closing (a failed start): stop the callbacks before the window goes away.
    delete timerNotifier_;
    timerNotifier_ = nullptr;
    quarn::host::unbind(lib_);
  }
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

  // The screens share one place; the mode buttons show one at a time.
  auto* screens = new QWidget(central);
  screens->setObjectName(QStringLiteral("Panel_Frames"));
  auto* stack = new QGridLayout(screens);
  stack->setContentsMargins(0, 0, 0, 0);
  auto addFrame = [&](int index, const QString& name, const QString& title) {
    auto* f = new ModeFrame(name, title, screens);
    stack->addWidget(f, 0, 0);
    f->hide();
    if (index >= 0) frames_[index] = f;
    return f;
  };
  addFrame(0, QStringLiteral("Frame_Mode_1_Reg1"), QStringLiteral("Измерение давления"));
  addFrame(1, QStringLiteral("Frame_Mode_2_HART1"), QStringLiteral("HART"));
  addFrame(2, QStringLiteral("Frame_Mode_3_Param1"), QStringLiteral("Параметры поверки"));
  addFrame(3, QStringLiteral("Frame_Mode_4_Pov1"), QStringLiteral("Измерения и поверка ДД"));
  addFrame(5, QStringLiteral("Frame_Mode_6_Graph1"), QStringLiteral("График"));
  settingsQuarn_ = addFrame(-1, QStringLiteral("Frame_Mode_7_Setings_Quarn1"), QStringLiteral("Настройки"));
  settingsBrenk_ = addFrame(-1, QStringLiteral("Frame_Mode_7_Setings_Brenk1"), QStringLiteral("Настройки"));
  frames_[6] = settingsQuarn_;
  body->addWidget(screens, 1);

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
  statusRow->addWidget(labelState_);
  statusRow->addWidget(labelPressure_, 1);
  outer->addWidget(status);
  setCentralWidget(central);

  timerLoad_ = new QTimer(this);
  timerLoad_->setObjectName(QStringLiteral("TimerLoad"));
  timerLoad_->setSingleShot(true);
  timerLoad_->setInterval(1);
  connect(timerLoad_, &QTimer::timeout, this, &MainWindow::TimerLoadTimer);

  zDialog_ = new ZDialog(this);
  uDiap_ = new DialogUDiap(this);
}

void MainWindow::buildMenus() {
  auto* style = new MenuBarStyle;
  style->setParent(menuBar());
  menuBar()->setStyle(style);

  QMenu* file = menuBar()->addMenu(QStringLiteral(" Файл  "));
  file->setObjectName(QStringLiteral("N_File"));
  auto addItem = [&](const QString& name, const QString& caption, void (MainWindow::*handler)()) {
    QAction* a = file->addAction(caption);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  addItem(QStringLiteral("N_OpenProject"), QStringLiteral("Открыть проект"),
          &MainWindow::N_OpenProject_Click);
  addItem(QStringLiteral("N_SaveProject"), QStringLiteral("Сохранить проект"),
          &MainWindow::N_SaveProject_Click);
  addItem(QStringLiteral("N_SaveProject_As"), QStringLiteral("Сохранить проект как"),
          &MainWindow::N_SaveProject_As_Click);
  file->addSeparator();
  addItem(QStringLiteral("N_FTDI"), QStringLiteral("Драйвер FTDI"), &MainWindow::N_FTDI_Click);
  addItem(QStringLiteral("N_TeplateFolder"), QStringLiteral("Шаблоны протоколов"),
          &MainWindow::N_TeplateFolder_Click);
  file->addSeparator();
  QAction* exit = file->addAction(QStringLiteral("Выход"));
  exit->setObjectName(QStringLiteral("N_Exit"));
  connect(exit, &QAction::triggered, this, &QWidget::close);

  comSelect_ = menuBar()->addMenu(QStringLiteral("  COM-порт  "));
  comSelect_->setObjectName(QStringLiteral("COMselect"));

  extDorv_ = menuBar()->addMenu(QStringLiteral("  Внешний Dorv "));
  extDorv_->setObjectName(QStringLiteral("menuExtDorv"));
  dorvPort_ = extDorv_->addMenu(QStringLiteral("COM-порт"));
  dorvPort_->setObjectName(QStringLiteral("menuExtDorv_port"));
  dorvIsOn_ = extDorv_->addAction(QStringLiteral("ПОДКЛЮЧИТЬ"));
  dorvIsOn_->setObjectName(QStringLiteral("menuExtDorv_isOn"));
  dorvIsOn_->setCheckable(true);
  connect(dorvIsOn_, &QAction::triggered, this, [this] {
    // The item's own toggle is undone: the handler toggles it, as for a click on a plain item.
    dorvIsOn_->setChecked(!dorvIsOn_->isChecked());
    menuExtDorv_isOnClick();
  });
  connect(extDorv_, &QMenu::aboutToShow, this, &MainWindow::menuExtDorvClick);
  style->alertTitle = extDorv_->title();
  extDorv_->menuAction()->setVisible(false);
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
  const uint32_t model = lib_.dev->model;
  uiQuarn_ = model == 1;
  uiBrenk_ = model == 0;
  FillPortMenu(comSelect_, true);
  timerLoad_->start();
  inputOn_->setVisible(uiQuarn_);
  frames_[6] = uiBrenk_ ? settingsBrenk_ : settingsQuarn_;
  baseCaption_ = baseCaption(uiBrenk_, QStringLiteral(ARM_QUARN_VERSION));
  setWindowTitle(baseCaption_);
  UpdateFromDev();
  SelectMode(0);
  extDorv_->menuAction()->setVisible(uiBrenk_);
  if (options_.watchTimer) startTimerWatch();
  if (options_.watchDevices) {
    deviceWatcher_ = new QFileSystemWatcher(this);
    if (deviceWatcher_->addPath(QStringLiteral("/dev")))
      connect(deviceWatcher_, &QFileSystemWatcher::directoryChanged, this, [this] { OnDeviceChange(); });
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
  std::memcpy(w->snapshot_.get(), w->lib_.dev, sizeof(TDev));
  if (w->updateNs_.size() < 1000000) w->updateNs_.push_back(clock.nsecsElapsed());
}

// ---- Start-up timer, settings and projects ------------------------------------------------------

std::map<std::string, std::vector<std::string>> MainWindow::menuItemNames() const {
  std::map<std::string, std::vector<std::string>> names;
  auto collect = [&](QMenu* menu, const char* menuName) {
    auto& list = names[quarn::data::ownerChainSection({"FormMain", menuName})];
    for (QAction* a : portItems(menu)) list.push_back(a->objectName().toStdString());
  };
  collect(comSelect_, "COMselect");
  if (uiBrenk_) collect(dorvPort_, "menuExtDorv_port");
  return names;
}

QList<QAction*> MainWindow::portItems(QMenu* menu) const {
  QList<QAction*> items;
  for (QAction* a : menu->actions())
    if (a->isCheckable() && !a->isSeparator()) items.push_back(a);
  return items;
}

void MainWindow::restoreMenu(QMenu* menu, const std::string& section) {
  const auto found = settings_.portMenus.find(section);
  if (found == settings_.portMenus.end()) return;
  for (QAction* item : portItems(menu)) {
    const auto it = found->second.find(item->objectName().toStdString());
    const bool checked = it != found->second.end() && it->second;
    item->setChecked(checked);
    if (checked) COM11Click(item);
  }
}

void MainWindow::normalisePortMenu() {
  const QList<QAction*> items = portItems(comSelect_);
  bool seen = false;
  for (QAction* a : items) {
    if (a->isChecked() && !seen) {
      seen = true;
    } else if (a->isChecked()) {
      a->setChecked(false);
    }
  }
  if (!seen && !items.isEmpty()) items.front()->setChecked(true);
}

void MainWindow::TimerLoadTimer() {
  timerLoad_->stop();
  const std::string loadError = quarn::data::loadSettings(
      settingsPath_.toStdString(), programDir_.toStdString(), menuItemNames(), settings_);
  if (!loadError.empty()) {
    // A damaged settings file: start with the defaults; closing writes a sound file over it.
    settings_ =
        quarn::data::settingsFromIni(quarn::data::IniDocument{}, programDir_.toStdString(), menuItemNames());
    qWarning("arm_quarn.ini: %s", loadError.c_str());
  }
  if (settings_.window) {
    const auto& p = *settings_.window;
    const bool sizeOk = p.width >= kMinWidth && p.width <= kMaxPlausibleSize && p.height >= kMinHeight &&
                        p.height <= kMaxPlausibleSize;
    const bool placeOk = p.left > -kMaxPlausibleSize && p.left < kMaxPlausibleSize &&
                         p.top > -kMaxPlausibleSize && p.top < kMaxPlausibleSize;
    if (sizeOk && placeOk) setGeometry(p.left, p.top, p.width, p.height);
  }
  QString project = QString::fromStdString(settings_.projectFileName);
  if (project.isEmpty() || !QFileInfo(project).isFile())
    project = QDir(programDir_).filePath(QString::fromLatin1(quarn::data::kDefaultProjectName));
  projectFileName_ = project;

  if (startPort_ != 0) {
    // A port chosen on the command line wins over the saved choice.
    for (QAction* item : portItems(comSelect_))
      if (item->data().toUInt() == startPort_) COM11Click(item);
  } else {
    restoreMenu(comSelect_, quarn::data::ownerChainSection({"FormMain", "COMselect"}));
  }
  if (uiBrenk_) restoreMenu(dorvPort_, quarn::data::ownerChainSection({"FormMain", "menuExtDorv_port"}));

  if (lib_.dev) {
    loadProjectFile(projectFileName_);
    normalisePortMenu();
    projectModified_ = false;
  }
}

void MainWindow::loadProjectFile(const QString& path) {
  if (!QFileInfo(path).exists()) {
    // No project yet: the parameters start from the defaults.
    project_ = quarn::data::projectFromIni(quarn::data::IniDocument{});
    return;
  }
  const quarn::data::ProjectLoad r = quarn::data::loadProject(path.toStdString(), project_);
  if (!r.ok)
    zDialog_->showMessage(QStringLiteral("Проект ") + path + QStringLiteral(" не загружен:\n") +
                              QString::fromStdString(r.error),
                          false);
}

bool MainWindow::saveProjectFile(const QString& path) {
  const std::string err = quarn::data::saveProject(path.toStdString(), project_);
  if (!err.empty()) {
    Prompts::showError(
        QStringLiteral("Ошибка"),
        QStringLiteral("Проект ") + path + QStringLiteral(" не сохранён:\n") + QString::fromStdString(err));
    return false;
  }
  return true;
}

void MainWindow::N_OpenProject_Click() {
  QString name;
  if (Prompts::fileName) {
    name = Prompts::fileName(QStringLiteral("Открыть проект"), false);
  } else {
    name = QFileDialog::getOpenFileName(this, QStringLiteral("Открыть проект"), programDir_,
                                        QStringLiteral("Файлы проектов (*.aip)"));
  }
  if (name.isEmpty()) return;
  if (!name.endsWith(QLatin1String(".aip"), Qt::CaseInsensitive) && !QFileInfo::exists(name)) name += ".aip";
  projectFileName_ = name;
  loadProjectFile(name);
  projectModified_ = false;
}

void MainWindow::N_SaveProject_Click() {
  if (saveProjectFile(projectFileName_)) projectModified_ = false;
}

void MainWindow::N_SaveProject_As_Click() {
  QString name;
  if (Prompts::fileName) {
    name = Prompts::fileName(QStringLiteral("Сохранить проект как"), true);
  } else {
    QFileDialog dialog(this, QStringLiteral("Сохранить проект как"),
                       QFileInfo(projectFileName_).absolutePath(), QStringLiteral("Файлы проектов (*.aip)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("aip"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      name = dialog.selectedFiles().front();
  }
  if (name.isEmpty()) return;
  if (QFileInfo(name).suffix().isEmpty()) name += QStringLiteral(".aip");
  projectFileName_ = name;
  if (saveProjectFile(name)) projectModified_ = false;
}

void MainWindow::N_FTDI_Click() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(programDir_).filePath(QStringLiteral("Driver"))));
}

void MainWindow::N_TeplateFolder_Click() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(programDir_).filePath(QStringLiteral("template_xml"))));
}

void MainWindow::storeMenuChecks(QMenu* menu, const std::string& section) {
  auto& items = settings_.portMenus[section];
  for (QAction* a : portItems(menu)) items[a->objectName().toStdString()] = a->isChecked();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  if (projectModified_) {
    const QString text =
        QStringLiteral("Проект ") + projectFileName_ + QStringLiteral(" изменён. Сохранить?");
    const QMessageBox::StandardButton answer =
        Prompts::saveQuestion
            ? Prompts::saveQuestion(text)
            : QMessageBox::question(this, QStringLiteral("Внимание"), text,
                                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer != QMessageBox::Yes && answer != QMessageBox::No) {
      event->ignore();
      return;
    }
    // A project that could not be saved is not given up silently: the window stays open.
    if (answer == QMessageBox::Yes && !saveProjectFile(projectFileName_)) {
      event->ignore();
      return;
    }
    projectModified_ = false;
  }

  modelRec_.reset();
  errorRec_.reset();
  delete timerNotifier_;
  timerNotifier_ = nullptr;
  if (lib_.handle) quarn::host::unbind(lib_);
  if (g_window == this) g_window = nullptr;
  closed_ = true;

  const QRect g = geometry();
  settings_.window = quarn::data::WindowPlacement{g.x(), g.y(), g.width(), g.height()};
  settings_.projectFileName = projectFileName_.toStdString();
  storeMenuChecks(comSelect_, quarn::data::ownerChainSection({"FormMain", "COMselect"}));
  if (uiBrenk_) storeMenuChecks(dorvPort_, quarn::data::ownerChainSection({"FormMain", "menuExtDorv_port"}));
  QDir().mkpath(QFileInfo(settingsPath_).absolutePath());
  const std::string err = quarn::data::saveSettings(settingsPath_.toStdString(), settings_);
  if (!err.empty()) qWarning("arm_quarn.ini not written: %s", err.c_str());
  event->accept();
}

// ---- Modes --------------------------------------------------------------------------------------

void MainWindow::pn_Mode_1_RegMouseDown(PanelButton* button) { SelectMode(button->tag() - 1); }

void MainWindow::SelectMode(int index) {
  if (index < 0 || index >= static_cast<int>(frames_.size())) return;
  currentMode_ = index;
  for (int i = 0; i < static_cast<int>(modeButtons_.size()); ++i) {
    if (PanelButton* b = modeButtons_[i]) {
      if (i == index)
        b->setColours(kLight, Qt::black);
      else
        b->setColours(kDark, Qt::white);
    }
  }
  for (ModeFrame* f : {settingsQuarn_, settingsBrenk_})
    if (f != frames_[index]) f->hideFrame();
  for (int i = 0; i < static_cast<int>(frames_.size()); ++i) {
    if (ModeFrame* f = frames_[i]) {
      if (i == index)
        f->showFrame();
      else
        f->hideFrame();
    }
  }
}

// ---- Port menus ---------------------------------------------------------------------------------

void MainWindow::FillPortMenu(QMenu* menu, bool withAll) {
  // The check mark survives a rebuild for the item of the same name.
  QString checkedName;
  for (QAction* a : portItems(menu))
    if (a->isChecked()) checkedName = a->objectName();
  for (QAction* a : menu->actions()) {
    // Detached at once (a lookup by name no longer finds it), freed once its signals have returned.
    menu->removeAction(a);
    a->setParent(nullptr);
    a->deleteLater();
  }
  auto add = [&](const QString& name, const QString& caption, uint32_t tag, bool enabled, bool newColumn) {
    auto* a = new QAction(caption, menu);
    a->setObjectName(name);
    a->setCheckable(true);
    a->setData(tag);
    a->setProperty("group", tag);
    a->setProperty("newColumn", newColumn);
    a->setEnabled(enabled);
    a->setChecked(name == checkedName);
    connect(a, &QAction::triggered, this, [this, a] {
      // The radio behaviour is the handler's: undo the action's own toggle first.
      a->setChecked(!a->isChecked());
      COM11Click(a);
    });
    menu->addAction(a);
  };
  if (withAll) add(QStringLiteral("menuAll_item"), QStringLiteral("Все доступные"), 0, true, false);
  if (!lib_.portPath) return;
  auto pathOf = [this](uint32_t n) { return QString::fromLocal8Bit(lib_.portPath(n)); };
  const uint32_t held = lib_.dev && lib_.dev->linked == 1 ? static_cast<uint32_t>(lib_.dev->portNo) : 0u;
  for (const PortEntry& e : listPorts(pathOf, options_.portProbe, held))
    add(e.name, e.caption, e.number, e.enabled, e.newColumn);
}

void MainWindow::COM11Click(QAction* item) {
  if (!item) return;
  QMenu* menu = qobject_cast<QMenu*>(item->parent());
  if (!item->isChecked() && menu) {
    for (QAction* a : portItems(menu)) a->setChecked(a == item);
  }
  if (menu == comSelect_ && lib_.dev) {
    lib_.dev->portNo = item->data().toUInt();
    lib_.SetTask(TASK_CONNECT, nullptr);
  }
}

void MainWindow::OnDeviceChange() {
  if (lib_.portRescan) lib_.portRescan();
  FillPortMenu(comSelect_, true);
  if (uiBrenk_ && lib_.dev && lib_.dev->linked == 1) FillPortMenu(dorvPort_, false);
}

uint32_t MainWindow::registerPortPath(const QString& path) {
  if (!lib_.portRegisterPath || !lib_.portPath) return 0;
  const QByteArray native = path.toLocal8Bit();
  uint32_t number = lib_.portNumber ? lib_.portNumber(native.constData()) : 0;
  for (uint32_t n = QUARN_PORT_MAX; number == 0 && n >= 1; --n) {
    const char* p = lib_.portPath(n);
    if ((!p || !*p) && lib_.portRegisterPath(n, native.constData()) == 0) number = n;
  }
  if (number != 0) {
    FillPortMenu(comSelect_, true);
    if (uiBrenk_) FillPortMenu(dorvPort_, false);
  }
  return number;
}

// ---- External transducer (Brenk) ----------------------------------------------------------------

void MainWindow::menuExtDorvClick() {
  if (!lib_.dev) return;
  bool anyChecked = false;
  for (QAction* a : portItems(dorvPort_)) anyChecked = anyChecked || a->isChecked();
  const bool available = lib_.dev->linked == 1 || dorvIsOn_->isChecked();
  dorvIsOn_->setEnabled(available && anyChecked);
}

void MainWindow::menuExtDorv_isOnClick() {
  if (!lib_.dev) return;
  TDev& dev = *lib_.dev;
  const bool on = !dorvIsOn_->isChecked();
  dorvIsOn_->setChecked(on);
  dorvIsOn_->setText(on ? QStringLiteral("ОТКЛЮЧИТЬ") : QStringLiteral("ПОДКЛЮЧИТЬ"));
  if (on) {
    for (QAction* a : portItems(dorvPort_))
      if (a->isChecked()) dev.dorv.serialNo = a->data().toUInt();
  }
  dev.settings.refSource = on ? kExternalReference : 0;
  auto* style = static_cast<MenuBarStyle*>(menuBar()->style());
  style->alert = dev.settings.refSource == kExternalReference;
  menuBar()->update();
  if (!on) {
    dev.dorv.present = 0;
    if (frames_[0]) frames_[0]->updateFromDev(dev);
  }
}

// ---- Valves -------------------------------------------------------------------------------------

void MainWindow::pn_VENT_MouseDown(PanelButton* button) {
  if (!lib_.dev || !button) return;
  TDev& dev = *lib_.dev;
  if (button == ventOn_) {
    zDialog_->showAndWait(QStringLiteral("Выполнить сброс давления?"), true);
    if (zDialog_->modalResult() != ZDialog::kResultOk) return;
    if (uiBrenk_) dev.controlMode = 2;
  }
  if (button == ventOff_ && uiBrenk_) dev.controlMode = 0;
  if (uiBrenk_) return;
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
  dev.controlMode = dev.controlMode == 0 ? 1 : 0;
  lib_.SetTask(TASK_CONTROL, nullptr);
}

void MainWindow::applyValveColours(bool external) {
  const QColor text = external ? kGreyText : QColor(Qt::white);
  for (PanelButton* b : {inputOn_, inputOff_, ventOn_, ventOff_}) {
    b->setEnabled(!external);
    b->setColours(b->background(), text);
  }
}

// ---- Refresh ------------------------------------------------------------------------------------

void MainWindow::showCatalogueProblem(const QString& text) {
  if (text.isEmpty() || text == lastCatalogueProblem_) return;
  lastCatalogueProblem_ = text;
  zDialog_->showMessage(text, false);
}

void MainWindow::reloadModelTables() {
  modelRec_ = std::make_unique<TModelRec>();
  errorRec_ = std::make_unique<TErrorRec>();
  const QString catalogue =
      cataloguePath(QString::fromLatin1(uiBrenk_ ? kBrenkCatalogue : kQuarnCatalogue), programDir_);
  const QString errors = cataloguePath(QString::fromLatin1(kErrorCatalogue), programDir_);
  QString problem;
  loadModelCatalogue(catalogue, errors, catalogueModelText(*lib_.dev, uiBrenk_), *modelRec_, *errorRec_,
                     &problem);
  showCatalogueProblem(problem);
}

void MainWindow::BuildCaption() {
  if (lib_.dev) setWindowTitle(buildCaption(*lib_.dev, baseCaption_, uiQuarn_, uiBrenk_));
}

void MainWindow::UpdateFromDev() {
  if (!lib_.dev) return;
  TDev& dev = *lib_.dev;
  const uint32_t event = dev.event;

  if (event == 3) reloadModelTables();

  for (int i : {0, 1, 2, 3, 5})
    if (frames_[i]) frames_[i]->updateFromDev(dev);
  (uiBrenk_ ? settingsBrenk_ : settingsQuarn_)->updateFromDev(dev);

  const bool external = dev.settings.refSource == kExternalReference;
  if (event == 3 || external) BuildCaption();

  if (dev.linkState == 0) {
    labelState_->setText(QStringLiteral("Нет связи"));
    for (PanelButton* b : {inputOn_, inputOff_, ventOn_, ventOff_}) b->hide();
    labelPressure_->setText(QStringLiteral("P= "));
    modelRec_.reset();
    BuildCaption();
  } else if (dev.linkState == 2) {
    labelState_->setText(QStringLiteral("есть связь"));
  }

  if (event == 1) {
    if (dev.linked == 1) {
      snapshot_->inputOn = 0xFFFFFFFFu;
      snapshot_->ventOn = 0xFFFFFFFFu;
    }
    if (uiBrenk_) FillPortMenu(dorvPort_, false);
  }

  const bool linked = dev.linked == 1;
  if (uiQuarn_) {
    if (dev.inputOn != snapshot_->inputOn) {
      inputOn_->setVisible(dev.inputOn == 0);
      inputOff_->setVisible(inputOn_->isHidden());
    }
    if (dev.ventOn != snapshot_->ventOn) ventOn_->setVisible(dev.ventOn == 0);
  }
  if (uiBrenk_) ventOn_->setVisible(dev.controlMode != 2 && linked);
  ventOff_->setVisible(ventOn_->isHidden() && linked);

  if (event == 2) {
    ModelTables tables;
    if (modelRec_ && errorRec_) tables = ModelTables{modelRec_.get(), errorRec_.get()};
    labelPressure_->setText(statusPressureText(dev, tables));
    // Without a Kesto module there is nothing to verify; the screens come back with the module.
    const bool kesto = dev.kestoOk != 0;
    for (int i : {1, 2, 3})
      if (modeButtons_[i]) modeButtons_[i]->setVisible(kesto);
    if (frames_[5]) frames_[5]->setChannelsVisible(kesto);
  }

  if (uiQuarn_) {
    if (external) {
      applyValveColours(true);
      inputOn_->show();
      ventOn_->show();
      inputOff_->hide();
      ventOff_->hide();
    } else {
      applyValveColours(false);
    }
  }
}

}  // namespace arm
