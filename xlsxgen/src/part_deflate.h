// Deflating the parts the report rewrote, at the fastest level: the report's package stores them as
// they come out of here (output_file.cpp). Level 1 costs a few per cent of size against level 9 and
// is several times faster.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "thread_buffer.h"

struct libdeflate_compressor;

namespace xlsxgen {

inline constexpr int kRewrittenPartLevel = 1;  // libdeflate's fastest

// One part as stored in the archive: raw deflate data with its inflated size and CRC-32.
struct DeflatedPart {
  std::string compressed;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};

// One output buffer for every part of a report (the thread's), and the thread's compressor.
class PartDeflater {
 public:
  PartDeflater();
  ~PartDeflater();
  PartDeflater(const PartDeflater&) = delete;
  PartDeflater& operator=(const PartDeflater&) = delete;

  DeflatedPart compress(const std::string& bytes);

 private:
  libdeflate_compressor* compressor_;  // the thread's, not owned
  ThreadBuffer buffer_{ThreadBufferUse::Scratch};
};

}  // namespace xlsxgen
