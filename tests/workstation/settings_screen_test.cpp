// The Quarn's and the Brenk's settings screens: driven from a record prepared by the test (values of
// a read, choice lists per module kind, write enabling, corridor entries, the zero button and its
// timer, the Dorv line, the setpoint limits, reads and writes that never report back) and against the
// in-process simulator (what is written is what the calibrator then reports, a refused write, the
// zero adjustment).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTimer>
#include <cmath>
#include <cstring>

#include "BrenkRegulationPanel.h"
#include "BrenkSettingsScreen.h"
#include "LabelPanel.h"
#include "QuarnSettingsScreen.h"
#include "RegulationScreen.h"
#include "TDevValues.h"
#include "ZDialog.h"
#include "bench_fixture.h"
#include "screen_fixture.h"

namespace {

using namespace arm;
using namespace armtest;

template <std::size_t N>
void setText(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::strncpy(field, text, N - 1);
}

QStringList items(const QComboBox* box) {
  QStringList all;
  for (int i = 0; i < box->count(); ++i) all << box->itemText(i);
  return all;
}

// The operator picks an item: the screen reacts to the combo box's activated signal only.
void choose(QComboBox* box, int index) {
  box->setCurrentIndex(index);
  Q_EMIT box->activated(index);
}
void choose(QComboBox* box, const QString& text) {
  const int i = box->findText(text);
  ASSERT_GE(i, 0) << text.toStdString();
  choose(box, i);
}

// The operator types into an edit box, key by key, through its key filter.
void type(QLineEdit* edit, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(edit, &press);
  }
}
void replaceText(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  edit->del();
  type(edit, text);
}

// A model record: module 1 with gauge limits up1, up1/2, ... (absolute +100), module 2 likewise
// from up2 (none when 0), sub-range 6 of module 1 missing.
std::unique_ptr<TModelRec> makeModel(int kind, float up1, float up2) {
  auto model = std::make_unique<TModelRec>();
  model->VpCont = kind;
  for (int i = 0; i < kSubRanges; ++i) {
    model->sens[0].G[i] = i == 5 ? 0 : up1 / static_cast<float>(i + 1);
    model->sens[0].A[i] = i == 5 || up1 <= 0 ? 0 : up1 / static_cast<float>(i + 1) + 100;
    model->sens[1].G[i] = up2 / static_cast<float>(i + 1);
    model->sens[1].A[i] = up2 > 0 ? up2 / static_cast<float>(i + 1) + 100 : 0;
  }
  model->sensCount = up2 > 0 ? 2 : 1;
  return model;
}

// A settings screen on a record of the test's own, linked, with the calibrator identified.
template <typename S>
struct SettingsBench {
  explicit SettingsBench(uint32_t model) : bench(model), screen(bench.context) {
    screen.resize(880, 700);
    screen.afterBinding(bench.dev());
    screen.show();
    TDev& dev = bench.dev();
    dev.linked = 1;
    dev.linkState = 2;
    dev.task = TASK_MEASURE;
    dev.calInfo.valid = 1;
    setText(dev.calInfo.serial, "Q1-004711");
    setText(dev.calInfo.madeDate, "15.03.2024");
    setText(dev.calInfo.modelName, "QC-2500");
    dev.calInfo.version = 215;
    dev.calInfo.module1Class = 1;
    dev.calInfo.module2Class = 2;
    dev.settings.pressType = 1;
    dev.settings.decimals = 3;
    dev.settings.averaging = 5;
    dev.settings.readyBand1 = 0.05f;
    dev.settings.readyBand2 = 0.02f;
  }
  template <typename T>
  T* find(const char* name) {
    T* w = screen.template findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QComboBox* combo(const char* name) { return find<QComboBox>(name); }
  QLineEdit* edit(const char* name) { return find<QLineEdit>(name); }
  QString text(const char* name) { return edit(name)->text(); }
  QString chosen(const char* name) { return combo(name)->currentText(); }
  void setModel(int kind, float up1, float up2) {
    bench.context.setModelTables(makeModel(kind, up1, up2), std::make_unique<TErrorRec>());
  }
  // The settings-read notification.
  void read() { bench.notify(screen, 3); }
  void click(LabelPanel* panel) { pressMouse(panel, true); }
  ZDialog& message() { return bench.context.messageWindow(); }

  ScreenBench bench;
  S screen;
};

// The settings screen of either model on a record of the test's own: linked, identified, measuring,
// a model with two gauge modules in the catalogue, the settings of a read.
struct EitherBench {
  explicit EitherBench(uint32_t model) : bench(model) {
    if (model == 1)
      screen = std::make_unique<QuarnSettingsScreen>(bench.context);
    else
      screen = std::make_unique<BrenkSettingsScreen>(bench.context);
    bench.context.setModelTables(makeModel(1, 2500, 250), std::make_unique<TErrorRec>());
    TDev& d = bench.dev();
    d.linked = 1;
    d.linkState = 2;
    d.task = TASK_MEASURE;
    d.calInfo.valid = 1;
    setText(d.calInfo.serial, "Q1-004711");
    d.settings.pressType = 1;
    d.settings.averaging = 5;
    d.settings.readyBand1 = 0.05f;
    d.settings.readyBand2 = 0.05f;
  }
  TDev& dev() { return bench.dev(); }
  void notify(uint32_t event) { bench.notify(*screen, event); }

