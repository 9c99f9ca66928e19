// The editable list view (cells edited in place, the editing rules of number cells, two-state and
// list cells, the cell operations with their refusals) and the generic storing of a tree of
// controls in an INI document (the class table, the handlers a load runs, the exclusions, the
// sections named by the owners).
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

#include "EditableListView.h"
#include "FormPersistence.h"
#include "IniValues.h"
#include "Screen.h"
#include "quarn/cp1251.h"

namespace {

using namespace arm;
namespace data = quarn::data;

void type(QWidget* w, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(w, &press);
  }
}

void key(QWidget* w, int k) {
  QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
}

// A view as the point list uses it: kinds by column (toggle, number, list, text), 200 rows.
struct ListBench {
  ListBench() : view(QStringLiteral("lv_Test"), 4) {
    view.setSlotsByColumn(true);
    view.setColumns({"№", "a", "b", "c", "d"});
    QStringList rows;
    for (int r = 1; r <= 200; ++r) rows << QString::number(r);
    view.setRows(rows);
    view.setToggleSlot(0, QStringLiteral("нет"), QStringLiteral("Да"));
    view.setNumberSlot(1);
    view.setListSlot(2, {QStringLiteral("кПа"), QStringLiteral("МПа"), QStringLiteral("бар")});
    view.setTextSlot(3);
    view.changed = [this](int row, const QString& text, int column) {
      calls << QStringLiteral("%1,%2:%3").arg(row).arg(column).arg(text);
    };
    view.resize(500, 300);
    view.show();
  }
  EditableListView view;
  QStringList calls;
};

struct Keys {
  const char* what;
  QString typed;
  QString before;  // the cell's text when the editor opens
  QString stored;
  float value;
};

TEST(EditableListView, NumberCellsTakeOnlyWhatMakesANumber) {
  const Keys cases[] = {
      {"the comma key is the point", "1,5", "", "1.5", 1.5f},
      {"the Cyrillic comma and full-stop keys too", QStringLiteral("2б5"), "", "2.5", 2.5f},
      {"a second point is dropped", "1.2.3", "", "1.23", 1.23f},
      {"letters are dropped", "1e3x", "", "13", 13},
      {"minus switches the sign on", "-", "42", "-42", -42},
      {"and off again", "--", "42", "42", 42},
      {"minus typed after digits still signs the number", "7-", "", "-7", -7},
  };
  for (const Keys& c : cases) {
    SCOPED_TRACE(c.what);
    ListBench b;
    b.view.SetText(0, 1, c.before);
    b.view.clickCell(0, 1);
    ASSERT_EQ(b.view.editingSlot(), 1);
    QLineEdit* edit = b.view.lineEditor();
    EXPECT_TRUE(edit->isVisible());
    edit->setCursorPosition(static_cast<int>(edit->text().size()));
    edit->deselect();
    type(edit, c.typed);
    key(edit, Qt::Key_Return);
    EXPECT_EQ(b.view.GetText(0, 1), c.stored);
    EXPECT_FLOAT_EQ(b.view.GetFloat(0, 1), c.value);
    EXPECT_EQ(b.calls, QStringList{QStringLiteral("0,1:") + c.stored});
    EXPECT_FALSE(edit->isVisible());
  }
}

// The exponent form is a number: the grid shows very large and very small values so.
TEST(EditableListView, CellsThatAreNotPlainNumbersReadAsZero) {
  ListBench b;
  const struct {
    const char* text;
    float value;
  } cells[] = {{"1.5e3", 1500}, {"1.5x3", 0},      {"", 0},    {"1,5", 1.5f},
               {" 5", 0},       {"-2.25", -2.25f}, {"1,5,", 0}};
  for (const auto& c : cells) {
    b.view.SetText(3, 1, QString::fromUtf8(c.text));
    EXPECT_FLOAT_EQ(b.view.GetFloat(3, 1), c.value) << c.text;
  }
}

