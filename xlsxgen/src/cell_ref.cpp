#include "cell_ref.h"

#include <cctype>

namespace xlsxgen {

namespace {

constexpr int kMaxCol = 16384;
constexpr int kMaxRow = 1048576;

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
// Characters that continue a name or number in a formula (bytes of UTF-8 letters included).
bool isNameChar(char c) {
  return isLetter(c) || isDigit(c) || c == '_' || c == '.' || c == '\\' ||
         static_cast<unsigned char>(c) >= 0x80;
}

enum class PartKind { Cell, RowOnly, ColOnly };

// Parses one end of a reference at s[pos]; on success moves pos past it.
std::optional<CellRef> parsePart(std::string_view s, std::size_t& pos, PartKind kind) {
  std::size_t i = pos;
  CellRef ref;
  if (kind != PartKind::RowOnly) {
    if (i < s.size() && s[i] == '$') {
      ref.colAbsolute = true;
      ++i;
    }
    std::size_t letters = 0;
    int col = 0;
    while (i < s.size() && isLetter(s[i]) && letters < 4) {
      col = col * 26 + (std::toupper(static_cast<unsigned char>(s[i])) - 'A' + 1);
      ++i;
      ++letters;
    }
    if (letters == 0 || letters > 3 || col > kMaxCol) return std::nullopt;
    ref.col = col;
  }
  if (kind != PartKind::ColOnly) {
    if (i < s.size() && s[i] == '$') {
      ref.rowAbsolute = true;
      ++i;
    }
    std::size_t digits = 0;
    long row = 0;
    while (i < s.size() && isDigit(s[i]) && digits < 8) {
      row = row * 10 + (s[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 7 || row < 1 || row > kMaxRow) return std::nullopt;
    ref.row = static_cast<int>(row);
  }
  pos = i;
  return ref;
}

struct ParsedRef {
  CellRef first;
  std::optional<CellRef> second;
  std::size_t end = 0;
};

// A cell, a cell range, a row range or a column range at s[pos], not followed by a name character.
std::optional<ParsedRef> parseReference(std::string_view s, std::size_t pos) {
  for (PartKind kind : {PartKind::Cell, PartKind::RowOnly, PartKind::ColOnly}) {
    std::size_t i = pos;
    auto first = parsePart(s, i, kind);
    if (!first) continue;
    ParsedRef parsed{*first, std::nullopt, i};
    if (i < s.size() && s[i] == ':') {
      std::size_t j = i + 1;
      if (auto second = parsePart(s, j, kind)) {
        parsed.second = *second;
        parsed.end = j;
      }
    }
    if (kind != PartKind::Cell && !parsed.second) continue;
    const std::size_t e = parsed.end;
    if (e < s.size() && (isNameChar(s[e]) || s[e] == '(' || s[e] == '[' || s[e] == '!' || s[e] == '$'))
      continue;
    return parsed;
  }
  return std::nullopt;
}

std::string formatPart(const CellRef& ref) {
  std::string out;
  if (ref.col > 0) {
    if (ref.colAbsolute) out += '$';
    out += columnName(ref.col);
  }
  if (ref.row > 0) {
    if (ref.rowAbsolute) out += '$';
    out += std::to_string(ref.row);
  }
  return out;
}

bool sameRef(const CellRef& a, const CellRef& b) {
  return a.col == b.col && a.row == b.row && a.colAbsolute == b.colAbsolute && a.rowAbsolute == b.rowAbsolute;
}

}  // namespace

std::string columnName(int col) {
  std::string name;
  while (col > 0) {
    const int rem = (col - 1) % 26;
    name.insert(name.begin(), static_cast<char>('A' + rem));
    col = (col - 1) / 26;
  }
  return name;
}

std::optional<CellRef> parseCellRef(std::string_view text) {
  std::size_t pos = 0;
  auto ref = parsePart(text, pos, PartKind::Cell);
  if (!ref || pos != text.size()) return std::nullopt;
  return ref;
}

std::string formatCellRef(const CellRef& ref) { return formatPart(ref); }

std::string shiftRange(std::string_view range, const RowInsertion& ins) {
  auto parsed = parseReference(range, 0);
  if (!parsed || parsed->end != range.size()) return std::string(range);
  if (!parsed->second) {
    if (parsed->first.row == 0) return std::string(range);
    parsed->first.row = ins.shiftSingle(parsed->first.row);
    return formatPart(parsed->first);
  }
  if (parsed->first.row > 0) parsed->first.row = ins.shiftStart(parsed->first.row);
  if (parsed->second->row > 0) parsed->second->row = ins.shiftEnd(parsed->second->row);
  return formatPart(parsed->first) + ":" + formatPart(*parsed->second);
}

std::string shiftRangeList(std::string_view list, const RowInsertion& ins) {
  std::string out;
  std::size_t pos = 0;
  while (pos <= list.size()) {
    std::size_t end = list.find(' ', pos);
    if (end == std::string_view::npos) end = list.size();
    if (!out.empty() || pos > 0) out += ' ';
    out += shiftRange(list.substr(pos, end - pos), ins);
    pos = end + 1;
  }
  return out;
}

std::string quoteSheetName(std::string_view name) {
  std::string out = "'";
  for (char c : name) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string rewriteFormula(std::string_view f, const SheetRenamer& renameSheet, const RefEditor& editRef) {
  std::string out;
  out.reserve(f.size() + 16);
  std::size_t i = 0;

  // Emits the reference at f[pos] (after an optional qualifier) or returns false.
  auto emitReference = [&](std::size_t pos, const std::string& sheet, bool qualified,
                           std::string_view qualifierText) {
    auto parsed = parseReference(f, pos);
    if (!parsed) return false;
    FormulaRef ref{sheet, qualified, parsed->first, parsed->second};
    if (editRef) editRef(ref);
    std::optional<std::string> newName;
    if (qualified && renameSheet) newName = renameSheet(sheet);
    out += newName ? quoteSheetName(*newName) + "!" : std::string(qualifierText);
    const bool unchanged =
        sameRef(ref.first, parsed->first) && (!parsed->second || sameRef(*ref.second, *parsed->second));
    if (unchanged) {
      out += f.substr(pos, parsed->end - pos);
    } else {
      out += formatPart(ref.first);
      if (ref.second) out.append(":").append(formatPart(*ref.second));
    }
    i = parsed->end;
    return true;
  };

  while (i < f.size()) {
    const char c = f[i];
    if (c == '"') {  // string literal, "" inside
      std::size_t j = i + 1;
      while (j < f.size()) {
        if (f[j] == '"') {
          if (j + 1 < f.size() && f[j + 1] == '"') {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      j = j < f.size() ? j + 1 : j;
      out += f.substr(i, j - i);
      i = j;
      continue;
    }
    if (c == '\'') {  // quoted sheet name
      std::string name;
      std::size_t j = i + 1;
      bool closed = false;
      while (j < f.size()) {
        if (f[j] == '\'') {
          if (j + 1 < f.size() && f[j + 1] == '\'') {
            name += '\'';
            j += 2;
            continue;
          }
          closed = true;
          ++j;
          break;
        }
        name += f[j++];
      }
      if (closed && j < f.size() && f[j] == '!') {
        const std::string_view qualifier = f.substr(i, j + 1 - i);
        if (emitReference(j + 1, name, true, qualifier)) continue;
        auto newName = renameSheet ? renameSheet(name) : std::nullopt;
        out += newName ? quoteSheetName(*newName) + "!" : std::string(qualifier);
        i = j + 1;
        continue;
      }
      out += f.substr(i, j - i);
      i = j;
      continue;
    }
    if (isNameChar(c) || c == '$') {
      std::size_t j = i;
      while (j < f.size() && (isNameChar(f[j]) || f[j] == '$')) ++j;
      if (j < f.size() && f[j] == '!' && f[i] != '$') {  // unquoted sheet qualifier
        const std::string name(f.substr(i, j - i));
        const std::string_view qualifier = f.substr(i, j + 1 - i);
        if (emitReference(j + 1, name, true, qualifier)) continue;
        auto newName = renameSheet ? renameSheet(name) : std::nullopt;
        out += newName ? quoteSheetName(*newName) + "!" : std::string(qualifier);
        i = j + 1;
        continue;
      }
      if (emitReference(i, std::string(), false, std::string_view())) continue;
      out += f.substr(i, j - i);
      i = j;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

}  // namespace xlsxgen

namespace xlsxgen {
void shiftFormulaRef(FormulaRef& ref, const RowInsertion& ins) {
  if (!ref.second) {
    if (ref.first.row > 0) ref.first.row = ins.shiftSingle(ref.first.row);
    return;
  }
  if (ref.first.row > 0) ref.first.row = ins.shiftStart(ref.first.row);
  if (ref.second->row > 0) ref.second->row = ins.shiftEnd(ref.second->row);
}
}  // namespace xlsxgen
