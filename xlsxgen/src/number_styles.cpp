#include "number_styles.h"

#include <algorithm>
#include <string>

#include "xml_util.h"

namespace xlsxgen {

namespace {

void setCount(pugi::xml_node list, const char* itemName) {
  int count = 0;
  for (pugi::xml_node c : list.children())
    if (xml::localName(c) == itemName) ++count;
  pugi::xml_attribute a = list.attribute("count");
  if (!a) a = list.append_attribute("count");
  a.set_value(count);
}

}  // namespace

int NumberStyles::numberFormatId(int decimals) {
  const std::string code = "0." + std::string(static_cast<std::size_t>(decimals), '0');
  if (code == "0.00") return 2;  // built-in format
  pugi::xml_node root = styles_->doc.document_element();
  pugi::xml_node formats = xml::child(root, "numFmts");
  if (!formats) formats = xml::insertChildBefore(root, "numFmts", root.first_child());
  int maxId = 163;
  for (pugi::xml_node f : formats.children()) {
    if (xml::localName(f) != "numFmt") continue;
    if (code == f.attribute("formatCode").value()) return f.attribute("numFmtId").as_int();
    maxId = std::max(maxId, f.attribute("numFmtId").as_int());
  }
  pugi::xml_node f = xml::appendChild(formats, "numFmt");
  f.append_attribute("numFmtId").set_value(maxId + 1);
  f.append_attribute("formatCode").set_value(code.c_str());
  setCount(formats, "numFmt");
  return maxId + 1;
}

int NumberStyles::forDecimals(int base, int decimals) {
  if (base == lastBase_ && decimals == lastDecimals_) return lastFormat_;
  const int format = formatFor(base, decimals);
  lastBase_ = base;
  lastDecimals_ = decimals;
  lastFormat_ = format;
  return format;
}

int NumberStyles::formatFor(int base, int decimals) {
  if (!styles_ || decimals <= 0 || decimals > 15 || base < 0) return base;
  if (auto it = made_.find({base, decimals}); it != made_.end()) return it->second;
  pugi::xml_node cellXfs = xml::child(styles_->doc.document_element(), "cellXfs");
  std::vector<pugi::xml_node> xfs;
  for (pugi::xml_node x : cellXfs.children())
    if (xml::localName(x) == "xf") xfs.push_back(x);
  if (static_cast<std::size_t>(base) >= xfs.size() ||
      xfs[static_cast<std::size_t>(base)].attribute("numFmtId").as_int(0) != 0)
    return base;
  const int formatId = numberFormatId(decimals);
  pugi::xml_node copy = cellXfs.insert_copy_after(xfs[static_cast<std::size_t>(base)], xfs.back());
  pugi::xml_attribute id = copy.attribute("numFmtId");
  if (!id) id = copy.append_attribute("numFmtId");
  id.set_value(formatId);
  pugi::xml_attribute apply = copy.attribute("applyNumberFormat");
  if (!apply) apply = copy.append_attribute("applyNumberFormat");
  apply.set_value("1");
  setCount(cellXfs, "xf");
  styles_->changed = true;
  const int index = static_cast<int>(xfs.size());
  made_[{base, decimals}] = index;
  return index;
}

}  // namespace xlsxgen