TEST(EditableListView, EscapeAndLeavingTheEditorWriteNothingTheNextClickCommits) {
  ListBench b;
  b.view.SetText(5, 3, QStringLiteral("old"));
  b.view.clickCell(5, 3);
  b.view.lineEditor()->setText(QStringLiteral("typed"));
  key(b.view.lineEditor(), Qt::Key_Escape);
  EXPECT_EQ(b.view.GetText(5, 3), QStringLiteral("old"));
  EXPECT_EQ(b.view.editingSlot(), -1);

  // The focus going to another control closes the editor without writing.
  QLineEdit elsewhere;
  elsewhere.show();
  b.view.activateWindow();
  b.view.clickCell(5, 3);
  b.view.lineEditor()->setText(QStringLiteral("typed"));
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  elsewhere.setFocus();
  QCoreApplication::sendEvent(b.view.lineEditor(), &out);
  EXPECT_EQ(b.view.editingSlot(), -1);
  EXPECT_EQ(b.view.GetText(5, 3), QStringLiteral("old"));

  // A click on another cell commits the open one first.
  b.view.clickCell(5, 3);
  b.view.lineEditor()->setText(QStringLiteral("new"));
  b.view.clickCell(6, 1);
  EXPECT_EQ(b.view.GetText(5, 3), QStringLiteral("new"));
  EXPECT_EQ(b.calls, QStringList{QStringLiteral("5,3:new")});
  EXPECT_EQ(b.view.editingSlot(), 1);
}

TEST(EditableListView, ToggleCellsFlipAndListCellsOfferTheirItems) {
  ListBench b;
  b.view.SetText(2, 0, QStringLiteral("нет"));
  b.view.clickCell(2, 0);
  EXPECT_EQ(b.view.GetText(2, 0), QStringLiteral("Да"));
  EXPECT_EQ(b.view.editingSlot(), -1);  // no editor for a toggle
  b.view.clickCell(2, 0);
  EXPECT_EQ(b.view.GetText(2, 0), QStringLiteral("нет"));
  EXPECT_EQ(b.calls, (QStringList{QStringLiteral("2,0:Да"), QStringLiteral("2,0:нет")}));
  // A cell holding neither state flips to the second one.
  b.view.SetText(3, 0, QString());
  b.view.clickCell(3, 0);
  EXPECT_EQ(b.view.GetText(3, 0), QStringLiteral("Да"));

  b.calls.clear();
  b.view.SetText(4, 2, QStringLiteral(" МПа "));
  b.view.clickCell(4, 2);
  QComboBox* list = b.view.listEditor();
  ASSERT_TRUE(list->isVisible());
  EXPECT_EQ(list->count(), 3);
  EXPECT_EQ(list->currentText(), QStringLiteral("МПа"));  // the item equal to the cell
  list->setCurrentIndex(2);
  Q_EMIT list->activated(2);
  EXPECT_EQ(b.view.GetText(4, 2), QStringLiteral("бар"));
  EXPECT_EQ(b.calls, QStringList{QStringLiteral("4,2:бар")});
  EXPECT_FALSE(list->isVisible());
  // A choice while no cell is being edited (what a project load does to the box) goes nowhere.
  Q_EMIT list->activated(0);
  EXPECT_EQ(b.view.GetText(4, 2), QStringLiteral("бар"));
  EXPECT_EQ(b.calls.size(), 1);
}

