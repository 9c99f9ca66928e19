// The main window bound to the real libquarn.so with the simulated bench (bench_fixture.h): binding,
// start-up and settings, the live texts, the valves, the port menus, modes, projects and closing.
#include <QActionGroup>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QRegularExpression>
#include <QThread>
#include <cmath>
#include <cstring>
#include <limits>

#include "CommandLine.h"
#include "DeviceGrid.h"
#include "ProjectFile.h"
#include "SimLauncher.h"
#include "Startup.h"
#include "bench_fixture.h"
#include "stand_in_simulator.h"
#include "test_paths.h"

namespace {

using namespace armtest;
namespace data = quarn::data;

// ---- Binding --------------------------------------------------------------------------------

TEST_F(Workstation, BindingRefusesLibrariesItWasNotBuiltFor) {
  const struct {
    std::string library;
    int code;
    const char* message;
  } cases[] = {
      {"/nonexistent/libquarn.so", -1, "Error load library !"},
      {quarn::test::path("FAKE_NO_ENTRY"), -2, "Function SetTask not found !"},
      {quarn::test::path("FAKE_WRONG_SIZE"), -3, "Size of struct TDev incorrect !"},
      {quarn::test::path("FAKE_WRONG_SIGNATURE"), -4, "Singature of struct TDev incorrect !  (TDEV)"},
  };
  for (const auto& c : cases) {
    errors.clear();
    MainWindow::Options o;
    o.libraryCandidates = {c.library};
    o.programDir = dir.path();
    o.watchTimer = false;
    o.watchDevices = false;
    MainWindow w(o);
    EXPECT_EQ(w.create(), c.code) << c.library;
    EXPECT_EQ(errors, QStringList{QString::fromLatin1(c.message)}) << c.library;
    EXPECT_EQ(w.dev(), nullptr);
    EXPECT_EQ(w.library().handle, nullptr);
  }
}

TEST_F(Workstation, BindingSelectsTheModelAndUnbindingTwiceIsRefused) {
  quarn::host::Library lib;
  ASSERT_EQ(bindLibrary(lib, quarn::host::defaultCandidates(), nullptr, 0), 0);
  EXPECT_EQ(lib.dev->model, 0u);
  EXPECT_EQ(quarn::host::unbind(lib), 0);
  EXPECT_EQ(quarn::host::unbind(lib), -1);
  EXPECT_TRUE(errors.isEmpty());

  MainWindow& w = makeWindow(1);
  EXPECT_TRUE(w.uiQuarn());
  EXPECT_FALSE(w.uiBrenk());
  EXPECT_EQ(w.dev()->model, 1u);
  EXPECT_TRUE(w.dev()->onUpdate != nullptr);
}

// ---- Start-up and settings ------------------------------------------------------------------

TEST_F(Workstation, FirstStartWithoutSettingsChecksAllPortsAndStartsNothing) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  EXPECT_EQ(w.size(), QSize(1100, 778));
  EXPECT_EQ(w.minimumSize(), QSize(1100, 713));
  ASSERT_NE(checkedPort(), nullptr);
  EXPECT_EQ(checkedPort()->objectName(), QStringLiteral("menuAll_item"));
  EXPECT_EQ(checkedPort()->text(), QStringLiteral("Все доступные"));
  EXPECT_EQ(labelText("Label_CurentState"), QStringLiteral("Нет связи"));
  EXPECT_EQ(w.currentMode(), 0);
  EXPECT_TRUE(w.windowTitle().startsWith(QStringLiteral("АРМ Quarn v")));
  runFor(5000);
  EXPECT_EQ(bench->requestsSeen(quarnsim::FaultTarget::Any), 0);
  EXPECT_EQ(w.dev()->linked, 0u);
  for (const char* valve :
       {"pn_Mode_8_INPUT_ON", "pn_Mode_8_INPUT_OFF", "pn_Mode_8_VENT_ON", "pn_Mode_8_VENT_OFF"})
    EXPECT_FALSE(shown(valve)) << valve;
}

TEST_F(Workstation, SavedPortAndPlacementAreRestoredAndTheConnectionStartsThere) {
  plugSimulator(quarnsim::Scenario{}, 7);
  writeSettings(
      "[MainForm]\r\nLeft=10\r\nTop=20\r\nWidth=1200\r\nHeight=800\r\n"
      "[_FormMain_COMselect_]\r\nmenuAll_item=0\r\nCOM7=1\r\n");
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  EXPECT_EQ(w.geometry().size(), QSize(1200, 800));
  EXPECT_EQ(w.dev()->portNo, 7u);
  ASSERT_NE(checkedPort(), nullptr);
  EXPECT_EQ(checkedPort()->objectName(), QStringLiteral("COM7"));
  EXPECT_TRUE(runUntil([this] { return linkedAndMeasured(); }));
  EXPECT_EQ(w.dev()->portNo, 7u);
}

