// The parameters screen: the device grid's rules, the point list, the checks and the readiness it
// writes into the record, the library events it follows, and the project file through the project
// controller (the screen's controls stored by the generic mechanism, the channels, points and
// template through the project codec that quarn-cli uses too), with damaged and odd files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

#include "ChannelRules.h"
#include "DeviceGrid.h"
#include "DialogUDiap.h"
#include "EditableListView.h"
#include "IniValues.h"
#include "ParametersScreen.h"
#include "PointList.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "Prompts.h"
#include "RunControl.h"
#include "ZDialog.h"
#include "protocol_fields.h"
#include "quarn/cp1251.h"
#include "screen_fixture.h"
#include "test_paths.h"

namespace {

using namespace arm;
namespace data = quarn::data;

std::string field(const char* f) { return quarn::text::cp1251ToUtf8(f); }

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A project file's text: written here in UTF-8, stored as the workstation's Windows-1251.
QByteArray cp1251(const std::string& utf8) {
  return QByteArray::fromStdString(quarn::text::utf8ToCp1251(utf8));
}

// Characters typed into a control as the keyboard would (key filters see them).
void type(QWidget* w, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(w, &press);
  }
}

// The screen on the main window's object tree (sections begin "_FormMain_"), with a record of its
// own, the program's folder in a temporary directory and the operator's answers recorded.
struct ParamsBench {
  explicit ParamsBench(uint32_t model = 1) : bench(model) {
    Prompts::reset();
    Prompts::error = [this](const QString&, const QString& text) { errors << text; };
    Prompts::messageWindow = [this](const QString& text, bool, const QString&) {
      questions << text;
      return answer;
    };
    formMain.setObjectName(QStringLiteral("FormMain"));
    Screen::markOwner(&formMain);
    bench.context.setProgramDir(dir.path());
    screen = new ParametersScreen(bench.context, &formMain);
  }
  ~ParamsBench() { Prompts::reset(); }

  TDev& dev() { return bench.dev(); }
  ProjectController& project() { return bench.context.project(); }
  EditableListView& grid() { return *screen->deviceGrid()->view(); }
  EditableListView& points() { return *screen->pointList()->view(); }
  template <typename T = QLineEdit>
  T* control(const char* name) {
    T* w = screen->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString labErr() { return control<QLabel>("labErr")->text(); }
  QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }

  // The operator's edits in the device grid.
  void enter(int row, int channel, const QString& text) {
    grid().clickCell(row, channel);
    ASSERT_NE(grid().editingSlot(), -1) << "row " << row << " of channel " << channel << " refused";
    grid().lineEditor()->setText(text);
    grid().commitEditor();
  }
  void choose(int row, int channel, const QString& item) {
    grid().clickCell(row, channel);
    QComboBox* list = grid().listEditor();
    ASSERT_EQ(grid().editingSlot(), row) << "no list opened";
    const int i = list->findText(item);
    ASSERT_GE(i, 0) << item.toStdString();
    list->setCurrentIndex(i);
    Q_EMIT list->activated(i);
  }
  void switchOn(int channel) {
    if (!screen->deviceGrid()->channelOn(channel)) grid().clickCell(data::kRowEnabled, channel);
  }
  // Channels as a project would hold them, into the record and onto the screen.
  void channels(std::initializer_list<std::pair<int, data::ChannelParams>> list) {
    for (const auto& [n, ch] : list) {
      data::ChannelParams p = ch;
      if (p.enabled) data::normalizeChannel(p);
      data::channelToDev(p, dev().devCh[n]);
    }
    screen->DevToParams();
    screen->ParamsToDev();
  }
  // Replaces the box's text the operator's way: select all, delete, type.
  void typeInto(const char* name, const QString& text) {
    QLineEdit* e = control(name);
    e->selectAll();
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QCoreApplication::sendEvent(e, &del);
    type(e, text);
  }

  armtest::ScreenBench bench;  // before the screen, which refers to its context
  QTemporaryDir dir;
  QWidget formMain;
  ParametersScreen* screen = nullptr;
  QStringList errors;
  QStringList questions;            // asked in the message window
  int answer = ZDialog::kResultOk;  // the operator's answer to them
};

data::ChannelParams range(float min, float max, const char* unit = "кПа", float errOk = 0.5f) {
  data::ChannelParams p;
  p.enabled = true;
  p.name = "Датчик";
  p.Min = min;
  p.Max = max;
  p.unit = unit;
  p.errOk = errOk;
  return p;
}

// ---- Start-up -------------------------------------------------------------------------------------

TEST(ParametersScreen, StartsWithTheStandardPointsAndEveryChannelOff) {
  ParamsBench b;
  const PointList& list = *b.screen->pointList();
  EXPECT_EQ(list.selectedSet(), 0);
  EXPECT_TRUE(list.setButton(0)->isChecked());
  const char* percents[] = {"0", "25", "50", "75", "100", "75", "50", "20", "0"};
  const char* values[] = {"0", "150", "300", "450", "600", "450", "300", "120", "0"};  // range 0..600
  for (int r = 0; r < 9; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(b.points().GetText(r, data::kPointOn), QStringLiteral("v"));
    EXPECT_EQ(b.points().GetText(r, data::kPointPercent), QString::fromLatin1(percents[r]));
    EXPECT_EQ(b.points().GetText(r, data::kPointValue), QString::fromLatin1(values[r]));
  }
  EXPECT_EQ(b.points().GetText(9, data::kPointOn), QStringLiteral(" "));
  EXPECT_EQ(b.points().GetText(9, data::kPointPercent), QString());
  EXPECT_EQ(b.points().rowCount(), 200);
  for (int s = 1; s < data::kPointSetCount; ++s)
    EXPECT_TRUE(data::switchedOnPoints(list.sets()[static_cast<std::size_t>(s)]).empty()) << s;
  EXPECT_EQ(data::switchedOnPoints(b.screen->selectedPointSet()),
            (std::vector<float>{0, 25, 50, 75, 100, 75, 50, 20, 0}));

  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(b.grid().GetText(data::kRowEnabled, ch), QStringLiteral("нет")) << ch;
    EXPECT_EQ(b.grid().GetText(data::kRowName, ch), QString()) << ch;
  }
  EXPECT_EQ(b.control("amp_CD_DATE")->text(), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
  EXPECT_EQ(b.control<QComboBox>("cb_cDigits")->currentText(), QStringLiteral("3"));
  EXPECT_TRUE(b.control<QRadioButton>("RadioButton1")->isChecked());
  EXPECT_FALSE(b.bench.context.projectModified());
  // The Quarn workstation has no relay speed setting; the Brenk's has.
  EXPECT_TRUE(b.control<QWidget>("Panel_RelaySpeedTest")->isHidden());
  ParamsBench brenk(0);
  EXPECT_FALSE(brenk.control<QWidget>("Panel_RelaySpeedTest")->isHidden());
}

TEST(ParametersScreen, TheReportPlaceholdersComeInTheReportsOrder) {
  ParamsBench b;
  b.control("amp_D1_SH_NUM")->setText(QStringLiteral("17"));
  b.control<QPlainTextEdit>("amp_CD_ADDRESS")->setPlainText(QStringLiteral("г. Москва,\nул. Примерная, 1"));
  std::vector<std::string> names;
  for (const auto& [name, text] : b.screen->reportPlaceholders()) {
    names.push_back(name);
    if (name == "amp_D1_SH_NUM") {
      EXPECT_EQ(text, "17");
    } else if (name == "amp_CD_ADDRESS") {
      EXPECT_EQ(text, "г. Москва,\nул. Примерная, 1");
    }
  }
  const std::vector<std::string> list(quarn::report::kProtocolPlaceholderControls.begin(),
                                      quarn::report::kProtocolPlaceholderControls.end());
  EXPECT_EQ(names, list);
  // The screen's placeholder controls are exactly the list's, in the same order: each control's
  // name is its placeholder in the template.
  std::vector<std::string> controls;
  for (const QWidget* w : b.screen->findChildren<QWidget*>())
    if (w->objectName().startsWith(QLatin1String("amp_"))) controls.push_back(w->objectName().toStdString());
  EXPECT_EQ(controls, list);
}

// ---- Device grid --------------------------------------------------------------------------------

TEST(ParametersScreen, AChannelThatIsOffOnlyLetsItsSwitchBeChanged) {
  ParamsBench b;
  ASSERT_TRUE(b.project().load(b.path("none.aip")));  // the defaults of an empty project
  b.grid().clickCell(data::kRowName, 1);
  EXPECT_EQ(b.grid().editingSlot(), -1);
  EXPECT_FALSE(b.bench.context.projectModified());

  b.grid().clickCell(data::kRowEnabled, 1);
  EXPECT_EQ(b.dev().devCh[1].enabled, 1);
  EXPECT_TRUE(b.bench.context.projectModified());
  // Switched on, the channel shows what its record holds.
  EXPECT_EQ(b.grid().GetText(data::kRowName, 1), QStringLiteral("кПа"));
  EXPECT_EQ(b.grid().GetText(data::kRowMax, 1), QStringLiteral("600"));
  EXPECT_EQ(b.grid().GetText(data::kRowUnit, 1), QStringLiteral("кПа"));
  EXPECT_EQ(b.grid().GetText(data::kRowErrOk, 1), QStringLiteral("0.2"));
  EXPECT_EQ(b.grid().GetText(data::kRowSignal, 1), QStringLiteral("4..20 мА"));
  b.enter(data::kRowName, 1, QStringLiteral("КДИ-7"));
  EXPECT_EQ(field(b.dev().devCh[1].name), "КДИ-7");
  EXPECT_TRUE(b.screen->paramsValid());
  EXPECT_EQ(b.dev().povSpan, 600.0f);

  // Off again: the cells empty, the record keeps its values for the next time.
  b.grid().clickCell(data::kRowEnabled, 1);
  EXPECT_EQ(b.dev().devCh[1].enabled, 0);
  EXPECT_EQ(b.grid().GetText(data::kRowName, 1), QString());
  EXPECT_EQ(field(b.dev().devCh[1].name), "КДИ-7");
  EXPECT_FALSE(b.screen->paramsValid());
  b.grid().clickCell(data::kRowEnabled, 1);
  EXPECT_EQ(b.grid().GetText(data::kRowName, 1), QStringLiteral("КДИ-7"));
}

