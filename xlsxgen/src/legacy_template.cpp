#include "legacy_template.h"

#include <ftw.h>
#include <stdlib.h>

#include <cstring>

#include "file_read.h"
#include "quarn/office_convert.h"
#include "xlsx_error.h"

namespace xlsxgen {

namespace {

constexpr int kConversionSeconds = 120;

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

// Removes a folder and everything in it (symbolic links are removed, not followed).
void removeFolder(const std::string& folder) {
  ::nftw(folder.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

bool isLegacyWorkbook(const std::string& path) {
  static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  char head[8] = {};
  return readFileStart(path, head, sizeof head) == sizeof head &&
         std::memcmp(head, kSignature, sizeof head) == 0;
}

std::string findOfficeProgram() { return quarn::office::findProgram(); }

ConvertedTemplate::ConvertedTemplate(const std::string& legacyPath) {
  const std::string office = findOfficeProgram();
  if (office.empty())
    throw XlsxError(
        "Шаблон в старом формате .xls: для его преобразования нужен LibreOffice, он не установлен. "
        "Сохраните шаблон в формате .xlsx.");
  char folderTemplate[] = "/tmp/xlsxgen.XXXXXX";
  if (!::mkdtemp(folderTemplate)) throw XlsxError("Невозможно создать файл!");
  folder_ = folderTemplate;
  const quarn::office::Conversion converted =
      quarn::office::convert(office, legacyPath, "xlsx", folder_, kConversionSeconds);
  if (converted.outcome != quarn::office::Outcome::Converted) {
    removeFolder(folder_);
    throw XlsxError("Не удалось преобразовать шаблон .xls в .xlsx с помощью LibreOffice");
  }
  path_ = converted.output;
}

ConvertedTemplate::~ConvertedTemplate() { removeFolder(folder_); }

}  // namespace xlsxgen