  ScreenBench bench;
  std::unique_ptr<SettingsScreenBase> screen;
};

// ---- Quarn: the values of a read ------------------------------------------------------------

TEST(QuarnSettingsScreen, ValuesOfASettingsRead) {
  SettingsBench<QuarnSettingsScreen> q(1);
  q.setModel(1, 2500, 250);
  TDev& dev = q.bench.dev();
  dev.settings.refSource = 2;
  dev.settings.subRange = 3;
  dev.settings.units = 1;  // МПа
  dev.settings.unitFactor = 0.001f;
  dev.settings.decimals = 2;
  dev.settings.averaging = 10;
  dev.settings.readyBand1 = 0.125f;
  int shown = 0;
  QObject::connect(&q.bench.context, &WorkstationContext::calibratorSettingsShown, [&] { ++shown; });
  q.read();
  EXPECT_EQ(shown, 1);

  EXPECT_EQ(items(q.combo("cbS_Sensor")),
            (QStringList{"Автовыбор", "Модуль №1", "Модуль №2", "Внешний Dorv"}));
  EXPECT_EQ(q.chosen("cbS_Sensor"), QStringLiteral("Модуль №2"));
  // Module 2's gauge sub-ranges in the display unit.
  EXPECT_EQ(items(q.combo("cbS_SubRange")),
            (QStringList{"Автовыбор", "0...0.25 МПа", "0...0.125 МПа", "0...0.083333 МПа", "0...0.0625 МПа",
                         "0...0.05 МПа", "0...0.041667 МПа"}));
  EXPECT_EQ(q.combo("cbS_SubRange")->currentIndex(), 3);
  EXPECT_TRUE(q.combo("cbS_SubRange")->isEnabled());
  EXPECT_FALSE(q.combo("cbS_SubRange")->isHidden());
  EXPECT_TRUE(q.combo("cbClassExtDorv")->isHidden());
  EXPECT_EQ(items(q.combo("cbS_TypePress")), QStringList{"Избыточное"});  // kind 1: gauge only
  EXPECT_EQ(q.chosen("cbS_TypePress"), QStringLiteral("Избыточное"));
  EXPECT_EQ(q.chosen("cbS_Unuts"), QStringLiteral("МПа"));
  EXPECT_EQ(q.combo("cbS_Unuts")->count(), 8);
  EXPECT_EQ(q.chosen("cbS_cDigits"), QStringLiteral("2"));
  EXPECT_EQ(q.chosen("cbS_cAvatge"), QStringLiteral("10"));
  EXPECT_EQ(q.text("ebS_rdyPrc_1"), QStringLiteral("0.125"));
  EXPECT_EQ(q.text("eb_Model"), QStringLiteral("QC-2500"));
  EXPECT_EQ(q.text("eb_I_sn"), QStringLiteral("Q1-004711"));
  EXPECT_EQ(q.text("eb_I_date"), QStringLiteral("15.03.2024"));
  EXPECT_EQ(q.text("eb_I_version"), QStringLiteral("2.00"));  // version / 100, integer division
  EXPECT_TRUE(q.edit("eb_I_version")->isHidden());
  EXPECT_EQ(q.text("eb_diap1"), QStringLiteral(" 0..2500 кПа  'ДИ'  класс A"));
  EXPECT_EQ(q.text("eb_diap2"), QStringLiteral(" 0..250 кПа  'ДИ'  класс B"));
  EXPECT_FALSE(q.screen.writeButton()->isEnabled());
  EXPECT_TRUE(q.screen.readButton()->isEnabled());
  // The setpoint limits: module 2's first gauge sub-range.
  EXPECT_FLOAT_EQ(dev.calInfo.pLimitMax, 250);
  EXPECT_FLOAT_EQ(dev.calInfo.pLimitMin, -100);
  EXPECT_FALSE(q.message().isVisible());

  // A read without identification, or without the link, shows nothing new.
  for (auto [valid, linked] : {std::pair{0u, 1u}, std::pair{1u, 0u}}) {
    q.screen.Panel_ReadClick();
    dev.calInfo.valid = valid;
    dev.linked = linked;
    q.read();
    EXPECT_TRUE(q.text("eb_I_sn").isEmpty()) << valid << linked;
    EXPECT_EQ(q.combo("cbS_Unuts")->currentIndex(), -1);
    dev.calInfo.valid = 1;
    dev.linked = 1;
  }
}

TEST(QuarnSettingsScreen, ChoiceListsAndModuleTextsFollowTheModuleKind) {
  const struct {
    int kind;
    int32_t pressType;
    QStringList types;
    const char* module1;
    const char* module2;
    const char* firstSubRange;
  } cases[] = {
      {0, 0, {"Абсолютное"}, " 0..350 кПа  'ДА' класс A", " 0..160 кПа  'ДА'  класс B", "0...350 кПа"},
      {1, 1, {"Избыточное"}, " 0..250 кПа  'ДИ'  класс A", " 0..60 кПа  'ДИ'  класс B", "0...250 кПа"},
      // Gauge-vacuum: the lower end is minus the upper one, but not below -100 kPa.
      {3,
       2,
       {"Избыточное-разрежение", "Избыточное"},
       " -100..250 кПа 'ДИВ'  класс A",
       " -60..60 кПа 'ДИВ'  класс B",
       "-100...250 кПа"},
      {8,
       2,
       {"Абсолютное", "Избыточное", "Избыточное-разрежение"},
       " -100..250 кПа 'ДИВ' / 0..350 кПа 'ДА'  класс A",
       " -60..60 кПа 'ДИВ' / 0..160 кПа 'ДА'  класс B",
       "-100...250 кПа"},
      {5, 1, {"Абсолютное", "Избыточное", "Избыточное-разрежение"}, "", "", "0...250 кПа"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    SettingsBench<QuarnSettingsScreen> q(1);
    q.setModel(c.kind, 250, 60);
    q.bench.dev().settings.pressType = c.pressType;
    q.read();
    EXPECT_EQ(items(q.combo("cbS_TypePress")), c.types);
    EXPECT_EQ(q.text("eb_diap1"), QString::fromUtf8(c.module1));
    EXPECT_EQ(q.text("eb_diap2"), QString::fromUtf8(c.module2));
    EXPECT_EQ(q.combo("cbS_SubRange")->itemText(1), QString::fromUtf8(c.firstSubRange));
    // Module 1 has no sixth sub-range in the catalogue: the entry is there but cannot be chosen.
    auto* model = qobject_cast<QStandardItemModel*>(q.combo("cbS_SubRange")->model());
    ASSERT_NE(model, nullptr);
    EXPECT_FALSE(model->item(6)->isEnabled());
    EXPECT_TRUE(model->item(5)->isEnabled());
  }

  // One module: "- - -" for module 2, three references, and the Dorv is the third.
  SettingsBench<QuarnSettingsScreen> q(1);
  q.setModel(1, 600, 0);
  q.read();
  EXPECT_EQ(q.text("eb_diap2"), QStringLiteral("- - -"));
  EXPECT_EQ(items(q.combo("cbS_Sensor")), (QStringList{"Автовыбор", "Модуль №1", "Внешний Dorv"}));
}

TEST(QuarnSettingsScreen, WithoutTheModelInTheCatalogueNothingIsShown) {
  SettingsBench<QuarnSettingsScreen> q(1);
  TDev& dev = q.bench.dev();
  dev.calInfo.pLimitMin = -95;
  dev.calInfo.pLimitMax = 2500;
  // No model record at all, then the empty record a catalogue without the model leaves.
  for (bool emptyRecord : {false, true}) {
    if (emptyRecord)
      q.bench.context.setModelTables(std::make_unique<TModelRec>(), std::make_unique<TErrorRec>());
    q.read();
    EXPECT_TRUE(q.text("eb_I_sn").isEmpty());
    EXPECT_EQ(q.combo("cbS_Sensor")->count(), 0);
    EXPECT_FLOAT_EQ(dev.calInfo.pLimitMax, 2500);  // the limits stay as read
    EXPECT_FLOAT_EQ(dev.calInfo.pLimitMin, -95);
    EXPECT_TRUE(q.screen.readButton()->isEnabled());
    // Nothing shown, nothing to write from.
    choose(q.combo("cbS_Unuts"), 2);
    EXPECT_FALSE(q.screen.writeButton()->isEnabled());
  }
  // A catalogue entry whose module has no absolute range: the limits stay too.
  q.setModel(1, 0, 0);
  dev.settings.pressType = 0;
  q.read();
  EXPECT_FLOAT_EQ(dev.calInfo.pLimitMax, 2500);
}

// ---- Quarn: reference, sub-range and the Dorv -----------------------------------------------

TEST(QuarnSettingsScreen, AutomaticReferenceLeavesTheSubRangeToTheCalibrator) {
  SettingsBench<QuarnSettingsScreen> q(1);
  q.setModel(1, 2500, 250);
  q.bench.dev().settings.refSource = 0;
  q.bench.dev().settings.subRange = 4;
  int signals = 0;
  QObject::connect(&q.bench.context, &WorkstationContext::referenceChoiceChanged, [&] { ++signals; });
  q.read();
  QComboBox* sub = q.combo("cbS_SubRange");
  EXPECT_EQ(sub->currentIndex(), 0);
  EXPECT_EQ(sub->currentText(), QStringLiteral("Автовыбор"));
  EXPECT_FALSE(sub->isEnabled());

  choose(q.combo("cbS_Sensor"), QStringLiteral("Модуль №1"));
  EXPECT_TRUE(sub->isEnabled());
  EXPECT_EQ(signals, 1);
  choose(sub, 2);
  choose(q.combo("cbS_Sensor"), QStringLiteral("Автовыбор"));
  EXPECT_EQ(sub->currentIndex(), 0);
  EXPECT_FALSE(sub->isEnabled());
  EXPECT_EQ(signals, 3);  // every change: the verification screen looks at the reference again

  q.screen.Panel_SetClick();
  EXPECT_EQ(q.bench.dev().settings.refSource, 0);
  EXPECT_EQ(q.bench.dev().settings.subRange, 0);
}

// The sub-range list is that of the module chosen now (and of the pressure type chosen now), so the
// sub-range written is the one picked: with module 1 read and "Модуль №2" chosen, the list used to
// stay module 1's.
TEST(QuarnSettingsScreen, TheSubRangeListFollowsTheChosenModule) {
  SettingsBench<QuarnSettingsScreen> q(1);
  q.setModel(8, 2500, 250);  // gauge-vacuum with absolute: both pressure types listed
  TDev& dev = q.bench.dev();
  dev.settings.refSource = 1;
  dev.settings.pressType = 1;
  dev.settings.subRange = 2;
  q.read();
  QComboBox* sub = q.combo("cbS_SubRange");
  EXPECT_EQ(sub->itemText(1), QStringLiteral("0...2500 кПа"));
  EXPECT_EQ(sub->currentIndex(), 2);

  struct Step {
    const char* combo;
    const char* item;
    const char* first;  // the first sub-range listed afterwards
    const char* second;
  } steps[] = {
      {"cbS_Sensor", "Модуль №2", "0...250 кПа", "0...125 кПа"},
      {"cbS_TypePress", "Абсолютное", "0...350 кПа", "0...225 кПа"},
      {"cbS_TypePress", "Избыточное-разрежение", "-100...250 кПа", "-100...125 кПа"},
      {"cbS_Sensor", "Модуль №1", "-100...2500 кПа", "-100...1250 кПа"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.item);
    choose(q.combo(s.combo), QString::fromUtf8(s.item));
    EXPECT_EQ(sub->itemText(1), QString::fromUtf8(s.first));
    EXPECT_EQ(sub->itemText(2), QString::fromUtf8(s.second));
    EXPECT_EQ(sub->currentIndex(), 2) << "the picked sub-range stays picked";
  }
  choose(q.combo("cbS_Sensor"), QStringLiteral("Модуль №2"));
  choose(sub, 3);
  q.screen.Panel_SetClick();
  EXPECT_EQ(dev.settings.refSource, 2);
  EXPECT_EQ(dev.settings.subRange, 3);
  EXPECT_EQ(dev.settings.pressType, 2);
}

TEST(QuarnSettingsScreen, TheDorvAsReference) {
  // One module: the Dorv is the third item and writes reference 3.
  SettingsBench<QuarnSettingsScreen> q(1);
  q.setModel(1, 600, 0);
  TDev& dev = q.bench.dev();
  q.read();
  choose(q.combo("cbS_Sensor"), 2);
  EXPECT_EQ(q.chosen("cbS_Sensor"), QStringLiteral("Внешний Dorv"));
  q.screen.Panel_SetClick();
  EXPECT_EQ(dev.settings.refSource, 3);
  EXPECT_EQ(dev.dorv.accuracyClass, 1);  // nothing chosen yet: "A"

  // The calibrator reports the Dorv as its reference.
  dev.dorv.present = 1;
  dev.dorv.pressType = 2;
  dev.dorv.rangeLow = -100;
  dev.dorv.rangeHigh = 1600;
  dev.dorv.serialNo = 52311;
  q.read();
  EXPECT_EQ(q.chosen("cbS_Sensor"), QStringLiteral("Внешний Dorv"));
  EXPECT_TRUE(q.combo("cbS_SubRange")->isHidden());
  EXPECT_TRUE(q.find<QLabel>("labSubRange")->isHidden());
  EXPECT_EQ(q.find<QLabel>("labSubRange")->text(), QStringLiteral("Класс точности"));
  EXPECT_EQ(q.combo("cbS_SubRange")->count(), 0);
  EXPECT_FALSE(q.combo("cbClassExtDorv")->isHidden());
  EXPECT_FALSE(q.find<QLabel>("Lab_ExtDorv")->isHidden());
  EXPECT_EQ(q.chosen("cbClassExtDorv"), QStringLiteral("A"));
  // The transducer's pressure type, which the operator cannot change here.
  EXPECT_EQ(items(q.combo("cbS_TypePress")),
            (QStringList{"Абсолютное", "Избыточное", "Избыточное-разрежение"}));
  EXPECT_EQ(q.chosen("cbS_TypePress"), QStringLiteral("Избыточное-разрежение"));
  EXPECT_FALSE(q.combo("cbS_TypePress")->isEnabled());
  EXPECT_EQ(q.text("edExtInfo"), QStringLiteral("-100..1600 кПа ДИ  №52311"));
  EXPECT_FLOAT_EQ(dev.calInfo.pLimitMax, 1600);
  EXPECT_FLOAT_EQ(dev.calInfo.pLimitMin, -100);

  // The class chosen is written, and a read does not turn it back into "A".
  choose(q.combo("cbClassExtDorv"), QStringLiteral("B"));
  q.screen.Panel_SetClick();
  EXPECT_EQ(dev.dorv.accuracyClass, 2);
  q.read();
  EXPECT_EQ(q.chosen("cbClassExtDorv"), QStringLiteral("B"));
}

// ---- Both screens: the Dorv line and the setpoint limits ------------------------------------

TEST(SettingsScreens, DorvLineAndSetpointLimits) {
  const struct {
    uint32_t linked, present;
    int32_t pressType;
    float low, high;
    const char* line;
    float pMin, pMax;  // limits after the rebuild (-95 .. 2500 before)
  } cases[] = {
      {0, 1, 1, 0, 2500, "", -95, 2500},
      {1, 0, 1, 0, 2500, " Неактивен", -95, 2500},
      {1, 1, 0, 0, 250, "0..250 кПа ДА  №52311", -100, 250},
      {1, 1, 1, 0, 60, "0..60 кПа ДИ  №52311", -60, 60},
      {1, 1, 2, -100, 2500, "-100..2500 кПа ДИ  №52311", -100, 2500},
      {1, 1, 3, -100, 1000, "-100..1000 кПа ДИВ  №52311", -100, 1000},
      // A transducer whose range is not known yet leaves the limits alone.
      {1, 1, 1, 0, 0, "0..0 кПа ДИ  №52311", -95, 2500},
  };
  for (uint32_t model : {1u, 0u}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(model ? "Quarn " : "Brenk ") + c.line);
      EitherBench b(model);
      TDev& dev = b.dev();
      dev.linked = c.linked;
      dev.linkState = c.linked ? 2 : 0;
      dev.settings.refSource = 3;
      dev.calInfo.pLimitMin = -95;
      dev.calInfo.pLimitMax = 2500;
      dev.dorv.present = c.present;
      dev.dorv.pressType = c.pressType;
      dev.dorv.rangeLow = c.low;
      dev.dorv.rangeHigh = c.high;
      dev.dorv.serialNo = 52311;
      b.notify(5);
      EXPECT_EQ(b.screen->dorvLine()->text(), QString::fromUtf8(c.line));
      EXPECT_FLOAT_EQ(dev.calInfo.pLimitMin, c.pMin);
      EXPECT_FLOAT_EQ(dev.calInfo.pLimitMax, c.pMax);
    }
  }
}

