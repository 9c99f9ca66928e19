#include "DeviceGridRows.h"

#include "ChannelRules.h"
#include "PointListRange.h"
#include "ProjectFile.h"
#include "ProjectToDev.h"

namespace quarn::data {

const DeviceGridRowDef kDeviceGridRowDefs[kDeviceGridRows] = {
    {" Подключен", CellKind::Toggle},
    {" Название", CellKind::Text},
    {" Модель", CellKind::Text},
    {" Серийный №", CellKind::Text},
    {" Инвентарный №", CellKind::Text},
    {" Собственник", CellKind::Text},
    {" Pв", CellKind::Number},
    {" Pн", CellKind::Number},
    {" Единицы изм.", CellKind::List},
    {" Время демпф.", CellKind::Number},
    {" Зависимость", CellKind::Toggle},
    {" Допуск, %", CellKind::Number},
    {" Тип вых. сигнала", CellKind::List},
};

const char* const kTransferFunctionNames[kTransferFunctionCount] = {"Линейная", "Корнеизвлекающ."};

namespace {

std::string_view trimmed(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

const char* nameAt(const char* const* list, int count, int index) {
  return index >= 0 && index < count ? list[index] : "";
}

}  // namespace

int listPosition(std::string_view cell, const char* const* list, int count) {
  const std::string_view t = trimmed(cell);
  for (int i = 0; i < count; ++i)
    if (t == list[i]) return i;
  return -1;
}

DeviceGridColumn deviceGridColumn(const TDevChannel& ch) {
  DeviceGridColumn c;
  if (!ch.enabled) {
    c[kRowEnabled] = kChannelOffText;
    return c;
  }
  const ChannelParams p = channelFromDev(ch);
  c[kRowEnabled] = kChannelOnText;
  c[kRowName] = p.name;
  c[kRowModel] = p.model;
  c[kRowSn] = p.sn;
  c[kRowInvNo] = p.invNo;
  c[kRowOwner] = p.owner;
  c[kRowMax] = gridNumberText(p.Max);
  c[kRowMin] = gridNumberText(p.Min);
  c[kRowUnit] = p.unit;
  c[kRowDamping] = dampingText(p.tDamp);
  c[kRowFunction] = nameAt(kTransferFunctionNames, kTransferFunctionCount, p.fnCode);
  c[kRowErrOk] = gridNumberText(p.errOk);
  c[kRowSignal] = nameAt(kSignalTypeNames, kSignalTypeCount, p.elTypeSignal);
  return c;
}

void deviceGridToChannel(const DeviceGridColumn& cells, TDevChannel& ch) {
  ch.enabled = trimmed(cells[kRowEnabled]) == kChannelOnText ? 1 : 0;
  if (!ch.enabled) return;
  ChannelParams p = channelFromDev(ch);
  p.name = cells[kRowName];
  p.model = cells[kRowModel];
  p.sn = cells[kRowSn];
  p.invNo = cells[kRowInvNo];
  p.owner = cells[kRowOwner];
  p.Max = parseGridNumber(cells[kRowMax]);
  p.Min = parseGridNumber(cells[kRowMin]);
  p.unit = cells[kRowUnit];
  p.tDamp = parseGridNumber(cells[kRowDamping]);
  p.fnCode = listPosition(cells[kRowFunction], kTransferFunctionNames, kTransferFunctionCount);
  p.errOk = parseGridNumber(cells[kRowErrOk]);
  p.elTypeSignal = listPosition(cells[kRowSignal], kSignalTypeNames, kSignalTypeCount);
  // Texts cut to their fields, the unit's factor, a known transfer function and signal type with its
  // limits and unit.
  normalizeChannel(p);
  channelToDev(p, ch);
}

std::vector<std::string> deviceGridChanges(const DeviceGridColumn& before, const DeviceGridColumn& after) {
  std::vector<std::string> changes;
  const auto shown = [](std::string_view cell) {
    const std::string_view t = trimmed(cell);
    return t.empty() ? std::string("—") : std::string(t);
  };
  for (int row = 0; row < kDeviceGridRows; ++row) {
    const auto r = static_cast<std::size_t>(row);
    if (trimmed(before[r]) == trimmed(after[r])) continue;
    changes.push_back(std::string(trimmed(kDeviceGridRowDefs[row].caption)) + ": " + shown(before[r]) +
                      " → " + shown(after[r]));
  }
  return changes;
}

}  // namespace quarn::data
