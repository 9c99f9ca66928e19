// `quarn-cli hart …`: the HART jobs on the transmitters of the four channels. Every job except
// leaving fixed-current mode starts with a device search (a new run of the program knows no devices
// yet); each prints one JSON object with the channel records the job changed. Progress goes to stderr.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "TDevValues.h"
#include "progress.h"
#include "quarn/cp1251.h"
#include "session.h"

namespace cli {

namespace {

constexpr double kDefaultRunTimeoutS = 900;  // four empty channels cost 64 s each

struct HartArgs {
  int ch = -1;             // --ch N
  std::set<int> channels;  // --ch LIST
  bool haveUnits = false, haveLower = false, haveUpper = false, haveDamping = false, haveFunction = false,
       haveAddress = false;
  double units = 0, lower = 0, upper = 0, damping = 0, function = 0, address = 0;
  double pmin = NAN, pmax = NAN, corridor = NAN, timeS = NAN;
  double runTimeoutS = kDefaultRunTimeoutS;
  bool fast = false;  // --fast: the search takes answers as soon as they are complete
  uint32_t turnaroundMs = QUARN_HART_TURNAROUND_DEFAULT_MS;  // --fast-turnaround MS
};

// What the notifications of one task showed.
// The library's "no HART device" error code.
constexpr uint32_t kErrNoHartDevice = 1;
// The library's "the link to the calibrator was lost" error code.
constexpr uint32_t kErrLinkLost = 16;

struct TaskLog {
  uint32_t task = 0;
  std::vector<uint32_t> retCodes;  // reported while the task ran (the common end's 1 excluded)
  std::set<uint32_t> events;
  Json errors = Json::array();
  uint32_t lastErr = 0;
  uint32_t lastRet = 0;
};

int wholeNumber(const std::string& text, const std::string& what, int lo, int hi) {
  const double v = parseNumber(text, what);
  if (v < lo || v > hi || v != std::floor(v))
    throw Failure{kFailure, what + " takes " + std::to_string(lo) + ".." + std::to_string(hi)};
  return static_cast<int>(v);
}

// "1,3" or "1-4": channels 1..4 on the command line, indexes 0..3 inside.
std::set<int> channelList(const std::string& text) {
  std::set<int> out;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t dash = item.find('-');
    if (dash != std::string::npos && dash > 0) {
      const int a = wholeNumber(item.substr(0, dash), "--ch", 1, 4);
      const int b = wholeNumber(item.substr(dash + 1), "--ch", 1, 4);
      for (int k = std::min(a, b); k <= std::max(a, b); ++k) out.insert(k - 1);
    } else {
      out.insert(wholeNumber(item, "--ch", 1, 4) - 1);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

HartArgs parseArgs(const std::vector<std::string>& args, size_t from, const std::set<std::string>& allowed) {
  HartArgs h;
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    // Every job starts with a search, so every job takes the search's options.
    if (a == "--fast") {
      h.fast = true;
      continue;
    }
    if (!allowed.count(a) && a != "--fast-turnaround") throw Failure{kFailure, "unknown argument: " + a};
    const std::string v = takeValue(args, i);
    if (a == "--ch") {
      h.channels = channelList(v);
      h.ch = *h.channels.begin();
    } else if (a == "--units") {
      h.units = wholeNumber(v, a, 0, 255), h.haveUnits = true;
    } else if (a == "--lower") {
      h.lower = parseNumber(v, a), h.haveLower = true;
    } else if (a == "--upper") {
      h.upper = parseNumber(v, a), h.haveUpper = true;
    } else if (a == "--damping") {
      h.damping = parseNumber(v, a), h.haveDamping = true;
    } else if (a == "--function") {
      h.function = wholeNumber(v, a, 0, 255), h.haveFunction = true;
    } else if (a == "--address") {
      h.address = wholeNumber(v, a, 0, 63), h.haveAddress = true;
    } else if (a == "--pmin") {
      h.pmin = parseNumber(v, a);
    } else if (a == "--pmax") {
      h.pmax = parseNumber(v, a);
    } else if (a == "--corridor") {
      h.corridor = parseNumber(v, a);
    } else if (a == "--time") {
      h.timeS = wholeNumber(v, a, 0, 86400);
    } else if (a == "--fast-turnaround") {
      h.turnaroundMs = static_cast<uint32_t>(wholeNumber(v, a, 0, 1000));
    } else if (a == "--run-timeout") {
      h.runTimeoutS = parseNumber(v, a);
      if (h.runTimeoutS <= 0 || h.runTimeoutS > 86400)
        throw Failure{kFailure, "--run-timeout takes seconds above 0, at most 86400"};
    }
  }
  return h;
}

std::string utf8(const char* s) { return s ? quarn::text::cp1251ToUtf8(s) : std::string(); }

Json deviceJson(const TDev& d, int ch) {
  const THartDev& h = d.hart[ch];
  return Json{{"ch", ch + 1},
              {"found", val(h.found)},
              {"pollingAddress", val(h.pollingAddress)},
              {"deviceId", val(h.deviceId)},
              {"expandedDeviceType", val(h.expandedDeviceType)},
              {"manufacturerName", text(h.manufacturerName)},
              {"deviceTypeName", text(h.deviceTypeName)},
              {"tag", text(h.tag)},
              {"lowerRange", number(h.lowerRange)},
              {"upperRange", number(h.upperRange)},
              {"rangeUnits", val(h.rangeUnits)},
              {"damping", number(h.damping)},
              {"transferFunction", val(h.transferFunction)},
              {"outputType", val(h.outputType)}};
}

// The whole device record of one channel, for `info` and the jobs on one device.
Json deviceDetailJson(const TDev& d, int ch) {
  const THartDev& h = d.hart[ch];
  Json j = deviceJson(d, ch);
  j["descriptor"] = text(h.descriptor);
  j["message"] = text(h.message);
  j["date"] = Json{{"day", val(h.dateDay)}, {"month", val(h.dateMonth)}, {"year", val(h.dateYear)}};
  j["hartRevision"] = val(h.hartRevision);
  j["deviceRevision"] = val(h.deviceRevision);
  j["softwareRevision"] = val(h.softwareRevision);
  j["hardwareRevision"] = val(h.hardwareRevision);
  j["manufacturerId"] = val(h.manufacturerId);
  j["sensorSerial"] = val(h.sensorSerial);
  j["sensorUnits"] = val(h.sensorUnits);
  j["lowerSensorLimit"] = number(h.lowerSensorLimit);
  j["upperSensorLimit"] = number(h.upperSensorLimit);
  j["minSpan"] = number(h.minSpan);
  j["alarmSelection"] = val(h.alarmSelection);
  j["writeProtect"] = val(h.writeProtect);
  j["loopCurrentMode"] = val(h.loopCurrentMode);
  j["primaryVariable"] = number(h.dynVar[0].value);
  j["primaryUnits"] = h.dynVar[0].units;
  j["primaryUnitsText"] = utf8(h.dynVar[0].unitsText);
  j["loopCurrent"] = number(h.loopCurrent);
  j["outputValueA"] = number(h.outputValueA);
  j["outputValueB"] = number(h.outputValueB);
  return j;
}

Json channelRecordJson(const TDev& d, int ch) {
  const TDevChannel& c = d.devCh[ch];
  return Json{{"ch", ch + 1},
              {"enabled", val(c.enabled)},
              {"name", text(c.name)},
              {"sn", text(c.sn)},
              {"Min", number(c.Min)},
              {"Max", number(c.Max)},
              {"MinKpa", number(c.MinKpa)},
              {"MaxKpa", number(c.MaxKpa)},
              {"Unit", text(c.Unit)},
              {"tDamp", number(c.tDamp)},
              {"fnCode", val(c.fnCode)},
              {"el_Min", number(c.el_Min)},
              {"el_Max", number(c.el_Max)},
              {"elTypeSignal", val(c.elTypeSignal)},
              {"toKpaMul", number(c.toKpaMul)}};
}

Json currentCheckJson(const TDev& d, int ch) {
  const THartChk& k = d.hartChk[ch];
  Json meas = Json::array(), dev = Json::array();
  for (int i = 0; i < 3; ++i) {
    meas.push_back(number(k.meas[i]));
    dev.push_back(number(k.dev[i]));
  }
  return Json{{"ch", ch + 1}, {"active", val(k.active)}, {"meas", meas}, {"dev", dev}};
}

class HartJob {
 public:
  explicit HartJob(Session& s) : s_(s) {
    s_.extraListeners.push_back([this](const TDev& d) { observe(d); });
    progress_.setClock([this] { return s_.host.nowMs(); });
  }

  // Runs a task to its end; false when it did not end in time.
  bool run(uint32_t task, void* arg, double timeoutS) {
    log_ = TaskLog{};
    log_.task = task;
    const double ms = timeoutS * 1000.0;
    const uint64_t before = s_.endCount;
    // On the session's clock: real time, or the virtual time of --sim-virtual.
    const uint32_t start = s_.host.nowMs();
    s_.host.setTask(task, arg);
    s_.lastTaskSeen = task;
    const bool ended =
        s_.host.runUntil([&] { return s_.endCount > before; }, static_cast<uint32_t>(std::min(ms, 4.0e9)));
    if (task == TASK_HART_SEARCH) searchSeconds_ = static_cast<uint32_t>(s_.host.nowMs() - start) / 1000.0;
    progress_.finish();
    if (!ended && Host::stopRequested()) throw Failure{kFailure, "interrupted"};
    return ended;
  }

  bool sawRetCode(uint32_t code) const {
    for (uint32_t r : log_.retCodes)
      if (r == code) return true;
    return false;
  }
  bool sawEvent(uint32_t e) const { return log_.events.count(e) != 0; }
  bool sawError(uint32_t code) const {
    for (const Json& e : log_.errors)
      if (e["errCode"] == code) return true;
    return false;
  }

  // The fields every job prints; `reason` says why a failed job failed (null when it did not).
  Json outcome(const std::string& command, bool ok, const std::string& reason) const {
    Json j{{"command", "hart " + command}, {"ok", ok}};
    j["retCodes"] = log_.retCodes;
    j["errors"] = log_.errors;
    j["reason"] = ok ? Json(nullptr) : Json(reason);
    j["searchSeconds"] = searchSeconds_;
    return j;
  }
  const Json& errors() const { return log_.errors; }

 private:
  void observe(const TDev& d) {
    if (d.task == log_.task) {
      // Each report once: later notifications carry the same code until another is reported.
      if (d.retCode != RETCODE_CLEARED && d.retCode != log_.lastRet) log_.retCodes.push_back(d.retCode);
      log_.lastRet = d.retCode;
      if (d.event != EVENT_NONE) log_.events.insert(d.event);
    }
    // Every HART request sets "no HART device" until its answer arrives, and the search's silent polls
    // of a channel without a HART device leave it set for a while: it is an error of the job only when
    // the job ends with it (the common end's notification, task 4, still shows it). Otherwise a write
    // to the device that answered would list it beside its success or its own refusal.
    const bool pendingMark = d.errCode == kErrNoHartDevice && d.task != TASK_MEASURE;
    if (pendingMark) return showJobProgress(d);
    if (d.errCode != 0 && d.errText && d.errCode != log_.lastErr) {
      log_.errors.push_back(Json{{"errCode", val(d.errCode)}, {"errText", utf8(d.errText)}});
    }
    log_.lastErr = d.errText ? d.errCode : 0;
    showJobProgress(d);
  }

  void showJobProgress(const TDev& d) {
    // Only the job's own task shows progress (the connection before it has nothing to say here).
    if (log_.task != 0 && d.task == log_.task) showProgress(d);
  }

  // Search: the channel and polling address, a bar over the usable channels and the longest time
  // left (what every silent polling address costs). Other jobs: channel, operation, requests.
  void showProgress(const TDev& d) {
    const std::string channel = utf8(d.dsc[0]);
    const std::string operation = utf8(d.dsc[1]);
    if (d.task == TASK_HART_SEARCH && d.hartCh >= 0 && d.hartCh < 4) {
      int usable = 0, before = 0;
      for (int ch = 0; ch < 4; ++ch) {
        if (!d.hartChk[ch].active) continue;
        ++usable;
        if (ch < d.hartCh) ++before;
      }
      usable = std::max(usable, before + 1);
      const int address = std::clamp<int>(static_cast<int>(d.hartPollAdr), 0, 63);
      const double fraction = (before + address / 64.0) / usable;
      const double secondsLeft = secondsPerAddress_ * ((63 - address) + 64.0 * (usable - before - 1));
      std::string detail = "polling address " + std::to_string(address);
      if (!operation.empty()) detail += "  " + operation;
      progress_.show("HART search: channel " + std::to_string(d.hartCh + 1), detail, fraction, secondsLeft);
      return;
    }
    if (channel.empty() && operation.empty()) return;
    std::string stage = "HART";
    if (!channel.empty()) stage += ": " + channel;
    if (!operation.empty()) stage += ", " + operation;
    progress_.show(stage, "request " + std::to_string(d.hartProgress));
  }

  Session& s_;
  TaskLog log_;
  ProgressLine progress_;
  double secondsPerAddress_ = 1.0;
  double searchSeconds_ = 0;  // how long the job's search took

 public:
  // A silent polling address costs 1 s with the fixed windows, about 0.4 s in the fast search.
  void setFastSearch(bool fast) { secondsPerAddress_ = fast ? 0.4 : 1.0; }
};

// Connects and searches; throws when the search does not end.
void connectAndSearch(Session& s, HartJob& job, const HartArgs& h) {
  s.open();
  if (h.fast && !s.host.library().symbol<void (*)(int, uint32_t)>("quarn_hart_set_fast_search"))
    throw Failure{kFailure, "--fast: the library has no fast search (quarn_hart_set_fast_search)"};
  if (auto setFast = s.host.library().symbol<void (*)(int, uint32_t)>("quarn_hart_set_fast_search"))
    setFast(h.fast ? 1 : 0, h.turnaroundMs);
  s.connect();
  if (!job.run(TASK_HART_SEARCH, nullptr, h.runTimeoutS))
    throw Failure{kNoCalibrator, "the HART search did not end in time"};
}

int needChannel(const HartArgs& h, const std::string& command) {
  if (h.ch < 0) throw Failure{kFailure, "hart " + command + " needs --ch N"};
  return h.ch;
}

Json searchResultJson(const TDev& d) {
  Json devices = Json::array();
  for (int ch = 0; ch < 4; ++ch)
    if (d.hart[ch].found) devices.push_back(deviceJson(d, ch));
  return devices;
}

std::string channelNames(const std::vector<int>& channels) {
  std::string out;
  for (size_t i = 0; i < channels.size(); ++i) out += (i ? ", " : "") + std::to_string(channels[i] + 1);
  return out;
}

// Why a job failed, from what its notifications and the record show: the module that selects the
// channels, a channel select that failed, no device where the job needed one, a reported error;
// never an empty answer. `channels` are the channels the job needed a device on (empty: any).
std::string whyFailed(const HartJob& job, const TDev& d, const std::vector<int>& channels) {
  if (d.kestoOk == 0) return "no Kesto module: the HART channels cannot be selected";
  for (const Json& e : job.errors()) {
    if (e["errCode"] == kErrLinkLost)
      return "the link to the calibrator was lost: " + e["errText"].get<std::string>();
    if (e["errCode"] == 6) return "channel select failed: " + e["errText"].get<std::string>();
  }
  std::vector<int> missing;
  for (int ch : channels)
    if (!d.hart[ch].found) missing.push_back(ch);
  if (!missing.empty())
    return std::string(missing.size() == 1 ? "no HART device found on channel "
                                           : "no HART device found on channels ") +
           channelNames(missing);
  if (channels.empty()) {
    bool any = false;
    for (const THartDev& h : d.hart) any = any || h.found;
    if (!any) return "no HART device found on any channel";
  }
  if (!job.errors().empty()) return job.errors().back()["errText"].get<std::string>();
  return "the job ended without reporting its success";
}

// A job on one device refuses to start without it, saying why it is missing.
void requireFound(const HartJob& job, const TDev& d, int ch) {
  if (!d.hart[ch].found) throw Failure{kFailure, whyFailed(job, d, {ch})};
}

int finish(const HartJob& job, const std::string& command, bool ok, Json extra, const TDev& d,
           const std::vector<int>& channels) {
  const std::string reason = ok ? std::string() : whyFailed(job, d, channels);
  Json j = job.outcome(command, ok, reason);
  for (auto it = extra.begin(); it != extra.end(); ++it) j[it.key()] = it.value();
  emit(j);
  if (!ok) std::fprintf(stderr, "quarn-cli: hart %s failed: %s\n", command.c_str(), reason.c_str());
  return ok ? kOk : kFailure;
}

// The channels a job was given (none given: any channel will do).
std::vector<int> jobChannels(const std::set<int>& given) { return {given.begin(), given.end()}; }

// ---- the jobs: each connects, searches, runs its task and prints its outcome ----

int jobSearch(Session& s, HartJob& j, const HartArgs& h, const std::string& job) {
  connectAndSearch(s, j, h);
  TDev& d = s.host.dev();
  Json channels = Json::array();
  for (int ch = 0; ch < 4; ++ch)
    if (d.hart[ch].found) channels.push_back(channelRecordJson(d, ch));
  // hartFirstCh is the record's channel index (0..3, -1 for none); firstChannel the channel
  // number as everywhere else in the output (1..4, null for none).
  const int32_t first = d.hartFirstCh;
  return finish(j, job, j.sawEvent(EVENT_HART_SEARCH_DONE),
                Json{{"hartFirstCh", first},
                     {"firstChannel", first >= 0 && first < 4 ? Json(first + 1) : Json(nullptr)},
                     {"devices", searchResultJson(d)},
                     {"channels", channels}},
                d, {});
}

int jobInfo(Session& s, HartJob& j, const HartArgs& h, const std::string& job) {
  const int ch = needChannel(h, job);
  connectAndSearch(s, j, h);
  TDev& d = s.host.dev();
  return finish(j, job, j.sawEvent(EVENT_HART_SEARCH_DONE) && d.hart[ch].found,
                Json{{"device", deviceDetailJson(d, ch)}, {"channel", channelRecordJson(d, ch)}}, d, {ch});
}

int jobWrite(Session& s, HartJob& j, const HartArgs& h, const std::string& job) {
  const int ch = needChannel(h, job);
  connectAndSearch(s, j, h);
  TDev& d = s.host.dev();
  requireFound(j, d, ch);
  const THartDev& hd = d.hart[ch];
  // What is not given stays as the device reported it, so only the given values are written.
  d.hartCh = ch;
  d.hartWrUnits = h.haveUnits ? static_cast<uint32_t>(h.units) : hd.rangeUnits;
  d.hartWrLower = h.haveLower ? static_cast<float>(h.lower) : hd.lowerRange;
  d.hartWrUpper = h.haveUpper ? static_cast<float>(h.upper) : hd.upperRange;
  d.hartWrDamping = h.haveDamping ? static_cast<float>(h.damping) : hd.damping;
  d.hartWrFunction = h.haveFunction ? static_cast<uint32_t>(h.function) : hd.transferFunction;
  d.hartWrAddress = h.haveAddress ? static_cast<uint32_t>(h.address) : hd.pollingAddress;
  if (!j.run(TASK_HART_WRITE, nullptr, h.runTimeoutS))
    throw Failure{kNoCalibrator, "the write did not end in time"};
  return finish(j, job, j.sawRetCode(RETCODE_HART_WRITTEN) && !j.sawError(2),
                Json{{"device", deviceDetailJson(d, ch)}, {"channel", channelRecordJson(d, ch)}}, d, {ch});
}

// check-current and trim-current: the given channels (all with a device when none is given).
int jobCurrent(Session& s, HartJob& j, const HartArgs& h, const std::string& job) {
  connectAndSearch(s, j, h);
  TDev& d = s.host.dev();
  if (!h.channels.empty())
    for (int ch = 0; ch < 4; ++ch) d.hartChk[ch].active = h.channels.count(ch) ? 1u : 0u;
  const uint32_t task = job == "check-current" ? TASK_HART_CHECK_I : TASK_HART_TUNE_I;
  if (!j.run(task, nullptr, h.runTimeoutS))
    throw Failure{kNoCalibrator, "hart " + job + " did not end in time"};
  Json checks = Json::array();
  for (int ch = 0; ch < 4; ++ch)
    if (d.hartChk[ch].active) checks.push_back(currentCheckJson(d, ch));
  return finish(j, job, j.sawRetCode(RETCODE_FINISHED), Json{{"currentCheck", checks}}, d,
                jobChannels(h.channels));
}

int jobSensorTrim(Session& s, HartJob& j, const HartArgs& h, const std::string& job) {
  if (std::isnan(h.pmin) || std::isnan(h.pmax) || std::isnan(h.corridor) || std::isnan(h.timeS))
    throw Failure{kFailure, "hart trim-sensor needs --pmin, --pmax, --corridor and --time"};
  if (h.corridor <= 0) throw Failure{kFailure, "--corridor takes a positive percentage"};
  connectAndSearch(s, j, h);
  TDev& d = s.host.dev();
  for (int ch = 0; ch < 4; ++ch)
    d.trimOn[ch] = (h.channels.empty() ? d.hart[ch].found != 0 : h.channels.count(ch) != 0) ? 1u : 0u;
  d.trimPmin = static_cast<float>(h.pmin);
  d.trimPmax = static_cast<float>(h.pmax);
  d.trimCorridor = static_cast<float>(h.corridor);
  d.trimTime = static_cast<int32_t>(h.timeS);
  if (!j.run(TASK_HART_TUNE_TRIM, nullptr, h.runTimeoutS))
    throw Failure{kNoCalibrator,
                  "the sensor trim did not end in time (the pressure must be brought to Pmin, then Pmax)"};
  Json devices = Json::array();
  for (int ch = 0; ch < 4; ++ch)
    if (d.trimOn[ch]) devices.push_back(deviceDetailJson(d, ch));
  return finish(j, job, j.sawRetCode(RETCODE_FINISHED) && j.sawEvent(EVENT_SENSOR_TRIM_DONE),
                Json{{"pRef", number(d.pRef)}, {"devices", devices}}, d, jobChannels(h.channels));
}

// zero and reset: one channel, passed to the task by address.
int jobZeroOrReset(Session& s, HartJob& j, const HartArgs& h, const std::string& job) {
  int32_t ch = needChannel(h, job);
  connectAndSearch(s, j, h);
  TDev& d = s.host.dev();
  const bool zero = job == "zero";
  if (!zero) requireFound(j, d, ch);
  if (!j.run(zero ? TASK_HART_SET_0 : TASK_HART_RESET, &ch, h.runTimeoutS))
    throw Failure{kNoCalibrator, "hart " + job + " did not end in time"};
  const bool ok = zero ? j.sawEvent(EVENT_HART_ZERO_DONE) && !j.sawRetCode(RETCODE_HART_ZERO_FAILED) : true;
  return finish(j, job, ok, Json{{"device", deviceDetailJson(d, ch)}}, d, {ch});
}

int jobRestore(Session& s, HartJob& j, const HartArgs& h, const std::string& job) {
  const int ch = needChannel(h, job);
  connectAndSearch(s, j, h);
  TDev& d = s.host.dev();
  d.hartCh = ch;
  if (!j.run(TASK_HART_REPAIR_MAN, nullptr, h.runTimeoutS))
    throw Failure{kNoCalibrator, "the restore did not end in time"};
  return finish(j, job, j.sawRetCode(RETCODE_HART_INFO_READ) && !j.sawRetCode(RETCODE_HART_RESTORE_NO_DEVICE),
                Json{{"device", deviceDetailJson(d, ch)}, {"channel", channelRecordJson(d, ch)}}, d, {ch});
}

int jobExitFixed(Session& s, HartJob& j, const HartArgs& h, const std::string& job) {
  // The exit addresses each channel's device by its long address, which a search provides.
  connectAndSearch(s, j, h);
  if (!j.run(TASK_HART_EXIT_I_OUT, nullptr, h.runTimeoutS))
    throw Failure{kNoCalibrator, "leaving fixed-current mode did not end in time"};
  return finish(j, job, !j.sawError(4) && !j.sawError(6), Json::object(), s.host.dev(), {});
}

// One row per job: its name, the options it takes and what runs it.
struct JobRow {
  const char* name;
  std::set<std::string> options;
  int (*run)(Session&, HartJob&, const HartArgs&, const std::string&);
};

const std::vector<JobRow>& jobTable() {
  static const std::vector<JobRow> rows = {
      {"search", {"--run-timeout"}, jobSearch},
      {"info", {"--ch", "--run-timeout"}, jobInfo},
      {"write",
       {"--ch", "--units", "--lower", "--upper", "--damping", "--function", "--address", "--run-timeout"},
       jobWrite},
      {"check-current", {"--ch", "--run-timeout"}, jobCurrent},
      {"trim-current", {"--ch", "--run-timeout"}, jobCurrent},
      {"trim-sensor", {"--ch", "--pmin", "--pmax", "--corridor", "--time", "--run-timeout"}, jobSensorTrim},
      {"zero", {"--ch", "--run-timeout"}, jobZeroOrReset},
      {"reset", {"--ch", "--run-timeout"}, jobZeroOrReset},
      {"restore", {"--ch", "--run-timeout"}, jobRestore},
      {"exit-fixed", {"--run-timeout"}, jobExitFixed},
  };
  return rows;
}

}  // namespace

int cmdHart(Session& s, const std::vector<std::string>& args) {
  if (args.empty()) {
    std::string names;
    for (const JobRow& row : jobTable()) names += std::string(names.empty() ? "" : ", ") + row.name;
    throw Failure{kFailure, "hart needs a job: " + names};
  }
  const std::string& job = args[0];
  for (const JobRow& row : jobTable()) {
    if (job != row.name) continue;
    const HartArgs h = parseArgs(args, 1, row.options);
    HartJob j(s);
    j.setFastSearch(h.fast);
    return row.run(s, j, h, job);
  }
  throw Failure{kFailure, "unknown hart job: " + job};
}

}  // namespace cli
