// `quarn-cli calibrate PROJECT.aip`: one-button calibration. A HART search, the as-found
// verification of every switched-on channel, a sensor trim and a current trim of each HART device
// that is not suitable (or of every one with --always), then the as-left verification with the same
// points. The sequence itself is the data layer's (CalibrationSequence), which the workstation runs
// too; this command starts the tasks it asks for, stores the runs and the adjustments in the history,
// and prints one JSON object.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CalibrationRuns.h"
#include "CalibrationSequence.h"
#include "FixedCurrentRelease.h"
#include "IniValues.h"
#include "ProjectFile.h"
#include "RunBuilder.h"
#include "RunControl.h"
#include "RunSnapshot.h"
#include "TDevValues.h"
#include "progress.h"
#include "protocol.h"
#include "protocol_fields.h"
#include "protocol_pdf.h"
#include "report_exchange.h"
#include "run_history.h"
#include "run_support.h"
#include "session.h"

namespace cli {

namespace {

namespace data = quarn::data;
namespace history = quarn::history;
namespace report = quarn::report;

// The sequence ran to its end, but a device that needed adjusting is not adjusted and suitable.
constexpr int kNotAllAdjusted = 3;

struct CalibrateArgs {
  std::string project;
  bool always = false;
  std::string reportPath;
  std::string templatePath;
  bool pdf = false;
  double runTimeoutS = 0;     // 0: each stage waits as long as it takes
  bool acceptEdited = false;  // a project changed outside the program is used all the same
  HistoryArgs history;
};

CalibrateArgs parseCalibrateArgs(const std::vector<std::string>& args) {
  CalibrateArgs r;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--always") {
      r.always = true;
    } else if (a == "--report") {
      r.reportPath = takeValue(args, i);
    } else if (a == "--template") {
      r.templatePath = takeValue(args, i);
    } else if (a == "--pdf") {
      r.pdf = true;
    } else if (a == "--accept-edited") {
      r.acceptEdited = true;
    } else if (a == "--run-timeout") {
      r.runTimeoutS = parseNumber(takeValue(args, i), a);
      if (r.runTimeoutS <= 0 || r.runTimeoutS > 86400 * 30)
        throw Failure{kFailure, "--run-timeout takes seconds above 0, at most 2592000"};
    } else if (takeHistoryArg(args, i, r.history, false)) {
    } else if (a.rfind("--", 0) == 0 || !r.project.empty()) {
      throw Failure{kFailure, "unknown argument: " + a};
    } else {
      r.project = a;
    }
  }
  if (r.project.empty()) throw Failure{kFailure, "calibrate needs a project file"};
  if (r.reportPath.empty()) {
    if (!r.templatePath.empty()) throw Failure{kFailure, "--template needs --report"};
    if (r.pdf) throw Failure{kFailure, "--pdf needs --report"};
  } else {
    checkReportPaths(r.reportPath, r.templatePath);
    if (r.pdf && !report::pdfAvailable())
      throw Failure{kFailure, "--pdf needs LibreOffice (soffice on the search path), which is not installed"};
  }
  return r;
}

// The sequence's side of this host: tasks go to the library, a verification is prepared as
// `verify` prepares it.
class CliCalibrationHost : public data::CalibrationHost {
 public:
  CliCalibrationHost(Session& s, const data::Project& project, ReferenceLimitKeeper& referenceLimit)
      : s_(s), project_(project), referenceLimit_(referenceLimit) {}
  TDev& dev() override { return s_.host.dev(); }
  void startTask(uint32_t task) override {
    s_.host.setTask(task);
    s_.lastTaskSeen = task;
  }
  std::unique_ptr<data::RunSnapshot> prepareRun(std::string& why) override {
    TDev& d = s_.host.dev();
    data::ApplyOptions apply;
    apply.calibratorLine = data::calibratorLine(d);
    const data::Result<data::RunStart> ready = data::prepareVerification(project_, d, apply, false);
    if (!ready) {
      why = ready.why();
      return nullptr;
    }
    points = ready->progressMax;
    referenceLimit_.apply(d);
    startedAtMs = history::nowUtcMs();
    if (firstStartedAtMs == 0) firstStartedAtMs = startedAtMs;
    return std::make_unique<data::RunSnapshot>(d, project_, report::protocolPlaceholders(project_));
  }

  int points = 0;                // of the run being prepared
  int64_t startedAtMs = 0;       // when the latest run was prepared and started
  int64_t firstStartedAtMs = 0;  // the same of the first run (the as-found)