TEST(ParametersScreen, UnitsAndSignalTypesChangeTheRecordAndTheOtherChannels) {
  ParamsBench b;
  ASSERT_TRUE(b.project().load(b.path("none.aip")));
  b.switchOn(0);
  b.switchOn(1);
  std::vector<int> told;
  QObject::connect(&b.bench.context, &WorkstationContext::signalTypeChanged,
                   [&](int t) { told.push_back(t); });

  b.enter(data::kRowMax, 1, QStringLiteral("0,6"));
  b.choose(data::kRowUnit, 1, QStringLiteral("МПа"));
  EXPECT_EQ(b.dev().devCh[1].toKpaMul, 1000.0f);
  EXPECT_FLOAT_EQ(b.dev().devCh[1].MaxKpa, 600.0f);
  EXPECT_EQ(field(b.dev().devCh[1].Unit), "МПа");
  EXPECT_TRUE(b.screen->paramsValid()) << b.labErr().toStdString();  // 0..0.6 MPa agrees with 0..600 kPa
  b.choose(data::kRowUnit, 1, QStringLiteral("бар"));
  EXPECT_EQ(b.labErr(), QStringLiteral("Диапазоны датчиков не совпадают!"));

  // The calibrator's current input follows the signal type while it can take the change.
  b.dev().linked = 1;
  b.dev().kestoOk = 1;
  b.dev().kestoDataValid = 1;
  b.dev().sensorType = 8;
  told.clear();
  b.choose(data::kRowSignal, 0, QStringLiteral("0..5 мА"));
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(b.dev().devCh[ch].elTypeSignal, data::kSignal0to5);
    EXPECT_EQ(b.dev().devCh[ch].el_Max, 5.0f);
  }
  EXPECT_EQ(b.grid().GetText(data::kRowSignal, 1), QStringLiteral("0..5 мА"));
  EXPECT_EQ(b.grid().GetText(data::kRowSignal, 2), QString());  // off: shows nothing
  EXPECT_EQ(b.dev().sensorType, 6u);
  EXPECT_EQ(b.bench.taskNumbers(), std::vector<uint32_t>{TASK_SET_SENSOR_TYPE});
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.back(), data::kSignal0to5);
  // 5..0 mA needs the same input: no task.
  b.choose(data::kRowSignal, 1, QStringLiteral("5..0 мА"));
  EXPECT_EQ(b.bench.tasks.size(), 1u);
  EXPECT_EQ(b.dev().devCh[0].el_Min, 5.0f);
  // Without the link nothing is sent.
  b.dev().linked = 0;
  b.choose(data::kRowSignal, 1, QStringLiteral("4..20 мА"));
  EXPECT_EQ(b.bench.tasks.size(), 1u);
  EXPECT_EQ(b.dev().sensorType, 6u);
}

TEST(ParametersScreen, TheVoltageDialogSetsEveryChannelAndCancelChangesNothing) {
  ParamsBench b;
  ASSERT_TRUE(b.project().load(b.path("none.aip")));
  b.switchOn(0);
  b.switchOn(2);
  DialogUDiap& dialog = b.bench.context.voltageDialog();

  QTimer::singleShot(0, [&] { dialog.cancel(); });
  b.choose(data::kRowSignal, 2, QStringLiteral("напряжение"));
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(b.dev().devCh[ch].elTypeSignal, data::kSignal4to20);
    EXPECT_EQ(b.dev().devCh[ch].el_Min, 4.0f);
  }
  EXPECT_EQ(b.grid().GetText(data::kRowSignal, 2), QStringLiteral("4..20 мА"));

  QTimer::singleShot(0, [&] {
    dialog.minEdit()->setText(QStringLiteral("0"));
    dialog.maxEdit()->setText(QStringLiteral("10"));
    dialog.apply();
  });
  b.choose(data::kRowSignal, 2, QStringLiteral("напряжение"));
  for (int ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(b.dev().devCh[ch].elTypeSignal, data::kSignalVoltage);
    EXPECT_EQ(b.dev().devCh[ch].el_Min, 0.0f);
    EXPECT_EQ(b.dev().devCh[ch].el_Max, 10.0f);
    EXPECT_EQ(field(b.dev().devCh[ch].el_Unit), "В");
  }
  EXPECT_EQ(b.grid().GetText(data::kRowSignal, 0), QStringLiteral("напряжение"));
}

// ---- Checks and readiness -----------------------------------------------------------------------

TEST(ParametersScreen, CheckParamsSaysWhatIsWrong) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, data::ChannelParams>> channels;
    bool linked;
    const char* message;
    bool valid;
  };
  const Case cases[] = {
      {"within 5 % of the first span", {{0, range(0, 1000)}, {1, range(0, 1040)}}, false, "", true},
      {"beyond 5 %",
       {{0, range(0, 1000)}, {1, range(0, 1060)}},
       false,
       "Диапазоны датчиков не совпадают!",
       false},
      {"MPa and kPa agree", {{0, range(0, 1, "МПа")}, {1, range(0, 1000)}}, false, "", true},
      {"no channel", {}, false, "", false},
      {"equal limits", {{2, range(500, 500)}}, false, "Диапазон датчика не задан (Pв = Pн)!", false},
      {"a tolerance of 0 wins over wrong ranges",
       {{0, range(0, 1000)}, {3, range(0, 2000, "кПа", 0)}},
       false,
       "Допустимая погрешность слишком мала!",
       false},
      {"beyond the linked calibrator",
       {{0, range(0, 1000)}},
       true,
       "Диапазон калибратора меньше диапазона датчика !",
       false},
      {"within the linked calibrator", {{0, range(-50, 600)}}, true, "", true},
      // The grid shows no number beyond 1e27: such a limit comes back from it as 0.
      {"a limit beyond what the grid shows",
       {{0, range(0, 3e30f)}},
       false,
       "Диапазон датчика не задан (Pв = Pн)!",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParamsBench b;
    b.dev().linked = c.linked;
    b.dev().calInfo.pLimitMin = -100;
    b.dev().calInfo.pLimitMax = 700;
    for (const auto& [n, ch] : c.channels) b.channels({{n, ch}});
    b.screen->ParamsToDev();
    EXPECT_EQ(b.labErr(), QString::fromUtf8(c.message));
    EXPECT_EQ(b.screen->paramsValid(), c.valid);
  }
}

TEST(ParametersScreen, ReadinessBoxesTakeTypedNumbersAndTurnRedWhenUnusable) {
  ParamsBench b;
  b.dev().settings.readyBand1 = 0.05f;
  b.dev().settings.averaging = 5;
  b.dev().pTarget = 300;
  b.channels({{0, range(0, 600)}});
  // Typed with the comma key, as an operator on the Russian layout does.
  b.typeInto("ed_tRdy", QStringLiteral("2"));
  b.typeInto("ed_d_Rdy", QStringLiteral("0,1"));
  b.typeInto("amp_CD_VRCOEFF", QStringLiteral("0ю7"));
  EXPECT_EQ(b.control("amp_CD_VRCOEFF")->text(), QStringLiteral("0.7"));
  EXPECT_TRUE(b.bench.context.projectModified());
  EXPECT_EQ(b.dev().povHeader.tRdy, 2);
  EXPECT_FLOAT_EQ(b.dev().povHeader.dRdy, 0.1f);
  EXPECT_FLOAT_EQ(b.dev().povHeader.vrCoeff, 0.7f);

  const TStatValue& ref = b.dev().refStat;
  EXPECT_EQ(ref.target, 300.0f);
  EXPECT_EQ(ref.holdMs, 2000u);
  EXPECT_FLOAT_EQ(ref.stableBand, 0.6f);     // 600 x 0.1 %
  EXPECT_FLOAT_EQ(ref.readyCorridor, 0.3f);  // 600 x 0.05 %
  EXPECT_EQ(ref.window, 2);
  const TStatValue& ch = b.dev().ch[0].pStat;
  EXPECT_EQ(ch.holdMs, 2000u);
  EXPECT_FLOAT_EQ(ch.stableBand, 0.6f);
  EXPECT_FLOAT_EQ(ch.readyCorridor, 2.1f);  // 600 x 0.5 % x 0.7
  EXPECT_EQ(ch.window, 5);
  EXPECT_EQ(b.dev().ch[1].pStat.readyCorridor, 0.0f);  // channel 2 is off

  EXPECT_FALSE(b.control("ed_d_Rdy")->property("tooSmall").toBool());
  b.typeInto("ed_d_Rdy", QStringLiteral("0"));
  EXPECT_TRUE(b.control("ed_d_Rdy")->property("tooSmall").toBool());
  b.typeInto("amp_CD_VRCOEFF", QStringLiteral("abc"));  // letters do not get in: the box is empty
  EXPECT_EQ(b.control("amp_CD_VRCOEFF")->text(), QString());
  EXPECT_TRUE(b.control("amp_CD_VRCOEFF")->property("tooSmall").toBool());
}

// ---- Point list ---------------------------------------------------------------------------------

