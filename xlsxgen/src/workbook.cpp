#include "workbook.h"

#include <algorithm>

#include "thread_buffer.h"
#include "xlsx_error.h"
#include "xml_util.h"

namespace xlsxgen {

namespace {

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string relsPartOf(const std::string& part) {
  const auto slash = part.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : part.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
  return folder + "_rels/" + file + ".rels";
}

// The relationship id attribute of an element ("r:id" under whatever prefix the part uses).
pugi::xml_attribute relationshipId(pugi::xml_node node) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    const std::string_view name = a.name();
    if (name.size() > 3 && endsWith(name, ":id") && name.substr(0, 6) != "xmlns:") return a;
  }
  return {};
}

// Unicode code points of UTF-8 text (malformed bytes count as one each).
std::u32string codePoints(std::string_view s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int extra = b < 0x80             ? 0
                      : (b & 0xE0) == 0xC0 ? 1
                      : (b & 0xF0) == 0xE0 ? 2
                      : (b & 0xF8) == 0xF0 ? 3
                                           : -1;
    if (extra <= 0) {
      out.push_back(extra == 0 ? b : 0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = b & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += extra + 1;
  }
  return out;
}

std::string toUtf8(std::u32string_view cps) {
  std::string out;
  for (char32_t cp : cps) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// Sheet names compare without regard to case (Latin and Cyrillic letters).
std::u32string foldCase(std::u32string s) {
  for (char32_t& c : s) {
    if (c >= U'A' && c <= U'Z')
      c += 0x20;
    else if (c >= 0x410 && c <= 0x42F)
      c += 0x20;
    else if (c == 0x401)
      c = 0x451;
  }
  return s;
}

// True when a formula's text holds a sheet name (a name without quotes), so that it may refer to it.
bool formulaMayName(std::string_view formula, std::string_view name) {
  return formula.find(name) != std::string_view::npos;
}

constexpr std::size_t kSheetNameMaxUnits = 31;

// A name a spreadsheet program accepts for a sheet, cut to its length limit; empty when unusable.
std::string usableSheetName(const std::string& wanted) {
  std::u32string cps = codePoints(wanted);
  std::u32string kept;
  std::size_t units = 0;
  for (char32_t c : cps) {
    if (c == U':' || c == U'\\' || c == U'/' || c == U'?' || c == U'*' || c == U'[' || c == U']' || c < 0x20)
      return {};
    const std::size_t w = c >= 0x10000 ? 2 : 1;
    if (units + w > kSheetNameMaxUnits) break;
    kept.push_back(c);
    units += w;
  }
  while (!kept.empty() && kept.back() == U' ' && kept.size() < cps.size()) kept.pop_back();
  if (kept.empty() || kept.front() == U'\'' || kept.back() == U'\'') return {};
  return toUtf8(kept);
}

}  // namespace

std::string resolvePartName(const std::string& sourcePart, const std::string& target) {
  std::string path;
  if (!target.empty() && target.front() == '/') {
    path = target.substr(1);
  } else {
    const auto slash = sourcePart.rfind('/');
    path = (slash == std::string::npos ? "" : sourcePart.substr(0, slash + 1)) + target;
  }
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    auto end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string seg = path.substr(start, end - start);
    if (seg == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!seg.empty() && seg != ".") {
      segments.push_back(seg);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& seg : segments) out += (out.empty() ? "" : "/") + seg;
  return out;
}

Workbook::Workbook(ZipPackage& package) : package_(package) {
  contentTypes_.name = "[Content_Types].xml";
  if (!package_.contains(contentTypes_.name))
    throw XlsxError("Шаблон не является книгой Excel (.xlsx): нет части \"[Content_Types].xml\"");
  xml::parse(contentTypes_.doc, package_.read(contentTypes_.name), contentTypes_.name);

  workbookPart_ = "xl/workbook.xml";
  if (package_.contains("_rels/.rels")) {
    pugi::xml_document rels;
    xml::parse(rels, package_.read("_rels/.rels"), "_rels/.rels");
    for (pugi::xml_node r = rels.document_element().first_child(); r; r = r.next_sibling()) {
      if (xml::localName(r) == "Relationship" && endsWith(r.attribute("Type").value(), "/officeDocument")) {
        workbookPart_ = resolvePartName("", r.attribute("Target").value());
        break;
      }
    }
  }
  if (!package_.contains(workbookPart_))
    throw XlsxError("Шаблон не является книгой Excel (.xlsx): нет части \"" + workbookPart_ + "\"");
  workbook_.name = workbookPart_;
  xml::parse(workbook_.doc, package_.read(workbookPart_), workbookPart_);
  loadRelationships();
}

void Workbook::loadRelationships() {
  struct Rel {
    std::string type;
    std::string target;
  };
  std::map<std::string, Rel> rels;
  workbookRels_.name = relsPartOf(workbookPart_);
  if (package_.contains(workbookRels_.name)) {
    xml::parse(workbookRels_.doc, package_.read(workbookRels_.name), workbookRels_.name);
    for (pugi::xml_node r = workbookRels_.doc.document_element().first_child(); r; r = r.next_sibling()) {
      if (xml::localName(r) != "Relationship" ||
          std::string_view(r.attribute("TargetMode").value()) == "External")
        continue;
      rels[r.attribute("Id").value()] = {r.attribute("Type").value(),
                                         resolvePartName(workbookPart_, r.attribute("Target").value())};
    }
  }
  for (const auto& [id, rel] : rels) {
    if (endsWith(rel.type, "/sharedStrings") && package_.contains(rel.target)) {
      pugi::xml_document sst;
      xml::parse(sst, package_.read(rel.target), rel.target);
      for (pugi::xml_node si = sst.document_element().first_child(); si; si = si.next_sibling())
        if (xml::localName(si) == "si") sharedStrings_.push_back(xml::stringItemText(si));
    } else if (endsWith(rel.type, "/styles") && package_.contains(rel.target)) {
      styles_ = std::make_unique<XmlPart>();
      styles_->name = rel.target;
      xml::parse(styles_->doc, package_.read(rel.target), rel.target);
    } else if (endsWith(rel.type, "/calcChain")) {
      calcChainPart_ = rel.target;
    }
  }

  pugi::xml_node sheetsNode = xml::child(workbook_.doc.document_element(), "sheets");
  for (pugi::xml_node s = sheetsNode.first_child(); s; s = s.next_sibling()) {
    if (s.type() != pugi::node_element || xml::localName(s) != "sheet") continue;
    SheetEntry entry;
    entry.name = s.attribute("name").value();
    entry.entry = s;
    const auto it = rels.find(relationshipId(s).value());
    if (it != rels.end()) {
      entry.partName = it->second.target;
      entry.isWorksheet = endsWith(it->second.type, "/worksheet");
    }
    if (entry.isWorksheet) {
      if (!package_.contains(entry.partName))
        throw XlsxError("Шаблон повреждён: нет листа \"" + entry.partName + "\"");
      entry.xml = std::make_unique<XmlPart>();
      entry.xml->name = entry.partName;
      entry.xml->source = package_.read(entry.partName);
      xml::parseInPlace(entry.xml->doc, entry.xml->source, entry.partName);
    }
    sheets_.push_back(std::move(entry));
  }
  if (sheets_.empty()) throw XlsxError("Шаблон повреждён: в книге нет листов");
}

bool Workbook::isVisible(std::size_t index) const {
  const std::string_view state = sheets_.at(index).entry.attribute("state").value();
  return state.empty() || state == "visible";
}

bool Workbook::hide(std::size_t index) {
  if (!isVisible(index)) return true;
  std::size_t visible = 0;
  for (std::size_t i = 0; i < sheets_.size(); ++i) visible += isVisible(i) ? 1 : 0;
  if (visible <= 1) return false;
  pugi::xml_node entry = sheets_[index].entry;
  pugi::xml_attribute state = entry.attribute("state");
  if (!state) state = entry.append_attribute("state");
  state.set_value("hidden");
  workbook_.changed = true;
  sheetsHidden_ = true;
  return true;
}

// The active tab of a workbook must be a visible sheet, and a hidden sheet must not stay selected.
void Workbook::settleActiveSheet() {
  if (!sheetsHidden_) return;
  sheetsHidden_ = false;
  pugi::xml_node view = xml::child(xml::child(workbook_.doc.document_element(), "bookViews"), "workbookView");
  std::size_t active = view ? static_cast<std::size_t>(view.attribute("activeTab").as_uint(0)) : 0;
  if (active >= sheets_.size() || !isVisible(active)) {
    for (std::size_t i = 0; i < sheets_.size(); ++i)
      if (isVisible(i)) {
        active = i;
        break;
      }
    if (view) {
      pugi::xml_attribute tab = view.attribute("activeTab");
      if (!tab) tab = view.append_attribute("activeTab");
      tab.set_value(static_cast<unsigned>(active));
      if (view.attribute("firstSheet").as_uint(0) > active)
        view.attribute("firstSheet").set_value(static_cast<unsigned>(active));
    }
  }
  for (std::size_t i = 0; i < sheets_.size(); ++i) {
    if (!sheets_[i].xml) continue;
    pugi::xml_node views = xml::child(sheets_[i].xml->doc.document_element(), "sheetViews");
    for (pugi::xml_node v = views.first_child(); v; v = v.next_sibling()) {
      if (xml::localName(v) != "sheetView") continue;
      pugi::xml_attribute selected = v.attribute("tabSelected");
      const bool want = i == active;
      if (want && !selected.as_bool()) {
        if (!selected) selected = v.append_attribute("tabSelected");
        selected.set_value("1");
        sheets_[i].xml->changed = true;
      } else if (!want && selected.as_bool()) {
        v.remove_attribute(selected);
        sheets_[i].xml->changed = true;
      }
    }
  }
}

bool Workbook::rename(std::size_t index, const std::string& wantedName) {
  const std::string newName = usableSheetName(wantedName);
  if (newName.empty()) return false;
  const std::string oldName = sheets_.at(index).name;
  if (newName == oldName) return true;
  const std::u32string folded = foldCase(codePoints(newName));
  for (std::size_t i = 0; i < sheets_.size(); ++i)
    if (i != index && foldCase(codePoints(sheets_[i].name)) == folded) return false;

  sheets_[index].name = newName;
  sheets_[index].entry.attribute("name").set_value(newName.c_str());
  workbook_.changed = true;

  const SheetRenamer renamer = [&](const std::string& sheet) -> std::optional<std::string> {
    if (sheet == oldName) return newName;
    return std::nullopt;
  };
  // A formula can name the sheet only if it holds its name (quoted names double their quotes).
  const bool literal = oldName.find('\'') == std::string::npos;
  const auto mayName = [&](const char* formula) { return !literal || formulaMayName(formula, oldName); };
  for (pugi::xml_node dn : xml::child(workbook_.doc.document_element(), "definedNames").children()) {
    if (xml::localName(dn) != "definedName" || !mayName(dn.text().get())) continue;
    const std::string before = dn.text().get();
    const std::string after = rewriteFormula(before, renamer, nullptr);
    if (after != before) dn.text().set(after.c_str());
  }
  for (std::size_t i = 0; i < sheets_.size(); ++i) {
    if (!sheets_[i].xml) continue;
    for (pugi::xml_node f : formulas(i)) {
      if (!*f.text().get() || !mayName(f.text().get())) continue;
      const std::string before = f.text().get();
      const std::string after = rewriteFormula(before, renamer, nullptr);
      if (after != before) {
        f.text().set(after.c_str());
        sheets_[i].xml->changed = true;
      }
    }
  }
  return true;
}

const std::vector<pugi::xml_node>& Workbook::formulas(std::size_t index) {
  SheetEntry& sheet = sheets_.at(index);
  if (sheet.formulasKnown) return sheet.formulas;
  sheet.formulas.clear();
  if (sheet.xml && sheet.mayHaveFormulas) {
    pugi::xml_node data = xml::child(sheet.xml->doc.document_element(), "sheetData");
    for (pugi::xml_node row = data.first_child(); row; row = row.next_sibling())
      for (pugi::xml_node cell = row.first_child(); cell; cell = cell.next_sibling())
        if (pugi::xml_node f = xml::child(cell, "f")) sheet.formulas.push_back(f);
    sheet.mayHaveFormulas = !sheet.formulas.empty();
  }
  sheet.formulasKnown = true;
  return sheet.formulas;
}

void Workbook::shiftReferencesFromOutside(std::size_t index, const RowInsertion& ins) {
  const std::string target = sheets_.at(index).name;
  const RefEditor editor = [&](FormulaRef& ref) {
    if (ref.qualified && ref.sheet == target) shiftFormulaRef(ref, ins);
  };
  // Only a formula that holds the sheet's name can refer to it (quoted names double their quotes).
  const bool literal = target.find('\'') == std::string::npos;
  const auto mayName = [&](const char* formula) { return !literal || formulaMayName(formula, target); };
  for (pugi::xml_node dn : xml::child(workbook_.doc.document_element(), "definedNames").children()) {
    if (xml::localName(dn) != "definedName" || !mayName(dn.text().get())) continue;
    const std::string before = dn.text().get();
    const std::string after = rewriteFormula(before, nullptr, editor);
    if (after != before) {
      dn.text().set(after.c_str());
      workbook_.changed = true;
    }
  }
  for (std::size_t i = 0; i < sheets_.size(); ++i) {
    if (i == index || !sheets_[i].xml) continue;
    for (pugi::xml_node f : formulas(i)) {
      if (!*f.text().get() || !mayName(f.text().get())) continue;
      const std::string before = f.text().get();
      const std::string after = rewriteFormula(before, nullptr, editor);
      if (after != before) {
        f.text().set(after.c_str());
        sheets_[i].xml->changed = true;
      }
    }
  }
}

void Workbook::shiftDrawings(std::size_t index, const RowInsertion& ins) {
  const std::string& sheetPart = sheets_.at(index).partName;
  const std::string relsName = relsPartOf(sheetPart);
  if (sheetPart.empty() || !package_.contains(relsName)) return;
  pugi::xml_document rels;
  xml::parse(rels, package_.read(relsName), relsName);
  for (pugi::xml_node r = rels.document_element().first_child(); r; r = r.next_sibling()) {
    if (xml::localName(r) != "Relationship" || !endsWith(r.attribute("Type").value(), "/drawing")) continue;
    const std::string target = resolvePartName(sheetPart, r.attribute("Target").value());
    auto& part = drawings_[target];
    if (!part) {
      if (!package_.contains(target)) continue;
      part = std::make_unique<XmlPart>();
      part->name = target;
      xml::parse(part->doc, package_.read(target), target);
    }
    // Anchor rows count from 0: row index `ins.row` is the first row below the multiplied one.
    for (pugi::xml_node anchor : part->doc.document_element().children()) {
      for (const char* corner : {"from", "to"}) {
        pugi::xml_node row = xml::child(xml::child(anchor, corner), "row");
        if (!row) continue;
        const int value = row.text().as_int(-1);
        if (value >= ins.row) {
          row.text().set(value + ins.count);
          part->changed = true;
        }
      }
    }
  }
}

void Workbook::invalidateCalculation() {
  pugi::xml_node root = workbook_.doc.document_element();
  pugi::xml_node calc = xml::child(root, "calcPr");
  if (!calc) {
    pugi::xml_node before;
    for (const char* later : {"oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes",
                              "webPublishing", "fileRecoveryPr", "webPublishObjects", "extLst"}) {
      if ((before = xml::child(root, later))) break;
    }
    calc = xml::insertChildBefore(root, "calcPr", before);
  }
  pugi::xml_attribute full = calc.attribute("fullCalcOnLoad");
  if (!full) full = calc.append_attribute("fullCalcOnLoad");
  full.set_value("1");
  workbook_.changed = true;

  if (calcChainPart_.empty() || removed_.count(calcChainPart_)) return;
  removed_.insert(calcChainPart_);
  pugi::xml_node relsRoot = workbookRels_.doc.document_element();
  for (pugi::xml_node r = relsRoot.first_child(); r;) {
    pugi::xml_node next = r.next_sibling();
    if (endsWith(r.attribute("Type").value(), "/calcChain")) {
      relsRoot.remove_child(r);
      workbookRels_.changed = true;
    }
    r = next;
  }
  pugi::xml_node typesRoot = contentTypes_.doc.document_element();
  for (pugi::xml_node o = typesRoot.first_child(); o;) {
    pugi::xml_node next = o.next_sibling();
    if (xml::localName(o) == "Override" &&
        std::string_view(o.attribute("PartName").value()) == "/" + calcChainPart_) {
      typesRoot.remove_child(o);
      contentTypes_.changed = true;
    }
    o = next;
  }
}

void Workbook::handOverChangedParts(
    const std::function<void(const std::string& name, const std::string& bytes)>& take) {
  // The worksheets' trees are the most of a workbook's memory: those of unchanged sheets go first,
  // the others once written, so that what the parts handed over become reuses their memory.
  for (auto& sheet : sheets_)
    if (sheet.xml && !sheet.xml->changed) sheet.xml.reset();
  // One text buffer for every part, the thread's: it is handed over, then written again for the next.
  ThreadBuffer buffer(ThreadBufferUse::Text);
  std::string& bytes = buffer.text();
  const auto write = [&](const XmlPart& part, std::size_t sizeHint) {
    bytes.clear();
    xml::serialize(bytes, part.doc, part.after, sizeHint);
    take(part.name, bytes);
  };
  for (XmlPart* part : {&contentTypes_, &workbook_, &workbookRels_})
    if (part->changed) write(*part, 0);
  if (styles_ && styles_->changed) write(*styles_, 0);
  for (const auto& [name, part] : drawings_)
    if (part && part->changed) write(*part, 0);
  for (auto& sheet : sheets_) {
    if (!sheet.xml) continue;
    write(*sheet.xml, sheet.xml->source.size() + sheet.xml->source.size() / 4);
    sheet.xml.reset();
  }
}

}  // namespace xlsxgen
