// quarn-sim: the simulated calibrator bench on pseudo-terminals, in real time. Prints one line per
// served port ("calibrator /dev/pts/N", "dorv /dev/pts/M") and then serves until interrupted.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pty_link.h"
#include "quarnsim/engine.h"
#include "quarnsim/scenario.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

uint32_t nowMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

const char kUsage[] =
    "usage: quarn-sim [options]\n"
    "  --scenario FILE        scenario file (key = value lines, see docs/sim.md)\n"
    "  --model quarn|brenk    calibrator model\n"
    "  --channels N           transmitters on the first N channels (0..4)\n"
    "  --hart-addresses LIST  HART polling address per channel, e.g. 0,5,0,0\n"
    "  --fault TEXT           inject a fault, e.g. \"kesto silent\" or \"calibrator late 500\" (repeatable)\n"
    "  --seed N               seed of noise and timing\n"
    "  --turnaround-ms A-B    turnaround of the calibrator's main unit\n"
    "  --set KEY=VALUE        any scenario setting (repeatable)\n"
    "  --link PATH            symlink to the calibrator's terminal (e.g. /tmp/quarn0)\n"
    "  --dorv                 also serve the Dorv transducer on a terminal of its own\n"
    "  --dorv-link PATH       symlink to the Dorv's terminal (implies --dorv)\n"
    "  --duration-s S         stop after S seconds\n"
    "  --log FILE             log the bytes of every line, one frame a line, with the time\n"
    "  --stdin-control        take operator commands from stdin, one a line:\n"
    "                         target KPA | pressure KPA | vent | disconnect | connect | fault TEXT | "
    "clear-faults\n"
    "  --help                 this text\n";

struct Options {
  quarnsim::Scenario scenario;
  std::string link, dorvLink, log;
  bool dorv = false;
  bool stdinControl = false;
  double durationS = -1;
};

// Returns "" or an error text.
std::string parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return "help";
  // The bench's own options first (the scenario file before every other one), then the program's.
  std::vector<std::string> args(argv + 1, argv + argc);
  const std::string benchError = quarnsim::applyBenchOptions(o.scenario, args);
  if (!benchError.empty()) return benchError;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& opt = args[i];
    if (opt == "--dorv") {
      o.dorv = true;
      continue;
    }
    if (opt == "--stdin-control") {
      o.stdinControl = true;
      continue;
    }
    if (opt != "--link" && opt != "--dorv-link" && opt != "--duration-s" && opt != "--log")
      return "unknown option " + opt;
    if (i + 1 >= args.size()) return "missing value after " + opt;
    const std::string& value = args[++i];
    if (opt == "--link") {
      o.link = value;
    } else if (opt == "--log") {
      o.log = value;
    } else if (opt == "--dorv-link") {
      o.dorv = true;
      o.dorvLink = value;
    } else {
      char* end = nullptr;
      o.durationS = std::strtod(value.c_str(), &end);
      if (*end != '\0' || o.durationS < 0) return "bad value for --duration-s: " + value;
    }
  }
  return "";
}

