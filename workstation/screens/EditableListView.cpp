#include "EditableListView.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QtDebug>

#include "PointListRange.h"
#include "UiHelpers.h"

namespace arm {

EditableListView::EditableListView(const QString& objectName, int slotCount, QWidget* parent)
    : QTreeWidget(parent), slots_(static_cast<std::size_t>(std::max(slotCount, 0))) {
  setObjectName(objectName);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setItemsExpandable(false);
  setAllColumnsShowFocus(true);
  setAlternatingRowColors(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  header()->setSectionsMovable(false);

  // Both editors belong to the view (the project file keeps them in the view's section).
  edit_ = new QLineEdit(viewport());
  edit_->setObjectName(QStringLiteral("ListView_Edit"));
  edit_->setFrame(false);
  edit_->hide();
  edit_->installEventFilter(this);
  combo_ = new QComboBox(viewport());
  combo_->setObjectName(QStringLiteral("instComboBox"));
  combo_->setFrame(false);
  QFont small = font();
  if (small.pointSize() > 1) small.setPointSize(small.pointSize() - 1);
  combo_->setFont(small);
  combo_->hide();
  combo_->installEventFilter(this);
  connect(combo_, &QComboBox::activated, this, [this] {
    // Only while the list is open over a cell: a choice made otherwise (a project load sets the
    // box's index) has no cell to go to.
    if (editing_ >= 0 && slots_[static_cast<std::size_t>(editing_)].kind == List) commitEditor();
  });
  // The editors sit over their cell; scrolling moves the cell away, so they close without writing.
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { cancelEditor(); });
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { cancelEditor(); });
}

void EditableListView::setTextSlot(int slot) {
  if (slot >= 0 && slot < static_cast<int>(slots_.size()))
    slots_[static_cast<std::size_t>(slot)] = {Text, {}};
}

void EditableListView::setNumberSlot(int slot) {
  if (slot >= 0 && slot < static_cast<int>(slots_.size()))
    slots_[static_cast<std::size_t>(slot)] = {Number, {}};
}

void EditableListView::setListSlot(int slot, const QStringList& items) {
  if (slot >= 0 && slot < static_cast<int>(slots_.size()))
    slots_[static_cast<std::size_t>(slot)] = {List, items};
}

void EditableListView::setToggleSlot(int slot, const QString& state0, const QString& state1) {
  if (slot >= 0 && slot < static_cast<int>(slots_.size()))
    slots_[static_cast<std::size_t>(slot)] = {Toggle, {state0, state1}};
}

EditableListView::Kind EditableListView::slotKind(int slot) const {
  return slot >= 0 && slot < static_cast<int>(slots_.size()) ? slots_[static_cast<std::size_t>(slot)].kind
                                                             : NotEditable;
}

void EditableListView::setColumns(const QStringList& headings) {
  setColumnCount(static_cast<int>(headings.size()));
  setHeaderLabels(headings);
}

void EditableListView::setRows(const QStringList& captions) {
  cancelEditor();
  clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(captions.size());
  for (const QString& caption : captions) {
    auto* item = new QTreeWidgetItem(QStringList{caption});
    if (rowHeight_ > 0) item->setSizeHint(0, QSize(0, rowHeight_));
    items << item;
  }
  addTopLevelItems(items);
}

void EditableListView::setRowHeight(int pixels) {
  rowHeight_ = pixels;
  for (int r = 0; r < rowCount(); ++r) topLevelItem(r)->setSizeHint(0, QSize(0, pixels));
}

bool EditableListView::validCell(int row, int column) const {
  return row >= 0 && row < rowCount() && column >= 0 && column < subColumnCount();
}

int EditableListView::SetText(int row, int column, const QString& text) {
  if (row < 0 || row >= rowCount()) {
    qDebug("ERROR !!! TListViewEd::SetText() - ROW value - !!!");
    return -1;
  }
  if (column < 0 || column >= subColumnCount()) {
    qDebug("ERROR !!! TListViewEd::SetText() - COLUMN value - !!!");
    return -2;
  }
  topLevelItem(row)->setText(column + 1, text);
  return 0;
}

QString EditableListView::GetText(int row, int column) const {
  if (row < 0 || row >= rowCount()) {
    qDebug("ERROR !!! TListViewEd::GetText() - ROW value - !!!");
    return {};
  }
  if (column < 0 || column >= subColumnCount()) {
    qDebug("ERROR !!! TListViewEd::GetText() - COLUMN value - !!!");
    return {};
  }
  return topLevelItem(row)->text(column + 1);
}

int EditableListView::slotOf(int row, int column) const { return byColumn_ ? column : row; }

const EditableListView::EditorSlot* EditableListView::slotFor(int row, int column) const {
  const int s = slotOf(row, column);
  return s >= 0 && s < static_cast<int>(slots_.size()) ? &slots_[static_cast<std::size_t>(s)] : nullptr;
}

int EditableListView::GetIndex(int row, int column) const {
  const EditorSlot* s = slotFor(row, column);
  if (!s || (s->kind != List && s->kind != Toggle)) return 0;
  const QString cell = GetText(row, column).trimmed();
  for (int i = 0; i < s->texts.size(); ++i)
    if (s->texts[i].trimmed() == cell) return i;
  return -1;
}

int EditableListView::SetIndex(int row, int column, int index) {
  const EditorSlot* s = slotFor(row, column);
  if (!s || (s->kind != List && s->kind != Toggle) || index < 0) return -1;
  if (index >= s->texts.size()) return -2;
  return SetText(row, column, s->texts[index]) == 0 ? 0 : -1;
}

