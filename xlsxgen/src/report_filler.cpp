#include "report_filler.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "number_styles.h"
#include "sheet_grid.h"
#include "xlsx_error.h"
#include "xml_util.h"

namespace xlsxgen {

namespace {

// The first n code points of UTF-8 text.
std::string firstChars(const std::string& s, std::size_t n) {
  std::size_t i = 0, chars = 0;
  while (i < s.size() && chars < n) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    ++chars;
  }
  return s.substr(0, i);
}

// Replaces every occurrence; true when there was one.
bool replaceAll(std::string& text, const std::string& key, const std::string& value) {
  std::size_t pos = 0;
  bool found = false;
  while ((pos = text.find(key, pos)) != std::string::npos) {
    text.replace(pos, key.size(), value);
    pos += value.size();
    found = true;
  }
  return found;
}

// The longest text the copies of one table row may take; a template whose row would give more is
// refused rather than exhausting memory.
constexpr std::size_t kMaxCopiesBytes = 256u << 20;

// What the copies of a table row show in one table column: for each row of the table (0 is the
// marker row itself) the text written there (none, or a cell of one of the tables of the column's
// name) and the cell format it ends up with. A row takes four bytes: the tables and formats are
// listed once for the column (a table's name is seldom listed twice, and a column's numbers take
// a format or two) and a row holds their places in the lists.
class ColumnValues {
 public:
  ColumnValues(std::size_t rows, int nameStyle, bool nameStyled)
      : styles_{nameStyle}, rows_(rows, Row{kNone, 0, false, nameStyled}) {}

  // The text of a row (given(row) must be true): the cell of the same index of its table.
  std::string_view text(std::size_t row) const { return tables_[rows_[row].table]->view(row); }
  bool given(std::size_t row) const { return rows_[row].table != kNone; }
  bool number(std::size_t row) const { return rows_[row].number; }
  int style(std::size_t row) const { return styles_[rows_[row].style]; }
  // The cell gets an "s" attribute (the name's cell had one, or a format was made for the row).
  bool styleSet(std::size_t row) const { return rows_[row].styleSet; }

  // The place of a table that writes in the column, for give().
  std::uint8_t tablePlace(const ReportTable& table) { return place(tables_, &table); }
  // The row shows the cell of its index of the table at `table` (tablePlace), a number or not.
  void give(std::size_t row, std::uint8_t table, bool number) {
    rows_[row].table = table;
    rows_[row].number = number;
  }
  void setStyle(std::size_t row, int style) {
    // Most rows of a column take the format the row before took.
    if (styles_[lastStyle_] != style) lastStyle_ = place(styles_, style);
    rows_[row].style = lastStyle_;
    rows_[row].styleSet = true;
  }

 private:
  static constexpr std::uint8_t kNone = 0xFF;
  struct Row {
    std::uint8_t table;  // place in tables_, kNone for no text
    std::uint8_t style;  // place in styles_
    bool number;
    bool styleSet;
  };

  // The place of a value in a list, added when new. A column holds at most the block's 29 tables
  // and the name cell's format with one per count of decimals.
  template <typename T>
  static std::uint8_t place(std::vector<T>& list, const T& value) {
    const auto found = std::find(list.begin(), list.end(), value);
    if (found != list.end()) return static_cast<std::uint8_t>(found - list.begin());
    if (list.size() >= kNone) throw std::logic_error("table column with too many tables or formats");
    list.push_back(value);
    return static_cast<std::uint8_t>(list.size() - 1);
  }

  std::vector<const ReportTable*> tables_;
  std::vector<int> styles_;
  std::vector<Row> rows_;
  std::uint8_t lastStyle_ = 0;  // the place setStyle found last
};

using TableColumns = std::map<int, ColumnValues>;  // by column

class RoomWriter;

// The copies of a multiplied row, written as XML text right after the marker row when the sheet is
// serialised, in one pass over the marker row's cells per copy, with the tables' values in place.
// What does not change from copy to copy is worked out once, when the row is multiplied; the cells
// with formulas are written from the marker row's cells as they are at the end, so that renames of
// other sheets and their inserted rows, applied to the marker row later, reach the copies too.
// The values are the job's texts: the copies are written while the job lives.
class RowCopies {
 public:
  RowCopies(pugi::xml_node original, int row, int copies, std::shared_ptr<const TableColumns> columns,
            std::string sheetName);
  void write(std::string& out) const;
  std::size_t size() const { return size_; }  // about how many bytes `write` appends

