// The HART screen with its device, current-output and sensor panels: driven from a record prepared by
// the test (refusals before a task, search progress and warnings, lists without the device's code,
// what a write sends, the trim limits, the grids and the stage highlighting, the messages of the
// library's results and errors) and against the in-process simulator with transmitters (search,
// select, write and read back, the address refusal, the zero, devices that answer with errors, fall
// silent or are busy).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "HartCurrentPanel.h"
#include "HartDevicePanel.h"
#include "HartScreen.h"
#include "HartSensorPanel.h"
#include "HartWidgets.h"
#include "LabelPanel.h"
#include "Prompts.h"
#include "ZDialog.h"
#include "bench_fixture.h"
#include "quarn/cp1251.h"
#include "quarnsim/scenario.h"
#include "screen_fixture.h"

// Texts in failure messages as text, not as arrays of 2-byte objects.
static void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using namespace arm;
using namespace armtest;

const QString kNoDevices = QStringLiteral("Нет подключенных устройств!");
const QString kAddressRefusal =
    QStringLiteral("Операция невозможна. Прибор в канале 2 имеет адрес отличный от нуля!");
const QString kZeroDone =
    QStringLiteral("Подстройка нуля выполнена успешно. \r\n \r\nЗначение первой переменной:  ");

template <std::size_t N>
void setText(char (&field)[N], const char* utf8) {
  const std::string text = quarn::text::utf8ToCp1251(utf8);
  std::memset(field, 0, N);
  std::strncpy(field, text.c_str(), N - 1);
}

// A text the library hands out by pointer, in Windows-1251; kept for the whole test program.
const char* libraryText(const char* utf8) {
  static std::vector<std::unique_ptr<std::string>> texts;
  texts.push_back(std::make_unique<std::string>(quarn::text::utf8ToCp1251(utf8)));
  return texts.back()->c_str();
}

// A control inside one panel (the current and the sensor panels use the same names).
template <typename T>
T* in(const QWidget* panel, const QString& name) {
  T* w = panel->findChild<T*>(name);
  EXPECT_NE(w, nullptr) << name.toStdString();
  return w;
}

QString toggleText(const QWidget* panel, int channel) {
  return in<LabelPanel>(panel, QStringLiteral("pn_OnOff_%1").arg(channel))->label()->text();
}

// ---- A HART screen on a record of the test's own ---------------------------------------------------

struct HartBench {
  HartBench() : screen(bench.context) {
    screen.resize(890, 700);
    screen.show();
    QObject::connect(&screen, &HartScreen::messageShown, [this](const QString& text) { messages << text; });
    TDev& d = bench.dev();
    d.linked = 1;
    d.linkState = 2;
    d.task = TASK_MEASURE;
    d.sensorType = 8;
    d.kestoDataValid = 1;
    d.kestoChCount = 4;
    d.hartCh = -1;
    d.hartFirstCh = -1;
    for (THartDev& h : d.hart) h.outputType = 1;
    notify();
  }

  TDev& dev() { return bench.dev(); }
  HartDevicePanel* device() { return screen.devicePanel(); }
  HartCurrentPanel* current() { return screen.currentPanel(); }
  HartSensorPanel* sensor() { return screen.sensorPanel(); }
  LabelPanel* button(const QWidget* panel, const char* name) { return in<LabelPanel>(panel, name); }
  QLabel* label(const QWidget* panel, const char* name) { return in<QLabel>(panel, name); }
  QLineEdit* edit(const QWidget* panel, const char* name) { return in<QLineEdit>(panel, name); }
  QComboBox* list(const char* name) { return in<QComboBox>(device(), name); }
  QString field(const char* name) { return edit(device(), name)->text(); }
  bool shown(const QWidget* panel, const char* name) { return !in<QWidget>(panel, name)->isHidden(); }
  void click(const QWidget* panel, const char* name) { pressMouse(button(panel, name), true); }

  // A device found on channel index ch, read like the simulator's transmitters.
  THartDev& found(int ch, int address = 0, int outputType = 1) {
    THartDev& h = dev().hart[ch];
    h.found = 1;
    h.pollingAddress = static_cast<uint8_t>(address);
    h.outputType = static_cast<uint8_t>(outputType);
    h.rangeUnits = 12;
    h.lowerRange = 0;
    h.upperRange = 600;
    h.lowerSensorLimit = -100;
    h.upperSensorLimit = 2500;
    h.minSpan = 10;
    h.damping = 0.5f;
    h.transferFunction = 0;
    h.deviceId = 4711;
    h.dateDay = 1;
    h.dateMonth = 2;
    h.dateYear = 126;
    setText(h.deviceTypeName, "КДИ-7");
    dev().hartChk[ch].active = 1;
    return h;
  }
  // The end of a search that found the devices set up so far, then measuring again.
  void searchFinished(int firstChannel) {
    dev().task = TASK_HART_SEARCH;
    dev().hartFirstCh = firstChannel;
    notify(6);
    dev().task = TASK_MEASURE;
    dev().retCode = 1;
    notify();
    dev().retCode = 0;
  }
  void notify(uint32_t event = 0) { bench.notify(screen, event); }
  std::vector<uint32_t> tasks() const { return bench.taskNumbers(); }

  ScreenBench bench;
  HartScreen screen;
  QStringList messages;
};

// ---- Refusals before a task ------------------------------------------------------------------------

// The search reads the channel status itself (the channel count the record holds before is the
// previous search's, or 0 after connecting) and tells at its end when no channel is switched on;
// the check, which needs a search before it, refuses at once.
TEST(HartScreen, NoChannelSwitchedOnIsToldForTheSearchAndRefusesTheCheck) {
  HartBench h;
  h.dev().kestoChCount = 0;
  for (uint8_t& skip : h.dev().chSkip) skip = 1;  // as after connecting
  h.notify();
  h.click(h.device(), "pnHartSearch");
  EXPECT_EQ(h.tasks(), std::vector<uint32_t>{TASK_HART_SEARCH});
  EXPECT_TRUE(h.messages.isEmpty());
  h.dev().chSkip[2] = 2;  // over 24 mA: not usable either
  h.searchFinished(-1);
  EXPECT_EQ(h.messages, QStringList{kNoDevices});
  EXPECT_EQ(h.screen.context().messageWindow().text(), kNoDevices);
  // With a channel switched on, a search without devices tells nothing.
  h.dev().chSkip[3] = 0;
  h.click(h.device(), "pnHartSearch");
  h.searchFinished(-1);
  EXPECT_EQ(h.messages.size(), 1);

  h.found(0);
  h.searchFinished(0);
  h.dev().kestoChCount = 0;
  h.notify();
  ASSERT_TRUE(h.button(h.current(), "pnCheck")->isEnabled());
  h.click(h.current(), "pnCheck");
  h.click(h.current(), "pnTune");
  EXPECT_EQ(h.messages, (QStringList{kNoDevices, kNoDevices, kNoDevices}));
  EXPECT_EQ(h.tasks().size(), 2u);  // the two searches only
  EXPECT_TRUE(h.shown(h.current(), "pnCheck"));
  EXPECT_FALSE(h.shown(h.current(), "pnCheckStop"));
}

TEST(HartScreen, ADeviceAtAnAddressOtherThanZeroBlocksTheCheckWhileItsChannelIsOn) {
  HartBench h;
  h.found(0);
  h.found(1, 3);
  h.searchFinished(0);

  h.click(h.current(), "pnCheck");
  h.click(h.current(), "pnTune");
  EXPECT_EQ(h.messages, (QStringList{kAddressRefusal, kAddressRefusal}));
  EXPECT_TRUE(h.tasks().empty());
  EXPECT_TRUE(h.shown(h.current(), "pnCheck"));

  // Channel 2 switched off: the check starts and "СТОП" takes the buttons' place.
  h.click(h.current(), "pn_OnOff_2");
  EXPECT_EQ(h.dev().hartChk[1].active, 0u);
  EXPECT_EQ(toggleText(h.current(), 2), QStringLiteral("нет"));
  h.click(h.current(), "pnCheck");
  EXPECT_EQ(h.tasks(), std::vector<uint32_t>{TASK_HART_CHECK_I});
  EXPECT_FALSE(h.shown(h.current(), "pnCheck"));
  EXPECT_FALSE(h.shown(h.current(), "pnTune"));
  EXPECT_TRUE(h.shown(h.current(), "pnCheckStop"));
  // The sensor panel's toggle shows the same channel state.
  h.notify();
  EXPECT_EQ(toggleText(h.sensor(), 2), QStringLiteral("нет"));
  EXPECT_EQ(toggleText(h.sensor(), 1), QStringLiteral("Да"));
}

