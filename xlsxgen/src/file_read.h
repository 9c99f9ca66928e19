// Reading a file whole or its first bytes with plain system calls: no stream object, so a report
// neither builds a locale nor allocates a stream buffer to read its template.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace xlsxgen {

enum class FileRead { Done, CannotOpen, TooLarge, Failed };

// Reads the regular file at `path` into `out` (replacing what was there). TooLarge, with `out`
// untouched, when the file holds more than `maxBytes`.
FileRead readWholeFile(const std::string& path, std::uint64_t maxBytes, std::string& out);

// Up to `size` first bytes of the file into `out`; the number read, or -1 when it does not open.
long readFileStart(const std::string& path, char* out, std::size_t size);

}  // namespace xlsxgen
