#include "protocol_pdf.h"

#include "quarn/office_convert.h"

namespace quarn::report {

bool pdfAvailable() { return !office::findProgram().empty(); }

PdfResult writeProtocolPdf(const std::string& workbookPath, int timeoutSeconds) {
  PdfResult r;
  const auto slash = workbookPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : workbookPath.substr(0, slash);
  const office::Conversion c =
      office::convert(office::findProgram(), workbookPath, "pdf", folder, timeoutSeconds);
  switch (c.outcome) {
    case office::Outcome::Converted:
      r.ok = true;
      r.pdfPath = c.output;
      break;
    case office::Outcome::NoProgram:
      r.error =
          "Для протокола в PDF нужен LibreOffice (soffice), он не установлен. Протокол сохранён только в "
          "Excel.";
      break;
    case office::Outcome::TimedOut:
      r.error = "LibreOffice не закончил преобразование протокола в PDF за " +
                std::to_string(timeoutSeconds) +
                " с; преобразование прервано. Протокол сохранён только в Excel.";
      break;
    case office::Outcome::Failed:
      r.error = "LibreOffice не смог преобразовать протокол в PDF: " + workbookPath +
                ". Протокол сохранён только в Excel.";
      break;
  }
  return r;
}

}  // namespace quarn::report