// Which controls may start a task: the search needs the Kesto data and the HART input type and no
// connection being set up; the device operations need measuring, a shown device and the input type.
TEST(HartScreen, ButtonsFollowTheKestoDataTheInputTypeAndTheTask) {
  struct Case {
    const char* what;
    uint32_t task, kestoDataValid, sensorType;
    bool deviceShown, canSearch, canAct;
  };
  const Case cases[] = {
      {"measuring with a device shown", TASK_MEASURE, 1, 8, true, true, true},
      {"no device shown", TASK_MEASURE, 1, 8, false, true, false},
      {"Kesto data not valid", TASK_MEASURE, 0, 8, true, false, true},
      {"input type for 0-5 mA", TASK_MEASURE, 1, 6, true, false, false},
      {"connection being set up", TASK_CONNECT, 1, 8, true, false, false},
      {"a write running", TASK_HART_WRITE, 1, 8, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HartBench h;
    h.found(0);
    if (c.deviceShown) h.searchFinished(0);
    h.dev().task = c.task;
    h.dev().kestoDataValid = c.kestoDataValid;
    h.dev().sensorType = c.sensorType;
    h.notify();
    EXPECT_EQ(h.button(h.device(), "pnHartSearch")->isEnabled(), c.canSearch);
    for (const char* b : {"pnHartWrite", "pnHartReset", "pnSet_0", "pnRepair"}) {
      SCOPED_TRACE(b);
      EXPECT_EQ(h.button(h.device(), b)->isEnabled(), c.canAct);
      EXPECT_EQ(h.button(h.device(), b)->label()->isEnabled(), c.canAct);  // the caption goes with it
    }
  }
}

// ---- Search ------------------------------------------------------------------------------------------

TEST(HartScreen, SearchShowsProgressPerChannelAndWarnsAboutAddressAndOutput) {
  HartBench h;
  h.click(h.device(), "pnHartSearch");
  EXPECT_EQ(h.tasks(), std::vector<uint32_t>{TASK_HART_SEARCH});
  EXPECT_FALSE(h.shown(h.device(), "pnHartSearch"));
  EXPECT_TRUE(h.shown(h.device(), "pnHartStopSearch"));
  TDev& d = h.dev();
  d.task = TASK_HART_SEARCH;

  d.hartCh = 0;
  d.hartPollAdr = 5;
  h.notify();
  EXPECT_TRUE(h.shown(h.device(), "lb_state_1"));
  EXPECT_EQ(h.label(h.device(), "lb_state_1")->text(), QStringLiteral("поиск 5 ..."));
  // A device answered: the read shows the requests still to come.
  d.retCode = 3;
  d.hartProgress = 1;
  h.notify();
  EXPECT_EQ(h.label(h.device(), "lb_state_1")->text(), QStringLiteral("чтение....."));
  d.hartProgress = 4;
  h.notify();
  EXPECT_EQ(h.label(h.device(), "lb_state_1")->text(), QStringLiteral("чтение.."));
  h.found(0);
  d.retCode = 5;
  h.notify(9);
  EXPECT_FALSE(h.shown(h.device(), "lb_state_1"));
  EXPECT_TRUE(h.shown(h.device(), "lb_state_On_1"));
  EXPECT_TRUE(h.button(h.device(), "pnCh1")->isEnabled());
  EXPECT_FALSE(h.shown(h.device(), "lab_BadAdr_1"));

  // Channel 2: a device at address 3; channel 3: a 0-5 mA device; channel 4: nothing.
  d.hartCh = 1;
  d.hartPollAdr = 3;
  h.notify();
  EXPECT_EQ(h.label(h.device(), "lb_state_2")->text(), QStringLiteral("поиск 3 ..."));
  h.found(1, 3);
  h.found(2, 0, 0);
  d.hartCh = 3;
  d.hartPollAdr = 63;
  h.notify();
  EXPECT_TRUE(h.shown(h.device(), "lab_BadAdr_2"));
  EXPECT_TRUE(h.shown(h.device(), "lab_BadAdr_3"));
  EXPECT_TRUE(h.shown(h.device(), "lb_state_4"));
  EXPECT_FALSE(h.button(h.device(), "pnCh4")->isEnabled());

  d.hartFirstCh = 0;
  h.notify(6);
  // Both warnings: the address of channel 2 and the output of channel 3.
  EXPECT_TRUE(h.shown(h.device(), "lab_AttantionAdr"));
  EXPECT_TRUE(h.shown(h.device(), "lab_Attantion_I"));
  for (const char* on : {"lb_state_On_1", "lb_state_On_2", "lb_state_On_3"})
    EXPECT_TRUE(h.shown(h.device(), on));
  EXPECT_FALSE(h.shown(h.device(), "lb_state_On_4"));
  EXPECT_FALSE(h.shown(h.device(), "lb_state_4"));
  EXPECT_TRUE(h.button(h.device(), "pnCh3")->isEnabled());
  EXPECT_FALSE(h.button(h.device(), "pnCh4")->isEnabled());
  EXPECT_TRUE(h.shown(h.device(), "pnHartSearch"));
  EXPECT_FALSE(h.shown(h.device(), "pnHartStopSearch"));
  // The first channel with a device is selected and shown.
  EXPECT_EQ(h.device()->selCh(), 0);
  EXPECT_EQ(h.button(h.device(), "pnCh1")->background(), hart::selectedPanel());
  EXPECT_EQ(h.button(h.device(), "pnCh2")->background(), hart::darkPanel());
  EXPECT_EQ(h.field("edDevName"), QStringLiteral("КДИ-7"));

  // Another channel chosen; then a new search forgets the device and every sign of the old search.
  h.click(h.device(), "pnCh3");
  EXPECT_EQ(h.device()->selCh(), 2);
  EXPECT_EQ(h.button(h.device(), "pnCh3")->background(), hart::selectedPanel());
  EXPECT_EQ(h.button(h.device(), "pnCh1")->background(), hart::darkPanel());
  d.task = TASK_MEASURE;
  h.notify();
  h.click(h.device(), "pnHartSearch");
  EXPECT_EQ(h.device()->selCh(), -1);
  EXPECT_EQ(h.field("edDevName"), QString());
  for (const char* gone : {"lab_AttantionAdr", "lab_Attantion_I", "lb_state_On_1", "lb_state_On_3",
                           "lab_BadAdr_2", "lab_BadAdr_3"})
    EXPECT_FALSE(h.shown(h.device(), gone)) << gone;
  for (const char* sel : {"pnCh1", "pnCh2", "pnCh3", "pnCh4"}) {
    EXPECT_FALSE(h.button(h.device(), sel)->isEnabled()) << sel;
    EXPECT_EQ(h.button(h.device(), sel)->background(), hart::darkPanel()) << sel;
  }
}

TEST(HartScreen, ASearchWithoutDevicesSelectsNothing) {
  HartBench h;
  h.click(h.device(), "pnHartSearch");
  h.dev().task = TASK_HART_SEARCH;
  h.dev().hartCh = 3;
  h.dev().hartPollAdr = 63;
  h.notify();
  h.searchFinished(-1);
  EXPECT_EQ(h.device()->selCh(), -1);
  EXPECT_EQ(h.field("edDevName"), QString());
  EXPECT_EQ(h.list("cbAdr")->currentIndex(), -1);
  for (int ch = 1; ch <= 4; ++ch) {
    EXPECT_FALSE(h.button(h.device(), qPrintable(QStringLiteral("pnCh%1").arg(ch)))->isEnabled());
    EXPECT_FALSE(h.shown(h.device(), qPrintable(QStringLiteral("lb_state_On_%1").arg(ch))));
    EXPECT_FALSE(h.shown(h.device(), qPrintable(QStringLiteral("lb_state_%1").arg(ch))));
  }
  EXPECT_FALSE(h.button(h.device(), "pnHartWrite")->isEnabled());
  EXPECT_FALSE(h.button(h.current(), "pnCheck")->isEnabled());
  EXPECT_TRUE(h.shown(h.device(), "pnHartSearch"));
  EXPECT_TRUE(h.messages.isEmpty());
}

// Stopping a running search is always possible; a search that ended without its end report gives the
// start button back.
TEST(HartScreen, TheSearchCanAlwaysBeStoppedAndNeverLeavesTheStopButtonBehind) {
  HartBench h;
  h.click(h.device(), "pnHartSearch");
  h.dev().task = TASK_HART_SEARCH;
  h.dev().kestoChCount = 0;
  h.notify();
  h.click(h.device(), "pnHartStopSearch");
  EXPECT_EQ(h.tasks(), (std::vector<uint32_t>{TASK_HART_SEARCH, TASK_MEASURE}));
  EXPECT_TRUE(h.messages.isEmpty());
  EXPECT_TRUE(h.shown(h.device(), "pnHartSearch"));
  EXPECT_FALSE(h.shown(h.device(), "pnHartStopSearch"));

  // A search that found channel 1 and then failed on a channel select: back in measuring without
  // the search's end.
  h.dev().kestoChCount = 4;
  h.dev().task = TASK_MEASURE;
  h.notify();
  h.click(h.device(), "pnHartSearch");
  h.dev().task = TASK_HART_SEARCH;
  h.found(0);
  h.dev().hartCh = 1;
  h.dev().hartPollAdr = 0;
  h.notify();
  EXPECT_TRUE(h.shown(h.device(), "lb_state_2"));
  h.dev().task = TASK_MEASURE;
  h.notify();
  EXPECT_TRUE(h.shown(h.device(), "pnHartSearch"));
  EXPECT_FALSE(h.shown(h.device(), "pnHartStopSearch"));
  EXPECT_FALSE(h.shown(h.device(), "lb_state_2"));
  EXPECT_TRUE(h.shown(h.device(), "lb_state_On_1"));
  EXPECT_TRUE(h.button(h.device(), "pnCh1")->isEnabled());
}

// ---- Device data and the write -----------------------------------------------------------------------

TEST(HartScreen, DeviceFieldsAndTheListsSelectOnlyTheCodesTheyHave) {
  struct Case {
    int units;
    int unitsEntry;  // -1: no selection
    int function;
    int functionEntry;
  };
  const Case cases[] = {
      {12, 0, 0, 0}, {237, 1, 1, 1}, {7, 2, 0, 0},     {10, 3, 0, 0},  {176, 4, 0, 0},   {239, 5, 0, 0},
      {5, 6, 0, 0},  {175, 7, 0, 0}, {8, -1, 230, -1}, {6, -1, 2, -1}, {0, -1, 255, -1},
  };
  HartBench h;
  THartDev& dev = h.found(0, 17);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.units);
    dev.rangeUnits = static_cast<uint8_t>(c.units);
    dev.transferFunction = static_cast<uint8_t>(c.function);
    h.device()->ShowDevice(dev);
    EXPECT_EQ(h.list("cdUnits")->currentIndex(), c.unitsEntry);
    EXPECT_EQ(h.list("cbFn")->currentIndex(), c.functionEntry);
  }
  EXPECT_EQ(h.list("cdUnits")->itemText(7), QStringLiteral("psi"));
  EXPECT_EQ(h.list("cbFn")->itemText(1), QStringLiteral("Корнеизвл."));
  EXPECT_EQ(h.list("cbAdr")->count(), 64);
  EXPECT_EQ(h.list("cbAdr")->currentIndex(), 17);
  EXPECT_EQ(h.field("edDevName"), QStringLiteral("КДИ-7"));
  EXPECT_EQ(h.field("edSensDiap"), QStringLiteral("-100.000...2500.000"));
  EXPECT_EQ(h.field("edSensSpan"), QStringLiteral("10.000"));
  EXPECT_EQ(h.field("edDiapMin"), QStringLiteral("0.000"));
  EXPECT_EQ(h.field("edDiapMax"), QStringLiteral("600.000"));
  EXPECT_EQ(h.field("edSN"), QStringLiteral("4711"));
  EXPECT_EQ(h.field("edDate"), QStringLiteral("1/2/126"));
  EXPECT_EQ(h.field("edDempf"), QStringLiteral("0.500"));
  // A range that is not a number is shown blank.
  dev.upperRange = std::numeric_limits<float>::quiet_NaN();
  h.device()->ShowDevice(dev);
  EXPECT_EQ(h.field("edDiapMax"), QStringLiteral(" "));
}

