// Reading and atomically writing the workstation's Windows-1251 text files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Outcome.h"

namespace quarn::data {

enum class FileEncoding {
  Cp1251,     // the files' own encoding
  Utf8Bom,    // UTF-8 with a byte-order mark: converted to Windows-1251 on reading
  Utf8,       // UTF-8 recognised by its multi-byte sequences: converted likewise
  Utf16LeBom  // UTF-16 little endian with a byte-order mark: converted likewise
};

struct TextContent {
  std::string bytes;                             // Windows-1251 content
  FileEncoding encoding = FileEncoding::Cp1251;  // what the file was written in
};

// Files above this size are refused: a project is a few hundred kilobytes at most.
inline constexpr std::size_t kMaxTextFileSize = 16u * 1024u * 1024u;

// Reads a text file and brings it to Windows-1251. Fails with Fault::NotFound for a missing file,
// Unreadable for one that cannot be opened or read (or is no regular file), Damaged for one above
// kMaxTextFileSize or holding zero bytes inside its text (what a crash during a write often leaves).
Result<TextContent> readTextFile(const std::string& path);
// The same checks and conversion on content already read (`name` names it in the texts).
Result<TextContent> textFromBytes(std::string_view content, const std::string& name);

// Converts file content whose encoding was not Windows-1251 (see FileEncoding); characters the code
// page lacks become '?'.
std::string toCp1251(std::string_view content, FileEncoding& detected);

// Writes `bytes` to a temporary file in the target's folder, flushes it to the disk and renames it
// over `path`, so the file is either the old one or the new one, never half of each. The target's
// permissions are kept when it existed.
Outcome writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace quarn::data
