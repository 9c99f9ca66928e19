// The verification screen: against a record the test prepares (the results list, deleting, the
// refusals, hand input, the end of a run, the channel table) and against the simulator in virtual
// time (a whole verification and a relay check started from the screen).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <tuple>

#include "CommandLine.h"
#include "HartScreen.h"
#include "LabelPanel.h"
#include "ParametersScreen.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "Prompts.h"
#include "RunControl.h"
#include "TDevValues.h"
#include "VerificationScreen.h"
#include "ZDialog.h"
#include "bench_fixture.h"
#include "quarn/cp1251.h"
#include "quarnsim/scenario.h"
#include "quarnsim/transmitter.h"
#include "screen_fixture.h"

namespace {

using namespace arm;
using armtest::pressMouse;
namespace data = quarn::data;

// Four 0..600 kPa channels, the first `enabled` of them on, and point set 1 with `points`.
data::Project project(int enabled, std::vector<float> points = {0, 50, 100}) {
  data::Project p;
  for (int c = 0; c < 4; ++c) {
    data::ChannelParams& ch = p.channels[static_cast<std::size_t>(c)];
    ch.enabled = c < enabled;
    ch.Min = 0;
    ch.Max = 600;
    ch.errOk = 0.5f;
  }
  p.readiness.holdTimeS = "2";
  p.pointSets[0] = {};
  for (std::size_t i = 0; i < points.size(); ++i) p.pointSets[0][i] = {true, points[i], 0};
  p.selectedSet = 0;
  return p;
}

// The verification screen with the parameters screen beside it on the main window's tree, a record
// of their own (linked, Kesto data valid) and a project loaded through the controller.
struct VerifyBench {
  explicit VerifyBench(const data::Project& p = project(2), uint32_t model = 1) : bench(model) {
    Prompts::reset();
    formMain.setObjectName(QStringLiteral("FormMain"));
    Screen::markOwner(&formMain);
    bench.context.setProgramDir(dir.path());
    params = new ParametersScreen(bench.context, &formMain);
    screen = new VerificationScreen(bench.context, &formMain);
    bench.context.setCurrentMode(kModeVerification);
    QObject::connect(screen, &VerificationScreen::messageShown, [this](const QString& t) { messages << t; });
    QObject::connect(&bench.context, &WorkstationContext::runFinished,
                     [this](bool relay) { finished.push_back(relay); });
    load(p);
    dev().linked = 1;
    dev().linkState = 2;
    dev().kestoDataValid = 1;
    // The working limits a settings read of the linked calibrator brings.
    dev().calInfo.pLimitMin = -100;
    dev().calInfo.pLimitMax = 2500;
    notify();
  }
  ~VerifyBench() { Prompts::reset(); }