// P min above P max is asked for before the device takes it: "Нет" writes nothing and keeps the
// fields, "Да" writes the downward range.
TEST(HartScreen, ADownwardRangeIsAskedForBeforeTheWrite) {
  for (const int answer : {ZDialog::kResultCancel, ZDialog::kResultOk}) {
    SCOPED_TRACE(answer);
    HartBench h;
    QStringList asked;
    Prompts::messageWindow = [&](const QString& text, bool question, const QString&) {
      asked << text;
      EXPECT_TRUE(question);
      return answer;
    };
    h.found(0);
    h.searchFinished(0);
    h.edit(h.device(), "edDiapMin")->setText(QStringLiteral("1000"));
    h.edit(h.device(), "edDiapMax")->setText(QStringLiteral("0"));
    h.click(h.device(), "pnHartWrite");
    EXPECT_EQ(asked, QStringList{QStringLiteral("Диапазон убывающий: продолжить?")});
    if (answer == ZDialog::kResultOk) {
      EXPECT_EQ(h.tasks(), std::vector<uint32_t>{TASK_HART_WRITE});
      EXPECT_EQ(h.dev().hartWrLower, 1000.0f);
      EXPECT_EQ(h.dev().hartWrUpper, 0.0f);
    } else {
      EXPECT_TRUE(h.tasks().empty());
      EXPECT_EQ(h.field("edDiapMin"), QStringLiteral("1000"));
      EXPECT_TRUE(h.button(h.device(), "pnHartWrite")->isEnabled());
    }
    Prompts::reset();
  }
}

TEST(HartScreen, WritingKeepsTheUnitsAndTransferFunctionTheListsDoNotHave) {
  HartBench h;
  THartDev& device = h.found(0, 2);
  device.rangeUnits = 8;  // mbar
  device.transferFunction = 230;
  device.upperRange = 1600;
  h.searchFinished(0);
  EXPECT_EQ(h.list("cdUnits")->currentIndex(), -1);
  EXPECT_EQ(h.list("cbFn")->currentIndex(), -1);

  h.edit(h.device(), "edDempf")->setText(QStringLiteral("2"));
  h.click(h.device(), "pnHartWrite");
  ASSERT_EQ(h.tasks(), std::vector<uint32_t>{TASK_HART_WRITE});
  const TDev& d = h.dev();
  EXPECT_EQ(d.hartCh, 0);
  EXPECT_EQ(d.hartWrUnits, 8u);
  EXPECT_EQ(d.hartWrFunction, 230u);  // not 255 for "no selection": nothing to write
  EXPECT_EQ(d.hartWrAddress, 2u);
  EXPECT_EQ(d.hartWrLower, 0.0f);
  EXPECT_EQ(d.hartWrUpper, 1600.0f);
  EXPECT_EQ(d.hartWrDamping, 2.0f);
  // The fields wait for the device's answer; write and restore wait for the end of the task.
  EXPECT_EQ(h.field("edDiapMax"), QString());
  EXPECT_EQ(h.list("cbAdr")->currentIndex(), -1);
  EXPECT_FALSE(h.button(h.device(), "pnHartWrite")->isEnabled());
  EXPECT_FALSE(h.button(h.device(), "pnRepair")->isEnabled());

  // Entries from the lists win; an address list without selection sends -1 (the library writes 0);
  // a range entry that is not a number gives 0.
  h.notify();
  h.device()->ShowDevice(device);
  h.list("cdUnits")->setCurrentIndex(1);
  h.list("cbFn")->setCurrentIndex(1);
  h.list("cbAdr")->setCurrentIndex(-1);
  h.edit(h.device(), "edDiapMax")->setText(QStringLiteral("1.6"));
  h.edit(h.device(), "edDiapMin")->setText(QStringLiteral("abc"));
  h.click(h.device(), "pnHartWrite");
  EXPECT_EQ(d.hartWrUnits, 237u);
  EXPECT_EQ(d.hartWrFunction, 1u);
  EXPECT_EQ(d.hartWrAddress, 0xFFFFFFFFu);
  EXPECT_EQ(d.hartWrUpper, 1.6f);
  EXPECT_EQ(d.hartWrLower, 0.0f);
}

