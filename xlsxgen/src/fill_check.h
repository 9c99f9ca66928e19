// Checks that keep a damaged template, a template that does not fit the report, or a report that
// would not open from being written as if all were well. Each is a pass of its own beside the fill,
// over what the fill has already read where it can.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "report_filler.h"
#include "report_job.h"
#include "zip_package.h"

namespace xlsxgen {

// Every part that the package's relationships (every ".rels" part) and its content types name is in
// the package: a workbook whose styles part was removed, say, is refused. External targets are not
// parts and are left alone. `referrers`, when given, limits the check to the ".rels" parts and
// content types it names. Throws XlsxError.
void checkReferencedParts(ZipPackage& package, const std::set<std::string>* referrers = nullptr);

// Every part that goes into the report as it is (not rewritten, not dropped) inflates to the
// checksum the archive lists: such parts are copied without being inflated, so a damaged one would
// reach the report unnoticed. Parts the fill read whole were compared then. Throws XlsxError.
void checkCopiedParts(ZipPackage& package, const FillResult& filled);

// The names of the job's tables and placeholders that found no place in the workbook, in the job's
// order, each once. A table must stand in a table row (the row of "&LST_F") of a sheet that was
// filled. A placeholder must have replaced text in a cell or named a sheet, except:
//  - a key the job lists twice (the first one took every occurrence);
//  - a key inside a longer key that found its place ("&CD_TEMP" in "&CD_TEMP_FULL"): a template may
//    show either form;
//  - a key naming a sheet to hide, which needs only that sheet to be there.
std::vector<std::string> unfilledNames(const ReportJob& job, const FillUsage& usage);
// The operator's text for those names. Empty for none.
std::string unfilledMessage(const std::vector<std::string>& names, const ReportJob& job);

// The report's package opens again: a consistent archive whose relationships and content types name
// only parts it holds (those named in `referrers`, when given), and whose parts named in `inflated`
// (every part when it is empty) inflate to their checksums. Throws XlsxError.
void checkWrittenReport(std::string_view bytes, const std::vector<std::string>& inflated = {},
                        const std::set<std::string>* referrers = nullptr);

}  // namespace xlsxgen