 private:
  // A copy of a cell is `head`, the row number, then `tail` (a copied cell) or the value with
  // `attributes` (a table column).
  struct Piece {
    pugi::xml_node formulaCell;  // a cell written from the marker row's cell
    bool cell = false;           // a cell written from the pieces (else `head` holds another node)
    const ColumnValues* values = nullptr;
    std::string head;        // "<c r=\"B" (a node other than a cell: all of it)
    std::string tail;        // "\" s=\"3\">…</c>" of a copied cell
    std::string attributes;  // of a table column's cell, other than r, s and t
    std::string numberOpen, numberClose, textOpen, textOpenPreserve, textClose;
  };
  void writeCopy(std::string& out, int i) const;
  void writeCopy(RoomWriter& out, int i) const;

  std::shared_ptr<const TableColumns> columns_;
  std::vector<Piece> pieces_;
  std::string rowHead_, rowTail_, rowClose_;
  int row_;
  int copies_;
  std::string sheetName_;
  std::size_t size_ = 0;
  // The pieces' bytes in one copy, without the row numbers and values (with the longest format).
  std::size_t fixedBytes_ = 0;
};

// Formula text of the `offset`-th copy of a row: references to the sheet's own rows move with the
// copy unless their row is absolute, references to other sheets stay.
std::string copiedFormula(const std::string& formula, int offset, const std::string& sheetName) {
  const RefEditor relative = [&](FormulaRef& ref) {
    if (ref.qualified && ref.sheet != sheetName) return;
    if (ref.first.row > 0 && !ref.first.rowAbsolute) ref.first.row += offset;
    if (ref.second && ref.second->row > 0 && !ref.second->rowAbsolute) ref.second->row += offset;
  };
  return rewriteFormula(formula, nullptr, relative);
}

void appendAttribute(std::string& out, std::string_view name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  xml::appendEscapedAttribute(out, value);
  out += '"';
}

// A copy of a cell with a formula: its own reference, the formula moved to the copy's row (a member
// of a shared formula keeps its value only), the other children as they are.
void writeCopiedFormulaCell(std::string& out, pugi::xml_node cell, int row, int offset,
                            const std::string& sheetName) {
  out += '<';
  out += cell.name();
  for (pugi::xml_attribute a = cell.first_attribute(); a; a = a.next_attribute()) {
    if (std::string_view(a.name()) == "r") {
      auto ref = parseCellRef(a.value());
      if (ref) {
        ref->row = row;
        appendAttribute(out, "r", formatCellRef(*ref));
        continue;
      }
    }
    appendAttribute(out, a.name(), a.value());
  }
  if (!cell.first_child()) {
    out += "/>";
    return;
  }
  out += '>';
  for (pugi::xml_node child = cell.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || xml::localName(child) != "f") {
      xml::appendXml(out, child);
      continue;
    }
    if (!*child.text().get()) continue;  // a member of a shared formula
    out += '<';
    out += child.name();
    for (pugi::xml_attribute a = child.first_attribute(); a; a = a.next_attribute()) {
      const std::string_view name = a.name();
      if (name != "t" && name != "si" && name != "ref") appendAttribute(out, name, a.value());
    }
    out += '>';
    xml::appendEscapedText(out, copiedFormula(child.text().get(), offset, sheetName));
    out += "</";
    out += child.name();
    out += '>';
  }
  out += "</";
  out += cell.name();
  out += '>';
}