TEST(EditableListView, CellOperationsRefuseCellsThatDoNotExist) {
  ListBench b;
  QStringList debug;
  static QStringList* sink = nullptr;
  sink = &debug;
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& text) { sink->append(text); });
  EXPECT_EQ(b.view.SetText(500, 0, QStringLiteral("x")), -1);
  EXPECT_EQ(b.view.SetText(0, 4, QStringLiteral("x")), -2);
  EXPECT_EQ(b.view.SetText(-1, 0, QStringLiteral("x")), -1);
  EXPECT_EQ(b.view.GetText(200, 0), QString());
  EXPECT_EQ(b.view.GetText(0, -1), QString());
  qInstallMessageHandler(previous);
  EXPECT_EQ(debug, (QStringList{"ERROR !!! TListViewEd::SetText() - ROW value - !!!",
                                "ERROR !!! TListViewEd::SetText() - COLUMN value - !!!",
                                "ERROR !!! TListViewEd::SetText() - ROW value - !!!",
                                "ERROR !!! TListViewEd::GetText() - ROW value - !!!",
                                "ERROR !!! TListViewEd::GetText() - COLUMN value - !!!"}));
  EXPECT_EQ(b.view.rowCount(), 200);
  EXPECT_EQ(b.view.GetText(199, 0), QString());
  b.view.clickCell(200, 0);  // no such row: nothing happens
  EXPECT_TRUE(b.calls.isEmpty());

  // Index operations: list and toggle cells only.
  b.view.SetText(1, 2, QStringLiteral("бар"));
  EXPECT_EQ(b.view.GetIndex(1, 2), 2);
  b.view.SetText(1, 2, QStringLiteral("psi"));
  EXPECT_EQ(b.view.GetIndex(1, 2), -1);
  EXPECT_EQ(b.view.GetIndex(1, 1), 0);  // a number cell
  EXPECT_EQ(b.view.SetIndex(1, 2, 1), 0);
  EXPECT_EQ(b.view.GetText(1, 2), QStringLiteral("МПа"));
  EXPECT_EQ(b.view.SetIndex(1, 2, -1), -1);
  EXPECT_EQ(b.view.SetIndex(1, 2, 3), -2);
  EXPECT_EQ(b.view.SetIndex(1, 1, 0), -1);
  EXPECT_EQ(b.view.SetIndex(1, 0, 1), 0);
  EXPECT_EQ(b.view.GetText(1, 0), QStringLiteral("Да"));
  EXPECT_EQ(b.view.GetText(1, 2), QStringLiteral("МПа"));
}

TEST(EditableListView, TheMayEditCallbackForbidsACell) {
  ListBench b;
  QList<QPair<int, int>> asked;
  b.view.mayEdit = [&](int row, int column) {
    asked << qMakePair(row, column);
    return row == 7;
  };
  b.view.SetText(7, 0, QStringLiteral("нет"));
  b.view.clickCell(7, 0);
  EXPECT_EQ(b.view.GetText(7, 0), QStringLiteral("нет"));
  b.view.clickCell(7, 1);
  EXPECT_EQ(b.view.editingSlot(), -1);
  b.view.clickCell(8, 1);
  EXPECT_EQ(b.view.editingSlot(), 1);
  EXPECT_EQ(asked, (QList<QPair<int, int>>{{7, 0}, {7, 1}, {8, 1}}));
}

// ---- Generic storing of controls --------------------------------------------------------------

