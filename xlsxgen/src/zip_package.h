// Read access to the parts of a workbook package (a zip archive), with the limits that keep a hostile
// archive harmless: bounded part sizes and entry counts, no names that climb out of the package.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace xlsxgen {

struct ZipLimits {
  std::uint64_t maxPartBytes = 64ull << 20;    // one inflated part
  std::uint64_t maxTotalBytes = 256ull << 20;  // every part read during one run
  std::uint64_t maxEntries = 10000;
};

class ZipPackage {
 public:
  // Opens an archive file or a copy of the given bytes. Throws XlsxError when it is not a sound zip.
  static ZipPackage openFile(const std::string& path, ZipLimits limits = {});
  static ZipPackage openBytes(std::string_view bytes, ZipLimits limits = {});

  ZipPackage(ZipPackage&&) noexcept;
  ZipPackage& operator=(ZipPackage&&) noexcept;
  ~ZipPackage();

  bool contains(const std::string& name) const;
  // The inflated bytes of a part. Throws XlsxError when it is missing, too large or damaged.
  std::string read(const std::string& name);
  const std::vector<std::string>& names() const { return names_; }

 private:
  ZipPackage() = default;
  void index();

  struct zip* archive_ = nullptr;
  std::unique_ptr<std::string> buffer_;  // backing bytes of openBytes
  std::vector<std::string> names_;
  ZipLimits limits_;
  std::uint64_t totalRead_ = 0;
};

// True for a part name that stays inside the package: relative, no "..", no backslash or NUL.
bool isSafePartName(std::string_view name);

}  // namespace xlsxgen
