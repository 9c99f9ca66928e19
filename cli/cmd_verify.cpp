// Commands for a verification run and a relay check of the devices described by a project file:
// the project is applied to the shared record as the parameters screen does, task 21 runs the
// procedure, progress goes to stderr and the results to stdout as one JSON object.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CalibratorCatalogue.h"
#include "ParamsCheck.h"
#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "ReferenceLimit.h"
#include "RunBuilder.h"
#include "RunControl.h"
#include "RunSnapshot.h"
#include "Suitability.h"
#include "TDevValues.h"
#include "make_report.h"
#include "progress.h"
#include "protocol.h"
#include "protocol_fields.h"
#include "protocol_pdf.h"
#include "quarn/cp1251.h"
#include "quarn/library_binding.h"
#include "report_exchange.h"
#include "run_history.h"
#include "run_support.h"
#include "session.h"

namespace cli {

namespace {

namespace data = quarn::data;
namespace history = quarn::history;
namespace report = quarn::report;

struct RunArgs {
  std::string project;
  int set = -1;  // 0..4; -1: the project's own selection
  std::string reportPath;
  std::string templatePath;
  bool pdf = false;  // a PDF of the protocol beside it (LibreOffice)
  std::optional<float> refUpper;
  double runTimeoutS = 0;     // 0: no limit (the run waits for the pressure as long as it takes)
  bool acceptEdited = false;  // a project changed outside the program is used all the same
  HistoryArgs history;
};

RunArgs parseRunArgs(const std::vector<std::string>& args, bool verify) {
  RunArgs r;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--set") {
      const double v = parseNumber(takeValue(args, i), a);
      if (v < 1 || v > data::kPointSetCount || v != std::floor(v))
        throw Failure{kFailure, "--set takes 1..5"};
      r.set = static_cast<int>(v) - 1;
    } else if (a == "--run-timeout") {
      r.runTimeoutS = parseNumber(takeValue(args, i), a);
      if (r.runTimeoutS <= 0 || r.runTimeoutS > 86400 * 30)
        throw Failure{kFailure, "--run-timeout takes seconds above 0, at most 2592000"};
    } else if (a == "--accept-edited") {
      r.acceptEdited = true;
    } else if (verify && a == "--report") {
      r.reportPath = takeValue(args, i);
    } else if (verify && a == "--template") {
      r.templatePath = takeValue(args, i);
    } else if (verify && a == "--pdf") {
      r.pdf = true;
    } else if (verify && a == "--ref-upper") {
      const double v = parseNumber(takeValue(args, i), a);
      // 0 would drop the reference's share out of the uncertainty.
      if (!(v > 0) || v > 1e6) throw Failure{kFailure, "--ref-upper takes kPa above 0, at most 1e6"};
      r.refUpper = static_cast<float>(v);
    } else if (takeHistoryArg(args, i, r.history, true)) {
    } else if (a.rfind("--", 0) == 0 || !r.project.empty()) {
      throw Failure{kFailure, "unknown argument: " + a};
    } else {
      r.project = a;
    }
  }
  if (r.project.empty())
    throw Failure{kFailure, std::string(verify ? "verify" : "relay") + " needs a project file"};
  return r;
}

data::Project loadProjectOrFail(const RunArgs& r) {
  data::Project project = loadRunProject(r.project, r.acceptEdited);
  if (r.set >= 0) project.selectedSet = r.set;
  project.methods = methodList();
  return project;
}

std::string fixed(float v, int decimals) {
  if (!std::isfinite(v)) return "-";
  char b[48];
  std::snprintf(b, sizeof b, "%.*f", decimals, static_cast<double>(v));
  return b;
}

// Progress of the run for people: the point (or relay step) of n, target and reference, each
// channel's hold; on a terminal one line with a bar over the points and the hold time left once
// every channel holds.
class Progress {
 public:
  Progress(bool relayMode, int total, std::function<uint32_t()> nowMs)
      : relayMode_(relayMode), total_(std::max(total, 1)) {
    line_.setClock(std::move(nowMs));
  }
  void update(const TDev& d) {
    const int32_t step = d.pointIdx;
    const int decimals = d.settings.decimals >= 0 && d.settings.decimals <= 6 ? d.settings.decimals : 3;
    const std::string stage =
        relayMode_ ? "step " + std::to_string(step) + " of " + std::to_string(total_)
                   : "point " + std::to_string(std::min(step + 1, total_)) + " of " + std::to_string(total_);
    std::string detail = "target " + fixed(d.pTarget, decimals) + " kPa  reference " +
                         fixed(d.pRef, decimals) + (d.refStat.inCorridor ? " ready" : " settling");
    // The point's time left is known once every enabled channel is holding or ready.
    int holdLeft = 0;
    bool holdKnown = d.refStat.inCorridor != 0;
    if (!relayMode_) {
      for (int c = 0; c < 4; ++c) {
        if (!d.devCh[c].enabled) continue;
        const int left = data::holdTimeLeft(d, c);
        detail += "  ch" + std::to_string(c + 1) + " ";
        if (d.ch[c].pStat.stable) {
          detail += "ready";
        } else if (left > 0) {
          detail += "hold " + std::to_string(left) + " s";
          holdLeft = std::max(holdLeft, left);
        } else {
          detail += "settling";
          holdKnown = false;
        }
      }
    }
    const double done = std::clamp(static_cast<double>(step) / total_, 0.0, 1.0);
    line_.show(stage, detail, done, !relayMode_ && holdKnown ? holdLeft : -1);
  }
  void finish() { line_.finish(); }
  // A message of its own line, between progress lines.
  void note(const std::string& text) {
    line_.finish();
    std::fprintf(stderr, "quarn-cli: %s\n", text.c_str());
  }