// The fields show three decimals; a value the operator did not touch goes back as the device holds
// it, or pressing "Записать" for the damping alone would change a 0...2.5 kPa range to 0...2 kPa.
TEST(HartScreen, AnUntouchedFieldWritesTheDevicesOwnValueNotItsRoundedText) {
  HartBench h;
  THartDev& device = h.found(0);
  device.rangeUnits = 237;  // MPa
  device.lowerRange = -0.0004f;
  device.upperRange = 0.0025f;
  device.damping = 0.1234f;
  h.searchFinished(0);
  EXPECT_EQ(h.field("edDiapMin"), QStringLiteral("0.000"));
  EXPECT_EQ(h.field("edDiapMax"), QStringLiteral("0.002"));
  h.click(h.device(), "pnHartWrite");
  EXPECT_EQ(h.dev().hartWrLower, -0.0004f);
  EXPECT_EQ(h.dev().hartWrUpper, 0.0025f);
  EXPECT_EQ(h.dev().hartWrDamping, 0.1234f);

  // Typed values count as typed.
  h.notify();
  h.device()->ShowDevice(device);
  h.edit(h.device(), "edDiapMax")->setText(QStringLiteral("0.004"));
  h.edit(h.device(), "edDempf")->setText(QStringLiteral("0.1230"));
  h.click(h.device(), "pnHartWrite");
  EXPECT_EQ(h.dev().hartWrUpper, 0.004f);
  EXPECT_EQ(h.dev().hartWrDamping, 0.123f);
  EXPECT_EQ(h.dev().hartWrLower, -0.0004f);
}

// ---- Zero, reset, restore and the messages of the library ----------------------------------------------

TEST(HartScreen, ZeroResetAndRestoreWorkOnTheChannelTheyWereStartedFor) {
  HartBench h;
  THartDev& first = h.found(0);
  first.dynVar[0].value = 12.345678f;
  first.dynVar[0].unitsText = libraryText("кПа");
  THartDev& second = h.found(1);
  second.dynVar[0].value = 99;
  second.dynVar[0].unitsText = libraryText("бар");
  h.searchFinished(0);

  h.click(h.device(), "pnSet_0");
  ASSERT_EQ(h.tasks().size(), 1u);
  EXPECT_EQ(h.tasks()[0], static_cast<uint32_t>(TASK_HART_SET_0));
  EXPECT_FALSE(h.button(h.device(), "pnSet_0")->isEnabled());
  const auto* zeroChannel = static_cast<const int32_t*>(h.bench.tasks[0].argument);
  ASSERT_NE(zeroChannel, nullptr);
  EXPECT_EQ(*zeroChannel, 0);
  h.dev().task = TASK_HART_SET_0;
  h.notify();
  // The operator looks at channel 2 while the zero runs: the zero and its result stay on channel 1.
  h.click(h.device(), "pnCh2");
  EXPECT_EQ(h.device()->selCh(), 1);
  EXPECT_EQ(*zeroChannel, 0);
  h.notify(8);
  EXPECT_EQ(h.messages, QStringList{kZeroDone + QStringLiteral("12.3457 кПа")});
  EXPECT_EQ(
      h.screen.context().messageWindow().text(),
      QStringLiteral("Подстройка нуля выполнена успешно. \n \nЗначение первой переменной:  12.3457 кПа"));
  h.messages.clear();

  // Failures of the zero and of the restore, each told once.
  h.dev().retCode = 7;
  h.notify();
  h.dev().task = TASK_HART_REPAIR_MAN;
  h.dev().retCode = 9;
  h.notify();
  h.dev().task = TASK_MEASURE;
  h.dev().retCode = 1;
  h.notify();
  EXPECT_EQ(h.messages, (QStringList{QStringLiteral("ОШИБКА подстройки нуля !"),
                                     QStringLiteral("ОШИБКА восстановления !")}));

  // Reset on the channel shown now.
  h.click(h.device(), "pnHartReset");
  ASSERT_EQ(h.tasks().size(), 2u);
  EXPECT_EQ(h.tasks()[1], static_cast<uint32_t>(TASK_HART_RESET));
  EXPECT_EQ(*static_cast<const int32_t*>(h.bench.tasks[1].argument), 1);

  // Restore: the channel goes into hartCh; the progress of the requests; the device shown again.
  h.notify();
  h.click(h.device(), "pnRepair");
  EXPECT_EQ(h.tasks().back(), static_cast<uint32_t>(TASK_HART_REPAIR_MAN));
  EXPECT_EQ(h.dev().hartCh, 1);
  EXPECT_EQ(h.field("edDevName"), QString());
  h.dev().task = TASK_HART_REPAIR_MAN;
  h.dev().hartProgress = 2;
  h.notify();
  EXPECT_TRUE(h.shown(h.device(), "lb_Rec"));
  EXPECT_EQ(h.label(h.device(), "lb_Rec")->text(), QStringLiteral("восстановление .........."));
  h.dev().retCode = 5;
  h.notify(9);
  EXPECT_EQ(h.field("edDevName"), QStringLiteral("КДИ-7"));
  h.dev().task = TASK_HART_WRITE;
  h.dev().retCode = 0;
  h.dev().hartProgress = 3;
  h.notify();
  EXPECT_EQ(h.label(h.device(), "lb_Rec")->text(), QStringLiteral("запись ........."));
  h.dev().task = TASK_MEASURE;
  h.notify();
  EXPECT_FALSE(h.shown(h.device(), "lb_Rec"));
}

// A device's error answer and a failed HART procedure reach the message window once each; while one
// task runs the texts are collected, so the device's own text is not replaced by the failure after it.
TEST(HartScreen, DeviceErrorsAndFailedProceduresAreShownOnce) {
  HartBench h;
  h.found(0);
  h.searchFinished(0);
  TDev& d = h.dev();
  ZDialog& window = h.screen.context().messageWindow();

  d.task = TASK_HART_WRITE;
  d.errCode = 2;
  d.errText = libraryText("Ошибка прибора: Значнеие\tминимума преобразования");
  h.notify();
  EXPECT_EQ(h.messages, QStringList{QStringLiteral("Ошибка прибора: Значнеие минимума преобразования")});
  EXPECT_EQ(d.errCode, 0u);  // the screens after this one see no error
  h.notify();
  h.notify(2);
  EXPECT_EQ(h.messages.size(), 1);

  // An error answer whose text is missing still says what happened.
  d.errCode = 2;
  d.errText = nullptr;
  h.notify();
  EXPECT_EQ(h.messages.back(), QStringLiteral("HART-устройство вернуло код ошибки"));

  // The check: the device refuses the fixed current, the check fails on it. Both texts stay.
  d.task = TASK_MEASURE;
  h.notify();
  window.hide();
  h.messages.clear();
  d.task = TASK_HART_CHECK_I;
  d.errCode = 2;
  d.errText = libraryText("Ошибка прибора: Ток вне пределов");
  h.notify();
  d.errCode = 4;
  d.errText = libraryText("Сбой\tустановки фиксированного входа!");
  h.notify();
  d.task = TASK_MEASURE;
  d.retCode = 1;
  d.errCode = 0;
  h.notify();
  EXPECT_EQ(h.messages, (QStringList{QStringLiteral("Ошибка прибора: Ток вне пределов"),
                                     QStringLiteral("Сбой установки фиксированного входа!")}));
  EXPECT_EQ(window.text(),
            QStringLiteral("Ошибка прибора: Ток вне пределов\nСбой установки фиксированного входа!"));
  EXPECT_TRUE(h.button(h.current(), "pnCheck")->isEnabled());

  // The pending "no device" code and the check sequence's range codes are not this screen's to tell.
  h.messages.clear();
  for (uint32_t code : {1u, 12u, 13u}) {
    d.errCode = code;
    d.errText = libraryText("x");
    h.notify();
    EXPECT_EQ(d.errCode, 0u);
  }
  EXPECT_TRUE(h.messages.isEmpty());
}