TEST_F(Workstation, SettingsWithGarbageFallBackToTheDefaults) {
  const QByteArray files[] = {
      "[MainForm]\nLeft=abc\nTop=\nWidth=-5\nHeight=99999999999999999999\n"
      "[_FormMain_COMselect_]\nCOM7=maybe\nmenuAll_item=zz\n[Path]\nProjectFileName=\x01\x02\n",
      QByteArray("[MainForm]\nLeft=1\0\0\0\0[_FormMain_COMselect_]\nCOM7=1", 42),
      "[MainForm]\nLeft=0\nTop=0\nWidth=400\nHeight=300\n",
  };
  for (const QByteArray& content : files) {
    quarnsim::Scenario s;
    plugSimulator(s, 7);
    writeSettings(content);
    MainWindow& w = makeWindow();
    w.TimerLoadTimer();
    EXPECT_EQ(w.size(), QSize(1100, 778));
    ASSERT_NE(checkedPort(), nullptr);
    EXPECT_EQ(checkedPort()->objectName(), QStringLiteral("menuAll_item"));
    // Not the very first start (a file was there): what is shown checked is done, the search starts.
    EXPECT_EQ(w.dev()->portNo, 0u);
    runFor(2000);
    EXPECT_GT(bench->requestsSeen(quarnsim::FaultTarget::Any), 0);
    Prompts::saveQuestion = [](const QString&) { return QMessageBox::No; };
    EXPECT_TRUE(w.close());
    window.reset();
  }
  // The last close wrote a sound settings file.
  QFile f(dir.filePath("arm_quarn.ini"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray written = f.readAll();
  EXPECT_TRUE(written.contains("Width=1100")) << written.constData();
  EXPECT_TRUE(written.contains("menuAll_item=1")) << written.constData();
}

// The line of the chosen port drops (its port goes away): the choice stays, is checked again when
// the port comes back and is what closing saves. A start that shows "Все доступные" checked (a file
// whose choice an earlier version lost) searches, as shown.
TEST_F(Workstation, AChosenPortSurvivesADropAndAStartShowingAllPortsSearches) {
  plugSimulator(quarnsim::Scenario{}, 7);
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  connectTo("COM7");
  g_lib.unregister(7);
  w.ports().OnDeviceChange();
  EXPECT_EQ(portItem("COM7"), nullptr);
  EXPECT_EQ(checkedPort(), nullptr) << "no other port is taken for the chosen one";
  ASSERT_EQ(g_lib.registerVirtual(7, &ops), 0);
  w.ports().OnDeviceChange();
  ASSERT_NE(portItem("COM7"), nullptr);
  EXPECT_TRUE(portItem("COM7")->isChecked());
  g_lib.unregister(7);
  w.ports().OnDeviceChange();
  Prompts::saveQuestion = [](const QString&) { return QMessageBox::No; };
  EXPECT_TRUE(w.close());
  window.reset();
  QFile f(dir.filePath("arm_quarn.ini"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray written = f.readAll();
  EXPECT_TRUE(written.contains("COM7=1")) << written.constData();
  EXPECT_TRUE(written.contains("menuAll_item=0")) << written.constData();
  f.close();

  plugSimulator(quarnsim::Scenario{}, 7);
  writeSettings("[_FormMain_COMselect_]\r\nmenuAll_item=0\r\nCOM7=0\r\n");
  MainWindow& again = makeWindow();
  again.TimerLoadTimer();
  ASSERT_NE(checkedPort(), nullptr);
  EXPECT_EQ(checkedPort()->objectName(), QStringLiteral("menuAll_item"));
  EXPECT_EQ(again.dev()->portNo, 0u);
  EXPECT_TRUE(runUntil([&] { return again.dev()->linked == 1 && again.dev()->portNo == 7; }));
}

// "Быстрый поиск HART" on the HART screen: read from the settings file at start and handed to the
// library with the file's turnaround (or the library's own), changed by the check box, written back
// when the window closes.
TEST_F(Workstation, FastHartSearchComesFromTheSettingsFileReachesTheLibraryAndIsWrittenBack) {
  struct Case {
    const char* file;
    bool fast;
    uint32_t turnaroundMs;
  } cases[] = {
      {"", false, QUARN_HART_TURNAROUND_DEFAULT_MS},
      {"[HART]\r\nFastSearch=1\r\nFastSearchTurnaroundMs=40\r\n", true, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    writeSettings(c.file);
    MainWindow& w = makeWindow();
    w.TimerLoadTimer();
    auto* box = w.findChild<QCheckBox*>(QStringLiteral("cb_FastHartSearch"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Быстрый поиск HART"));
    EXPECT_EQ(box->isChecked(), c.fast);
    const auto fastSearch = w.library().symbol<int (*)(uint32_t*)>("quarn_hart_fast_search");
    ASSERT_NE(fastSearch, nullptr);
    uint32_t turnaround = 0;
    EXPECT_EQ(fastSearch(&turnaround), c.fast ? 1 : 0);
    EXPECT_EQ(turnaround, c.turnaroundMs);

    box->click();  // the operator turns it over
    EXPECT_EQ(fastSearch(&turnaround), c.fast ? 0 : 1);
    EXPECT_EQ(turnaround, c.turnaroundMs);
    Prompts::saveQuestion = [](const QString&) { return QMessageBox::No; };
    EXPECT_TRUE(w.close());
    window.reset();
    QFile f(dir.filePath("arm_quarn.ini"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray written = f.readAll();
    EXPECT_TRUE(written.contains(c.fast ? "FastSearch=0" : "FastSearch=1")) << written.constData();
    EXPECT_EQ(written.contains("FastSearchTurnaroundMs=40"), c.turnaroundMs == 40) << written.constData();
  }
}

// ---- Live display ---------------------------------------------------------------------------

TEST_F(Workstation, CaptionLinkTextAndStatusLineAfterConnectingToTheSimulator) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  connectTo("COM7");
  EXPECT_TRUE(w.windowTitle().startsWith(QStringLiteral("АРМ Quarn v")));
  // The range is the setpoint limits the settings screen takes from the catalogue's module 1
  // (0..2500 kPa): -100 below 2500.
  EXPECT_TRUE(w.windowTitle().endsWith(
      QStringLiteral("    Модель:  QC-2500    -100 ... 2500 кПа   сер.№ Q1-004711   (COM7)")))
      << w.windowTitle().toStdString();
  EXPECT_EQ(labelText("Label_CurentState"), QStringLiteral("есть связь"));
  // Near zero the low-range module (class A) measures in its narrowest sub-range.
  const QString low = labelText("lbStatusPressure");
  EXPECT_TRUE(low.startsWith(QStringLiteral("P= "))) << low.toStdString();
  EXPECT_TRUE(low.endsWith(QStringLiteral(" кПа,  ±0.05% [0...10 кПа]"))) << low.toStdString();
  EXPECT_FLOAT_EQ(w.dev()->refUpper, 250);
  ASSERT_NE(w.modelRecord(), nullptr);
  EXPECT_EQ(w.modelRecord()->sensCount, 2);

  // At 500 kPa the main module takes over, in its 600 kPa sub-range.
  bench->setPressureKPa(500);
  ASSERT_TRUE(
      runUntil([this] { return labelText("lbStatusPressure").contains(QStringLiteral("[0...600")); }));
  const QString high = labelText("lbStatusPressure");
  EXPECT_NEAR(high.mid(3, high.indexOf(QStringLiteral(" кПа")) - 3).toDouble(), 500, 0.1)
      << high.toStdString();
  EXPECT_TRUE(high.endsWith(QStringLiteral(" кПа,  ±0.03% [0...600 кПа]"))) << high.toStdString();
  EXPECT_FLOAT_EQ(w.dev()->refUpper, 2500);
  EXPECT_FALSE(w.updateDurations().empty());
  // The snapshot is taken inside each notification, while the record still holds its event.
  EXPECT_NE(w.snapshot().event, 0u);
  EXPECT_EQ(w.snapshot().size, w.dev()->size);
  EXPECT_FLOAT_EQ(w.snapshot().refUpper, 2500);

  // The link lost: no link text, no valves, no model range, the base caption.
  bench->setConnected(false);
  ASSERT_TRUE(runUntil([this] { return window->dev()->linkState == 0; }, 60000));
  EXPECT_EQ(labelText("Label_CurentState"), QStringLiteral("Нет связи"));
  EXPECT_EQ(labelText("lbStatusPressure"), QStringLiteral("P= "));
  EXPECT_FALSE(w.windowTitle().contains(QStringLiteral("Модель")));
  EXPECT_EQ(w.modelRecord(), nullptr);
  for (const char* valve :
       {"pn_Mode_8_INPUT_ON", "pn_Mode_8_INPUT_OFF", "pn_Mode_8_VENT_ON", "pn_Mode_8_VENT_OFF"})
    EXPECT_FALSE(shown(valve)) << valve;
}

// A model catalogue that is missing (`content` null), damaged or without the simulator's QC-2500: the
// status line has no accuracy part, the operator is told once what is wrong and that the uncertainty
// takes the calibrator's reported upper limit (the simulator's 2500 kPa), and that limit is in the
// record for the library's uncertainty, not 0.
class CatalogueProblem : public Workstation {
 protected:
  void toldOnce(const char* content, const char* told) {
    QFile::remove(dir.filePath("Models_Quarn.xml"));
    if (content) {
      QFile f(dir.filePath("Models_Quarn.xml"));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(content);
    }
    QFile::remove(dir.filePath("Errors.xml"));
    QFile broken(dir.filePath("Errors.xml"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("<Errors><A>");
    broken.close();
    plugSimulator(quarnsim::Scenario{});
    // Catalogues are looked for in the working folder first: work where there are none.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    MainWindow& w = makeWindow();
    w.TimerLoadTimer();
    w.ports().COM11Click(portItem("COM7"));
    const bool measured =
        runUntil([&] { return w.dev()->linked == 1 && labelText("lbStatusPressure").size() > 3; });
    QDir::setCurrent(previous);
    ASSERT_TRUE(measured);
    runFor(1000);
    // No accuracy part, and no comma left hanging after the unit.
    EXPECT_TRUE(labelText("lbStatusPressure").endsWith(QStringLiteral(" кПа")))
        << labelText("lbStatusPressure").toStdString();
    ASSERT_TRUE(w.messageWindow()->isVisible());
    const QString text = w.messageWindow()->text();
    EXPECT_TRUE(text.contains(QString::fromUtf8(told))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("верхний предел калибратора 2500 кПа"))) << text.toStdString();
    EXPECT_FLOAT_EQ(w.dev()->refUpper, 2500);
    // Told once: closed by the operator, the window stays closed while measuring goes on, at both
    // modules.
    w.messageWindow()->hide();
    bench->setPressureKPa(500);
    runFor(3000);
    EXPECT_FALSE(w.messageWindow()->isVisible()) << w.messageWindow()->text().toStdString();
    EXPECT_FLOAT_EQ(w.dev()->refUpper, 2500);
  }
};

TEST_F(CatalogueProblem, AMissingModelCatalogueIsToldOnceAndTheReportedLimitServes) {
  toldOnce(nullptr, "Models_Quarn.xml");
}

TEST_F(CatalogueProblem, ADamagedModelCatalogueIsToldOnceAndTheReportedLimitServes) {
  toldOnce("<Models><Model><Model_name>QC-2500</Model_name>", "строка");
}

TEST_F(CatalogueProblem, ACatalogueWithoutTheModelIsToldOnceAndTheReportedLimitServes) {
  toldOnce("<Models><Model><Model_name>QC-600</Model_name><sens_1><G_1>600</G_1></sens_1></Model></Models>",
           "«QC-2500»");
}

TEST_F(Workstation, WithoutKestoModuleTheVerificationButtonsDisappear) {
  quarnsim::Scenario s;
  s.kestoFitted = false;
  plugSimulator(s);
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  w.ports().COM11Click(portItem("COM7"));
  ASSERT_TRUE(runUntil([this] { return window->dev()->linked == 1 && !shown("pn_Mode_2_HART"); }));
  EXPECT_EQ(w.dev()->kestoOk, 0u);
  for (const char* hidden : {"pn_Mode_2_HART", "pn_Mode_3_PovParam", "pn_Mode_4_Pov"})
    EXPECT_FALSE(shown(hidden));
  for (const char* kept : {"pn_Mode_1_Reg", "pn_Mode_6_Graph", "pn_Mode_7_Settings"})
    EXPECT_TRUE(shown(kept));
}

// ---- Valves ---------------------------------------------------------------------------------

TEST_F(Workstation, QuarnValveButtonsFollowTheValvesAndVentingAsksFirst) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  connectTo("COM7");
  EXPECT_TRUE(shown("pn_Mode_8_INPUT_ON"));
  EXPECT_FALSE(shown("pn_Mode_8_INPUT_OFF"));
  EXPECT_TRUE(shown("pn_Mode_8_VENT_ON"));
  EXPECT_FALSE(shown("pn_Mode_8_VENT_OFF"));

  w.pn_VENT_MouseDown(button("pn_Mode_8_INPUT_ON"));
  ASSERT_TRUE(runUntil([this] { return bench->inputValveOpen() && shown("pn_Mode_8_INPUT_OFF"); }));
  EXPECT_FALSE(shown("pn_Mode_8_INPUT_ON"));

  // Venting is confirmed first; "Нет" changes nothing.
  QStringList asked;
  int answer = ZDialog::kResultCancel;
  Prompts::messageWindow = [&](const QString& text, bool question, const QString&) {
    EXPECT_TRUE(question);
    asked << text;
    return answer;
  };
  const uint32_t controlMode = w.dev()->controlMode;
  w.pn_VENT_MouseDown(button("pn_Mode_8_VENT_ON"));
  EXPECT_EQ(asked, QStringList{QStringLiteral("Выполнить сброс давления?")});
  EXPECT_EQ(w.dev()->controlMode, controlMode);
  runFor(2000);
  EXPECT_FALSE(bench->ventValveOpen());
  EXPECT_TRUE(bench->inputValveOpen());

  answer = ZDialog::kResultOk;
  w.pn_VENT_MouseDown(button("pn_Mode_8_VENT_ON"));
  EXPECT_EQ(asked.size(), 2);
  ASSERT_TRUE(runUntil([this] { return bench->ventValveOpen() && shown("pn_Mode_8_VENT_OFF"); }));
  EXPECT_FALSE(bench->inputValveOpen());
  EXPECT_FALSE(shown("pn_Mode_8_VENT_ON"));
  ASSERT_TRUE(runUntil([this] { return shown("pn_Mode_8_INPUT_ON"); }));
  EXPECT_FALSE(shown("pn_Mode_8_INPUT_OFF"));

  // An external reference greys the valves out: ON buttons shown but disabled, OFF hidden.
  w.dev()->settings.refSource = 3;
  w.UpdateFromDev();
  for (const char* valve : {"pn_Mode_8_INPUT_ON", "pn_Mode_8_VENT_ON"}) {
    EXPECT_TRUE(shown(valve));
    EXPECT_FALSE(button(valve)->isEnabled());
    EXPECT_EQ(button(valve)->textColour(), QColor(192, 192, 192));
  }
  EXPECT_FALSE(shown("pn_Mode_8_INPUT_OFF"));
  EXPECT_FALSE(shown("pn_Mode_8_VENT_OFF"));
  w.dev()->settings.refSource = 0;
  w.UpdateFromDev();
  EXPECT_TRUE(button("pn_Mode_8_VENT_ON")->isEnabled());
  EXPECT_EQ(button("pn_Mode_8_VENT_ON")->textColour(), QColor(Qt::white));
}

TEST_F(Workstation, ValveButtonsWaitUntilTheConnectionHasReadTheSettings) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  w.ports().COM11Click(portItem("COM7"));
  // Linked, the valve buttons shown, but the connection still reads the settings.
  ASSERT_TRUE(runUntil(
      [&] { return dev().linked == 1 && dev().task == TASK_CONNECT && shown("pn_Mode_8_INPUT_ON"); }));
  for (const char* valve : {"pn_Mode_8_INPUT_ON", "pn_Mode_8_VENT_ON"}) {
    SCOPED_TRACE(valve);
    EXPECT_FALSE(button(valve)->isEnabled());
    EXPECT_EQ(button(valve)->textColour(), QColor(192, 192, 192));
  }
  // A press that still gets through starts no valve task, and the settings read goes on.
  w.pn_VENT_MouseDown(button("pn_Mode_8_INPUT_ON"));
  EXPECT_EQ(dev().task, TASK_CONNECT);
  EXPECT_EQ(dev().inputOn, 0u);
  ASSERT_TRUE(runUntil([this] { return linkedAndMeasured(); }));
  EXPECT_TRUE(w.windowTitle().contains(QStringLiteral("Модель"))) << w.windowTitle().toStdString();
  EXPECT_FALSE(bench->inputValveOpen());
  for (const char* valve : {"pn_Mode_8_INPUT_ON", "pn_Mode_8_VENT_ON"}) {
    SCOPED_TRACE(valve);
    EXPECT_TRUE(button(valve)->isEnabled());
    EXPECT_EQ(button(valve)->textColour(), QColor(Qt::white));
  }
}

TEST_F(Workstation, BrenkShowsOnlyTheVentButtonsDrivenByTheControlMode) {
  quarnsim::Scenario s;
  s.model = quarnsim::Model::Brenk;
  plugSimulator(s);
  MainWindow& w = makeWindow(0);
  EXPECT_TRUE(w.uiBrenk());
  EXPECT_TRUE(w.findChild<QMenu*>("menuExtDorv")->menuAction()->isVisible());
  w.TimerLoadTimer();
  w.ports().COM11Click(portItem("COM7"));
  // Venting is asked for once the connection has read the settings (which carry the control mode).
  ASSERT_TRUE(runUntil(
      [&] { return w.windowTitle().contains(QStringLiteral("Модель")) && shown("pn_Mode_8_VENT_ON"); }));
  EXPECT_TRUE(w.windowTitle().contains(QStringLiteral("Модель:  25    -95 ... 2500 кПа")))
      << w.windowTitle().toStdString();
  EXPECT_FALSE(shown("pn_Mode_8_INPUT_ON"));
  EXPECT_FALSE(shown("pn_Mode_8_INPUT_OFF"));
  EXPECT_FALSE(shown("pn_Mode_8_VENT_OFF"));

  Prompts::messageWindow = [](const QString&, bool, const QString&) { return ZDialog::kResultOk; };
  w.pn_VENT_MouseDown(button("pn_Mode_8_VENT_ON"));
  EXPECT_EQ(w.dev()->controlMode, 2u);
  ASSERT_TRUE(runUntil([this] { return shown("pn_Mode_8_VENT_OFF") && bench->operatingMode() == 2; }));
  EXPECT_FALSE(shown("pn_Mode_8_VENT_ON"));

  w.pn_VENT_MouseDown(button("pn_Mode_8_VENT_OFF"));
  EXPECT_EQ(w.dev()->controlMode, 0u);
  ASSERT_TRUE(runUntil([this] { return shown("pn_Mode_8_VENT_ON"); }));
  EXPECT_FALSE(shown("pn_Mode_8_VENT_OFF"));
  EXPECT_FALSE(shown("pn_Mode_8_INPUT_ON"));
}

// ---- Port menu ------------------------------------------------------------------------------

TEST_F(Workstation, PortMenuItemsAndAPortThatVanishes) {
  plugSimulator(quarnsim::Scenario{}, 47);
  MainWindow& w = makeWindow();
  QAction* all = portItem("menuAll_item");
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->data().toUInt(), 0u);
  QAction* com47 = portItem("COM47");
  ASSERT_NE(com47, nullptr);
  EXPECT_EQ(com47->data().toUInt(), 47u);
  EXPECT_EQ(com47->property("group").toUInt(), 47u);
  EXPECT_TRUE(com47->property("newColumn").toBool());

  // "Все доступные" searches every port.
  w.ports().COM11Click(all);
  EXPECT_EQ(w.dev()->portNo, 0u);
  EXPECT_TRUE(all->isChecked());
  runFor(20000);  // the search finds the simulator on port 47
  EXPECT_EQ(w.dev()->linked, 1u);
  EXPECT_EQ(w.dev()->portNo, 47u);
  w.ports().COM11Click(all);  // searching again drops the link first

  // A registered port that goes away between listing and choosing: the search fails, nothing breaks.
  const uint32_t gone = w.ports().registerPortPath(dir.filePath("no-such-tty"));
  ASSERT_NE(gone, 0u);
  QAction* item = portItem(qPrintable(QStringLiteral("COM%1").arg(gone)));
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(portItem("menuAll_item")->isChecked());  // the check mark survived the rebuild
  g_lib.unregister(gone);
  w.ports().COM11Click(item);
  EXPECT_TRUE(item->isChecked());
  EXPECT_FALSE(portItem("menuAll_item")->isChecked());
  runFor(5000);
  EXPECT_EQ(w.dev()->linked, 0u);
  w.ports().OnDeviceChange();
  EXPECT_EQ(portItem(qPrintable(QStringLiteral("COM%1").arg(gone))), nullptr);

  // While linked, the calibrator's own port is listed disabled after a device change.
  connectTo("COM47");
  w.ports().OnDeviceChange();
  ASSERT_NE(portItem("COM47"), nullptr);
  EXPECT_FALSE(portItem("COM47")->isEnabled());
  EXPECT_TRUE(portItem("COM47")->isChecked());  // the choice survives the rebuild
}

TEST_F(Workstation, PortItemsAreExclusiveRadioItemsAndTheFirstSavedChoiceWins) {
  plugSimulator(quarnsim::Scenario{}, 7);
  ASSERT_EQ(g_lib.registerVirtual(9, &ops), 0);  // a second port, answering nothing that matters here
  ports.push_back(9);
  writeSettings("[_FormMain_COMselect_]\r\nmenuAll_item=0\r\nCOM7=1\r\nCOM9=1\r\n");
  MainWindow& w = makeWindow();
  const QList<QAction*> items = w.ports().portItems(w.ports().portMenu());
  ASSERT_GE(items.size(), 3);
  for (QAction* a : items) {
    ASSERT_NE(a->actionGroup(), nullptr) << qPrintable(a->objectName());
    EXPECT_EQ(a->actionGroup(), items.front()->actionGroup());
    EXPECT_TRUE(a->actionGroup()->isExclusive());
  }
  // A settings file with two checked ports: the menu and the connection agree on the first.
  w.TimerLoadTimer();
  EXPECT_EQ(w.dev()->portNo, 7u);
  ASSERT_NE(checkedPort(), nullptr);
  EXPECT_EQ(checkedPort()->objectName(), QStringLiteral("COM7"));
  auto checkedNames = [&] {
    QStringList names;
    for (QAction* a : w.ports().portItems(w.ports().portMenu()))
      if (a->isChecked()) names << a->objectName();
    return names;
  };
  EXPECT_EQ(checkedNames(), QStringList{"COM7"});

  // Choosing from the menu: exactly one item stays checked, also when the checked one is chosen again.
  portItem("COM9")->trigger();
  EXPECT_EQ(checkedNames(), QStringList{"COM9"});
  EXPECT_EQ(w.dev()->portNo, 9u);
  portItem("COM9")->trigger();
  EXPECT_EQ(checkedNames(), QStringList{"COM9"});
  portItem("menuAll_item")->trigger();
  EXPECT_EQ(checkedNames(), QStringList{"menuAll_item"});
  EXPECT_EQ(w.dev()->portNo, 0u);
}

TEST_F(Workstation, ASearchOverAllPortsIsShownAsASearch) {
  plugSimulator(quarnsim::Scenario{}, 7);
  bench->setConnected(false);  // no calibrator answers yet
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  EXPECT_EQ(labelText("Label_CurentState"), QStringLiteral("Нет связи"));
  w.ports().COM11Click(portItem("menuAll_item"));
  EXPECT_EQ(labelText("Label_CurentState"), QStringLiteral("Поиск калибратора..."));
  runFor(3000);  // the search goes round the ports, notifying each time
  EXPECT_EQ(w.dev()->linked, 0u);
  EXPECT_EQ(labelText("Label_CurentState"), QStringLiteral("Поиск калибратора..."));
  bench->setConnected(true);
  ASSERT_TRUE(runUntil([this] { return linkedAndMeasured(); }));
  EXPECT_EQ(labelText("Label_CurentState"), QStringLiteral("есть связь"));

  // One chosen port that does not answer is "no link", not a search.
  bench->setConnected(false);
  w.ports().COM11Click(portItem("COM7"));
  runFor(3000);
  EXPECT_EQ(labelText("Label_CurentState"), QStringLiteral("Нет связи"));
}

// WCAG contrast ratio of two colours (1 .. 21).
double contrast(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& c) {
    auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

int pixelsNear(const QImage& image, const QColor& colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor p = image.pixelColor(x, y);
      if (std::abs(p.red() - colour.red()) + std::abs(p.green() - colour.green()) +
              std::abs(p.blue() - colour.blue()) <
          40)
        ++n;
    }
  return n;
}

TEST_F(Workstation, TheMenuBarAndTheTransducerAlertAreLegible) {
  plugSimulator(quarnsim::Scenario{}, 9);
  MainWindow& w = makeWindow(0);
  QMenuBar* bar = w.menuBar();
  const QColor background = bar->palette().color(QPalette::Window);
  // The menu bar was dark text on the window's dark colour.
  for (QPalette::ColorRole role : {QPalette::ButtonText, QPalette::WindowText})
    EXPECT_GE(contrast(bar->palette().color(role), background), 7.0) << role;
  EXPECT_GE(contrast(PortMenus::alertColour(), background), 4.5);
  EXPECT_EQ(pixelsNear(bar->grab().toImage(), PortMenus::alertColour()), 0);

  // Switched to the external transducer: its menu bar entry is drawn in the alert colour.
  w.ports().FillPortMenu(w.ports().dorvPortMenu(), false);
  w.ports().COM11Click(w.ports().dorvPortMenu()->findChild<QAction*>("COM9"));
  w.dev()->linked = 1;
  w.ports().menuExtDorv_isOnClick();
  EXPECT_EQ(w.dev()->settings.refSource, 3);
  EXPECT_GT(pixelsNear(bar->grab().toImage(), PortMenus::alertColour()), 10);
  w.dev()->linked = 0;
}

TEST_F(Workstation, TheSimulatorsDorvTerminalIsOfferedAsAPortForTheBrenk) {
  // A stand-in simulator beside the program: it names its two terminals, the Dorv's a moment later.
  const QString script = dir.filePath("quarn-sim");
  ASSERT_TRUE(writeStandInSimulator(script, "/dev/null", "/dev/zero"));
  MainWindow& w = makeWindow(0);
  CommandLine cmd = parseCommandLine({"ARM_Quarn", "--brenk", "--simulate"});
  SimLauncher sim;
  QString error;
  ASSERT_TRUE(attachSimulator(w, sim, cmd, error)) << error.toStdString();
  QFile args(script + ".args");
  ASSERT_TRUE(args.open(QIODevice::ReadOnly));
  EXPECT_EQ(args.readAll().trimmed(), QByteArray("--model brenk --dorv"));
  auto captions = [&](QMenu* menu) {
    QStringList c;
    for (QAction* a : w.ports().portItems(menu)) c << a->text();
    return c.join('|');
  };
  EXPECT_TRUE(captions(w.ports().dorvPortMenu()).contains(QStringLiteral("(zero)")))
      << captions(w.ports().dorvPortMenu()).toStdString();
  EXPECT_TRUE(captions(w.ports().portMenu()).contains(QStringLiteral("(null)")));
  sim.stop();
}

// ARM_Quarn --simulate with the Quarn: the simulated operator is sent each target of a run under way
// (task 21), once per new target, and nothing outside a run or while the target is unknown.
TEST_F(Workstation, TheSimulatedOperatorFollowsTheTargetsOfARun) {
  // A stand-in simulator that names its terminal and writes every operator command it reads.
  const QString script = dir.filePath("quarn-sim");
  {
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "#!/bin/sh\necho \"$@\" > \"$0.args\"\necho calibrator /dev/null\n"
        "while read line; do echo \"$line\" >> \"$0.stdin\"; done\n");
    f.close();
    ASSERT_TRUE(f.setPermissions(f.permissions() | QFileDevice::ExeOwner));
  }
  MainWindow& w = makeWindow();
  SimLauncher sim;
  QString error;
  ASSERT_TRUE(attachSimulator(w, sim, parseCommandLine({"ARM_Quarn", "--simulate"}), error))
      << error.toStdString();
  TDev& dev = *w.dev();
  auto wait = [] {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 400) {
      QCoreApplication::processEvents();
      QThread::msleep(10);
    }
  };
  dev.task = TASK_MEASURE;
  dev.pTarget = 100;  // no run: not followed
  wait();
  dev.task = TASK_CHECK;
  dev.pTarget = 250;
  wait();
  dev.pTarget = std::numeric_limits<float>::quiet_NaN();  // a lost link blanks the target
  wait();
  dev.pTarget = 500;
  wait();
  dev.pTarget = 500;
  wait();
  sim.stop();
  QFile in(script + ".stdin");
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  EXPECT_EQ(in.readAll(), QByteArray("target 250\ntarget 500\n"));
  QFile args(script + ".args");
  ASSERT_TRUE(args.open(QIODevice::ReadOnly));
  EXPECT_EQ(args.readAll().trimmed(), QByteArray("--stdin-control"));
  dev.task = TASK_MEASURE;
}

// ---- Closing --------------------------------------------------------------------------------

TEST_F(Workstation, ClosingWithAnUnsavedProjectAsksAndCancelKeepsRunning) {
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  w.setProjectModified(true);
  QStringList asked;
  QMessageBox::StandardButton answer = QMessageBox::Cancel;
  Prompts::saveQuestion = [&](const QString& text) {
    asked << text;
    return answer;
  };
  EXPECT_FALSE(w.close());
  EXPECT_EQ(asked, QStringList{QStringLiteral("Проект ") + w.projectFileName() +
                               QStringLiteral(" изменён. Сохранить?")});
  EXPECT_NE(w.dev(), nullptr);
  EXPECT_TRUE(w.projectModified());
  EXPECT_FALSE(QFile::exists(dir.filePath("arm_quarn.ini")));

  answer = QMessageBox::Yes;
  EXPECT_TRUE(w.close());
  EXPECT_EQ(asked.size(), 2);
  EXPECT_EQ(w.dev(), nullptr);
  EXPECT_EQ(w.library().handle, nullptr);
  EXPECT_TRUE(QFile::exists(w.projectFileName()));
  QFile settings(dir.filePath("arm_quarn.ini"));
  ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
  const QByteArray text = settings.readAll();
  EXPECT_TRUE(text.contains("[_FormMain_COMselect_]")) << text.constData();
  EXPECT_TRUE(text.contains("ProjectFileName=")) << text.constData();
}

TEST_F(Workstation, AProjectThatCannotBeSavedKeepsTheWindowOpen) {
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  w.setProjectModified(true);
  Prompts::fileName = [this](const QString&, bool) { return dir.filePath("missing-folder/p.aip"); };
  w.projectController().N_SaveProject_As_Click();
  EXPECT_EQ(errors.size(), 1);
  EXPECT_TRUE(w.projectModified());
  Prompts::saveQuestion = [](const QString&) { return QMessageBox::Yes; };
  EXPECT_FALSE(w.close());
  EXPECT_EQ(errors.size(), 2);
  EXPECT_NE(w.dev(), nullptr);
}

}  // namespace

namespace {

using namespace armtest;

// ---- External transducer menu (Brenk) -------------------------------------------------------

TEST_F(Workstation, BrenkTransducerMenuSwitchesTheReferenceSource) {
  plugSimulator(quarnsim::Scenario{}, 9);
  MainWindow& w = makeWindow(0);
  QMenu* ports = w.ports().dorvPortMenu();
  w.ports().FillPortMenu(ports, false);
  EXPECT_EQ(ports->findChild<QAction*>("menuAll_item"), nullptr);  // no "all" item here
  QAction* com9 = ports->findChild<QAction*>("COM9");
  ASSERT_NE(com9, nullptr);
  auto* isOn = w.findChild<QAction*>("menuExtDorv_isOn");
  ASSERT_NE(isOn, nullptr);

  // Unlinked and switched off: nothing to switch on.
  w.ports().menuExtDorvClick();
  EXPECT_FALSE(isOn->isEnabled());
  // Choosing a transducer port only moves the check mark; the record learns it when switched on.
  w.ports().COM11Click(com9);
  EXPECT_TRUE(com9->isChecked());
  EXPECT_EQ(w.dev()->dorv.serialNo, 0u);
  w.dev()->linked = 1;
  w.ports().menuExtDorvClick();
  EXPECT_TRUE(isOn->isEnabled());

  w.ports().menuExtDorv_isOnClick();
  EXPECT_TRUE(isOn->isChecked());
  EXPECT_EQ(isOn->text(), QStringLiteral("ОТКЛЮЧИТЬ"));
  EXPECT_EQ(w.dev()->dorv.serialNo, 9u);
  EXPECT_EQ(w.dev()->settings.refSource, 3);

  w.dev()->dorv.present = 1;
  w.ports().menuExtDorv_isOnClick();
  EXPECT_FALSE(isOn->isChecked());
  EXPECT_EQ(isOn->text(), QStringLiteral("ПОДКЛЮЧИТЬ"));
  EXPECT_EQ(w.dev()->settings.refSource, 0);
  EXPECT_EQ(w.dev()->dorv.present, 0u);
  w.dev()->linked = 0;
}

}  // namespace

namespace {

using namespace armtest;
namespace data = quarn::data;

// ---- Modes and projects ---------------------------------------------------------------------

TEST_F(Workstation, ModeButtonsSwitchScreensOnMouseDown) {
  const struct {
    uint32_t model;
    const char* button;
    const char* frame;
  } cases[] = {
      {1, "pn_Mode_4_Pov", "Frame_Mode_4_Pov1"},
      {1, "pn_Mode_6_Graph", "Frame_Mode_6_Graph1"},
      {1, "pn_Mode_7_Settings", "Frame_Mode_7_Setings_Quarn1"},
      {0, "pn_Mode_7_Settings", "Frame_Mode_7_Setings_Brenk1"},
      {0, "pn_Mode_1_Reg", "Frame_Mode_1_Reg1"},
  };
  const char* const frames[] = {
      "Frame_Mode_1_Reg1",   "Frame_Mode_2_HART1",          "Frame_Mode_3_Param1",        "Frame_Mode_4_Pov1",
      "Frame_Mode_6_Graph1", "Frame_Mode_7_Setings_Quarn1", "Frame_Mode_7_Setings_Brenk1"};
  for (const auto& c : cases) {
    MainWindow& w = makeWindow(c.model);
    if (c.model == 0) pressMouse(button("pn_Mode_4_Pov"));  // leave the start screen first
    pressMouse(button(c.button));
    // Only the settings screen of the calibrator in use exists.
    const char* otherSettings = c.model == 1 ? "Frame_Mode_7_Setings_Brenk1" : "Frame_Mode_7_Setings_Quarn1";
    for (const char* f : frames) {
      const QWidget* frame = w.findChild<QWidget*>(f);
      if (std::strcmp(f, otherSettings) == 0) {
        EXPECT_EQ(frame, nullptr) << f;
        continue;
      }
      ASSERT_NE(frame, nullptr) << f;
      EXPECT_EQ(!frame->isHidden(), std::strcmp(f, c.frame) == 0) << c.button << " " << f;
    }
    for (PanelButton* b : w.findChildren<PanelButton*>(QRegularExpression("^pn_Mode_[1-7]"))) {
      const bool selected = b->objectName() == QLatin1String(c.button);
      EXPECT_EQ(b->background(), selected ? QColor(189, 207, 233) : QColor(73, 86, 119))
          << qPrintable(b->objectName());
      EXPECT_EQ(b->textColour(), selected ? QColor(Qt::black) : QColor(Qt::white));
    }
    Prompts::saveQuestion = [](const QString&) { return QMessageBox::No; };
    w.close();
    window.reset();
  }
}

TEST_F(Workstation, EveryScreenHasItsClassAndTheModeButtonsObeyTheContext) {
  MainWindow& w = makeWindow(1);
  const std::pair<const Screen*, const char*> named[] = {
      {w.screen<RegulationScreen>(), "Frame_Mode_1_Reg1"},
      {w.screen<HartScreen>(), "Frame_Mode_2_HART1"},
      {w.screen<ParametersScreen>(), "Frame_Mode_3_Param1"},
      {w.screen<VerificationScreen>(), "Frame_Mode_4_Pov1"},
      {w.screen<GraphScreen>(), "Frame_Mode_6_Graph1"},
      {w.screen<QuarnSettingsScreen>(), "Frame_Mode_7_Setings_Quarn1"},
  };
  const std::vector<Screen*> order = w.screensInRefreshOrder();
  ASSERT_EQ(order.size(), 6u);
  for (std::size_t i = 0; i < order.size(); ++i) {
    ASSERT_NE(named[i].first, nullptr) << named[i].second;
    EXPECT_EQ(order[i], named[i].first) << named[i].second;
    EXPECT_EQ(order[i]->objectName(), QString::fromLatin1(named[i].second));
  }
  EXPECT_EQ(w.screen<BrenkSettingsScreen>(), nullptr);
  // The project file's section of the parameters screen's controls comes from the window's tree.
  auto* control = new QLabel(w.screen<ParametersScreen>());
  EXPECT_EQ(Screen::projectSection(control), QString::fromLatin1(quarn::data::kParamsSection));

  // While a screen keeps the mode buttons disabled (a verification run), they switch nothing.
  std::vector<int> modes;
  QObject::connect(&w.context(), &WorkstationContext::modeChanged, [&](int mode) { modes.push_back(mode); });
  w.context().setModeButtonsEnabled(false);
  EXPECT_FALSE(button("pn_Mode_6_Graph")->isEnabled());
  pressMouse(button("pn_Mode_6_Graph"));
  w.pn_Mode_1_RegMouseDown(button("pn_Mode_6_Graph"));
  EXPECT_EQ(w.currentMode(), kModeRegulation);
  w.context().setModeButtonsEnabled(true);
  pressMouse(button("pn_Mode_6_Graph"));
  EXPECT_EQ(w.currentMode(), kModeGraph);
  EXPECT_EQ(modes, std::vector<int>{kModeGraph});
  EXPECT_FALSE(w.screen<GraphScreen>()->isHidden());
  EXPECT_TRUE(w.screen<RegulationScreen>()->isHidden());
}

TEST_F(Workstation, ProjectMenuOpensAndSavesThroughTheProjectModel) {
  const QString path = dir.filePath("bench.aip");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Device_ch_0]\r\nenabled=1\r\nMax=250\r\n");
  }
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  EXPECT_EQ(w.projectFileName(), dir.filePath("default.aip"));  // no project yet: the default name
  QString answer = path;
  Prompts::fileName = [&](const QString& title, bool save) {
    EXPECT_EQ(title, save ? QStringLiteral("Сохранить проект как") : QStringLiteral("Открыть проект"));
    return answer;
  };
  w.projectController().N_OpenProject_Click();
  EXPECT_EQ(w.projectFileName(), path);
  EXPECT_TRUE(w.projectController().model().channels[0].enabled);
  EXPECT_FLOAT_EQ(w.projectController().model().channels[0].Max, 250);

  w.projectController().model().channels[1].enabled = true;
  w.setProjectModified(true);
  answer = dir.filePath("copy");  // the extension is added
  w.projectController().N_SaveProject_As_Click();
  EXPECT_FALSE(w.projectModified());
  EXPECT_EQ(w.projectFileName(), dir.filePath("copy.aip"));
  QFile saved(dir.filePath("copy.aip"));
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray text = saved.readAll();
  EXPECT_TRUE(text.contains("[Device_ch_1]")) << text.left(200).constData();

  answer.clear();  // Cancel in the dialog changes nothing
  w.projectController().N_OpenProject_Click();
  EXPECT_EQ(w.projectFileName(), dir.filePath("copy.aip"));
  EXPECT_TRUE(errors.isEmpty());
}

// A run under way locks both port menus of the Brenk (the calibrator's and the transducer's), each
// saying why; nothing chosen from them reaches the record, and the end of the run frees them.
TEST_F(Workstation, ARunLocksBothPortMenusOfTheBrenk) {
  plugSimulator(quarnsim::Scenario{}, 9);
  MainWindow& w = makeWindow(0);
  w.ports().FillPortMenu(w.ports().dorvPortMenu(), false);
  QAction* calibrator = w.ports().portMenu()->menuAction();
  auto* transducerMenu = w.findChild<QMenu*>(QStringLiteral("menuExtDorv"));
  ASSERT_NE(transducerMenu, nullptr);
  QAction* transducer = transducerMenu->menuAction();
  w.dev()->linked = 1;
  w.context().setRunActive(true);
  for (QAction* entry : {calibrator, transducer}) {
    SCOPED_TRACE(entry->text().toStdString());
    EXPECT_FALSE(entry->isEnabled());
    EXPECT_EQ(entry->toolTip(), WorkstationContext::runLockReason());
  }
  EXPECT_FALSE(w.findChild<QLabel*>(QStringLiteral("lbRunLock"))->isHidden());
  const int32_t portBefore = w.dev()->portNo;
  w.ports().COM11Click(w.ports().dorvPortMenu()->findChild<QAction*>("COM9"));
  w.ports().menuExtDorv_isOnClick();
  EXPECT_EQ(w.dev()->settings.refSource, 0) << "the reference stays the run's";
  EXPECT_EQ(w.dev()->portNo, portBefore);
  EXPECT_FALSE(w.ports().dorvPortMenu()->findChild<QAction*>("COM9")->isChecked());

  w.context().setRunActive(false);
  for (QAction* entry : {calibrator, transducer}) EXPECT_TRUE(entry->isEnabled());
  EXPECT_TRUE(w.findChild<QLabel*>(QStringLiteral("lbRunLock"))->isHidden());
  w.ports().menuExtDorv_isOnClick();
  EXPECT_EQ(w.dev()->settings.refSource, 3) << "free again after the run";
  w.dev()->linked = 0;
}

// The project named on the command line is opened at start, and with no run under way "Открыть
// проект" and "Сохранить проект как" work.
TEST_F(Workstation, AProjectFromTheCommandLineOpensAndTheMenuWorksWithoutARun) {
  const QString path = dir.filePath("from_command_line.aip");
  data::Project p;
  p.channels[0].enabled = true;
  p.channels[0].sn = "CL-1";
  ASSERT_EQ(data::saveProject(path.toStdString(), p).why(), "");
  MainWindow::Options o = windowOptions(dir.path());
  o.projectPath = path;
  window = std::make_unique<MainWindow>(o);
  ASSERT_EQ(window->create(), 0);
  window->TimerLoadTimer();
  EXPECT_EQ(window->projectFileName(), path);
  EXPECT_EQ(window->projectController().model().channels[0].sn, "CL-1");
  EXPECT_EQ(window->screen<ParametersScreen>()->deviceGrid()->cell(data::kRowSn, 0), QStringLiteral("CL-1"));

  auto* open = window->findChild<QAction*>("N_OpenProject");
  auto* saveAs = window->findChild<QAction*>("N_SaveProject_As");
  ASSERT_TRUE(open->isEnabled());
  ASSERT_TRUE(saveAs->isEnabled());
  Prompts::fileName = [&](const QString&, bool) { return dir.filePath("copy.aip"); };
  saveAs->trigger();
  EXPECT_EQ(window->projectFileName(), dir.filePath("copy.aip"));
  EXPECT_TRUE(QFileInfo::exists(dir.filePath("copy.aip")));
  Prompts::fileName = [&](const QString&, bool) { return path; };
  open->trigger();
  EXPECT_EQ(window->projectFileName(), path);
  EXPECT_TRUE(errors.isEmpty());
}

}  // namespace
