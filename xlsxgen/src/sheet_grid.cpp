#include "sheet_grid.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "cell_ref.h"
#include "xml_util.h"

namespace xlsxgen {

namespace {

void removeChildren(pugi::xml_node node) {
  while (node.first_child()) node.remove_child(node.first_child());
}

}  // namespace

int cellColumn(pugi::xml_node cell) {
  auto ref = parseCellRef(cell.attribute("r").value());
  return ref ? ref->col : 0;
}

void renumberRow(pugi::xml_node row, int r) {
  row.attribute("r").set_value(r);
  for (pugi::xml_node c : row.children()) {
    if (xml::localName(c) != "c") continue;
    auto ref = parseCellRef(c.attribute("r").value());
    if (!ref) continue;
    ref->row = r;
    c.attribute("r").set_value(formatCellRef(*ref).c_str());
  }
}

SheetGrid::SheetGrid(pugi::xml_node worksheet) {
  sheetData_ = xml::child(worksheet, "sheetData");
  if (!sheetData_) sheetData_ = xml::appendChild(worksheet, "sheetData");
  int lastRow = 0;
  for (pugi::xml_node row : sheetData_.children()) {
    if (xml::localName(row) != "row") continue;
    int r = row.attribute("r").as_int(0);
    if (r < 1 || r > 1048576) {
      r = lastRow + 1;
      pugi::xml_attribute a = row.attribute("r");
      if (!a) a = row.prepend_attribute("r");
      a.set_value(r);
    }
    lastRow = r;
    int lastCol = 0;
    for (pugi::xml_node c : row.children()) {
      if (xml::localName(c) != "c") continue;
      auto ref = parseCellRef(c.attribute("r").value());
      const int col = ref && ref->row == r ? ref->col : lastCol + 1;
      if (!ref || ref->row != r) {
        pugi::xml_attribute a = c.attribute("r");
        if (!a) a = c.prepend_attribute("r");
        a.set_value(formatCellRef({col, r}).c_str());
      }
      lastCol = col;
    }
  }
  reindex();
}

void SheetGrid::reindex() {
  rows_.clear();
  for (pugi::xml_node row : sheetData_.children())
    if (xml::localName(row) == "row") rows_.emplace(row.attribute("r").as_int(0), row);
}

pugi::xml_node SheetGrid::row(int r) const {
  const auto it = rows_.find(r);
  return it == rows_.end() ? pugi::xml_node() : it->second;
}

pugi::xml_node SheetGrid::cell(int r, int c) const {
  for (pugi::xml_node cell : row(r).children())
    if (xml::localName(cell) == "c" && cellColumn(cell) == c) return cell;
  return {};
}

pugi::xml_node SheetGrid::ensureCell(int r, int c) {
  pugi::xml_node rowNode = row(r);
  if (!rowNode) {
    const auto after = rows_.upper_bound(r);
    rowNode =
        xml::insertChildBefore(sheetData_, "row", after == rows_.end() ? pugi::xml_node() : after->second);
    rowNode.append_attribute("r").set_value(r);
    rows_.emplace(r, rowNode);
  }
  pugi::xml_node before;
  for (pugi::xml_node cell : rowNode.children()) {
    if (xml::localName(cell) != "c") continue;
    const int col = cellColumn(cell);
    if (col == c) return cell;
    if (col > c) {
      before = cell;
      break;
    }
  }
  pugi::xml_node cell = xml::insertChildBefore(rowNode, "c", before);
  cell.append_attribute("r").set_value(formatCellRef({c, r}).c_str());
  return cell;
}

std::string cellText(pugi::xml_node cell, const std::vector<std::string>& sharedStrings) {
  const std::string_view type = cell.attribute("t").value();
  if (type == "s") {
    const char* v = xml::child(cell, "v").text().get();
    char* end = nullptr;
    const long index = std::strtol(v, &end, 10);
    if (end == v || index < 0 || static_cast<std::size_t>(index) >= sharedStrings.size()) return {};
    return sharedStrings[static_cast<std::size_t>(index)];
  }
  if (type == "inlineStr") return xml::stringItemText(xml::child(cell, "is"));
  return xml::child(cell, "v").text().get();
}

bool isTextConstant(pugi::xml_node cell) {
  const std::string_view type = cell.attribute("t").value();
  return (type == "s" || type == "inlineStr") && !xml::child(cell, "f");
}

namespace {

// The <t> of a cell that holds nothing but <is><t>…</t></is>, named as setCellString names them,
// with no attribute but xml:space and no child but its text: the elements setCellString would make
// again. Null for any other cell.
pugi::xml_node plainInlineText(pugi::xml_node cell) {
  pugi::xml_node is = cell.first_child();
  if (!is || is.next_sibling() || is.type() != pugi::node_element || is.first_attribute()) return {};
  const std::string_view prefix = xml::prefixOf(cell);
  const std::string_view isName = is.name();
  if (isName.size() != prefix.size() + 2 || isName.substr(0, prefix.size()) != prefix ||
      isName.substr(prefix.size()) != "is")
    return {};
  pugi::xml_node t = is.first_child();
  if (!t || t.next_sibling() || t.type() != pugi::node_element) return {};
  const std::string_view tName = t.name();
  if (tName.size() != prefix.size() + 1 || tName.substr(0, prefix.size()) != prefix || tName.back() != 't')
    return {};
  for (pugi::xml_attribute a = t.first_attribute(); a; a = a.next_attribute())
    if (std::string_view(a.name()) != "xml:space" || a != t.first_attribute()) return {};
  const pugi::xml_node text = t.first_child();
  if (text && (text.next_sibling() || text.type() != pugi::node_pcdata)) return {};
  return t;
}

}  // namespace

void setCellString(pugi::xml_node cell, const std::string& text) {
  // A cell that already has the elements keeps them and gets the new text: the same XML as made
  // anew, without new nodes for every placeholder replaced.
  pugi::xml_node t = plainInlineText(cell);
  if (!t) removeChildren(cell);
  pugi::xml_attribute type = cell.attribute("t");
  if (!type) type = cell.append_attribute("t");
  type.set_value("inlineStr");
  if (t) {
    pugi::xml_attribute space = t.attribute("xml:space");
    if (needsSpacePreserve(text)) {
      if (!space) space = t.append_attribute("xml:space");
      space.set_value("preserve");
    } else if (space) {
      t.remove_attribute(space);
    }
  } else {
    t = xml::appendChild(xml::appendChild(cell, "is"), "t");
    if (needsSpacePreserve(text)) t.append_attribute("xml:space").set_value("preserve");
  }
  t.text().set(text.c_str());
}

bool needsSpacePreserve(std::string_view text) {
  if (text.empty()) return false;
  if (text.front() == ' ' || text.back() == ' ') return true;
  for (char c : text)
    if (c == '\t' || c == '\n') return true;
  return false;
}

void setCellNumber(pugi::xml_node cell, const std::string& number) {
  removeChildren(cell);
  cell.remove_attribute("t");
  xml::appendChild(cell, "v").text().set((number.front() == '+' ? number.substr(1) : number).c_str());
}

void clearCell(pugi::xml_node cell) {
  removeChildren(cell);
  cell.remove_attribute("t");
}

std::optional<int> numberDecimals(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t intDigits = 0, fracDigits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++intDigits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++fracDigits;
  }
  if (intDigits + fracDigits == 0) return std::nullopt;
  bool exponent = false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++expDigits;
    if (expDigits == 0) return std::nullopt;
    exponent = true;
  }
  if (i != text.size()) return std::nullopt;
  // Without an exponent, fewer than 309 integer digits are always within the range of a double.
  if (!exponent && intDigits < 309) return static_cast<int>(fracDigits);
  // Otherwise the value is read; from_chars (unlike strtod) reads "." whatever the locale says.
  const char* first = text.data() + (text[0] == '+' ? 1 : 0);
  double value = 0;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return exponent ? 0 : static_cast<int>(fracDigits);
}

}  // namespace xlsxgen