// ---- Current output ---------------------------------------------------------------------------------------

TEST(HartScreen, CurrentGridShowsTheDeviationsAndHighlightsTheStage) {
  HartBench h;
  h.found(0);
  h.found(1);
  h.searchFinished(0);
  TDev& d = h.dev();
  d.hartChk[0].dev[0] = 0.125f;
  d.hartChk[0].dev[1] = -0.25f;
  d.hartChk[0].dev[2] = std::numeric_limits<float>::quiet_NaN();
  d.hartChk[1].active = 0;
  d.hartChk[1].dev[0] = 1;
  h.click(h.current(), "pnCheck");
  d.task = TASK_HART_CHECK_I;
  d.hartStage = 1;
  d.dsc[0] = libraryText("Канал 1");
  d.dsc[1] = libraryText("Уст. тока 12 мА");
  h.notify();

  const QWidget* p = h.current();
  EXPECT_EQ(h.label(p, "pn_r0_c0")->text(), QStringLiteral("0.125"));
  EXPECT_EQ(h.label(p, "pn_r0_c1")->text(), QStringLiteral("-0.250"));
  EXPECT_EQ(h.label(p, "pn_r0_c2")->text(), QStringLiteral(" "));
  EXPECT_EQ(h.label(p, "pn_r1_c0")->text(), QString());  // switched off
  EXPECT_EQ(toggleText(p, 1), QStringLiteral("Да"));
  EXPECT_EQ(toggleText(p, 2), QStringLiteral("нет"));
  EXPECT_EQ(toggleText(p, 3), QString());  // no device
  EXPECT_FALSE(h.button(p, "pn_OnOff_3")->isEnabled());
  EXPECT_EQ(hart::cellColour(h.label(p, "Panel_12mA")), hart::activeHeaderCell());
  EXPECT_EQ(hart::cellColour(h.label(p, "Panel_4mA")), hart::headerCell());
  EXPECT_EQ(hart::cellColour(h.label(p, "Panel_20mA")), hart::headerCell());
  EXPECT_EQ(h.label(p, "lab_InfoCh")->text(), QStringLiteral("Канал 1"));
  EXPECT_TRUE(h.shown(p, "lab_InfoCh"));
  EXPECT_EQ(h.label(p, "lab_InfoDo")->text(), QStringLiteral("Уст. тока 12 мА"));
  EXPECT_FALSE(h.button(p, "pnCheck")->isEnabled());
  EXPECT_TRUE(h.shown(p, "pnCheckStop"));

  // While the currents are measured the channel line is hidden.
  d.hartStage = 2;
  d.dsc[1] = libraryText("Измерение тока");
  h.notify();
  EXPECT_FALSE(h.shown(p, "lab_InfoCh"));
  EXPECT_EQ(hart::cellColour(h.label(p, "Panel_20mA")), hart::activeHeaderCell());
  EXPECT_EQ(hart::cellColour(h.label(p, "Panel_12mA")), hart::headerCell());

  // The end of the check as task 14, then measuring: one message, the buttons back.
  d.retCode = 1;
  h.notify();
  d.task = TASK_MEASURE;
  h.notify();
  EXPECT_EQ(h.messages, QStringList{QStringLiteral("Проверка завершена")});
  EXPECT_TRUE(h.shown(p, "pnCheck"));
  EXPECT_TRUE(h.button(p, "pnCheck")->isEnabled());
  EXPECT_FALSE(h.shown(p, "pnCheckStop"));
  EXPECT_EQ(h.label(p, "lab_InfoDo")->text(), QString());
  EXPECT_EQ(hart::cellColour(h.label(p, "Panel_20mA")), hart::headerCell());

  d.retCode = 0;
  h.click(p, "pnTune");
  EXPECT_EQ(h.tasks().back(), static_cast<uint32_t>(TASK_HART_TUNE_I));
  d.task = TASK_HART_TUNE_I;
  d.retCode = 1;
  h.notify();
  EXPECT_EQ(h.messages.back(), QStringLiteral("Подстройка завершена"));

  // "СТОП" brings the devices out of fixed-current mode.
  d.retCode = 0;
  ASSERT_TRUE(h.shown(p, "pnCheckStop"));
  h.click(p, "pnCheckStop");
  EXPECT_EQ(h.tasks().back(), static_cast<uint32_t>(TASK_HART_EXIT_I_OUT));
  EXPECT_TRUE(h.shown(p, "pnCheck"));
  EXPECT_FALSE(h.shown(p, "pnCheckStop"));
  EXPECT_EQ(h.label(p, "lab_InfoCh")->text(), QString());
}