 private:
  Session& s_;
  const data::Project& project_;
  ReferenceLimitKeeper& referenceLimit_;
};

std::string kpa(float v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.3f kPa", static_cast<double>(v));
  return b;
}

std::string channelList(const std::vector<int>& channels) {
  std::string out;
  for (int c : channels) out += (out.empty() ? "" : ",") + std::to_string(c + 1);
  return out;
}

// One progress line: the stage, the channel or point, a bar over the points of a run.
void showProgress(ProgressLine& line, const data::CalibrationSequence& seq, const TDev& d, int points) {
  using Stage = data::CalibrationStage;
  switch (seq.stage()) {
    case Stage::Search:
      line.show("HART search", "channel " + std::to_string(std::clamp<int>(d.hartCh, 0, 3) + 1) +
                                   "  polling address " + std::to_string(d.hartPollAdr));
      return;
    case Stage::AsFound:
    case Stage::AsLeft: {
      const int total = std::max(points, 1);
      const int k = std::min<int>(d.pointIdx + 1, total);
      line.show(std::string(seq.stage() == Stage::AsFound ? "as-found" : "as-left") + " point " +
                    std::to_string(k) + " of " + std::to_string(total),
                "reference " + kpa(d.pRef), std::clamp(static_cast<double>(d.pointIdx) / total, 0.0, 1.0));
      return;
    }
    case Stage::SensorTrim: {
      std::vector<int> on;
      for (int c = 0; c < 4; ++c)
        if (d.trimOn[c]) on.push_back(c);
      line.show("sensor trim channels " + channelList(on), std::string(d.hartStage == 2 ? "Pmax " : "Pmin ") +
                                                               kpa(d.pTarget) + " wanted  reference " +
                                                               kpa(d.pRef));
      return;
    }
    case Stage::CurrentTrim:
      line.show("current trim", "channel " + std::to_string(std::clamp<int>(d.hartCh, 0, 3) + 1));
      return;
    case Stage::ExitFixed:
      line.show("leaving fixed-current mode", "");
      return;
    default:
      return;
  }
}

Json verdict(const std::optional<bool>& v) { return v ? Json(*v) : Json(nullptr); }

Json floats(const std::array<float, 3>& a) {
  Json out = Json::array();
  for (float v : a) out.push_back(number(v));
  return out;
}

// The points a run measured on one channel: reference and reduced error.
Json channelPoints(const data::RunSnapshot* run, int c) {
  if (!run) return nullptr;
  const TDev& d = run->record();
  Json points = Json::array();
  const int n = std::min<int>(d.pointIdx, POV_POINTS_MAX);
  for (int k = 0; k < n; ++k) {
    const TPovResult& r = d.results[k];
    if (!r.valid) continue;
    points.push_back({{"pRef", number(r.pRef)},
                      {"current", number(r.ch[c].current)},
                      {"reducedError", number(r.ch[c].reducedError)}});
  }
  return points;
}

Json channelJson(const data::CalibrationSequence& seq, int c) {
  const data::CalibrationChannel& x = seq.channels()[static_cast<size_t>(c)];
  Json j{{"ch", c + 1},
         {"enabled", x.enabled},
         {"hart", x.hart},
         {"toAdjust", x.toAdjust},
         {"asFound", verdict(x.asFound)},
         {"asLeft", verdict(x.asLeft)},
         {"adjusted", x.sensorTrimmed || x.currentTrimmed},
         {"refused", x.refused},
         {"reason", x.reason.empty() ? Json(nullptr) : Json(x.reason)},
         {"asFoundPoints", channelPoints(seq.asFound(), c)},
         {"asLeftPoints", channelPoints(seq.asLeft(), c)}};
  j["sensorTrim"] = x.sensorTrimmed ? Json{{"pmin", number(x.trimPmin)},
                                           {"pmax", number(x.trimPmax)},
                                           {"pRefMin", number(x.pRefMin)},
                                           {"pRefMax", number(x.pRefMax)}}
                                    : Json(nullptr);
  j["currentTrim"] = x.currentTrimmed
                         ? Json{{"before", floats(x.currentBefore)}, {"after", floats(x.currentAfter)}}
                         : Json(nullptr);
  return j;
}

