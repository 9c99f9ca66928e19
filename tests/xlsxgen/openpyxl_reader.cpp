#include "openpyxl_reader.h"

#include <cstdio>
#include <cstdlib>

#include "test_paths.h"

namespace xlsxtest {

namespace {

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string run(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    *status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = ::pclose(pipe);
  return out;
}

}  // namespace

std::string openpyxlMissing() {
  static const std::string reason = [] {
    int status = 0;
    run("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null", &status);
    return status == 0 ? std::string()
                       : std::string("openpyxl for /usr/bin/python3 is not installed (python3-openpyxl)");
  }();
  return reason;
}

std::optional<nlohmann::json> readWorkbook(const std::string& path, std::string* error) {
  int status = 0;
  const std::string out = run("/usr/bin/python3 " + shellQuote(quarn::test::path("XLSXTEST_DUMP_SCRIPT")) +
                                  " " + shellQuote(path) + " 2>&1",
                              &status);
  if (status != 0) {
    if (error) *error = out;
    return std::nullopt;
  }
  auto parsed = nlohmann::json::parse(out, nullptr, false);
  if (parsed.is_discarded()) {
    if (error) *error = out;
    return std::nullopt;
  }
  return parsed;
}

const nlohmann::json& sheetNamed(const nlohmann::json& dump, const std::string& name) {
  static const nlohmann::json none;
  for (const auto& sheet : dump.at("sheets"))
    if (sheet.at("name") == name) return sheet;
  return none;
}

}  // namespace xlsxtest