// ---- Both screens: read, write and the write button -----------------------------------------

TEST(SettingsScreens, TheWriteButtonWaitsForAChangeToValuesOfARead) {
  SettingsBench<QuarnSettingsScreen> q(1);
  q.setModel(1, 2500, 250);
  TDev& dev = q.bench.dev();
  LabelPanel* write = q.screen.writeButton();
  EXPECT_FALSE(write->isEnabled());
  // Before any read there is nothing to write from.
  choose(q.combo("cbS_Unuts"), 1);
  EXPECT_FALSE(write->isEnabled());
  q.read();
  EXPECT_FALSE(write->isEnabled());
  // Not while a read or write runs, not without the link.
  for (uint32_t task : {TASK_SETTINGS_READ, TASK_SETTINGS_WRITE}) {
    dev.task = task;
    choose(q.combo("cbS_Unuts"), 1);
    EXPECT_FALSE(write->isEnabled()) << task;
  }
  dev.task = TASK_MEASURE;
  dev.linked = 0;
  choose(q.combo("cbS_Unuts"), 1);
  EXPECT_FALSE(write->isEnabled());
  dev.linked = 1;
  // Any combo box or the corridor (typed through the key filter: "," becomes ".").
  choose(q.combo("cbS_cAvatge"), 3);
  EXPECT_TRUE(write->isEnabled());
  q.read();
  EXPECT_FALSE(write->isEnabled());
  type(q.edit("ebS_rdyPrc_1"), QStringLiteral(","));
  EXPECT_TRUE(write->isEnabled());
  EXPECT_EQ(q.text("ebS_rdyPrc_1"), QStringLiteral("0.050."));
}

