// The workstation's building blocks without a library: display and input helpers, the caption and
// status texts, the port list and the two dialogs.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "DialogUDiap.h"
#include "LiveTexts.h"
#include "PortList.h"
#include "ReferenceLimit.h"
#include "TDev.h"
#include "UiHelpers.h"
#include "ZDialog.h"

namespace {

using namespace arm;

std::unique_ptr<TDev> zeroRecord() {
  auto dev = std::make_unique<TDev>();
  std::memset(dev.get(), 0, sizeof(TDev));
  dev->settings.unitFactor = 1;
  return dev;
}

// ---- Helpers --------------------------------------------------------------------------------

TEST(DisplayHelpers, ValuesOutsideTheShownRangeAreBlank) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double value;
    int decimals;
    const char* fixed;
    const char* general;
  } cases[] = {
      {1.23456, 3, "1.235", "1.2346"},
      {-0.5, 1, "-0.5", "-0.5"},
      {2500, 0, "2500", "2500"},
      {nan, 3, " ", " "},
      {1e28, 2, " ", " "},
      {-1e28, 2, " ", " "},
      {1e27, 0, "1000000000000000013287555072", "1e+27"},
      // A small negative value that rounds to zero has no sign ("-0.000" was shown in the status line).
      {-0.0004, 3, "0.000", "-0.0004"},
      {-0.0, 2, "0.00", "0"},
      {-0.4, 0, "0", "-0.4"},
      {-0.0005, 3, "-0.001", "-0.0005"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(formatValue(c.value, c.decimals), QString::fromLatin1(c.fixed)) << c.value;
    EXPECT_EQ(formatGeneral(c.value), QString::fromLatin1(c.general)) << c.value;
  }
}

TEST(InputHelpers, TextToValueReadsTheLeadingNumberOrZero) {
  EXPECT_DOUBLE_EQ(textToValue("12.5"), 12.5);
  EXPECT_DOUBLE_EQ(textToValue("  -3.25 кПа"), -3.25);
  EXPECT_DOUBLE_EQ(textToValue("1e3"), 1000);
  EXPECT_DOUBLE_EQ(textToValue("abc"), 0);
  EXPECT_DOUBLE_EQ(textToValue(""), 0);
  QLineEdit edit(QStringLiteral("7.5"));
  EXPECT_DOUBLE_EQ(widgetValue(&edit), 7.5);
}

