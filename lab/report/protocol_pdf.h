// A PDF of a finished protocol workbook, beside it, made by LibreOffice in headless mode.
#pragma once

#include <optional>
#include <string>

#include "Outcome.h"

namespace quarn::report {

// Time a conversion may take before it is ended (a first start of LibreOffice makes its profile).
inline constexpr int kPdfSeconds = 120;

// True when LibreOffice is on the search path.
bool pdfAvailable();

// Writes <folder of workbook>/<workbook's name>.pdf and gives its path (UTF-8). Only the sheets the
// workbook shows are printed: a workbook that hides sheets is converted through a copy without them. Without
// LibreOffice the failure says that it is needed; a conversion that fails or overruns `timeoutSeconds` says
// so, and the workbook stays. The workbook part (xl/workbook.xml) without its hidden sheets: the names local
// to them dropped, the other sheet-local names and the active tab following their sheet. nullopt when it
// hides none, has no visible sheet, or does not read as XML.
std::optional<std::string> workbookWithoutHiddenSheets(const std::string& workbookXml);

data::Result<std::string> writeProtocolPdf(const std::string& workbookPath, int timeoutSeconds = kPdfSeconds);

}  // namespace quarn::report