  void load(const data::Project& p) {
    data::Project copy = p;
    const QString file = dir.filePath(QStringLiteral("job.aip"));
    ASSERT_EQ(data::saveProject(file.toStdString(), copy).why(), "");
    ASSERT_TRUE(bench.context.project().load(file));
  }
  TDev& dev() { return bench.dev(); }
  void notify(uint32_t event = 2) { bench.notify(*screen, event); }
  template <typename T = QLabel>
  T* control(const char* name) {
    T* w = formMain.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString text(const char* name) { return control(name)->text(); }
  bool enabled(const char* name) { return control<QWidget>(name)->isEnabled(); }
  bool shown(const char* name) { return !control<QWidget>(name)->isHidden(); }
  QTableWidget& list() { return *screen->results(); }
  QString cell(int row, int column) {
    const QTableWidgetItem* item = list().item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
  }
  QColor cellColour(int row, int column) { return list().item(row, column)->foreground().color(); }
  // A record as the library writes it: reference in kPa, every enabled channel at `error` percent.
  void putRecord(int k, float pRef, float error) {
    TPovResult& r = dev().results[k];
    r.valid = 1;
    r.pRef = pRef;
    for (int c = 0; c < 4; ++c) {
      if (!dev().devCh[c].enabled) continue;
      r.ch[c].current = 4 + 16 * pRef / 600;
      r.ch[c].pFromI = pRef + 6 * error;
      r.ch[c].pFromIKPa = pRef + 6 * error;
      r.ch[c].reducedError = error;
    }
  }

  armtest::ScreenBench bench;  // before the screens, which refer to its context
  QTemporaryDir dir;
  QWidget formMain;
  ParametersScreen* params = nullptr;
  VerificationScreen* screen = nullptr;
  QStringList messages;
  std::vector<bool> finished;
};

// ---- Results list ---------------------------------------------------------------------------------

TEST(VerificationScreen, ResultsListShowsTheValidRecordsAndPaintsErrorsBeyondTheLimitRed) {
  VerifyBench b(project(2));
  b.dev().devCh[0].errOk = 0.25f;
  b.dev().devCh[1].errOk = 0.5f;
  b.dev().povHeader.vrCoeff = 0.7f;  // limits 0.175 % and 0.35 %
  b.dev().cDigits = 3;
  b.dev().settings.unitFactor = 0.001f;  // shown in MPa
  struct Case {
    float error;
    bool redOnChannel1;
    bool redOnChannel2;
  };
  const float missing = std::numeric_limits<float>::quiet_NaN();  // an error that was not measured
  const Case cases[] = {
      {0.3f, true, false}, {-0.3f, true, false}, {0.17f, false, false},
      {0.36f, true, true}, {0.0f, false, false}, {missing, true, true},
  };
  // Record 2 stays empty: the list skips it and numbers its rows without the gap.
  int k = 0;
  for (const Case& c : cases) {
    if (k == 2) ++k;
    b.putRecord(k++, 300, c.error);
  }
  b.notify();
  ASSERT_EQ(b.list().rowCount(), 6);
  for (int row = 0; row < 6; ++row) {
    SCOPED_TRACE(row);
    const Case& c = cases[row];
    EXPECT_EQ(b.cell(row, 0), QString::number(row));
    EXPECT_EQ(b.cell(row, 1), QStringLiteral("0.3000")) << "reference in MPa, four decimals";
    EXPECT_EQ(b.cell(row, 2), QStringLiteral("12.000"));
    if (!std::isnan(c.error)) {
      EXPECT_EQ(b.cell(row, 4), QString::number(c.error, 'f', 3));
    }
    EXPECT_EQ(b.cellColour(row, 4) == VerificationScreen::badColour(), c.redOnChannel1);
    EXPECT_EQ(b.cellColour(row, 7) == VerificationScreen::badColour(), c.redOnChannel2);
    for (int col = 8; col < 14; ++col) EXPECT_EQ(b.cell(row, col), QString()) << "channels 3 and 4 are off";
  }
  EXPECT_EQ(b.list().currentRow(), 5) << "the newest row is selected";

  // The live panel of a channel at 0.3 % with 0.25 x 0.7 allowed is red too; within it green.
  b.dev().ch[0].reducedError = 0.3f;
  b.dev().ch[1].reducedError = 0.3f;
  b.notify();
  EXPECT_EQ(b.control("pn_Err_1")->palette().color(QPalette::WindowText), VerificationScreen::badColour());
  EXPECT_EQ(b.control("pn_Err_2")->palette().color(QPalette::WindowText), VerificationScreen::goodColour());
  b.dev().ch[1].reducedError = missing;  // no error measured is not within the limit either
  b.notify();
  EXPECT_EQ(b.control("pn_Err_2")->palette().color(QPalette::WindowText), VerificationScreen::badColour());
  EXPECT_EQ(b.text("pn_On_1"), QStringLiteral("Да"));
  EXPECT_EQ(b.text("pn_On_3"), QStringLiteral("нет"));
}

// A selected row keeps the red of an error beyond the limit visible (the style's selection painted
// every text white on dark blue): the drawn cell of the selected row holds red pixels.
TEST(VerificationScreen, ASelectedRowStillShowsTheErrorBeyondTheLimitRed) {
  VerifyBench b(project(1));
  b.dev().devCh[0].errOk = 0.25f;
  b.dev().povHeader.vrCoeff = 1;
  b.dev().cDigits = 3;
  b.putRecord(0, 300, 0.1f);
  b.putRecord(1, 300, 0.888f);
  b.notify();
  QTableWidget& list = b.list();
  b.formMain.resize(1100, 700);
  b.formMain.show();
  b.screen->show();
  QCoreApplication::processEvents();
  const auto redPixels = [&](int row) {
    const QImage image = list.viewport()->grab().toImage();
    const QRect cell = list.visualItemRect(list.item(row, 4));
    int red = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      for (int x = cell.left(); x <= cell.right(); ++x) {
        const QColor p = image.pixelColor(x, y);
        if (p.red() > 150 && p.green() < 90 && p.blue() < 90) ++red;
      }
    return red;
  };
  list.selectRow(1);
  ASSERT_EQ(list.currentRow(), 1);
  EXPECT_GT(redPixels(1), 5) << "the over-limit error of the selected row";
  list.selectRow(0);
  EXPECT_GT(redPixels(1), 5) << "and when not selected";
  EXPECT_EQ(redPixels(0), 0) << "an error within the limit is not red, selected or not";
}

TEST(VerificationScreen, AnErrorExactlyOnTheLimitPassesAndValuesBeyondRangeAreBlank) {
  VerifyBench b(project(1));
  b.dev().devCh[0].errOk = 0.5f;
  b.dev().povHeader.vrCoeff = 1;
  b.dev().cDigits = 2;
  b.putRecord(0, 100, 0.5f);
  b.putRecord(1, 100, -0.5f);
  b.putRecord(2, 100, 0.51f);
  b.dev().results[2].ch[0].current = 2e27f;
  b.notify();
  ASSERT_EQ(b.list().rowCount(), 3);
  EXPECT_NE(b.cellColour(0, 4), VerificationScreen::badColour()) << "the verdict passes it";
  EXPECT_NE(b.cellColour(1, 4), VerificationScreen::badColour());
  EXPECT_EQ(b.cellColour(2, 4), VerificationScreen::badColour());
  EXPECT_EQ(b.cell(2, 2), QStringLiteral(" "));
}

TEST(VerificationScreen, DeletingRowsClearsTheirRecordsAndDeleteAllNeedsRows) {
  VerifyBench b(project(1));
  EXPECT_FALSE(b.enabled("pn_Del_All"));
  EXPECT_FALSE(b.enabled("pn_Del_1"));
  for (int k = 0; k < 3; ++k) b.putRecord(k, 100.0f * k, 0.1f);
  b.notify();
  ASSERT_EQ(b.list().rowCount(), 3);
  EXPECT_TRUE(b.enabled("pn_Del_1")) << "the newest row is selected";
  EXPECT_TRUE(b.enabled("pn_Del_All"));

  b.list().selectRow(1);
  b.screen->deleteSelected();
  EXPECT_EQ(b.dev().results[1].valid, 0u);
  EXPECT_EQ(b.dev().results[1].pRef, 0.0f);
  EXPECT_EQ(b.dev().results[2].valid, 1u);
  ASSERT_EQ(b.list().rowCount(), 2);
  EXPECT_EQ(b.cell(1, 0), QStringLiteral("2")) << "the rows keep their captions";
  b.notify();
  EXPECT_EQ(b.cell(1, 0), QStringLiteral("2")) << "until a new record rewrites the list";
  b.putRecord(3, 400, 0);
  b.notify();
  ASSERT_EQ(b.list().rowCount(), 3);
  EXPECT_EQ(b.cell(1, 0), QStringLiteral("1"));
  EXPECT_EQ(b.cell(1, 1), QStringLiteral("200.0000"));

  b.screen->deleteAll();
  EXPECT_EQ(b.list().rowCount(), 0);
  for (int k = 0; k < POV_POINTS_MAX; ++k) ASSERT_EQ(b.dev().results[k].valid, 0u) << k;
  EXPECT_FALSE(b.enabled("pn_Del_All"));

  // Deleting the only row leaves an empty list and "Удалить всё" disabled.
  b.putRecord(0, 100, 0);
  b.notify();
  ASSERT_EQ(b.list().rowCount(), 1);
  b.list().selectRow(0);
  pressMouse(b.control<QWidget>("pn_Del_1"), true);
  EXPECT_EQ(b.list().rowCount(), 0);
  EXPECT_EQ(b.dev().results[0].valid, 0u);
  EXPECT_FALSE(b.enabled("pn_Del_All"));
  EXPECT_FALSE(b.enabled("pn_Del_1"));
}

// ---- Start and its refusals ---------------------------------------------------------------------

TEST(VerificationScreen, StartIsRefusedWithTheReason) {
  struct Case {
    const char* what;
    data::Project project;
    bool relayMode;
    const char* hint;
  };
  data::Project mismatch = project(2);
  mismatch.channels[1].Max = 1000;
  const Case cases[] = {
      {"no channel", project(0), false, "* Канал не выбран"},
      {"ranges differ", mismatch, false, "* Проверьте параметры поверки!"},
      {"relay mode without a relay", project(1), true, "* Не выбрано ни одно реле"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VerifyBench b(c.project);
    b.screen->setRelayMode(c.relayMode);
    b.notify();
    EXPECT_EQ(b.text("lab_Hint"), QString::fromUtf8(c.hint));
    EXPECT_FALSE(b.enabled("Panel_StartPov"));
    EXPECT_FALSE(b.enabled("Label_StartPov"));
    EXPECT_FALSE(b.screen->startRun());
    EXPECT_FALSE(b.screen->running());
    EXPECT_TRUE(b.bench.tasks.empty());
  }
  VerifyBench b(project(1));
  EXPECT_EQ(b.text("lab_Hint"), QString());
  EXPECT_TRUE(b.enabled("Panel_StartPov"));
}

TEST(VerificationScreen, StartWithoutASwitchedOnPointSaysSoAndStaysIdle) {
  VerifyBench b(project(1, {}));
  ASSERT_TRUE(b.enabled("Panel_StartPov"));
  pressMouse(b.control<QWidget>("Label_StartPov"), true);
  EXPECT_EQ(b.messages, QStringList{QStringLiteral("Нет точек поверки!")});
  EXPECT_EQ(b.bench.context.messageWindow().text(), QStringLiteral("Нет точек поверки!"));
  EXPECT_FALSE(b.screen->running());
  EXPECT_TRUE(b.bench.tasks.empty());
  EXPECT_TRUE(b.shown("Panel_StartPov"));
  EXPECT_TRUE(b.enabled("cbHandInput"));
  EXPECT_TRUE(b.control<QWidget>("Panel_1_Sens")->isEnabled()) << "the parameters stay free";
}

// ---- A run, its end and the stop ----------------------------------------------------------------

TEST(VerificationScreen, ARunLocksTheScreenAndItsEndIsToldOnce) {
  struct Case {
    const char* what;
    bool relay;
    uint32_t retCode;
    int32_t isCalib;
    const char* errText;  // with errCode 1
    const char* message;
  };
  const Case cases[] = {
      {"verification", false, 14, 0, nullptr, "Поверка завершена"},
      {"calibration", false, 14, 1, nullptr, "Калибровка завершена"},
      {"relay check", true, 15, 0, nullptr, "Поверка завершена"},
      {"relay check with an error", true, 15, 1, "Нет\tсвязи", "Нет связи"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    data::Project p = project(2, {10, 90});
    p.relay.enabled = {true, true};
    p.header.kind = c.isCalib ? data::ProtocolKind::Calibration : data::ProtocolKind::Primary;
    VerifyBench b(p);
    b.screen->setRelayMode(c.relay);
    EXPECT_EQ(b.shown("Panel_Pov_Relay"), c.relay);
    // A first run leaves "в Excel" usable; during the next one it would stop the library under it.
    b.screen->stopRun();
    b.bench.tasks.clear();
    ASSERT_TRUE(b.enabled("pn_ToExcell"));

    ASSERT_TRUE(b.screen->startRun());
    EXPECT_EQ(b.bench.taskNumbers(), std::vector<uint32_t>{TASK_CHECK});
    EXPECT_EQ(b.dev().povMode, c.relay ? 1u : 0u);
    EXPECT_EQ(b.dev().pointCount, 2);
    EXPECT_EQ(b.dev().points[1].prc, 90.0f);
    EXPECT_EQ(b.screen->referenceBar()->isHidden(), false);
    EXPECT_EQ(b.control<QProgressBar>("ProgressBar1")->maximum(), c.relay ? 6 : 2);
    EXPECT_TRUE(b.shown("Panel_StopPov"));
    EXPECT_FALSE(b.shown("Panel_StartPov"));
    EXPECT_FALSE(b.enabled("pm_mode_Check"));
    EXPECT_FALSE(b.enabled("pm_mode_Relay"));
    EXPECT_FALSE(b.enabled("cbHandInput"));
    EXPECT_FALSE(b.shown("cbHandInput")) << "shown only when checked";
    EXPECT_FALSE(b.shown("Panel_AddToReport"));
    EXPECT_FALSE(b.enabled("pn_ToExcell"));
    EXPECT_FALSE(b.control<QWidget>("Panel_1_Sens")->isEnabled()) << "the parameters are locked";
    EXPECT_FALSE(b.bench.context.modeButtonsEnabled()) << "no other screen may start a task under the run";
    b.screen->setRelayMode(!c.relay);
    EXPECT_EQ(b.screen->relayMode(), c.relay) << "the mode cannot change while running";

    b.dev().pointIdx = 1;
    b.notify();
    EXPECT_EQ(b.control<QProgressBar>("ProgressBar1")->value(), 1);
    EXPECT_TRUE(b.messages.isEmpty());

    const std::string errText = c.errText ? quarn::text::utf8ToCp1251(c.errText) : std::string();
    b.dev().retCode = c.retCode;
    b.dev().errCode = c.errText ? 1 : 0;
    b.dev().errText = c.errText ? errText.c_str() : nullptr;
    b.notify(0);
    b.notify(0);  // the library reports its end once, but a second look must not tell it again
    EXPECT_EQ(b.messages, QStringList{QString::fromUtf8(c.message)});
    EXPECT_EQ(b.finished, std::vector<bool>{c.relay});
    EXPECT_FALSE(b.screen->running());
    EXPECT_TRUE(b.shown("Panel_StartPov"));
    EXPECT_TRUE(b.enabled("pm_mode_Relay"));
    EXPECT_TRUE(b.enabled("pn_ToExcell"));
    EXPECT_TRUE(b.shown("cbHandInput"));
    EXPECT_TRUE(b.control<QWidget>("Panel_1_Sens")->isEnabled());
    EXPECT_TRUE(b.bench.context.modeButtonsEnabled());
    EXPECT_EQ(b.control<QProgressBar>("ProgressBar1")->value(), 0);
    EXPECT_TRUE(b.bench.taskNumbers() == std::vector<uint32_t>{TASK_CHECK}) << "not inside the notification";
    QCoreApplication::processEvents();
    EXPECT_EQ(b.bench.taskNumbers(), (std::vector<uint32_t>{TASK_CHECK, TASK_MEASURE}));
  }
}

TEST(VerificationScreen, StopGoesBackToMeasuringAndKeepsTheResults) {
  VerifyBench b(project(1));
  ASSERT_TRUE(b.screen->startRun());
  b.putRecord(0, 0, 0);
  b.notify();
  pressMouse(b.control<QWidget>("Label_StopPov"), true);
  EXPECT_EQ(b.bench.taskNumbers(), (std::vector<uint32_t>{TASK_CHECK, TASK_MEASURE}));
  EXPECT_FALSE(b.screen->running());
  EXPECT_TRUE(b.finished.empty()) << "stopped, not finished";
  EXPECT_EQ(b.list().rowCount(), 1);
  EXPECT_EQ(b.dev().results[0].valid, 1u);
  // The next start clears them.
  ASSERT_TRUE(b.screen->startRun());
  EXPECT_EQ(b.list().rowCount(), 0);
  EXPECT_EQ(b.dev().results[0].valid, 0u);
}

TEST(VerificationScreen, ARunAskedForBeforeItMayStartBeginsOnceItMay) {
  EXPECT_TRUE(parseCommandLine({"ARM_Quarn", "--mode", "4", "--verify-start"}).verifyStart);
  VerifyBench b(project(0));
  b.screen->startWhenPossible();
  b.notify();
  QCoreApplication::processEvents();
  EXPECT_FALSE(b.screen->running()) << "no channel";
  b.dev().calInfo.pLimitMin = -100;  // linked: the range check sees the calibrator's limits
  b.dev().calInfo.pLimitMax = 2500;
  b.load(project(1));
  b.dev().kestoDataValid = 0;
  b.notify();
  QCoreApplication::processEvents();
  EXPECT_FALSE(b.screen->running()) << "no channel values yet";
  b.dev().kestoDataValid = 1;
  b.notify();
  EXPECT_TRUE(b.bench.tasks.empty()) << "not inside the notification";
  QCoreApplication::processEvents();
  EXPECT_TRUE(b.screen->running());
  EXPECT_EQ(b.bench.taskNumbers(), std::vector<uint32_t>{TASK_CHECK});
}

// ---- Hand input -----------------------------------------------------------------------------------

TEST(VerificationScreen, HandInputRecordsTheTypedReferenceAndRefusesThe200thRecord) {
  VerifyBench b(project(2));
  b.dev().settings.unitFactor = 0.001f;  // MPa
  b.dev().settings.unitFactorInv = 1000;
  b.dev().cDigits = 3;
  auto* hand = b.control<QCheckBox>("cbHandInput");
  EXPECT_FALSE(b.shown("ed_EtlHand"));
  b.dev().pRef = 100;
  b.dev().pRefUnits = 0.1f;
  hand->click();
  EXPECT_TRUE(b.shown("ed_EtlHand"));
  b.control<QLineEdit>("ed_EtlHand")->setText(QStringLiteral("0.25"));
  b.notify();
  // Outside a run the typed value changes nothing: the calibrator's reference stays the reference.
  EXPECT_EQ(b.dev().handInput, 0u);
  EXPECT_FLOAT_EQ(b.dev().pRef, 100.0f);
  EXPECT_FLOAT_EQ(b.dev().pRefUnits, 0.1f);

  ASSERT_TRUE(b.screen->startRun());
  EXPECT_EQ(b.dev().handInput, 1u);
  b.notify();
  EXPECT_FLOAT_EQ(b.dev().pRefUnits, 0.25f);
  EXPECT_FLOAT_EQ(b.dev().pRef, 250.0f);
  EXPECT_TRUE(b.bench.tasks.empty()) << "the measuring loop keeps running";
  EXPECT_TRUE(b.shown("Panel_AddToReport"));
  EXPECT_TRUE(b.shown("cbHandInput"));
  EXPECT_FALSE(b.enabled("cbHandInput"));
  EXPECT_TRUE(b.screen->referenceBar()->isHidden());
  EXPECT_FALSE(b.enabled("pn_ToExcell"));
  const int32_t points = b.dev().pointCount;

  for (int c = 0; c < 4; ++c) {
    b.dev().ch[c].current = 10.0f + c;
    b.dev().ch[c].pFromIKPa = 251.0f + c;
    b.dev().ch[c].reducedError = 0.1f * c;
  }
  b.control<QLineEdit>("ed_EtlHand")->setText(QStringLiteral("0.26"));  // typed, no notification since
  pressMouse(b.control<QWidget>("Label_AddToReport"), true);
  const TPovResult& r = b.dev().results[0];
  EXPECT_EQ(r.valid, 1u);
  EXPECT_FLOAT_EQ(r.pRef, 260.0f);
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    EXPECT_FLOAT_EQ(r.ch[c].current, 10.0f + c) << "every channel, enabled or not";
    EXPECT_FLOAT_EQ(r.ch[c].pFromIKPa, 251.0f + c);
    EXPECT_FLOAT_EQ(r.ch[c].pFromI, (251.0f + c) * 0.001f);
    EXPECT_FLOAT_EQ(r.ch[c].reducedError, 0.1f * c);
    EXPECT_EQ(r.ch[c].iExpected, 0.0f);
  }
  EXPECT_EQ(b.dev().pointIdx, 1);
  EXPECT_EQ(b.dev().pointCount, points + 1);
  EXPECT_TRUE(b.enabled("pn_ToExcell"));
  ASSERT_EQ(b.list().rowCount(), 1);
  EXPECT_EQ(b.cell(0, 1), QStringLiteral("0.2600"));
  EXPECT_EQ(b.cell(0, 3), QStringLiteral("0.251"));

  for (int k = 1; k < VerificationScreen::kMaxRecords; ++k) ASSERT_TRUE(b.screen->addToReport()) << k;
  EXPECT_TRUE(b.messages.isEmpty());
  // As many records as the protocol's tables take: every record the verdict counts is printed.
  EXPECT_EQ(b.list().rowCount(), 199);
  TPovResult before[POV_POINTS_MAX];
  std::memcpy(before, b.dev().results, sizeof before);
  EXPECT_FALSE(b.screen->addToReport());
  ASSERT_EQ(b.messages.size(), 1);
  EXPECT_TRUE(b.messages[0].contains(QStringLiteral("199")));
  EXPECT_EQ(b.dev().pointIdx, 199);
  EXPECT_EQ(std::memcmp(before, b.dev().results, sizeof before), 0);
  EXPECT_EQ(b.list().rowCount(), 199);

  b.screen->stopRun();
  EXPECT_EQ(b.bench.taskNumbers(), std::vector<uint32_t>{TASK_MEASURE});
  EXPECT_FALSE(b.shown("Panel_AddToReport"));
  EXPECT_TRUE(b.enabled("cbHandInput"));
  EXPECT_EQ(b.dev().handInput, 0u) << "the typed reference was the run's only";
}

// ---- Live display ---------------------------------------------------------------------------------

TEST(VerificationScreen, ChannelTableShowsHoldTimesAndWhichChannelsAreReady) {
  VerifyBench b(project(2));
  b.dev().devCh[0].errOk = 0.5f;
  b.dev().devCh[1].errOk = 0.5f;
  b.dev().povHeader.vrCoeff = 1;
  b.dev().ch[0].pStat.holdLeftS = 7;
  b.dev().ch[1].pStat.holdLeftS = -2;
  b.dev().ch[2].pStat.holdLeftS = 9;
  b.dev().ch[1].reducedError = 0.8f;
  b.dev().refStat.inCorridor = 1;
  b.notify();
  EXPECT_FALSE(b.shown("labTimeRem1")) << "only while running";
  EXPECT_EQ(b.control("pn_P_2")->palette().color(QPalette::Window), VerificationScreen::readyBackground());

  ASSERT_TRUE(b.screen->startRun());
  b.notify();
  EXPECT_EQ(b.text("labTimeRem1"), QStringLiteral("7 сек."));
  EXPECT_EQ(b.text("labTimeRem2"), QStringLiteral("не стаб."));
  EXPECT_FALSE(b.shown("labTimeRem3")) << "channel 3 is off";
  auto background = [&](const char* name) { return b.control(name)->palette().color(QPalette::Window); };
  EXPECT_EQ(background("pn_P_1"), VerificationScreen::readyBackground());
  EXPECT_EQ(background("pn_Err_2"), VerificationScreen::waitBackground()) << "0.8 % beyond its 0.5 %";
  EXPECT_EQ(background("pn_Imeas_3"), VerificationScreen::readyBackground());
  EXPECT_EQ(b.text("pn_Imeas_3"), QString());

  b.dev().refStat.inCorridor = 0;  // the reference left its corridor: nobody holds
  b.notify();
  EXPECT_EQ(b.text("labTimeRem1"), QStringLiteral(" "));
  EXPECT_EQ(background("pn_P_1"), VerificationScreen::waitBackground());

  b.screen->stopRun();
  EXPECT_FALSE(b.shown("labTimeRem1"));
  EXPECT_EQ(b.text("labTimeRem1"), QString());
}

// A lost link: the readings of the calibrator that is gone go blank, "ПУСК" waits for the link, and
// a run the library stopped for the lost link is told once, keeps its rows, is not a finished run,
// and starts no measuring task under the library's search for the calibrator.
TEST(VerificationScreen, ALostLinkBlanksTheReadingsStopsTheRunAndStartNeedsTheLink) {
  VerifyBench b(project(2));
  b.dev().pRefUnits = 300;
  b.dev().ch[0].current = 12;
  b.dev().ch[0].pFromIKPa = 300;
  b.dev().ch[0].reducedError = 0.1f;
  b.notify();
  ASSERT_FALSE(b.text("lab_Etl").isEmpty());
  ASSERT_FALSE(b.text("pn_Imeas_1").isEmpty());

  b.dev().linked = 0;
  b.dev().linkState = 0;
  b.notify(1);
  for (const char* cell : {"lab_Etl", "pn_Imeas_1", "pn_P_1", "pn_Err_1"})
    EXPECT_EQ(b.text(cell), QString()) << cell;
  EXPECT_FALSE(b.enabled("Panel_StartPov"));
  EXPECT_EQ(b.text("lab_Hint"), QStringLiteral("* Нет связи с калибратором"));
  EXPECT_FALSE(b.screen->startRun());
  EXPECT_TRUE(b.bench.tasks.empty());

  b.dev().linked = 1;
  b.dev().linkState = 2;
  b.notify(1);
  EXPECT_TRUE(b.enabled("Panel_StartPov"));
  EXPECT_EQ(b.text("lab_Hint"), QString());
  ASSERT_TRUE(b.screen->startRun());
  b.putRecord(0, 0, 0);
  b.notify();
  ASSERT_EQ(b.list().rowCount(), 1);

  // What the library reports when it stops the run: link down, its own end code and error.
  const std::string errText = quarn::text::utf8ToCp1251("связь с калибратором потеряна");
  b.dev().linked = 0;
  b.dev().linkState = 0;
  b.dev().retCode = RETCODE_RUN_LINK_LOST;
  b.dev().errCode = 16;
  b.dev().errText = errText.c_str();
  b.notify(1);
  b.notify(0);
  EXPECT_EQ(b.messages,
            QStringList{QStringLiteral("Поверка остановлена: связь с калибратором потеряна. Записанные "
                                       "точки сохранены; точка, которая измерялась, и следующие не "
                                       "записаны.")});
  EXPECT_FALSE(b.screen->running());
  EXPECT_TRUE(b.finished.empty()) << "stopped, not finished";
  EXPECT_EQ(b.list().rowCount(), 1);
  EXPECT_FALSE(b.enabled("Panel_StartPov"));
  QCoreApplication::processEvents();
  EXPECT_EQ(b.bench.taskNumbers(), std::vector<uint32_t>{TASK_CHECK});
}

// While the Kesto module's data are not valid the record keeps its last currents; the channel table
// shows none instead of those, and shows the values again once a reading has succeeded.
TEST(VerificationScreen, ChannelReadingsGoBlankWhileTheKestoDataAreInvalid) {
  VerifyBench b(project(2));
  b.dev().ch[0].current = 12;
  b.dev().ch[0].pFromIKPa = 300;
  b.dev().ch[0].reducedError = 0.1f;
  b.notify();
  EXPECT_EQ(b.text("pn_Imeas_1"), QStringLiteral("12.0000"));
  b.dev().kestoDataValid = 0;
  b.notify();
  for (const char* cell : {"pn_Imeas_1", "pn_P_1", "pn_Err_1"}) EXPECT_EQ(b.text(cell), QString()) << cell;
  b.dev().kestoDataValid = 1;
  b.notify();
  EXPECT_EQ(b.text("pn_Imeas_1"), QStringLiteral("12.0000"));
  EXPECT_FALSE(b.text("pn_Err_1").isEmpty());
}

TEST(VerificationScreen, InputHintFollowsTheValveAndIsNotShownWithHandInput) {
  struct Case {
    const char* what;
    bool running;
    uint32_t inputOn;
    int32_t refSource;
    bool hand;
    const char* info;  // null: lbInfo hidden
    bool setpointShown;
  };
  const Case cases[] = {
      {"idle", false, 0, 0, false, nullptr, false},
      {"input closed", true, 0, 0, false, "Включите вход!", true},
      {"input open", true, 1, 0, false, "Установите давление, соответствующее уставке", true},
      {"external reference", true, 0, 3, false, "Установите давление, соответствующее уставке", true},
      {"hand input", true, 0, 0, true, nullptr, true},
      {"hand input, external reference", true, 0, 3, true, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VerifyBench b(project(1));
    if (c.hand) b.control<QCheckBox>("cbHandInput")->click();
    if (c.running) {
      ASSERT_TRUE(b.screen->startRun());
    }
    b.dev().inputOn = c.inputOn;
    b.dev().settings.refSource = c.refSource;
    b.notify();
    EXPECT_EQ(b.shown("lbInfo"), c.info != nullptr);
    if (c.info) {
      EXPECT_TRUE(b.text("lbInfo").contains(QString::fromUtf8(c.info)));
    }
    EXPECT_EQ(b.shown("lab_setPointValue"), c.setpointShown);
    EXPECT_EQ(b.shown("lbUstCaption"), c.setpointShown);
  }
}

TEST(VerificationScreen, ReferenceShowsInTheDisplayUnitAndTheCaptionsFollowASettingsRead) {
  VerifyBench b(project(1));
  b.dev().settings.units = 1;  // MPa
  b.dev().settings.decimals = 4;
  b.dev().pRefUnits = 0.25f;
  b.dev().refStat.inCorridor = 0;
  b.notify(3);
  EXPECT_EQ(b.text("Label_Tdev"), QStringLiteral("Эталон, МПа"));
  EXPECT_EQ(b.text("lbUstCaption"), QStringLiteral("Уставка, МПа"));
  b.notify(2);
  EXPECT_EQ(b.text("lab_Etl"), QStringLiteral("0.2500"));
  EXPECT_EQ(b.control("lab_Etl")->palette().color(QPalette::WindowText), QColor(255, 255, 0));
  b.dev().refStat.inCorridor = 1;
  b.notify(2);
  EXPECT_EQ(b.control("lab_Etl")->palette().color(QPalette::WindowText), QColor(0, 255, 0));
  Q_EMIT b.bench.context.signalTypeChanged(4);
  EXPECT_EQ(b.text("Label9"), QStringLiteral("U, В"));
  Q_EMIT b.bench.context.signalTypeChanged(0);
  EXPECT_EQ(b.text("Label9"), QStringLiteral("Ток, мА"));
}

TEST(ReferenceBar, MarkerInsideTheBandIsBlueAtItsPlaceOutsideRedAtTheEnd) {
  struct Case {
    const char* what;
    double pRef, target, halfBand;
    bool shown, inside;
    int x;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"on the target", 100, 100, 2, true, true, 100},
      {"a quarter in", 99, 100, 2, true, true, 50},
      {"on the upper end", 102, 100, 2, true, false, 195},
      {"above", 150, 100, 2, true, false, 195},
      {"on the lower end", 98, 100, 2, true, false, 5},
      {"below", -5, 100, 2, true, false, 5},
      {"band of a range running downwards", 99, 100, -2, true, true, 50},
      {"no band", 100, 100, 0, true, false, 195},
      {"no reference", nan, 100, 2, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ReferenceBar::Marker m = ReferenceBar::marker(200, c.pRef, c.target, c.halfBand);
    EXPECT_EQ(m.shown, c.shown);
    if (!c.shown) continue;
    EXPECT_EQ(m.inside, c.inside);
    EXPECT_EQ(m.x, c.x);
  }
}

// ---- Against the simulator ------------------------------------------------------------------------

class VerificationWorkstation : public armtest::Workstation {
 protected:
  VerificationScreen& open(const quarnsim::Scenario& scenario, const data::Project& p) {
    plugSimulator(scenario);
    makeWindow();
    window->TimerLoadTimer();  // now, or it would load the default project over ours later
    connectTo("COM7");
    // The first control pass after connecting sends the record's valve states (input closed): let it
    // pass before the operator opens the input.
    runFor(2000);
    const QString file = dir.filePath(QStringLiteral("job.aip"));
    data::Project copy = p;
    EXPECT_EQ(data::saveProject(file.toStdString(), copy).why(), "");
    EXPECT_TRUE(window->projectController().load(file));
    window->SelectMode(kModeVerification);
    VerificationScreen& s = *window->screen<VerificationScreen>();
    QObject::connect(&s, &VerificationScreen::messageShown, [this](const QString& t) { messages << t; });
    return s;
  }
  // Timer periods until `done`, the operator bringing the pressure to every new target.
  bool run(const std::function<bool()>& done, uint32_t maxMs) {
    float target = std::numeric_limits<float>::quiet_NaN();
    return runUntil(
        [&] {
          QCoreApplication::processEvents();
          const float t = dev().pTarget;
          if (t != target && !std::isnan(t)) {
            target = t;
            bench->operatorSetsPressure(t);
          }
          return done();
        },
        maxMs);
  }
  // The run's state, for a failure message.
  std::string diag() {
    const TDev& d = dev();
    std::string s = "task " + std::to_string(d.task) + " pointIdx " + std::to_string(d.pointIdx) + " of " +
                    std::to_string(d.pointCount) + " pTarget " + std::to_string(d.pTarget) + " pRef " +
                    std::to_string(d.pRef) + " input " + std::to_string(d.inputOn) + " ref in corridor " +
                    std::to_string(d.refStat.inCorridor) + " retCode " + std::to_string(d.retCode) +
                    " errCode " + std::to_string(d.errCode);
    for (int c = 0; c < 4; ++c)
      s += " | ch" + std::to_string(c) + " en " + std::to_string(d.devCh[c].enabled) + " stable " +
           std::to_string(d.ch[c].pStat.stable) + " err " + std::to_string(d.ch[c].reducedError);
    return s;
  }
  QStringList messages;
};

TEST_F(VerificationWorkstation, AThreePointRunEndsWithItsMessageAndThreeRows) {
  VerificationScreen& s = open(quarnsim::Scenario(), project(2));
  QTableWidget& list = *s.results();
  ASSERT_TRUE(s.startRun());
  int progressSeen = 0;
  ASSERT_TRUE(run(
      [&] {
        progressSeen = std::max(progressSeen, window->findChild<QProgressBar*>("ProgressBar1")->value());
        return !messages.isEmpty();
      },
      10 * 60 * 1000))
      << diag();
  EXPECT_EQ(messages, QStringList{QStringLiteral("Поверка завершена")});
  EXPECT_FALSE(s.running());
  EXPECT_GE(progressSeen, 2);
  ASSERT_EQ(list.rowCount(), 3);
  const double targets[] = {0, 300, 600};
  for (int row = 0; row < 3; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(list.item(row, 0)->text(), QString::number(row));
    EXPECT_NEAR(list.item(row, 1)->text().toDouble(), targets[row], 0.5);
    EXPECT_NEAR(list.item(row, 4)->text().toDouble(), 0, 0.05) << "a perfect transmitter";
    EXPECT_EQ(list.item(row, 8)->text(), QString()) << "channel 3 is off";
  }
  ASSERT_TRUE(runUntil([&] {
    QCoreApplication::processEvents();
    return dev().task == TASK_MEASURE && dev().retCode != 14;
  }));
  EXPECT_TRUE(window->findChild<QWidget*>("pn_ToExcell")->isEnabled());
}

// While a run is under way nothing may disturb it: the project menu items that open or move the
// project, the port menu, the mode buttons, the HART jobs and the parameter pages are disabled, each
// saying why, and look disabled; at the end of the run each is usable again.
TEST_F(VerificationWorkstation, ARunLocksWhatWouldDisturbItAndItsEndFreesIt) {
  VerificationScreen& screen = open(quarnsim::Scenario(), project(2));
  // A HART search first, so the device panel's jobs are usable before the run.
  window->SelectMode(kModeHart);
  auto* search = window->findChild<LabelPanel*>(QStringLiteral("pnHartSearch"));
  ASSERT_TRUE(runUntil([&] { return search->isEnabled(); }));
  pressMouse(search, true);
  ASSERT_TRUE(runUntil([&] { return dev().task == TASK_MEASURE && !search->isHidden(); }, 60000));
  runFor(1000);
  window->SelectMode(kModeVerification);

  auto action = [this](const char* name) { return window->findChild<QAction*>(QString::fromLatin1(name)); };
  auto widget = [this](const char* name) { return window->findChild<QWidget*>(QString::fromLatin1(name)); };
  struct Control {
    const char* what;
    std::function<bool()> enabled;
    std::function<QString()> tip;
  };
  std::vector<Control> controls;
  for (const char* name : {"N_OpenProject", "N_SaveProject_As"})
    controls.push_back(
        {name, [=] { return action(name)->isEnabled(); }, [=] { return action(name)->toolTip(); }});
  QAction* ports = window->ports().portMenu()->menuAction();
  controls.push_back({"COM-порт", [=] { return ports->isEnabled(); }, [=] { return ports->toolTip(); }});
  for (const char* name :
       {"pn_Mode_1_Reg", "pn_Mode_2_HART", "pn_Mode_3_PovParam", "pn_Mode_6_Graph", "pn_Mode_7_Settings",
        "pnHartSearch", "pnHartWrite", "pnHartReset", "pnSet_0", "pnRepair", "Panel_1_Sens", "Panel_2_Dep",
        "Panel_3_Pionts", "Panel_4_Relay", "Panel_MP"})
    controls.push_back(
        {name, [=] { return widget(name)->isEnabled(); }, [=] { return widget(name)->toolTip(); }});

  for (const Control& c : controls) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.enabled()) << "usable before the run";
    EXPECT_NE(c.tip(), WorkstationContext::runLockReason());
  }

  ASSERT_TRUE(screen.startRun());
  runFor(500);
  ASSERT_EQ(dev().task, TASK_CHECK);
  for (const Control& c : controls) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.enabled());
    EXPECT_EQ(c.tip(), WorkstationContext::runLockReason());
  }
  EXPECT_FALSE(window->findChild<QLabel*>(QStringLiteral("lbRunLock"))->isHidden());
  // Disabled buttons look disabled: their caption is grey.
  auto* mode = window->findChild<PanelButton*>(QStringLiteral("pn_Mode_2_HART"));
  EXPECT_NE(mode->palette().color(QPalette::Disabled, QPalette::WindowText), mode->textColour());
  // Nothing reaches the library from the locked controls: a port chosen, a project opened, a HART
  // search asked for.
  int asked = 0;
  Prompts::fileName = [&](const QString&, bool) {
    ++asked;
    return dir.filePath(QStringLiteral("other.aip"));
  };
  portItem("COM7")->trigger();
  window->ports().COM11Click(portItem("menuAll_item"));
  action("N_OpenProject")->trigger();
  action("N_SaveProject_As")->trigger();
  window->screen<HartScreen>()->searchWhenPossible();
  runFor(500);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(dev().task, TASK_CHECK) << "the run goes on";
  EXPECT_TRUE(portItem("COM7")->isChecked());