TEST(SettingsScreens, ReadAndWriteEmptyTheScreenUntilTheSettingsReport) {
  for (uint32_t model : {1u, 0u}) {
    SCOPED_TRACE(model ? "Quarn" : "Brenk");
    EitherBench b(model);
    ScreenBench& bench = b.bench;
    SettingsScreenBase* screen = b.screen.get();
    TDev& dev = b.dev();
    int written = 0;
    QObject::connect(&bench.context, &WorkstationContext::settingsWritten, [&] { ++written; });
    auto* units = screen->findChild<QComboBox*>("cbS_Unuts");
    auto* serial = screen->findChild<QLineEdit*>("eb_I_sn");
    auto* corridor = screen->findChild<QLineEdit*>("ebS_rdyPrc_1");

    // Without the link both buttons do nothing.
    dev.linked = 1;
    dev.linkState = 0;
    screen->Panel_ReadClick();
    screen->Panel_SetClick();
    EXPECT_TRUE(bench.tasks.empty());

    // Nor while the connection is set up: its own settings report enables nothing yet.
    dev.linkState = 2;
    dev.task = TASK_CONNECT;
    bench.notify(*screen, 3);
    EXPECT_FALSE(screen->readButton()->isEnabled());
    choose(units, 1);
    EXPECT_FALSE(screen->writeButton()->isEnabled());
    screen->Panel_ReadClick();
    screen->Panel_SetClick();
    EXPECT_TRUE(bench.tasks.empty());

    dev.task = TASK_MEASURE;
    dev.calInfo.valid = 1;
    bench.notify(*screen, 3);
    EXPECT_TRUE(screen->readButton()->isEnabled());
    ASSERT_EQ(serial->text(), QStringLiteral("Q1-004711"));
    screen->Panel_ReadClick();
    EXPECT_EQ(bench.taskNumbers(), std::vector<uint32_t>{TASK_SETTINGS_READ});
    EXPECT_FALSE(screen->readButton()->isEnabled());
    EXPECT_FALSE(screen->writeButton()->isEnabled());
    EXPECT_TRUE(serial->text().isEmpty());
    EXPECT_TRUE(corridor->text().isEmpty());
    EXPECT_EQ(units->currentIndex(), -1);
    dev.task = TASK_SETTINGS_READ;
    dev.calInfo.valid = 1;
    bench.notify(*screen, 3);
    EXPECT_TRUE(screen->readButton()->isEnabled());
    EXPECT_EQ(serial->text(), QStringLiteral("Q1-004711"));
    dev.task = TASK_MEASURE;
    bench.notify(*screen, 2);
    EXPECT_FALSE(bench.context.messageWindow().isVisible());

    // Write: the controls go into the record, the screen empties, the graph starts anew.
    bench.tasks.clear();
    choose(units, 2);
    replaceText(corridor, QStringLiteral("0.25"));
    screen->Panel_SetClick();
    EXPECT_EQ(bench.taskNumbers(), std::vector<uint32_t>{TASK_SETTINGS_WRITE});
    EXPECT_EQ(dev.settings.units, 2);
    EXPECT_FLOAT_EQ(dev.settings.readyBand1, 0.25f);
    EXPECT_EQ(dev.settings.averaging, 5);
    EXPECT_EQ(written, 1);
    EXPECT_TRUE(serial->text().isEmpty());
    EXPECT_EQ(units->currentIndex(), -1);
    EXPECT_FALSE(screen->writeButton()->isEnabled());
    // The Brenk's read waits for the write as well.
    EXPECT_EQ(screen->readButton()->isEnabled(), model == 1);

    // The link lost: the screen empties.
    dev.task = TASK_SETTINGS_WRITE;
    dev.calInfo.valid = 1;
    bench.notify(*screen, 3);
    ASSERT_FALSE(serial->text().isEmpty());
    dev.task = TASK_MEASURE;
    dev.linked = 0;
    dev.linkState = 0;
    bench.notify(*screen, 1);
    EXPECT_TRUE(serial->text().isEmpty());
    EXPECT_EQ(units->currentIndex(), -1);
  }
}

