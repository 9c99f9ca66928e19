#include "TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "quarn/cp1251.h"

namespace quarn::data {
namespace {

// Whether s is well-formed UTF-8 with at least one multi-byte sequence. Windows-1251 Cyrillic text
// practically never is: its letters (0xC0..0xFF) would need continuation bytes (0x80..0xBF) after
// them, which are rare symbols in that code page.
bool looksLikeUtf8(std::string_view s) {
  bool multi = false;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || (extra == 1 && b < 0xC2)) return false;
    if (i + static_cast<std::size_t>(extra) >= s.size() && extra > 0) return false;
    for (int k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    multi = multi || extra > 0;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return multi;
}

// UTF-16LE straight to Windows-1251; code units the code page lacks (surrogates among them) become '?'.
std::string utf16leToCp1251(std::string_view s) {
  std::string out;
  out.reserve(s.size() / 2);
  for (std::size_t i = 0; i + 1 < s.size(); i += 2) {
    const char32_t cp = static_cast<unsigned char>(s[i]) | (static_cast<unsigned char>(s[i + 1]) << 8);
    const int b = text::encodeCodePoint(cp);
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
  return out;
}

std::string systemError(const std::string& what, const std::string& path, int err) {
  return what + " \"" + path + "\": " + std::strerror(err);
}

}  // namespace

std::string toCp1251(std::string_view content, FileEncoding& detected) {
  if (content.size() >= 3 && content.substr(0, 3) == "\xEF\xBB\xBF") {
    detected = FileEncoding::Utf8Bom;
    return text::utf8ToCp1251(content.substr(3));
  }
  if (content.size() >= 2 && content.substr(0, 2) == "\xFF\xFE") {
    detected = FileEncoding::Utf16LeBom;
    return utf16leToCp1251(content.substr(2));
  }
  if (looksLikeUtf8(content)) {
    detected = FileEncoding::Utf8;
    return text::utf8ToCp1251(content);
  }
  detected = FileEncoding::Cp1251;
  return std::string(content);
}

Result<TextContent> readTextFile(const std::string& path) {
  // Non-blocking, so a path naming a pipe or a terminal cannot hang the open; only regular files
  // are read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int err = errno;
    return Outcome::failed(
        systemError(err == ENOENT ? "Файл не найден" : "Не удаётся открыть файл", path, err),
        err == ENOENT ? Fault::NotFound : Fault::Unreadable);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Outcome::failed("Не удаётся прочитать файл \"" + path + "\": это не обычный файл",
                           Fault::Unreadable);
  }
  std::string content;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return Outcome::failed(systemError("Ошибка чтения файла", path, err), Fault::Unreadable);
    }
    if (n == 0) break;
    content.append(buf, static_cast<std::size_t>(n));
    if (content.size() > kMaxTextFileSize) {
      ::close(fd);
      return Outcome::failed("Файл \"" + path + "\" слишком велик для файла проекта или настроек",
                             Fault::Damaged);
    }
  }
  ::close(fd);
  return textFromBytes(content, path);
}

Result<TextContent> textFromBytes(std::string_view content, const std::string& name) {
  if (content.size() > kMaxTextFileSize)
    return Outcome::failed("Файл \"" + name + "\" слишком велик для файла проекта или настроек",
                           Fault::Damaged);
  const bool utf16 = content.size() >= 2 && content.compare(0, 2, "\xFF\xFE") == 0;
  if (!utf16 && content.find('\0') != std::string_view::npos)
    return Outcome::failed("Файл \"" + name + "\" повреждён: в тексте есть нулевые байты", Fault::Damaged);
  TextContent r;
  r.bytes = toCp1251(content, r.encoding);
  if (utf16 && r.bytes.find('\0') != std::string::npos)
    return Outcome::failed("Файл \"" + name + "\" повреждён: в тексте есть нулевые символы", Fault::Damaged);
  return r;
}

Outcome writeFileAtomically(const std::string& pathGiven, std::string_view bytes) {
  // A symbolic link keeps pointing at the file: the file it names is the one replaced.
  std::string path = pathGiven;
  struct stat lst {};
  if (::lstat(pathGiven.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(pathGiven.c_str(), nullptr)) {
      path = real;
      std::free(real);
    }
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string tmpl = path + ".tmp-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return Outcome::failed(systemError("Не удаётся создать временный файл рядом с", path, errno));
  const std::string tmp(name.data());

  // mkstemp creates 0600; keep the target's mode, or give a new file the usual 0666 less umask.
  struct stat st {};
  mode_t mode;
  if (::stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);

  auto fail = [&](const char* what) {
    const int err = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    return Outcome::failed(systemError(what, path, err));
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("Ошибка записи файла");
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return fail("Ошибка записи файла на диск");
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return Outcome::failed(systemError("Ошибка записи файла", path, err));
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    return Outcome::failed(systemError("Не удаётся заменить файл", path, err));
  }
  // The rename itself reaches the disk with the folder.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return {};
}

}  // namespace quarn::data