  ASSERT_TRUE(run([&] { return !messages.isEmpty(); }, 10 * 60 * 1000)) << diag();
  EXPECT_EQ(messages, QStringList{QStringLiteral("Поверка завершена")});
  ASSERT_TRUE(runUntil([&] {
    QCoreApplication::processEvents();
    return dev().task == TASK_MEASURE && dev().retCode != 14;
  }));
  runFor(500);
  for (const Control& c : controls) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(c.enabled());
    EXPECT_NE(c.tip(), WorkstationContext::runLockReason());
  }
  EXPECT_TRUE(window->findChild<QLabel*>(QStringLiteral("lbRunLock"))->isHidden());
}

TEST_F(VerificationWorkstation, ARelayCheckShowsTheSwitchingPressures) {
  quarnsim::Scenario s;
  s.inputTauS = 20;
  s.switches[0] = {true, 100, 5, true};
  data::Project p = project(1, {0});
  p.relay.enabled = {true, false};
  p.relay.setpointKpa = {"100", "0"};
  p.relay.hysteresisKpa = {"10", "0"};
  VerificationScreen& screen = open(s, p);
  bench->operatorSetsPressure(50);
  pressMouse(window->findChild<QWidget*>("lb_mode_Relay"), true);
  ASSERT_TRUE(screen.relayMode());
  // The relay check is locked against disturbance as a verification is: the project and port menus
  // and the HART jobs wait for its end.
  auto* open = window->findChild<QAction*>(QStringLiteral("N_OpenProject"));
  QAction* ports = window->ports().portMenu()->menuAction();
  auto* search = window->findChild<QWidget*>(QStringLiteral("pnHartSearch"));
  ASSERT_TRUE(screen.startRun());
  runFor(500);
  for (auto [what, enabled, tip] : {std::tuple{"Открыть проект", open->isEnabled(), open->toolTip()},
                                    std::tuple{"COM-порт", ports->isEnabled(), ports->toolTip()},
                                    std::tuple{"HART search", search->isEnabled(), search->toolTip()}}) {
    EXPECT_FALSE(enabled) << what;
    EXPECT_EQ(tip, WorkstationContext::runLockReason()) << what;
  }
  ASSERT_TRUE(run([&] { return !messages.isEmpty(); }, 30 * 60 * 1000));
  EXPECT_EQ(messages, QStringList{QStringLiteral("Поверка завершена")});
  EXPECT_TRUE(open->isEnabled());
  EXPECT_TRUE(ports->isEnabled());
  auto label = [&](const char* name) { return window->findChild<QLabel*>(name)->text(); };
  EXPECT_NEAR(label("lr_Pmax_11").toDouble(), 100, 0.6);
  EXPECT_NEAR(label("lr_Pmin_11").toDouble(), 95, 0.6);
  EXPECT_EQ(label("lr_State_11"), QStringLiteral("выкл.")) << "the check ends at 90 kPa, below the off point";
  EXPECT_EQ(label("lr_Pmax_21"), QStringLiteral("- - -")) << "relay 2 never switched";
  EXPECT_EQ(label("lr_Pmax_12"), QStringLiteral("- - -"));
}