// One control of every stored class, a frame that owns some of them, and counters for the handlers
// a load runs.
struct Form {
  Form() {
    main.setObjectName("FormMain");
    Screen::markOwner(&main);
    frame = new QWidget(&main);
    frame->setObjectName("Frame_Test1");
    Screen::markOwner(frame);
    auto* layoutOnly = new QWidget(frame);  // not an owner: its controls belong to the frame
    edit = new QLineEdit("start", layoutOnly);
    edit->setObjectName("ed_Text");
    date = new QLineEdit("11.12.2026", layoutOnly);
    date->setObjectName("amp_CD_DATE");
    spin = new QSpinBox(frame);
    spin->setObjectName("se_Count");
    spin->setRange(0, 1000);
    combo = new QComboBox(frame);
    combo->setObjectName("cb_List");
    combo->addItems({"0", "1", "2", "3"});
    combo->setCurrentIndex(3);
    QObject::connect(combo, &QComboBox::activated, [this](int i) { comboRuns << i; });
    fontCombo = new QFontComboBox(frame);  // derived from a combo box: not stored
    fontCombo->setObjectName("cb_Font");
    list = new QListWidget(frame);
    list->setObjectName("lb_Items");
    list->addItems({"a", "b", "c"});
    slider = new QSlider(frame);
    slider->setObjectName("tb_Pos");
    check = new QCheckBox(frame);
    check->setObjectName("cb_Flag");
    QObject::connect(check, &QCheckBox::clicked, [this] { ++checkRuns; });
    auto* radioBox = new QWidget(frame);
    for (int i = 0; i < 3; ++i) {
      radios[i] = new QRadioButton(radioBox);
      radios[i]->setObjectName(QStringLiteral("rb_%1").arg(i));
      QObject::connect(radios[i], &QRadioButton::clicked, [this, i] { ++radioRuns[i]; });
    }
    radios[0]->setChecked(true);
    tabs = new QTabWidget(frame);
    tabs->setObjectName("pc_Tabs");
    for (int i = 0; i < 3; ++i) tabs->addTab(new QWidget, QString::number(i));
    QObject::connect(tabs, &QTabWidget::currentChanged, [this] { ++tabRuns; });
    pages = new QTabWidget(frame);
    pages->setObjectName("Pages");
    for (int i = 0; i < 3; ++i) pages->addTab(new QWidget, QString::number(i));
    group = new QButtonGroup(frame);
    group->setObjectName("rg_Group");
    for (int i = 0; i < 3; ++i) group->addButton(new QRadioButton(frame), 10 + i);
    QObject::connect(group, &QButtonGroup::idClicked, [this](int id) { groupRuns << id; });
    memo = new QPlainTextEdit(frame);
    memo->setObjectName("amp_Memo");
    menu = new QMenu(&main);
    menu->setObjectName("menu_Ports");
    Screen::markOwner(menu);
    auto* items = new QActionGroup(menu);
    for (int i = 0; i < 2; ++i) {
      actions[i] = new QAction(QStringLiteral("COM%1").arg(i + 1), menu);
      actions[i]->setObjectName(QStringLiteral("COM%1").arg(i + 1));
      actions[i]->setCheckable(true);
      items->addAction(actions[i]);
      QObject::connect(actions[i], &QAction::triggered, [this, i] { ++actionRuns[i]; });
    }
    plainAction = new QAction("plain", menu);
    plainAction->setObjectName("N_Plain");
    steps = new QWidget(frame);
    steps->setObjectName("lv_Steps");
    auto* hidden = new QLineEdit("inside the point list", steps);
    hidden->setObjectName("ed_Inside");
  }
  void resetCounters() {
    comboRuns.clear();
    groupRuns.clear();
    checkRuns = tabRuns = 0;
    radioRuns = {0, 0, 0};
    actionRuns = {0, 0};
  }

  QWidget main;
  QWidget* frame;
  QLineEdit* edit;
  QLineEdit* date;
  QSpinBox* spin;
  QComboBox* combo;
  QFontComboBox* fontCombo;
  QListWidget* list;
  QSlider* slider;
  QCheckBox* check;
  std::array<QRadioButton*, 3> radios{};
  QTabWidget* tabs;
  QTabWidget* pages;
  QButtonGroup* group;
  QPlainTextEdit* memo;
  QMenu* menu;
  std::array<QAction*, 2> actions{};
  QAction* plainAction;
  QWidget* steps;
  QList<int> comboRuns, groupRuns;
  int checkRuns = 0, tabRuns = 0;
  std::array<int, 3> radioRuns{};
  std::array<int, 2> actionRuns{};
};

constexpr const char* kFrame = "_FormMain_Frame_Test1_";

