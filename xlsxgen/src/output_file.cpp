#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <vector>

#include "xlsx_error.h"

namespace xlsxgen {

namespace {

const std::string kCannotCreate = "Невозможно создать файл!";
constexpr std::uint64_t kMaxTemplateBytes = 512ull << 20;

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

struct TempFile {
  std::string path;
  ~TempFile() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

// Creates an empty file of a fresh name in `folder` (permissions from the umask, like any new file).
std::string createTempFile(const std::string& folder, const std::string& base) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = (folder.empty()  ? ""
                              : folder == "/" ? folder
                                              : folder + "/") +
                             ".~" + base + "." + std::to_string(::getpid()) + "." +
                             std::to_string(counter++) + ".tmp";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) break;
  }
  throw XlsxError(kCannotCreate);
}

void copyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!in || !out) throw XlsxError(kCannotCreate);
  std::vector<char> buffer(1 << 16);
  std::uint64_t total = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    total += static_cast<std::uint64_t>(got);
    if (total > kMaxTemplateBytes) throw XlsxError("Файл шаблона слишком велик");
    out.write(buffer.data(), got);
  }
  out.flush();
  if (in.bad() || !out) throw XlsxError(kCannotCreate);
}

// A rewritten part as libzip reads it: compressed bytes it copies as they are.
struct PartSource {
  const DeflatedPart* part = nullptr;
  time_t mtime = 0;
  zip_uint64_t offset = 0;  // read position
  zip_error_t error;
};

// A libzip source that gives the compressed bytes of a part and says so in its stat (method, sizes
// and CRC), so that libzip writes them without compressing again.
zip_int64_t deflatedPartSource(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* source = static_cast<PartSource*>(userdata);
  const DeflatedPart* part = source->part;
  switch (command) {
    case ZIP_SOURCE_OPEN:
      source->offset = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      const zip_uint64_t n = std::min<zip_uint64_t>(length, part->compressed.size() - source->offset);
      std::memcpy(data, part->compressed.data() + source->offset, static_cast<std::size_t>(n));
      source->offset += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &source->error);
      if (!st) return -1;
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC | ZIP_STAT_MTIME;
      st->size = part->size;
      st->comp_size = part->compressed.size();
      st->comp_method = ZIP_CM_DEFLATE;
      st->crc = part->crc;
      st->mtime = source->mtime;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&source->error, data, length);
    case ZIP_SOURCE_FREE:
      return 0;  // the part is owned by applyChanges
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                            ZIP_SOURCE_SUPPORTS, -1);
    default:
      zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

void applyChanges(const std::string& path, const std::map<std::string, DeflatedPart>& changed,
                  const std::set<std::string>& removed) {
  std::vector<std::unique_ptr<PartSource>> sources;  // alive until the archive is written
  const time_t now = ::time(nullptr);
  for (const auto& [name, part] : changed) {
    auto source = std::make_unique<PartSource>();
    source->part = &part;
    source->mtime = now;
    zip_error_init(&source->error);
    sources.push_back(std::move(source));
  }
  const auto finish = [&] {
    for (auto& source : sources) zip_error_fini(&source->error);
  };

  int code = 0;
  zip_t* archive = zip_open(path.c_str(), 0, &code);
  if (!archive) throw XlsxError(kCannotCreate);
  bool ok = true;
  std::size_t i = 0;
  for (const auto& [name, part] : changed) {
    zip_source_t* source = zip_source_function(archive, deflatedPartSource, sources[i++].get());
    if (!source) {
      ok = false;
      break;
    }
    const zip_int64_t index = zip_name_locate(archive, name.c_str(), ZIP_FL_ENC_RAW);
    zip_int64_t target = index;
    if (index >= 0) {
      if (zip_file_replace(archive, static_cast<zip_uint64_t>(index), source, 0) != 0) target = -1;
    } else {
      target = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    }
    if (target < 0) {
      zip_source_free(source);
      ok = false;
      break;
    }
  }
  for (const auto& name : removed) {
    const zip_int64_t index = zip_name_locate(archive, name.c_str(), ZIP_FL_ENC_RAW);
    if (ok && index >= 0 && zip_delete(archive, static_cast<zip_uint64_t>(index)) != 0) ok = false;
  }
  if (!ok || zip_close(archive) != 0) {
    zip_discard(archive);
    finish();
    throw XlsxError(kCannotCreate);
  }
  finish();
}

// Gives the temporary file its final name unless that name is taken (never replaces a file).
bool placeWithoutReplacing(const std::string& temp, const std::string& target) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  // File systems without the no-replace rename: a hard link fails as well when the name exists.
  if (::link(temp.c_str(), target.c_str()) == 0) {
    ::unlink(temp.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0) return false;
  if (::rename(temp.c_str(), target.c_str()) == 0) return true;
  throw XlsxError(kCannotCreate);
}

}  // namespace

std::string OutputName::candidate(int i) const {
  const std::string prefix = folder.empty() ? "" : folder == "/" ? folder : folder + "/";
  if (extension.empty()) return prefix + base;
  if (i == 0) return prefix + base + "." + extension;
  return prefix + base + "(" + std::to_string(i) + ")." + extension;
}

int OutputName::lastCandidate() const { return extension.empty() ? 0 : kMaxNameIndex; }

std::optional<OutputName> splitOutputName(const std::string& path, const std::string& extension) {
  const auto slash = path.rfind('/');
  OutputName name;
  name.folder = slash == std::string::npos ? "" : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  if (file.empty() || file == "." || file == "..") return std::nullopt;
  const auto dot = file.rfind('.');
  if (dot == std::string::npos || dot == 0) {
    name.base = file;
    return name;
  }
  name.base = file.substr(0, dot);
  name.extension = extension;
  return name;
}

bool pathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string reportExtension(const std::string& templatePath) {
  const auto slash = templatePath.rfind('/');
  const auto dot = templatePath.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
      lower(templatePath.substr(dot + 1)) == "xlsm")
    return "xlsm";
  return "xlsx";
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.empty() ? "." : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isReadableFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), R_OK) == 0;
}

std::string writeReport(const std::string& sourcePackage,
                        const std::map<std::string, DeflatedPart>& changedParts,
                        const std::set<std::string>& removedParts, const OutputName& name) {
  const std::string folder = name.folder;
  if (!isDirectory(folder)) throw XlsxError(kCannotCreate);
  TempFile temp;
  temp.path = createTempFile(folder, name.base);
  copyFile(sourcePackage, temp.path);
  applyChanges(temp.path, changedParts, removedParts);
  for (int i = 0; i <= name.lastCandidate(); ++i) {
    const std::string target = name.candidate(i);
    if (pathExists(target)) continue;
    if (placeWithoutReplacing(temp.path, target)) {
      temp.path.clear();
      return target;
    }
  }
  throw XlsxError(kCannotCreate);
}

}  // namespace xlsxgen
