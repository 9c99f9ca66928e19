// The regulation screen and its Brenk panel: driven from a record prepared by the test (texts,
// colours, gauges, setpoint entry) and against the in-process simulator (the Quarn's gauges follow
// the module in use; the Brenk regulates to a setpoint typed on the screen).
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>
#include <limits>

#include "BarGauge.h"
#include "BrenkRegulationPanel.h"
#include "EditableListView.h"
#include "LabelPanel.h"
#include "RegulationScreen.h"
#include "UiHelpers.h"
#include "ZDialog.h"
#include "bench_fixture.h"
#include "screen_fixture.h"

namespace {

using namespace arm;
using namespace armtest;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

void setText(char (&field)[20], const char* text) {
  std::memset(field, 0, sizeof field);
  std::strncpy(field, text, sizeof field - 1);
}

void typeKey(QWidget* w, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(w, &press);
}

void typeText(QLineEdit* edit, const QString& text) {
  for (QChar c : text) typeKey(edit, 0, QString(c));
}

// A regulation screen on a record of the test's own, sized like the main window's screen area.
struct RegulationBench {
  explicit RegulationBench(uint32_t model) : bench(model), screen(bench.context) {
    screen.resize(880, 700);
    screen.afterBinding(bench.dev());
    screen.show();
    bench.dev().linked = 1;
    bench.dev().linkState = 2;
    bench.dev().settings.decimals = 3;
  }
  template <typename T>
  T* find(const char* name) {
    return screen.findChild<T*>(QString::fromLatin1(name));
  }
  QString text(const char* name) { return find<QLabel>(name)->text(); }
  QColor displayColour() { return find<QLabel>("Label_P_etl")->palette().color(QPalette::WindowText); }
  void measure(float pRef) {
    bench.dev().pRef = pRef;
    bench.dev().pRefUnits = pRef * bench.dev().settings.unitFactor;
    bench.notify(screen, 2);
  }
  // A model record with the given first sub-range limits (gauge; absolute the same plus 100).
  void setModel(float up1, float up2) {
    auto model = std::make_unique<TModelRec>();
    for (int i = 0; i < kSubRanges; ++i) {
      model->sens[0].G[i] = up1 / static_cast<float>(i + 1);
      model->sens[0].A[i] = up1 / static_cast<float>(i + 1) + 100;
      model->sens[1].G[i] = up2 / static_cast<float>(i + 1);
      model->sens[1].A[i] = up2 > 0 ? up2 / static_cast<float>(i + 1) + 100 : 0;
    }
    model->sensCount = up2 > 0 ? 2 : 1;
    bench.context.setModelTables(std::move(model), std::make_unique<TErrorRec>());
  }