TEST(FormPersistence, SavesEveryStoredClassUnderItsOwnersSection) {
  Form f;
  f.edit->setText("Проверка");
  f.spin->setValue(42);
  f.list->setCurrentRow(2);
  f.slider->setValue(7);
  f.check->setChecked(true);
  f.radios[1]->setChecked(true);
  f.tabs->setCurrentIndex(2);
  f.pages->setCurrentIndex(1);
  f.group->button(11)->setChecked(true);
  f.memo->setPlainText("строка 1\nстрока 2\n");
  f.actions[1]->setChecked(true);
  data::IniDocument ini;
  ASSERT_EQ(FormPersistence::component(ini, true, &f.main), 0);

  auto value = [&](const char* section, const char* key) {
    return std::string(ini.get(section, key).value_or("<none>"));
  };
  EXPECT_EQ(data::readTextUtf8(ini, kFrame, "ed_Text", ""), "Проверка");
  EXPECT_EQ(value(kFrame, "se_Count"), "42");
  EXPECT_EQ(value(kFrame, "cb_List"), "3");
  EXPECT_EQ(value(kFrame, "lb_Items"), "2");
  EXPECT_EQ(value(kFrame, "tb_Pos"), "7");
  EXPECT_EQ(value(kFrame, "cb_Flag"), "1");
  EXPECT_EQ(value(kFrame, "rb_0"), "0");
  EXPECT_EQ(value(kFrame, "rb_1"), "1");
  EXPECT_EQ(value(kFrame, "pc_Tabs"), "2");
  EXPECT_EQ(value(kFrame, "rg_Group"), "1");
  EXPECT_EQ(data::readTextUtf8(ini, kFrame, "amp_Memo_str0", ""), "строка 1");
  EXPECT_EQ(data::readTextUtf8(ini, kFrame, "amp_Memo_str1", ""), "строка 2");
  EXPECT_EQ(value(kFrame, "amp_Memo_str2"), "<none>");  // no empty line after the last line break
  EXPECT_EQ(value("_FormMain_menu_Ports_", "COM1"), "0");
  EXPECT_EQ(value("_FormMain_menu_Ports_", "COM2"), "1");
  // Not stored: the date, the point list and all it holds, a derived class, the page control named
  // "Pages", a menu item outside a radio group, the layout widget.
  for (const char* key : {"amp_CD_DATE", "lv_Steps", "ed_Inside", "cb_Font", "Pages"})
    EXPECT_EQ(value(kFrame, key), "<none>") << key;
  EXPECT_EQ(value("_FormMain_menu_Ports_", "N_Plain"), "<none>");
  EXPECT_FALSE(ini.hasSection("_FormMain_Frame_Test1_lv_Steps_"));
  EXPECT_EQ(FormPersistence::component(ini, true, f.date), -1);
  EXPECT_EQ(FormPersistence::component(ini, true, nullptr), -1);
}