float EditableListView::GetFloat(int row, int column) const {
  return quarn::data::parseGridNumber(GetText(row, column).toStdString());
}

QRect EditableListView::cellRect(int row, int column) const {
  const QRect r = visualItemRect(topLevelItem(row));
  const int section = column + 1;
  return QRect(header()->sectionViewportPosition(section), r.y(), header()->sectionSize(section), r.height());
}

void EditableListView::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  QTreeWidgetItem* item = itemAt(pos);
  const int section = header()->logicalIndexAt(pos.x());
  // The caption column and the space below the last row are not cells; the click still ends the
  // editing of the cell before (it would otherwise stay open without the focus).
  if (!item || section < 1) {
    commitEditor();
    return;
  }
  clickCell(indexOfTopLevelItem(item), section - 1);
}

void EditableListView::clickCell(int row, int column) {
  if (!validCell(row, column)) return;
  if (mayEdit && mayEdit(row, column)) {
    commitEditor();
    return;
  }
  commitEditor();
  const int s = slotOf(row, column);
  if (s < 0 || s >= static_cast<int>(slots_.size())) return;
  EditorSlot& slot = slots_[static_cast<std::size_t>(s)];
  slot.row = row;
  slot.column = column;
  const QString cell = GetText(row, column);
  switch (slot.kind) {
    case Text:
    case Number:
      editing_ = s;
      edit_->setText(cell);
      edit_->setGeometry(cellRect(row, column));
      edit_->show();
      edit_->setFocus(Qt::MouseFocusReason);
      edit_->selectAll();
      break;
    case List: {
      editing_ = s;
      combo_->blockSignals(true);
      combo_->clear();
      combo_->addItems(slot.texts);
      combo_->setCurrentIndex(static_cast<int>(slot.texts.indexOf(cell.trimmed())));
      combo_->blockSignals(false);
      combo_->setGeometry(cellRect(row, column));
      combo_->show();
      combo_->setFocus(Qt::MouseFocusReason);
      combo_->showPopup();
      break;
    }
    case Toggle: {
      const bool inSecond = cell.trimmed() == slot.texts[1].trimmed();
      const QString next = inSecond ? slot.texts[0] : slot.texts[1];
      SetText(row, column, next);
      if (changed) changed(row, next, column);
      break;
    }
    case NotEditable:
      break;
  }
}

bool EditableListView::commitEditor() {
  if (editing_ < 0) return false;
  EditorSlot& slot = slots_[static_cast<std::size_t>(editing_)];
  const QString text = slot.kind == List ? combo_->currentText() : edit_->text();
  const int row = slot.row;
  const int column = slot.column;
  cancelEditor();
  if (SetText(row, column, text) != 0) return true;  // the rows changed meanwhile
  if (changed) changed(row, text, column);
  return true;
}

void EditableListView::cancelEditor() {
  if (editing_ < 0) return;
  editing_ = -1;
  const bool hadFocus = edit_->hasFocus() || combo_->hasFocus();
  edit_->hide();
  combo_->hidePopup();
  combo_->hide();
  if (hadFocus) setFocus(Qt::OtherFocusReason);
}

bool EditableListView::numberKey(const QString& typed) {
  // Returns true when the key is consumed here.
  const QChar c = typed.front();
  if (c.isDigit() && c.unicode() < 128) return false;
  if (isEditingControl(c)) return false;  // Backspace and Delete edit as in any field
  QString text = edit_->text();
  if (c == QLatin1Char('-')) {
    // The minus key switches the sign instead of typing a minus somewhere in the number.
    const int cursor = edit_->cursorPosition();
    if (text.startsWith(QLatin1Char('-'))) {
      text.remove(0, 1);
      edit_->setText(text);
      edit_->setCursorPosition(std::max(cursor - 1, 0));
    } else {
      edit_->setText(QLatin1Char('-') + text);
      edit_->setCursorPosition(cursor + 1);
    }
    return true;
  }
  static const QString separators = QStringLiteral(".,бБюЮ");
  if (separators.contains(c)) {
    // The decimal separator keys on both keyboard layouts give the point; a second one is dropped,
    // since the cell would read as 0 with it.
    if (!text.contains(QLatin1Char('.'))) edit_->insert(QStringLiteral("."));
    return true;
  }
  return true;  // every other key is dropped
}

bool EditableListView::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_ && watched != combo_) return QTreeWidget::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      commitEditor();
      return true;
    }
    if (key->key() == Qt::Key_Escape) {
      cancelEditor();
      return true;
    }
    if (watched == edit_ && editing_ >= 0 && slots_[static_cast<std::size_t>(editing_)].kind == Number &&
        !key->text().isEmpty() && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
      return numberKey(key->text());
  } else if (event->type() == QEvent::FocusOut && editing_ >= 0) {
    // Focus going to the view itself means a click on it, which commits; anywhere else closes the
    // editor without writing. The list's own drop-down takes the focus while it is open, and so
    // does a menu: the editor stays open under it, so that "Сохранить проект" saves what is typed.
    if (static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason) return false;
    QWidget* next = QApplication::focusWidget();
    const bool toView = next == this || next == viewport();
    const bool toOwnPopup = watched == combo_ && (combo_->view()->isVisible() || next == combo_);
    const bool toOtherEditor = next == edit_ || next == combo_;
    if (!toView && !toOwnPopup && !toOtherEditor) cancelEditor();
  }
  return QTreeWidget::eventFilter(watched, event);
}

}  // namespace arm
