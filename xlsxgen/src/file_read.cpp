#include "file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace xlsxgen {

namespace {

// Reads until `size` bytes are in or the file ends; the number read, or -1 on an error.
long readFully(int fd, char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

FileRead readWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& out) {
  const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return FileRead::CannotOpen;
  struct stat st;
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return FileRead::Failed;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > maxBytes) return FileRead::TooLarge;
  out.assign(static_cast<std::size_t>(size), '\0');
  // A file that changed length while it was read is not taken for the template it was.
  if (readFully(file.fd, out.data(), out.size()) != static_cast<long>(size)) return FileRead::Failed;
  char extra;
  if (readFully(file.fd, &extra, 1) != 0) return FileRead::Failed;
  return FileRead::Done;
}

long readFileStart(const std::string& path, char* out, std::size_t size) {
  const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return -1;
  return readFully(file.fd, out, size);
}

}  // namespace xlsxgen
