// Storing the values of a tree of controls in an INI document and loading them back: the generic half
// of the project file. Every control of a known class is stored under its object name as the key, in
// the section named by its owners (projectSection: "_FormMain_Frame_Mode_3_Param1_"), after
// everything it owns; loading a control also runs the handler the operator's action would run, so the
// screen reacts as if the value had been chosen by hand.
//
// Classes (the exact class: a widget derived from one of these is not stored) and value forms:
//   QLineEdit       text; on load a missing key keeps the text
//   QSpinBox        integer value; a missing key keeps it
//   QComboBox       integer index; a missing key, or an index the list does not have, selects the
//                   first item (not the current one); then activated(index) is emitted
//   QListWidget     integer current row; a missing key keeps it; a negative row becomes 0
//   QSlider         integer position; a missing key keeps it
//   QCheckBox       1/0; a missing key keeps the state; then clicked(checked) is emitted
//   QRadioButton    1/0 written twice under the same key; loaded first as a check box (a button stored
//                   as 0 is unchecked), then read again as a boolean: when true the button is checked
//                   and clicked(true) is emitted a second time
//   QTabWidget      integer current page; currentChanged runs once; a page control named "Pages" is
//                   left alone
//   QButtonGroup    integer index of the checked button among the group's buttons (its buttons stay
//                   unnamed); then buttonClicked / idClicked are emitted
//   QPlainTextEdit  one key per line, name + "_str" + line number from 0; loading empties the memo
//                   only when the key of line 0 exists; a save leaves keys of further, older lines
//   QAction         checked state, only for an item of an exclusive action group (a radio item); when
//                   loaded as checked, triggered(true) is emitted
// Objects without a name, and the toolkit's own children (names beginning "qt_"), are not stored,
// but what they hold is visited.
#pragma once

#include <QString>

#include "IniDocument.h"

class QObject;
class QWidget;

namespace arm {

class FormPersistence {
 public:
  // IniPrj_Component: stores (save) or loads a component and, first, everything it owns, in the order
  // of ownership. Returns -1, touching nothing, for no component or one excluded by name: the
  // protocol date "amp_CD_DATE", the HART frame "Frame_Mode_2_1_HART1", the point list view
  // "lv_Steps" (its points have sections of their own) and the calibrator line "ed_Quarn_SN".
  static int component(quarn::data::IniDocument& ini, bool save, QObject* component);

  // IniPrj_Control: one control's value under `section`; nothing for a class that is not stored.
  static void control(quarn::data::IniDocument& ini, bool save, QObject* control, const QString& section);

  static bool excluded(const QString& name);

  // Marks a widget as an owner of the controls inside it, for the section names: the main window,
  // every screen, an embedded frame such as Frame_regul_brenk1.
  static void markOwner(QWidget* widget);
  // The section of a control: the names of its owners from the outermost, each followed by "_",
  // after a leading "_" (a control of the parameters screen: "_FormMain_Frame_Mode_3_Param1_").
  // Widgets that only lay out others do not count.
  static QString projectSection(const QObject* control);
};

}  // namespace arm
