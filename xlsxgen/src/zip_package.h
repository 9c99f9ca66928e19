// Read access to the parts of a workbook package (a zip archive), with the limits that keep a hostile
// archive harmless: bounded part sizes and entry counts, no names that climb out of the package. The
// archive is read into memory once; its central directory is checked against the local headers, and
// parts are inflated with libdeflate. The entries keep what the report's package needs to copy them
// as they are (output_file.h).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace xlsxgen {

struct ZipLimits {
  std::uint64_t maxPartBytes = 64ull << 20;    // one inflated part
  std::uint64_t maxTotalBytes = 256ull << 20;  // every part read during one run
  std::uint64_t maxEntries = 10000;
  std::uint64_t maxArchiveBytes = 512ull << 20;  // the archive file
};

// One entry as the central directory describes it.
struct ZipEntry {
  std::string name;  // as stored (UTF-8 when flag 11 says so)
  std::uint16_t madeBy = 0, needed = 0, flags = 0, method = 0, time = 0, date = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0, size = 0;
  std::uint64_t dataOffset = 0;  // the first byte of the stored data in the archive
  std::uint16_t internalAttributes = 0;
  std::uint32_t externalAttributes = 0;
  std::string localExtra, centralExtra, comment;  // extra fields without their zip64 field
};

class ZipPackage {
 public:
  // Opens an archive file or a copy of the given bytes. Throws XlsxError when it is not a sound zip.
  static ZipPackage openFile(const std::string& path, ZipLimits limits = {});
  static ZipPackage openBytes(std::string_view bytes, ZipLimits limits = {});
  // The same over bytes the caller keeps alive and unchanged while the package is used (no copy).
  static ZipPackage openView(std::string_view bytes, ZipLimits limits = {});

  ZipPackage(ZipPackage&&) noexcept;
  ZipPackage& operator=(ZipPackage&&) noexcept;
  ~ZipPackage();

  bool contains(const std::string& name) const;
  // The inflated bytes of a part. Throws XlsxError when it is missing, too large or damaged.
  std::string read(const std::string& name);
  const std::vector<std::string>& names() const { return names_; }
  // Inflates a part to its end without keeping it (into the thread's scratch buffer), so that its
  // checksum (CRC-32) is compared with the one the archive lists; a part already read whole was
  // compared then. Throws XlsxError when they differ or the part does not inflate.
  void verify(const std::string& name);

  // The entries in archive order, the archive's bytes and its comment: what a copy of it takes.
  const std::vector<ZipEntry>& entries() const { return entries_; }
  std::string_view bytes() const { return data_; }
  const std::string& comment() const { return comment_; }

 private:
  ZipPackage() = default;
  void index();
  // The entry of a part that may be inflated within the limits; counts it towards them.
  const ZipEntry& admit(const std::string& name);
  // Inflates an admitted entry into `out` (room for its size) and compares its checksum.
  void inflate(const ZipEntry& e, char* out);

  std::unique_ptr<std::string> bytes_;  // the archive when the package holds a copy of it
  std::string_view data_;               // the archive's bytes: *bytes_ or the caller's
  std::vector<ZipEntry> entries_;
  std::vector<std::string> names_;
  std::unordered_map<std::string, std::size_t> byName_;
  std::string comment_;
  ZipLimits limits_;
  std::uint64_t totalRead_ = 0;
  std::set<std::string> verified_;  // parts read whole: their checksum matched
};

// True for a part name that stays inside the package: relative, no "..", no backslash or NUL.
bool isSafePartName(std::string_view name);

}  // namespace xlsxgen
