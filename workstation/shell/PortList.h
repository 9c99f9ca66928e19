// The entries of a port menu: every number of the library's port map that names a device (present
// serial devices and ports registered by the host), with whether the port can be opened now.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

namespace arm {

struct PortEntry {
  uint32_t number = 0;     // 1..253
  QString path;            // device path, or "virtual:N" for an in-process port
  QString name;            // "COM<number>": the item's name in menus and in the settings file
  QString caption;         // what the menu shows
  bool enabled = true;     // false while another program (or the library itself) holds the port
  bool newColumn = false;  // a number divisible by 47 starts a new menu column
};

// Whether a device can be opened for reading and writing without sharing it and its line settings
// read (the way the library opens it). Virtual ports count as free.
bool portCanBeOpened(const QString& path);

// Reads the entries from the port map. `pathOf` returns the path of a number ("" when unmapped);
// `probe` tells whether a path can be opened (portCanBeOpened when null); `heldPort` is a number the
// library holds open now (0 when none), shown disabled whatever the probe says.
std::vector<PortEntry> listPorts(const std::function<QString(uint32_t)>& pathOf,
                                 const std::function<bool(const QString&)>& probe, uint32_t heldPort);

}  // namespace arm