RowCopies::RowCopies(pugi::xml_node original, int row, int copies,
                     std::shared_ptr<const TableColumns> columns, std::string sheetName)
    : columns_(std::move(columns)), row_(row), copies_(copies), sheetName_(std::move(sheetName)) {
  for (pugi::xml_node child = original.first_child(); child; child = child.next_sibling()) {
    Piece piece;
    if (child.type() != pugi::node_element || xml::localName(child) != "c") {
      xml::appendXml(piece.head, child);
      pieces_.push_back(std::move(piece));
      continue;
    }
    const int col = cellColumn(child);
    if (const auto it = columns_->find(col); it != columns_->end()) {
      piece.values = &it->second;
    } else if (xml::child(child, "f")) {
      piece.formulaCell = child;
      pieces_.push_back(std::move(piece));
      continue;
    }
    piece.cell = true;
    const std::string name = child.name();
    const std::string prefix(xml::prefixOf(child));
    piece.head = "<" + name + " r=\"" + columnName(col);
    std::string& attributes = piece.values ? piece.attributes : piece.tail;
    if (!piece.values) attributes += '"';
    for (pugi::xml_attribute a = child.first_attribute(); a; a = a.next_attribute()) {
      const std::string_view attr = a.name();
      if (attr == "r" || (piece.values && (attr == "s" || attr == "t"))) continue;
      appendAttribute(attributes, attr, a.value());
    }
    if (piece.values) {
      piece.numberOpen = "><" + prefix + "v>";
      piece.numberClose = "</" + prefix + "v></" + name + ">";
      piece.textOpen = " t=\"inlineStr\"><" + prefix + "is><" + prefix + "t>";
      piece.textOpenPreserve = " t=\"inlineStr\"><" + prefix + "is><" + prefix + "t xml:space=\"preserve\">";
      piece.textClose = "</" + prefix + "t></" + prefix + "is></" + name + ">";
    } else if (child.first_child()) {
      piece.tail += '>';
      for (pugi::xml_node c = child.first_child(); c; c = c.next_sibling()) xml::appendXml(piece.tail, c);
      piece.tail += "</" + name + ">";
    } else {
      piece.tail += "/>";
    }
    pieces_.push_back(std::move(piece));
  }

  rowHead_ = "<" + std::string(original.name()) + " r=\"";
  rowTail_ = "\"";
  for (pugi::xml_attribute a = original.first_attribute(); a; a = a.next_attribute())
    if (std::string_view(a.name()) != "r") appendAttribute(rowTail_, a.name(), a.value());
  rowTail_ += '>';
  rowClose_ = "</" + std::string(original.name()) + ">";
  fixedBytes_ = rowHead_.size() + rowTail_.size() + rowClose_.size();
  for (const Piece& piece : pieces_) {
    fixedBytes_ += piece.head.size() + piece.tail.size() + piece.attributes.size() + 3;
    fixedBytes_ += std::max({piece.numberOpen.size() + piece.numberClose.size(),
                             piece.textOpenPreserve.size() + piece.textClose.size()});
    if (piece.values) fixedBytes_ += sizeof " s=\"-2147483648\"";
  }

  // The copies differ only in their numbers and values: the first one tells about how long all are.
  if (copies_ > 0) {
    std::string first;
    writeCopy(first, 1);
    if (first.size() > kMaxCopiesBytes / static_cast<std::size_t>(copies_))
      throw XlsxError("Шаблон повреждён: строку таблицы на листе \"" + sheetName_ + "\" нельзя повторить " +
                      std::to_string(copies_ + 1) + " раз, протокол был бы слишком велик");
    size_ = first.size() * static_cast<std::size_t>(copies_) * 11 / 10;
  }
}

// Writes through a pointer into room made at the end of a string beforehand, so that a copied cell
// costs a few copies of known pieces rather than a string append (with its checks) per piece.
class RoomWriter {
 public:
  // `step`: the least the string grows by at a time; 0 for a string written once, which then gets
  // exactly the room asked for (no bytes beyond it are cleared).
  explicit RoomWriter(std::string& out, std::size_t step = kStep)
      : out_(out), used_(out.size()), step_(step) {}
  // Room for `n` more bytes. The string grows by steps of at least `step` bytes: within the
  // capacity the caller reserved it is not reallocated, beyond it the string doubles its capacity
  // as any append would (growing by half of its length each time could outrun the reserve).
  void room(std::size_t n) {
    if (out_.size() - used_ < n) out_.resize(used_ + std::max(n, step_));
  }
  void put(std::string_view s) {
    std::memcpy(out_.data() + used_, s.data(), s.size());
    used_ += s.size();
  }
  void put(char c) { out_[used_++] = c; }
  // Character data: the text with its entities (room for six bytes a byte).
  void putEscapedText(std::string_view text) {
    char* p = out_.data() + used_;
    for (const char c : text) {
      switch (c) {
        case '&':
          std::memcpy(p, "&amp;", 5), p += 5;
          break;
        case '<':
          std::memcpy(p, "&lt;", 4), p += 4;
          break;
        case '>':
          std::memcpy(p, "&gt;", 4), p += 4;
          break;
        default: {
          // A control character other than TAB and LF as a character reference, as the
          // serialiser writes it (xml::appendEscapedText).
          const auto u = static_cast<unsigned char>(c);
          if (u >= 0x20 || c == '\t' || c == '\n') {
            *p++ = c;
            break;
          }
          *p++ = '&', *p++ = '#';
          if (u >= 10) *p++ = static_cast<char>('0' + u / 10);
          *p++ = static_cast<char>('0' + u % 10), *p++ = ';';
        }
      }
    }
    used_ = static_cast<std::size_t>(p - out_.data());
  }
  // Hands the string over for appending of its own; resume takes it back with room for `n` bytes.
  std::string& flush() {
    out_.resize(used_);
    return out_;
  }
  void resume(std::size_t n) {
    used_ = out_.size();
    room(n);
  }
  void finish() { out_.resize(used_); }

