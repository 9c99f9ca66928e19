// quarn-winhost: a small Windows host of quarn.dll for the checks under Wine. It binds the DLL as the
// workstation does (host/library_binding), waits for the library's timer handle in its own thread
// and dispatches it, and offers quarn-cli's probe and measure with the same options, the same JSON
// lines on stdout and the same failures, texts and exit statuses:
//   quarn-winhost [--port N|COMN] [--model quarn|brenk] [--timeout S] [--library FILE]
//                 probe | measure [--cycles N]
// Exit 0 success, 2 no calibrator found within the timeout or the link lost, 1 any other failure.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "quarn/cp1251.h"
#include "quarn/library_binding.h"

namespace {

enum Exit { kOk = 0, kFailure = 1, kNoCalibrator = 2 };

struct Failure {
  int status;
  std::string reason;
};

struct Options {
  uint32_t portNo = 0;  // 0: search every port
  uint32_t model = 1;   // 1 Quarn, 0 Brenk
  double timeoutS = 15;
  std::string library;
};

// ---- JSON lines ---------------------------------------------------------------------------------

std::string number(float v) {
  if (!std::isfinite(v)) return "null";
  // The shortest form that reads back to the same float.
  char text[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(v));
    if (std::strtof(text, nullptr) == v) break;
  }
  return text;
}

std::string integer(int64_t v) { return std::to_string(v); }

// A Windows-1251 text of the record, bounded by its field, as a JSON string in UTF-8.
std::string text(const char* s, size_t maxLen) {
  size_t n = 0;
  while (n < maxLen && s[n]) ++n;
  const std::string utf8 = quarn::text::cp1251ToUtf8(std::string(s, n));
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(c));
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}
template <size_t N>
std::string text(const char (&field)[N]) {
  return text(field, N);
}

// {"a":1,"b":...} from name/value pairs whose values are JSON already.
std::string object(const std::vector<std::pair<const char*, std::string>>& members) {
  std::string out = "{";
  for (size_t i = 0; i < members.size(); ++i) {
    if (i) out += ',';
    out += '"';
    out += members[i].first;
    out += "\":";
    out += members[i].second;
  }
  return out + "}";
}

void emit(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// A field of the packed record by value.
template <typename T>
T val(T v) {
  return v;
}

std::string measurementJson(const TDev& d) {
  std::string currents = "[";
  for (size_t i = 0; i < 4; ++i) currents += (i ? "," : "") + number(val(d.kestoCurrent[i]));
  currents += "]";
  std::string ch = "[";
  for (size_t i = 0; i < 4; ++i) {
    const TMeasCh& m = d.ch[i];
    ch += (i ? "," : "") + object({{"current", number(val(m.current))},
                                   {"pFromI", number(val(m.pFromI))},
                                   {"pFromIKPa", number(val(m.pFromIKPa))},
                                   {"reducedError", number(val(m.reducedError))}});
  }
  ch += "]";
  return object({{"pRef", number(val(d.pRef))},
                 {"pRefUnits", number(val(d.pRefUnits))},
                 {"pRefText", text(d.pRefText)},
                 {"baroText", text(d.baroText)},
                 {"speedText", text(d.speedText)},
                 {"sensorState", integer(val(d.sensorState))},
                 {"inputOn", integer(val(d.inputOn))},
                 {"ventOn", integer(val(d.ventOn))},
                 {"kestoDataValid", integer(val(d.kestoDataValid))},
                 {"kestoCurrent", currents},
                 {"ch", ch}});
}

std::string probeJson(const TDev& d) {
  const TCalInfo& c = d.calInfo;
  const TSettings& s = d.settings;
  return object({{"linked", integer(val(d.linked))},
                 {"linkState", integer(val(d.linkState))},
                 {"devTypeId", integer(val(d.devTypeId))},
                 {"portNo", integer(val(d.portNo))},
                 {"kestoOk", integer(val(d.kestoOk))},
                 {"calInfo", object({{"serial", text(c.serial)},
                                     {"madeDate", text(c.madeDate)},
                                     {"pLimitMin", number(val(c.pLimitMin))},
                                     {"pLimitMax", number(val(c.pLimitMax))},
                                     {"modelName", text(c.modelName)}})},
                 {"settings", object({{"units", integer(val(s.units))},
                                      {"decimals", integer(val(s.decimals))},
                                      {"unitFactor", number(val(s.unitFactor))}})}});
}

// ---- The bound library and its timer ---------------------------------------------------------------

quarn::host::Library g_lib;
std::function<void(const TDev&)> g_listener;
volatile LONG g_stop = 0;

void onUpdate() {
  if (g_listener && g_lib.dev) g_listener(*g_lib.dev);
}

BOOL WINAPI onConsoleControl(DWORD) {
  InterlockedExchange(&g_stop, 1);
  return TRUE;
}

// Waits for the library's timer handle and dispatches it until `done` holds or `timeoutMs` of real
// time have passed.
bool runUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  const HANDLE timer = reinterpret_cast<HANDLE>(static_cast<intptr_t>(g_lib.timerFd()));
  while (!g_stop) {
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    // The cap bounds how late a stop request is seen.
    const DWORD wait = static_cast<DWORD>(end - now < 1000 ? end - now : 1000);
    if (WaitForSingleObject(timer, wait) == WAIT_OBJECT_0) g_lib.timerDispatch();
  }
  return done();
}