TEST(SettingsScreens, AReadOrWriteThatNeverReportsBackIsToldAndReadWorksAgain) {
  for (uint32_t model : {1u, 0u}) {
    SCOPED_TRACE(model ? "Quarn" : "Brenk");
    EitherBench b(model);
    ScreenBench& bench = b.bench;
    SettingsScreenBase* screen = b.screen.get();
    TDev& dev = b.dev();
    b.notify(3);
    ZDialog& message = bench.context.messageWindow();

    const struct {
      bool write;
      const char* text;
    } cases[] = {{false, "Не удалось считать настройки калибратора."},
                 {true, "Не удалось записать настройки в калибратор."}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.text);
      message.hide();
      dev.task = TASK_MEASURE;
      if (c.write) {
        dev.calInfo.valid = 1;
        bench.notify(*screen, 3);
        choose(screen->findChild<QComboBox*>("cbS_Unuts"), 2);
        screen->Panel_SetClick();
        ASSERT_EQ(dev.settings.units, 2);
        dev.task = TASK_SETTINGS_WRITE;
      } else {
        screen->Panel_ReadClick();
        dev.task = TASK_SETTINGS_READ;
      }
      // "Считать" waits for a read, and for the Brenk's write.
      EXPECT_EQ(screen->readButton()->isEnabled(), c.write && model == 1);
      // Nothing while the task runs.
      bench.notify(*screen, 0);
      EXPECT_FALSE(message.isVisible());
      // The library ends in measuring without the settings report (refused, abandoned).
      dev.task = TASK_MEASURE;
      bench.notify(*screen, 0);
      EXPECT_TRUE(message.isVisible());
      EXPECT_EQ(message.text(), QString::fromUtf8(c.text));
      EXPECT_EQ(message.windowTitle(), QStringLiteral("Сообщение"));
      EXPECT_TRUE(screen->readButton()->isEnabled());
      // The record holds the settings of the last read again, not those the calibrator refused.
      EXPECT_EQ(dev.settings.units, 0);
      // Told once.
      message.hide();
      bench.notify(*screen, 2);
      EXPECT_FALSE(message.isVisible());
    }
  }
}

TEST(SettingsScreens, CorridorEntriesThatDoNotReadAsANumberAreNotWritten) {
  const struct {
    const char* text;
    bool writes;
    float value;
  } cases[] = {
      {"0.25", true, 0.25f}, {" 1", true, 1},    {"0", true, 0},     {"2e", true, 2},
      {"1.5.5", true, 1.5f}, {"5.", true, 5},    {".5", true, 0.5f}, {"1e-1", true, 0.1f},
      {"", false, 0},        {"-", false, 0},    {".", false, 0},    {"e5", false, 0},
      {"abc", false, 0},     {"-0.5", false, 0}, {"1e40", false, 0}, {"--5", false, 0},
  };
  for (uint32_t model : {1u, 0u}) {
    for (const char* name : {"ebS_rdyPrc_1", "ebS_rdyPrc_2"}) {
      if (model == 1 && std::strcmp(name, "ebS_rdyPrc_2") == 0) continue;  // the Quarn has one
      for (const auto& c : cases) {
        SCOPED_TRACE(std::string(model ? "Quarn " : "Brenk ") + name + " \"" + c.text + "\"");
        EitherBench b(model);
        ScreenBench& bench = b.bench;
        SettingsScreenBase* screen = b.screen.get();
        TDev& dev = b.dev();
        b.notify(3);
        dev.settings.units = 3;  // a write copies the controls; a refused one leaves this alone
        auto* corridor = screen->findChild<QLineEdit*>(name);
        corridor->setText(QString::fromLatin1(c.text));
        Q_EMIT corridor->textEdited(corridor->text());
        screen->Panel_SetClick();
        ZDialog& message = bench.context.messageWindow();
        if (c.writes) {
          EXPECT_EQ(bench.taskNumbers(), std::vector<uint32_t>{TASK_SETTINGS_WRITE});
          const float written =
              std::strcmp(name, "ebS_rdyPrc_1") == 0 ? dev.settings.readyBand1 : dev.settings.readyBand2;
          EXPECT_FLOAT_EQ(written, c.value);
          EXPECT_FALSE(message.isVisible());
        } else {
          EXPECT_TRUE(bench.tasks.empty());
          EXPECT_EQ(dev.settings.units, 3);
          EXPECT_FLOAT_EQ(dev.settings.readyBand1, 0.05f);
          EXPECT_TRUE(message.isVisible());
          EXPECT_TRUE(message.text().startsWith(QStringLiteral("Коридор готовности")));
          EXPECT_TRUE(message.text().contains(QStringLiteral("\"") + QString::fromLatin1(c.text) + "\""));
          // The entry stays for the operator to correct, and so does the write button.
          EXPECT_EQ(corridor->text(), QString::fromLatin1(c.text));
          EXPECT_TRUE(screen->writeButton()->isEnabled());
        }
      }
    }
  }
}

// ---- Both screens: zero adjustment ----------------------------------------------------------