 private:
  static constexpr std::size_t kStep = 16 << 10;
  std::string& out_;
  std::size_t used_;
  std::size_t step_;
};

// Room a text value takes at most once escaped ("&quot;" is the longest entity, six bytes).
constexpr std::size_t kEscapedGrowth = 6;

void RowCopies::write(std::string& out) const {
  out.reserve(out.size() + size_);
  RoomWriter writer(out);
  for (int i = 1; i <= copies_; ++i) writeCopy(writer, i);
  writer.finish();
}

void RowCopies::writeCopy(std::string& out, int i) const {
  RoomWriter writer(out, 0);
  writeCopy(writer, i);
  writer.finish();
}

void RowCopies::writeCopy(RoomWriter& out, int i) const {
  const int r = row_ + i;
  const auto at = static_cast<std::size_t>(i);
  char digits[16];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, r);
  const std::string_view rowNumber(digits, static_cast<std::size_t>(end - digits));
  // The room this copy takes at most: the fixed pieces, the row number in each, and the values.
  std::size_t need = fixedBytes_ + rowNumber.size() * (pieces_.size() + 1);
  for (const Piece& piece : pieces_)
    if (piece.values && piece.values->given(at)) need += piece.values->text(at).size() * kEscapedGrowth;
  out.room(need);
  out.put(rowHead_);
  out.put(rowNumber);
  out.put(rowTail_);
  int styleValue = -1;
  char style[24];
  std::size_t styleLength = 0;
  for (const Piece& piece : pieces_) {
    if (piece.formulaCell) {
      writeCopiedFormulaCell(out.flush(), piece.formulaCell, r, i, sheetName_);
      out.resume(need);
      continue;
    }
    out.put(piece.head);
    if (!piece.cell) continue;
    out.put(rowNumber);
    if (!piece.values) {
      out.put(piece.tail);
      continue;
    }
    // A table column: the table's value, or nothing, in place of the table's name.
    const ColumnValues& values = *piece.values;
    out.put('"');
    if (values.styleSet(at)) {
      if (values.style(at) != styleValue) {  // most cells of a row share one format
        styleValue = values.style(at);
        std::memcpy(style, " s=\"", 4);
        const auto [styleEnd, styleEc] = std::to_chars(style + 4, style + sizeof style - 1, styleValue);
        *styleEnd = '"';
        styleLength = static_cast<std::size_t>(styleEnd + 1 - style);
      }
      out.put(std::string_view(style, styleLength));
    }
    out.put(piece.attributes);
    if (!values.given(at)) {
      out.put("/>");
      continue;
    }
    const std::string_view value = values.text(at);
    if (values.number(at)) {
      out.put(piece.numberOpen);
      out.put(value[0] == '+' ? value.substr(1) : value);
      out.put(piece.numberClose);
    } else {
      out.put(needsSpacePreserve(value) ? piece.textOpenPreserve : piece.textOpen);
      out.putEscapedText(value);
      out.put(piece.textClose);
    }
  }
  out.put(rowClose_);
}

// The keys of the replace pairs, found in a text by lookups at the places where one can begin rather
// than by a search of the text for every key.
class KeyIndex {
 public:
  explicit KeyIndex(const std::vector<std::pair<std::string, std::string>>& pairs) {
    for (std::size_t j = 0; j < pairs.size(); ++j) {
      const std::string& key = pairs[j].first;
      if (key.empty()) continue;
      auto& indexes = byKey_[key];
      indexes.push_back(j);  // ascending: a key listed twice applies twice
      lengths_[static_cast<unsigned char>(key[0])].push_back(key.size());
    }
    for (auto& lengths : lengths_) {
      std::sort(lengths.begin(), lengths.end());
      lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    }
  }

