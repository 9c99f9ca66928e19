// The library's C surface: MakeXLSX and the texts that explain its last result.
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "fill_check.h"
#include "legacy_template.h"
#include "output_file.h"
#include "quarn/cp1251.h"
#include "report_filler.h"
#include "report_job.h"
#include "xlsx_error.h"
#include "xlsx_exchange.h"

#define XLSX_API extern "C" __attribute__((visibility("default")))

namespace {

thread_local std::string lastError;   // Windows-1251
thread_local std::string lastOutput;  // UTF-8 path

const std::string kTemplateMissing = "Файл шаблона не задан или недоступен!";
const std::string kCannotCreate = "Невозможно создать файл!";

int32_t makeReport(TXlsxExchange* block) {
  using namespace xlsxgen;
  if (!block) throw XlsxError("Не задан блок обмена");
  if (xlsx_exchange_checksum(block) != block->checksum) {
    lastError = quarn::text::utf8ToCp1251("Неверная контрольная сумма блока обмена");
    return XLSX_BAD_CHECKSUM;
  }
  const ReportJob job = readExchangeBlock(*block);

  if (!job.templatePath || !isReadableFile(*job.templatePath)) throw XlsxError(kTemplateMissing);
  if (!job.outputPath || job.outputPath->empty()) throw XlsxError(kCannotCreate);
  const auto name = splitOutputName(*job.outputPath, reportExtension(*job.templatePath));
  if (!name) throw XlsxError(kCannotCreate);
  if (!isDirectory(name->folder)) throw XlsxError(kCannotCreate);
  // A name without "." is used as it is while it is free; a taken one cannot be numbered.
  if (name->extension.empty() && pathExists(name->candidate(0)))
    throw XlsxError("Имя файла протокола без расширения: " + *job.outputPath);

  std::unique_ptr<ConvertedTemplate> converted;
  std::string source = *job.templatePath;
  if (isLegacyWorkbook(source)) {
    converted = std::make_unique<ConvertedTemplate>(source);
    source = converted->path();
  }
  ZipPackage package = ZipPackage::openFile(source);
  checkReferencedParts(package);
  const FillResult filled = fillPackage(package, job);
  // A report whose tables or placeholders found no place would look filled and say less than the
  // results: it is not written.
  if (const auto missing = unfilledNames(job, filled.usage); !missing.empty())
    throw XlsxError(unfilledMessage(missing, job));
  checkCopiedParts(package, filled);
  for (const auto& line : filled.diagnostics) std::fprintf(stderr, "xlsxgen: %s\n", line.c_str());
  lastOutput = writeReport(package, filled.changedParts, filled.removedParts, *name);
  return XLSX_OK;
}

}  // namespace

XLSX_API int32_t MakeXLSX(TXlsxExchange* block) {
  lastError.clear();
  lastOutput.clear();
  try {
    return makeReport(block);
  } catch (const xlsxgen::XlsxError& e) {
    lastError = quarn::text::utf8ToCp1251(e.what());
  } catch (const std::bad_alloc&) {
    lastError = quarn::text::utf8ToCp1251("Недостаточно памяти для формирования протокола");
  } catch (const std::exception& e) {
    // An unexpected failure: the operator's text stays Russian, the library's English detail goes
    // to the diagnostic stream.
    std::fprintf(stderr, "xlsxgen: %s\n", e.what());
    lastError = quarn::text::utf8ToCp1251("Ошибка формирования протокола (внутренняя ошибка)");
  } catch (...) {
    lastError = quarn::text::utf8ToCp1251("Ошибка формирования протокола");
  }
  lastOutput.clear();
  return XLSX_NOT_MADE;
}

XLSX_API const char* MakeXLSX_LastError(void) { return lastError.c_str(); }

XLSX_API const char* MakeXLSX_LastOutput(void) { return lastOutput.c_str(); }