TEST(SettingsScreens, ZeroAdjustmentNeedsTheVentAndReportsAfter13Seconds) {
  for (uint32_t model : {1u, 0u}) {
    SCOPED_TRACE(model ? "Quarn" : "Brenk");
    EitherBench b(model);
    ScreenBench& bench = b.bench;
    SettingsScreenBase* screen = b.screen.get();
    screen->show();
    TDev& dev = b.dev();
    auto setVent = [&](bool open) {
      if (model)
        dev.ventOn = open ? 1 : 0;
      else
        dev.controlMode = open ? 2 : 1;
    };
    LabelPanel* zero = screen->zeroButton();
    QLabel* hint = screen->zeroHint();
    EXPECT_EQ(hint->text(), QStringLiteral("* для активации включите Сброс"));
    EXPECT_FALSE(screen->zeroTimer()->isActive());
    EXPECT_EQ(screen->zeroTimer()->interval(), 13000);
    const struct {
      uint32_t linked;
      bool vent;
      int32_t refSource;
      uint32_t task;
      bool usable;
    } cases[] = {{1, false, 0, TASK_MEASURE, false},
                 {1, true, 0, TASK_MEASURE, true},
                 {1, true, 3, TASK_MEASURE, false},
                 {0, true, 0, TASK_MEASURE, false},
                 {1, true, 0, TASK_CONNECT, false}};  // the connection is still being set up
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << c.linked << c.vent << c.refSource << " task " << c.task);
      dev.linked = c.linked;
      setVent(c.vent);
      dev.settings.refSource = c.refSource;
      dev.task = c.task;
      bench.notify(*screen, 2);
      EXPECT_EQ(zero->isEnabled(), c.usable);
      EXPECT_EQ(hint->isVisible(), !c.usable);
      if (c.task == TASK_CONNECT) {
        screen->Panel_ZeroKDClick();
        EXPECT_TRUE(bench.tasks.empty());
      }
    }
    dev.task = TASK_MEASURE;
    // With the Dorv as the reference the click does nothing.
    dev.linked = 1;
    setVent(true);
    dev.settings.refSource = 3;
    screen->Panel_ZeroKDClick();
    EXPECT_TRUE(bench.tasks.empty());

    dev.settings.refSource = 0;
    bench.notify(*screen, 2);
    pressMouse(zero, true);
    EXPECT_EQ(bench.taskNumbers(), std::vector<uint32_t>{TASK_SET_0_KD});
    EXPECT_TRUE(screen->zeroTimer()->isActive());
    EXPECT_FALSE(zero->isEnabled());
    EXPECT_TRUE(hint->isVisible());
    bench.notify(*screen, 2);  // still waiting for the calibrator
    EXPECT_FALSE(zero->isEnabled());
    screen->Panel_ZeroKDClick();  // a second click while it runs starts nothing
    EXPECT_EQ(bench.tasks.size(), 1u);

    // The calibrator took the command.
    dev.retCode = RETCODE_ZERO_ACCEPTED;
    bench.notify(*screen, 0);
    dev.retCode = 0;
    screen->Timer_ZeroKDTimer();
    EXPECT_FALSE(screen->zeroTimer()->isActive());
    EXPECT_TRUE(zero->isEnabled());
    ZDialog& message = bench.context.messageWindow();
    EXPECT_TRUE(message.isVisible());
    EXPECT_EQ(message.text(), QStringLiteral("Подстройка нуля завершена."));
    EXPECT_EQ(message.windowTitle(), QStringLiteral("Сообщение"));
    message.hide();

    // Success is told only when the calibrator reported it.
    const struct {
      const char* what;
      uint32_t errCode;
      uint32_t linked;
      const char* told;
    } outcomes[] = {
        {"no answer or an error answer", 17, 1,
         "Подстройка нуля не выполнена: калибратор не подтвердил команду."},
        {"nothing reported", 0, 1, "Подстройка нуля не выполнена: калибратор не подтвердил команду."},
        {"the link lost", 17, 0, "Подстройка нуля не выполнена: связь с калибратором потеряна."},
    };
    for (const auto& o : outcomes) {
      SCOPED_TRACE(o.what);
      dev.linked = 1;
      bench.notify(*screen, 2);
      pressMouse(zero, true);
      ASSERT_TRUE(screen->zeroTimer()->isActive());
      dev.errCode = o.errCode;
      dev.linked = o.linked;
      bench.notify(*screen, 0);
      dev.errCode = 0;
      dev.linked = 1;
      bench.notify(*screen, 2);
      screen->Timer_ZeroKDTimer();
      EXPECT_EQ(message.text(), QString::fromUtf8(o.told));
      message.hide();
    }
  }
}

// ---- Brenk ----------------------------------------------------------------------------------

TEST(BrenkSettingsScreen, ValuesOfASettingsReadOncePerRead) {
  SettingsBench<BrenkSettingsScreen> b(0);
  RegulationScreen regulation(b.bench.context);
  regulation.afterBinding(b.bench.dev());
  b.setModel(1, 2500, 250);
  TDev& dev = b.bench.dev();
  dev.settings.pressType = 0;
  dev.settings.units = 2;  // бар
  dev.settings.unitFactor = 0.01f;
  dev.settings.decimals = 4;
  dev.settings.averaging = 29;
  dev.settings.readyBand1 = 0.1f;
  dev.settings.readyBand2 = 0.025f;
  dev.settings.pTargetStored = 123.4f;
  dev.calInfo.pLimitMin = -95;
  dev.calInfo.pLimitMax = 2500;
  dev.calInfo.modelNo = 840;
  b.read();
  EXPECT_EQ(items(b.combo("cbS_TypePress")),
            (QStringList{"Абсолютное", "Избыточное", "Избыточное-разрежение"}));
  EXPECT_EQ(b.chosen("cbS_TypePress"), QStringLiteral("Абсолютное"));
  EXPECT_EQ(b.chosen("cbS_Unuts"), QStringLiteral("бар"));
  EXPECT_EQ(b.chosen("cbS_cDigits"), QStringLiteral("4"));
  EXPECT_EQ(b.chosen("cbS_cAvatge"), QStringLiteral("29"));
  EXPECT_EQ(items(b.combo("cbS_DiapNo")), (QStringList{"ВКЛ", "Выкл.", ""}));
  EXPECT_EQ(b.text("ebS_rdyPrc_1"), QStringLiteral("0.100"));
  EXPECT_EQ(b.text("ebS_rdyPrc_2"), QStringLiteral("0.025"));
  EXPECT_EQ(b.text("eb_I_sn"), QStringLiteral("Q1-004711"));
  EXPECT_EQ(b.text("eb_I_date"), QStringLiteral("15.03.2024"));
  EXPECT_EQ(b.text("eb_I_diap"), QStringLiteral("-95 . . .2500 кПа"));
  EXPECT_EQ(b.text("eb_I_version"), QStringLiteral("215"));
  EXPECT_EQ(b.text("eb_I_cDorv"), QStringLiteral("084"));
  EXPECT_EQ(regulation.brenkPanel()->entry()->text(), QStringLiteral("1.2340"));
  EXPECT_TRUE(b.combo("cbS_DiapNo")->isEnabled());
  EXPECT_FALSE(b.screen.writeButton()->isEnabled());
  EXPECT_EQ(dev.calInfo.valid, 0u);  // shown once per read
  // The Brenk's limits are its own working range.
  EXPECT_FLOAT_EQ(dev.calInfo.pLimitMax, 2500);

  // Another settings report without a new identification changes nothing on the screen.
  dev.settings.units = 0;
  b.read();
  EXPECT_EQ(b.chosen("cbS_Unuts"), QStringLiteral("бар"));

  // Model numbers, and the automatic range choice as the device reports it: only 1 is "off", so
  // what "ВКЛ" writes (0) reads back as "ВКЛ".
  const struct {
    int32_t modelNo;
    const char* model;
    int32_t autoRange;
    const char* choice;
  } cases[] = {
      {1250, "125", 0, "ВКЛ"}, {250, "025", 1, "Выкл."}, {50, "05", 2, "ВКЛ"}, {999, "099", -1, "ВКЛ"}};
  for (const auto& c : cases) {
    dev.calInfo.modelNo = c.modelNo;
    dev.settings.autoRange = c.autoRange;
    dev.calInfo.valid = 1;
    b.read();
    EXPECT_EQ(b.text("eb_I_cDorv"), QString::fromLatin1(c.model)) << c.modelNo;
    EXPECT_EQ(b.chosen("cbS_DiapNo"), QString::fromUtf8(c.choice)) << c.autoRange;
  }
  // Writing stores the item's index; the empty item keeps what the device reported.
  const struct {
    int item;
    int32_t before, written;
  } writes[] = {{0, 1, 0}, {1, 0, 1}, {2, 1, 1}, {2, 0, 0}};
  for (const auto& w : writes) {
    dev.calInfo.valid = 1;
    b.read();
    dev.settings.autoRange = w.before;
    choose(b.combo("cbS_DiapNo"), w.item);
    b.screen.Panel_SetClick();
    EXPECT_EQ(dev.settings.autoRange, w.written) << w.item << " " << w.before;
  }

  // A model with one module has no range to choose.
  b.setModel(1, 1000, 0);
  dev.calInfo.valid = 1;
  b.read();
  EXPECT_FALSE(b.combo("cbS_DiapNo")->isEnabled());
}