  // True when a key could begin somewhere in the text (one of its bytes begins a key).
  bool mayHoldKey(std::string_view text) const {
    for (char c : text)
      if (!lengths_[static_cast<unsigned char>(c)].empty()) return true;
    return false;
  }

  // The smallest pair index from `from` on whose key occurs in the text; npos when none does.
  std::size_t firstPresent(std::string_view text, std::size_t from) const {
    std::size_t best = std::string::npos;
    for (std::size_t p = 0; p < text.size(); ++p) {
      for (const std::size_t length : lengths_[static_cast<unsigned char>(text[p])]) {
        if (length > text.size() - p) break;
        const auto it = byKey_.find(text.substr(p, length));
        if (it == byKey_.end()) continue;
        const auto later = std::lower_bound(it->second.begin(), it->second.end(), from);
        if (later != it->second.end() && *later < best) best = *later;
      }
    }
    return best;
  }

 private:
  std::unordered_map<std::string_view, std::vector<std::size_t>> byKey_;  // views of the job's keys
  std::vector<std::size_t> lengths_[256];  // the keys' lengths by their first byte, ascending
};

class SheetFiller {
 public:
  SheetFiller(Workbook& workbook, std::size_t index, NumberStyles& styles, FillUsage* usage)
      : workbook_(workbook),
        index_(index),
        sheet_(workbook.sheets()[index]),
        root_(sheet_.xml->doc.document_element()),
        grid_(root_),
        styles_(styles),
        usage_(usage) {}

  void replacePlaceholders(const std::vector<std::pair<std::string, std::string>>& pairs,
                           const KeyIndex& keys) {
    for (const auto& [r, row] : grid_.rows())
      for (pugi::xml_node cell : row.children()) {
        if (xml::localName(cell) != "c" || !isTextConstant(cell)) continue;
        const std::string before = cellText(cell, workbook_.sharedStrings());
        if (!keys.mayHoldKey(before)) continue;
        // The pairs apply in list order, each to the text the earlier ones left: a pair whose key
        // does not occur in that text changes nothing and is passed over.
        std::string text = before;
        for (std::size_t j = keys.firstPresent(text, 0); j < pairs.size(); j = keys.firstPresent(text, j + 1))
          if (replaceAll(text, pairs[j].first, pairs[j].second) && usage_) usage_->pairs[j] = 1;
        if (text != before) {
          // Rich text runs are flattened into one plain text: a placeholder may have been split
          // across runs, and the runs' formatting no longer lines up with the new text.
          if (text.empty()) {
            clearCell(cell);  // as a cell whose whole text was replaced by nothing
          } else {
            setCellString(cell, text);
          }
          changed();
        }
      }
  }

