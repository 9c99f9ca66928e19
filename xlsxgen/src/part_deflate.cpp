#include "part_deflate.h"

#include <libdeflate.h>

#include <new>

#include "xlsx_error.h"

namespace xlsxgen {

PartDeflater::PartDeflater() : compressor_(libdeflate_alloc_compressor(kRewrittenPartLevel)) {
  if (!compressor_) throw std::bad_alloc();
}

PartDeflater::~PartDeflater() { libdeflate_free_compressor(compressor_); }

DeflatedPart PartDeflater::compress(const std::string& bytes) {
  const std::size_t bound = libdeflate_deflate_compress_bound(compressor_, bytes.size());
  if (buffer_.size() < bound) buffer_.resize(bound);
  const std::size_t size =
      libdeflate_deflate_compress(compressor_, bytes.data(), bytes.size(), buffer_.data(), buffer_.size());
  if (size == 0) throw XlsxError("Невозможно создать файл!");
  DeflatedPart part;
  part.compressed.assign(buffer_.data(), size);
  part.size = bytes.size();
  part.crc = libdeflate_crc32(0, bytes.data(), bytes.size());
  return part;
}

}  // namespace xlsxgen
