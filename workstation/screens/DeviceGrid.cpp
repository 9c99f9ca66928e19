#include "DeviceGrid.h"

#include <QHeaderView>
#include <QVBoxLayout>

#include "ChannelRules.h"
#include "EditableListView.h"
#include "FormPersistence.h"

namespace arm {

namespace data = quarn::data;

namespace {
QStringList texts(const char* const* list, int count) {
  QStringList out;
  for (int i = 0; i < count; ++i) out << QString::fromUtf8(list[i]);
  return out;
}
}  // namespace

DeviceGrid::DeviceGrid(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("Frame_ParamDevGrid1"));
  FormPersistence::markOwner(this);
  view_ = new EditableListView(QStringLiteral("lv_DevGrid"), data::kDeviceGridRows, this);
  // The view owns its in-place editors, which the project file keeps in a section of their own.
  FormPersistence::markOwner(view_);
  view_->setColumns({QStringLiteral("№ канала"), QStringLiteral("1"), QStringLiteral("2"),
                     QStringLiteral("3"), QStringLiteral("4")});
  QStringList captions;
  for (const data::DeviceGridRowDef& r : data::kDeviceGridRowDefs) captions << QString::fromUtf8(r.caption);
  view_->setRowHeight(27);
  view_->setRows(captions);

  QStringList units;
  for (const data::PressureUnit& u : data::kPressureUnits) units << QString::fromUtf8(u.text);
  for (int row = 0; row < data::kDeviceGridRows; ++row) {
    switch (data::kDeviceGridRowDefs[row].kind) {
      case data::CellKind::Text:
        view_->setTextSlot(row);
        break;
      case data::CellKind::Number:
        view_->setNumberSlot(row);
        break;
      default:
        break;
    }
  }
  view_->setToggleSlot(data::kRowEnabled, QString::fromUtf8(data::kChannelOffText),
                       QString::fromUtf8(data::kChannelOnText));
  view_->setToggleSlot(data::kRowFunction, QString::fromUtf8(data::kTransferFunctionNames[0]),
                       QString::fromUtf8(data::kTransferFunctionNames[1]));
  view_->setListSlot(data::kRowUnit, units);
  view_->setListSlot(data::kRowSignal, texts(data::kSignalTypeNames, data::kSignalTypeCount));
  for (int ch = 0; ch < 4; ++ch)
    view_->SetText(data::kRowEnabled, ch, QString::fromUtf8(data::kChannelOffText));

  view_->mayEdit = [this](int row, int channel) {
    if (clicked) clicked(channel);
    // Only the switch of a channel that is off may be changed.
    return row != data::kRowEnabled && !channelOn(channel);
  };
  view_->changed = [this](int row, const QString& text, int channel) {
    if (edited) edited(row, text, channel);
  };

  view_->header()->setSectionResizeMode(QHeaderView::Fixed);
  view_->header()->setDefaultAlignment(Qt::AlignCenter);
  view_->setColumnWidth(0, 150);
  for (int c = 1; c <= 4; ++c) view_->setColumnWidth(c, 176);
  view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
}

void DeviceGrid::showColumn(int channel, const data::DeviceGridColumn& cells) {
  for (int row = 0; row < data::kDeviceGridRows; ++row)
    view_->SetText(row, channel, QString::fromStdString(cells[static_cast<std::size_t>(row)]));
}

data::DeviceGridColumn DeviceGrid::column(int channel) const {
  data::DeviceGridColumn cells;
  for (int row = 0; row < data::kDeviceGridRows; ++row)
    cells[static_cast<std::size_t>(row)] = view_->GetText(row, channel).toStdString();
  return cells;
}

QString DeviceGrid::cell(int row, int channel) const { return view_->GetText(row, channel); }

bool DeviceGrid::channelOn(int channel) const {
  return view_->GetText(data::kRowEnabled, channel).trimmed() == QString::fromUtf8(data::kChannelOnText);
}

}  // namespace arm