TEST(ParametersScreen, ThePointListShowsItsPointsInTheDevicesRange) {
  struct Case {
    float min, max;
    float unitFactor;   // display unit per kPa (the calibrator's unit)
    const char* typed;  // into "значение" of point 1
    const char* percent;
    const char* full;  // "значение" of point 5 (100 %)
  } cases[] = {{0, 1000, 1, "500", "50", "1000"},
               {100, 1100, 1, "600", "50", "1100"},
               {600, 0, 1, "0", "100", "0"},
               {0, 600, 0.001f, "0.3", "50", "0.6"}};  // shown in MPa
  for (const Case& c : cases) {
    SCOPED_TRACE(c.max);
    ParamsBench b;
    b.dev().settings.unitFactor = c.unitFactor;
    b.channels({{0, range(c.min, c.max)}});
    b.grid().clickCell(data::kRowEnabled, 3);  // any change of the grid sets the list's range
    b.grid().clickCell(data::kRowEnabled, 3);
    b.bench.context.setProjectModified(false);
    b.points().clickCell(0, data::kPointValue);
    b.points().lineEditor()->setText(QString::fromLatin1(c.typed));
    b.points().commitEditor();
    EXPECT_EQ(b.points().GetText(0, data::kPointPercent), QString::fromLatin1(c.percent));
    EXPECT_EQ(b.points().GetText(4, data::kPointValue), QString::fromLatin1(c.full));
    EXPECT_TRUE(b.bench.context.projectModified());
  }
  // Switching a point on shows its cells; the set's choice goes with the radio buttons.
  ParamsBench b;
  b.points().clickCell(12, data::kPointOn);
  EXPECT_EQ(b.points().GetText(12, data::kPointOn), QStringLiteral("v"));
  EXPECT_EQ(b.points().GetText(12, data::kPointValue), QStringLiteral("0"));
  b.screen->pointList()->setButton(3)->click();
  EXPECT_EQ(b.screen->selectedPointSetIndex(), 3);
  EXPECT_EQ(b.points().GetText(0, data::kPointOn), QStringLiteral(" "));
  EXPECT_TRUE(data::switchedOnPoints(b.screen->selectedPointSet()).empty());
}

// A downward range is asked for ("Нет" keeps the cell and the record as they were); a point outside
// 0..100 % of the range is refused with the reason, typed as a percentage or as a value.
TEST(ParametersScreen, ADownwardRangeIsAskedForAndAPointOutsideTheRangeRefused) {
  struct Case {
    const char* what;
    int row;
    const char* typed;
    int answer;
    bool asked;
    float min, max;  // the record afterwards
  } cases[] = {
      {"Pн above Pв, no", data::kRowMin, "1450", ZDialog::kResultCancel, true, 1050, 1150},
      {"Pн above Pв, yes", data::kRowMin, "1450", ZDialog::kResultOk, true, 1450, 1150},
      {"Pв below Pн, no", data::kRowMax, "1000", ZDialog::kResultCancel, true, 1050, 1150},
      {"Pв below Pн, yes", data::kRowMax, "1000", ZDialog::kResultOk, true, 1050, 1000},
      {"upward: not asked", data::kRowMax, "1450", ZDialog::kResultCancel, false, 1050, 1450},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParamsBench b;
    b.channels({{0, range(1050, 1150)}});
    b.bench.context.setProjectModified(false);
    b.answer = c.answer;
    b.enter(c.row, 0, QString::fromLatin1(c.typed));
    EXPECT_EQ(b.questions,
              c.asked ? QStringList{QStringLiteral("Диапазон убывающий: продолжить?")} : QStringList{});
    EXPECT_EQ(b.dev().devCh[0].Min, c.min);
    EXPECT_EQ(b.dev().devCh[0].Max, c.max);
    EXPECT_EQ(b.grid().GetText(data::kRowMin, 0), QString::number(c.min));
    EXPECT_EQ(b.grid().GetText(data::kRowMax, 0), QString::number(c.max));
    EXPECT_EQ(b.bench.context.projectModified(), c.min != 1050 || c.max != 1150);
  }

  struct Point {
    int column;
    const char* typed;
    bool refused;
  } points[] = {{data::kPointPercent, "150", true},
                {data::kPointPercent, "-5", true},
                {data::kPointValue, "700", true},  // 116.7 % of 0..600
                {data::kPointPercent, "100", false},
                {data::kPointValue, "0", false}};
  for (const Point& p : points) {
    SCOPED_TRACE(p.typed);
    ParamsBench b;
    b.bench.context.setProjectModified(false);
    const QString before = b.points().GetText(1, data::kPointPercent);  // 25 % of the standard set
    b.points().clickCell(1, p.column);
    b.points().lineEditor()->setText(QString::fromLatin1(p.typed));
    b.points().commitEditor();
    const QString shown = b.bench.context.messageWindow().text();
    if (p.refused) {
      EXPECT_TRUE(shown.contains(QStringLiteral("вне диапазона датчика"))) << shown.toStdString();
      EXPECT_EQ(b.points().GetText(1, data::kPointPercent), before);
      EXPECT_EQ(b.screen->selectedPointSet()[1].valuePrc, 25.0f);
      EXPECT_FALSE(b.bench.context.projectModified());
    } else {
      EXPECT_TRUE(shown.isEmpty()) << shown.toStdString();
      EXPECT_TRUE(b.bench.context.projectModified());
    }
  }
}

// ---- Library events -----------------------------------------------------------------------------

TEST(ParametersScreen, AHartSearchFillsTheChannelsOfTheDevicesItFound) {
  ParamsBench b;
  ASSERT_TRUE(b.project().load(b.path("none.aip")));
  std::strcpy(b.dev().calInfo.serial, "Q1-004711");
  auto found = [&](int ch, const char* name, uint32_t id, float hi, uint8_t units) {
    THartDev& h = b.dev().hart[ch];
    h.found = 1;
    std::strcpy(h.deviceTypeName, quarn::text::utf8ToCp1251(name).c_str());
    h.deviceId = id;
    h.lowerRange = 0;
    h.upperRange = hi;
    h.rangeUnits = units;
  };
  found(1, "КДИ-7", 4711, 1.6f, 237);  // MPa
  found(3, "КДИ-7", 4712, 1.6f, 6);    // a unit code the workstation does not know
  std::strcpy(b.dev().devCh[3].Unit, quarn::text::utf8ToCp1251("МПа").c_str());
  b.bench.notify(*b.screen, 6);

  EXPECT_EQ(b.grid().GetText(data::kRowEnabled, 1), QStringLiteral("Да"));
  EXPECT_EQ(b.grid().GetText(data::kRowName, 1), QStringLiteral("КДИ-7"));
  EXPECT_EQ(b.grid().GetText(data::kRowSn, 1), QStringLiteral("4711"));
  EXPECT_EQ(b.grid().GetText(data::kRowMax, 1), QStringLiteral("1.6"));
  EXPECT_EQ(b.grid().GetText(data::kRowUnit, 1), QStringLiteral("МПа"));
  EXPECT_EQ(b.grid().GetText(data::kRowModel, 1), QStringLiteral("140"));  // the family's code for 1600 kPa
  EXPECT_EQ(b.grid().GetText(data::kRowErrOk, 1), QStringLiteral("0.2"));
  EXPECT_FLOAT_EQ(b.dev().devCh[1].MaxKpa, 1600.0f);
  EXPECT_EQ(field(b.dev().devCh[3].Unit), "МПа");  // unit code 6 leaves the unit
  EXPECT_EQ(b.grid().GetText(data::kRowEnabled, 0), QStringLiteral("нет"));
  EXPECT_TRUE(b.screen->paramsValid()) << b.labErr().toStdString();
  EXPECT_EQ(b.control("ed_Quarn_SN")->text(), QStringLiteral("Quarn №Q1-004711"));
  EXPECT_TRUE(b.bench.context.projectModified());

  // The operator's tolerance stays through later notifications and settings reads.
  b.enter(data::kRowErrOk, 1, QStringLiteral("0.5"));
  b.bench.notify(*b.screen, 2);
  b.bench.notify(*b.screen, 3);
  EXPECT_FLOAT_EQ(b.dev().devCh[1].errOk, 0.5f);
  // "All parameters written" brings the transmitter's defaults once, not at every notification after.
  b.dev().retCode = 4;
  b.bench.notify(*b.screen, 0);
  EXPECT_FLOAT_EQ(b.dev().devCh[1].errOk, 0.2f);
  b.enter(data::kRowErrOk, 1, QStringLiteral("0.5"));
  b.bench.notify(*b.screen, 2);
  EXPECT_FLOAT_EQ(b.dev().devCh[1].errOk, 0.5f);
}

