// `quarn-cli history …`: what the run history holds, read without a calibrator. list prints one
// JSON line per run, the others one object; every command takes --history FILE (default: the
// user's data folder). The history is opened for reading only: nothing here changes it. Every read
// checks the chain first (incrementally) and refuses a history changed outside the program; check
// does the full check, against printed protocols too; backup copies the history consistently.
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CalibrationRuns.h"
#include "HistoryStore.h"
#include "ProtocolFooter.h"
#include "RunBuilder.h"
#include "history_server_cli.h"
#include "make_report.h"
#include "protocol.h"
#include "report_exchange.h"
#include "run_history.h"
#include "session.h"

namespace cli {

namespace {

namespace history = quarn::history;
namespace report = quarn::report;

std::unique_ptr<history::HistoryStore> openForReading(const HistoryArgs& h) {
  const std::string file = historyFile(h, false);
  return valueOrFail(history::HistoryStore::open(file, historyOptions(file, true)));
}

int64_t runNumber(const std::string& text) {
  const bool digits =
      !text.empty() && text.size() <= 15 && text.find_first_not_of("0123456789") == std::string::npos;
  const int64_t n = digits ? std::stoll(text) : 0;
  if (n < 1) throw Failure{kFailure, "a run is given by its number (1, 2, …): " + text};
  return n;
}

// "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS" in this machine's local time, as ms UTC.
int64_t localMoment(const std::string& text) {
  // The text against its pattern, digit by digit: 'd' a digit, anything else itself.
  auto matches = [&text](const char* pattern) {
    if (text.size() != std::strlen(pattern)) return false;
    for (size_t k = 0; k < text.size(); ++k)
      if (pattern[k] == 'd' ? text[k] < '0' || text[k] > '9' : text[k] != pattern[k]) return false;
    return true;
  };
  const bool ok = matches("dddd-dd-dd") || matches("dddd-dd-ddTdd:dd") || matches("dddd-dd-ddTdd:dd:dd");
  auto at = [&text](size_t from, size_t n) {
    return from + n <= text.size() ? std::stoi(text.substr(from, n)) : 0;
  };
  tm t{};
  if (ok) {
    t.tm_year = at(0, 4) - 1900;
    t.tm_mon = at(5, 2) - 1;
    t.tm_mday = at(8, 2);
    t.tm_hour = at(11, 2);
    t.tm_min = at(14, 2);
    t.tm_sec = at(17, 2);
  }
  t.tm_isdst = -1;
  const tm asked = t;
  const time_t when = ok ? std::mktime(&t) : static_cast<time_t>(-1);
  // mktime moves a day that does not exist (30 February) to another one: such a date is refused.
  if (!ok || when == static_cast<time_t>(-1) || t.tm_mday != asked.tm_mday || t.tm_mon != asked.tm_mon ||
      asked.tm_hour > 23 || asked.tm_min > 59 || asked.tm_sec > 59)
    throw Failure{kFailure, "--since takes YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS] (local time), not " + text};
  return static_cast<int64_t>(when) * 1000;
}

// --server URI, --workstation ID and --settings FILE at args[i], kept as given (name, value, …) for
// the commands that read the lab server; false when args[i] is none of them.
bool takeServerOption(const std::vector<std::string>& args, size_t& i, std::vector<std::string>& server) {
  const std::string& a = args[i];
  if (a != "--server" && a != "--workstation" && a != "--settings") return false;
  server.push_back(a);
  server.push_back(takeValue(args, i));
  return true;
}

// Whether `command` reads the lab server rather than the history file: --server or --workstation
// names it (the server's address then comes from --server, QUARN_HISTORY_SERVER or the settings file).
bool readsServer(const std::vector<std::string>& server, const HistoryArgs& h, const std::string& command) {
  if (server.empty()) return false;
  const bool named = std::find(server.begin(), server.end(), "--server") != server.end() ||
                     std::find(server.begin(), server.end(), "--workstation") != server.end();
  if (!named)
    throw Failure{kFailure,
                  "--settings names the lab server's settings: give --server URI or --workstation ID"};
  if (!h.path.empty())
    throw Failure{kFailure, command + " --server reads the lab server, not a history file (--history)"};
  return true;
}

int historyList(const std::vector<std::string>& args) {
  HistoryArgs h;
  history::ListFilter filter;
  std::vector<std::string> server;  // --server URI and the options that go with it
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (takeHistoryArg(args, i, h, false)) continue;
    if (takeServerOption(args, i, server)) continue;
    if (a == "--serial")
      filter.serial = takeValue(args, i);
    else if (a == "--device")
      filter.deviceName = takeValue(args, i);
    else if (a == "--since")
      filter.since = localMoment(takeValue(args, i));
    else if (a == "--all")
      filter.includeCancelled = true;
    else
      throw Failure{kFailure, "unknown argument: " + a};
  }
  if (readsServer(server, h, "list")) return historyListServer(server, filter);
  auto store = openForReading(h);
  // Streamed: each run's line is written as it is read, in blocks, so memory does not grow with the
  // history.
  std::string out;
  const auto flush = [&out] {
    std::fwrite(out.data(), 1, out.size(), stdout);
    out.clear();
  };
  valueOrFail(store->list(filter, [&](const history::RunSummary& run) {
    appendRunSummaryLine(run, out);
    if (out.size() > (1 << 16)) flush();
    return true;
  }));
  flush();
  std::fflush(stdout);
  return kOk;
}

// The one argument of show, pair and backup (`what` names it when missing) with --history and, when
// `server` is given, the lab server's options.
std::string theArgument(const std::vector<std::string>& args, HistoryArgs& h, const std::string& what,
                        std::vector<std::string>* server = nullptr) {
  std::optional<std::string> value;
  for (size_t i = 1; i < args.size(); ++i) {
    if (takeHistoryArg(args, i, h, false) || (server && takeServerOption(args, i, *server))) continue;
    if (args[i].rfind("--", 0) == 0 || value) throw Failure{kFailure, "unknown argument: " + args[i]};
    value = args[i];
  }
  if (!value || value->empty()) throw Failure{kFailure, "history " + args[0] + " needs " + what};
  return *value;
}

int historyShow(const std::vector<std::string>& args) {
  HistoryArgs h;
  std::vector<std::string> server;
  const int64_t run = runNumber(theArgument(args, h, "a run number", &server));
  if (readsServer(server, h, "show")) return historyShowServer(server, run);
  auto store = openForReading(h);
  emit(storedRunJson(valueOrFail(store->show(run))));
  return kOk;
}

int historyPair(const std::vector<std::string>& args) {
  HistoryArgs h;
  std::vector<std::string> server;
  const std::string serial = theArgument(args, h, "a device serial number", &server);
  if (readsServer(server, h, "pair")) return historyPairServer(server, serial);
  auto store = openForReading(h);
  emit(pairJson(valueOrFail(store->pair(serial))));
  return kOk;
}

}  // namespace

