// Arbitrary codes and texts into the table lookups, the response texts and packed ASCII.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hart/hart_master.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  int32_t table;
  uint32_t code;
  std::memcpy(&table, data, 4);
  std::memcpy(&code, data + 4, 4);
  const char* text = GetStrByCode(table, code);
  if (!text || std::strlen(text) >= 512) std::abort();
  const char* response = ToStrResponse(code >> 8, code);
  if (!response || std::strlen(response) >= 512) std::abort();

  const std::string rest(reinterpret_cast<const char*>(data + 8), size - 8);
  GetCodeByStr(table % 32, rest.c_str());

  std::vector<uint8_t> packed(rest.size() / 4 * 3 + 1);
  const int32_t n = StringToHART(rest.c_str(), packed.data());
  if (n < 0 || static_cast<size_t>(n) > packed.size()) std::abort();
  std::vector<char> unpacked(static_cast<size_t>(n) / 3 * 4 + 1);
  if (SHARTtoString(unpacked.data(), packed.data(), n) != n / 3 * 4) std::abort();
  return 0;
}
