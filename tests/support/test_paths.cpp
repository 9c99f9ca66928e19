#include "test_paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quarn::test {
namespace {

std::filesystem::path runningProgram() {
#ifdef _WIN32
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) throw std::runtime_error("quarn::test: GetModuleFileNameW failed");
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
#else
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw std::runtime_error("quarn::test: cannot read /proc/self/exe: " + error.message());
  return program;
#endif
}

// The file's entries. Read on every call: it is a few lines, and a test that points QUARN_TEST_PATHS
// elsewhere sees its own file.
std::map<std::string, std::string> readEntries(const std::string& file) {
  std::ifstream in(file);
  if (!in)
    throw std::runtime_error("quarn::test: cannot read " + file +
                             " (CMake writes it beside the test programs; QUARN_TEST_PATHS names another)");
  std::map<std::string, std::string> entries;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    entries[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return entries;
}

}  // namespace

std::string pathsFile() {
  if (const char* file = std::getenv("QUARN_TEST_PATHS"); file && *file) return file;
  return (runningProgram().parent_path() / "quarn-test-paths").string();
}

std::string path(const std::string& name) {
  const std::string file = pathsFile();
  const std::map<std::string, std::string> entries = readEntries(file);
  const auto it = entries.find(name);
  if (it == entries.end()) throw std::runtime_error("quarn::test: " + name + " is not listed in " + file);
  if (it->second.empty()) throw std::runtime_error("quarn::test: " + name + " has an empty path in " + file);
  return it->second;
}

bool hasPath(const std::string& name) {
  const std::map<std::string, std::string> entries = readEntries(pathsFile());
  const auto it = entries.find(name);
  return it != entries.end() && !it->second.empty();
}

}  // namespace quarn::test