// The protocol again, from the stored results: the record is filled from the run, then the report
// library makes the workbook as at the end of the run.
int reportOfStoredRun(const quarn::history::StoredRun& stored, const CalibrationSource& calibrationOf,
                      const std::string& reportPath, const std::string& templatePath) {
  const history::RunRecord& record = stored.record;
  const int64_t run = stored.runId;
  if (record.kind == history::RunKind::RelayCheck)
    throw Failure{kFailure, "run " + std::to_string(run) + " is a relay check: it has no protocol"};
  if (stored.cancelled)
    std::fprintf(stderr, "quarn-cli: run %lld was cancelled: %s\n", static_cast<long long>(run),
                 stored.cancelReason.c_str());

  report::ReportRequest request;
  setReportTemplate(request, templatePath, quarn::data::ReportTemplate{});
  request.outputPath = reportPath;
  // The same entry as the protocol made at the end of the run (a corrected run's: its correction).
  request.historyEntry = history::protocolFooter(stored.contentId, stored.hash);
  // A calibration's protocol holds both its runs and the trims between them: the run that ended the
  // calibration carries the sequence's reasons, and its protocol is made from it and what the history
  // pairs with it (the as-found run and the adjustments before an as-left run), as it was at the end
  // of the calibration.
  Json out{{"run", stored.runId}};
  if (quarn::data::calibrationReasonsOf(record.protocol.fields)) {
    const history::StoredCalibration found = valueOrFail(calibrationOf(run));
    if (record.tag == history::RunTag::AsLeft && !found.asFound)
      throw Failure{kFailure,
                    "run " + std::to_string(run) +
                        " is the as-left run of a calibration, but the history holds no as-found run "
                        "of it (the device's run before it is missing, cancelled or no as-found run): "
                        "the calibration's protocol cannot be made"};
    makeCalibrationProtocol(history::calibrationRunsOfStored(found), request);
    out["asFound"] = found.asFound ? Json(found.asFound->runId) : Json(stored.runId);
    out["adjustments"] = found.adjustments.size();
  } else {
    makeProtocol(history::snapshotOfStoredRun(record), request);
  }
  out["report"] = report::LastReportOutput();
  emit(out);
  return kOk;
}

namespace {

int historyReport(const std::vector<std::string>& args) {
  HistoryArgs h;
  std::vector<std::string> server;
  int64_t run = 0;
  std::string reportPath, templatePath;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (takeHistoryArg(args, i, h, false) || takeServerOption(args, i, server)) continue;
    if (a == "--report") {
      reportPath = takeValue(args, i);
    } else if (a == "--template") {
      templatePath = takeValue(args, i);
    } else {
      if (a.rfind("--", 0) == 0 || run) throw Failure{kFailure, "unknown argument: " + a};
      run = runNumber(a);
    }
  }
  if (!run) throw Failure{kFailure, "history report needs a run number"};
  if (reportPath.empty()) throw Failure{kFailure, "history report needs --report OUT.xlsx"};
  checkReportPaths(reportPath, templatePath);
  if (readsServer(server, h, "report")) return historyReportServer(server, run, reportPath, templatePath);
  auto store = openForReading(h);
  return reportOfStoredRun(
      valueOrFail(store->show(run)), [&store](int64_t id) { return store->calibrationOf(id); }, reportPath,
      templatePath);
}