TEST(HartScreen, SelectorsSwitchThePanelsAndTheTuneCaptionStartsTheTrim) {
  HartBench h;
  QWidget* pnI = h.screen.findChild<QWidget*>(QStringLiteral("pn_I"));
  QWidget* pnS = h.screen.findChild<QWidget*>(QStringLiteral("pn_S"));
  EXPECT_FALSE(pnI->isHidden());
  EXPECT_TRUE(pnS->isHidden());
  EXPECT_EQ(h.screen.currentSelector()->frameShadow(), QFrame::Sunken);
  pressMouse(h.screen.sensorSelector(), true);
  EXPECT_TRUE(pnI->isHidden());
  EXPECT_FALSE(pnS->isHidden());
  EXPECT_EQ(h.screen.sensorSelector()->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(h.screen.currentSelector()->frameShadow(), QFrame::Raised);
  pressMouse(h.screen.currentSelector(), true);
  EXPECT_FALSE(pnI->isHidden());

  h.found(0);
  h.searchFinished(0);
  pressMouse(h.current()->tuneButton()->label(), true);
  EXPECT_EQ(h.tasks(), std::vector<uint32_t>{TASK_HART_TUNE_I});
}

// For pictures without an operator: the lower panel chosen on the command line, and a search started
// once, as soon as the button can be used, never from inside the library's notification.
TEST(HartScreen, TheCommandLineChoosesThePanelAndAsksForOneSearch) {
  const CommandLine c =
      parseCommandLine({"ARM_Quarn", "--mode", "2", "--hart-panel", "sensor", "--hart-search"});
  EXPECT_TRUE(c.error.isEmpty()) << c.error.toStdString();
  EXPECT_TRUE(c.hartSensorPanel);
  EXPECT_TRUE(c.hartSearch);
  EXPECT_FALSE(parseCommandLine({"ARM_Quarn", "--hart-panel", "current"}).hartSensorPanel);
  EXPECT_FALSE(parseCommandLine({"ARM_Quarn", "--hart-panel", "grid"}).error.isEmpty());
  EXPECT_FALSE(parseCommandLine({"ARM_Quarn", "--hart-panel"}).error.isEmpty());

  HartBench h;
  h.dev().kestoDataValid = 0;
  h.notify();
  h.screen.searchWhenPossible();
  h.notify();
  QCoreApplication::processEvents();
  EXPECT_TRUE(h.tasks().empty());
  h.dev().kestoDataValid = 1;
  h.notify();
  EXPECT_TRUE(h.tasks().empty());  // not inside the notification
  QCoreApplication::processEvents();
  EXPECT_EQ(h.tasks(), std::vector<uint32_t>{TASK_HART_SEARCH});
  h.dev().task = TASK_MEASURE;
  h.searchFinished(-1);
  QCoreApplication::processEvents();
  EXPECT_EQ(h.tasks().size(), 1u);
}

// ---- Sensor trim ----------------------------------------------------------------------------------------

// A 0...160 kPa channel allows 12 % of its span, 19.2 kPa, beyond each end of its range; the message
// of the last failing check is shown and nothing starts. A selected channel whose toggle is off
// does not count.
TEST(HartScreen, TrimPressuresMustLieWithinTwelvePercentOfEachSelectedRange) {
  struct Case {
    const char* pMin;
    const char* pMax;
    const char* refusal;  // nullptr: the trim starts
  };
  const Case cases[] = {
      {"20", "160", "P min  больше допустомого!"},
      {"-19", "160", nullptr},
      {"-20", "160", "P min  меньше допустомого!"},
      {"19.2", "160", nullptr},
      {"-19.2", "179.2", nullptr},
      {"0", "140", "P max  меньше допустомого!"},
      {"0", "180", "P max  больше допустомого!"},
      {"-20", "180", "P max  больше допустомого!"},
      {"20", "100", "P max  меньше допустомого!"},
  };
  HartBench h;
  h.found(0);
  h.found(1);
  TDev& d = h.dev();
  d.devCh[0].MinKpa = 0;
  d.devCh[0].MaxKpa = 160;
  d.devCh[1].MinKpa = 0;
  d.devCh[1].MaxKpa = 10;
  d.inputOn = 1;
  h.searchFinished(0);
  pressMouse(h.screen.sensorSelector(), true);
  const QWidget* p = h.sensor();
  EXPECT_EQ(h.edit(p, "ed_min")->text(), QStringLiteral("0.000"));  // from the first channel found
  EXPECT_EQ(h.edit(p, "ed_max")->text(), QStringLiteral("160.000"));
  h.click(p, "pn_OnOff_2");
  ASSERT_EQ(toggleText(p, 2), QStringLiteral("нет"));
  h.edit(p, "ed_T")->setText(QStringLiteral("12.9"));
  h.edit(p, "ed_Kor")->setText(QStringLiteral("0.1"));

  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pMin) + " " + c.pMax);
    h.messages.clear();
    h.bench.tasks.clear();
    d.task = TASK_MEASURE;
    h.notify();
    h.edit(p, "ed_min")->setText(QString::fromLatin1(c.pMin));
    h.edit(p, "ed_max")->setText(QString::fromLatin1(c.pMax));
    h.click(p, "pnTune");
    if (c.refusal) {
      EXPECT_EQ(h.messages, QStringList{QString::fromUtf8(c.refusal)});
      EXPECT_TRUE(h.tasks().empty());
      continue;
    }
    EXPECT_TRUE(h.messages.isEmpty());
    EXPECT_EQ(h.tasks(), std::vector<uint32_t>{TASK_HART_TUNE_TRIM});
    EXPECT_EQ(d.trimPmin, std::stof(c.pMin));
    EXPECT_EQ(d.trimPmax, std::stof(c.pMax));
    EXPECT_EQ(d.trimTime, 12);
    EXPECT_EQ(d.trimCorridor, 0.1f);
    EXPECT_EQ(d.trimOn[0], 1u);
    EXPECT_EQ(d.trimOn[1], 0u);
    EXPECT_TRUE(h.shown(p, "pnCheckStop"));
    EXPECT_FALSE(h.shown(p, "pnTune"));
  }

  // A readiness time beyond the integer range is held at its end.
  d.task = TASK_MEASURE;
  h.notify();
  h.edit(p, "ed_min")->setText(QStringLiteral("0"));
  h.edit(p, "ed_max")->setText(QStringLiteral("160"));
  h.edit(p, "ed_T")->setText(QStringLiteral("1e30"));
  h.click(p, "pnTune");
  EXPECT_EQ(d.trimTime, std::numeric_limits<int32_t>::max());
}

TEST(HartScreen, SensorGridShowsTheReducedErrorOfTheStageAndTheInputWarning) {
  HartBench h;
  h.found(0);
  h.found(1);
  TDev& d = h.dev();
  d.devCh[0].MinKpa = 0;
  d.devCh[0].MaxKpa = 160;
  d.devCh[1].MinKpa = -50;
  d.devCh[1].MaxKpa = 250;
  h.searchFinished(0);
  pressMouse(h.screen.sensorSelector(), true);
  const QWidget* p = h.sensor();
  h.click(p, "pn_OnOff_2");
  ASSERT_EQ(toggleText(p, 2), QStringLiteral("нет"));

  // The input valve closed: the trim could not set its pressures.
  EXPECT_TRUE(h.shown(p, "Label_ERROR_Input"));
  d.inputOn = 1;
  h.notify();
  EXPECT_FALSE(h.shown(p, "Label_ERROR_Input"));
  d.inputOn = 0;
  d.settings.refSource = 3;  // the external reference needs no input valve
  h.notify();
  EXPECT_FALSE(h.shown(p, "Label_ERROR_Input"));

  h.click(p, "pnTune");
  ASSERT_EQ(h.tasks(), std::vector<uint32_t>{TASK_HART_TUNE_TRIM});
  d.task = TASK_HART_TUNE_TRIM;
  d.trimOn[0] = 1;
  d.trimOn[1] = 0;
  d.ch[0].reducedError = 0.0123f;
  d.ch[1].reducedError = 5;
  d.hartStage = 1;
  d.dsc[1] = libraryText("Установите в системе\tдавление Pmin");
  h.notify(2);
  EXPECT_EQ(h.label(p, "pn_r0_c0")->text(), QStringLiteral("0.012"));
  EXPECT_EQ(h.label(p, "pn_r1_c0")->text(), QString());
  EXPECT_EQ(h.label(p, "pn_r0_c1")->text(), QString());
  EXPECT_EQ(h.label(p, "lab_InfoDo")->text(), QStringLiteral("Установите в системе давление Pmin"));
  EXPECT_FALSE(h.button(p, "pnTune")->isEnabled());
  d.hartStage = 2;
  d.ch[0].reducedError = -0.5f;
  h.notify(2);
  EXPECT_EQ(h.label(p, "pn_r0_c0")->text(), QStringLiteral("0.012"));  // P min keeps its last value
  EXPECT_EQ(h.label(p, "pn_r0_c1")->text(), QStringLiteral("-0.500"));

  d.retCode = 1;
  h.notify(7);
  EXPECT_EQ(h.messages, QStringList{QStringLiteral("Подстройка завершена")});
  d.task = TASK_MEASURE;
  h.notify();
  EXPECT_TRUE(h.shown(p, "pnTune"));
  EXPECT_FALSE(h.shown(p, "pnCheckStop"));
  EXPECT_EQ(h.label(p, "lab_InfoDo")->text(), QString());

  // Switching a channel on takes its range into the pressures.
  EXPECT_EQ(h.edit(p, "ed_max")->text(), QStringLiteral("160.000"));
  h.click(p, "pn_OnOff_2");
  EXPECT_EQ(toggleText(p, 2), QStringLiteral("Да"));
  EXPECT_EQ(h.edit(p, "ed_min")->text(), QStringLiteral("-50.000"));
  EXPECT_EQ(h.edit(p, "ed_max")->text(), QStringLiteral("250.000"));

  // "СТОП" goes back to measuring.
  h.click(p, "pn_OnOff_2");
  h.click(p, "pnTune");
  ASSERT_TRUE(h.shown(p, "pnCheckStop"));
  h.click(p, "pnCheckStop");
  EXPECT_EQ(h.tasks().back(), static_cast<uint32_t>(TASK_MEASURE));
  EXPECT_TRUE(h.shown(p, "pnTune"));
}

// ---- Against the simulator ------------------------------------------------------------------------------