TEST(InputHelpers, NumericKeyFilterMapsTheRussianLayoutKeys) {
  struct Case {
    char16_t typed;
    char16_t result;  // 0: dropped
  } cases[] = {
      {u'5', u'5'}, {u'-', u'-'}, {u'.', u'.'}, {u'\b', u'\b'}, {u',', u'.'}, {u'/', u'.'},
      {u'б', u'.'}, {u'Б', u'.'}, {u'ю', u'.'}, {u'Ю', u'.'},   {u'E', u'e'}, {u'e', u'e'},
      {u'у', u'e'}, {u'У', u'e'}, {u'a', 0},    {u' ', 0},      {u'+', 0},    {u'ж', 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(filterNumericChar(QChar(c.typed)).unicode(), c.result) << static_cast<int>(c.typed);
}

void typeInto(QLineEdit& edit, const QString& keys) {
  for (QChar c : keys) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(&edit, &press);
  }
}

TEST(InputHelpers, KeyFilterOnAnEditBoxWithAndWithoutSignToggle) {
  QLineEdit plain;
  NumericKeyFilter::install(&plain);
  typeInto(plain, QStringLiteral("1б5xУ-2"));
  EXPECT_EQ(plain.text(), QStringLiteral("1.5e-2"));

  QLineEdit signed_;
  NumericKeyFilter::install(&signed_, true);
  typeInto(signed_, QStringLiteral("12-.5.,3"));
  EXPECT_EQ(signed_.text(), QStringLiteral("-12.53"));
  typeInto(signed_, QStringLiteral("-"));
  EXPECT_EQ(signed_.text(), QStringLiteral("12.53"));
}

// Qt's own Russian translations: the standard buttons of the exit question and of every other
// standard dialog read in Russian among the program's texts.
TEST(DisplayHelpers, StandardButtonsSpeakRussian) {
  {
    QObject owner;  // the translator goes with it
    ASSERT_TRUE(installQtRussian(&owner)) << "qtbase_ru missing (Debian: qt6-translations-l10n)";
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Да"));
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove(QLatin1Char('&')), QStringLiteral("Нет"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("Отмена"));
  }
  QMessageBox english;
  english.setStandardButtons(QMessageBox::Yes);
  EXPECT_EQ(english.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Yes"));
}

TEST(DisplayHelpers, ProgressDotsCountTheRequestsStillToCome) {
  struct Case {
    int n, progress, dots;
  } cases[] = {{10, 0, 0}, {10, -1, 0}, {10, 3, 7}, {10, 10, 0}, {10, 12, 0}, {64, 5, 15}, {64, 30, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(progressDots(c.n, c.progress), QString(c.dots, QChar('.'))) << c.n << " " << c.progress;
}

TEST(DisplayHelpers, EnableTreeClearScreenAndPressedLook) {
  QWidget root;
  auto* edit = new QLineEdit(QStringLiteral("x"), &root);
  auto* inner = new QWidget(&root);
  auto* button = new QPushButton(inner);
  enableTree(&root, false);
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_FALSE(button->isEnabled());
  enableTree(&root, true);
  EXPECT_TRUE(button->isEnabled());

  clearScreen(&root);
  EXPECT_TRUE(edit->text().isEmpty());

  QFrame panel;
  panel.setFrameShape(QFrame::Panel);
  panel.setFrameShadow(QFrame::Raised);
  auto* label = new QLabel(&panel);
  togglePressedLook(label);  // walks up to the panel
  EXPECT_EQ(panel.frameShadow(), QFrame::Sunken);
  togglePressedLook(&panel);
  EXPECT_EQ(panel.frameShadow(), QFrame::Raised);
}

// ---- Caption and status line ----------------------------------------------------------------

TEST(StatusAccuracy, ExternalReferenceByClassAndPressure) {
  auto dev = zeroRecord();
  dev->settings.refSource = 3;
  dev->dorv.present = 1;
  dev->dorv.rangeHigh = 1000;
  dev->dorv.rangeLow = -100;
  struct Case {
    int accuracyClass;
    float pRef;
    int pressType;
    const char* text;
    float refUpper;
  } cases[] = {
      {0, 400, 1, "±0.01% [0...1000 кПа]", 1000},   // 0.4 of the range: lower half
      {0, 600, 1, "±0.02% [0...1000 кПа]", 1000},   // 0.6: upper half
      {0, -500, 1, "±0.01% [0...1000 кПа]", 1000},  // the threshold itself is low
      {1, 333, 1, "±0.01% [0...1000 кПа]", 1000},   // other classes: a third of the range
      {1, 334, 1, "±0.03% [0...1000 кПа]", 1000},   {2, 100, 1, "±0.015% [0...1000 кПа]", 1000},
      {2, 900, 1, "±0.05% [0...1000 кПа]", 1000},   {3, 0, 1, "±0.03% [0...1000 кПа]", 1000},
      {3, 999, 3, "±0.1% [-100...1000 кПа]", 1100},  // pressure type 3 starts at the lower limit
      {7, 10, 1, "±0% [0...1000 кПа]", 1000},
  };
  for (const Case& c : cases) {
    dev->dorv.accuracyClass = c.accuracyClass;
    dev->dorv.pressType = c.pressType;
    dev->pRef = c.pRef;
    EXPECT_EQ(statusAccuracyText(*dev, {}), QString::fromUtf8(c.text)) << c.accuracyClass << " " << c.pRef;
    // The uncertainty's full scale of the same reference, by the rule the main window applies.
    EXPECT_FLOAT_EQ(quarn::data::referenceUpperLimit(*dev, nullptr, "").kPa, c.refUpper);
  }
  dev->dorv.present = 0;
  EXPECT_EQ(statusAccuracyText(*dev, {}), QString());
  EXPECT_EQ(statusPressureText(*dev, {}), QString());
}

TEST(StatusAccuracy, CalibratorModulesBySubRange) {
  auto dev = zeroRecord();
  TModelRec model;
  model.sens[0].G = {2500, 1600, 1000, 600, 400, 0};
  model.sens[0].A = {2600, 1700, 1100, 700, 500, 0};
  model.sens[1].G = {250, 160, 100, 60, 25, 10};
  model.sens[1].A = {350, 0, 0, 0, 0, 0};
  TErrorRec errors;
  for (int row = 0; row < 4; ++row)
    for (int i = 0; i < 6; ++i) errors.rows[row][i] = static_cast<float>((row + 1) * 10 + i + 1) / 1000;
  dev->calInfo.module1Class = 1;
  dev->calInfo.module2Class = 2;
  struct Case {
    uint32_t sensorState;
    int pressType, subRange;
    float pRef;
    const char* text;
    float refUpper;
  } cases[] = {
      // Automatic sub-range: the narrowest one above |pRef|.
      {0, 1, 0, 500, "±0.024% [0...600 кПа]", 2500},
      {0, 1, 0, 399, "±0.025% [0...400 кПа]", 2500},
      {0, 1, 0, 2000, "±0.021% [0...2500 кПа]", 2500},  // none of 2..6 fits: the whole range
      {0, 1, 0, 9000, "±0.021% [0...2500 кПа]", 2500},
      {1, 1, 0, 5, "±0.036% [0...10 кПа]", 250},  // low-range module with its own class
      {1, 1, 0, -30, "±0.034% [0...60 кПа]", 250},
      // Fixed sub-range; gauge-vacuum starts at -U but not below -100.
      {0, 1, 2, 0, "±0.022% [0...1600 кПа]", 2500},
      {1, 2, 4, 0, "±0.034% [-60...60 кПа]", 250},
      {0, 2, 1, 0, "±0.021% [-100...2500 кПа]", 2500},
      // Absolute pressure uses the A limits.
      {0, 0, 0, 650, "±0.024% [0...700 кПа]", 2600},
      {1, 0, 0, 100, "±0.031% [0...350 кПа]", 350},
      // Nothing shown: a zero limit, a sub-range the table does not have.
      {0, 1, 6, 0, "", 2500},
      {0, 1, 7, 0, "", 2500},
      {0, 1, -1, 0, "", 2500},
  };
  for (const Case& c : cases) {
    dev->sensorState = c.sensorState;
    dev->settings.pressType = c.pressType;
    dev->settings.subRange = c.subRange;
    dev->pRef = c.pRef;
    EXPECT_EQ(statusAccuracyText(*dev, {&model, &errors}), QString::fromUtf8(c.text))
        << c.sensorState << " " << c.pressType << " " << c.subRange << " " << c.pRef;
    EXPECT_FLOAT_EQ(quarn::data::referenceUpperLimit(*dev, &model, "").kPa, c.refUpper);
  }
  // Display unit: limits scaled by the unit factor, the unit's name shown.
  dev->sensorState = 0;
  dev->settings.pressType = 1;
  dev->settings.subRange = 1;
  dev->settings.units = 1;
  dev->settings.unitFactor = 0.001f;
  dev->settings.decimals = 4;
  dev->pRefUnits = 0.25f;
  EXPECT_EQ(statusPressureText(*dev, {&model, &errors}),
            QStringLiteral("P= 0.2500 МПа,  ±0.021% [0...2.5 МПа]"));
  // A run with hand input: the typed reference has no instrument's accuracy, and the line says so.
  dev->handInput = 1;
  EXPECT_EQ(statusPressureText(*dev, {&model, &errors}), QStringLiteral("P= 0.2500 МПа,  ручной ввод"));
  dev->handInput = 0;
  // No tables (link lost, or the model missing from the catalogue): no accuracy part, and no comma
  // left hanging after the unit. The status line never writes refUpper; without a model the
  // uncertainty takes the calibrator's reported upper limit.
  dev->refUpper = 42;
  dev->calInfo.pLimitMax = 2500;
  EXPECT_EQ(statusPressureText(*dev, {}), QStringLiteral("P= 0.2500 МПа"));
  EXPECT_FLOAT_EQ(dev->refUpper, 42);
  EXPECT_FLOAT_EQ(quarn::data::referenceUpperLimit(*dev, nullptr, "").kPa, 2500);
  // A class code beyond the table shows nothing.
  dev->calInfo.module1Class = 9;
  EXPECT_EQ(statusAccuracyText(*dev, {&model, &errors}), QString());
}

TEST(Caption, ByModelReferenceAndLink) {
  auto dev = zeroRecord();
  const QString base = baseCaption(false, "1.4");
  EXPECT_EQ(base, QStringLiteral("АРМ Quarn v1.4"));
  EXPECT_EQ(baseCaption(true, "1.4"), QStringLiteral("АРМ Brenk v1.4"));
  EXPECT_EQ(buildCaption(*dev, base, true, false), base);  // not linked
  EXPECT_EQ(buildCaption(*dev, base, false, false), QString());
  dev->linked = 1;
  dev->portNo = 7;
  std::memcpy(dev->calInfo.modelName, "QC-2500", 8);
  std::memcpy(dev->calInfo.serial, "Q1-004711", 10);
  dev->calInfo.pLimitMin = -95;
  dev->calInfo.pLimitMax = 2500;
  dev->calInfo.modelNo = 250;
  dev->dorv.rangeLow = 0;
  dev->dorv.rangeHigh = 1600.5f;
  EXPECT_EQ(
      buildCaption(*dev, base, true, false),
      QStringLiteral("АРМ Quarn v1.4    Модель:  QC-2500    -95 ... 2500 кПа   сер.№ Q1-004711   (COM7)"));
  EXPECT_EQ(buildCaption(*dev, base, false, true),
            QStringLiteral("АРМ Quarn v1.4    Модель:  25    -95 ... 2500 кПа   сер.№ Q1-004711   (COM7)"));
  dev->settings.refSource = 3;
  EXPECT_EQ(
      buildCaption(*dev, base, true, false),
      QStringLiteral("АРМ Quarn v1.4    Модель:  QC-2500    0 ... 1600.5 кПа   сер.№ Q1-004711   (COM7)"));
}

TEST(UnitNames, TableAndOutOfRange) {
  EXPECT_EQ(unitName(0), QStringLiteral("кПа"));
  EXPECT_EQ(unitName(5), QStringLiteral("мм вод. ст."));
  EXPECT_EQ(unitName(7), QStringLiteral("psi"));
  EXPECT_EQ(unitName(8), QString());
  EXPECT_EQ(unitName(-1), QString());
  EXPECT_EQ(pressureTypeName(0), QStringLiteral("Абсолютное"));
  EXPECT_EQ(pressureTypeName(1), QStringLiteral("Избыточное"));
  EXPECT_EQ(pressureTypeName(3), QStringLiteral("Избыточное-разрежение"));
  EXPECT_EQ(pressureTypeName(4), QString());
}

// ---- Port list ------------------------------------------------------------------------------

TEST(PortList, PresentPortsWithColumnsAndHeldPortsDisabled) {
  auto pathOf = [](uint32_t n) -> QString {
    switch (n) {
      case 1:
        return "/dev/ttyS0";
      case 7:
        return "/dev/pts/3";
      case 33:
        return "/dev/ttyUSB0";
      case 47:
        return "virtual:47";
      case 94:
        return "/dev/ttyACM29";
      case 253:
        return "/dev/pts/9";
      default:
        return {};
    }
  };
  auto probe = [](const QString& path) { return path != "/dev/ttyUSB0"; };  // held by another program
  const std::vector<PortEntry> ports = listPorts(pathOf, probe, 7);
  ASSERT_EQ(ports.size(), 6u);
  const struct {
    uint32_t number;
    const char* name;
    const char* caption;
    bool enabled, newColumn;
  } expected[] = {
      {1, "COM1", "COM1  (ttyS0)", true, false},       {7, "COM7", "COM7  (pts/3)", false, false},
      {33, "COM33", "COM33  (ttyUSB0)", false, false}, {47, "COM47", "COM47  (virtual:47)", true, true},
      {94, "COM94", "COM94  (ttyACM29)", true, true},  {253, "COM253", "COM253  (pts/9)", true, false},
  };
  for (size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(ports[i].number, expected[i].number);
    EXPECT_EQ(ports[i].name, QString::fromLatin1(expected[i].name));
    EXPECT_EQ(ports[i].caption, QString::fromLatin1(expected[i].caption));
    EXPECT_EQ(ports[i].enabled, expected[i].enabled) << expected[i].name;
    EXPECT_EQ(ports[i].newColumn, expected[i].newColumn) << expected[i].name;
  }
  EXPECT_TRUE(listPorts(nullptr, probe, 0).empty());
}

TEST(PortList, ProbeRefusesWhatIsNotAnOpenableTerminal) {
  EXPECT_FALSE(portCanBeOpened("/nonexistent/ttyS99"));
  EXPECT_FALSE(portCanBeOpened("/dev/null"));  // opens, but has no line settings
  EXPECT_TRUE(portCanBeOpened("virtual:5"));
}

// ---- Dialogs --------------------------------------------------------------------------------

TEST(MessageWindow, LastTextWinsAndButtonsFollowTheQuestionFlag) {
  ZDialog z;
  z.showMessage(QStringLiteral("Первое"), true, QStringLiteral("Вопрос"));
  EXPECT_TRUE(z.isVisible());
  EXPECT_EQ(z.windowTitle(), QStringLiteral("Вопрос"));
  EXPECT_FALSE(z.findChild<QWidget*>("pn_Yes")->isHidden());
  EXPECT_FALSE(z.findChild<QWidget*>("pn_No")->isHidden());
  EXPECT_TRUE(z.findChild<QWidget*>("pn_Exit")->isHidden());
  // The caption is the caller's, each time.
  z.showMessage(QStringLiteral("Второе"), false, QStringLiteral("Сообщение"));
  EXPECT_EQ(z.text(), QStringLiteral("Второе"));
  EXPECT_EQ(z.windowTitle(), QStringLiteral("Сообщение"));
  EXPECT_TRUE(z.findChild<QWidget*>("pn_Yes")->isHidden());
  EXPECT_FALSE(z.findChild<QWidget*>("pn_Exit")->isHidden());
  z.hide();
}

TEST(VoltageDialog, ApplyReadsBothLimitsCancelKeepsThem) {
  DialogUDiap d;
  EXPECT_EQ(d.minEdit()->text(), QStringLiteral("0"));
  EXPECT_EQ(d.maxEdit()->text(), QStringLiteral("10"));
  d.minEdit()->setText(QStringLiteral("1.5"));
  d.maxEdit()->setText(QStringLiteral("abc"));
  d.cancel();
  EXPECT_EQ(d.result(), 2);
  EXPECT_FLOAT_EQ(d.lower(), 0);
  EXPECT_FLOAT_EQ(d.upper(), 10);
  d.apply();
  EXPECT_EQ(d.result(), 1);
  EXPECT_FLOAT_EQ(d.lower(), 1.5f);
  EXPECT_FLOAT_EQ(d.upper(), 0);  // nothing converts: 0
}

}  // namespace
