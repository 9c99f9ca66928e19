#include "protocol_pdf.h"

#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>
#include <vector>

#include "quarn/office_convert.h"

namespace quarn::report {

namespace data = quarn::data;

namespace {

namespace fs = std::filesystem;

// The local name of an element ("x:sheet" and "sheet" alike).
std::string_view localName(const pugi::xml_node& node) {
  const std::string_view name = node.name();
  const auto colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node& parent, std::string_view local) {
  for (pugi::xml_node n : parent.children())
    if (localName(n) == local) return n;
  return {};
}

// A sheet index after the sheets listed in `removed` (ascending) are gone; -1 when it is one of them.
long remapped(long index, const std::vector<long>& removed) {
  if (std::binary_search(removed.begin(), removed.end(), index)) return -1;
  return index - std::count_if(removed.begin(), removed.end(), [index](long r) { return r < index; });
}

}  // namespace

std::optional<std::string> workbookWithoutHiddenSheets(const std::string& workbookXml) {
  pugi::xml_document doc;
  if (!doc.load_buffer(workbookXml.data(), workbookXml.size(), pugi::parse_default | pugi::parse_declaration))
    return std::nullopt;
  pugi::xml_node workbook = doc.document_element();
  pugi::xml_node sheets = child(workbook, "sheets");
  std::vector<long> removed;
  std::vector<pugi::xml_node> gone;
  long index = 0, kept = 0;
  for (pugi::xml_node sheet : sheets.children()) {
    if (localName(sheet) != "sheet") continue;
    const std::string_view state = sheet.attribute("state").as_string();
    if (state == "hidden" || state == "veryHidden") {
      removed.push_back(index);
      gone.push_back(sheet);
    } else {
      ++kept;
    }
    ++index;
  }
  if (removed.empty() || kept == 0) return std::nullopt;
  for (pugi::xml_node sheet : gone) sheets.remove_child(sheet);

  // Names that belong to a sheet (print areas, print titles) go with it; the others follow their
  // sheet's new position.
  if (pugi::xml_node names = child(workbook, "definedNames")) {
    std::vector<pugi::xml_node> drop;
    for (pugi::xml_node name : names.children()) {
      pugi::xml_attribute local = name.attribute("localSheetId");
      if (localName(name) != "definedName" || !local) continue;
      const long at = remapped(local.as_llong(-1), removed);
      if (at < 0)
        drop.push_back(name);
      else
        local.set_value(static_cast<long long>(at));
    }
    for (pugi::xml_node name : drop) names.remove_child(name);
    if (!names.first_child()) workbook.remove_child(names);
  }
  if (pugi::xml_node views = child(workbook, "bookViews")) {
    for (pugi::xml_node view : views.children()) {
      for (const char* attr : {"activeTab", "firstSheet"}) {
        pugi::xml_attribute a = view.attribute(attr);
        if (a) a.set_value(static_cast<long long>(std::max(0L, remapped(a.as_llong(0), removed))));
      }
    }
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  return out.str();
}

namespace {

// A copy of the workbook in a new temporary folder, under the same file name (the PDF is named
// after it), without the sheets the workbook hides. "" when the workbook hides none (or cannot be
// read as one), so that the workbook itself is converted.
std::string visibleCopy(const std::string& workbookPath, std::string& folder) {
  int error = 0;
  zip_t* zip = zip_open(workbookPath.c_str(), ZIP_RDONLY, &error);
  if (!zip) return {};
  std::string xml;
  zip_stat_t st;
  if (zip_stat(zip, "xl/workbook.xml", 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) {
    if (zip_file_t* f = zip_fopen(zip, "xl/workbook.xml", 0)) {
      xml.resize(st.size);
      if (zip_fread(f, xml.data(), st.size) != static_cast<zip_int64_t>(st.size)) xml.clear();
      zip_fclose(f);
    }
  }
  zip_discard(zip);
  const std::optional<std::string> visible = workbookWithoutHiddenSheets(xml);
  if (!visible) return {};

  char tmp[] = "/tmp/quarn-pdf.XXXXXX";
  if (!::mkdtemp(tmp)) return {};
  folder = tmp;
  const std::string copy = folder + "/" + fs::path(workbookPath).filename().string();
  std::error_code ec;
  if (!fs::copy_file(workbookPath, copy, ec)) return {};
  zip = zip_open(copy.c_str(), 0, &error);
  if (!zip) return {};
  zip_source_t* source = zip_source_buffer(zip, visible->data(), visible->size(), 0);
  const zip_int64_t at = zip_name_locate(zip, "xl/workbook.xml", 0);
  if (!source || at < 0 || zip_file_replace(zip, static_cast<zip_uint64_t>(at), source, 0) != 0) {
    if (source) zip_source_free(source);
    zip_discard(zip);
    return {};
  }
  if (zip_close(zip) != 0) {
    zip_discard(zip);
    return {};
  }
  return copy;
}

}  // namespace

bool pdfAvailable() { return !office::findProgram().empty(); }

data::Result<std::string> writeProtocolPdf(const std::string& workbookPath, int timeoutSeconds) {
  const auto slash = workbookPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : workbookPath.substr(0, slash);
  const std::string program = office::findProgram();
  // LibreOffice prints the sheets a workbook hides (the unfilled template pages of the channels that
  // are off and the document a channel does not get), so it converts a copy without them.
  std::string copyFolder;
  const std::string copy = program.empty() ? std::string() : visibleCopy(workbookPath, copyFolder);
  const office::Conversion c =
      office::convert(program, copy.empty() ? workbookPath : copy, "pdf", folder, timeoutSeconds);
  if (!copyFolder.empty()) {
    std::error_code ec;
    fs::remove_all(copyFolder, ec);
  }
  switch (c.outcome) {
    case office::Outcome::Converted:
      return c.output;
    case office::Outcome::NoProgram:
      return data::Outcome::failed(
          "Для протокола в PDF нужен LibreOffice (soffice), он не установлен. Протокол сохранён только в "
          "Excel.");
    case office::Outcome::TimedOut:
      return data::Outcome::failed("LibreOffice не закончил преобразование протокола в PDF за " +
                                   std::to_string(timeoutSeconds) +
                                   " с; преобразование прервано. Протокол сохранён только в Excel.");
    case office::Outcome::Failed:
      break;
  }
  return data::Outcome::failed("LibreOffice не смог преобразовать протокол в PDF: " + workbookPath +
                               ". Протокол сохранён только в Excel.");
}

}  // namespace quarn::report
