// Any bytes parse; what is written reads back to the same text, and a value set is the value read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "IniDocument.h"
#include "IniValues.h"
#include "TextFile.h"

using namespace quarn::data;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  FileEncoding enc;
  const std::string bytes = toCp1251(input, enc);
  IniDocument ini = IniDocument::parse(bytes);
  const std::string once = ini.serialize();
  if (IniDocument::parse(once).serialize() != once) std::abort();

  // Use pieces of the input as names and values.
  const std::size_t third = size / 3;
  const std::string section(input.substr(0, third));
  const std::string key(input.substr(third, third));
  const std::string value(input.substr(2 * third));
  ini.set(section, key, value);
  const IniDocument back = IniDocument::parse(ini.serialize());
  for (const std::string& s : back.sectionNames())
    for (const std::string& k : back.keys(s)) (void)back.get(s, k);
  (void)readMemoUtf8(back, section, key);
  (void)readFloat(back, section, key, 0);
  (void)readInteger(back, section, key, 0);
  (void)scanNumber(value);
  (void)formatFloat(parseFloat(value).value_or(0));
  return 0;
}
