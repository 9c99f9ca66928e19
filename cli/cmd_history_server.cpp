// `quarn-cli history sync|check|list|show|pair|report --server URI`: the run history and a lab's
// PostgreSQL server. sync pushes every local entry the server lacks; check --server checks the
// server's chains and the local history against them; list --server lists the lab's runs; show, pair
// and report read one workstation's runs (named by --workstation and the run's number, as list
// --server prints them) through the same views as the local reads. The server's connection string
// comes from --server, else QUARN_HISTORY_SERVER, else the settings file ([HistoryServer] Uri); it
// is never printed with its password.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef QUARN_HISTORY_SERVER
#include "HistoryServer.h"
#include "HistoryStore.h"
#include "IniDocument.h"
#include "IniValues.h"
#include "TextFile.h"
#include "WorkstationSettings.h"
#include "history_server_cli.h"
#include "run_history.h"
#include "session.h"

namespace cli {

namespace {

namespace history = quarn::history;

// The settings file the workstation keeps when its program folder cannot be written (the one a
// headless host shares with it): $XDG_CONFIG_HOME/ARM_Quarn/arm_quarn.ini, else ~/.config/….
std::string defaultSettingsFile() {
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
    base = x;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::string(home) + "/.config";
  return base.empty() ? std::string() : base + "/ARM_Quarn/" + quarn::data::kSettingsFileName;
}

struct ServerArgs {
  std::string uri;
  std::string workstation;
  std::string settings;  // --settings FILE
};

bool takeServerArg(const std::vector<std::string>& args, size_t& i, ServerArgs& s) {
  if (args[i] == "--server") {
    s.uri = takeValue(args, i);
    if (s.uri.empty()) throw Failure{kFailure, "--server takes a connection URI"};
    return true;
  }
  if (args[i] == "--workstation") {
    s.workstation = takeValue(args, i);
    if (s.workstation.empty())
      throw Failure{kFailure, "--workstation takes the workstation's name on the server"};
    return true;
  }
  if (args[i] == "--settings") {
    s.settings = takeValue(args, i);
    return true;
  }
  return false;
}

// The connection string and the workstation's name: the options, the environment, the settings file.
history::ServerOptions serverOptions(const ServerArgs& s) {
  history::ServerOptions o;
  o.uri = s.uri;
  o.workstationId = s.workstation;
  o.anchorFolder = history::defaultAnchorFolder();
  if (o.uri.empty())
    if (const char* env = std::getenv(history::kServerEnvironment); env && *env) o.uri = env;
  const std::string settings = s.settings.empty() ? defaultSettingsFile() : s.settings;
  if ((o.uri.empty() || o.workstationId.empty()) && !settings.empty()) {
    const auto f = quarn::data::readTextFile(settings);
    if (!f && !s.settings.empty())
      throw Failure{kFailure, "the settings file cannot be read: " + f.error().why()};
    if (f) {
      const quarn::data::IniDocument ini = quarn::data::IniDocument::parse(f->bytes);
      if (o.uri.empty()) o.uri = quarn::data::readTextUtf8(ini, "HistoryServer", "Uri", "");
      if (o.workstationId.empty())
        o.workstationId = quarn::data::readTextUtf8(ini, "HistoryServer", "Workstation", "");
    }
  }
  if (o.uri.empty())
    throw Failure{kFailure, std::string("no history server: give --server URI, set ") +
                                history::kServerEnvironment + " or [HistoryServer] Uri in the settings file"};
  if (o.workstationId.empty()) o.workstationId = history::defaultWorkstationId();
  return o;
}

// The local history as sync and check --server read it: the server's acknowledged heads are left to
// them, as they compare the file with the server itself and name the first entry that differs.
history::OpenOptions againstServer(const std::string& file) {
  history::OpenOptions o = historyOptions(file, true);
  o.anchors.clear();
  return o;
}

}  // namespace

int historySync(const std::vector<std::string>& args) {
  HistoryArgs h;
  ServerArgs s;
  for (size_t i = 1; i < args.size(); ++i) {
    if (takeHistoryArg(args, i, h, false) || takeServerArg(args, i, s)) continue;
    throw Failure{kFailure, "unknown argument: " + args[i]};
  }
  history::ServerOptions options = serverOptions(s);
  const std::string file = historyFile(h, false);
  auto store = valueOrFail(history::HistoryStore::open(file, againstServer(file)));
  const history::SyncResult r = valueOrFail(history::syncToServer(*store, options));
  emit(Json{{"file", store->path()},
            {"server", r.server},
            {"workstation", r.workstationId},
            {"serverHeadBefore", r.serverHeadBefore},
            {"pushed", r.pushed},
            {"serverHead", r.serverHead},
            {"headHash", r.serverHeadHash.empty() ? Json(nullptr) : Json(r.serverHeadHash)},
            {"localHead", r.localHead}});
  return kOk;
}

int historyCheckServer(const std::vector<std::string>& args) {
  HistoryArgs h;
  ServerArgs s;
  bool all = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (takeHistoryArg(args, i, h, false) || takeServerArg(args, i, s)) continue;
    if (args[i] == "--server-only") {
      all = true;
      continue;
    }
    throw Failure{kFailure, "unknown argument: " + args[i]};
  }
  history::ServerOptions options = serverOptions(s);
  std::unique_ptr<history::HistoryStore> store;
  if (!all) {
    const std::string file = historyFile(h, false);
    store = valueOrFail(history::HistoryStore::open(file, againstServer(file)));
  }
  const history::ServerCheck c = valueOrFail(history::checkServer(store.get(), options));
  Json workstations = Json::array();
  for (const history::ServerChainCheck& w : c.workstations)
    workstations.push_back(Json{{"workstation", w.workstationId},
                                {"ok", w.ok},
                                {"entries", w.entries},
                                {"head", w.head},
                                {"firstBad", w.ok ? Json(nullptr) : Json(w.firstBad)},
                                {"problem", w.ok ? Json(nullptr) : Json(w.problem)}});
  Json out{{"server", c.server}, {"ok", c.ok}, {"workstations", workstations}};
  if (c.localCompared)
    out["local"] = Json{{"file", store->path()},
                        {"workstation", c.workstationId},
                        {"head", c.localHead},
                        {"acknowledged", c.acknowledged},
                        {"firstBad", c.localProblem.empty() ? Json(nullptr) : Json(c.localFirstBad)},
                        {"problem", c.localProblem.empty() ? Json(nullptr) : Json(c.localProblem)}};
  emit(out);
  if (c.ok) return kOk;
  for (const history::ServerChainCheck& w : c.workstations)
    if (!w.ok)
      std::fprintf(stderr,
                   "quarn-cli: the server's history of workstation %s is not intact: entry %lld: %s\n",
                   w.workstationId.c_str(), static_cast<long long>(w.firstBad), w.problem.c_str());
  if (!c.localProblem.empty())
    std::fprintf(stderr, "quarn-cli: the local history does not hold what the server has: entry %lld: %s\n",
                 static_cast<long long>(c.localFirstBad), c.localProblem.c_str());
  return kFailure;
}

