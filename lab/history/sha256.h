// SHA-256 (FIPS 180-4) for the hash chain of the run history. Incremental: feed any number of pieces,
// then finish; reset() starts a new digest in the same object, so a loop over many entries allocates
// nothing. Built on OpenSSL's libcrypto when it is there (which uses the processor's SHA instructions
// where it has them); otherwise on the portable implementation below, which gives the same digests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarn::history {

using Sha256Digest = std::array<uint8_t, 32>;

// The portable implementation: no dependency, one 64-byte block at a time.
class PortableSha256 {
 public:
  using Digest = Sha256Digest;
  void reset();
  void update(const void* data, std::size_t size);
  void update(std::string_view text) { update(text.data(), text.size()); }
  // The digest of everything fed since the last reset; feed nothing more before the next reset.
  Digest finish();

 private:
  void block(const uint8_t* p);

  std::array<uint32_t, 8> h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  uint64_t totalBytes_ = 0;
};

class Sha256 {
 public:
  using Digest = Sha256Digest;
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void reset();
  void update(const void* data, std::size_t size);
  void update(std::string_view text) { update(text.data(), text.size()); }
  // The digest of everything fed since the last reset; feed nothing more before the next reset.
  Digest finish();

  // Lower-case hexadecimal digest of one text.
  static std::string hexOf(std::string_view text);
  // "libcrypto" or "portable": which implementation this build uses.
  static const char* implementation();

 private:
  void* ctx_ = nullptr;                       // OpenSSL's EVP_MD_CTX, made once per object
  [[maybe_unused]] PortableSha256 portable_;  // used when libcrypto is not
};

std::string toHex(const Sha256Digest& digest);
// The 64 lower-case hexadecimal digits into out[0..63] (no terminator).
void toHex(const Sha256Digest& digest, char* out);

}  // namespace quarn::history
