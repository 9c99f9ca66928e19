#include "sim_launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "quarn/library_binding.h"

namespace cli {

namespace {
int64_t nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
}  // namespace

SimLauncher::~SimLauncher() { stop(); }

bool SimLauncher::start(const std::vector<std::string>& args, size_t expectedPorts, int timeoutMs,
                        std::string& error) {
  const std::string program = quarn::host::programFolder() + "quarn-sim";
  if (access(program.c_str(), X_OK) != 0) {
    error = "simulator not found: " + program;
    return false;
  }
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    close(pipefd[0]);
    close(pipefd[1]);
    return false;
  }
  if (pid_ == 0) {
    // A process group of its own: a terminal's Ctrl-C or hang-up reaches this program only, which
    // takes the simulated calibrator out of remote operation before it ends the simulator. And it
    // ends with this program however that ends.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(pipefd[1], STDOUT_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipefd[1]);
  out_ = pipefd[0];

  // Read its output until it has named the expected number of pseudo-terminals.
  std::string buffer;
  const int64_t end = nowMs() + timeoutMs;
  while (paths_.size() < expectedPorts) {
    const int64_t left = end - nowMs();
    if (left <= 0) {
      error = "the simulator did not report its ports in time";
      return false;
    }
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[512];
    const ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) {
      error = "the simulator ended before reporting its ports";
      return false;
    }
    buffer.append(chunk, static_cast<size_t>(n));
    size_t nl;
    while ((nl = buffer.find('\n')) != std::string::npos) {
      const std::string line = buffer.substr(0, nl);
      buffer.erase(0, nl + 1);
      const auto at = line.find("/dev/pts/");
      if (at == std::string::npos) continue;
      const auto stop = line.find_first_of(" \t\r", at);
      paths_.push_back(line.substr(at, stop == std::string::npos ? std::string::npos : stop - at));
    }
  }
  const int fd = out_;
  drain_ = std::thread([fd] {
    char sink[4096];
    while (read(fd, sink, sizeof sink) > 0) {
    }
  });
  return true;
}

bool SimLauncher::stop() {
  bool clean = true;
  if (pid_ > 0) {
    int status = 0;
    bool ended = waitpid(pid_, &status, WNOHANG) == pid_;  // it may have ended on its own
    if (!ended) {
      kill(pid_, SIGTERM);
      // Under the sanitizers the exit (leak check included) can take a while.
      for (int i = 0; i < 500 && !ended; ++i) {
        ended = waitpid(pid_, &status, WNOHANG) == pid_;
        if (!ended) usleep(10000);
      }
    }
    std::string why;
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      why = "did not end on SIGTERM";
    } else if (WIFSIGNALED(status)) {
      why = std::string("was killed by signal ") + std::to_string(WTERMSIG(status));
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
      why = "ended with status " + std::to_string(WEXITSTATUS(status));
    }
    if (!why.empty()) {
      std::fprintf(stderr, "quarn-cli: the simulator %s\n", why.c_str());
      clean = false;
    }
    pid_ = -1;
  }
  // The child is gone, so the drain sees end of file and ends.
  if (drain_.joinable()) drain_.join();
  if (out_ >= 0) close(out_);
  out_ = -1;
  return clean;
}

}  // namespace cli
