// quarn-cli as a child process for the real-time end-to-end tests: its exit status, its JSON lines
// on stdout and what it (and the simulator it starts, which shares its stderr) wrote on stderr.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "test_paths.h"

namespace clitest {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<nlohmann::json> objects;  // one per line of stdout (discarded when not JSON)
  double seconds = 0;
};

inline std::string readWhole(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

inline std::string tempPath(const char* stem) {
  std::string tmpl = std::string("/tmp/") + stem + "_XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd >= 0) close(fd);
  return tmpl;
}

inline void splitObjects(CliRun& r) {
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) r.objects.push_back(nlohmann::json::parse(line, nullptr, false));
}

// quarn-cli in the build.
inline std::string cliProgram() { return quarn::test::path("QUARN_CLI"); }

// Runs `prefix` quarn-cli `args` through the shell (arguments are quoted by the caller); `program`
// runs another copy of quarn-cli instead (ProgramCopy).
inline CliRun runCli(const std::string& args, const std::string& prefix = "",
                     const std::string& program = cliProgram()) {
  CliRun r;
  const std::string errFile = tempPath("quarn_cli_err");
  const auto start = std::chrono::steady_clock::now();
  const std::string cmd = prefix + "'" + program + "' " + args + " 2>'" + errFile + "'";
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    while (fgets(buf, sizeof buf, p)) r.out += buf;
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.err = readWhole(errFile);
  unlink(errFile.c_str());
  splitObjects(r);
  return r;
}

// The same with stderr on a pseudo-terminal of `columns` columns, as a person at a terminal sees
// it; stdout still goes to a file. `err` holds the bytes the terminal received.
inline CliRun runCliOnTerminal(const std::string& args, int columns = 160) {
  CliRun r;
  const std::string outFile = tempPath("quarn_cli_out");
  int master = -1, slave = -1;
  winsize ws{};
  ws.ws_col = static_cast<unsigned short>(columns);
  ws.ws_row = 24;
  if (openpty(&master, &slave, nullptr, nullptr, &ws) != 0) return r;
  termios t{};
  if (tcgetattr(slave, &t) == 0) {
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);  // the bytes as written, no LF -> CR LF
    tcsetattr(slave, TCSANOW, &t);
  }
  const std::string cmd = cliProgram() + " " + args + " >'" + outFile + "'";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    close(master);
    dup2(slave, STDERR_FILENO);
    close(slave);
    const int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, STDIN_FILENO);
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(slave);
  // Read until every holder of the terminal (quarn-cli, the simulator) has closed it.
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 200) < 0 && errno != EINTR) break;
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[4096];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      r.err.append(buf, static_cast<size_t>(n));
    }
  }
  close(master);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.out = readWhole(outFile);
  unlink(outFile.c_str());
  splitObjects(r);
  return r;
}

// A copy of quarn-cli with what it loads and starts from its own folder (the library, the report
// library, the simulator, the protocol templates) in a new folder under /tmp that every user may
// enter. A test that runs the program as another user runs the copy: the build folder may lie inside
// a folder only its owner may enter (a clone under /root or in a `mktemp -d` folder), where that
// user reaches nothing. The folder goes with the object.
class ProgramCopy {
 public:
  ProgramCopy() {
    char tmpl[] = "/tmp/quarn_cli_copy_XXXXXX";
    if (!mkdtemp(tmpl)) {
      error_ = std::string("cannot make a folder under /tmp: ") + std::strerror(errno);
      return;
    }
    dir_ = tmpl;
    const std::string cli = cliProgram();
    const std::string from = cli.substr(0, cli.rfind('/'));
    std::string copy = "cp -R";
    for (const char* name : {"quarn-cli", "libquarn.so", "libxlsxgen.so", "quarn-sim", "template_xml"})
      if (access((from + "/" + name).c_str(), F_OK) == 0) copy += " '" + from + "/" + name + "'";
    copy += " '" + dir_ + "/' && chmod -R a+rX '" + dir_ + "'";
    if (std::system(copy.c_str()) != 0) error_ = "cannot copy the program's folder " + from + " to " + dir_;
  }
  ~ProgramCopy() {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  ProgramCopy(const ProgramCopy&) = delete;
  ProgramCopy& operator=(const ProgramCopy&) = delete;

  // "" when the copy is there, else why not.
  const std::string& error() const { return error_; }
  std::string program() const { return dir_ + "/quarn-cli"; }
  std::string dir() const { return dir_; }

 private:
  std::string dir_;
  std::string error_;
};

// The simulator shares quarn-cli's stderr: a sanitizer report from it lands there, and quarn-cli
// notes a simulator that did not end cleanly. Both fail the test.
inline void expectCleanSimulator(const CliRun& r) {
  for (const char* sign : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                           "runtime error:", "the simulator ended with status", "the simulator was killed",
                           "the simulator did not end"})
    EXPECT_EQ(r.err.find(sign), std::string::npos) << "stderr holds \"" << sign << "\":\n" << r.err;
}

}  // namespace clitest
