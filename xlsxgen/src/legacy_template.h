// Templates in the legacy binary format (.xls): converted to Office Open XML with LibreOffice when it
// is installed, refused with a clear message otherwise.
#pragma once

#include <string>

namespace xlsxgen {

// True when the file starts with the compound-document signature of a legacy workbook.
bool isLegacyWorkbook(const std::string& path);

// A converted copy in a private temporary folder, removed with the object.
class ConvertedTemplate {
 public:
  // Throws XlsxError when LibreOffice is missing or the conversion fails.
  explicit ConvertedTemplate(const std::string& legacyPath);
  ~ConvertedTemplate();
  ConvertedTemplate(const ConvertedTemplate&) = delete;
  ConvertedTemplate& operator=(const ConvertedTemplate&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

// The LibreOffice program on the search path ("" when there is none).
std::string findOfficeProgram();

}  // namespace xlsxgen