// A HART search takes the devices' data into their channels and lists in the message window what
// that changed, channel by channel; during a run it changes nothing and says so.
TEST(ParametersScreen, AHartSearchListsWhatItChangedAndLeavesARunsChannelsAlone) {
  for (const bool running : {false, true}) {
    SCOPED_TRACE(running ? "during a run" : "outside a run");
    ParamsBench b;
    data::ChannelParams typed = range(0, 1000);
    typed.sn = "101";
    b.channels({{1, typed}, {2, typed}});
    THartDev& h = b.dev().hart[1];
    h.found = 1;
    std::strcpy(h.deviceTypeName, quarn::text::utf8ToCp1251("Датчик").c_str());
    h.deviceId = 4711;
    h.lowerRange = 0;
    h.upperRange = 1000;
    h.rangeUnits = 12;  // kPa
    const std::array<QString, 2> shownBefore = {b.grid().GetText(data::kRowSn, 1),
                                                b.grid().GetText(data::kRowErrOk, 1)};
    if (running) b.bench.context.setRunActive(true);
    b.bench.notify(*b.screen, 6);
    const QString told = b.bench.context.messageWindow().text();
    if (running) {
      EXPECT_EQ(told, QStringLiteral("Поиск HART во время поверки: параметры датчиков не изменены."));
      EXPECT_EQ(b.grid().GetText(data::kRowSn, 1), shownBefore[0]);
      EXPECT_EQ(b.grid().GetText(data::kRowErrOk, 1), shownBefore[1]);
      EXPECT_EQ(field(b.dev().devCh[1].sn), "101");
      EXPECT_FLOAT_EQ(b.dev().devCh[1].errOk, 0.5f);
    } else {
      // The serial the operator entered stays: the device id is no factory serial.
      EXPECT_EQ(told, QStringLiteral("Поиск HART изменил параметры датчиков:\n"
                                     "Канал 2: Допуск, %: 0.5 → 0.2"))
          << told.toStdString();
      EXPECT_EQ(b.grid().GetText(data::kRowSn, 1), QStringLiteral("101"));
      EXPECT_EQ(field(b.dev().devCh[1].sn), "101");
    }
    EXPECT_EQ(field(b.dev().devCh[2].sn), "101");  // no device found there
  }
  // The changes of one column, in the grid's row order.
  data::DeviceGridColumn a{}, c{};
  a[data::kRowSn] = "101";
  c[data::kRowSn] = "4711";
  a[data::kRowSignal] = "20..4 мА";
  c[data::kRowSignal] = "4..20 мА";
  c[data::kRowModel] = "140";
  EXPECT_EQ(data::deviceGridChanges(a, c),
            (std::vector<std::string>{"Модель: — → 140", "Серийный №: 101 → 4711",
                                      "Тип вых. сигнала: 20..4 мА → 4..20 мА"}));
  EXPECT_TRUE(data::deviceGridChanges(a, a).empty());
}

// A device information read redraws the channel it was read for (with the HART transmitter's model
// code and tolerance) and no other; it does not switch a channel on. A unit that comes from a HART
// transmitter in its own spelling keeps its factor when the grid is applied again.
TEST(ParametersScreen, DeviceInformationRedrawsItsChannelAndHartUnitsKeepTheirFactor) {
  ParamsBench b;
  ASSERT_TRUE(b.project().load(b.path("none.aip")));
  THartDev& h = b.dev().hart[0];
  h.found = 1;
  std::strcpy(h.deviceTypeName, "X-100");
  h.upperRange = 1000;
  h.rangeUnits = 239;  // "мм вод. ст.", the grid's list has "мм вод.ст."
  b.bench.notify(*b.screen, 6);
  EXPECT_EQ(b.grid().GetText(data::kRowUnit, 0), QStringLiteral("мм вод. ст."));
  EXPECT_NEAR(b.dev().devCh[0].MaxKpa, 9.80665f, 1e-4f);
  b.enter(data::kRowErrOk, 0, QStringLiteral("0.5"));  // the grid is applied to the record again
  EXPECT_NEAR(b.dev().devCh[0].MaxKpa, 9.80665f, 1e-4f);
  EXPECT_NEAR(b.dev().devCh[0].toKpaMul, 0.00980665f, 1e-8f);
  EXPECT_NEAR(b.dev().povSpan, 9.80665f, 1e-4f);

  b.switchOn(1);
  b.enter(data::kRowName, 1, QStringLiteral("КДИ-7"));
  b.enter(data::kRowMax, 1, QStringLiteral("1600"));
  b.enter(data::kRowErrOk, 1, QStringLiteral("0.5"));
  // What the library wrote while it read the transmitters on channels 1 and 2 (channel 2 is off),
  // and a change of channel 3's record the grid has not been told of.
  b.dev().hart[1].found = 1;
  b.dev().hart[2].found = 1;
  std::strcpy(b.dev().devCh[1].sn, "4711");
  b.dev().devCh[3].enabled = 1;
  for (int ch : {1, 2}) {
    b.dev().hartCh = ch;
    b.bench.notify(*b.screen, 9);
  }
  EXPECT_EQ(b.grid().GetText(data::kRowSn, 1), QStringLiteral("4711"));
  EXPECT_EQ(b.grid().GetText(data::kRowModel, 1), QStringLiteral("140"));
  EXPECT_EQ(b.grid().GetText(data::kRowErrOk, 1), QStringLiteral("0.2"));
  EXPECT_FLOAT_EQ(b.dev().devCh[1].errOk, 0.2f);
  EXPECT_EQ(b.dev().devCh[2].enabled, 0);
  EXPECT_EQ(b.grid().GetText(data::kRowEnabled, 2), QStringLiteral("нет"));
  EXPECT_EQ(b.grid().GetText(data::kRowEnabled, 3), QStringLiteral("нет"));
  EXPECT_EQ(b.grid().GetText(data::kRowErrOk, 0), QStringLiteral("0.5"));
}

TEST(ParametersScreen, TheCalibratorLineFollowsTheModel) {
  for (uint32_t model : {1u, 0u}) {
    ParamsBench b(model);
    std::strcpy(b.dev().calInfo.serial, "25-0042");
    b.bench.notify(*b.screen, 3);
    EXPECT_EQ(b.control("ed_Quarn_SN")->text(),
              model ? QStringLiteral("Quarn №25-0042") : QStringLiteral("Brenk №25-0042"));
    // It heads the reference list of the protocol.
    EXPECT_EQ(field(b.dev().povHeader.etalonList).rfind(model ? "Quarn №25-0042" : "Brenk №25-0042", 0), 0u);
  }
}

// Without a reader "Считать °С, %, p" is disabled and says why; a read that fails, or gives a value
// that is not a number, changes none of the conditions (a "-" used to replace them and reach the
// protocol); a good read fills all three.
TEST(ParametersScreen, TheHygrometerButtonNeedsAReaderAndAFailedReadChangesNothing) {
  ParamsBench b;
  QWidget* button = b.control<QWidget>("pnRead_IVTM");
  EXPECT_FALSE(button->isEnabled());
  EXPECT_TRUE(button->toolTip().contains(QStringLiteral("недоступно"))) << button->toolTip().toStdString();
  b.typeInto("amp_CD_TEMP", QStringLiteral("22"));
  b.typeInto("amp_CD_HUM", QStringLiteral("50"));
  b.typeInto("amp_CD_PRES", QStringLiteral("750"));
  b.screen->ReadIvtm();  // not reachable by the mouse; nothing changes either way
  EXPECT_EQ(b.bench.context.messageWindow().text(),
            QStringLiteral("Библиотека EksisExchange.dll не найдена"));
  const auto conditions = [&] {
    return QStringList{b.control("amp_CD_TEMP")->text(), b.control("amp_CD_HUM")->text(),
                       b.control("amp_CD_PRES")->text()};
  };
  EXPECT_EQ(conditions(), (QStringList{"22", "50", "750"}));

  QString asked;
  std::optional<std::array<float, 3>> answer;
  b.screen->setHygrometerReader([&](const QString& serial) {
    asked = serial;
    return answer;
  });
  EXPECT_TRUE(button->isEnabled());
  // A run locks the page and the button with it; afterwards the reader's button comes back.
  Q_EMIT b.bench.context.runStateChanged(true);
  EXPECT_FALSE(button->isEnabled());
  Q_EMIT b.bench.context.runStateChanged(false);
  EXPECT_TRUE(button->isEnabled());

  b.control("ed_IVTM_SN")->setText(QStringLiteral("4213"));
  const float nan = std::nanf("");
  for (const auto& failed :
       {std::optional<std::array<float, 3>>{}, std::optional<std::array<float, 3>>{{21, nan, 748}}}) {
    answer = failed;
    b.bench.context.messageWindow().hide();
    b.screen->ReadIvtm();
    EXPECT_EQ(asked, QStringLiteral("4213"));
    EXPECT_EQ(conditions(), (QStringList{"22", "50", "750"}));
    EXPECT_EQ(b.bench.context.messageWindow().text(),
              QStringLiteral("Гигрометр ИВТМ-7M № 4213 не прочитан: условия не изменены."));
  }
  answer = std::array<float, 3>{21.7f, 45.2f, 748.9f};
  b.screen->ReadIvtm();
  EXPECT_EQ(conditions(), (QStringList{"21", "45", "748"}));
  EXPECT_EQ(field(b.dev().povHeader.temp), "21");
}

TEST(ParametersScreen, ARunningVerificationLocksThePages) {
  ParamsBench b;
  Q_EMIT b.bench.context.runStateChanged(true);
  EXPECT_FALSE(b.control<QWidget>("Panel_1_Sens")->isEnabled());
  EXPECT_FALSE(b.control<QWidget>("Panel_MP")->isEnabled());
  Q_EMIT b.bench.context.runStateChanged(false);
  EXPECT_TRUE(b.control<QWidget>("Panel_3_Pionts")->isEnabled());
}

// ---- Project files --------------------------------------------------------------------------------

constexpr const char* kScreenSection = "_FormMain_Frame_Mode_3_Param1_";