// The trims the sequence made, as history entries: the trim points with the reference at which they
// were written, the current check before and after (the notes the protocol lists them with).
std::vector<history::Adjustment> adjustmentsOf(const data::CalibrationSequence& seq, int64_t now) {
  std::vector<history::Adjustment> out;
  for (const data::CalibrationAdjustment& x : data::calibrationAdjustments(seq)) {
    history::Adjustment a;
    a.atMs = now;
    a.utcOffsetMin = history::utcOffsetMinutes(now);
    a.workstation = history::defaultWorkstationName();
    a.channel = x.channel;
    a.serial = x.serial;
    a.deviceName = x.deviceName;
    a.kind = x.kind == data::TrimKind::Sensor ? history::AdjustmentKind::SensorTrim
                                              : history::AdjustmentKind::CurrentTrim;
    a.note = x.note;
    out.push_back(std::move(a));
  }
  return out;
}

// The entry of a run of the calibration; the run that ends it carries the channels' reasons, so its
// protocol made again from the history states them.
history::RunRecord calibrationRunRecord(const data::RunSnapshot& run, const history::HostContext& context,
                                        const data::CalibrationSequence& seq) {
  history::RunRecord record = history::buildRunRecord(run, context);
  if (const std::optional<data::CalibrationRuns> runs = data::calibrationRunsOf(seq)) {
    const data::RunSnapshot& last = runs->asLeft ? *seq.asLeft() : *seq.asFound();
    if (&last == &run)
      for (auto& field : data::calibrationReasonFields(*runs))
        record.protocol.fields.push_back(std::move(field));
  }
  return record;
}

// How long each stage took on the session's clock (virtual with --sim-virtual): the time from the
// stage's start to the step that ended it. The sum against the whole shows what the sequence adds
// between the library's tasks.
class StageTimes {
 public:
  explicit StageTimes(uint32_t startMs) : lastMs_(startMs) {}
  void mark(data::CalibrationStage ended, uint32_t nowMs) {
    const char* name = stageName(ended);
    if (name) seconds_[name] = seconds_.value(name, 0.0) + static_cast<uint32_t>(nowMs - lastMs_) / 1000.0;
    lastMs_ = nowMs;
  }
  const Json& json() const { return seconds_; }

 private:
  static const char* stageName(data::CalibrationStage stage) {
    switch (stage) {
      case data::CalibrationStage::Search:
        return "search";
      case data::CalibrationStage::AsFound:
        return "asFound";
      case data::CalibrationStage::SensorTrim:
        return "sensorTrim";
      case data::CalibrationStage::CurrentTrim:
        return "currentTrim";
      case data::CalibrationStage::ExitFixed:
        return "exitFixed";
      case data::CalibrationStage::AsLeft:
        return "asLeft";
      default:
        return nullptr;
    }
  }
  uint32_t lastMs_;
  Json seconds_ = Json::object();
};

}  // namespace