  ScreenBench bench;
  RegulationScreen screen;
};

// ---- Texts ----------------------------------------------------------------------------------

TEST(RegulationScreen, TextsOfAMeasurementAndOfALostLink) {
  RegulationBench r(1);
  TDev& dev = r.bench.dev();
  dev.settings.units = 1;  // МПа
  dev.settings.unitFactor = 0.001f;
  dev.settings.pressType = 2;
  setText(dev.speedText, "0.25");
  setText(dev.baroText, "101.3");
  r.measure(123456.7f);
  EXPECT_EQ(r.text("Label_P_etl"), QStringLiteral("123.457"));
  EXPECT_EQ(r.text("lab_SpeedEtl"), QStringLiteral("0.25"));  // the Quarn's own speed text
  EXPECT_EQ(r.text("Label_P_atm"), QStringLiteral("101.3"));
  EXPECT_FALSE(r.find<QGroupBox>("gbBarom")->isHidden());
  EXPECT_EQ(r.text("Label_PressMode"), QStringLiteral("Избыточное-разрежение"));
  EXPECT_EQ(r.text("Label_Press_Unit"), QStringLiteral("МПа"));
  EXPECT_FALSE(r.find<QWidget>("Panel_Gauge")->isHidden());

  // No barometer ("-1"), a reference that is not a number, an external reference that is absent.
  setText(dev.baroText, "-1.0");
  r.measure(kNaN);
  EXPECT_TRUE(r.find<QGroupBox>("gbBarom")->isHidden());
  EXPECT_EQ(r.text("Label_P_etl"), QStringLiteral(" - - - - - - "));
  dev.settings.refSource = 3;
  r.measure(100);
  EXPECT_EQ(r.text("Label_P_etl"), QStringLiteral(" - - - - - - "));
  dev.dorv.present = 1;
  r.measure(100);
  EXPECT_EQ(r.text("Label_P_etl"), QStringLiteral("0.100"));
  // A small negative reading is a zero without a sign.
  r.measure(-0.2f);
  EXPECT_EQ(r.text("Label_P_etl"), QStringLiteral("0.000"));

  // A settings read names the unit in the captions.
  r.bench.notify(r.screen, 3);
  EXPECT_EQ(r.find<QGroupBox>("GroupBox_Speed")->title(), QStringLiteral("Скорость, МПа/сек"));
  EXPECT_EQ(r.find<QGroupBox>("gbBarom")->title(), QStringLiteral("Барометр, МПа"));

  // The link lost.
  dev.linked = 0;
  dev.linkState = 0;
  r.bench.notify(r.screen, 1);
  EXPECT_EQ(r.text("Label_PressMode"), QStringLiteral("- нет связи -"));
  for (const char* emptied : {"Label_Press_Unit", "Label_P_etl", "lab_SpeedEtl", "Label_P_atm"})
    EXPECT_TRUE(r.text(emptied).isEmpty()) << emptied;
  EXPECT_TRUE(r.find<QWidget>("Panel_Gauge")->isHidden());
  // The Quarn has no regulation panel.
  EXPECT_TRUE(r.screen.brenkPanel()->isHidden());
}

TEST(RegulationScreen, BrenkSpeedAndDisplayColourByReadinessBand) {
  RegulationBench r(0);
  TDev& dev = r.bench.dev();
  dev.settings.unitFactor = 0.001f;
  dev.settings.decimals = 4;
  dev.refStat.speed = 2.5f;  // kPa/s
  dev.calInfo.span = 1000;
  dev.calInfo.spanUnits = 1;
  dev.settings.readyBand1 = 0.25f;
  dev.settings.readyBand2 = 0.0625f;
  dev.pTarget = 500;
  r.measure(500);
  EXPECT_EQ(r.text("lab_SpeedEtl"), QStringLiteral("0.0025"));
  const struct {
    float pRef;
    QColor colour;
  } cases[] = {
      {500.5f, RegulationScreen::inCorridorColour()},  // 0.05 % of the range: inside band 2
      {499.5f, RegulationScreen::inCorridorColour()},
      {501.0f, RegulationScreen::nearColour()},     // 0.1 %: inside band 1
      {499.375f, RegulationScreen::nearColour()},   // 0.0625 %: on band 2 is outside it
      {497.5f, RegulationScreen::outsideColour()},  // 0.25 %: on band 1 is outside
      {503.0f, RegulationScreen::outsideColour()},
      {kNaN, RegulationScreen::outsideColour()},
  };
  for (const auto& c : cases) {
    r.measure(c.pRef);
    EXPECT_EQ(r.displayColour(), c.colour) << c.pRef;
  }
  // Without a known working range the colour stays as it was.
  dev.calInfo.spanUnits = 0;
  r.measure(500);
  EXPECT_EQ(r.displayColour(), RegulationScreen::outsideColour());

  // The Quarn's display keeps its colour whatever the distance to the setpoint.
  RegulationBench q(1);
  q.bench.dev().calInfo.span = 1000;
  q.bench.dev().calInfo.spanUnits = 1;
  q.bench.dev().pTarget = 0;
  q.measure(900);
  EXPECT_EQ(q.displayColour(), RegulationScreen::inCorridorColour());
}

// ---- Gauges ---------------------------------------------------------------------------------

TEST(RegulationScreen, GaugesForGaugeVacuumPressureWithTwoModules) {
  RegulationBench r(1);
  r.setModel(250, 60);
  TDev& dev = r.bench.dev();
  dev.settings.pressType = 2;  // gauge-vacuum
  r.bench.notify(r.screen, 3);
  BarGauge* hi = r.screen.gaugeHigh();
  BarGauge* low = r.screen.gaugeLow();
  EXPECT_EQ(hi->minimum(), -100);
  EXPECT_EQ(hi->maximum(), 250);
  EXPECT_EQ(hi->scale(), 1);
  EXPECT_EQ(low->minimum(), -60);
  EXPECT_EQ(low->maximum(), 60);
  EXPECT_FALSE(low->isHidden());
  // gLow lies under the part of gHi that -60..60 takes within -100..250.
  const QRect h = hi->geometry();
  const QRect l = low->geometry();
  EXPECT_NEAR(l.left() - h.left(), h.width() * 40.0 / 350.0, 1.0);
  EXPECT_NEAR(l.width(), h.width() * 120.0 / 350.0, 1.0);
  EXPECT_EQ(r.text("lab_gMin"), QStringLiteral("-100"));
  EXPECT_EQ(r.text("lab_gHi"), QStringLiteral("250"));
  EXPECT_EQ(r.text("lab_gMinLow"), QStringLiteral("-60"));
  EXPECT_EQ(r.text("lab_gLow"), QStringLiteral("60"));
  EXPECT_FALSE(r.find<QLabel>("lab_gMinLow")->isHidden());  // its end is far enough right

  // Gauge pressure: both start at 0, so gLow's lower label would sit on gHi's.
  dev.settings.pressType = 1;
  r.bench.notify(r.screen, 3);
  EXPECT_EQ(low->geometry().left(), hi->geometry().left());
  EXPECT_TRUE(r.find<QLabel>("lab_gMinLow")->isHidden());
  // Module 2 only: gHi goes, gLow takes its place and shows its lower limit.
  dev.settings.refSource = 2;
  r.bench.notify(r.screen, 3);
  EXPECT_TRUE(hi->isHidden());
  EXPECT_EQ(low->geometry().left(), hi->geometry().left());
  EXPECT_EQ(low->geometry().width(), hi->geometry().width());
  EXPECT_FALSE(r.find<QLabel>("lab_gMinLow")->isHidden());
  // Module 1 only: gLow goes.
  dev.settings.refSource = 1;
  r.bench.notify(r.screen, 3);
  EXPECT_FALSE(hi->isHidden());
  EXPECT_TRUE(low->isHidden());
}

TEST(RegulationScreen, SmallRangesUseScale100AndTheModuleInUseIsHighlighted) {
  RegulationBench r(1);
  r.setModel(6, 0);  // one module of 6 kPa
  TDev& dev = r.bench.dev();
  dev.settings.pressType = 1;
  r.bench.notify(r.screen, 3);
  BarGauge* hi = r.screen.gaugeHigh();
  EXPECT_EQ(hi->scale(), 100);
  EXPECT_EQ(hi->minimum(), 0);
  EXPECT_EQ(hi->maximum(), 600);
  EXPECT_TRUE(r.screen.gaugeLow()->isHidden());  // one module
  const struct {
    float pRef;
    int value;
  } values[] = {{3.456f, 345}, {7, 600}, {-1, 0}, {0.004f, 0}};
  for (const auto& v : values) {
    r.measure(v.pRef);
    EXPECT_EQ(hi->value(), v.value) << v.pRef;
    EXPECT_EQ(hi->background(), RegulationScreen::activeGauge());
  }
  r.measure(kNaN);
  EXPECT_EQ(hi->value(), hi->minimum());
  EXPECT_EQ(hi->background(), RegulationScreen::idleGauge());

  // Quarn, module 2 in use: gLow white and gHi silver after the settings read and after every
  // measurement; gLow shows the pressure, gHi sits at its minimum.
  RegulationBench q(1);
  q.setModel(2500, 250);
  q.bench.dev().settings.pressType = 1;
  q.bench.dev().sensorState = 1;
  q.bench.notify(q.screen, 3);
  BarGauge* qHi = q.screen.gaugeHigh();
  BarGauge* qLow = q.screen.gaugeLow();
  EXPECT_EQ(qLow->background(), RegulationScreen::activeGauge());
  EXPECT_EQ(qHi->background(), RegulationScreen::idleGauge());
  q.measure(120.5f);
  EXPECT_EQ(qLow->background(), RegulationScreen::activeGauge());
  EXPECT_EQ(qHi->background(), RegulationScreen::idleGauge());
  EXPECT_EQ(qLow->value(), 120);
  EXPECT_EQ(qHi->value(), qHi->minimum());
  q.bench.dev().sensorState = 0;
  q.measure(1200);
  EXPECT_EQ(qHi->value(), 1200);
  EXPECT_EQ(qLow->value(), qLow->minimum());
  EXPECT_EQ(qHi->background(), RegulationScreen::activeGauge());
}

TEST(RegulationScreen, GaugeSetUpForTheExternalReferenceAndWithoutACatalogue) {
  RegulationBench r(0);
  TDev& dev = r.bench.dev();
  BarGauge* hi = r.screen.gaugeHigh();
  // No model record: the set-up changes nothing.
  dev.settings.refSource = 3;
  dev.dorv.rangeLow = -100;
  dev.dorv.rangeHigh = 1000;
  r.bench.notify(r.screen, 5);
  EXPECT_EQ(hi->maximum(), 600);  // the design-time range

  r.setModel(2500, 250);
  dev.settings.units = 2;  // бар
  dev.settings.unitFactor = 0.01f;
  r.bench.notify(r.screen, 5);
  EXPECT_EQ(hi->minimum(), -100);
  EXPECT_EQ(hi->maximum(), 1000);
  EXPECT_TRUE(r.screen.gaugeLow()->isHidden());
  EXPECT_EQ(r.text("lab_gMin"), QStringLiteral("-1"));
  EXPECT_EQ(r.text("lab_gHi"), QStringLiteral("10"));
  dev.dorv.rangeLow = 0;
  dev.dorv.rangeHigh = 2.5f;
  r.bench.notify(r.screen, 5);
  EXPECT_EQ(hi->scale(), 100);
  EXPECT_EQ(hi->maximum(), 250);
  // A transducer reporting an absurd range gives a gauge, not an overflow.
  dev.dorv.rangeHigh = 1e30f;
  r.bench.notify(r.screen, 5);
  EXPECT_GT(hi->maximum(), 1000000);

  // The Brenk's automatic range choice: module 2 while the pressure is within its first range.
  dev.settings.refSource = 0;
  dev.settings.pressType = 1;
  r.bench.notify(r.screen, 3);
  const struct {
    int32_t autoRange;
    float pRef;
    bool lowActive;
  } choice[] = {{0, 100, true}, {0, -250, true}, {0, 260, false}, {1, 100, false}, {2, 100, true}};
  for (const auto& c : choice) {
    dev.settings.autoRange = c.autoRange;
    r.measure(c.pRef);
    EXPECT_EQ(r.screen.gaugeLow()->background() == RegulationScreen::activeGauge(), c.lowActive)
        << c.autoRange << " " << c.pRef;
  }
  // A Brenk model without module 2 always measures with module 1, also at zero.
  r.setModel(1000, 0);
  dev.settings.autoRange = 0;
  r.bench.notify(r.screen, 3);
  r.measure(0);
  EXPECT_EQ(hi->background(), RegulationScreen::activeGauge());
}

// ---- Brenk regulation panel -----------------------------------------------------------------

TEST(BrenkRegulationPanel, SetpointTypedInMPaIsSentInKPa) {
  RegulationBench r(0);
  TDev& dev = r.bench.dev();
  dev.settings.units = 1;
  dev.settings.unitFactor = 0.001f;
  dev.settings.unitFactorInv = 1000;
  dev.pTarget = 0;
  r.measure(0);
  BrenkRegulationPanel* panel = r.screen.brenkPanel();
  ASSERT_FALSE(panel->isHidden());
  QLineEdit* entry = panel->entry();
  EXPECT_TRUE(entry->isEnabled());
  EXPECT_EQ(entry->text(), QStringLiteral("0.000"));

  entry->clear();
  typeText(entry, QStringLiteral("1"));
  EXPECT_TRUE(panel->editing());
  EXPECT_EQ(entry->palette().color(QPalette::Base), QColor(Qt::yellow));
  r.measure(0);  // a refresh while editing leaves the entry alone
  EXPECT_EQ(entry->text(), QStringLiteral("1"));
  typeKey(entry, Qt::Key_Return);
  EXPECT_FLOAT_EQ(dev.pTarget, 1000);
  EXPECT_EQ(r.bench.taskNumbers(), std::vector<uint32_t>{TASK_MEASURE_REGUL});
  EXPECT_FALSE(panel->editing());
  EXPECT_EQ(entry->palette().color(QPalette::Base), QColor(Qt::white));
  r.measure(0);
  EXPECT_EQ(entry->text(), QStringLiteral("1.000"));
}

TEST(BrenkRegulationPanel, BeforeTheFirstSettingsReadTheSetpointIsInKPa) {
  // The library starts with the kPa factor and no inverse: 50 typed must not become 0 kPa.
  RegulationBench r(0);
  const struct {
    float factor, inverse, kPa;
  } cases[] = {{1, 0, 50},
               {0.001f, 0, 50000},
               {0, 0, 50},
               {1, std::numeric_limits<float>::quiet_NaN(), 50},
               {0.01f, 100, 5000}};
  for (const auto& c : cases) {
    r.bench.dev().settings.unitFactor = c.factor;
    r.bench.dev().settings.unitFactorInv = c.inverse;
    r.screen.brenkPanel()->entry()->setText(QStringLiteral("50"));
    typeKey(r.screen.brenkPanel()->entry(), Qt::Key_Return);
    EXPECT_FLOAT_EQ(r.bench.dev().pTarget, c.kPa) << c.factor << " " << c.inverse;
  }
}

TEST(BrenkRegulationPanel, KeysPassTheNumericFilterAndMarkTheEntry) {
  RegulationBench r(0);
  r.measure(0);
  QLineEdit* entry = r.screen.brenkPanel()->entry();
  entry->clear();
  typeText(entry, QStringLiteral("xж+"));  // dropped: no mark
  EXPECT_FALSE(r.screen.brenkPanel()->editing());
  EXPECT_TRUE(entry->text().isEmpty());
  typeText(entry, QStringLiteral("1,5у2"));
  EXPECT_EQ(entry->text(), QStringLiteral("1.5e2"));
  EXPECT_TRUE(r.screen.brenkPanel()->editing());
  typeKey(entry, Qt::Key_Return);
  EXPECT_FLOAT_EQ(r.bench.dev().pTarget, 150);
  // Delete also marks the entry.
  typeKey(entry, Qt::Key_Delete);
  EXPECT_TRUE(r.screen.brenkPanel()->editing());
}

// An entry that does not read as a number sends nothing and says why; one that does is sent.
TEST(BrenkRegulationPanel, AnEntryThatDoesNotReadAsANumberSendsNothingAndSaysWhy) {
  RegulationBench r(0);
  r.measure(0);
  BrenkRegulationPanel* panel = r.screen.brenkPanel();
  const struct {
    const char* text;
    float kPa;  // NaN: nothing sent
  } cases[] = {{"-", kNaN},     {".", kNaN},  {"", kNaN},      {"e5", kNaN},      {"--5", kNaN},
               {"1.5.5", kNaN}, {"2e", kNaN}, {"-0.5", -0.5f}, {" 12.5 ", 12.5f}, {"1e2", 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    r.bench.tasks.clear();
    r.bench.context.messageWindow().hide();
    r.bench.dev().pTarget = 99;
    panel->entry()->setText(QString::fromLatin1(c.text));
    typeKey(panel->entry(), Qt::Key_Enter);
    if (std::isnan(c.kPa)) {
      EXPECT_FLOAT_EQ(r.bench.dev().pTarget, 99) << "unchanged";
      EXPECT_TRUE(r.bench.tasks.empty());
      EXPECT_TRUE(r.bench.context.messageWindow().isVisible());
      EXPECT_EQ(r.bench.context.messageWindow().text(), QStringLiteral("Уставка не отправлена: \"") +
                                                            QString::fromLatin1(c.text) +
                                                            QStringLiteral("\" не читается как число."));
    } else {
      EXPECT_FLOAT_EQ(r.bench.dev().pTarget, c.kPa);
      EXPECT_EQ(r.bench.taskNumbers(), std::vector<uint32_t>{TASK_MEASURE_REGUL});
      EXPECT_FALSE(r.bench.context.messageWindow().isVisible());
    }
  }
}

// Delete (which Qt gives with the character 0x7F) and Backspace edit every filtered number field as
// any text field: the setpoint entry, a field with the numeric key filter, a number cell of a list.
TEST(NumberFields, DeleteAndBackspaceEditAsInAnyTextField) {
  RegulationBench r(0);
  r.measure(0);
  QLineEdit filtered;
  NumericKeyFilter::install(&filtered);
  EditableListView list(QStringLiteral("lv_Test"), 2);
  list.setSlotsByColumn(true);
  list.setColumns({"№", "a", "b"});
  list.setRows({QStringLiteral("1")});
  list.setNumberSlot(1);
  list.resize(300, 200);
  list.show();
  list.SetText(0, 1, QStringLiteral("123"));
  list.clickCell(0, 1);
  ASSERT_EQ(list.editingSlot(), 1);
  const struct {
    const char* what;
    QLineEdit* edit;
  } fields[] = {{"setpoint entry", r.screen.brenkPanel()->entry()},
                {"numeric key filter", &filtered},
                {"list number cell", list.lineEditor()}};
  for (const auto& f : fields) {
    SCOPED_TRACE(f.what);
    f.edit->setText(QStringLiteral("123"));
    f.edit->deselect();
    f.edit->setCursorPosition(0);
    typeKey(f.edit, Qt::Key_Delete, QString(QChar(0x7F)));
    EXPECT_EQ(f.edit->text(), QStringLiteral("23"));
    f.edit->setCursorPosition(2);
    typeKey(f.edit, Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_EQ(f.edit->text(), QStringLiteral("2"));
  }
}

TEST(BrenkRegulationPanel, StepButtonsAndTheStepBelowTheShownResolution) {
  RegulationBench r(0);
  TDev& dev = r.bench.dev();
  // Every button's caption says the step it makes.
  for (QPushButton* b : r.screen.brenkPanel()->findChildren<QPushButton*>()) {
    const int tag = b->property("tag").toInt();
    const QString caption = (tag > 0 ? QStringLiteral("+ ") : QStringLiteral("- ")) +
                            QString::number(std::abs(tag) * 0.001, 'f', 3);
    EXPECT_EQ(b->text(), caption) << qPrintable(b->objectName());
  }
  const struct {
    const char* button;
    int decimals;
    float from, to;
  } cases[] = {
      {"BitBtn2", 2, 5, 5},       // +0.001 with two decimals: lost
      {"BitBtn1", 2, 5, 5.01f},   // +0.010
      {"Btn_Up_01", 3, 5, 5.1f},  // +0.100
      {"BitBtn3", 3, 5, 4.999f},  // -0.001
      {"BitBtn5", 1, 5, 4.9f},    // -0.100
      {"BitBtn4", 1, 5, 5},       // -0.010 with one decimal: lost
  };
  for (const auto& c : cases) {
    dev.settings.decimals = c.decimals;
    dev.pTarget = c.from;
    r.measure(0);
    r.bench.tasks.clear();
    r.screen.brenkPanel()->findChild<QPushButton*>(c.button)->click();
    EXPECT_FLOAT_EQ(dev.pTarget, c.to) << c.button;
    EXPECT_EQ(r.bench.taskNumbers(), std::vector<uint32_t>{TASK_MEASURE_REGUL});
  }
}

TEST(BrenkRegulationPanel, RegulationSwitchAndNoLink) {
  RegulationBench r(0);
  TDev& dev = r.bench.dev();
  r.measure(0);
  auto* on = r.screen.findChild<LabelPanel*>("Panel_SetOn_regul");
  auto* off = r.screen.findChild<LabelPanel*>("Panel_SetOff_regul");
  ASSERT_TRUE(on && off);
  EXPECT_FALSE(on->isHidden());
  EXPECT_TRUE(off->isHidden());
  pressMouse(on->label(), true);  // a click on the caption counts as on the panel
  EXPECT_TRUE(on->isHidden());
  EXPECT_FALSE(off->isHidden());
  EXPECT_EQ(dev.regulReq, 1u);
  EXPECT_EQ(dev.controlMode, 1u);
  pressMouse(off, true);
  EXPECT_EQ(dev.controlMode, 0u);
  EXPECT_FALSE(on->isHidden());
  EXPECT_EQ(r.bench.taskNumbers(), (std::vector<uint32_t>{TASK_MEASURE_REGUL, TASK_MEASURE_REGUL}));
  // The switch follows the calibrator's mode whoever changed it: the device's own mode read at a
  // connection, a run that regulated and ended in measuring, a run stopped by a lost link.
  for (uint32_t mode : {1u, 0u, 2u, 1u}) {
    SCOPED_TRACE(mode);
    dev.controlMode = mode;
    r.measure(0);
    EXPECT_EQ(on->isHidden(), mode == 1);
    EXPECT_EQ(off->isHidden(), mode != 1);
  }
  dev.controlMode = 0;
  r.measure(0);

  // Linked, but the connection still reads the settings: a task now would abandon that.
  dev.task = TASK_CONNECT;
  r.measure(0);
  EXPECT_FALSE(r.screen.brenkPanel()->entry()->isEnabled());
  EXPECT_FALSE(on->isEnabled());
  for (QPushButton* b : r.screen.brenkPanel()->findChildren<QPushButton*>()) EXPECT_FALSE(b->isEnabled());
  dev.task = TASK_MEASURE;
  r.measure(0);
  EXPECT_TRUE(r.screen.brenkPanel()->entry()->isEnabled());

  dev.linked = 0;
  r.measure(0);
  EXPECT_FALSE(r.screen.brenkPanel()->entry()->isEnabled());
  EXPECT_TRUE(r.screen.brenkPanel()->entry()->text().isEmpty());
  EXPECT_FALSE(on->isEnabled());
  for (QPushButton* b : r.screen.brenkPanel()->findChildren<QPushButton*>()) EXPECT_FALSE(b->isEnabled());
}

// ---- Against the simulator ------------------------------------------------------------------

TEST_F(Workstation, RegulationScreenFollowsTheQuarnsModules) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  connectTo("COM7");
  RegulationScreen* screen = w.screen<RegulationScreen>();
  EXPECT_FALSE(screen->isHidden());
  EXPECT_TRUE(screen->brenkPanel()->isHidden());
  // Near zero the low-range module measures.
  EXPECT_EQ(screen->gaugeLow()->background(), RegulationScreen::activeGauge());
  EXPECT_EQ(screen->gaugeHigh()->maximum(), 2500);
  EXPECT_EQ(screen->gaugeLow()->maximum(), 250);
  bench->setPressureKPa(500);
  ASSERT_TRUE(runUntil([&] { return screen->gaugeHigh()->background() == RegulationScreen::activeGauge(); }));
  ASSERT_TRUE(runUntil([&] { return std::abs(screen->gaugeHigh()->value() - 500) <= 1; }));
  EXPECT_EQ(screen->gaugeLow()->value(), screen->gaugeLow()->minimum());
  EXPECT_NEAR(screen->findChild<QLabel*>("Label_P_etl")->text().toDouble(), 500, 0.5);
}

// From the start of the program to the first measurement, the big display and the status line
// tell the same link state: never "- нет связи -" above "есть связь".
TEST_F(Workstation, TheDisplayAndTheStatusLineFollowTheSameLinkState) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  auto* status = w.findChild<QLabel*>("Label_CurentState");
  auto* mode = w.screen<RegulationScreen>()->findChild<QLabel*>("Label_PressMode");
  ASSERT_TRUE(status && mode);
  EXPECT_EQ(mode->text(), QStringLiteral("- нет связи -"));
  w.ports().COM11Click(portItem("COM7"));
  ASSERT_TRUE(runUntil([&] {
    QCoreApplication::processEvents();
    const bool linked = status->text() == QStringLiteral("есть связь");
    const bool noLink = mode->text() == QStringLiteral("- нет связи -");
    EXPECT_NE(linked, noLink) << "status line \"" << status->text().toStdString() << "\", display \""
                              << mode->text().toStdString() << "\"";
    return linked && !mode->text().isEmpty();
  }));
  EXPECT_EQ(mode->text(), QStringLiteral("Избыточное"));
}

TEST_F(Workstation, TheBrenkRegulatesToASetpointTypedOnTheScreen) {
  quarnsim::Scenario s;
  s.model = quarnsim::Model::Brenk;
  plugSimulator(s);
  MainWindow& w = makeWindow(0);
  w.TimerLoadTimer();
  w.ports().COM11Click(portItem("COM7"));
  RegulationScreen* screen = w.screen<RegulationScreen>();
  BrenkRegulationPanel* panel = screen->brenkPanel();
  ASSERT_TRUE(runUntil([&] { return w.dev()->linked == 1 && panel->entry()->isEnabled(); }));
  QLineEdit* entry = panel->entry();
  entry->clear();
  typeText(entry, QStringLiteral("50"));
  typeKey(entry, Qt::Key_Return);
  EXPECT_FLOAT_EQ(w.dev()->pTarget, 50);
  ASSERT_TRUE(runUntil([&] { return std::abs(bench->setpointKPa() - 50) < 1e-3; }));
  pressMouse(w.findChild<LabelPanel*>("Panel_SetOn_regul"), true);
  ASSERT_TRUE(runUntil([&] { return bench->operatingMode() == 1; }));
  ASSERT_TRUE(runUntil([&] { return std::abs(bench->pressureKPa() - 50) < 0.05; }, 120000));
  ASSERT_TRUE(runUntil([&] {
    return std::abs(screen->findChild<QLabel*>("Label_P_etl")->text().toDouble() - 50) < 0.05 &&
           screen->findChild<QLabel*>("Label_P_etl")->palette().color(QPalette::WindowText) ==
               RegulationScreen::inCorridorColour();
  }));
  // The entry opened only after the connection had read the settings, which were not abandoned.
  EXPECT_TRUE(w.windowTitle().contains(QStringLiteral("Модель")));
  EXPECT_EQ(w.dev()->settings.decimals, 3);
  EXPECT_EQ(entry->text(), QStringLiteral("50.000"));
}

// The calibrator's model missing from the catalogue (a record without modules): the gauge spans the
// working range the calibrator reports, not 0...0.
TEST(RegulationScreen, WithoutTheModelInTheCatalogueTheGaugeSpansTheReportedRange) {
  RegulationBench r(1);
  r.bench.context.setModelTables(std::make_unique<TModelRec>(), std::make_unique<TErrorRec>());
  TDev& dev = r.bench.dev();
  dev.calInfo.pLimitMin = -100;
  dev.calInfo.pLimitMax = 2500;
  r.bench.notify(r.screen, 3);
  BarGauge* hi = r.screen.gaugeHigh();
  EXPECT_EQ(hi->minimum(), -100);
  EXPECT_EQ(hi->maximum(), 2500);
  EXPECT_FALSE(hi->isHidden());
  EXPECT_TRUE(r.screen.gaugeLow()->isHidden());
  EXPECT_EQ(r.text("lab_gMin"), QStringLiteral("-100"));
  EXPECT_EQ(r.text("lab_gHi"), QStringLiteral("2500"));
}

}  // namespace
