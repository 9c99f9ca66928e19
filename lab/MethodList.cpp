#include "MethodList.h"

#include "IniValues.h"
#include "TextFile.h"

namespace quarn::data {

MethodList methodsFromIni(const IniDocument& ini) {
  MethodList list;
  for (int i = 0; i < kMethodRows; ++i) {
    list[static_cast<std::size_t>(i)].device =
        readTextUtf8(ini, kMethodSection, "device_" + std::to_string(i), "");
    list[static_cast<std::size_t>(i)].document =
        readTextUtf8(ini, kMethodSection, "doc_" + std::to_string(i), "");
  }
  return list;
}

void methodsToIni(const MethodList& list, IniDocument& ini) {
  for (int i = 0; i < kMethodRows; ++i) {
    writeTextUtf8(ini, kMethodSection, "device_" + std::to_string(i),
                  list[static_cast<std::size_t>(i)].device);
    writeTextUtf8(ini, kMethodSection, "doc_" + std::to_string(i),
                  list[static_cast<std::size_t>(i)].document);
  }
}

Outcome loadMethods(const std::string& path, MethodList& list) {
  const Result<TextContent> f = readTextFile(path);
  if (!f && f.error().fault() == Fault::NotFound) {
    list = methodsFromIni(IniDocument{});
    return {};
  }
  if (!f) return f.error();
  list = methodsFromIni(IniDocument::parse(f->bytes));
  return {};
}

Outcome saveMethods(const std::string& path, const MethodList& list) {
  IniDocument ini;
  const Result<TextContent> f = readTextFile(path);
  if (f)
    ini = IniDocument::parse(f->bytes);
  else if (f.error().fault() != Fault::NotFound)
    return f.error();  // do not replace a file that could not be read
  methodsToIni(list, ini);
  return writeFileAtomically(path, ini.serialize());
}

std::string methodDocument(const MethodList& list, const std::string& deviceName) {
  std::string found;
  if (deviceName.empty()) return found;  // an empty name would match every row
  for (const MethodRow& row : list) {
    const std::size_t b = row.device.find_first_not_of(" \t");
    if (b == std::string::npos) continue;
    const std::size_t e = row.device.find_last_not_of(" \t");
    const std::string cell = row.device.substr(b, e - b + 1);
    if (cell.find(deviceName) != std::string::npos) found = row.document;
  }
  return cutUtf8(found, 39);
}

}  // namespace quarn::data