// Exit status: 0 when every device that was to be adjusted is adjusted and suitable as left (and
// nothing needed adjusting otherwise); 3 when the sequence ran to its end but some device was not
// (refused, not HART, still out of tolerance); 2 when the link to the calibrator was lost or none
// answered; 1 for any other failure (the sequence stopped, the history or the protocol not written).
int cmdCalibrate(Session& s, const std::vector<std::string>& args) {
  const CalibrateArgs r = parseCalibrateArgs(args);
  data::Project project = loadRunProject(r.project, r.acceptEdited);
  project.methods = methodList();
  if (project.header.date.empty())
    project.header.date = data::protocolDate(static_cast<long long>(time(nullptr)));
  refuseInvalidParameters(project, false);
  RunHistory runHistory(r.history);
  runHistory.prepare();

  SimOperator simOperator;
  if (s.opts.sim && s.opts.model == 1) simOperator.prepare(s.opts);
  s.open();
  simOperator.started(s);
  s.connect();
  TDev& d = s.host.dev();
  if (d.kestoOk == 0)
    throw Failure{kFailure, "calibration needs the calibrator's Kesto module, which did not answer"};

  ReferenceLimitKeeper referenceLimit(std::nullopt);
  referenceLimit.load(d);
  CliCalibrationHost host(s, project, referenceLimit);
  data::CalibrationOptions options;
  options.always = r.always;
  options.trimHoldS =
      std::max(1, static_cast<int>(std::lround(data::scanNumber(project.readiness.holdTimeS))));
  if (const double band = data::scanNumber(project.readiness.bandPrc); band > 0 && band <= 5)
    options.trimCorridorPercent = static_cast<float>(band);
  data::CalibrationSequence seq(host, options);

  // The time from the notification that ended a task to the start of the next one: what the sequence
  // itself adds to the library's steps.
  uint32_t dueAtMs = 0, betweenTasksMs = 0;
  ProgressLine progress;
  progress.setClock([&s] { return s.host.nowMs(); });
  const ScopedListener listener(s, [&](const TDev& dev) {
    if (dev.event == EVENT_MEASUREMENT) referenceLimit.apply(s.host.dev());
    const bool wasDue = seq.actionDue();
    seq.onNotify(dev);
    if (!wasDue && seq.actionDue()) dueAtMs = s.host.nowMs();
    simOperator.follow(dev.pTarget);
    if (!seq.finished()) showProgress(progress, seq, dev, host.points);
  });

  Json historyJson{{"asFound", nullptr}, {"adjustments", Json::array()}, {"asLeft", nullptr}};
  std::vector<std::string> failures;
  bool asFoundStored = false, adjustmentsStored = false;
  int64_t trimsEndedMs = 0;  // the trims were over before the as-left run began
  auto storeWhatIsDone = [&] {
    if (seq.asFound() && !asFoundStored) {
      asFoundStored = true;
      std::string error;
      runHistory.setTag(TagChoice::AsFound);
      historyJson["asFound"] = runHistory.store(
          calibrationRunRecord(*seq.asFound(), hostContext(host.firstStartedAtMs), seq), error);
      if (!error.empty()) failures.push_back("the as-found run was not stored in the history: " + error);
    }
    const bool trimsOver = seq.stage() == data::CalibrationStage::AsLeft || seq.finished();
    if (trimsOver && !adjustmentsStored) {
      adjustmentsStored = true;
      for (const history::Adjustment& a :
           adjustmentsOf(seq, trimsEndedMs ? trimsEndedMs : history::nowUtcMs())) {
        std::string error;
        historyJson["adjustments"].push_back(runHistory.storeAdjustment(a, error));
        if (!error.empty()) failures.push_back("an adjustment was not stored in the history: " + error);
      }
    }
  };

  const uint32_t sequenceStartMs = s.host.nowMs();
  StageTimes stageTimes(sequenceStartMs);
  uint32_t limitMs = r.runTimeoutS > 0 ? static_cast<uint32_t>(r.runTimeoutS * 1000.0) : UINT32_MAX;
  seq.start();
  simOperator.follow(d.pTarget);
  bool interrupted = false, timedOut = false;
  while (!seq.finished()) {
    const bool due = s.host.runUntil([&] { return seq.actionDue() || seq.finished(); }, limitMs);
    if (!due && !interrupted && !timedOut) {
      interrupted = Host::stopRequested();
      timedOut = !interrupted;
      // The stop may still have to take devices out of fixed-current mode: that much runs, for at
      // most the calibrator's time-out, unless another signal comes.
      if (interrupted) Host::clearStop();
      limitMs = std::min(limitMs, std::max<uint32_t>(s.timeoutMs(), 30000));
      seq.stop(interrupted ? "прервано" : "этап не завершился за отведённое время");
      continue;
    }
    if (!due) break;  // the exit from fixed-current mode after a stop did not end either
    const int64_t beforeStep = history::nowUtcMs();
    const bool wasAsLeft = seq.stage() == data::CalibrationStage::AsLeft;
    const data::CalibrationStage stageBefore = seq.stage();
    seq.advance();
    betweenTasksMs += s.host.nowMs() - dueAtMs;
    if (seq.stage() != stageBefore) stageTimes.mark(stageBefore, s.host.nowMs());
    if (!wasAsLeft && seq.stage() == data::CalibrationStage::AsLeft) trimsEndedMs = beforeStep;
    simOperator.follow(s.host.dev().pTarget);
    storeWhatIsDone();
  }
  progress.finish();
  const double sequenceSeconds = static_cast<uint32_t>(s.host.nowMs() - sequenceStartMs) / 1000.0;
  // A stage that ended without its result may have ended because the link went: the library says so
  // once its repeats are used up.
  if (seq.stage() == data::CalibrationStage::Stopped && !seq.linkLost() && !interrupted && !timedOut)
    s.host.runUntil([&] { return seq.linkLost() || s.host.dev().linked == 0; }, s.timeoutMs());
  const bool linkLost = seq.linkLost() || (seq.stage() == data::CalibrationStage::Stopped && d.linked == 0);
  storeWhatIsDone();

  // A lost link leaves the devices the sequence fixed at a current: the next connection takes them
  // out of fixed-current mode before anything else.
  Json exitFixed = nullptr;
  if (linkLost && std::find(seq.pendingExitFixed().begin(), seq.pendingExitFixed().end(), true) !=
                      seq.pendingExitFixed().end()) {
    std::fprintf(stderr, "quarn-cli: the link was lost during the current trim; waiting for it to return\n");
    try {
      s.connect();
      // The data layer's release, which the workstation runs too: a search (a new connection knows no
      // devices, and the exit addresses each by the long address a search reads), then the exit.
      data::FixedCurrentRelease release(host);
      release.arm(seq.pendingExitFixed());
      const ScopedListener releaseListener(s, [&](const TDev& dev) { release.onNotify(dev); });
      release.start();
      while (!release.finished() &&
             s.host.runUntil([&] { return release.actionDue() || release.finished(); }, limitMs))
        release.advance();
      exitFixed = release.succeeded();
      if (release.succeeded()) seq.exitFixedSent();
      if (!release.text().empty()) std::fprintf(stderr, "quarn-cli: %s\n", release.text().c_str());
    } catch (const Failure& f) {
      exitFixed = false;
      std::fprintf(stderr, "quarn-cli: %s\n", f.reason.c_str());
    }
  }

  const int64_t asLeftStartedMs = host.startedAtMs;
  if (seq.asLeft()) {
    std::string error;
    runHistory.setTag(TagChoice::AsLeft);
    historyJson["asLeft"] =
        runHistory.store(calibrationRunRecord(*seq.asLeft(), hostContext(asLeftStartedMs), seq), error);
    if (!error.empty()) failures.push_back("the as-left run was not stored in the history: " + error);
  }

  // The protocol of a calibration that ran to its end: both runs and the trims between them (the
  // as-found run alone, with each device's note, when nothing was adjusted).
  const std::optional<data::CalibrationRuns> calibration = data::calibrationRunsOf(seq);
  if (!r.reportPath.empty() && calibration) {
    try {
      report::ReportRequest request;
      request.historyEntry = runHistory.protocolFooter();
      setReportTemplate(request, r.templatePath, project.reportTemplate);
      request.outputPath = r.reportPath;
      s.host.setTask(TASK_TIMER_STOP);
      makeCalibrationProtocol(*calibration, request);
      s.host.setTask(TASK_TIMER_START);
      if (r.pdf) {
        const std::string pdf =
            valueOrFail(report::writeProtocolPdf(report::LastReportOutput()), "the PDF was not written: ");
        std::fprintf(stderr, "pdf written: %s\n", pdf.c_str());
      }
    } catch (const Failure& f) {
      s.host.setTask(TASK_TIMER_START);
      failures.push_back(f.reason);
    }
  }

  Json channels = Json::array();
  for (int c = 0; c < 4; ++c) channels.push_back(channelJson(seq, c));
  const bool ok = seq.succeeded();
  Json result{{"command", "calibrate"},
              {"ok", ok},
              {"stage", data::calibrationStageText(seq.stage())},
              {"stopReason", seq.stopReason().empty() ? Json(nullptr) : Json(seq.stopReason())},
              {"linkLost", linkLost},
              {"exitFixedSent", exitFixed},
              {"seconds", sequenceSeconds},
              {"stageSeconds", stageTimes.json()},
              {"betweenTasksSeconds", betweenTasksMs / 1000.0},
              {"channels", channels},
              {"history", historyJson}};
  emit(result);

  for (int c = 0; c < 4; ++c) {
    const data::CalibrationChannel& x = seq.channels()[static_cast<size_t>(c)];
    if (x.enabled && !x.reason.empty())
      std::fprintf(stderr, "quarn-cli: channel %d: %s\n", c + 1, x.reason.c_str());
  }
  for (const std::string& f : failures) std::fprintf(stderr, "quarn-cli: %s\n", f.c_str());
  if (linkLost) {
    std::fprintf(stderr, "quarn-cli: calibration stopped: %s%s\n", seq.stopReason().c_str(),
                 seq.linkLost() ? "" : " (the link to the calibrator was lost)");
    return kNoCalibrator;
  }
  if (seq.stage() == data::CalibrationStage::Stopped) {
    std::fprintf(stderr, "quarn-cli: calibration stopped: %s\n", seq.stopReason().c_str());
    return kFailure;
  }
  if (!failures.empty()) return kFailure;
  return ok ? kOk : kNotAllAdjusted;
}

}  // namespace cli
