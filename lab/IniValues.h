// The value forms of the project and settings files, on top of IniDocument:
//   boolean  "1"/"0"; read as an integer, any non-zero value is true;
//   integer  decimal, or hexadecimal after "0x"/"0X";
//   float    up to 15 significant digits with a point ("0.200000002980232" for the single 0.2f);
//   text     unchanged; cut to a field's limit on load;
//   memo     one key per line: name + "_str" + line number from 0.
// A value that does not parse yields the caller's default, as does a missing key.
//
// Texts in the file are Windows-1251. The *Utf8 functions convert at this boundary, so the project
// model and everything above it (GUI, cli) work in UTF-8; the raw forms serve byte-exact copies.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "IniDocument.h"

namespace quarn::data {

// Strict parsers: the whole text (blanks around it allowed) must be the number; non-finite floats
// and out-of-range integers are rejected.
std::optional<long long> parseInteger(std::string_view text);
std::optional<double> parseFloat(std::string_view text);
// The float as the files write it: general format, up to 15 significant digits, '.' as separator,
// exponent written as "E-5" / "E20".
std::string formatFloat(double value);
// The leading number of an edit box's text, as the C "%f" conversion takes it; 0 when nothing
// converts or the number is not finite.
double scanNumber(std::string_view text);
// UTF-8 text cut to at most `limit` characters (code points).
std::string cutUtf8(std::string_view utf8, std::size_t limit);

bool readBool(const IniDocument& ini, std::string_view section, std::string_view key, bool def);
long long readInteger(const IniDocument& ini, std::string_view section, std::string_view key, long long def);
double readFloat(const IniDocument& ini, std::string_view section, std::string_view key, double def);
// Text converted to UTF-8, cut to `limit` characters (0: no limit) when longer.
std::string readTextUtf8(const IniDocument& ini, std::string_view section, std::string_view key,
                         std::string_view defUtf8, std::size_t limit = 0);
// Memo lines (UTF-8): nothing when the key of line 0 is missing (the memo keeps its text); otherwise
// the lines from 0 upwards until a key is missing.
std::optional<std::vector<std::string>> readMemoUtf8(const IniDocument& ini, std::string_view section,
                                                     std::string_view name);

void writeBool(IniDocument& ini, std::string_view section, std::string_view key, bool value);
void writeInteger(IniDocument& ini, std::string_view section, std::string_view key, long long value);
void writeFloat(IniDocument& ini, std::string_view section, std::string_view key, double value);
// UTF-8 text written as Windows-1251; characters the code page lacks are written as '?'.
void writeTextUtf8(IniDocument& ini, std::string_view section, std::string_view key, std::string_view utf8);
// Writes the memo's current lines only: keys of further lines left from a longer text stay in the
// file and are read back as lines by the next load, as the workstation has always done.
void writeMemoUtf8(IniDocument& ini, std::string_view section, std::string_view name,
                   const std::vector<std::string>& lines);

}  // namespace quarn::data
