// Converting a document with LibreOffice in headless mode (a legacy workbook to .xlsx, a protocol to
// PDF): finding the program on the search path and running one conversion with a time limit.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace quarn::office {

// The LibreOffice program on the search path ("soffice", then "libreoffice"); "" when there is none.
inline std::string findProgram() {
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

// The file name of `path` without its folder and its last extension.
inline std::string baseName(const std::string& path) {
  const auto slash = path.rfind('/');
  std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = file.rfind('.');
  return dot == std::string::npos ? file : file.substr(0, dot);
}

enum class Outcome { Converted, NoProgram, Failed, TimedOut };

struct Conversion {
  Outcome outcome = Outcome::Failed;
  std::string output;  // the converted file (outDir/<base name>.<format>) when Converted
};

namespace detail {
inline int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }
}  // namespace detail

// Runs `program --headless --convert-to <format> --outdir <outDir> <input>` and waits at most
// `timeoutSeconds`. The program gets a user profile of its own in a temporary folder: with the
// user's profile, a LibreOffice window already open would take the request and the headless call
// would end at once without converting anything. It runs in a process group of its own, so that a
// conversion that overruns is ended together with the office process the launcher started.
inline Conversion convert(const std::string& program, const std::string& input, const std::string& format,
                          const std::string& outDir, int timeoutSeconds) {
  Conversion result;
  if (program.empty()) {
    result.outcome = Outcome::NoProgram;
    return result;
  }
  char profileFolder[] = "/tmp/quarn-office.XXXXXX";
  if (!::mkdtemp(profileFolder)) return result;
  const std::string profile = std::string("-env:UserInstallation=file://") + profileFolder + "/profile";
  std::vector<std::string> args = {program, "--headless", "--norestore", profile, "--convert-to",
                                   format,  "--outdir",   outDir,        input};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  bool exitedWell = false;
  if (spawned == 0) {
    int status = 0;
    for (int tenths = 0;; ++tenths) {
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) {
        exitedWell = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        break;
      }
      if (r < 0 || tenths >= timeoutSeconds * 10) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        result.outcome = r < 0 ? Outcome::Failed : Outcome::TimedOut;
        break;
      }
      ::usleep(100000);
    }
  }
  ::nftw(profileFolder, detail::removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  if (!exitedWell) return result;
  std::string output = outDir;
  if (!output.empty() && output.back() != '/') output += '/';
  output += baseName(input) + "." + format;
  struct stat st;
  if (::stat(output.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return result;
  result.outcome = Outcome::Converted;
  result.output = output;
  return result;
}

}  // namespace quarn::office
