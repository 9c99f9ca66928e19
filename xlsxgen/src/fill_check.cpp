#include "fill_check.h"

#include <algorithm>
#include <cctype>
#include <pugixml.hpp>
#include <set>

#include "workbook.h"
#include "xlsx_error.h"
#include "xml_util.h"

namespace xlsxgen {

namespace {

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Part names compare without regard to ASCII case and with %XX escapes decoded, as a package's
// references are made.
std::string partKey(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '%' && i + 2 < name.size() && std::isxdigit(static_cast<unsigned char>(name[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(name[i + 2]))) {
      c = static_cast<char>(std::stoi(std::string(name.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    }
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  }
  return out;
}

// The part a ".rels" part speaks for: "xl/_rels/workbook.xml.rels" -> "xl/workbook.xml",
// "_rels/.rels" -> "" (the package).
std::string relsSource(const std::string& rels) {
  const auto slash = rels.rfind("_rels/");
  const std::string folder = rels.substr(0, slash);
  std::string file = rels.substr(slash + 6);
  file.resize(file.size() - 5);  // ".rels"
  return folder + file;
}

}  // namespace

void checkReferencedParts(ZipPackage& package, const std::set<std::string>* referrers) {
  std::set<std::string> present;
  for (const std::string& name : package.names()) present.insert(partKey(name));
  const auto require = [&](const std::string& part, const std::string& from) {
    if (!part.empty() && !present.count(partKey(part)))
      throw XlsxError("Шаблон повреждён: нет части \"" + part + "\", на которую ссылается \"" + from + "\"");
  };
  for (const std::string& name : package.names()) {
    const bool types = name == "[Content_Types].xml";
    const bool rels = endsWith(name, ".rels") && name.find("_rels/") != std::string::npos;
    if ((!types && !rels) || (referrers && !referrers->count(name))) continue;
    pugi::xml_document doc;
    xml::parse(doc, package.read(name), name);
    for (pugi::xml_node n = doc.document_element().first_child(); n; n = n.next_sibling()) {
      if (n.type() != pugi::node_element) continue;
      if (types) {
        if (xml::localName(n) != "Override") continue;
        std::string_view part = n.attribute("PartName").value();
        if (!part.empty() && part.front() == '/') part.remove_prefix(1);
        require(std::string(part), name);
      } else {
        if (xml::localName(n) != "Relationship" ||
            std::string_view(n.attribute("TargetMode").value()) == "External")
          continue;
        std::string target = n.attribute("Target").value();
        target = target.substr(0, target.find('#'));
        if (!target.empty()) require(resolvePartName(relsSource(name), target), name);
      }
    }
  }
}

void checkCopiedParts(ZipPackage& package, const FillResult& filled) {
  for (const std::string& name : package.names())
    if (!filled.changedParts.count(name) && !filled.removedParts.count(name)) package.verify(name);
}

std::vector<std::string> unfilledNames(const ReportJob& job, const FillUsage& usage) {
  std::vector<std::string> out;
  const auto add = [&](const std::string& name) {
    if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  };
  const auto isHidden = [&](const std::string& key) {
    return std::find(job.hiddenSheets.begin(), job.hiddenSheets.end(), key) != job.hiddenSheets.end();
  };
  const auto hiddenFound = [&](const std::string& key) {
    for (std::size_t i = 0; i < job.hiddenSheets.size(); ++i)
      if (job.hiddenSheets[i] == key && usage.hidden[i]) return true;
    return false;
  };
  const auto& pairs = job.pairs;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (usage.pairs[i]) continue;
    const std::string& key = pairs[i].first;
    bool excused = false;
    for (std::size_t j = 0; j < i && !excused; ++j) excused = pairs[j].first == key;
    if (excused) continue;
    if (isHidden(key)) {
      if (!hiddenFound(key)) add(key);
      continue;
    }
    for (std::size_t j = 0; j < pairs.size() && !excused; ++j)
      excused = usage.pairs[j] && pairs[j].first.size() > key.size() &&
                pairs[j].first.find(key) != std::string::npos;
    if (!excused) add(key);
  }
  for (std::size_t t = 0; t < job.tables.size(); ++t)
    if (!usage.tables[t] && !job.tables[t].name.empty()) add(job.tables[t].name);
  return out;
}

std::string unfilledMessage(const std::vector<std::string>& names, const ReportJob& job) {
  if (names.empty()) return {};
  constexpr std::size_t kListed = 20;
  std::string text = "Шаблон не подходит к протоколу: в нём не найдены места для ";
  bool table = false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (const ReportTable& t : job.tables) table = table || t.name == names[i];
    if (i == kListed) {
      text += " и ещё " + std::to_string(names.size() - kListed);
      break;
    }
    text += (i ? ", \"" : "\"") + names[i] + "\"";
  }
  if (table) text += " (имена таблиц должны стоять в строке с меткой \"&LST_F\")";
  return text;
}

void checkWrittenReport(std::string_view bytes, const std::vector<std::string>& inflated,
                        const std::set<std::string>* referrers) {
  try {
    ZipPackage written = ZipPackage::openView(bytes);
    for (const std::string& name : inflated.empty() ? written.names() : inflated) written.verify(name);
    checkReferencedParts(written, referrers);
  } catch (const XlsxError& e) {
    throw XlsxError(std::string("Записанный протокол не открывается и не сохранён (") + e.what() + ")");
  }
}

}  // namespace xlsxgen