  void fillTables(const ReportJob& job) {
    int markerRow = 0, markerCol = 0;
    for (const auto& [r, row] : grid_.rows()) {
      for (pugi::xml_node cell : row.children()) {
        if (xml::localName(cell) != "c") continue;
        if (cellText(cell, workbook_.sharedStrings()).find(kTableMarker) != std::string::npos) {
          markerRow = r;
          markerCol = cellColumn(cell);
          setCellString(cell, " ");
          changed();
          break;
        }
      }
      if (markerRow) break;
    }
    if (!markerRow || markerCol < 1) return;

    // The marker row's cells by column, and the table columns among them: a cell left of the marker
    // whose text (its first 63 characters) names one or more tables.
    const int n = job.columnCount;
    const int rows = std::max(n, 1);
    std::map<int, pugi::xml_node> cells;
    for (pugi::xml_node cell : grid_.row(markerRow).children())
      if (xml::localName(cell) == "c") cells.emplace(cellColumn(cell), cell);
    auto columns = std::make_shared<TableColumns>();
    for (const auto& [k, nameCell] : cells) {
      if (k >= markerCol) break;
      const std::string name = firstChars(cellText(nameCell, workbook_.sharedStrings()), kTableNameChars);
      if (name.empty()) continue;
      std::optional<ColumnValues> values;
      for (std::size_t t = 0; t < job.tables.size(); ++t) {
        const ReportTable& table = job.tables[t];
        if (table.name != name) continue;
        if (!values) {
          const pugi::xml_attribute s = nameCell.attribute("s");
          values.emplace(static_cast<std::size_t>(rows), s.as_int(0), static_cast<bool>(s));
        }
        if (usage_) usage_->tables[t] = 1;
        const std::uint8_t tableAt = values->tablePlace(table);
        // Tables of the same name write over each other in list order.
        for (int i = 0; i < n && i < static_cast<int>(table.cells.size()); ++i) {
          const auto at = static_cast<std::size_t>(i);
          if (table.cells[at].size == 0) continue;  // none given, or empty
          const int decimals = cellDecimals(table, at);
          values->give(at, tableAt, decimals >= 0);
          if (decimals >= 0) {
            const int style = styles_.forDecimals(values->style(at), decimals);
            if (style != values->style(at)) values->setStyle(at, style);
          }
        }
      }
      if (values) columns->emplace(k, std::move(*values));
    }

    if (n > 1) multiplyRow(markerRow, n - 1, columns);

    // The marker row itself: a table column loses the table's name and gets the first value.
    for (const auto& [k, values] : *columns) {
      pugi::xml_node cell = cells[k];
      clearCell(cell);
      if (values.given(0)) {
        const std::string value(values.text(0));
        if (values.number(0))
          setCellNumber(cell, value);
        else
          setCellString(cell, value);
        if (values.styleSet(0)) {
          pugi::xml_attribute s = cell.attribute("s");
          if (!s) s = cell.append_attribute("s");
          s.set_value(values.style(0));
        }
      }
      changed();
    }
  }

 private:
  void changed() {
    sheet_.xml->changed = true;
    workbook_.cellsChanged(index_);
  }

  template <typename Fn>
  void forEachFormula(pugi::xml_node row, const Fn& fn) {
    for (pugi::xml_node cell : row.children()) {
      if (xml::localName(cell) != "c") continue;
      if (pugi::xml_node f = xml::child(cell, "f")) fn(f);
    }
  }

  // Row `row` is present `copies` + 1 times afterwards; everything below moves down. The copies
  // carry the tables' values in the table columns.
  void multiplyRow(int row, int copies, std::shared_ptr<const TableColumns> columns) {
    const RowInsertion ins{row, copies};
    const std::string name = sheet_.name;
    pugi::xml_node original = grid_.row(row);

    std::vector<std::pair<int, pugi::xml_node>> below(grid_.rows().upper_bound(row), grid_.rows().end());
    for (auto& [r, node] : below) renumberRow(node, r + copies);

    const RefEditor insertion = [&](FormulaRef& ref) {
      if (!ref.qualified || ref.sheet == name) shiftFormulaRef(ref, ins);
    };
    for (const auto& [r, node] : grid_.rows())
      forEachFormula(node, [&](pugi::xml_node f) {
        if (*f.text().get()) f.text().set(rewriteFormula(f.text().get(), nullptr, insertion).c_str());
        if (pugi::xml_attribute ref = f.attribute("ref")) ref.set_value(shiftRange(ref.value(), ins).c_str());
      });

    auto made = std::make_shared<const RowCopies>(original, row, copies, std::move(columns), name);
    sheet_.xml->after.push_back({original, [made](std::string& out) { made->write(out); }, made->size()});
    grid_.reindex();

    shiftMergedCells(row, copies, ins);
    shiftSheetRanges(ins);
    workbook_.shiftReferencesFromOutside(index_, ins);
    workbook_.shiftDrawings(index_, ins);
    workbook_.invalidateCalculation();
    changed();
  }