// ---- Against the simulator ------------------------------------------------------------------

struct SimSettings : Workstation {
  template <typename T>
  T* find(Screen* screen, const char* name) {
    T* w = screen->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // The settings screen shows a read's values again and may be read.
  bool settled(SettingsScreenBase* screen) {
    return screen->readButton()->isEnabled() && !screen->findChild<QLineEdit*>("eb_I_sn")->text().isEmpty() &&
           window->dev()->task == TASK_MEASURE;
  }
};

TEST_F(SimSettings, QuarnWritesWhatTheCalibratorThenReports) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  connectTo("COM7");
  w.SelectMode(kModeSettings);
  QuarnSettingsScreen* screen = w.screen<QuarnSettingsScreen>();
  ASSERT_NE(screen, nullptr);
  ASSERT_TRUE(runUntil([&] { return settled(screen); }));
  // The simulator's calibrator as it starts.
  EXPECT_EQ(find<QLineEdit>(screen, "eb_Model")->text(), QStringLiteral("QC-2500"));
  EXPECT_EQ(find<QLineEdit>(screen, "eb_I_sn")->text(), QStringLiteral("Q1-004711"));
  EXPECT_EQ(find<QLineEdit>(screen, "eb_diap1")->text(), QStringLiteral(" 0..2500 кПа  'ДИ'  класс A"));
  EXPECT_EQ(find<QLineEdit>(screen, "eb_diap2")->text(), QStringLiteral(" 0..250 кПа  'ДИ'  класс A"));
  EXPECT_EQ(find<QComboBox>(screen, "cbS_Sensor")->currentText(), QStringLiteral("Автовыбор"));
  EXPECT_EQ(find<QComboBox>(screen, "cbS_Unuts")->currentText(), QStringLiteral("кПа"));
  EXPECT_EQ(find<QLineEdit>(screen, "ebS_rdyPrc_1")->text(), QStringLiteral("0.050"));
  EXPECT_EQ(find<QLineEdit>(screen, "edExtInfo")->text(), QStringLiteral(" Неактивен"));

  int graphCleared = 0;
  QObject::connect(&w.context(), &WorkstationContext::settingsWritten, [&] { ++graphCleared; });
  choose(find<QComboBox>(screen, "cbS_Sensor"), QStringLiteral("Модуль №1"));
  choose(find<QComboBox>(screen, "cbS_SubRange"), 3);
  choose(find<QComboBox>(screen, "cbS_Unuts"), QStringLiteral("МПа"));
  choose(find<QComboBox>(screen, "cbS_cDigits"), QStringLiteral("4"));
  choose(find<QComboBox>(screen, "cbS_cAvatge"), QStringLiteral("12"));
  replaceText(find<QLineEdit>(screen, "ebS_rdyPrc_1"), QStringLiteral("0,125"));
  ASSERT_TRUE(screen->writeButton()->isEnabled());
  pressMouse(screen->writeButton()->label(), true);
  EXPECT_EQ(graphCleared, 1);
  EXPECT_TRUE(find<QLineEdit>(screen, "eb_I_sn")->text().isEmpty());
  ASSERT_TRUE(runUntil([&] { return settled(screen); }));

  // Twice: as the write's own read-back reports it, and after a read of its own.
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    EXPECT_EQ(find<QComboBox>(screen, "cbS_Sensor")->currentText(), QStringLiteral("Модуль №1"));
    EXPECT_EQ(find<QComboBox>(screen, "cbS_SubRange")->currentIndex(), 3);
    EXPECT_EQ(find<QComboBox>(screen, "cbS_SubRange")->currentText(), QStringLiteral("0...1 МПа"));
    EXPECT_EQ(find<QComboBox>(screen, "cbS_Unuts")->currentText(), QStringLiteral("МПа"));
    EXPECT_EQ(find<QComboBox>(screen, "cbS_cDigits")->currentText(), QStringLiteral("4"));
    EXPECT_EQ(find<QComboBox>(screen, "cbS_cAvatge")->currentText(), QStringLiteral("12"));
    EXPECT_EQ(find<QLineEdit>(screen, "ebS_rdyPrc_1")->text(), QStringLiteral("0.125"));
    EXPECT_FALSE(screen->writeButton()->isEnabled());
    EXPECT_EQ(dev().settings.refSource, 1);
    EXPECT_EQ(dev().settings.subRange, 3);
    EXPECT_EQ(dev().settings.units, 1);
    EXPECT_FLOAT_EQ(dev().settings.unitFactor, 0.001f);
    EXPECT_EQ(dev().settings.averaging, 12);
    EXPECT_FLOAT_EQ(dev().settings.readyBand1, 0.125f);
    // The limits follow the module chosen.
    EXPECT_FLOAT_EQ(dev().calInfo.pLimitMax, 2500);
    if (pass == 0) {
      pressMouse(screen->readButton(), true);
      EXPECT_FALSE(screen->readButton()->isEnabled());
      ASSERT_TRUE(runUntil([&] { return settled(screen); }));
    }
  }
  // The calibrator now measures in MPa with four decimals.
  bench->setPressureKPa(500);
  ASSERT_TRUE(runUntil([&] { return labelText("lbStatusPressure").startsWith(QStringLiteral("P= 0.5")); }));
  EXPECT_TRUE(labelText("lbStatusPressure").contains(QStringLiteral(" МПа")));
  EXPECT_FALSE(w.context().messageWindow().isVisible());
}