int historyListServer(const std::vector<std::string>& serverArgs, const quarn::history::ListFilter& filter) {
  ServerArgs s;
  std::vector<std::string> args{"list"};
  args.insert(args.end(), serverArgs.begin(), serverArgs.end());
  for (size_t i = 1; i < args.size(); ++i)
    if (!takeServerArg(args, i, s)) throw Failure{kFailure, "unknown argument: " + args[i]};
  const std::string onlyWorkstation = s.workstation;  // all workstations unless one is named
  history::ServerOptions options = serverOptions(s);
  history::ServerListFilter f;
  f.workstationId = onlyWorkstation;
  f.serial = filter.serial;
  f.deviceName = filter.deviceName;
  f.since = filter.since;
  f.includeCancelled = filter.includeCancelled;
  f.limit = filter.limit;
  const std::vector<history::ServerRun> runs = valueOrFail(history::listServer(options, f));
  std::string out;
  for (const history::ServerRun& r : runs) {
    Json devices = Json::array();
    for (const history::ServerRun::Device& d : r.devices)
      devices.push_back(
          Json{{"channel", d.channel}, {"name", d.name}, {"serial", d.serial}, {"verdict", d.verdict}});
    out += Json{{"workstation", r.workstationId},
                {"run", r.runId},
                {"entry", r.seq},
                {"cancelled", r.cancelled},
                {"kind", r.kind},
                {"tag", r.tag},
                {"started", localTimeText(r.startedAtMs, r.utcOffsetMin)},
                {"madeBy", r.workstation},
                {"devices", devices}}
               .dump() +
           "\n";
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return kOk;
}

namespace {

// The server and the workstation a read of one workstation's runs names.
std::pair<history::ServerOptions, std::string> readOptions(const std::vector<std::string>& serverArgs,
                                                           const char* command) {
  ServerArgs s;
  std::vector<std::string> args{command};
  args.insert(args.end(), serverArgs.begin(), serverArgs.end());
  for (size_t i = 1; i < args.size(); ++i)
    if (!takeServerArg(args, i, s)) throw Failure{kFailure, "unknown argument: " + args[i]};
  if (s.workstation.empty())
    throw Failure{kFailure, std::string(command) +
                                " --server names a run by its workstation: give --workstation ID (the "
                                "\"workstation\" of list --server)"};
  const std::string workstation = s.workstation;
  return {serverOptions(s), workstation};
}

}  // namespace

int historyShowServer(const std::vector<std::string>& serverArgs, int64_t run) {
  const auto [options, workstation] = readOptions(serverArgs, "show");
  emit(storedRunJson(valueOrFail(history::showServer(options, workstation, run))));
  return kOk;
}

int historyPairServer(const std::vector<std::string>& serverArgs, const std::string& serial) {
  const auto [options, workstation] = readOptions(serverArgs, "pair");
  emit(pairJson(valueOrFail(history::pairServer(options, workstation, serial))));
  return kOk;
}

int historyReportServer(const std::vector<std::string>& serverArgs, int64_t run,
                        const std::string& reportPath, const std::string& templatePath) {
  const auto [options, workstation] = readOptions(serverArgs, "report");
  return reportOfStoredRun(
      valueOrFail(history::showServer(options, workstation, run)),
      [&options, &workstation](int64_t id) { return history::calibrationServer(options, workstation, id); },
      reportPath, templatePath);
}

}  // namespace cli

#else  // built without libpq

#include "history_server_cli.h"
#include "session.h"

namespace cli {

namespace {
[[noreturn]] void noServer() {
  throw Failure{kFailure, "this quarn-cli was built without libpq (libpq-dev): no history server"};
}

}  // namespace

int historySync(const std::vector<std::string>&) { noServer(); }
int historyCheckServer(const std::vector<std::string>&) { noServer(); }
int historyListServer(const std::vector<std::string>&, const quarn::history::ListFilter&) { noServer(); }
int historyShowServer(const std::vector<std::string>&, int64_t) { noServer(); }
int historyPairServer(const std::vector<std::string>&, const std::string&) { noServer(); }
int historyReportServer(const std::vector<std::string>&, int64_t, const std::string&, const std::string&) {
  noServer();
}

}  // namespace cli

#endif
