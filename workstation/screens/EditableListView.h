// A report-style list view (a caption column and text sub-columns) whose cells are edited in place:
// the device grid of the parameters screen (one kind of editor per row, a sub-column per channel) and
// its point list (one kind per column). A click on a cell opens the cell's editor: an edit box for
// text and numbers, a drop-down list, or - for a two-state cell - no editor, the cell just flips.
// Enter, a choice in the list or the next click on the view commits the editor: the cell takes its
// text and the changed callback hears of it. Escape, or the focus going elsewhere, closes it without
// writing.
//
// Rows and columns of the operations count from 0; columns among the sub-columns (0 is the first
// column after the captions).
#pragma once

#include <QStringList>
#include <QTreeWidget>
#include <functional>
#include <vector>

class QComboBox;
class QLineEdit;

namespace arm {

class EditableListView : public QTreeWidget {
  Q_OBJECT
 public:
  enum Kind { NotEditable = 0, Text = 1, Number = 2, List = 3, Toggle = 4 };

  // `slotCount` editor slots, all not editable until configured; slots are chosen by row unless
  // setSlotsByColumn(true).
  EditableListView(const QString& objectName, int slotCount, QWidget* parent = nullptr);

  void setSlotsByColumn(bool byColumn) { byColumn_ = byColumn; }
  void setTextSlot(int slot);
  void setNumberSlot(int slot);
  void setListSlot(int slot, const QStringList& items);
  // Two states: the first text is state 0, the second state 1.
  void setToggleSlot(int slot, const QString& state0, const QString& state1);
  Kind slotKind(int slot) const;

  // Returns true to forbid editing the cell (row, column).
  std::function<bool(int row, int column)> mayEdit;
  // A cell was changed by the operator: its new text.
  std::function<void(int row, const QString& text, int column)> changed;

  // Rows with their captions in the first column; the caption column's heading comes first.
  void setColumns(const QStringList& headings);
  void setRows(const QStringList& captions);
  int rowCount() const { return topLevelItemCount(); }
  // Height of every row in pixels (rows are all of one height); 0 keeps the style's.
  void setRowHeight(int pixels);
  int subColumnCount() const { return columnCount() - 1; }

  // SetText: 0; -1 for a row, -2 for a column that does not exist (with a diagnostic line in the
  // debug output; nothing changes).
  int SetText(int row, int column, const QString& text);
  // GetText: the cell's text; empty (and a diagnostic line) for a cell that does not exist.
  QString GetText(int row, int column) const;
  // GetIndex: for list and two-state cells the position of the cell's text (blanks around it ignored)
  // in the slot's texts, -1 when it is not there; 0 for other kinds.
  int GetIndex(int row, int column) const;
  // SetIndex: for list and two-state cells writes the slot's text number `index`: 0; -1 for a
  // negative index or another kind of cell, -2 for an index past the list.
  int SetIndex(int row, int column, int index);
  // GetFloat: the cell as a number (first ',' as '.', 0 when empty or holding anything but '-',
  // digits and '.').
  float GetFloat(int row, int column) const;

  // What a click on the cell does (the mouse handler calls it for the cell under the pointer).
  void clickCell(int row, int column);
  // Commits the open editor; false when none was open.
  bool commitEditor();
  // Closes the open editor without writing.
  void cancelEditor();
  // The slot being edited; -1 while no editor is open.
  int editingSlot() const { return editing_; }
  QLineEdit* lineEditor() const { return edit_; }
  QComboBox* listEditor() const { return combo_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct EditorSlot {
    Kind kind = NotEditable;
    QStringList texts;  // list items, or the two states
    int row = -1;       // the cell last edited through the slot
    int column = -1;
  };
  int slotOf(int row, int column) const;
  const EditorSlot* slotFor(int row, int column) const;
  QRect cellRect(int row, int column) const;
  bool validCell(int row, int column) const;
  bool numberKey(const QString& typed);

  std::vector<EditorSlot> slots_;
  bool byColumn_ = false;
  int rowHeight_ = 0;
  int editing_ = -1;
  QLineEdit* edit_;
  QComboBox* combo_;
};

}  // namespace arm
