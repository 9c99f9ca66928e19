// A PDF of a finished protocol workbook, beside it, made by LibreOffice in headless mode.
#pragma once

#include <string>

#include "Outcome.h"

namespace quarn::report {

// Time a conversion may take before it is ended (a first start of LibreOffice makes its profile).
inline constexpr int kPdfSeconds = 120;

// True when LibreOffice is on the search path.
bool pdfAvailable();

// Writes <folder of workbook>/<workbook's name>.pdf and gives its path (UTF-8). Without LibreOffice
// the failure says that it is needed; a conversion that fails or overruns `timeoutSeconds` says so,
// and the workbook stays.
data::Result<std::string> writeProtocolPdf(const std::string& workbookPath, int timeoutSeconds = kPdfSeconds);

}  // namespace quarn::report
