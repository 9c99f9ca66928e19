// Random bytes as the workstation settings file "arm_quarn.ini", read as the workstation reads it
// (the text checks and conversion, then the settings): whatever it holds, the settings written back
// read as the same window and menus, and what is written once is written again unchanged (a byte
// that Windows-1251 leaves unassigned in the project's name is written as '?' the first time).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "TextFile.h"
#include "WorkstationSettings.h"

using namespace quarn::data;

namespace {

// The port menus as the workstation builds them: the calibrator's and the Dorv transducer's.
const std::map<std::string, std::vector<std::string>>& menus() {
  static const std::map<std::string, std::vector<std::string>> m = {
      {"_FormMain_COMselect_", {"menuAll_item", "COM1", "COM2", "COM7", "COM12"}},
      {"_FormMain_menuExtDorv_port_", {"COM1", "COM3"}}};
  return m;
}

bool sameWindowAndMenus(const WorkstationSettings& a, const WorkstationSettings& b) {
  const bool window =
      a.window.has_value() == b.window.has_value() &&
      (!a.window || (a.window->left == b.window->left && a.window->top == b.window->top &&
                     a.window->width == b.window->width && a.window->height == b.window->height));
  return window && a.portMenus == b.portMenus;
}

// What a save writes. The settings' document is written into where it lies (the checks below
// compare only the window and the menus), so no copy of it is made.
std::string written(WorkstationSettings& s) {
  IniDocument out = std::move(s.file);
  settingsToIni(s, out);
  return out.serialize();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Result<TextContent> text =
      textFromBytes(std::string_view(reinterpret_cast<const char*>(data), size), "arm_quarn.ini");
  if (!text) return 0;
  WorkstationSettings read = settingsFromIni(IniDocument::parse(text->bytes), "/opt/quarn", menus());
  const std::string once = written(read);
  WorkstationSettings back = settingsFromIni(IniDocument::parse(once), "/opt/quarn", menus());
  if (!sameWindowAndMenus(read, back)) std::abort();
  if (written(back) != once) std::abort();
  return 0;
}