// One operator command; "" or an error text.
std::string runCommand(quarnsim::Engine& bench, const std::string& line) {
  const size_t space = line.find(' ');
  const std::string verb = line.substr(0, space);
  const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
  auto number = [&](double& out) {
    char* end = nullptr;
    out = std::strtod(arg.c_str(), &end);
    return !arg.empty() && *end == '\0';
  };
  double kPa;
  if (verb == "target" && number(kPa)) {
    bench.operatorSetsPressure(kPa);
  } else if (verb == "pressure" && number(kPa)) {
    bench.setPressureKPa(kPa);
  } else if (verb == "vent") {
    bench.operatorVents();
  } else if (verb == "disconnect") {
    bench.setConnected(false);
  } else if (verb == "connect") {
    bench.setConnected(true);
  } else if (verb == "fault") {
    quarnsim::Fault fault;
    const std::string error = quarnsim::parseFault(arg, fault);
    if (!error.empty()) return error;
    bench.addFault(fault);
  } else if (verb == "clear-faults") {
    bench.clearFaults();
  } else if (!line.empty()) {
    return "unknown command: " + line;
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const std::string error = parse(argc, argv, options);
  if (error == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!error.empty()) {
    std::fprintf(stderr, "quarn-sim: %s\n%s", error.c_str(), kUsage);
    return 2;
  }

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  quarnsim::Engine bench(options.scenario);
  // Before the links: they flush it when they stop, also in their destructors.
  std::unique_ptr<quarnsim::TrafficLog> log;
  std::vector<std::unique_ptr<quarnsim::PtyLink>> links;
  links.push_back(std::make_unique<quarnsim::PtyLink>("calibrator", bench.calibratorPort(), options.link));
  if (options.dorv)
    links.push_back(std::make_unique<quarnsim::PtyLink>("dorv", bench.dorvPort(), options.dorvLink));

  const uint32_t startMs = nowMs();
  if (!options.log.empty()) {
    log = std::make_unique<quarnsim::TrafficLog>(startMs);
    const std::string e = log->open(options.log);
    if (!e.empty()) {
      std::fprintf(stderr, "quarn-sim: %s\n", e.c_str());
      return 1;
    }
    for (auto& link : links) link->setLog(log.get());
  }
  bench.advanceTo(startMs);
  for (auto& link : links) {
    const std::string e = link->start(startMs);
    if (!e.empty()) {
      std::fprintf(stderr, "quarn-sim: %s\n", e.c_str());
      return 1;
    }
    std::printf("%s %s\n", link->name().c_str(), link->slavePath().c_str());
  }
  std::fflush(stdout);

  std::string commands;  // operator input not yet ended by a newline
  while (!g_stop) {
    uint32_t now = nowMs();
    if (options.durationS >= 0 && (now - startMs) >= options.durationS * 1000.0) break;
    bench.advanceTo(now);

    // A disconnected device takes its terminals away; they come back as new terminals.
    const bool present = bench.connected();
    for (auto& link : links) {
      if (!present && link->running()) {
        link->stop();
        std::printf("%s gone\n", link->name().c_str());
        std::fflush(stdout);
      } else if (present && !link->running()) {
        const std::string e = link->start(now);
        if (e.empty()) {
          std::printf("%s %s\n", link->name().c_str(), link->slavePath().c_str());
        } else {
          std::fprintf(stderr, "quarn-sim: %s\n", e.c_str());
        }
        std::fflush(stdout);
      }
    }

    std::vector<pollfd> fds;
    int timeoutMs = 10;  // also the rate at which line-setting changes are noticed
    if (options.stdinControl) fds.push_back({STDIN_FILENO, POLLIN, 0});
    for (auto& link : links) {
      if (!link->running()) continue;
      fds.push_back({link->pollFd(), POLLIN, 0});
      if (const auto due = link->nextDueInMs(now))
        timeoutMs = std::min<int>(timeoutMs, static_cast<int>(*due));
    }
    if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) break;
    now = nowMs();
    if (options.stdinControl && (fds[0].revents & (POLLIN | POLLHUP))) {
      char chunk[512];
      const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
      if (n <= 0) {
        options.stdinControl = false;  // end of the commands; keep serving
      } else {
        bench.advanceTo(now);
        commands.append(chunk, static_cast<size_t>(n));
        for (size_t nl; (nl = commands.find('\n')) != std::string::npos;) {
          std::string line = commands.substr(0, nl);
          commands.erase(0, nl + 1);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          const std::string e = runCommand(bench, line);
          if (!e.empty()) std::fprintf(stderr, "quarn-sim: %s\n", e.c_str());
        }
      }
    }
    for (auto& link : links) {
      if (link->running()) link->service(now);
    }
  }
  for (auto& link : links) link->stop();
  return 0;
}
