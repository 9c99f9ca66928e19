// SHA-256 (FIPS 180-4), for the hash chain of the run history. Incremental: feed any number of
// pieces, then finish once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarn::history {

class Sha256 {
 public:
  using Digest = std::array<uint8_t, 32>;

  void update(const void* data, std::size_t size);
  void update(std::string_view text) { update(text.data(), text.size()); }
  // The digest of everything fed so far; the object must not be fed afterwards.
  Digest finish();

  // Lower-case hexadecimal digest of one text.
  static std::string hexOf(std::string_view text);

 private:
  void block(const uint8_t* p);

  std::array<uint32_t, 8> h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  uint64_t totalBytes_ = 0;
};

std::string toHex(const Sha256::Digest& digest);

}  // namespace quarn::history
