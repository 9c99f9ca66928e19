// The protocol workbook through the report library, for a run just finished and for a run made
// again from the history.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "CalibrationRuns.h"
#include "MethodList.h"
#include "ProjectModel.h"
#include "RunSnapshot.h"
#include "make_report.h"

namespace cli {

// The template of a request: `templatePath` when given (--template), else the project's choice
// resolved as the workstation resolves it (the standard template beside the program when the
// project's is not there).
void setReportTemplate(quarn::report::ReportRequest& request, const std::string& templatePath,
                       quarn::data::ReportTemplate projectTemplate);

// The measurement-method list beside the program (mp.ini); empty when it is missing.
quarn::data::MethodList methodList();

// Makes the workbook of a run from its snapshot; throws Failure with the report library's reason.
// The report library's messages go to stderr.
void makeProtocol(const quarn::data::RunSnapshot& run, const quarn::report::ReportRequest& request);
// The same for the protocol of a calibration (both runs and the trims between them).
void makeCalibrationProtocol(const quarn::data::CalibrationRuns& runs,
                             const quarn::report::ReportRequest& request);

// A report that cannot be written is refused before anything is run: the folder of `reportPath`
// must be writable, and a given template readable.
void checkReportPaths(const std::string& reportPath, const std::string& templatePath);

}  // namespace cli