TEST_F(SimSettings, BrenkWritesWhatTheCalibratorThenReports) {
  quarnsim::Scenario s;
  s.model = quarnsim::Model::Brenk;
  s.setpointKPa = 100;
  plugSimulator(s);
  MainWindow& w = makeWindow(0);
  w.TimerLoadTimer();
  w.ports().COM11Click(portItem("COM7"));
  w.SelectMode(kModeSettings);
  BrenkSettingsScreen* screen = w.screen<BrenkSettingsScreen>();
  ASSERT_NE(screen, nullptr);
  ASSERT_TRUE(runUntil([&] { return w.dev()->linked == 1 && settled(screen); }));
  EXPECT_EQ(find<QLineEdit>(screen, "eb_I_cDorv")->text(), QStringLiteral("025"));
  EXPECT_EQ(find<QLineEdit>(screen, "eb_I_diap")->text(), QStringLiteral("-95 . . .2500 кПа"));
  EXPECT_EQ(find<QLineEdit>(screen, "eb_I_version")->text(), QStringLiteral("215"));
  EXPECT_EQ(find<QComboBox>(screen, "cbS_DiapNo")->currentText(), QStringLiteral("Выкл."));
  EXPECT_EQ(w.screen<RegulationScreen>()->brenkPanel()->entry()->text(), QStringLiteral("100.000"));

  choose(find<QComboBox>(screen, "cbS_TypePress"), QStringLiteral("Избыточное-разрежение"));
  choose(find<QComboBox>(screen, "cbS_Unuts"), QStringLiteral("бар"));
  choose(find<QComboBox>(screen, "cbS_cDigits"), QStringLiteral("5"));
  choose(find<QComboBox>(screen, "cbS_DiapNo"), QStringLiteral("ВКЛ"));
  choose(find<QComboBox>(screen, "cbS_cAvatge"), QStringLiteral("7"));
  replaceText(find<QLineEdit>(screen, "ebS_rdyPrc_1"), QStringLiteral("0.2"));
  replaceText(find<QLineEdit>(screen, "ebS_rdyPrc_2"), QStringLiteral("0.075"));
  pressMouse(screen->writeButton(), true);
  EXPECT_FALSE(screen->readButton()->isEnabled());
  ASSERT_TRUE(runUntil([&] { return settled(screen); }));

  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    EXPECT_EQ(find<QComboBox>(screen, "cbS_TypePress")->currentText(),
              QStringLiteral("Избыточное-разрежение"));
    EXPECT_EQ(find<QComboBox>(screen, "cbS_Unuts")->currentText(), QStringLiteral("бар"));
    EXPECT_EQ(find<QComboBox>(screen, "cbS_cDigits")->currentText(), QStringLiteral("5"));
    EXPECT_EQ(find<QComboBox>(screen, "cbS_DiapNo")->currentText(), QStringLiteral("ВКЛ"));
    EXPECT_EQ(find<QComboBox>(screen, "cbS_cAvatge")->currentText(), QStringLiteral("7"));
    EXPECT_EQ(find<QLineEdit>(screen, "ebS_rdyPrc_1")->text(), QStringLiteral("0.200"));
    EXPECT_EQ(find<QLineEdit>(screen, "ebS_rdyPrc_2")->text(), QStringLiteral("0.075"));
    EXPECT_EQ(dev().settings.pressType, 2);
    EXPECT_EQ(dev().settings.autoRange, 0);
    EXPECT_FLOAT_EQ(dev().settings.readyBand2, 0.075f);
    // The stored setpoint, now in bar.
    EXPECT_EQ(w.screen<RegulationScreen>()->brenkPanel()->entry()->text(), QStringLiteral("1.00000"));
    if (pass == 0) {
      pressMouse(screen->readButton(), true);
      ASSERT_TRUE(runUntil([&] { return settled(screen); }));
    }
  }
  EXPECT_DOUBLE_EQ(bench->setpointKPa(), 100);
  EXPECT_FALSE(w.context().messageWindow().isVisible());
}

TEST_F(SimSettings, ACorridorTheCalibratorRefusesIsReportedAndNothingChanges) {
  plugSimulator(quarnsim::Scenario{});
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  connectTo("COM7");
  QuarnSettingsScreen* screen = w.screen<QuarnSettingsScreen>();
  ASSERT_TRUE(runUntil([&] { return settled(screen); }));
  choose(find<QComboBox>(screen, "cbS_Unuts"), QStringLiteral("бар"));
  replaceText(find<QLineEdit>(screen, "ebS_rdyPrc_1"), QStringLiteral("150"));  // above 100 %
  pressMouse(screen->writeButton(), true);
  ZDialog& message = w.context().messageWindow();
  ASSERT_TRUE(runUntil([&] { return message.isVisible(); }));
  EXPECT_EQ(message.text(), QStringLiteral("Не удалось записать настройки в калибратор."));
  EXPECT_TRUE(screen->readButton()->isEnabled());
  // The record keeps what the calibrator holds: the status line goes on in kPa, a verification would
  // take its corridor from 0.05 %, not from the 150 % refused.
  EXPECT_EQ(dev().settings.units, 0);
  EXPECT_FLOAT_EQ(dev().settings.readyBand1, 0.05f);
  runFor(1000);
  EXPECT_TRUE(labelText("lbStatusPressure").contains(QStringLiteral(" кПа,")))
      << labelText("lbStatusPressure").toStdString();
  // The link stays; a read shows what the calibrator still holds.
  EXPECT_EQ(dev().linked, 1u);
  pressMouse(screen->readButton(), true);
  ASSERT_TRUE(runUntil([&] { return settled(screen); }));
  EXPECT_EQ(find<QComboBox>(screen, "cbS_Unuts")->currentText(), QStringLiteral("кПа"));
  EXPECT_EQ(find<QLineEdit>(screen, "ebS_rdyPrc_1")->text(), QStringLiteral("0.050"));
}

TEST_F(SimSettings, ZeroAdjustmentOnTheVentedCalibrator) {
  quarnsim::Scenario s;
  s.zeroOffsetKPa = 0.8;  // the reference reads 0.8 kPa high until its zero is adjusted
  s.noiseKPa = 0;
  plugSimulator(s);
  MainWindow& w = makeWindow();
  w.TimerLoadTimer();
  connectTo("COM7");
  QuarnSettingsScreen* screen = w.screen<QuarnSettingsScreen>();
  EXPECT_FALSE(screen->zeroButton()->isEnabled());
  EXPECT_FALSE(screen->zeroHint()->isHidden());

  Prompts::messageWindow = [](const QString&, bool, const QString&) { return ZDialog::kResultOk; };
  w.pn_VENT_MouseDown(button("pn_Mode_8_VENT_ON"));
  ASSERT_TRUE(runUntil([&] { return screen->zeroButton()->isEnabled(); }));
  EXPECT_TRUE(screen->zeroHint()->isHidden());
  ASSERT_TRUE(runUntil([&] { return std::fabs(dev().pRef - 0.8f) < 0.05f; }));

  pressMouse(screen->zeroButton(), true);
  EXPECT_TRUE(screen->zeroTimer()->isActive());
  EXPECT_FALSE(screen->zeroButton()->isEnabled());
  // The calibrator zeroes itself and the measuring goes on.
  ASSERT_TRUE(runUntil([&] { return std::fabs(dev().pRef) < 0.05f; }, 5000));
  EXPECT_EQ(dev().linked, 1u);
  EXPECT_FALSE(screen->zeroButton()->isEnabled());  // until the 13 s are over
  screen->Timer_ZeroKDTimer();
  EXPECT_TRUE(screen->zeroButton()->isEnabled());
  EXPECT_EQ(w.context().messageWindow().text(), QStringLiteral("Подстройка нуля завершена."));
}

}  // namespace