std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", s);
  return text;
}

void bindLibrary(const Options& o) {
  const auto res = quarn::host::bind(g_lib, quarn::host::defaultCandidates(o.library), onUpdate, o.model);
  if (res.code != 0) throw Failure{kFailure, res.message};
  if (!g_lib.timerFd || !g_lib.timerDispatch) {
    quarn::host::unbind(g_lib);
    throw Failure{kFailure, "the library has no timer descriptor (quarn_timer_fd)"};
  }
  g_lib.dev->portNo = o.portNo;
}

void connect(const Options& o) {
  g_lib.SetTask(TASK_CONNECT, nullptr);
  TDev& d = *g_lib.dev;
  const uint32_t timeoutMs = static_cast<uint32_t>(o.timeoutS * 1000.0);
  if (!runUntil([&] { return d.linked == 1 && d.task == TASK_MEASURE; }, timeoutMs)) {
    if (g_stop) throw Failure{kFailure, "interrupted"};
    throw Failure{kNoCalibrator, "no calibrator found within " + seconds(o.timeoutS) + " s"};
  }
}

int probe(const Options& o) {
  bindLibrary(o);
  connect(o);
  emit(probeJson(*g_lib.dev));
  return kOk;
}

int measure(const Options& o, long cycles) {
  bindLibrary(o);
  long printed = 0;
  g_listener = [&](const TDev& d) {
    if (d.event == 2 && printed < cycles) {
      emit(measurementJson(d));
      ++printed;
    }
  };
  connect(o);
  const uint32_t timeoutMs = static_cast<uint32_t>(o.timeoutS * 1000.0);
  // The timeout is the longest wait for the next cycle, so a line that dies is noticed after one
  // timeout however many cycles were asked for.
  while (printed < cycles) {
    const long before = printed;
    if (runUntil([&] { return printed > before; }, timeoutMs)) continue;
    if (g_stop) throw Failure{kFailure, "interrupted"};
    throw Failure{kNoCalibrator, "the link to the calibrator was lost: no measuring cycle within " +
                                     seconds(o.timeoutS) + " s (after " + std::to_string(printed) + " of " +
                                     std::to_string(cycles) + " cycles)"};
  }
  return kOk;
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

// "7", "COM7", "com7"; "0" or "all" searches every port.
uint32_t parsePort(const std::string& text) {
  if (text == "0" || text == "all") return 0;
  std::string digits = text;
  if (digits.size() > 3 && std::toupper(static_cast<unsigned char>(digits[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(digits[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(digits[2])) == 'M')
    digits = digits.substr(3);
  char* end = nullptr;
  const long n = std::strtol(digits.c_str(), &end, 10);
  if (digits.empty() || !end || *end != '\0') throw Failure{kFailure, "not a port: " + text};
  if (n < 1 || n > QUARN_PORT_MAX) throw Failure{kFailure, "port number out of range 1..253: " + text};
  return static_cast<uint32_t>(n);
}

const char kUsage[] =
    "usage: quarn-winhost [--port N|COMN|all] [--model quarn|brenk] [--timeout S] [--library FILE]\n"
    "                     probe | measure [--cycles N]\n";

int run(const std::vector<std::string>& args) {
  Options o;
  size_t i = 0;
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    const std::string& a = args[i];
    if (a == "--port") {
      o.portNo = parsePort(takeValue(args, i));
    } else if (a == "--model") {
      const std::string m = takeValue(args, i);
      if (m == "quarn")
        o.model = 1;
      else if (m == "brenk")
        o.model = 0;
      else
        throw Failure{kFailure, "--model takes quarn or brenk"};
    } else if (a == "--timeout") {
      o.timeoutS = parseNumber(takeValue(args, i), "--timeout");
      if (o.timeoutS <= 0 || o.timeoutS > 86400)
        throw Failure{kFailure, "--timeout takes seconds above 0, at most 86400"};
    } else if (a == "--library") {
      o.library = takeValue(args, i);
    } else {
      throw Failure{kFailure, "unknown option " + a};
    }
  }
  if (i >= args.size()) {
    std::fputs(kUsage, stderr);
    return kFailure;
  }
  const std::string command = args[i++];
  if (command == "probe") {
    if (i < args.size()) throw Failure{kFailure, "unknown argument: " + args[i]};
    return probe(o);
  }
  if (command == "measure") {
    long cycles = 5;
    for (; i < args.size(); ++i) {
      if (args[i] != "--cycles") throw Failure{kFailure, "unknown argument: " + args[i]};
      const double v = parseNumber(takeValue(args, i), "--cycles");
      if (v < 1 || v > 1e9 || v != std::floor(v))
        throw Failure{kFailure, "--cycles takes a whole number >= 1"};
      cycles = static_cast<long>(v);
    }
    return measure(o, cycles);
  }
  throw Failure{kFailure, "unknown command " + command};
}

}  // namespace

int main(int argc, char** argv) {
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
  int status = kFailure;
  try {
    status = run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const Failure& f) {
    std::fprintf(stderr, "quarn-winhost: %s\n", f.reason.c_str());
    status = f.status;
  }
  // Unloading switches the calibrator back to local operation.
  g_listener = nullptr;
  if (g_lib.handle) quarn::host::unbind(g_lib);
  return status;
}
