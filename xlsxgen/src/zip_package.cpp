#include "zip_package.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "file_read.h"
#include "thread_buffer.h"
#include "xlsx_error.h"

namespace xlsxgen {

namespace {

const std::string kNotAWorkbook = "Шаблон не является книгой Excel (.xlsx): ";
const std::string kNotAZip = "файл не является zip-архивом";
const std::string kInconsistent = "архив повреждён (оглавление не сходится с содержимым)";
const std::string kCutShort = "файл обрывается раньше конца архива";

[[noreturn]] void refuse(const std::string& why) { throw XlsxError(kNotAWorkbook + why); }

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndOfDirectory = 0x06054b50;
constexpr std::uint32_t kZip64End = 0x06064b50;
constexpr std::uint32_t kZip64Locator = 0x07064b50;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;

// Little-endian fields of a byte range whose bounds the caller has checked.
std::uint16_t u16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    (static_cast<unsigned char>(b[at + 1]) << 8));
}
std::uint32_t u32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(u16(b, at)) | (static_cast<std::uint32_t>(u16(b, at + 2)) << 16);
}
std::uint64_t u64(std::string_view b, std::size_t at) {
  return static_cast<std::uint64_t>(u32(b, at)) | (static_cast<std::uint64_t>(u32(b, at + 4)) << 32);
}

bool fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

// An extra field area without its zip64 field; the zip64 values, when present, are read into the
// 64-bit fields that hold 0xFFFFFFFF (0xFFFF for the disk) in the header.
std::string withoutZip64(std::string_view extra) {
  std::string kept;
  std::size_t at = 0;
  while (at + 4 <= extra.size()) {
    const std::uint16_t id = u16(extra, at);
    const std::size_t length = u16(extra, at + 2);
    const std::size_t end = std::min(extra.size(), at + 4 + length);
    if (id != kZip64Extra) kept.append(extra.substr(at, end - at));
    at = end;
  }
  return kept;
}

void readZip64(std::string_view extra, std::uint64_t& size, std::uint64_t& compressed, std::uint64_t& offset,
               std::uint32_t& disk) {
  std::size_t at = 0;
  while (at + 4 <= extra.size()) {
    const std::uint16_t id = u16(extra, at);
    const std::size_t length = u16(extra, at + 2);
    if (at + 4 + length > extra.size()) refuse(kInconsistent);
    if (id == kZip64Extra) {
      std::size_t p = at + 4;
      const std::size_t end = p + length;
      for (std::uint64_t* field : {&size, &compressed, &offset}) {
        if (*field != 0xFFFFFFFFu) continue;
        if (p + 8 > end) refuse(kInconsistent);
        *field = u64(extra, p);
        p += 8;
      }
      if (disk == 0xFFFFu) {
        if (p + 4 > end) refuse(kInconsistent);
        disk = u32(extra, p);
      }
      return;
    }
    at += 4 + length;
  }
}

struct Decompressor {
  libdeflate_decompressor* d = nullptr;
  ~Decompressor() { libdeflate_free_decompressor(d); }
};

// One decompressor per thread, kept from one report to the next.
libdeflate_decompressor* decompressor() {
  thread_local Decompressor one;
  if (!one.d) one.d = libdeflate_alloc_decompressor();
  if (!one.d) throw std::bad_alloc();
  return one.d;
}

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
  package.bytes_ = std::make_unique<std::string>();
  switch (readWholeFile(path, limits.maxArchiveBytes, *package.bytes_)) {
    case FileRead::Done:
      break;
    case FileRead::CannotOpen:
      refuse("файл не открывается");
    case FileRead::TooLarge:
      throw XlsxError("Файл шаблона слишком велик");
    case FileRead::Failed:
      refuse("ошибка чтения файла");
  }
  package.data_ = *package.bytes_;
  package.index();
  return package;
}

ZipPackage ZipPackage::openBytes(std::string_view bytes, ZipLimits limits) {
  if (bytes.size() > limits.maxArchiveBytes) throw XlsxError("Файл шаблона слишком велик");
  ZipPackage package;
  package.limits_ = limits;
  package.bytes_ = std::make_unique<std::string>(bytes);
  package.data_ = *package.bytes_;
  package.index();
  return package;
}

