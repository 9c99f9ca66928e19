// A PDF of a finished protocol workbook, beside it, made by LibreOffice in headless mode.
#pragma once

#include <string>

namespace quarn::report {

// Time a conversion may take before it is ended (a first start of LibreOffice makes its profile).
inline constexpr int kPdfSeconds = 120;

struct PdfResult {
  bool ok = false;
  std::string pdfPath;  // UTF-8, when ok
  std::string error;    // the operator's message (UTF-8, Russian) when not ok
};

// True when LibreOffice is on the search path.
bool pdfAvailable();

// Writes <folder of workbook>/<workbook's name>.pdf. Without LibreOffice the result says that it is
// needed; a conversion that fails or overruns `timeoutSeconds` says so, and the workbook stays.
PdfResult writeProtocolPdf(const std::string& workbookPath, int timeoutSeconds = kPdfSeconds);

}  // namespace quarn::report
