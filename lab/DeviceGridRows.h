// The device grid of the parameters screen as texts: one column of 13 cells per channel, each row one
// field of the channel's record with its own kind of cell. What the grid shows for a record and what
// a column of cells makes of the record; the widgets only carry the texts.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "TDev.h"

namespace quarn::data {

enum DeviceGridRow {
  kRowEnabled = 0,  // " Подключен": "нет" / "Да"
  kRowName,
  kRowModel,
  kRowSn,
  kRowInvNo,
  kRowOwner,
  kRowMax,       // Pв, device unit
  kRowMin,       // Pн
  kRowUnit,      // one of the 8 units
  kRowDamping,   // s, one decimal
  kRowFunction,  // "Линейная" / "Корнеизвлекающ."
  kRowErrOk,     // permissible error, %
  kRowSignal,    // one of the 5 signal types
  kDeviceGridRows
};

// How a cell is edited in place (the editable list view's kinds).
enum class CellKind { Fixed = 0, Text = 1, Number = 2, List = 3, Toggle = 4 };

struct DeviceGridRowDef {
  const char* caption;  // UTF-8, with the leading blank the grid shows
  CellKind kind;
};
extern const DeviceGridRowDef kDeviceGridRowDefs[kDeviceGridRows];

inline constexpr const char* kChannelOffText = "нет";
inline constexpr const char* kChannelOnText = "Да";
inline constexpr int kTransferFunctionCount = 2;
extern const char* const kTransferFunctionNames[kTransferFunctionCount];  // "Линейная", "Корнеизвлекающ."

using DeviceGridColumn = std::array<std::string, kDeviceGridRows>;

// The cells of one channel (UTF-8): an enabled channel shows every field, numbers in the general
// format with 5 significant digits and the damping time with one decimal; a channel that is not
// enabled shows "нет" and empty cells.
DeviceGridColumn deviceGridColumn(const TDevChannel& ch);

// The position of a cell's text (blanks around it ignored) in a list of `count` texts; -1 when it is
// not there.
int listPosition(std::string_view cell, const char* const* list, int count);

// A column of cells into the channel's record. Row 0 decides whether the channel is enabled; a
// channel that is not keeps every other field as it was. An enabled one takes every cell: texts cut
// to their fields, numbers read as the grid reads them (0 for anything but digits, '-' and '.'),
// the factor to kPa from the unit text (a text not in the list keeps the record's factor), the
// signal limits and unit from the signal type (a voltage keeps its limits), and the kPa range.
void deviceGridToChannel(const DeviceGridColumn& cells, TDevChannel& ch);

// What changed between two columns of one channel, row by row in the grid's order:
// "Серийный №: 101 → 4711" (the row's caption without its leading blank; an empty cell as "—").
std::vector<std::string> deviceGridChanges(const DeviceGridColumn& before, const DeviceGridColumn& after);

}  // namespace quarn::data
