// Random bytes as the measurement-method list "mp.ini", read as the programs read it (the text checks
// and conversion, then the 50 rows): what is written back reads as a list that is written the same
// again (a byte Windows-1251 leaves unassigned becomes '?' the first time), and the document
// found for a device name (the input's first line) is one of the list's, at most 39 characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "MethodList.h"
#include "TextFile.h"

using namespace quarn::data;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Result<TextContent> text = textFromBytes(input, "mp.ini");
  if (!text) return 0;
  // The document read is written back into as it is (no copy): the list was taken from it first.
  IniDocument out = IniDocument::parse(text->bytes);
  const MethodList list = methodsFromIni(out);
  methodsToIni(list, out);
  const std::string once = out.serialize();
  IniDocument again = IniDocument::parse(once);
  methodsToIni(methodsFromIni(again), again);
  if (again.serialize() != once) std::abort();

  const std::string name(input.substr(0, input.find('\n')));
  const std::string document = methodDocument(list, name);
  bool listed = document.empty();
  for (const MethodRow& row : list) listed = listed || row.document.rfind(document, 0) == 0;
  if (!listed) std::abort();
  return 0;
}
