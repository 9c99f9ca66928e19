#include "PointList.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QRadioButton>
#include <QVBoxLayout>

#include "EditableListView.h"
#include "FormPersistence.h"

namespace arm {

namespace data = quarn::data;

PointList::PointList(QWidget* parent) : QFrame(parent), sets_(data::Project().pointSets) {
  setObjectName(QStringLiteral("Frame_Points1"));
  FormPersistence::markOwner(this);

  auto* group = new QGroupBox(QStringLiteral(" Список "), this);
  auto* groupLayout = new QHBoxLayout(group);
  for (int s = 0; s < data::kPointSetCount; ++s) {
    auto* b = new QRadioButton(QString::number(s + 1), group);
    b->setObjectName(QStringLiteral("rb_%1").arg(s + 1));
    b->setChecked(s == 0);
    connect(b, &QRadioButton::clicked, this, [this, s](bool checked) {
      if (!checked) return;
      selectSet(s);
      if (changed) changed(s);
    });
    buttons_[static_cast<std::size_t>(s)] = b;
    groupLayout->addWidget(b);
  }
  groupLayout->addStretch(1);

  view_ = new EditableListView(QStringLiteral("lv_Steps"), data::kPointColumns, this);
  view_->setSlotsByColumn(true);
  view_->setColumns({QStringLiteral(" №"), QStringLiteral("вкл."), QStringLiteral(" %"),
                     QStringLiteral("значение"), QStringLiteral("время, сек.")});
  QStringList numbers;
  for (int p = 1; p <= data::kPointsPerSet; ++p) numbers << QString::number(p);
  view_->setRowHeight(22);
  view_->setRows(numbers);
  view_->setToggleSlot(data::kPointOn, QString::fromUtf8(data::kPointOffText),
                       QString::fromUtf8(data::kPointOnText));
  view_->setNumberSlot(data::kPointPercent);
  view_->setNumberSlot(data::kPointValue);
  view_->setNumberSlot(data::kPointTime);
  view_->changed = [this](int row, const QString& text, int column) { cellChanged(row, text, column); };
  view_->header()->setSectionResizeMode(QHeaderView::Fixed);
  view_->setColumnWidth(0, 56);
  view_->setColumnWidth(1 + data::kPointOn, 56);
  view_->setColumnWidth(1 + data::kPointPercent, 110);
  view_->setColumnWidth(1 + data::kPointValue, 130);
  view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The time column is kept in the project only.
  view_->setColumnHidden(1 + data::kPointTime, true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(group);
  layout->addWidget(view_, 1);
  redraw();
}

void PointList::setRange(float min, float max) {
  range_.set(min, max);
  redraw();
}

void PointList::setSets(const std::array<data::PointSet, data::kPointSetCount>& sets) {
  sets_ = sets;
  redraw();
}

void PointList::selectSet(int set) {
  if (set < 0 || set >= data::kPointSetCount) return;
  selected_ = set;
  QRadioButton* b = buttons_[static_cast<std::size_t>(set)];
  if (!b->isChecked()) b->setChecked(true);
  redraw();
}

void PointList::redraw() {
  view_->cancelEditor();
  view_->setUpdatesEnabled(false);
  for (int row = 0; row < data::kPointsPerSet; ++row) redrawRow(row);
  view_->setUpdatesEnabled(true);
}

void PointList::redrawRow(int row) {
  const data::PointDef& p = selectedPoints()[static_cast<std::size_t>(row)];
  const data::PointRowTexts t = data::pointRowTexts(p, range_);
  view_->SetText(row, data::kPointOn, QString::fromStdString(t.on));
  view_->SetText(row, data::kPointPercent, QString::fromStdString(t.percent));
  view_->SetText(row, data::kPointValue, QString::fromStdString(t.value));
  view_->SetText(row, data::kPointTime, QString::fromStdString(t.time));
}

void PointList::cellChanged(int row, const QString& text, int column) {
  if (row < 0 || row >= data::kPointsPerSet) return;
  data::PointDef& p = sets_[static_cast<std::size_t>(selected_)][static_cast<std::size_t>(row)];
  const std::string refusal = data::applyPointEdit(p, column, text.toStdString(), range_);
  // A number edited in one column shows in the other (value <-> percent); switching a point on or off
  // shows or empties its cells; a refused edit shows the point as it was.
  redrawRow(row);
  if (!refusal.empty()) {
    if (refused) refused(QString::fromStdString(refusal));
    return;
  }
  if (changed) changed(selected_);
}

}  // namespace arm
