#include "part_deflate.h"

#include <libdeflate.h>

#include <new>

#include "xlsx_error.h"

namespace xlsxgen {

namespace {

struct Compressor {
  libdeflate_compressor* c = nullptr;
  ~Compressor() { libdeflate_free_compressor(c); }
};

}  // namespace

// One compressor per thread, kept from one report to the next: making one clears its tables.
PartDeflater::PartDeflater() {
  thread_local Compressor one;
  if (!one.c) one.c = libdeflate_alloc_compressor(kRewrittenPartLevel);
  compressor_ = one.c;
  if (!compressor_) throw std::bad_alloc();
}

PartDeflater::~PartDeflater() = default;

DeflatedPart PartDeflater::compress(const std::string& bytes) {
  std::string& out = buffer_.text();
  const std::size_t bound = libdeflate_deflate_compress_bound(compressor_, bytes.size());
  if (out.size() < bound) out.resize(bound);
  const std::size_t size =
      libdeflate_deflate_compress(compressor_, bytes.data(), bytes.size(), out.data(), out.size());
  if (size == 0) throw XlsxError("Невозможно создать файл!");
  DeflatedPart part;
  part.compressed.assign(out.data(), size);
  part.size = bytes.size();
  part.crc = libdeflate_crc32(0, bytes.data(), bytes.size());
  return part;
}

}  // namespace xlsxgen