  void shiftMergedCells(int row, int copies, const RowInsertion& ins) {
    pugi::xml_node merges = xml::child(root_, "mergeCells");
    if (!merges) return;
    std::vector<pugi::xml_node> inRow;
    for (pugi::xml_node m : merges.children()) {
      if (xml::localName(m) != "mergeCell") continue;
      const std::string ref = m.attribute("ref").value();
      const auto colon = ref.find(':');
      auto a = parseCellRef(ref.substr(0, colon));
      auto b = colon == std::string::npos ? a : parseCellRef(ref.substr(colon + 1));
      if (a && b && a->row == row && b->row == row) {
        inRow.push_back(m);
        continue;
      }
      m.attribute("ref").set_value(shiftRange(ref, ins).c_str());
    }
    for (pugi::xml_node m : inRow) {
      const std::string ref = m.attribute("ref").value();
      const auto colon = ref.find(':');
      auto a = parseCellRef(ref.substr(0, colon));
      auto b = colon == std::string::npos ? a : parseCellRef(ref.substr(colon + 1));
      for (int i = 1; i <= copies; ++i) {
        CellRef from = *a, to = *b;
        from.row += i;
        to.row += i;
        pugi::xml_node copy = merges.append_copy(m);
        copy.attribute("ref").set_value((formatCellRef(from) + ":" + formatCellRef(to)).c_str());
      }
    }
    pugi::xml_attribute count = merges.attribute("count");
    if (count) {
      int total = 0;
      for (pugi::xml_node m : merges.children()) total += xml::localName(m) == "mergeCell" ? 1 : 0;
      count.set_value(total);
    }
  }

  // Ranges kept outside the cells: dimension, selections, conditional formats, validations,
  // hyperlinks, filters, page breaks. Walked without recursion: a hostile part may nest deeply.
  void shiftSheetRanges(const RowInsertion& ins) {
    pugi::xml_node node = root_.first_child();
    while (node) {
      bool descend = false;
      if (node.type() == pugi::node_element) {
        const std::string_view local = xml::localName(node);
        if (local != "sheetData" && local != "mergeCells" && local != "extLst") {
          for (const char* attr : {"ref", "sqref", "activeCell", "topLeftCell"})
            if (pugi::xml_attribute a = node.attribute(attr))
              a.set_value(shiftRangeList(a.value(), ins).c_str());
          if (local == "brk" && xml::localName(node.parent()) == "rowBreaks")
            node.attribute("id").set_value(ins.shiftSingle(node.attribute("id").as_int()));
          descend = static_cast<bool>(node.first_child());
        }
      }
      if (descend) {
        node = node.first_child();
        continue;
      }
      while (node && node != root_ && !node.next_sibling()) node = node.parent();
      node = (node && node != root_) ? node.next_sibling() : pugi::xml_node();
    }
  }

  Workbook& workbook_;
  std::size_t index_;
  SheetEntry& sheet_;
  pugi::xml_node root_;
  SheetGrid grid_;
  NumberStyles& styles_;
  FillUsage* usage_;
};

}  // namespace

void fillWorkbook(Workbook& workbook, const ReportJob& job, std::vector<std::string>& diagnostics,
                  FillUsage* usage) {
  if (usage) {
    usage->pairs.assign(job.pairs.size(), 0);
    usage->tables.assign(job.tables.size(), 0);
    usage->hidden.assign(job.hiddenSheets.size(), 0);
  }
  NumberStyles styles(workbook.styles());
  const KeyIndex keys(job.pairs);
  auto& sheets = workbook.sheets();
  for (std::size_t b = sheets.size(); b-- > 0;) {
    if (!sheets[b].isWorksheet) continue;
    const std::string name = sheets[b].name;
    const auto hidden = std::find(job.hiddenSheets.begin(), job.hiddenSheets.end(), name);
    if (hidden != job.hiddenSheets.end()) {
      if (usage) usage->hidden[static_cast<std::size_t>(hidden - job.hiddenSheets.begin())] = 1;
      if (!workbook.hide(b)) diagnostics.push_back("Error hide sheet  " + name);
      continue;
    }
    for (std::size_t i = 0; i < job.pairs.size(); ++i) {
      const auto& [key, value] = job.pairs[i];
      if (key != sheets[b].name) continue;
      if (usage) usage->pairs[i] = 1;
      if (!workbook.rename(b, value)) diagnostics.push_back("Error rename sheet  " + sheets[b].name);
    }
    SheetFiller filler(workbook, b, styles, usage);
    filler.replacePlaceholders(job.pairs, keys);
    filler.fillTables(job);
  }
  workbook.settleActiveSheet();
}

FillResult fillPackage(ZipPackage& package, const ReportJob& job) {
  Workbook workbook(package);
  FillResult result;
  fillWorkbook(workbook, job, result.diagnostics, &result.usage);
  PartDeflater deflater;
  workbook.handOverChangedParts([&](const std::string& name, const std::string& bytes) {
    result.changedParts[name] = deflater.compress(bytes);
  });
  result.removedParts = workbook.removedParts();
  return result;
}

}  // namespace xlsxgen