// A project edited on the screen the way an operator would, saved through the controller.
void editAJob(ParamsBench& b) {
  ASSERT_TRUE(b.project().load(b.path("none.aip")));
  b.switchOn(0);
  b.switchOn(2);
  b.enter(data::kRowName, 0, QStringLiteral("КДИ-7"));
  b.enter(data::kRowSn, 0, QStringLiteral("4711"));
  b.enter(data::kRowMax, 0, QStringLiteral("1,6"));
  b.choose(data::kRowUnit, 0, QStringLiteral("МПа"));
  b.enter(data::kRowErrOk, 0, QStringLiteral("0.25"));
  b.enter(data::kRowMax, 2, QStringLiteral("1600"));
  b.enter(data::kRowErrOk, 2, QStringLiteral("0.5"));
  b.grid().clickCell(data::kRowFunction, 2);  // square root
  b.typeInto("ed_tRdy", QStringLiteral("3"));
  b.typeInto("ed_d_Rdy", QStringLiteral("0.1"));
  b.typeInto("amp_CD_VRCOEFF", QStringLiteral("0.8"));
  b.control<QCheckBox>("cbHardMode")->click();
  b.control<QRadioButton>("rb_IsPeriodic")->click();
  b.typeInto("amp_D1_SH_NUM", QStringLiteral("17/2026"));
  b.control<QPlainTextEdit>("amp_CD_ADDRESS")->setPlainText(QStringLiteral("г. Москва,\nул. Примерная, 1"));
  b.control<QCheckBox>("cbRelay_2")->click();
  b.typeInto("edRelay2_P", QStringLiteral("450"));
  b.screen->pointList()->setButton(2)->click();  // set 3: 10, 60, 100 %
  for (const auto& [row, percent] : {std::pair{0, "10"}, std::pair{1, "60"}, std::pair{2, "100"}}) {
    b.points().clickCell(row, data::kPointOn);
    b.points().clickCell(row, data::kPointPercent);
    b.points().lineEditor()->setText(QString::fromLatin1(percent));
    b.points().commitEditor();
  }
  b.control<QTableWidget>("sg_MP")->item(0, 0)->setText(QStringLiteral("КДИ"));
  b.control<QTableWidget>("sg_MP")->item(0, 1)->setText(QStringLiteral("МП 07-2026"));
}

TEST(ProjectFile, TheScreenSavesWhatTheCodecReadsAndTheRecordComesBackTheSame) {
  ParamsBench b;
  editAJob(b);
  ASSERT_TRUE(b.bench.context.projectModified());
  const QString file = b.path("job.aip");
  ASSERT_TRUE(b.project().save(file)) << b.errors.join('\n').toStdString();
  EXPECT_FALSE(b.bench.context.projectModified());
  EXPECT_EQ(b.control<QLabel>("lab_prjName")->text(), QStringLiteral("Файл проекта: ") + file);

  // The file: the screen's controls by their owners, the fields of the record, the template.
  const data::IniDocument ini = data::IniDocument::parse(readFile(file).toStdString());
  EXPECT_EQ(data::readTextUtf8(ini, kScreenSection, "amp_D1_SH_NUM", ""), "17/2026");
  EXPECT_EQ(data::readTextUtf8(ini, kScreenSection, "amp_CD_ADDRESS_str1", ""), "ул. Примерная, 1");
  EXPECT_EQ(data::readInteger(ini, kScreenSection, "rb_IsPeriodic", -1), 1);
  // The job began as a new project, whose combo boxes took their first item.
  EXPECT_EQ(data::readInteger(ini, kScreenSection, "cb_cDigits", -1), 0);
  EXPECT_EQ(data::readInteger(ini, "_FormMain_Frame_Mode_3_Param1_Frame_Points1_", "rb_3", -1), 1);
  EXPECT_TRUE(ini.hasKey("_FormMain_Frame_Mode_3_Param1_Frame_ParamDevGrid1_lv_DevGrid_", "ListView_Edit"));
  EXPECT_TRUE(ini.hasKey("_FormMain_Frame_Mode_3_Param1_Frame_ParamDevGrid1_lv_DevGrid_", "instComboBox"));
  for (const char* key : {"amp_CD_DATE", "ed_Quarn_SN", "lv_Steps"})
    EXPECT_FALSE(ini.hasKey(kScreenSection, key)) << key;
  EXPECT_FALSE(ini.hasSection("_FormMain_Frame_Mode_3_Param1_Frame_Points1_lv_Steps_"));
  EXPECT_EQ(data::readTextUtf8(ini, "Device_ch_0", "Unit", ""), "МПа");
  EXPECT_EQ(std::string(*ini.get("Device_ch_0", "errOk")), "0.25");
  EXPECT_EQ(std::string(*ini.get("Points_set_2_point_2", "valuePrc")), "60");
  EXPECT_TRUE(ini.hasSection("Points_set_4_point_200"));
  EXPECT_TRUE(ini.hasKey("XmlTemplate", "XmlTemplateName"));
  // The measurement methods went to "mp.ini" beside the program.
  data::MethodList methods;
  ASSERT_TRUE(data::loadMethods(b.path("mp.ini").toStdString(), methods).ok());
  EXPECT_EQ(methods[0].device, "КДИ");
  EXPECT_EQ(methods[0].document, "МП 07-2026");

  // What quarn-cli makes of the file is what the screen put into the record.
  data::Project read;
  ASSERT_TRUE(data::loadProject(file.toStdString(), read).ok());
  armtest::ScreenBench cli;
  cli.dev().settings = b.dev().settings;
  cli.dev().pTarget = b.dev().pTarget;
  const data::ParamsCheck check = data::applyProjectToDev(read, cli.dev());
  EXPECT_TRUE(check.valid) << check.message;
  EXPECT_TRUE(b.screen->paramsValid());
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_EQ(std::memcmp(&cli.dev().devCh[ch], &b.dev().devCh[ch], sizeof(TDevChannel)), 0)
        << "channel " << ch;
  const TPovHeader& h = b.dev().povHeader;
  const TPovHeader& c = cli.dev().povHeader;
  EXPECT_EQ(c.tRdy, h.tRdy);
  EXPECT_EQ(c.dRdy, h.dRdy);
  EXPECT_EQ(c.vrCoeff, h.vrCoeff);
  EXPECT_EQ(c.hardMode, h.hardMode);
  EXPECT_EQ(c.isPeriodic, 1);
  EXPECT_EQ(field(c.protocolNo), field(h.protocolNo));
  EXPECT_EQ(cli.dev().povLo, b.dev().povLo);
  EXPECT_EQ(cli.dev().povSpan, b.dev().povSpan);
  EXPECT_EQ(std::memcmp(&cli.dev().refStat, &b.dev().refStat, sizeof(TStatValue)), 0);
  EXPECT_EQ(std::memcmp(&cli.dev().ch[0].pStat, &b.dev().ch[0].pStat, sizeof(TStatValue)), 0);
  EXPECT_EQ(cli.dev().relayOn[1], 1);
  EXPECT_EQ(cli.dev().relayP[1], 450.0f);
  EXPECT_EQ(read.selectedSet, 2);
  EXPECT_EQ(data::switchedOnPoints(read.pointSets[2]), (std::vector<float>{10, 60, 100}));
  EXPECT_EQ(data::switchedOnPoints(read.pointSets[2]), data::switchedOnPoints(b.screen->selectedPointSet()));

  // Loaded into another workstation, the screen and the record are the same again.
  ParamsBench other;
  other.bench.context.setProgramDir(b.dir.path());  // the same mp.ini
  ASSERT_TRUE(other.project().load(file));
  EXPECT_FALSE(other.bench.context.projectModified());
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_EQ(std::memcmp(&other.dev().devCh[ch], &b.dev().devCh[ch], sizeof(TDevChannel)), 0)
        << "channel " << ch;
  for (int row = 0; row < data::kDeviceGridRows; ++row)
    EXPECT_EQ(other.grid().GetText(row, 0), b.grid().GetText(row, 0)) << row;
  EXPECT_EQ(other.screen->selectedPointSetIndex(), 2);
  EXPECT_EQ(other.points().GetText(1, data::kPointValue), QStringLiteral("960"));  // 60 % of 0..1600 kPa
  EXPECT_TRUE(other.control<QRadioButton>("rb_IsPeriodic")->isChecked());
  EXPECT_TRUE(other.control<QCheckBox>("cbHardMode")->isChecked());
  EXPECT_EQ(other.control<QPlainTextEdit>("amp_CD_ADDRESS")->toPlainText(),
            QStringLiteral("г. Москва,\nул. Примерная, 1"));
  EXPECT_EQ(other.control<QTableWidget>("sg_MP")->item(0, 1)->text(), QStringLiteral("МП 07-2026"));
  EXPECT_EQ(other.control("edRelay2_P")->text(), QStringLiteral("450"));
  EXPECT_EQ(std::memcmp(&other.dev().refStat, &b.dev().refStat, sizeof(TStatValue)), 0);
}

TEST(ProjectFile, AProjectWrittenByTheCodecLoadsOnTheScreen) {
  data::Project p;
  for (int ch : {1, 3}) {
    data::ChannelParams& c = p.channels[static_cast<std::size_t>(ch)];
    c = range(0, 250);
    c.sn = "SN-" + std::to_string(ch);
    c.elTypeSignal = data::kSignal20to4;
  }
  p.header.protocolNo = "cli-1";
  p.header.kind = data::ProtocolKind::Calibration;
  p.header.resultDecimals = 5;
  p.readiness = {"4", "0.2", "0.6", true};
  p.relay.enabled = {true, false};
  p.relay.setpointKpa = {"125", "0"};
  p.pointSets[1] = {};
  p.pointSets[1][0] = {true, 20, 0};
  p.pointSets[1][1] = {true, 80, 0};
  p.selectedSet = 1;
  ParamsBench b;
  const QString file = b.path("from_cli.aip");
  ASSERT_TRUE(data::saveProject(file.toStdString(), p).ok());
  ASSERT_TRUE(b.project().load(file));

  armtest::ScreenBench cli;
  data::applyProjectToDev(p, cli.dev(), {});
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_EQ(std::memcmp(&cli.dev().devCh[ch], &b.dev().devCh[ch], sizeof(TDevChannel)), 0)
        << "channel " << ch;
  EXPECT_EQ(b.dev().povHeader.tRdy, 4);
  EXPECT_EQ(b.dev().povHeader.isCalib, 1);
  EXPECT_EQ(b.dev().cDigits, 5);
  EXPECT_EQ(b.dev().relayP[0], 125.0f);
  EXPECT_EQ(b.control("edRelay1_P")->text(), QStringLiteral("125"));
  EXPECT_EQ(b.grid().GetText(data::kRowSn, 3), QStringLiteral("SN-3"));
  EXPECT_EQ(b.grid().GetText(data::kRowSignal, 1), QStringLiteral("20..4 мА"));
  EXPECT_EQ(b.screen->selectedPointSetIndex(), 1);
  EXPECT_EQ(data::switchedOnPoints(b.screen->selectedPointSet()), (std::vector<float>{20, 80}));
  EXPECT_EQ(b.points().GetText(1, data::kPointValue), QStringLiteral("200"));
  EXPECT_TRUE(b.screen->paramsValid());
}

