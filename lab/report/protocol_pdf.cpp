#include "protocol_pdf.h"

#include "quarn/office_convert.h"

namespace quarn::report {

namespace data = quarn::data;

bool pdfAvailable() { return !office::findProgram().empty(); }

data::Result<std::string> writeProtocolPdf(const std::string& workbookPath, int timeoutSeconds) {
  const auto slash = workbookPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : workbookPath.substr(0, slash);
  const office::Conversion c =
      office::convert(office::findProgram(), workbookPath, "pdf", folder, timeoutSeconds);
  switch (c.outcome) {
    case office::Outcome::Converted:
      return c.output;
    case office::Outcome::NoProgram:
      return data::Outcome::failed(
          "Для протокола в PDF нужен LibreOffice (soffice), он не установлен. Протокол сохранён только в "
          "Excel.");
    case office::Outcome::TimedOut:
      return data::Outcome::failed("LibreOffice не закончил преобразование протокола в PDF за " +
                                   std::to_string(timeoutSeconds) +
                                   " с; преобразование прервано. Протокол сохранён только в Excel.");
    case office::Outcome::Failed:
      break;
  }
  return data::Outcome::failed("LibreOffice не смог преобразовать протокол в PDF: " + workbookPath +
                               ". Протокол сохранён только в Excel.");
}

}  // namespace quarn::report
