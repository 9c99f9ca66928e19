// The point list of the parameters screen (Frame_Points1): five sets of 200 verification points, one
// shown at a time in the list lv_Steps and chosen with the radio buttons rb_1 .. rb_5. A point is
// switched on or off, and given as a percentage of the devices' range or as a value in that range
// (the list converts between the two for the range the screen gives it).
#pragma once

#include <QFrame>
#include <array>
#include <functional>

#include "PointListRange.h"
#include "ProjectModel.h"

class QRadioButton;

namespace arm {

class EditableListView;

class PointList : public QFrame {
  Q_OBJECT
 public:
  // Starts with the standard points in set 1 (0, 25, 50, 75, 100, 75, 50, 20, 0 %), set 1 selected,
  // and the range 0 .. 600.
  explicit PointList(QWidget* parent = nullptr);

  EditableListView* view() const { return view_; }
  QRadioButton* setButton(int set) const { return buttons_[static_cast<std::size_t>(set)]; }

  // Called after every change the operator makes (a point, or the choice of the set).
  std::function<void(int set)> changed;
  // Called with the reason when an edit is refused (a point outside the device's range); the point
  // keeps what it had.
  std::function<void(const QString& reason)> refused;

  // The range the values are shown in: [min, max], both in the display unit; the list is redrawn.
  void setRange(float min, float max);
  const quarn::data::PointListRange& range() const { return range_; }

  const std::array<quarn::data::PointSet, quarn::data::kPointSetCount>& sets() const { return sets_; }
  // New sets (a project was loaded); the list is redrawn.
  void setSets(const std::array<quarn::data::PointSet, quarn::data::kPointSetCount>& sets);
  int selectedSet() const { return selected_; }
  const quarn::data::PointSet& selectedPoints() const { return sets_[static_cast<std::size_t>(selected_)]; }
  // Selects a set as its radio button does (without telling `changed`).
  void selectSet(int set);
  // Redraws the list from the selected set.
  void redraw();

 private:
  void redrawRow(int row);
  void cellChanged(int row, const QString& text, int column);

  EditableListView* view_;
  std::array<QRadioButton*, quarn::data::kPointSetCount> buttons_{};
  std::array<quarn::data::PointSet, quarn::data::kPointSetCount> sets_;
  int selected_ = 0;
  quarn::data::PointListRange range_;
};

}  // namespace arm