// A save takes what the operator is still typing into a cell of the grid or of the point list: the
// popup of the menu that saves takes the focus from the editor without closing it.
TEST(ProjectFile, ASaveTakesTheCellStillBeingEdited) {
  for (const bool grid : {true, false}) {
    SCOPED_TRACE(grid ? "device grid" : "point list");
    ParamsBench b;
    ASSERT_TRUE(b.project().load(b.path("none.aip")));
    b.switchOn(0);
    if (!grid) b.points().clickCell(0, data::kPointOn);  // an empty project has no point on
    EditableListView& view = grid ? b.grid() : b.points();
    const int row = grid ? data::kRowSn : 0;
    const int column = grid ? 0 : data::kPointPercent;
    view.clickCell(row, column);
    ASSERT_NE(view.editingSlot(), -1);
    view.lineEditor()->setText(QStringLiteral("33"));
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(view.lineEditor(), &popup);
    EXPECT_NE(view.editingSlot(), -1);
    ASSERT_TRUE(b.project().save(b.path("typing.aip")));

    EXPECT_EQ(view.GetText(row, column), QStringLiteral("33"));
    data::Project saved;
    ASSERT_TRUE(data::loadProject(b.path("typing.aip").toStdString(), saved).ok());
    if (grid)
      EXPECT_EQ(saved.channels[0].sn, "33");
    else
      EXPECT_EQ(saved.pointSets[0][0].valuePrc, 33.0f);
  }
}

