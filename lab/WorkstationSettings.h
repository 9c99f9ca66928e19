// The workstation settings file "arm_quarn.ini": window placement, the last project, the checked
// items of the port menus (one section per menu, named by the owner chain, one boolean per item) and
// the HART search's setting.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "IniDocument.h"
#include "Outcome.h"

namespace quarn::data {

inline constexpr const char* kSettingsFileName = "arm_quarn.ini";
inline constexpr const char* kDefaultProjectName = "default.aip";

struct WindowPlacement {
  int left = 0, top = 0, width = 0, height = 0;
};

struct WorkstationSettings {
  std::optional<WindowPlacement> window;  // nothing: keep the window where it is
  std::string projectFileName;            // UTF-8 full path
  // Menu section (e.g. "_FormMain_COMselect_") -> item name -> checked.
  std::map<std::string, std::map<std::string, bool>> portMenus;
  // The HART screen's "Быстрый поиск HART", and the line turnaround the fast search waits beyond the
  // devices' time-out (ms, 0..1000; nothing: the library's own), section [HART].
  bool fastHartSearch = false;
  std::optional<uint32_t> hartTurnaroundMs;
  IniDocument file;  // the file as read; other content survives a save
};

// Reads the settings from a document; the project defaults to programDir + "/default.aip". A menu's
// items are those listed in `menuItems` (the items that exist now); missing items are unchecked.
// The document becomes the settings' `file` (a document passed as a temporary is moved, not copied).
WorkstationSettings settingsFromIni(IniDocument ini, const std::string& programDir,
                                    const std::map<std::string, std::vector<std::string>>& menuItems);
void settingsToIni(const WorkstationSettings& s, IniDocument& ini);

// Loads the settings file (a missing file gives the defaults); a failure leaves `out` as it was.
Outcome loadSettings(const std::string& path, const std::string& programDir,
                     const std::map<std::string, std::vector<std::string>>& menuItems,
                     WorkstationSettings& out);
// Saves atomically over `s.file`, which holds what was written after a success.
Outcome saveSettings(const std::string& path, WorkstationSettings& s);

}  // namespace quarn::data