// The entries a protocol workbook's footers name: the text of its sheets and shared strings is
// searched for the footer line.
std::vector<history::Anchor> protocolAnchors(const std::string& path) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (!z) throw Failure{kFailure, "the protocol " + path + " cannot be read as a workbook (.xlsx)"};
  std::string text;
  const zip_int64_t n = zip_get_num_entries(z, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const char* name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
    const std::string entry = name ? name : "";
    if (entry != "xl/sharedStrings.xml" && entry.rfind("xl/worksheets/", 0) != 0) continue;
    zip_stat_t st;
    // A part above 64 MB is no protocol this program wrote.
    if (zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st) != 0 || st.size > (64u << 20)) continue;
    zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
    if (!f) continue;
    std::string part(static_cast<size_t>(st.size), '\0');
    const zip_int64_t got = zip_fread(f, part.data(), st.size);
    zip_fclose(f);
    if (got == static_cast<zip_int64_t>(st.size)) text += part + "\n";
  }
  zip_close(z);
  std::vector<history::Anchor> anchors = history::footerAnchors(text, "протокол «" + path + "»");
  if (anchors.empty())
    throw Failure{kFailure, "the protocol " + path + " names no entry of a run history (no footer line)"};
  return anchors;
}

Json anchorsJson(const std::vector<history::AnchorFinding>& findings) {
  Json out = Json::array();
  static const char* const kStatus[] = {"matches", "older_copy", "behind", "differs", "ahead"};
  for (const history::AnchorFinding& f : findings)
    out.push_back(Json{{"source", f.source},
                       {"entry", f.seq},
                       {"status", kStatus[static_cast<int>(f.status)]},
                       {"message", f.message.empty() ? Json(nullptr) : Json(f.message)}});
  return out;
}

int historyCheck(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--server") return historyCheckServer(args);
  HistoryArgs h;
  std::vector<history::Anchor> protocols;
  for (size_t i = 1; i < args.size(); ++i) {
    if (takeHistoryArg(args, i, h, false)) continue;
    if (args[i] == "--protocol") {
      const std::vector<history::Anchor> named = protocolAnchors(takeValue(args, i));
      protocols.insert(protocols.end(), named.begin(), named.end());
      continue;
    }
    throw Failure{kFailure, "unknown argument: " + args[i]};
  }
  auto store = openForReading(h);
  const history::ChainCheck check = valueOrFail(store->check(protocols));
  emit(Json{{"file", store->path()},
            {"ok", check.ok},
            {"entries", check.entries},
            {"head", check.head},
            {"headHash", check.headHash.empty() ? Json(nullptr) : Json(check.headHash)},
            {"firstBad", check.ok || check.firstBad == 0 ? Json(nullptr) : Json(check.firstBad)},
            {"problem", check.ok ? Json(nullptr) : Json(check.problem)},
            {"anchors", anchorsJson(check.anchors)},
            {"note", check.note.empty() ? Json(nullptr) : Json(check.note)}});
  if (!check.note.empty())
    std::fprintf(stderr, "quarn-cli: %s: %s\n", store->path().c_str(), check.note.c_str());
  if (check.ok) return kOk;
  if (check.firstBad > 0)
    std::fprintf(stderr, "quarn-cli: the history %s is not intact: entry %lld: %s\n", store->path().c_str(),
                 static_cast<long long>(check.firstBad), check.problem.c_str());
  else
    std::fprintf(stderr, "quarn-cli: the history %s is not intact: %s\n", store->path().c_str(),
                 check.problem.c_str());
  return kFailure;
}

// A consistent copy of the history at this moment, checked once written.
int historyBackup(const std::vector<std::string>& args) {
  HistoryArgs h;
  const std::string out = theArgument(args, h, "the file to copy the history into");
  auto store = openForReading(h);
  const history::BackupResult copy = valueOrFail(store->backup(out));
  emit(Json{{"file", store->path()},
            {"backup", copy.path},
            {"entries", copy.entries},
            {"headHash", copy.headHash.empty() ? Json(nullptr) : Json(copy.headHash)},
            {"ok", copy.check.ok},
            {"problem", copy.check.ok ? Json(nullptr) : Json(copy.check.problem)}});
  if (copy.check.ok) return kOk;
  std::fprintf(stderr, "quarn-cli: the copy %s was written, but the history it copies is not intact: %s\n",
               copy.path.c_str(), copy.check.problem.c_str());
  return kFailure;
}

}  // namespace

int cmdHistory(Session&, const std::vector<std::string>& args) {
  using Command = int (*)(const std::vector<std::string>&);
  const std::pair<const char*, Command> commands[] = {
      {"list", historyList},   {"show", historyShow},     {"pair", historyPair}, {"report", historyReport},
      {"check", historyCheck}, {"backup", historyBackup}, {"sync", historySync}};
  if (args.empty())
    throw Failure{kFailure, "history needs a command: list, show, pair, report, check, backup, sync"};
  for (const auto& [name, run] : commands)
    if (args[0] == name) return run(args);
  throw Failure{kFailure, "unknown history command: " + args[0]};
}

}  // namespace cli
