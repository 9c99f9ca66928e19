// The protocol of a calibration: the as-found run, the trims and the as-left run of each device in one
// workbook. Both hosts make it from the sequence they ran, and the run history makes it again from the
// runs and adjustments it stored (history::calibrationRunsOfStored), with the same result.
#pragma once

#include <string>

#include "CalibrationRuns.h"
#include "make_report.h"

namespace quarn::report {

// The default template of a calibration's protocol, beside the default verification template.
inline constexpr const char* kCalibrationTemplateName = "Протокол калибровки.xlsx";

// The template a calibration with an as-left run is written into: the default verification template
// ("Протокол поверки.xls" or ".xlsx") gives way to the default calibration template in the same folder;
// any other template is taken as it is and must hold the calibration's places.
std::string calibrationTemplateName(const std::string& templateName);

// What the protocol says of the adjustment of a channel (0..3), UTF-8: each trim with its points and
// values, one per line, then the sequence's reason; "подстройка не требовалась" for a device suitable as
// found that nothing was done to, "подстройка не выполнялась" otherwise.
std::string adjustmentText(const data::CalibrationRuns& runs, int channel);

// With an as-left run: the calibration template holds for each device the as-found run's table
// ("&AF_REFF_I", "&AF_D<n>_INT_I" ... "&AF_D<n>_UNC_I" in the row of the marker "&LST_AF"), its result
// as found ("&CAL_D<n>_AF_RESULT") and its trims ("&CAL_D<n>_ADJ"), then the as-left run's table; the
// conclusion and the certificate or notice are the as-left run's. The report library fills it in two
// passes, the as-left run's and then the as-found run's tables (one block holds the tables of one run).
// A template without those places is refused by the report library, which names what it misses.
// Without an as-left run: the as-found run's protocol in the request's template, each device's notes
// ("&D<n>_NOTES") saying that no adjustment was needed or why none was made.
// The result as MakeReport's; -1 also without an as-found run.
int makeCalibrationReport(const data::CalibrationRuns& runs, ReportRequest request);

}  // namespace quarn::report
