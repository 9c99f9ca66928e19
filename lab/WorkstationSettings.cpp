#include "WorkstationSettings.h"

#include <utility>

#include "IniValues.h"
#include "TextFile.h"

namespace quarn::data {

namespace {

constexpr const char* kHartSection = "HART";
constexpr long long kMaxTurnaroundMs = 1000;

}  // namespace

WorkstationSettings settingsFromIni(IniDocument ini, const std::string& programDir,
                                    const std::map<std::string, std::vector<std::string>>& menuItems) {
  WorkstationSettings s;
  if (ini.hasKey("MainForm", "Left") && ini.hasKey("MainForm", "Top") && ini.hasKey("MainForm", "Width") &&
      ini.hasKey("MainForm", "Height")) {
    auto get = [&](const char* k) { return static_cast<int>(readInteger(ini, "MainForm", k, 0)); };
    s.window = WindowPlacement{get("Left"), get("Top"), get("Width"), get("Height")};
  }
  s.projectFileName = readTextUtf8(ini, "Path", "ProjectFileName", programDir + "/" + kDefaultProjectName);
  for (const auto& [section, items] : menuItems)
    for (const std::string& item : items) s.portMenus[section][item] = readBool(ini, section, item, false);
  s.fastHartSearch = readBool(ini, kHartSection, "FastSearch", false);
  if (ini.hasKey(kHartSection, "FastSearchTurnaroundMs")) {
    // A value outside what the library takes is held to it rather than dropped.
    const long long ms = readInteger(ini, kHartSection, "FastSearchTurnaroundMs", 0);
    s.hartTurnaroundMs = static_cast<uint32_t>(ms < 0 ? 0 : ms > kMaxTurnaroundMs ? kMaxTurnaroundMs : ms);
  }
  s.file = std::move(ini);
  return s;
}

void settingsToIni(const WorkstationSettings& s, IniDocument& ini) {
  if (s.window) {
    writeInteger(ini, "MainForm", "Left", s.window->left);
    writeInteger(ini, "MainForm", "Top", s.window->top);
    writeInteger(ini, "MainForm", "Width", s.window->width);
    writeInteger(ini, "MainForm", "Height", s.window->height);
  }
  writeTextUtf8(ini, "Path", "ProjectFileName", s.projectFileName);
  for (const auto& [section, items] : s.portMenus)
    for (const auto& [item, checked] : items) writeBool(ini, section, item, checked);
  writeBool(ini, kHartSection, "FastSearch", s.fastHartSearch);
  if (s.hartTurnaroundMs) writeInteger(ini, kHartSection, "FastSearchTurnaroundMs", *s.hartTurnaroundMs);
}

Outcome loadSettings(const std::string& path, const std::string& programDir,
                     const std::map<std::string, std::vector<std::string>>& menuItems,
                     WorkstationSettings& out) {
  const Result<TextContent> f = readTextFile(path);
  if (!f && f.error().fault() == Fault::NotFound) {
    out = settingsFromIni(IniDocument{}, programDir, menuItems);
    return {};
  }
  if (!f) return f.error();
  out = settingsFromIni(IniDocument::parse(f->bytes), programDir, menuItems);
  return {};
}

Outcome saveSettings(const std::string& path, WorkstationSettings& s) {
  IniDocument ini = s.file;
  settingsToIni(s, ini);
  Outcome written = writeFileAtomically(path, ini.serialize());
  if (written) s.file = std::move(ini);
  return written;
}

}  // namespace quarn::data
