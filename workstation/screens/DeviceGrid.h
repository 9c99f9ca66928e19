// The device grid of the parameters screen (Frame_ParamDevGrid1): one column per channel, one row per
// field of the device under test, each row with its own kind of in-place editor. The grid only
// carries the texts; what they mean for the shared record is DeviceGridRows.h, what an edit does is
// the screen's (the two callbacks).
#pragma once

#include <QFrame>
#include <functional>

#include "DeviceGridRows.h"

namespace arm {

class EditableListView;

class DeviceGrid : public QFrame {
  Q_OBJECT
 public:
  explicit DeviceGrid(QWidget* parent = nullptr);

  EditableListView* view() const { return view_; }

  // A click on a cell of `channel` (0..3), before anything else: the screen applies the grid.
  std::function<void(int channel)> clicked;
  // The operator changed a cell (its row, its new text, its channel).
  std::function<void(int row, const QString& text, int channel)> edited;

  // The cells of a channel, as DeviceGridRows describes them.
  void showColumn(int channel, const quarn::data::DeviceGridColumn& cells);
  quarn::data::DeviceGridColumn column(int channel) const;
  QString cell(int row, int channel) const;
  // Whether row 0 of the channel says "Да".
  bool channelOn(int channel) const;

 private:
  EditableListView* view_;
};

}  // namespace arm
