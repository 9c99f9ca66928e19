#include "session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "TDevValues.h"
#include "quarn/cp1251.h"

namespace cli {

Session::~Session() { close(); }

bool Session::close() {
  // The commands' listeners refer to their own locals, which are gone by now; the unload below
  // still notifies.
  extraListeners.clear();
  host.unbind();  // switches the calibrator back to local operation while the simulator still runs
  inProcess.reset();
  return sim.stop();
}

namespace {

// A port given by path must be a terminal device: the library would otherwise open a file or
// another device and write requests into it.
void checkTerminalDevice(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw Failure{kNoCalibrator, "no such port: " + path};
  if (!S_ISCHR(st.st_mode)) throw Failure{kFailure, "not a terminal device: " + path};
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;  // busy or not permitted: the library reports what it finds when it opens it
  const bool tty = isatty(fd) != 0;
  ::close(fd);
  if (!tty) throw Failure{kFailure, "not a terminal device: " + path};
}

}  // namespace

void Session::open() {
  std::string error;
  if (host.bind(opts.model, opts.library, error) != 0) throw Failure{kFailure, error};
  host.setListener([this](const TDev& d) {
    if (d.event == EVENT_MEASUREMENT) ++measureCount;
    // The common end step sets task 4 and notifies once; it is the first notification that shows
    // task 4 after another task ran.
    if (d.task == TASK_MEASURE && lastTaskSeen != TASK_MEASURE) {
      ++endCount;
      lastEndErr = d.errCode;
      lastEndText = d.errText ? quarn::text::cp1251ToUtf8(d.errText) : std::string();
    }
    lastTaskSeen = d.task;
    for (auto& l : extraListeners) l(d);
  });

  std::string portPath;
  if (opts.sim && opts.simVirtual) {
    std::vector<std::string> args{"--model", opts.model == 1 ? "quarn" : "brenk"};
    args.insert(args.end(), opts.simArgs.begin(), opts.simArgs.end());
    inProcess = InProcessSim::create(args, error);
    if (!inProcess) throw Failure{kFailure, error};
    if (!host.useVirtualTime(error)) throw Failure{kFailure, error};
    const uint32_t n = inProcess->plug(host);
    if (n == 0) throw Failure{kFailure, "cannot plug the simulator into the library as a virtual port"};
    host.dev().portNo = n;
    return;
  }
  if (opts.sim) {
    std::vector<std::string> args{"--model", opts.model == 1 ? "quarn" : "brenk"};
    args.insert(args.end(), opts.simArgs.begin(), opts.simArgs.end());
    if (!sim.start(args, 1, 5000, error)) throw Failure{kFailure, error};
    portPath = sim.paths().front();
  } else if (!opts.port.empty() && opts.port != "0" && opts.port != "all") {
    char* end = nullptr;
    const long n = std::strtol(opts.port.c_str(), &end, 10);
    if (end && *end == '\0') {
      if (n < 1 || n > QUARN_PORT_MAX)
        throw Failure{kFailure, "port number out of range 1..253: " + opts.port};
      host.dev().portNo = static_cast<uint32_t>(n);
      return;
    }
    portPath = opts.port;
    checkTerminalDevice(portPath);
  }
  if (portPath.empty()) {
    host.dev().portNo = 0;  // search every port
    return;
  }
  const uint32_t n = host.portForPath(portPath);
  if (n == 0) throw Failure{kFailure, "cannot map the port " + portPath};
  host.dev().portNo = n;
}

void Session::connect() {
  host.setTask(TASK_CONNECT);
  lastTaskSeen = TASK_CONNECT;
  TDev& d = host.dev();
  const bool up = host.runUntil([&] { return d.linked == 1 && d.task == TASK_MEASURE; }, timeoutMs());
  if (!up) {
    if (Host::stopRequested()) throw Failure{kFailure, "interrupted"};
    char secs[32];
    std::snprintf(secs, sizeof secs, "%g", opts.timeoutS);
    throw Failure{kNoCalibrator, std::string("no calibrator found within ") + secs + " s"};
  }
}

bool Session::runTask(uint32_t task, void* arg) {
  const uint64_t before = endCount;
  host.setTask(task, arg);
  lastTaskSeen = task;
  return host.runUntil([&] { return endCount > before; }, timeoutMs());
}

std::string takeValue(const std::vector<std::string>& args, size_t& i) {
  if (i + 1 >= args.size()) throw Failure{kFailure, "option " + args[i] + " needs a value"};
  return args[++i];
}

double parseNumber(const std::string& text, const std::string& what) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || !end || *end != '\0' || errno == ERANGE || !std::isfinite(v))
    throw Failure{kFailure, "not a number for " + what + ": " + text};
  return v;
}

}  // namespace cli
