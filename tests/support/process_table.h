// The processes of this machine as /proc lists them, for tests of programs that start others: which
// processes carry a given argument (a simulator started with a test's own --link path), and waiting
// until none does.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace proctest {

// Processes (not yet ended; a zombie has no command line) one of whose arguments is `argument`.
inline std::vector<pid_t> processesWithArgument(const std::string& argument) {
  std::vector<pid_t> out;
  DIR* proc = opendir("/proc");
  if (!proc) return out;
  while (const dirent* e = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    std::ifstream f(std::string("/proc/") + e->d_name + "/cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(f)), {});
    for (size_t at = 0; at < cmdline.size();) {
      const size_t stop = cmdline.find('\0', at);
      const std::string arg = cmdline.substr(at, stop == std::string::npos ? std::string::npos : stop - at);
      if (arg == argument) {
        out.push_back(static_cast<pid_t>(pid));
        break;
      }
      if (stop == std::string::npos) break;
      at = stop + 1;
    }
  }
  closedir(proc);
  return out;
}

// True when no process carries `argument` within `ms` milliseconds.
inline bool noProcessWithArgument(const std::string& argument, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!processesWithArgument(argument).empty()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Ends whatever still carries `argument` (a test's leftovers), so a failed test leaves nothing running.
inline void killProcessesWithArgument(const std::string& argument) {
  for (pid_t pid : processesWithArgument(argument)) ::kill(pid, SIGKILL);
}

}  // namespace proctest