ZipPackage ZipPackage::openView(std::string_view bytes, ZipLimits limits) {
  if (bytes.size() > limits.maxArchiveBytes) throw XlsxError("Файл шаблона слишком велик");
  ZipPackage package;
  package.limits_ = limits;
  package.data_ = bytes;
  package.index();
  return package;
}

ZipPackage::ZipPackage(ZipPackage&& other) noexcept { *this = std::move(other); }

ZipPackage& ZipPackage::operator=(ZipPackage&& other) noexcept {
  std::swap(bytes_, other.bytes_);
  std::swap(data_, other.data_);
  std::swap(entries_, other.entries_);
  std::swap(names_, other.names_);
  std::swap(byName_, other.byName_);
  std::swap(comment_, other.comment_);
  std::swap(limits_, other.limits_);
  std::swap(totalRead_, other.totalRead_);
  std::swap(verified_, other.verified_);
  return *this;
}

ZipPackage::~ZipPackage() = default;

void ZipPackage::index() {
  const std::string_view b = data_;
  const std::uint64_t size = b.size();
  if (size < kEndSize) refuse(kNotAZip);

  // The end of the central directory: the last record signature whose comment fits the file.
  std::size_t end = std::string_view::npos;
  const std::size_t lowest = size - kEndSize > 0xFFFF ? size - kEndSize - 0xFFFF : 0;
  for (std::size_t at = size - kEndSize + 1; at-- > lowest;) {
    if (u32(b, at) == kEndOfDirectory && at + kEndSize + u16(b, at + 20) <= size) {
      end = at;
      break;
    }
  }
  if (end == std::string_view::npos) refuse(kNotAZip);
  std::uint32_t disk = u16(b, end + 4), directoryDisk = u16(b, end + 6);
  std::uint64_t entriesHere = u16(b, end + 8), count = u16(b, end + 10);
  std::uint64_t directorySize = u32(b, end + 12), directoryOffset = u32(b, end + 16);
  comment_.assign(b.substr(end + kEndSize, u16(b, end + 20)));
  std::uint64_t directoryLimit = end;
  if (count == 0xFFFF || directorySize == 0xFFFFFFFFu || directoryOffset == 0xFFFFFFFFu) {
    if (end < 20 || u32(b, end - 20) != kZip64Locator) refuse(kInconsistent);
    const std::uint64_t record = u64(b, end - 20 + 8);
    if (!fits(record, 56, end - 20) || u32(b, record) != kZip64End) refuse(kInconsistent);
    disk = u32(b, record + 16);
    directoryDisk = u32(b, record + 20);
    entriesHere = u64(b, record + 24);
    count = u64(b, record + 32);
    directorySize = u64(b, record + 40);
    directoryOffset = u64(b, record + 48);
    directoryLimit = record;
  }
  if (disk != 0 || directoryDisk != 0 || entriesHere != count) refuse("многотомные архивы не поддерживаются");
  if (count > limits_.maxEntries) refuse("слишком много элементов архива");
  if (!fits(directoryOffset, directorySize, directoryLimit) || directorySize < count * kCentralSize)
    refuse(kInconsistent);

  entries_.reserve(static_cast<std::size_t>(count));
  std::size_t at = static_cast<std::size_t>(directoryOffset);
  const std::size_t directoryEnd = at + static_cast<std::size_t>(directorySize);
  for (std::uint64_t i = 0; i < count; ++i) {
    if (at + kCentralSize > directoryEnd || u32(b, at) != kCentralHeader) refuse(kInconsistent);
    ZipEntry e;
    e.madeBy = u16(b, at + 4);
    e.needed = u16(b, at + 6);
    e.flags = u16(b, at + 8);
    e.method = u16(b, at + 10);
    e.time = u16(b, at + 12);
    e.date = u16(b, at + 14);
    e.crc = u32(b, at + 16);
    e.compressedSize = u32(b, at + 20);
    e.size = u32(b, at + 24);
    const std::size_t nameLength = u16(b, at + 28), extraLength = u16(b, at + 30),
                      commentLength = u16(b, at + 32);
    std::uint32_t startDisk = u16(b, at + 34);
    e.internalAttributes = u16(b, at + 36);
    e.externalAttributes = u32(b, at + 38);
    std::uint64_t local = u32(b, at + 42);
    const std::size_t fieldsEnd = at + kCentralSize + nameLength + extraLength + commentLength;
    if (fieldsEnd > directoryEnd) refuse(kInconsistent);
    e.name.assign(b.substr(at + kCentralSize, nameLength));
    const std::string_view extra = b.substr(at + kCentralSize + nameLength, extraLength);
    readZip64(extra, e.size, e.compressedSize, local, startDisk);
    e.centralExtra = withoutZip64(extra);
    e.comment.assign(b.substr(at + kCentralSize + nameLength + extraLength, commentLength));
    at = fieldsEnd;
    if (startDisk != 0) refuse("многотомные архивы не поддерживаются");

    // The local header must be there and name the same entry.
    if (!fits(local, kLocalSize, size) || u32(b, static_cast<std::size_t>(local)) != kLocalHeader)
      refuse(kInconsistent);
    const std::size_t l = static_cast<std::size_t>(local);
    const std::size_t localName = u16(b, l + 26), localExtra = u16(b, l + 28);
    if (!fits(l + kLocalSize, localName + localExtra, size)) refuse(kCutShort);
    if (b.substr(l + kLocalSize, localName) != e.name) refuse(kInconsistent);
    e.localExtra = withoutZip64(b.substr(l + kLocalSize + localName, localExtra));
    e.dataOffset = l + kLocalSize + localName + localExtra;
    if (!fits(e.dataOffset, e.compressedSize, size)) refuse(kCutShort);

    if (e.name.empty()) refuse("элемент архива без имени");
    if (!isSafePartName(e.name)) refuse("недопустимое имя элемента \"" + e.name + "\"");
    if (!byName_.emplace(e.name, entries_.size()).second) refuse("повторяющийся элемент \"" + e.name + "\"");
    names_.push_back(e.name);
    entries_.push_back(std::move(e));
  }
}

