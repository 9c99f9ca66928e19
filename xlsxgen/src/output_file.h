// Where the report goes: the output name with the template format's extension, "(1)", "(2)" … before
// the extension while a file of that name exists, and writing the filled package through a temporary
// file in the output folder so that no half-written report is ever left under the report's name.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "part_deflate.h"
#include "zip_package.h"

namespace xlsxgen {

struct OutputName {
  std::string folder;     // "" for the current folder
  std::string base;       // file name before the last "."; the whole name when it has none
  std::string extension;  // without the "."; empty for a name without "."
  // The i-th candidate: base.ext for 0, base(i).ext for i >= 1 (a name without "." has only base).
  std::string candidate(int i) const;
  // The highest candidate index: a name without "." has no numbered variants.
  int lastCandidate() const;
};

inline constexpr int kMaxNameIndex = 9998;

// Splits an output path. A file name with a "." gets `extension` in place of its own; a file name
// without one is kept as it is. Nullopt when the path names no file (empty, or ending in "/").
std::optional<OutputName> splitOutputName(const std::string& path, const std::string& extension);

// The extension of the report for a template: a macro-enabled workbook stays .xlsm, anything else
// (.xlsx, a converted .xls) becomes .xlsx.
std::string reportExtension(const std::string& templatePath);

bool isDirectory(const std::string& path);
bool isReadableFile(const std::string& path);
// True when anything (a file, a folder, a dangling link) has this name.
bool pathExists(const std::string& path);

// The bytes of the report's package: the template's entries in their order, the untouched ones with
// their stored data copied byte for byte (sizes in their headers, no data descriptors), the changed
// ones with their new compressed data and the current time, the removed ones left out, parts the
// template did not have at the end, then the central directory and the template's archive comment.
// Throws XlsxError when the package would need zip64.
std::string packageBytes(const ZipPackage& source, const std::map<std::string, DeflatedPart>& changedParts,
                         const std::set<std::string>& removedParts);
// The same, written into `out` (emptied first).
void packageBytes(std::string& out, const ZipPackage& source,
                  const std::map<std::string, DeflatedPart>& changedParts,
                  const std::set<std::string>& removedParts);

// Writes the package `source` with the changed parts replaced (stored as they were compressed) and
// the removed ones left out, untouched entries copied raw, through a temporary file in the output
// folder, and puts it under the first free candidate name, once the package opens again
// (checkWrittenReport). The references of `source` must have been checked (checkReferencedParts):
// those of its parts copied unchanged are not read again. Returns the path written. Throws
// XlsxError.
std::string writeReport(const ZipPackage& source, const std::map<std::string, DeflatedPart>& changedParts,
                        const std::set<std::string>& removedParts, const OutputName& name);

}  // namespace xlsxgen
