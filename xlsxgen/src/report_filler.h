// Fills an opened workbook as a report job says: for every worksheet from the last to the first,
// hide it, or rename it, replace the placeholders in its cells and multiply its table row.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "part_deflate.h"
#include "report_job.h"
#include "workbook.h"

namespace xlsxgen {

// The marker of the table row, and the longest cell text compared with table names.
inline constexpr const char* kTableMarker = "&LST_F";
inline constexpr std::size_t kTableNameChars = 63;

// What of a job found its place in the workbook, by index into the job's lists: a pair that
// replaced text in a cell or whose key named a sheet, a table whose name stood in a table row, a
// hidden-sheet name that named a sheet.
struct FillUsage {
  std::vector<char> pairs, tables, hidden;
};

struct FillResult {
  std::map<std::string, DeflatedPart> changedParts;  // part name -> new bytes, compressed
  std::set<std::string> removedParts;
  std::vector<std::string> diagnostics;  // sub-steps that could not be done, e.g. a refused rename
  FillUsage usage;
};

// Fills the workbook; `usage`, when given, is sized to the job and told what found its place.
void fillWorkbook(Workbook& workbook, const ReportJob& job, std::vector<std::string>& diagnostics,
                  FillUsage* usage = nullptr);

// Fills the opened package and returns what changed. Throws XlsxError on a malformed package.
FillResult fillPackage(ZipPackage& package, const ReportJob& job);

}  // namespace xlsxgen