 private:
  bool relayMode_;
  int total_;
  ProgressLine line_;
};

// What the procedure reported: its end code, or a return to plain measuring without it.
struct RunWatch {
  bool started = false;
  bool finished = false;
  bool abandoned = false;
  bool linkLost = false;  // the library stopped the run: the link to the calibrator was lost
};

// Connects, prepares the run from the project as the workstation's start button does, starts task 21
// and runs it to its end. Returns the run's own snapshot with its results, and in `startedAtMs` the
// moment the task was started.
std::unique_ptr<data::RunSnapshot> runProcedure(Session& s, const data::Project& project, const RunArgs& r,
                                                bool relayMode, int64_t& startedAtMs) {
  SimOperator simOperator;
  if (s.opts.sim && s.opts.model == 1) simOperator.prepare(s.opts);
  s.open();
  simOperator.started(s);
  s.connect();

  TDev& d = s.host.dev();
  // The channel currents (and the relays' contacts) come from the Kesto module: without it a run
  // would wait for readings that never come.
  if (d.kestoOk == 0)
    throw Failure{kFailure, std::string(relayMode ? "the relay check" : "verification") +
                                " needs the calibrator's Kesto module, which did not answer"};
  data::ApplyOptions apply;
  apply.calibratorLine = data::calibratorLine(d);
  const data::RunStart start = valueOrFail(data::prepareVerification(project, d, apply, relayMode));

  ReferenceLimitKeeper referenceLimit(r.refUpper);
  referenceLimit.load(d);
  Progress progress(relayMode, start.progressMax, [&s] { return s.host.nowMs(); });
  if (const std::string note = referenceLimit.apply(d); !note.empty()) progress.note(note);
  auto run = std::make_unique<data::RunSnapshot>(d, project, report::protocolPlaceholders(project));
  RunWatch watch;
  const uint32_t endCode = relayMode ? RETCODE_RELAY_CHECK_DONE : RETCODE_VERIFICATION_DONE;
  const ScopedListener listener(s, [&](const TDev& dev) {
    if (dev.event == EVENT_MEASUREMENT) {
      const std::string note = referenceLimit.apply(s.host.dev());
      if (!note.empty()) progress.note(note);
    }
    if (!watch.started) return;
    if (dev.retCode == endCode) watch.finished = true;
    if (dev.retCode == RETCODE_RUN_LINK_LOST) watch.linkLost = true;
    if (!watch.finished && dev.task == TASK_MEASURE) watch.abandoned = true;
    simOperator.follow(dev.pTarget);
    if (!watch.finished) progress.update(dev);
  });

  watch.started = true;
  simOperator.follow(d.pTarget);
  startedAtMs = history::nowUtcMs();
  s.host.setTask(TASK_CHECK);
  simOperator.follow(d.pTarget);
  const uint32_t limitMs = r.runTimeoutS > 0 ? static_cast<uint32_t>(r.runTimeoutS * 1000.0) : UINT32_MAX;
  const bool ended =
      s.host.runUntil([&] { return watch.finished || watch.abandoned || watch.linkLost; }, limitMs);
  watch.started = false;  // what the stop below notifies is no longer the run's progress
  progress.finish();
  if (watch.finished) {
    run->follow(s.host.dev());
    return run;
  }
  // The library has stopped the run itself and does not resume it after a reconnect: the points
  // recorded so far are not a whole run, and none is stored or reported.
  if (watch.linkLost)
    throw Failure{kNoCalibrator,
                  "the run was stopped: связь с калибратором потеряна (the link to the calibrator "
                  "was lost); " +
                      std::to_string(data::validResultCount(s.host.dev())) + " of " +
                      std::to_string(start.progressMax) +
                      " points had been recorded, the point being measured and the later "
                      "ones were not"};
  // Interrupted or out of time: the run is stopped as the screen's stop button does.
  s.host.setTask(TASK_MEASURE);
  if (watch.abandoned) {
    const std::string why = s.lastEndText.empty() ? "the link to the calibrator was lost" : s.lastEndText;
    throw Failure{kNoCalibrator, "the run ended before its last point: " + why};
  }
  if (!ended && Host::stopRequested()) throw Failure{kFailure, "interrupted; the run was stopped"};
  throw Failure{kFailure, "the run did not finish in time; it was stopped"};
}

