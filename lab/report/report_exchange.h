// The workstation's report exchange block and the operations that fill it. One block lives for the
// program's lifetime; each export fills it from empty, hands it to the report library and empties it.
// Texts given to the operations are Windows-1251 (the block's encoding) and are copied.
#pragma once

#include <functional>
#include <string>

#include "xlsx_exchange.h"

namespace quarn::report {

// Where the operations' messages go (caption and text in UTF-8). The workstation shows a message
// box; the default writes to the standard error stream.
using MessageSink = std::function<void(const std::string& caption, const std::string& text)>;
void setMessageSink(MessageSink sink);
void ShowMessage(const std::string& caption, const std::string& text);

// The one block. Its operation table holds the addresses of the operations below.
TXlsxExchange& ReportBlock();

// All return 0 on success and -1 on a full list or a bad argument.
int SetFiles(const char* templatePath, const char* outputPath);
int AddHiddenSheet(const char* name);
// Refused with a message when the new key contains a key already listed (longer keys come first,
// because the workbook replaces substrings).
int Add_ReplacePair(const char* key, const char* value);
// The key is `keyFormat` with its "%d" replaced by `number`.
int AddPairFmt(const char* keyFormat, int number, const char* value);
int SetColumnCount(int n);
int AddTable(const char* name);
int AddCell(const char* table, const char* text);
// The value with `decimals` digits after the point; a blank for a missing value (NaN, infinite or
// beyond ±1e27, which the workstation shows as a blank too).
int AddFloatCell(const char* table, double value, int decimals);
// The value with `decimals` (0..15) digits after a point, whatever the locale ("%.*f" in "C"). A value
// that rounds to zero has no sign ("0.000", never "-0.000", which a workbook stores as -0).
std::string fixedText(double value, int decimals);
int Checksum();
// Loads libxlsxgen.so (beside the program first, then the library search path), calls MakeXLSX
// with the block and unloads it. The library's result; -1 library missing, -2 function missing.
int RunReport();
// Releases the block's texts; every count becomes 0.
int FreeReport();

// UTF-8 texts of the last RunReport: why it failed ("" after a success) and the file it wrote.
const std::string& LastReportError();
// A report refused before the library was called: `why` becomes LastReportError (no output) and is
// shown with the report's caption.
void RefuseReport(const std::string& why);
const std::string& LastReportOutput();

// The library file name RunReport loads.
inline constexpr const char* kReportLibrary = "libxlsxgen.so";
// A library file RunReport loads instead of searching for kReportLibrary ("" restores the search).
void setReportLibraryPath(const std::string& path);

}  // namespace quarn::report