bool ZipPackage::contains(const std::string& name) const { return byName_.count(name) != 0; }

const ZipEntry& ZipPackage::admit(const std::string& name) {
  const auto found = byName_.find(name);
  if (found == byName_.end()) refuse("нет части \"" + name + "\"");
  const ZipEntry& e = entries_[found->second];
  if (e.size > limits_.maxPartBytes || totalRead_ + e.size > limits_.maxTotalBytes)
    refuse("часть \"" + name + "\" слишком велика");
  if (e.flags & kFlagEncrypted) refuse("часть \"" + name + "\" зашифрована");
  if (e.method != kStored && e.method != kDeflated)
    refuse("часть \"" + name + "\" сжата неизвестным методом");
  totalRead_ += e.size;
  return e;
}

void ZipPackage::inflate(const ZipEntry& e, char* out) {
  const char* data = data_.data() + e.dataOffset;
  const auto size = static_cast<std::size_t>(e.size);
  bool ok;
  if (e.method == kStored) {
    ok = e.compressedSize == e.size;
    if (ok && size) std::memcpy(out, data, size);
  } else {
    // The part must inflate to exactly its declared size, not a byte more or less.
    ok = libdeflate_deflate_decompress(decompressor(), data, static_cast<std::size_t>(e.compressedSize), out,
                                       size, nullptr) == LIBDEFLATE_SUCCESS;
  }
  if (!ok || libdeflate_crc32(0, out, size) != e.crc) refuse("часть \"" + e.name + "\" повреждена");
  verified_.insert(e.name);
}

std::string ZipPackage::read(const std::string& name) {
  const ZipEntry& e = admit(name);
  std::string out(static_cast<std::size_t>(e.size), '\0');
  inflate(e, out.data());
  return out;
}

void ZipPackage::verify(const std::string& name) {
  if (verified_.count(name)) return;
  const ZipEntry& e = admit(name);
  // The buffer only grows: shrinking it for a small part would clear its bytes again for the next
  // larger one.
  ThreadBuffer room(ThreadBufferUse::Scratch);
  if (room.text().size() < std::max<std::size_t>(1, static_cast<std::size_t>(e.size)))
    room.text().resize(std::max<std::size_t>(1, static_cast<std::size_t>(e.size)));
  inflate(e, room.text().data());
}

}  // namespace xlsxgen
