// The measuring cycle's period in real time, against quarn-sim on a pseudo-terminal: the library
// runs on the real clock with its own 20 ms timer (watched through quarn_timer_fd, as a host does),
// connects to the simulator and measures; the period of each cycle is the time between two new
// measurements. Reported per model: median and 95th percentile against the nominal sum of the
// cycle's step delays (Quarn 220 ms, Brenk 200 ms, plus the Kesto read 100 + 100 + 110 + 80 ms).
//
//   calibrator_cycle_period [--cycles N] [--sim PATH-TO-quarn-sim]
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "calibrator/calibrator.h"
#include "quarn_core.h"
#include "serial/serial_port.h"

namespace {

constexpr uint32_t kPort = 200;

double nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

std::vector<double> g_stamps;
void onUpdate() {
  if (Dev.event == 2) g_stamps.push_back(nowMs());
}

struct Sim {
  pid_t pid = -1;
  std::string path;
};

Sim startSim(const std::string& program, const char* model) {
  Sim sim;
  int out[2];
  if (pipe(out) != 0) return sim;
  sim.pid = fork();
  if (sim.pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execl(program.c_str(), program.c_str(), "--model", model, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  const double deadline = nowMs() + 5000;
  char c;
  while (nowMs() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (read(out[0], &c, 1) != 1) break;
    if (c == '\n') break;
    line += c;
  }
  close(out[0]);  // the simulator prints more only when a terminal changes
  const auto space = line.find(' ');
  if (line.rfind("calibrator ", 0) == 0 && space != std::string::npos) sim.path = line.substr(space + 1);
  return sim;
}

void stopSim(Sim& sim) {
  if (sim.pid > 0) {
    kill(sim.pid, SIGTERM);
    waitpid(sim.pid, nullptr, 0);
  }
  sim.pid = -1;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// Runs the library's timer until `done` or `maxMs` have passed.
template <typename F>
bool runTimer(F done, double maxMs) {
  const double end = nowMs() + maxMs;
  const int fd = quarn_timer_fd();
  while (!done()) {
    if (nowMs() > end) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) quarn_timer_dispatch();
  }
  return true;
}

int measure(const std::string& program, const char* model, int cycles, double nominalMs) {
  Sim sim = startSim(program, model);
  if (sim.path.empty()) {
    std::fprintf(stderr, "could not start %s\n", program.c_str());
    stopSim(sim);
    return 1;
  }
  InitDev();
  quarn_port_register_path(kPort, sim.path.c_str());
  Dev.onUpdate = onUpdate;
  Dev.model = std::strcmp(model, "quarn") == 0 ? 1 : 0;
  Dev.portNo = kPort;
  g_stamps.clear();
  SetTask(TASK_CONNECT, nullptr);
  const bool ok =
      runTimer([&] { return g_stamps.size() >= static_cast<size_t>(cycles + 3); }, cycles * 2000.0 + 10000);
  OnTimer = nullptr;
  Dev.onUpdate = nullptr;
  ClosePorts(-1);
  quarn_port_unregister(kPort);
  stopSim(sim);
  if (!ok) {
    std::fprintf(stderr, "%s: only %zu measurements\n", model, g_stamps.size());
    return 1;
  }
  // The first cycles carry the connection's control command; the steady cycles follow.
  std::vector<double> periods;
  for (size_t i = 3; i < g_stamps.size(); ++i) periods.push_back(g_stamps[i] - g_stamps[i - 1]);
  std::printf(
      "%-6s cycles %zu  median %.1f ms  p95 %.1f ms  min %.1f  max %.1f  nominal step delays %.0f ms\n",
      model, periods.size(), percentile(periods, 0.5), percentile(periods, 0.95),
      *std::min_element(periods.begin(), periods.end()), *std::max_element(periods.begin(), periods.end()),
      nominalMs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int cycles = 30;
  std::string sim;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--cycles") == 0) cycles = std::max(3, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--sim") == 0) sim = argv[i + 1];
  }
  if (sim.empty()) {
    std::string self = argv[0];
    const auto slash = self.rfind('/');
    sim = (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + "quarn-sim";
  }
  const double kesto = 100 + 100 + 110 + 80;
  int rc = measure(sim, "quarn", cycles, 220 + kesto);
  rc |= measure(sim, "brenk", cycles, 200 + kesto);
  ExitDll();
  return rc;
}
