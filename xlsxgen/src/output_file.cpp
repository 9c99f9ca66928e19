#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "fill_check.h"
#include "thread_buffer.h"
#include "xlsx_error.h"

namespace xlsxgen {

namespace {

const std::string kCannotCreate = "Невозможно создать файл!";

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

// Creates a file of a fresh name in `folder` (permissions from the umask, like any new file) and
// writes `bytes` to it through the descriptor that created it. Reopening it with O_TRUNC instead
// would make ext4 start writing the file back on close (its replace-by-truncate safeguard): a
// block device request in every report for nothing. On failure the file, if made, is removed.
std::string writeTempFile(const std::string& folder, const std::string& base, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = (folder.empty()  ? ""
                              : folder == "/" ? folder
                                              : folder + "/") +
                             ".~" + base + "." + std::to_string(::getpid()) + "." +
                             std::to_string(counter++) + ".tmp";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      break;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        ok = false;
      else
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    if (!ok) {
      ::unlink(path.c_str());
      break;
    }
    return path;
  }
  throw XlsxError(kCannotCreate);
}

// Little-endian fields of the archive written.
void put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// What the central directory says of one entry written.
struct Written {
  const ZipEntry* entry;  // the template's entry (its attributes, name, extra fields)
  std::string_view name;
  std::uint16_t needed, flags, method, time, date;
  std::uint32_t crc;
  std::uint64_t compressedSize, size, offset;
};

// The time of a rewritten part, as a zip entry carries it (local time, two-second steps).
std::pair<std::uint16_t, std::uint16_t> dosTimeNow() {
  const time_t now = ::time(nullptr);
  struct tm t;
  if (!::localtime_r(&now, &t) || t.tm_year < 80) return {0, (1 << 5) | 1};  // 1980-01-01
  const auto time = static_cast<std::uint16_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
  const auto date = static_cast<std::uint16_t>(((t.tm_year - 80) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
  return {time, date};
}

// Flag 3 (sizes in a descriptor after the data) is dropped from a copied entry: every header written
// carries them. A rewritten part keeps only flag 11 (UTF-8 names).
constexpr std::uint16_t kDescriptorFlag = 0x0008;
constexpr std::uint16_t kUtf8Flag = 0x0800;
constexpr std::uint32_t kZip32Limit = 0xFFFFFFFEu;

}  // namespace

std::string packageBytes(const ZipPackage& source, const std::map<std::string, DeflatedPart>& changed,
                         const std::set<std::string>& removed) {
  std::string out;
  packageBytes(out, source, changed, removed);
  return out;
}

void packageBytes(std::string& out, const ZipPackage& source,
                  const std::map<std::string, DeflatedPart>& changed, const std::set<std::string>& removed) {
  std::size_t total = source.bytes().size() + 1024;
  for (const auto& [name, part] : changed) total += part.compressed.size() + 2 * name.size() + 128;
  out.clear();
  out.reserve(total);
  // Plain variables, not a structured binding: lambdas below use them.
  const std::pair<std::uint16_t, std::uint16_t> now = dosTimeNow();
  const std::uint16_t nowTime = now.first, nowDate = now.second;
  std::vector<Written> written;
  written.reserve(source.entries().size() + changed.size());
  const auto writeEntry = [&](const ZipEntry* entry, std::string_view name, std::string_view data, Written w,
                              std::uint16_t needed) {
    if (out.size() > kZip32Limit || w.size > kZip32Limit || data.size() > kZip32Limit)
      throw XlsxError(kCannotCreate);
    w.entry = entry;
    w.name = name;
    w.needed = needed;
    w.offset = out.size();
    w.compressedSize = data.size();
    const std::string_view extra = entry ? std::string_view(entry->localExtra) : std::string_view();
    put32(out, 0x04034b50);
    put16(out, needed);
    put16(out, w.flags);
    put16(out, w.method);
    put16(out, w.time);
    put16(out, w.date);
    put32(out, w.crc);
    put32(out, static_cast<std::uint32_t>(w.compressedSize));
    put32(out, static_cast<std::uint32_t>(w.size));
    put16(out, static_cast<std::uint32_t>(name.size()));
    put16(out, static_cast<std::uint32_t>(extra.size()));
    out += name;
    out += extra;
    out += data;
    written.push_back(w);
  };
  const auto writeChanged = [&](const ZipEntry* entry, const std::string& name, const DeflatedPart& part) {
    Written w{};
    w.flags = entry ? entry->flags & kUtf8Flag : kUtf8Flag;
    w.method = 8;
    w.time = nowTime;
    w.date = nowDate;
    w.crc = part.crc;
    w.size = part.size;
    writeEntry(entry, name, part.compressed, w, 20);
  };
  for (const ZipEntry& e : source.entries()) {
    if (removed.count(e.name)) continue;
    if (const auto it = changed.find(e.name); it != changed.end()) {
      writeChanged(&e, e.name, it->second);
      continue;
    }
    Written w{};
    w.flags = static_cast<std::uint16_t>(e.flags & ~kDescriptorFlag);
    w.method = e.method;
    w.time = e.time;
    w.date = e.date;
    w.crc = e.crc;
    w.size = e.size;
    writeEntry(&e, e.name, source.bytes().substr(e.dataOffset, e.compressedSize), w, e.needed);
  }
  // A part the template did not have goes after the others.
  for (const auto& [name, part] : changed)
    if (!source.contains(name)) writeChanged(nullptr, name, part);

  const std::uint64_t directory = out.size();
  for (const Written& w : written) {
    const ZipEntry* e = w.entry;
    const std::string_view extra = e ? std::string_view(e->centralExtra) : std::string_view();
    const std::string_view comment = e ? std::string_view(e->comment) : std::string_view();
    put32(out, 0x02014b50);
    put16(out, e ? e->madeBy : 20);
    put16(out, w.needed);
    put16(out, w.flags);
    put16(out, w.method);
    put16(out, w.time);
    put16(out, w.date);
    put32(out, w.crc);
    put32(out, static_cast<std::uint32_t>(w.compressedSize));
    put32(out, static_cast<std::uint32_t>(w.size));
    put16(out, static_cast<std::uint32_t>(w.name.size()));
    put16(out, static_cast<std::uint32_t>(extra.size()));
    put16(out, static_cast<std::uint32_t>(comment.size()));
    put16(out, 0);
    put16(out, e ? e->internalAttributes : 0);
    put32(out, e ? e->externalAttributes : 0);
    put32(out, static_cast<std::uint32_t>(w.offset));
    out += w.name;
    out += extra;
    out += comment;
  }
  const std::uint64_t directorySize = out.size() - directory;
  if (written.size() > 0xFFFE || out.size() > kZip32Limit) throw XlsxError(kCannotCreate);
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<std::uint32_t>(written.size()));
  put16(out, static_cast<std::uint32_t>(written.size()));
  put32(out, static_cast<std::uint32_t>(directorySize));
  put32(out, static_cast<std::uint32_t>(directory));
  put16(out, static_cast<std::uint32_t>(source.comment().size()));
  out += source.comment();
}

namespace {

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

std::string writeReport(const ZipPackage& source, const std::map<std::string, DeflatedPart>& changedParts,
                        const std::set<std::string>& removedParts, const OutputName& name) {
  const std::string folder = name.folder;
  if (!isDirectory(folder)) throw XlsxError(kCannotCreate);
  ThreadBuffer buffer(ThreadBufferUse::Text);
  std::string& bytes = buffer.text();
  packageBytes(bytes, source, changedParts, removedParts);
  // Only a report that opens again is written. The parts copied unchanged were compared with their
  // checksums in the template and go in as stored; the rewritten ones are inflated again here. The
  // references of the relationships and content types copied unchanged were found in the template;
  // while no part is left out, the report holds every part they name, so only the rewritten ones are
  // read again.
  std::vector<std::string> rewritten;
  rewritten.reserve(changedParts.size());
  for (const auto& part : changedParts) rewritten.push_back(part.first);
  const std::set<std::string> referrers(rewritten.begin(), rewritten.end());
  checkWrittenReport(bytes, rewritten, removedParts.empty() ? &referrers : nullptr);
  TempFile temp;
  temp.path = writeTempFile(folder, name.base, bytes);
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