// The line goes after the first point was recorded and comes back: the run stops with its message,
// keeps its one row, and nothing resumes after the reconnect.
TEST_F(VerificationWorkstation, ALostLinkStopsTheRunAndNothingResumes) {
  VerificationScreen& s = open(quarnsim::Scenario(), project(2));
  QTableWidget& list = *s.results();
  ASSERT_TRUE(s.startRun());
  ASSERT_TRUE(run([&] { return list.rowCount() == 1; }, 5 * 60 * 1000)) << diag();
  bench->setConnected(false);
  ASSERT_TRUE(run([&] { return !messages.isEmpty(); }, 10000)) << diag();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Поверка остановлена: связь с калибратором потеряна.")))
      << messages[0].toStdString();
  EXPECT_FALSE(s.running());
  EXPECT_FALSE(window->findChild<QWidget*>("Panel_StartPov")->isEnabled());
  EXPECT_EQ(window->findChild<QLabel*>("lab_Etl")->text(), QString());
  runFor(10000);
  bench->setConnected(true);
  ASSERT_TRUE(run([&] { return dev().linked == 1 && dev().task == TASK_MEASURE; }, 60000)) << diag();
  runFor(60000);
  QCoreApplication::processEvents();
  EXPECT_EQ(list.rowCount(), 1);
  EXPECT_EQ(dev().results[1].valid, 0u) << diag();
  EXPECT_EQ(messages.size(), 1);
  EXPECT_TRUE(window->findChild<QWidget*>("Panel_StartPov")->isEnabled());
}

}  // namespace
