#include "zip_package.h"

#include <zip.h>

#include <algorithm>
#include <set>

#include "xlsx_error.h"

namespace xlsxgen {

namespace {

// What a libzip error code means, in the language of the messages it becomes part of (libzip's own
// texts are English).
std::string zipErrorText(int code) {
  switch (code) {
    case ZIP_ER_NOZIP:
      return "файл не является zip-архивом";
    case ZIP_ER_INCONS:
      return "архив повреждён (оглавление не сходится с содержимым)";
    case ZIP_ER_MULTIDISK:
      return "многотомные архивы не поддерживаются";
    case ZIP_ER_OPEN:
    case ZIP_ER_NOENT:
      return "файл не открывается";
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
      return "ошибка чтения файла";
    case ZIP_ER_EOF:
      return "файл обрывается раньше конца архива";
    case ZIP_ER_CRC:
      return "контрольная сумма данных не совпадает";
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
      return "сжатые данные повреждены";
    case ZIP_ER_COMPNOTSUPP:
      return "метод сжатия не поддерживается";
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
      return "архив зашифрован";
    case ZIP_ER_MEMORY:
      return "недостаточно памяти";
    default:
      return "ошибка архива (код " + std::to_string(code) + ")";
  }
}

const std::string kNotAWorkbook = "Шаблон не является книгой Excel (.xlsx): ";

}  // namespace

bool isSafePartName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos || name.find(':') != std::string_view::npos)
    return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view segment = name.substr(start, end - start);
    if (segment == "..") return false;
    start = end + 1;
  }
  return true;
}

ZipPackage ZipPackage::openFile(const std::string& path, ZipLimits limits) {
  ZipPackage package;
  package.limits_ = limits;
  int code = 0;
  package.archive_ = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (!package.archive_) throw XlsxError(kNotAWorkbook + zipErrorText(code));
  package.index();
  return package;
}

ZipPackage ZipPackage::openBytes(std::string_view bytes, ZipLimits limits) {
  ZipPackage package;
  package.limits_ = limits;
  package.buffer_ = std::make_unique<std::string>(bytes);
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source =
      zip_source_buffer_create(package.buffer_->data(), package.buffer_->size(), 0, &error);
  if (source) {
    package.archive_ = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!package.archive_) zip_source_free(source);
  }
  const int code = zip_error_code_zip(&error);
  zip_error_fini(&error);
  if (!package.archive_) throw XlsxError(kNotAWorkbook + zipErrorText(code));
  package.index();
  return package;
}

ZipPackage::ZipPackage(ZipPackage&& other) noexcept { *this = std::move(other); }

ZipPackage& ZipPackage::operator=(ZipPackage&& other) noexcept {
  std::swap(archive_, other.archive_);
  std::swap(buffer_, other.buffer_);
  std::swap(names_, other.names_);
  std::swap(limits_, other.limits_);
  std::swap(totalRead_, other.totalRead_);
  return *this;
}

ZipPackage::~ZipPackage() {
  if (archive_) zip_discard(archive_);
}

void ZipPackage::index() {
  const zip_int64_t count = zip_get_num_entries(archive_, 0);
  if (count < 0 || static_cast<std::uint64_t>(count) > limits_.maxEntries)
    throw XlsxError(kNotAWorkbook + "слишком много элементов архива");
  std::set<std::string> seen;
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(archive_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (!name) throw XlsxError(kNotAWorkbook + "элемент архива без имени");
    std::string text(name);
    if (!isSafePartName(text)) throw XlsxError(kNotAWorkbook + "недопустимое имя элемента \"" + text + "\"");
    if (!seen.insert(text).second) throw XlsxError(kNotAWorkbook + "повторяющийся элемент \"" + text + "\"");
    names_.push_back(std::move(text));
  }
}

bool ZipPackage::contains(const std::string& name) const {
  return std::find(names_.begin(), names_.end(), name) != names_.end();
}

std::string ZipPackage::read(const std::string& name) {
  zip_stat_t st;
  zip_stat_init(&st);
  if (!contains(name) || zip_stat(archive_, name.c_str(), ZIP_FL_ENC_RAW, &st) != 0)
    throw XlsxError(kNotAWorkbook + "нет части \"" + name + "\"");
  if (!(st.valid & ZIP_STAT_SIZE) || st.size > limits_.maxPartBytes ||
      totalRead_ + st.size > limits_.maxTotalBytes)
    throw XlsxError(kNotAWorkbook + "часть \"" + name + "\" слишком велика");
  zip_file_t* file = zip_fopen_index(archive_, st.index, 0);
  if (!file) throw XlsxError(kNotAWorkbook + "часть \"" + name + "\" не читается");
  std::string data(static_cast<std::size_t>(st.size), '\0');
  std::uint64_t got = 0;
  bool ok = true;
  while (got < st.size) {
    const zip_int64_t n = zip_fread(file, data.data() + got, st.size - got);
    if (n <= 0) {
      ok = false;
      break;
    }
    got += static_cast<std::uint64_t>(n);
  }
  // One more byte must not come: an entry that inflates beyond its declared size is damaged.
  char extra;
  if (ok && zip_fread(file, &extra, 1) != 0) ok = false;
  zip_fclose(file);
  if (!ok || got != st.size) throw XlsxError(kNotAWorkbook + "часть \"" + name + "\" повреждена");
  totalRead_ += st.size;
  return data;
}

}  // namespace xlsxgen