TEST(FormPersistence, LoadingRunsTheHandlersAsTheOperatorsChoiceWould) {
  Form f;
  // The file's text is Windows-1251.
  data::IniDocument ini = data::IniDocument::parse(
      quarn::text::utf8ToCp1251("[_FormMain_Frame_Test1_]\r\n"
                                "ed_Text=загружено\r\nse_Count=12\r\nlb_Items=-4\r\ntb_Pos=3\r\ncb_Flag=5\r\n"
                                "rb_0=0\r\nrb_2=1\r\npc_Tabs=1\r\nPages=2\r\nrg_Group=2\r\n"
                                "amp_CD_DATE=01.01.2000\r\ned_Inside=changed\r\ncb_Font=3\r\n"
                                "[_FormMain_menu_Ports_]\r\nCOM2=1\r\n"));
  f.resetCounters();
  ASSERT_EQ(FormPersistence::component(ini, false, &f.main), 0);
  EXPECT_EQ(f.edit->text(), QStringLiteral("загружено"));
  EXPECT_EQ(f.spin->value(), 12);
  EXPECT_EQ(f.list->currentRow(), 0);  // a negative row becomes 0
  EXPECT_EQ(f.slider->value(), 3);
  EXPECT_TRUE(f.check->isChecked());  // any non-zero value is checked
  EXPECT_EQ(f.checkRuns, 1);
  // A combo box without its key selects its first item, not the one it showed, and runs its handler.
  EXPECT_EQ(f.combo->currentIndex(), 0);
  EXPECT_EQ(f.comboRuns, QList<int>{0});
  // A radio button stored as 1 is checked and its handler runs twice; stored as 0, once; a button
  // without a key keeps its state (and runs once more when that state is checked).
  EXPECT_FALSE(f.radios[0]->isChecked());
  EXPECT_TRUE(f.radios[2]->isChecked());
  EXPECT_EQ(f.radioRuns[0], 1);
  EXPECT_EQ(f.radioRuns[2], 2);
  EXPECT_EQ(f.tabs->currentIndex(), 1);
  EXPECT_EQ(f.tabRuns, 1);
  EXPECT_EQ(f.pages->currentIndex(), 0);  // "Pages" is left alone
  EXPECT_TRUE(f.group->button(12)->isChecked());
  EXPECT_EQ(f.groupRuns, QList<int>{12});
  EXPECT_TRUE(f.actions[1]->isChecked());
  EXPECT_EQ(f.actionRuns[1], 1);
  EXPECT_FALSE(f.actions[0]->isChecked());
  EXPECT_EQ(f.actionRuns[0], 0);
  EXPECT_EQ(f.date->text(), QStringLiteral("11.12.2026"));  // the date is never loaded
  EXPECT_EQ(f.steps->findChild<QLineEdit*>("ed_Inside")->text(), QStringLiteral("inside the point list"));

  // An empty document: edits and check boxes keep what they show, a combo box goes to its first item.
  f.combo->setCurrentIndex(2);
  f.resetCounters();
  data::IniDocument empty;
  FormPersistence::component(empty, false, &f.main);
  EXPECT_EQ(f.edit->text(), QStringLiteral("загружено"));
  EXPECT_TRUE(f.check->isChecked());
  EXPECT_EQ(f.combo->currentIndex(), 0);
  EXPECT_TRUE(f.radios[2]->isChecked());
  // A combo index the list does not have selects the first item as well.
  f.combo->setCurrentIndex(2);
  data::IniDocument odd =
      data::IniDocument::parse("[_FormMain_Frame_Test1_]\r\ncb_List=9\r\nse_Count=99999999999\r\n");
  FormPersistence::component(odd, false, &f.main);
  EXPECT_EQ(f.combo->currentIndex(), 0);
  EXPECT_EQ(f.spin->value(), 1000);  // limited to the box's range
}

TEST(FormPersistence, AMemoKeepsTheKeysOfOlderLongerTexts) {
  Form f;
  data::IniDocument ini = data::IniDocument::parse(
      "[_FormMain_Frame_Test1_]\r\namp_Memo_str0=a\r\namp_Memo_str1=b\r\namp_Memo_str2=c\r\n");
  FormPersistence::component(ini, false, &f.main);
  EXPECT_EQ(f.memo->toPlainText(), QStringLiteral("a\nb\nc"));
  f.memo->setPlainText("x\ny");
  FormPersistence::component(ini, true, &f.main);
  EXPECT_EQ(std::string(*ini.get(kFrame, "amp_Memo_str2")), "c");  // left from the longer text
  f.memo->setPlainText("unchanged");
  FormPersistence::component(ini, false, &f.main);
  EXPECT_EQ(f.memo->toPlainText(), QStringLiteral("x\ny\nc"));
  // Without the key of line 0 the memo keeps its text.
  data::IniDocument none = data::IniDocument::parse("[_FormMain_Frame_Test1_]\r\namp_Memo_str1=b\r\n");
  FormPersistence::component(none, false, &f.main);
  EXPECT_EQ(f.memo->toPlainText(), QStringLiteral("x\ny\nc"));
}

}  // namespace
