// The list of measurement methods ("mp.ini" in the program's folder): 50 rows of device name and the
// designation of its measurement-method document, section "MP_list", keys "device_N" and "doc_N".
#pragma once

#include <array>
#include <string>

#include "IniDocument.h"
#include "Outcome.h"

namespace quarn::data {

inline constexpr int kMethodRows = 50;
inline constexpr const char* kMethodSection = "MP_list";

struct MethodRow {
  std::string device;    // UTF-8
  std::string document;  // UTF-8
  bool operator==(const MethodRow&) const = default;
};
using MethodList = std::array<MethodRow, kMethodRows>;

MethodList methodsFromIni(const IniDocument& ini);
void methodsToIni(const MethodList& list, IniDocument& ini);

// Loads "mp.ini"; a missing file gives an empty list. On a failure the list is left as it was.
Outcome loadMethods(const std::string& path, MethodList& list);
// Saves it atomically, keeping whatever else the file holds; a file that exists but cannot be read
// is not replaced.
Outcome saveMethods(const std::string& path, const MethodList& list);

// The document for a device name: the document of the last row whose trimmed device cell contains
// the name (at most 39 characters); empty when no row matches.
std::string methodDocument(const MethodList& list, const std::string& deviceName);

}  // namespace quarn::data