class HartWorkstation : public Workstation {
 protected:
  HartScreen& open(const char* scenarioText) {
    quarnsim::Scenario s;
    const std::string error = quarnsim::applyScenarioText(s, scenarioText);
    EXPECT_EQ(error, "");
    plugSimulator(s);
    makeWindow();
    window->TimerLoadTimer();
    connectTo("COM7");
    window->SelectMode(kModeHart);
    HartScreen& screen = *window->screen<HartScreen>();
    QObject::connect(&screen, &HartScreen::messageShown, [this](const QString& text) { messages << text; });
    EXPECT_TRUE(runUntil([&] { return control("pnHartSearch")->isEnabled(); }));
    return screen;
  }
  HartScreen& screen() { return *window->screen<HartScreen>(); }
  LabelPanel* control(const char* name) { return window->findChild<LabelPanel*>(QString::fromLatin1(name)); }
  LabelPanel* control(const QWidget* panel, const char* name) { return in<LabelPanel>(panel, name); }
  QLineEdit* edit(const char* name) { return in<QLineEdit>(screen().devicePanel(), name); }
  QComboBox* list(const char* name) { return in<QComboBox>(screen().devicePanel(), name); }
  bool measuring() { return dev().task == TASK_MEASURE; }

  // A search from the button to its end, and a measuring cycle after it (the channel count the
  // check looks at comes with the next current reading).
  bool search(uint32_t maxMs = 60000) {
    LabelPanel* start = control("pnHartSearch");
    pressMouse(start, true);
    if (!runUntil([&] { return measuring() && !start->isHidden(); }, maxMs)) return false;
    runFor(1000);
    return true;
  }
  // A device operation from its button until the device is shown again and measuring goes on.
  bool operate(LabelPanel* button, uint32_t maxMs = 60000) {
    pressMouse(button, true);
    return runUntil([&] { return measuring() && !edit("edDevName")->text().isEmpty(); }, maxMs);
  }
  int count(const QString& text) const { return static_cast<int>(messages.count(text)); }

  QStringList messages;
};

TEST_F(HartWorkstation, SearchSelectWriteAndReadBackShowTheWrittenValues) {
  HartScreen& s = open("channels = 2\nchannel.2.range = 0, 1000\nchannel.2.device_id = 77\n");
  ASSERT_TRUE(search());
  HartDevicePanel* p = s.devicePanel();
  EXPECT_EQ(p->selCh(), 0);
  EXPECT_EQ(edit("edDiapMax")->text(), QStringLiteral("600.000"));
  EXPECT_EQ(list("cdUnits")->currentText(), QStringLiteral("кПа"));
  EXPECT_EQ(list("cbFn")->currentIndex(), 0);
  EXPECT_TRUE(control("pnCh2")->isEnabled());
  EXPECT_FALSE(in<QLabel>(p, "lb_state_On_2")->isHidden());
  EXPECT_FALSE(control("pnCh3")->isEnabled());  // nothing on channel 3
  EXPECT_TRUE(in<QLabel>(p, "lab_AttantionAdr")->isHidden());
  EXPECT_TRUE(in<QLabel>(p, "lab_Attantion_I")->isHidden());

  pressMouse(control("pnCh2"), true);
  EXPECT_EQ(p->selCh(), 1);
  EXPECT_EQ(edit("edDiapMax")->text(), QStringLiteral("1000.000"));
  EXPECT_EQ(edit("edSN")->text(), QStringLiteral("77"));
  ASSERT_TRUE(control("pnHartWrite")->isEnabled());

  edit("edDiapMax")->setText(QStringLiteral("800"));
  edit("edDempf")->setText(QStringLiteral("2"));
  list("cbFn")->setCurrentIndex(1);
  ASSERT_TRUE(operate(control("pnHartWrite")));
  EXPECT_EQ(edit("edDiapMax")->text(), QStringLiteral("800.000"));
  EXPECT_EQ(edit("edDempf")->text(), QStringLiteral("2.000"));
  EXPECT_EQ(list("cbFn")->currentIndex(), 1);
  EXPECT_EQ(list("cdUnits")->currentText(), QStringLiteral("кПа"));
  const quarnsim::TransmitterConfig& written = bench->transmitter(1).config();
  EXPECT_EQ(written.upperRange, 800);
  EXPECT_EQ(written.damping, 2);
  EXPECT_EQ(written.function, quarnsim::TransferFunction::SquareRoot);
  EXPECT_EQ(bench->transmitter(0).config().upperRange, 600);  // the other device untouched
  EXPECT_EQ(dev().devCh[1].MaxKpa, 800.0f);
  EXPECT_TRUE(control("pnHartWrite")->isEnabled());

  // A new search reads both devices again: channel 2 shows what its device now holds.
  ASSERT_TRUE(search());
  EXPECT_EQ(p->selCh(), 0);
  EXPECT_EQ(edit("edDiapMax")->text(), QStringLiteral("600.000"));
  pressMouse(control("pnCh2"), true);
  EXPECT_EQ(edit("edDiapMax")->text(), QStringLiteral("800.000"));
  EXPECT_EQ(edit("edDempf")->text(), QStringLiteral("2.000"));
  EXPECT_EQ(list("cbFn")->currentIndex(), 1);
  EXPECT_EQ(list("cdUnits")->currentText(), QStringLiteral("кПа"));
  EXPECT_EQ(edit("edSN")->text(), QStringLiteral("77"));
  EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}

TEST_F(HartWorkstation, ADeviceAtAddressThreeOnChannelTwoBlocksTheCheckUntilSwitchedOff) {
  HartScreen& s = open("channels = 2\nchannel.2.address = 3\n");
  ASSERT_TRUE(search());
  HartCurrentPanel* p = s.currentPanel();
  EXPECT_FALSE(in<QLabel>(s.devicePanel(), "lab_BadAdr_2")->isHidden());
  EXPECT_FALSE(in<QLabel>(s.devicePanel(), "lab_AttantionAdr")->isHidden());
  ASSERT_TRUE(control(p, "pnCheck")->isEnabled());
  pressMouse(control(p, "pnCheck"), true);
  EXPECT_EQ(messages, QStringList{kAddressRefusal});
  runFor(200);
  EXPECT_TRUE(measuring());

  pressMouse(control(p, "pn_OnOff_2"), true);
  pressMouse(control(p, "pnCheck"), true);
  ASSERT_TRUE(runUntil([&] { return count(QStringLiteral("Проверка завершена")) == 1; }, 60000));
  runUntil([&] { return measuring(); });
  EXPECT_EQ(messages.size(), 2);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(in<QLabel>(p, QStringLiteral("pn_r0_c%1").arg(k))->text(), QStringLiteral("0.000")) << k;
    EXPECT_EQ(in<QLabel>(p, QStringLiteral("pn_r1_c%1").arg(k))->text(), QString()) << k;
  }
  EXPECT_TRUE(control(p, "pnCheck")->isEnabled());
  EXPECT_FALSE(bench->transmitter(0).fixedCurrentMode());
}

TEST_F(HartWorkstation, UnitsTheListDoesNotHaveAreKeptByAWrite) {
  open("channels = 1\nchannel.1.units = 8\nchannel.1.range = 0, 1600\n");  // mbar
  ASSERT_TRUE(search());
  EXPECT_EQ(list("cdUnits")->currentIndex(), -1);
  EXPECT_EQ(edit("edDiapMax")->text(), QStringLiteral("1600.000"));
  edit("edDempf")->setText(QStringLiteral("1.5"));
  ASSERT_TRUE(operate(control("pnHartWrite")));
  EXPECT_EQ(edit("edDempf")->text(), QStringLiteral("1.500"));
  EXPECT_EQ(list("cdUnits")->currentIndex(), -1);
  EXPECT_EQ(edit("edDiapMax")->text(), QStringLiteral("1600.000"));
  EXPECT_EQ(bench->transmitter(0).config().units, 8);
  EXPECT_EQ(bench->transmitter(0).config().upperRange, 1600);
  EXPECT_EQ(bench->transmitter(0).config().damping, 1.5);
  EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}

