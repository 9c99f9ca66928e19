// Reads a produced workbook back with openpyxl (Debian's /usr/bin/python3), independently of the
// code that wrote it. Tests skip when that reader is not installed.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace xlsxtest {

// Empty when /usr/bin/python3 with openpyxl is available, else the reason to skip.
std::string openpyxlMissing();

// The dump of dump_workbook.py; nullopt (with the reader's message in `error`) when it fails.
std::optional<nlohmann::json> readWorkbook(const std::string& path, std::string* error = nullptr);

// The sheet of that name in a dump (null json when absent).
const nlohmann::json& sheetNamed(const nlohmann::json& dump, const std::string& name);

}  // namespace xlsxtest