Json resultsJson(const TDev& d) {
  Json points = Json::array();
  const int n = std::min<int>(d.pointIdx, POV_POINTS_MAX);
  for (int k = 0; k < n; ++k) {
    const TPovResult& r = d.results[k];
    if (!r.valid) continue;
    Json ch = Json::array();
    for (const TPovChResult& x : r.ch)
      ch.push_back({{"current", number(x.current)},
                    {"iExpected", number(x.iExpected)},
                    {"pFromI", number(x.pFromI)},
                    {"pFromIKPa", number(x.pFromIKPa)},
                    {"reducedError", number(x.reducedError)},
                    {"uncertainty", number(x.uncertainty)}});
    points.push_back({{"pRef", number(r.pRef)}, {"ch", ch}});
  }
  Json suitable = Json::array();
  for (int c = 0; c < 4; ++c) {
    const std::optional<bool> ok = data::channelSuitable(d, c);
    suitable.push_back(ok ? Json(*ok) : Json(nullptr));
  }
  return Json{{"points", points}, {"suitable", suitable}};
}

// A report that cannot be written is refused before the run, not after it.
void checkReportRequest(const RunArgs& r) {
  if (r.reportPath.empty()) {
    if (!r.templatePath.empty()) throw Failure{kFailure, "--template needs --report"};
    if (r.pdf) throw Failure{kFailure, "--pdf needs --report"};
    return;
  }
  checkReportPaths(r.reportPath, r.templatePath);
  if (r.pdf && !report::pdfAvailable())
    throw Failure{kFailure, "--pdf needs LibreOffice (soffice on the search path), which is not installed"};
}

// The protocol of the run just finished, from its snapshot. The library's timer rests while the
// workbook is made, as in the workstation.
void writeReport(Session& s, const data::RunSnapshot& run, const data::Project& project, const RunArgs& r,
                 const std::string& historyEntry) {
  report::ReportRequest request;
  request.historyEntry = historyEntry;
  setReportTemplate(request, r.templatePath, project.reportTemplate);
  request.outputPath = r.reportPath;
  s.host.setTask(TASK_TIMER_STOP);
  struct TimerRestart {
    Session& s;
    ~TimerRestart() { s.host.setTask(TASK_TIMER_START); }
  } restart{s};
  makeProtocol(run, request);
}

// The PDF beside the workbook just written, once the library's timer runs again.
void writePdf() {
  const std::string pdf =
      valueOrFail(report::writeProtocolPdf(report::LastReportOutput()), "the PDF was not written: ");
  std::fprintf(stderr, "pdf written: %s\n", pdf.c_str());
}

Json relaysJson(const TDev& d) {
  Json relays = Json::array();
  for (int k = 0; k < 8; ++k) {
    const TRelayResult& x = d.relays[k];
    relays.push_back({{"channel", k / 2 + 1},
                      {"relay", k % 2 + 1},
                      {"state", val(x.state)},
                      {"pOn", number(x.pOn)},
                      {"pOff", number(x.pOff)}});
  }
  return Json{{"relays", relays}};
}

}  // namespace

// After a finished run: the history entry, then the protocol, then the results on stdout, which a
// history or report failure does not hold back (the run took place). Either failure then ends the
// command with status 1.
int cmdVerify(Session& s, const std::vector<std::string>& args) {
  const RunArgs r = parseRunArgs(args, true);
  checkReportRequest(r);
  data::Project project = loadProjectOrFail(r);
  // The protocol is dated as the parameters screen dates it: today, unless a date is given.
  if (project.header.date.empty())
    project.header.date = data::protocolDate(static_cast<long long>(time(nullptr)));
  refuseInvalidParameters(project, false);
  RunHistory runHistory(r.history);
  runHistory.prepare();
  int64_t startedAtMs = 0;
  const auto run = runProcedure(s, project, r, false, startedAtMs);

  Json results = resultsJson(run->record());
  std::vector<std::string> failures;
  std::string historyError;
  results["history"] =
      runHistory.store(history::buildRunRecord(*run, hostContext(startedAtMs)), historyError);
  if (!historyError.empty()) failures.push_back("the run was not stored in the history: " + historyError);
  if (!r.reportPath.empty()) {
    try {
      writeReport(s, *run, project, r, runHistory.protocolFooter());
      if (r.pdf) writePdf();
    } catch (const Failure& f) {
      failures.push_back(f.reason);
    }
  }
  emit(results);
  for (const std::string& f : failures) std::fprintf(stderr, "quarn-cli: %s\n", f.c_str());
  return failures.empty() ? kOk : kFailure;
}

int cmdRelay(Session& s, const std::vector<std::string>& args) {
  const RunArgs r = parseRunArgs(args, false);
  const data::Project project = loadProjectOrFail(r);
  refuseInvalidParameters(project, true);
  RunHistory runHistory(r.history);
  runHistory.prepare();
  int64_t startedAtMs = 0;
  const auto run = runProcedure(s, project, r, true, startedAtMs);

  Json results = relaysJson(run->record());
  std::string historyError;
  results["history"] =
      runHistory.store(history::buildRunRecord(*run, hostContext(startedAtMs)), historyError);
  emit(results);
  if (historyError.empty()) return kOk;
  std::fprintf(stderr, "quarn-cli: the run was not stored in the history: %s\n", historyError.c_str());
  return kFailure;
}

}  // namespace cli
