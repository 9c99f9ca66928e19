// Deflating the parts the report rewrote. They are compressed here, at the fastest level, and handed
// to libzip already compressed (output_file.cpp): libzip 1.7 cannot be asked for a level itself, as
// zip_set_file_compression() compares the requested method with the entry's original one and, when
// both are deflate (every rewritten part of a workbook), drops the change together with its level,
// so the entry was deflated at libzip's default, level 9, several times slower for a few per cent of
// size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct libdeflate_compressor;

namespace xlsxgen {

inline constexpr int kRewrittenPartLevel = 1;  // libdeflate's fastest

// One part as stored in the archive: raw deflate data with its inflated size and CRC-32.
struct DeflatedPart {
  std::string compressed;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};

// One compressor and one output buffer for every part of a report.
class PartDeflater {
 public:
  PartDeflater();
  ~PartDeflater();
  PartDeflater(const PartDeflater&) = delete;
  PartDeflater& operator=(const PartDeflater&) = delete;

  DeflatedPart compress(const std::string& bytes);

 private:
  libdeflate_compressor* compressor_;
  std::vector<char> buffer_;
};

}  // namespace xlsxgen
