#include "report_filler.h"

#include <algorithm>

#include "number_styles.h"
#include "sheet_grid.h"
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

void replaceAll(std::string& text, const std::string& key, const std::string& value) {
  std::size_t pos = 0;
  while ((pos = text.find(key, pos)) != std::string::npos) {
    text.replace(pos, key.size(), value);
    pos += value.size();
  }
}

class SheetFiller {
 public:
  SheetFiller(Workbook& workbook, std::size_t index, NumberStyles& styles)
      : workbook_(workbook),
        index_(index),
        sheet_(workbook.sheets()[index]),
        root_(sheet_.xml->doc.document_element()),
        grid_(root_),
        styles_(styles) {}

  void replacePlaceholders(const std::vector<std::pair<std::string, std::string>>& pairs) {
    for (const auto& [r, row] : grid_.rows())
      for (pugi::xml_node cell : row.children()) {
        if (xml::localName(cell) != "c" || !isTextConstant(cell)) continue;
        const std::string before = cellText(cell, workbook_.sharedStrings());
        std::string text = before;
        for (const auto& [key, value] : pairs) replaceAll(text, key, value);
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

    const int n = job.columnCount;
    if (n > 1) multiplyRow(markerRow, n - 1);

    for (int k = 1; k < markerCol; ++k) {
      pugi::xml_node nameCell = grid_.cell(markerRow, k);
      if (!nameCell) continue;
      const std::string fullName = cellText(nameCell, workbook_.sharedStrings());
      const std::string name = firstChars(fullName, kTableNameChars);
      if (name.empty()) continue;
      bool matched = false;
      for (const ReportTable& table : job.tables) {
        if (table.name != name) continue;
        if (!matched) {
          // The copies of the row carry the table's name; it is not left where no value comes.
          for (int i = 0; i < std::max(n, 1); ++i) {
            pugi::xml_node c = grid_.cell(markerRow + i, k);
            if (c && cellText(c, workbook_.sharedStrings()) == fullName) clearCell(c);
          }
          matched = true;
          changed();
        }
        for (int i = 0; i < n && i < static_cast<int>(table.cells.size()); ++i) {
          const auto& value = table.cells[static_cast<std::size_t>(i)];
          if (!value || value->empty()) continue;
          writeValue(grid_.ensureCell(markerRow + i, k), *value);
        }
      }
    }
  }

 private:
  void changed() { sheet_.xml->changed = true; }

  void writeValue(pugi::xml_node cell, const std::string& text) {
    if (auto decimals = numberDecimals(text)) {
      setCellNumber(cell, text);
      const int base = cell.attribute("s").as_int(0);
      const int style = styles_.forDecimals(base, *decimals);
      if (style != base) {
        pugi::xml_attribute s = cell.attribute("s");
        if (!s) s = cell.append_attribute("s");
        s.set_value(style);
      }
    } else {
      setCellString(cell, text);
    }
  }

  void forEachFormula(pugi::xml_node row,
                      const std::function<void(pugi::xml_node cell, pugi::xml_node f)>& fn) {
    for (pugi::xml_node cell : row.children()) {
      if (xml::localName(cell) != "c") continue;
      if (pugi::xml_node f = xml::child(cell, "f")) fn(cell, f);
    }
  }

  // Row `row` is present `copies` + 1 times afterwards; everything below moves down.
  void multiplyRow(int row, int copies) {
    const RowInsertion ins{row, copies};
    const std::string name = sheet_.name;
    pugi::xml_node data = grid_.sheetData();
    pugi::xml_node original = grid_.row(row);

    std::vector<std::pair<int, pugi::xml_node>> below(grid_.rows().upper_bound(row), grid_.rows().end());
    for (auto& [r, node] : below) renumberRow(node, r + copies);

    const RefEditor insertion = [&](FormulaRef& ref) {
      if (!ref.qualified || ref.sheet == name) shiftFormulaRef(ref, ins);
    };
    for (const auto& [r, node] : grid_.rows())
      forEachFormula(node, [&](pugi::xml_node, pugi::xml_node f) {
        if (*f.text().get()) f.text().set(rewriteFormula(f.text().get(), nullptr, insertion).c_str());
        if (pugi::xml_attribute ref = f.attribute("ref")) ref.set_value(shiftRange(ref.value(), ins).c_str());
      });

    if (original) {
      pugi::xml_node previous = original;
      for (int i = 1; i <= copies; ++i) {
        pugi::xml_node copy = data.insert_copy_after(original, previous);
        renumberRow(copy, row + i);
        copyFormulas(copy, i, name);
        previous = copy;
      }
    }
    grid_.reindex();

    shiftMergedCells(row, copies, ins);
    shiftSheetRanges(root_, ins);
    workbook_.shiftReferencesFromOutside(index_, ins);
    workbook_.shiftDrawings(index_, ins);
    workbook_.invalidateCalculation();
    changed();
  }

  // Formulas of the i-th copy of a row refer to their own row, as a copied row's formulas do.
  void copyFormulas(pugi::xml_node copy, int offset, const std::string& name) {
    const RefEditor relative = [&](FormulaRef& ref) {
      if (ref.qualified && ref.sheet != name) return;
      if (ref.first.row > 0 && !ref.first.rowAbsolute) ref.first.row += offset;
      if (ref.second && ref.second->row > 0 && !ref.second->rowAbsolute) ref.second->row += offset;
    };
    std::vector<pugi::xml_node> dropped;
    forEachFormula(copy, [&](pugi::xml_node cell, pugi::xml_node f) {
      if (!*f.text().get()) {  // a member of a shared formula: keep its value only
        dropped.push_back(f);
        return;
      }
      f.remove_attribute("t");
      f.remove_attribute("si");
      f.remove_attribute("ref");
      f.text().set(rewriteFormula(f.text().get(), nullptr, relative).c_str());
      (void)cell;
    });
    for (pugi::xml_node f : dropped) f.parent().remove_child(f);
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
  // hyperlinks, filters, page breaks.
  void shiftSheetRanges(pugi::xml_node node, const RowInsertion& ins) {
    for (pugi::xml_node c : node.children()) {
      if (c.type() != pugi::node_element) continue;
      const std::string_view local = xml::localName(c);
      if (local == "sheetData" || local == "mergeCells" || local == "extLst") continue;
      for (const char* attr : {"ref", "sqref", "activeCell", "topLeftCell"})
        if (pugi::xml_attribute a = c.attribute(attr)) a.set_value(shiftRangeList(a.value(), ins).c_str());
      if (local == "brk" && xml::localName(node) == "rowBreaks")
        c.attribute("id").set_value(ins.shiftSingle(c.attribute("id").as_int()));
      shiftSheetRanges(c, ins);
    }
  }

  Workbook& workbook_;
  std::size_t index_;
  SheetEntry& sheet_;
  pugi::xml_node root_;
  SheetGrid grid_;
  NumberStyles& styles_;
};

}  // namespace

void fillWorkbook(Workbook& workbook, const ReportJob& job, std::vector<std::string>& diagnostics) {
  NumberStyles styles(workbook.styles());
  auto& sheets = workbook.sheets();
  for (std::size_t b = sheets.size(); b-- > 0;) {
    if (!sheets[b].isWorksheet) continue;
    const std::string name = sheets[b].name;
    if (std::find(job.hiddenSheets.begin(), job.hiddenSheets.end(), name) != job.hiddenSheets.end()) {
      if (!workbook.hide(b)) diagnostics.push_back("Error hide sheet  " + name);
      continue;
    }
    for (const auto& [key, value] : job.pairs) {
      if (key != sheets[b].name) continue;
      if (!workbook.rename(b, value)) diagnostics.push_back("Error rename sheet  " + sheets[b].name);
    }
    SheetFiller filler(workbook, b, styles);
    filler.replacePlaceholders(job.pairs);
    filler.fillTables(job);
  }
}

FillResult fillPackage(ZipPackage& package, const ReportJob& job) {
  Workbook workbook(package);
  FillResult result;
  fillWorkbook(workbook, job, result.diagnostics);
  result.changedParts = workbook.changedParts();
  result.removedParts = workbook.removedParts();
  return result;
}

}  // namespace xlsxgen
