// A workbook package opened for editing: the workbook part with its sheet list and defined names, the
// shared strings, and every worksheet as an XML tree. Only the parts that were changed are written
// back; everything else is copied from the template unchanged.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <vector>

#include "cell_ref.h"
#include "xml_util.h"
#include "zip_package.h"

namespace xlsxgen {

struct XmlPart {
  std::string name;
  pugi::xml_document doc;
  bool changed = false;
  std::string source;                    // the part's bytes, when `doc` was parsed in them
  std::vector<xml::AfterElement> after;  // raw XML written after an element when serialised
};

struct SheetEntry {
  std::string name;      // current name
  std::string partName;  // e.g. "xl/worksheets/sheet1.xml"; empty for a sheet without a part
  bool isWorksheet = false;
  pugi::xml_node entry;          // <sheet> in the workbook part
  std::unique_ptr<XmlPart> xml;  // worksheets only
  // The <f> elements of the sheet's cells, collected when first needed after the cells changed.
  std::vector<pugi::xml_node> formulas;
  bool formulasKnown = false;
  // False once a sheet was found without formulas: filling never adds one as a node (the copies of a
  // table row are written as text), so it is not searched again.
  bool mayHaveFormulas = true;
};

class Workbook {
 public:
  // Reads the package structure and every worksheet. Throws XlsxError when a required part is
  // missing or malformed.
  explicit Workbook(ZipPackage& package);

  std::vector<SheetEntry>& sheets() { return sheets_; }
  const std::vector<std::string>& sharedStrings() const { return sharedStrings_; }
  // The styles part, or null when the package has none.
  XmlPart* styles() { return styles_.get(); }

  bool isVisible(std::size_t index) const;
  // Hides a sheet; refused (false) when it is the last visible one, which a workbook must keep.
  // The active tab follows when settleActiveSheet is called.
  bool hide(std::size_t index);
  // After sheets were hidden: moves the active tab to a visible sheet when it is on a hidden one and
  // leaves only the active sheet selected. Done once for all the sheets hidden, not for each: the
  // first visible sheet at the end is where the tab would have moved step by step as well.
  void settleActiveSheet();
  // Renames a sheet and the references to it in defined names and formulas. False when the name is
  // not usable as a sheet name (empty, too long, forbidden characters, taken by another sheet).
  bool rename(std::size_t index, const std::string& newName);
  // To be called when cells of a sheet were added, removed or rewritten: its formula list is stale.
  void cellsChanged(std::size_t index) { sheets_.at(index).formulasKnown = false; }
  // Applies a row insertion on one sheet to the references that other sheets and defined names hold.
  void shiftReferencesFromOutside(std::size_t index, const RowInsertion& ins);
  // Moves the pictures and shapes anchored below an inserted block of rows along with those rows.
  void shiftDrawings(std::size_t index, const RowInsertion& ins);
  // Hands every part changed so far, serialised, to `take` (the text is valid during the call only).
  // The worksheets' trees are let go meanwhile: the workbook is not to be used afterwards.
  void handOverChangedParts(
      const std::function<void(const std::string& name, const std::string& bytes)>& take);
  // Parts to drop from the package.
  const std::set<std::string>& removedParts() const { return removed_; }
  // Drops the calculation chain (it names cells that moved) and asks for a full recalculation on open.
  void invalidateCalculation();

 private:
  void loadRelationships();

  const std::vector<pugi::xml_node>& formulas(std::size_t index);

  ZipPackage& package_;
  XmlPart contentTypes_;
  XmlPart workbook_;
  XmlPart workbookRels_;
  std::string workbookPart_;
  std::string calcChainPart_;
  std::vector<std::string> sharedStrings_;
  std::vector<SheetEntry> sheets_;
  std::unique_ptr<XmlPart> styles_;
  std::map<std::string, std::unique_ptr<XmlPart>> drawings_;
  std::set<std::string> removed_;
  bool sheetsHidden_ = false;  // hide() hid a sheet since the active tab was last settled
};

// Resolves a relationship target against the folder of its source part ("xl/workbook.xml").
std::string resolvePartName(const std::string& sourcePart, const std::string& target);

}  // namespace xlsxgen