TEST_F(HartWorkstation, ASearchWithoutHartDevicesSelectsNothing) {
  HartScreen& s = open("channels = 1\nchannel.1.hart = 0\n");
  ASSERT_TRUE(search(120000));  // 64 silent polling addresses
  EXPECT_EQ(dev().hartFirstCh, -1);
  EXPECT_EQ(s.devicePanel()->selCh(), -1);
  EXPECT_EQ(edit("edDevName")->text(), QString());
  EXPECT_FALSE(control("pnCh1")->isEnabled());
  EXPECT_TRUE(in<QLabel>(s.devicePanel(), "lb_state_On_1")->isHidden());
  EXPECT_TRUE(in<QLabel>(s.devicePanel(), "lb_state_1")->isHidden());
  EXPECT_FALSE(control("pnHartWrite")->isEnabled());
  EXPECT_FALSE(control(s.currentPanel(), "pnCheck")->isEnabled());
  EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}

TEST_F(HartWorkstation, NoChannelSwitchedOnIsToldAtTheEndOfTheSearch) {
  // The transmitters draw their currents, but the Kesto module reports every channel unusable.
  HartScreen& s = open("kesto.status.1 = 1\nkesto.status.2 = 1\nkesto.status.3 = 1\nkesto.status.4 = 2\n");
  EXPECT_EQ(dev().kestoChCount, 0u);  // no channel status read yet
  ASSERT_TRUE(search());
  EXPECT_EQ(messages, QStringList{kNoDevices});
  EXPECT_EQ(s.devicePanel()->selCh(), -1);
  runFor(2000);
  EXPECT_EQ(messages.size(), 1);
}

TEST_F(HartWorkstation, TheZeroShowsTheNewPrimaryVariable) {
  open("channels = 1\ninitial_kpa = 5\n");
  ASSERT_TRUE(search());
  runFor(3000);  // the transmitter's damping settles on 5 kPa
  EXPECT_NEAR(bench->transmitter(0).primaryValue(), 5, 0.01);
  pressMouse(control("pnSet_0"), true);
  ASSERT_TRUE(runUntil([&] { return !messages.isEmpty(); }, 10000));
  EXPECT_EQ(messages, QStringList{kZeroDone + QStringLiteral("0.0000 кПа")});
  ASSERT_TRUE(runUntil([&] { return measuring() && control("pnSet_0")->isEnabled(); }));
}

TEST_F(HartWorkstation, ADeviceThatFallsSilentWhileItIsReadStaysSelectable) {
  HartScreen& s = open("channels = 1\nchannel.1.hart_stop_after = 3\n");  // the poll, commands 0 and 7
  ASSERT_TRUE(search());
  EXPECT_EQ(s.devicePanel()->selCh(), 0);
  EXPECT_TRUE(control("pnCh1")->isEnabled());
  EXPECT_TRUE(control("pnHartWrite")->isEnabled());
  EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}

// ---- Devices that answer with errors, are busy, or fall silent
// ----------------------------------------------

struct FaultCase {
  const char* name;
  const char* scenario;
  // After the search: the fault strikes from here on (null: the scenario has it from the start).
  std::function<void(quarnsim::Engine&)> strike;
  // What the operator does; `field`/`value` are typed into the device panel first.
  const char* field;
  const char* value;
  const char* button;
  QStringList expected;      // the messages, each once, in this order
  const char* enabledAfter;  // a button usable again once the task has ended
  const char* fieldAfter;    // a device field shown afterwards, and its text
  const char* fieldAfterText;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

void silence(quarnsim::Engine& bench) { bench.transmitter(0).config().faults.silent = true; }

class HartFaults : public HartWorkstation, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(HartFaults, TheTextIsShownOnceAndTheScreenIsUsableAgain) {
  const FaultCase& c = GetParam();
  HartScreen& s = open(c.scenario);
  ASSERT_TRUE(search());
  ASSERT_EQ(s.devicePanel()->selCh(), 0);
  if (c.strike) c.strike(*bench);
  if (c.field) edit(c.field)->setText(QString::fromUtf8(c.value));
  LabelPanel* button = control(c.button);
  if (!button) button = control(s.currentPanel(), c.button);
  ASSERT_TRUE(button->isEnabled());
  pressMouse(button, true);
  runFor(500);
  ASSERT_TRUE(runUntil(
      [&] { return measuring() && control(c.enabledAfter) && control(c.enabledAfter)->isEnabled(); }, 90000))
      << messages.join('|').toStdString();
  runFor(2000);  // more notifications: nothing is told twice
  EXPECT_EQ(messages, c.expected) << messages.join('|').toStdString();
  EXPECT_FALSE(control("pnHartSearch")->isHidden());
  EXPECT_TRUE(control("pnHartStopSearch")->isHidden());
  if (c.fieldAfter) {
    EXPECT_EQ(edit(c.fieldAfter)->text(), QString::fromUtf8(c.fieldAfterText));
  }
}

const QString kBusy = QStringLiteral("Предупреждение: Устройство занято.");

INSTANTIATE_TEST_SUITE_P(
    HartScreen, HartFaults,
    ::testing::Values(
        FaultCase{
            "RangeWriteRefused",
            "channels = 1\nchannel.1.hart_error = 35:9\n",
            nullptr,
            "edDiapMin",
            "-50",
            "pnHartWrite",
            {QStringLiteral("Ошибка прибора: Значнеие минимума преобразования основной переменной слишком "
                            "велико.")},
            "pnHartWrite",
            "edDiapMin",
            "0.000"},
        FaultCase{"DampingWriteBusyOnce",
                  "channels = 1\nchannel.1.hart_error = 34:32:1\n",
                  nullptr,
                  "edDempf",
                  "3",
                  "pnHartWrite",
                  {kBusy},
                  "pnHartWrite",
                  "edDempf",
                  "3.000"},
        FaultCase{"ZeroRefused",
                  "channels = 1\nchannel.1.hart_error = 43:9\n",
                  nullptr,
                  nullptr,
                  nullptr,
                  "pnSet_0",
                  {QStringLiteral("Ошибка прибора: Значение измеряемой величины слишком велико."),
                   QStringLiteral("ОШИБКА подстройки нуля !")},
                  "pnSet_0",
                  nullptr,
                  nullptr},
        FaultCase{"ZeroOnASilentDevice",
                  "channels = 1\n",
                  silence,
                  nullptr,
                  nullptr,
                  "pnSet_0",
                  {QStringLiteral("ОШИБКА подстройки нуля !")},
                  "pnSet_0",
                  nullptr,
                  nullptr},
        FaultCase{"CheckOnASilentDevice",
                  "channels = 1\n",
                  silence,
                  nullptr,
                  nullptr,
                  "pnCheck",
                  {QStringLiteral("Сбой установки фиксированного входа!")},
                  "pnCheck",
                  nullptr,
                  nullptr},
        FaultCase{"WriteToASilentDevice",
                  "channels = 1\n",
                  silence,
                  "edDempf",
                  "4",
                  "pnHartWrite",
                  {},
                  "pnHartWrite",
                  "edDempf",
                  "0.500"},
        FaultCase{"TrimOnASilentDevice",
                  "channels = 1\n",
                  silence,
                  nullptr,
                  nullptr,
                  "pnTune",
                  {QStringLiteral("Сбой установки фиксированного входа!")},
                  "pnCheck",
                  nullptr,
                  nullptr},
        // The library does not look at the answers to a reset and to the restore's commands, so a
        // silent device gives no text there; the screen must still come back usable.
        FaultCase{"ResetOfASilentDevice",
                  "channels = 1\n",
                  silence,
                  nullptr,
                  nullptr,
                  "pnHartReset",
                  {},
                  "pnHartReset",
                  "edDiapMax",
                  "600.000"},
        FaultCase{"RestoreOnASilentDevice",
                  "channels = 1\n",
                  silence,
                  nullptr,
                  nullptr,
                  "pnRepair",
                  {},
                  "pnRepair",
                  "edDiapMax",
                  "600.000"},
        FaultCase{"KestoRefusesTheChannelSelect",
                  "channels = 1\n",
                  [](quarnsim::Engine& bench) {
                    quarnsim::Fault f;
                    ASSERT_EQ(quarnsim::parseFault("kesto error 11 cmd=5", f), "");
                    bench.addFault(f);
                  },
                  nullptr,
                  nullptr,
                  "pnHartSearch",
                  {QStringLiteral("Сбой установки канала Kesto")},
                  "pnHartSearch",
                  nullptr,
                  nullptr}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
