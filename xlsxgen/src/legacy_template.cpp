#include "legacy_template.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "xlsx_error.h"

extern char** environ;

namespace xlsxgen {

namespace {

constexpr int kConversionSeconds = 120;

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

// Removes a folder and everything in it (symbolic links are removed, not followed).
void removeFolder(const std::string& folder) {
  ::nftw(folder.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string baseNameWithoutExtension(const std::string& path) {
  const auto slash = path.rfind('/');
  std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = file.rfind('.');
  return dot == std::string::npos ? file : file.substr(0, dot);
}

}  // namespace

bool isLegacyWorkbook(const std::string& path) {
  static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::ifstream in(path, std::ios::binary);
  unsigned char head[8] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  return in.gcount() == sizeof head && std::memcmp(head, kSignature, sizeof head) == 0;
}

std::string findOfficeProgram() {
  const char* pathEnv = std::getenv("PATH");
  if (!pathEnv) return {};
  const std::string paths = pathEnv;
  for (const char* program : {"soffice", "libreoffice"}) {
    std::size_t start = 0;
    while (start <= paths.size()) {
      auto end = paths.find(':', start);
      if (end == std::string::npos) end = paths.size();
      const std::string candidate = paths.substr(start, end - start) + "/" + program;
      if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
      start = end + 1;
    }
  }
  return {};
}

ConvertedTemplate::ConvertedTemplate(const std::string& legacyPath) {
  const std::string office = findOfficeProgram();
  if (office.empty())
    throw XlsxError(
        "Шаблон в старом формате .xls: для его преобразования нужен LibreOffice, он не установлен. "
        "Сохраните шаблон в формате .xlsx.");
  char folderTemplate[] = "/tmp/xlsxgen.XXXXXX";
  if (!::mkdtemp(folderTemplate)) throw XlsxError("Невозможно создать файл!");
  folder_ = folderTemplate;

  const std::string profile = "-env:UserInstallation=file://" + folder_ + "/profile";
  std::vector<std::string> args = {office, "--headless", "--norestore", profile,   "--convert-to",
                                   "xlsx", "--outdir",   folder_,       legacyPath};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, office.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  bool ok = spawned == 0;
  if (ok) {
    int status = 0;
    int waited = 0;
    for (;;) {
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) break;
      if (r < 0 || waited >= kConversionSeconds * 10) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ok = false;
        break;
      }
      ::usleep(100000);
      ++waited;
    }
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  path_ = folder_ + "/" + baseNameWithoutExtension(legacyPath) + ".xlsx";
  struct stat st;
  if (!ok || ::stat(path_.c_str(), &st) != 0) {
    removeFolder(folder_);
    throw XlsxError("Не удалось преобразовать шаблон .xls в .xlsx с помощью LibreOffice");
  }
}

ConvertedTemplate::~ConvertedTemplate() { removeFolder(folder_); }

}  // namespace xlsxgen