// The cases of the file format, each a small file and what the screen must show.
TEST(ProjectFile, TheFileFormatsRulesOnTheScreen) {
  struct Case {
    const char* what;
    const char* file;
    std::function<void(ParamsBench&)> check;
  };
  const Case cases[] = {
      {"a channel without \"name\" is named кПа", "[Device_ch_1]\r\nenabled=1\r\nMax=100\r\n",
       [](ParamsBench& b) {
         EXPECT_EQ(b.grid().GetText(data::kRowName, 1), QStringLiteral("кПа"));
         EXPECT_EQ(field(b.dev().devCh[1].name), "кПа");
       }},
      {"MPa limits become kPa",
       "[Device_ch_2]\r\nenabled=1\r\nMin=0.1\r\nMax=1.6\r\nUnit=МПа\r\ntoKpaMul=1000\r\n",
       [](ParamsBench& b) {
         EXPECT_FLOAT_EQ(b.dev().devCh[2].MinKpa, 100);
         EXPECT_FLOAT_EQ(b.dev().devCh[2].MaxKpa, 1600);
         EXPECT_EQ(b.grid().GetText(data::kRowMin, 2), QStringLiteral("0.1"));
       }},
      {"a combo box without its key takes its first item",
       "[_FormMain_Frame_Mode_3_Param1_]\r\namp_CD_ORG=x\r\n",
       [](ParamsBench& b) {
         EXPECT_EQ(b.control<QComboBox>("cb_cDigits")->currentIndex(), 0);
         EXPECT_EQ(b.dev().cDigits, 0);
       }},
      {"the protocol date is never loaded", "[_FormMain_Frame_Mode_3_Param1_]\r\namp_CD_DATE=01.01.2000\r\n",
       [](ParamsBench& b) {
         const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
         EXPECT_EQ(b.control("amp_CD_DATE")->text(), today);
         EXPECT_EQ(QString::fromStdString(field(b.dev().povHeader.date)), today);
       }},
      {"edit boxes without their key keep their text", "[_FormMain_Frame_Mode_3_Param1_]\r\n",
       [](ParamsBench& b) { EXPECT_EQ(b.control("amp_CD_CHEF")->text(), QStringLiteral("typed before")); }},
      {"points missing from the file are off",
       "[Points_set_0_point_3]\r\nexist=1\r\nvaluePrc=40\r\ntimeSec=0\r\n",
       [](ParamsBench& b) {
         EXPECT_EQ(data::switchedOnPoints(b.screen->pointList()->sets()[0]), std::vector<float>{40});
         EXPECT_EQ(b.points().GetText(2, data::kPointPercent), QStringLiteral("40"));
         EXPECT_EQ(b.points().GetText(0, data::kPointOn), QStringLiteral(" "));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParamsBench b;
    b.control("amp_CD_CHEF")->setText(QStringLiteral("typed before"));
    writeFile(b.path("case.aip"), cp1251(c.file));
    ASSERT_TRUE(b.project().load(b.path("case.aip")));
    EXPECT_FALSE(b.bench.context.projectModified());
    c.check(b);
  }
}

TEST(ProjectFile, ARadioButtonStoredAsCheckedRunsItsHandlerTwice) {
  ParamsBench b;
  int calib = 0, periodic = 0;
  QObject::connect(b.control<QRadioButton>("rb_IsCalib"), &QRadioButton::clicked, [&] { ++calib; });
  QObject::connect(b.control<QRadioButton>("rb_IsPeriodic"), &QRadioButton::clicked, [&] { ++periodic; });
  writeFile(b.path("radio.aip"),
            "[_FormMain_Frame_Mode_3_Param1_]\r\nRadioButton1=0\r\nrb_IsPeriodic=0\r\nrb_IsCalib=1\r\n");
  ASSERT_TRUE(b.project().load(b.path("radio.aip")));
  EXPECT_EQ(calib, 2);
  EXPECT_EQ(periodic, 1);
  EXPECT_TRUE(b.control<QRadioButton>("rb_IsCalib")->isChecked());
  EXPECT_FALSE(b.control<QRadioButton>("RadioButton1")->isChecked());
  EXPECT_EQ(b.dev().povHeader.isCalib, 1);
}

TEST(ProjectFile, AShorterMemoLeavesTheLinesOfTheLongerOneInTheFile) {
  ParamsBench b;
  writeFile(b.path("memo.aip"), cp1251("[_FormMain_Frame_Mode_3_Param1_]\r\namp_CD_ADDRESS_str0=страна\r\n"
                                       "amp_CD_ADDRESS_str1=город\r\namp_CD_ADDRESS_str2=улица\r\n"));
  ASSERT_TRUE(b.project().load(b.path("memo.aip")));
  auto* memo = b.control<QPlainTextEdit>("amp_CD_ADDRESS");
  EXPECT_EQ(memo->toPlainText(), QStringLiteral("страна\nгород\nулица"));
  memo->setPlainText(QStringLiteral("один\nдва"));
  ASSERT_TRUE(b.project().save(b.path("memo.aip")));
  EXPECT_TRUE(readFile(b.path("memo.aip")).contains(cp1251("amp_CD_ADDRESS_str2=улица")));
  ASSERT_TRUE(b.project().load(b.path("memo.aip")));
  EXPECT_EQ(memo->toPlainText(), QStringLiteral("один\nдва\nулица"));
}

TEST(ProjectFile, AMissingProjectFallsBackToDefaultAipInTheWorkingFolder) {
  ParamsBench b;
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(b.dir.path()));
  // No default.aip either: the name asked for stays, with the defaults of an empty project.
  ASSERT_TRUE(b.project().load(b.path("gone/job.aip")));
  EXPECT_EQ(b.project().fileName(), b.path("gone/job.aip"));
  EXPECT_EQ(b.grid().GetText(data::kRowEnabled, 0), QStringLiteral("нет"));
  writeFile(b.path("default.aip"), cp1251("[Device_ch_0]\r\nenabled=1\r\nname=из default.aip\r\n"));
  ASSERT_TRUE(b.project().load(b.path("gone/job.aip")));
  EXPECT_EQ(b.project().fileName(), b.path("default.aip"));
  EXPECT_EQ(b.grid().GetText(data::kRowName, 0), QStringLiteral("из default.aip"));
  EXPECT_EQ(b.control<QLabel>("lab_prjName")->text(),
            QStringLiteral("Файл проекта: ") + b.path("default.aip"));
  QDir::setCurrent(before);
}

TEST(ProjectFile, AMissingTemplateFallsBackToTheStandardOne) {
  ParamsBench b;
  QDir(b.dir.path()).mkpath(QStringLiteral("template_xml"));
  QDir(b.dir.path()).mkpath(QStringLiteral("own"));
  writeFile(b.path("template_xml/Протокол поверки.xlsx"), "zip");
  writeFile(b.path("own/Мой шаблон.xlsx"), "zip");
  struct Case {
    std::string folder, name;
    QString shownFolder, shownName;
  } cases[] = {
      {b.path("own/").toStdString(), "Мой шаблон.xlsx", b.path("own/"), QStringLiteral("Мой шаблон.xlsx")},
      {b.path("own/").toStdString(), "Нет такого.xls", b.path("template_xml/"),
       QStringLiteral("Протокол поверки.xlsx")},
      {"", "Протокол поверки.xls", b.path("template_xml/"), QStringLiteral("Протокол поверки.xlsx")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(b.path("t.aip"), cp1251("[XmlTemplate]\r\nXmlTemplatePath=" + c.folder +
                                      "\r\nXmlTemplateName=" + c.name + "\r\n"));
    ASSERT_TRUE(b.project().load(b.path("t.aip")));
    EXPECT_EQ(b.screen->templateFolder(), c.shownFolder);
    EXPECT_EQ(b.screen->templateName(), c.shownName);
    EXPECT_EQ(b.control("edTemplateName")->text(), c.shownName);
  }
  // Choosing one marks the project; it is saved with it.
  b.bench.context.setProjectModified(false);
  Prompts::fileName = [&](const QString& title, bool) {
    EXPECT_EQ(title, QStringLiteral("Выбор шаблона"));
    return b.path("own/Мой шаблон.xlsx");
  };
  b.screen->pbTemplateOpenClick();
  EXPECT_TRUE(b.bench.context.projectModified());
  EXPECT_EQ(b.screen->templateFolder(), b.path("own/"));
  ASSERT_TRUE(b.project().save(b.path("t.aip")));
  EXPECT_TRUE(readFile(b.path("t.aip")).contains(cp1251("XmlTemplateName=Мой шаблон.xlsx")));
  EXPECT_EQ(b.control<QLabel>("labTemplatePath")->text(), b.path("own/"));

  // A folder longer than 50 characters shows its first 10 and its last 36.
  const QString deep = b.path("own/шаблоны протоколов лаборатории давления/");
  ASSERT_GT(deep.size(), 50);
  QDir().mkpath(deep);
  writeFile(deep + QStringLiteral("П.xlsx"), "zip");
  Prompts::fileName = [&](const QString&, bool) { return deep + QStringLiteral("П.xlsx"); };
  b.screen->pbTemplateOpenClick();
  EXPECT_EQ(b.control<QLabel>("labTemplatePath")->text(),
            deep.left(10) + QStringLiteral(".....оны протоколов лаборатории давления/"));
  EXPECT_EQ(b.control<QLabel>("labTemplatePath")->toolTip(), deep);
}

// Loading a project shows its relay settings and keeps the operator's tolerance of a channel that
// has a HART transmitter: neither is replaced by what the record held before.
TEST(ProjectFile, ALoadedProjectIsShownAsItWasSaved) {
  ParamsBench b;
  writeFile(b.path("a.aip"),
            "[_FormMain_Frame_Mode_3_Param1_]\r\ncbRelay_1=1\r\nedRelay1_P=300\r\n"
            "[Device_ch_0]\r\nenabled=1\r\nerrOk=0.5\r\n");
  writeFile(b.path("b.aip"),
            "[_FormMain_Frame_Mode_3_Param1_]\r\ncbRelay_1=0\r\nedRelay1_P=450\r\n"
            "[Device_ch_0]\r\nenabled=1\r\nerrOk=0.75\r\n");
  b.dev().hart[0].found = 1;
  ASSERT_TRUE(b.project().load(b.path("a.aip")));
  EXPECT_EQ(b.control("edRelay1_P")->text(), QStringLiteral("300"));
  EXPECT_EQ(b.dev().relayP[0], 300.0f);
  EXPECT_EQ(b.dev().relayOn[0], 1);
  EXPECT_FLOAT_EQ(b.dev().devCh[0].errOk, 0.5f);
  ASSERT_TRUE(b.project().load(b.path("b.aip")));
  EXPECT_EQ(b.control("edRelay1_P")->text(), QStringLiteral("450"));
  EXPECT_FALSE(b.control<QCheckBox>("cbRelay_1")->isChecked());
  EXPECT_EQ(b.dev().relayP[0], 450.0f);
  EXPECT_EQ(b.dev().relayOn[0], 0);
  EXPECT_FLOAT_EQ(b.dev().devCh[0].errOk, 0.75f);
  EXPECT_EQ(b.grid().GetText(data::kRowErrOk, 0), QStringLiteral("0.75"));
}

// ---- Bad input ------------------------------------------------------------------------------------

TEST(ProjectFile, ADamagedFileChangesNothing) {
  struct Case {
    const char* what;
    QByteArray bytes;
  } cases[] = {
      {"cut off in its last line", QByteArray("[Device_ch_0]\r\nenabled=1\r\nname=half a li")},
      {"zero bytes inside", QByteArray("[Device_ch_0]\r\nenabled=1\r\n\0\0\0\0name=x\r\n", 31)},
      {"a point section cut off", QByteArray("[Points_set_0_point_1]\r\nexist=1\r\nvalueP")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParamsBench b;
    writeFile(b.path("good.aip"), cp1251("[Device_ch_0]\r\nenabled=1\r\nname=хороший\r\n"));
    ASSERT_TRUE(b.project().load(b.path("good.aip")));
    b.enter(data::kRowSn, 0, QStringLiteral("unsaved"));
    ASSERT_TRUE(b.bench.context.projectModified());
    writeFile(b.path("bad.aip"), c.bytes);
    EXPECT_FALSE(b.project().load(b.path("bad.aip")));
    EXPECT_TRUE(b.bench.context.messageWindow().isVisible());
    EXPECT_TRUE(b.bench.context.messageWindow().text().contains(QStringLiteral("bad.aip")));
    // The project, its name, the screen, the record and the unsaved mark are as they were.
    EXPECT_EQ(b.project().fileName(), b.path("good.aip"));
    EXPECT_EQ(b.grid().GetText(data::kRowName, 0), QStringLiteral("хороший"));
    EXPECT_EQ(b.grid().GetText(data::kRowSn, 0), QStringLiteral("unsaved"));
    EXPECT_EQ(field(b.dev().devCh[0].sn), "unsaved");
    EXPECT_TRUE(b.bench.context.projectModified());
    EXPECT_EQ(b.control<QLabel>("lab_prjName")->text(),
              QStringLiteral("Файл проекта: ") + b.path("good.aip"));
  }
}

TEST(ProjectFile, FilesInOtherEncodingsAreRead) {
  const std::string text = "[Device_ch_0]\r\nenabled=1\r\nname=Датчик давления\r\nUnit=кгс/см2\r\nMax=6\r\n";
  QByteArray utf16("\xFF\xFE", 2);
  const QString wide = QString::fromStdString(text);
  utf16.append(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2);
  const QByteArray files[] = {QByteArray::fromStdString(text), QByteArray("\xEF\xBB\xBF") + text.c_str(),
                              utf16, cp1251(text)};
  for (const QByteArray& bytes : files) {
    ParamsBench b;
    writeFile(b.path("enc.aip"), bytes);
    ASSERT_TRUE(b.project().load(b.path("enc.aip")));
    EXPECT_EQ(b.grid().GetText(data::kRowName, 0), QStringLiteral("Датчик давления"));
    EXPECT_FLOAT_EQ(b.dev().devCh[0].MaxKpa, 6 * 98.06652f);
  }
}

TEST(ProjectFile, AbsurdNumbersGiveAUsableScreen) {
  ParamsBench b;
  writeFile(b.path("odd.aip"), cp1251("[_FormMain_Frame_Mode_3_Param1_]\r\ned_tRdy=99999999999999\r\n"
                                      "ed_d_Rdy=1e400\r\ncb_cDigits=-7\r\n"
                                      "[_FormMain_Frame_Mode_3_Param1_Frame_Points1_]\r\nrb_2=9\r\n"
                                      "[Device_ch_0]\r\nenabled=1\r\nMax=1e30\r\nerrOk=nan\r\nfnCode=-3\r\n"
                                      "elTypeSignal=99\r\ntoKpaMul=0\r\nUnit=попугаи\r\n"
                                      "[Device_ch_1]\r\nenabled=1\r\nMin=-inf\r\nMax=600\r\n"
                                      "[Points_set_1_point_5]\r\nexist=1\r\nvaluePrc=1e39\r\n"
                                      "[Points_set_1_point_999]\r\nexist=1\r\n"));
  ASSERT_TRUE(b.project().load(b.path("odd.aip")));
  EXPECT_EQ(b.grid().GetText(data::kRowMax, 0), QString());  // beyond what the grid shows
  EXPECT_EQ(b.grid().GetText(data::kRowFunction, 0), QStringLiteral("Линейная"));
  EXPECT_EQ(b.grid().GetText(data::kRowSignal, 0), QStringLiteral("4..20 мА"));
  EXPECT_EQ(b.dev().devCh[0].toKpaMul, 1.0f);
  EXPECT_FLOAT_EQ(b.dev().devCh[0].errOk, 0.2f);  // "nan" is not a number: the default
  EXPECT_FALSE(b.screen->paramsValid());
  EXPECT_FALSE(b.labErr().isEmpty());
  EXPECT_EQ(b.dev().povHeader.dRdy, 0.0f);
  EXPECT_TRUE(b.control("ed_d_Rdy")->property("tooSmall").toBool());
  EXPECT_LE(b.dev().refStat.window, 200);
  EXPECT_EQ(b.control<QComboBox>("cb_cDigits")->currentIndex(), 0);
  EXPECT_EQ(b.screen->selectedPointSetIndex(), 1);
  EXPECT_EQ(data::switchedOnPoints(b.screen->selectedPointSet()), std::vector<float>{0});
  // Changing the grid with all of this still works.
  b.enter(data::kRowMax, 0, QStringLiteral("600"));
  b.enter(data::kRowErrOk, 0, QStringLiteral("0.5"));
  b.grid().clickCell(data::kRowEnabled, 1);
  EXPECT_TRUE(b.screen->paramsValid()) << b.labErr().toStdString();
}

// "Открыть проект" asks about unsaved changes as exit does: "Отмена" keeps the project and its
// changes, "Нет" drops them, "Да" saves them first.
TEST(ProjectFile, OpeningAnotherProjectAsksAboutUnsavedChanges) {
  struct Case {
    QMessageBox::StandardButton answer;
    bool opened;
    bool savedFirst;
  } cases[] = {
      {QMessageBox::Cancel, false, false}, {QMessageBox::No, true, false}, {QMessageBox::Yes, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ParamsBench b;
    data::Project other;
    other.header.protocolNo = "other";
    ASSERT_TRUE(data::saveProject(b.path("other.aip").toStdString(), other).ok());
    ASSERT_TRUE(b.project().save(b.path("mine.aip")));
    b.typeInto("amp_D1_SH_NUM", QStringLiteral("17/2026"));
    ASSERT_TRUE(b.bench.context.projectModified());
    QStringList asked;
    Prompts::saveQuestion = [&](const QString& text) {
      asked << text;
      return c.answer;
    };
    Prompts::fileName = [&](const QString&, bool) { return b.path("other.aip"); };
    b.project().N_OpenProject_Click();
    EXPECT_EQ(asked, QStringList{QStringLiteral("Проект ") + b.path("mine.aip") +
                                 QStringLiteral(" изменён. Сохранить?")});
    EXPECT_EQ(b.control("amp_D1_SH_NUM")->text(),
              c.opened ? QStringLiteral("other") : QStringLiteral("17/2026"));
    EXPECT_EQ(b.bench.context.projectModified(), !c.opened);
    data::Project mine;
    ASSERT_TRUE(data::loadProject(b.path("mine.aip").toStdString(), mine).ok());
    EXPECT_EQ(mine.header.protocolNo == "17/2026", c.savedFirst) << mine.header.protocolNo;
  }
  // Nothing changed: no question.
  ParamsBench b;
  ASSERT_TRUE(b.project().save(b.path("mine.aip")));
  Prompts::saveQuestion = [](const QString&) {
    ADD_FAILURE() << "asked";
    return QMessageBox::Cancel;
  };
  Prompts::fileName = [&](const QString&, bool) { return b.path("mine.aip"); };
  b.project().N_OpenProject_Click();
}

// Loading a project, clicking the grid and saving writes back the values the file held: the grid is
// read at every click and before every save, and a shown text that rounded used to replace
// 101971.6 (shown "1.0197e+05") and 5e-05 by 0.
TEST(ProjectFile, ClickingAndSavingKeepEveryGridValue) {
  data::Project p;
  const char* const units[] = {"мм вод. ст.", "кПа", "МПа", "psi"};
  const float values[][4] = {{5e-05f, 101971.6f, 0.0123456f, 0.25f},
                             {-101971.6f, 1e8f, 1e-6f, 12.345678f},
                             {-0.000123f, 1.000001f, 0.2f, 0},
                             {-14.503774f, 145.03774f, 0.15f, 0.75f}};
  for (std::size_t ch = 0; ch < 4; ++ch) {
    data::ChannelParams& c = p.channels[ch];
    c = range(values[ch][0], values[ch][1], units[ch], values[ch][2]);
    c.tDamp = values[ch][3];
  }
  ParamsBench b;
  const QString file = b.path("exact.aip");
  ASSERT_TRUE(data::saveProject(file.toStdString(), p).ok());
  ASSERT_TRUE(b.project().load(file));
  for (int ch = 0; ch < 4; ++ch) b.grid().clickCell(data::kRowName, ch);
  ASSERT_TRUE(b.project().save(b.path("saved.aip")));

  data::Project saved;
  ASSERT_TRUE(data::loadProject(b.path("saved.aip").toStdString(), saved).ok());
  for (std::size_t ch = 0; ch < 4; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(saved.channels[ch].Min, p.channels[ch].Min);
    EXPECT_EQ(saved.channels[ch].Max, p.channels[ch].Max);
    EXPECT_EQ(saved.channels[ch].errOk, p.channels[ch].errOk);
    EXPECT_EQ(saved.channels[ch].tDamp, p.channels[ch].tDamp);
  }
  EXPECT_EQ(b.grid().GetText(data::kRowMax, 0), QStringLiteral("101971.6"));
  EXPECT_EQ(b.grid().GetText(data::kRowMin, 0), QStringLiteral("5e-05"));
}

TEST(ProjectFile, TwoHundredPointsInEverySetRoundTrip) {
  ParamsBench b;
  data::Project p;
  for (auto& set : p.pointSets)
    for (int k = 0; k < data::kPointsPerSet; ++k) set[static_cast<std::size_t>(k)] = {true, k * 0.5f, 1};
  p.selectedSet = 4;
  p.channels[0] = range(0, 600);
  ASSERT_TRUE(data::saveProject(b.path("full.aip").toStdString(), p).ok());
  ASSERT_TRUE(b.project().load(b.path("full.aip")));
  EXPECT_EQ(b.screen->selectedPointSetIndex(), 4);
  EXPECT_EQ(b.points().GetText(199, data::kPointOn), QStringLiteral("v"));
  EXPECT_EQ(b.points().GetText(199, data::kPointPercent), QStringLiteral("99.5"));
  EXPECT_EQ(b.points().GetText(199, data::kPointValue), QStringLiteral("597"));
  // 200 points are more than the protocol's tables take: such a set is kept, but does not run.
  const data::Result<data::RunStart> start =
      data::prepareRun(b.dev(), b.screen->selectedPointSet(), false, false);
  EXPECT_FALSE(start.ok());
  EXPECT_NE(start.why().find("не более 199"), std::string::npos) << start.why();
  EXPECT_EQ(b.dev().pointCount, 200);
  EXPECT_EQ(b.dev().points[199].prc, 99.5f);
  ASSERT_TRUE(b.project().save(b.path("again.aip")));
  data::Project again;
  ASSERT_TRUE(data::loadProject(b.path("again.aip").toStdString(), again).ok());
  for (int s = 0; s < data::kPointSetCount; ++s)
    EXPECT_EQ(data::switchedOnPoints(again.pointSets[static_cast<std::size_t>(s)]).size(), 200u) << s;
}

TEST(ProjectFile, TheMethodListWithoutItsFileIsEmptyAndAnUnreadableOneIsReported) {
  ParamsBench b;
  ASSERT_TRUE(b.project().load(b.path("none.aip")));
  EXPECT_FALSE(b.bench.context.messageWindow().isVisible());
  EXPECT_EQ(b.screen->methods()[0].device, "");
  // A folder where the file should be: told, and the list keeps what it showed.
  b.control<QTableWidget>("sg_MP")->item(3, 0)->setText(QStringLiteral("КДД"));
  QDir(b.dir.path()).mkpath(QStringLiteral("mp.ini"));
  ASSERT_TRUE(b.project().load(b.path("none.aip")));
  EXPECT_TRUE(b.bench.context.messageWindow().isVisible());
  EXPECT_TRUE(b.bench.context.messageWindow().text().startsWith(
      QStringLiteral("Список методик измерений не прочитан")));
  EXPECT_EQ(b.screen->methods()[3].device, "КДД");
}

// A project saved by the workstation runs in quarn-cli against the simulator's demonstration bench
// (channel 3 out of tolerance, channel 4 with a 20..4 mA output): the channels, the points and the
// hold time it runs are the ones the screen shows. quarn-cli runs its simulator in virtual time and
// stores the run in the test's own history, never the user's.
TEST(ProjectFile, QuarnCliVerifiesAProjectSavedByTheScreen) {
#ifndef QUARN_HAVE_CLI_PROGRAM
  GTEST_SKIP() << "quarn-cli is not built";
#else
  const std::string examples = quarn::test::path("QUARN_EXAMPLES_DIR");
  ParamsBench b;
  ASSERT_TRUE(b.project().load(QString::fromStdString(examples + "/demo.aip")));
  ASSERT_TRUE(b.screen->paramsValid()) << b.labErr().toStdString();
  ASSERT_EQ(data::switchedOnPoints(b.screen->selectedPointSet()), (std::vector<float>{0, 25, 50, 75, 100}));
  for (int row : {1, 3, 4}) b.points().clickCell(row, data::kPointOn);  // 0 and 50 % stay
  b.typeInto("ed_tRdy", QStringLiteral("1"));
  const QString file = b.path("short.aip");
  ASSERT_TRUE(b.project().save(file));

  QProcess cli;
  cli.start(QString::fromStdString(quarn::test::path("QUARN_CLI")),
            {"--sim-virtual", "--timeout", "20", "--sim-arg", "--scenario", "--sim-arg",
             QString::fromStdString(examples + "/demo_bench.scenario"), "--sim-arg", "--set", "--sim-arg",
             "input_tau_s=0.3", "verify", file, "--run-timeout", "120", "--history", b.path("history.db")});
  ASSERT_TRUE(cli.waitForFinished(180000));
  const QByteArray err = cli.readAllStandardError();
  ASSERT_EQ(cli.exitCode(), 0) << err.toStdString();
  const QJsonObject out = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
  const QJsonArray points = out["points"].toArray();
  ASSERT_EQ(points.size(), 2) << err.toStdString();
  EXPECT_EQ(out["suitable"].toArray(), (QJsonArray{true, true, false, true}));
  const double pRef = points[1].toObject()["pRef"].toDouble();
  EXPECT_NEAR(pRef, 300.0, 0.5);  // 50 % of 0..600 kPa
  const QJsonArray ch = points[1].toObject()["ch"].toArray();
  EXPECT_NEAR(ch[0].toObject()["iExpected"].toDouble(), 4 + 16 * pRef / 600, 1e-3);
  EXPECT_NEAR(ch[3].toObject()["iExpected"].toDouble(), 20 - 16 * pRef / 600, 1e-3);
  EXPECT_TRUE(err.contains("point 2 of 2")) << err.toStdString();
#endif
}

}  // namespace
