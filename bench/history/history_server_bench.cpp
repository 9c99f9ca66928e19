// The run history and a lab's PostgreSQL server: a push of a whole history of runs (four devices ×
// nine points) into an empty server, in runs per second; and the lab's list over many workstations'
// runs (the newest 50, one serial), beside the same lists from a local SQLite history of as many runs;
// and one workstation's run and pair read with its chain checked (what show and pair --server do).
//
// The server is the throw-away cluster of scripts/pg-test-cluster.sh, named by the state file in
// QUARN_TEST_PG_STATE (ctest's fixture sets it; by hand: `scripts/pg-test-cluster.sh start S`, then
// QUARN_TEST_PG_STATE=S). QUARN_HISTORY_SERVER_BENCH_RUNS runs per workstation (10 000) and
// QUARN_HISTORY_SERVER_BENCH_WORKSTATIONS workstations (10) size it. Without a server nothing is
// measured and the program says why.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "HistoryServer.h"
#include "HistoryStore.h"
#include "history_server_fixture.h"
#include "sample_run.h"

namespace {

using namespace quarn::history;
namespace fs = std::filesystem;

int envNumber(const char* name, int fallback) {
  const char* env = std::getenv(name);
  const int n = env ? std::atoi(env) : fallback;
  return n > 0 ? n : fallback;
}

int runsPerWorkstation() { return envNumber("QUARN_HISTORY_SERVER_BENCH_RUNS", 10000); }
int workstations() { return envNumber("QUARN_HISTORY_SERVER_BENCH_WORKSTATIONS", 10); }

// 16 runs of a workstation per serial set, as the local benchmark: serials D<k>-1 .. D<k>-4 (a local
// history of many workstations' runs takes the same sets, so both lists find as many runs).
std::string serialsOf(int64_t i, int runs) { return "D" + std::to_string(i % ((runs / 16) | 1)); }

const fs::path& folder() {
  static const fs::path dir =
      fs::temp_directory_path() / ("quarn_history_server_bench_" + std::to_string(::getpid()));
  return dir;
}

// A local history of `runs` runs of four devices × nine points (written without syncing each entry).
std::string makeHistory(const std::string& name, int runs, std::string& failure) {
  fs::create_directories(folder());
  const std::string path = (folder() / name).string();
  OpenOptions o;
  o.durable = false;
  Result<std::unique_ptr<HistoryStore>> s = HistoryStore::open(path, o);
  if (!s.ok()) {
    failure = s.error().message;
    return path;
  }
  for (int64_t i = 0; i < runs && failure.empty(); ++i) {
    RunRecord r = test::sampleRun(serialsOf(i, runsPerWorkstation()), test::kMorning + i * 60000, 4, 9);
    r.tag = i % 2 ? RunTag::AsLeft : RunTag::AsFound;
    if (Result<int64_t> id = s.value()->addRun(r); !id.ok()) failure = id.error().message;
  }
  return path;
}

struct Setup {
  test::ServerDatabase server;
  std::string history;  // runsPerWorkstation() runs
  std::string failure;
  bool filled = false;  // the lab's server holds workstations() copies of the history
};

Setup& setup() {
  static Setup s = [] {
    Setup out;
    out.server.cluster = test::cluster();
    out.server.name = "bench_history_" + std::to_string(::getpid());
    if (!out.server.cluster.skip.empty()) {
      out.failure = out.server.cluster.skip;
      return out;
    }
    out.failure = out.server.create();
    if (out.failure.empty()) out.history = makeHistory("runs.db", runsPerWorkstation(), out.failure);
    return out;
  }();
  return s;
}

ServerOptions serverOptions(const std::string& workstation) {
  ServerOptions o;
  o.uri = setup().server.uri();
  o.workstationId = workstation;
  o.anchorFolder = (folder() / "anchors").string();
  return o;
}

bool push(const std::string& workstation, std::string& failure) {
  OpenOptions o;
  o.readOnly = true;
  Result<std::unique_ptr<HistoryStore>> local = HistoryStore::open(setup().history, o);
  if (!local.ok()) {
    failure = local.error().message;
    return false;
  }
  const Result<SyncResult> r = syncToServer(*local.value(), serverOptions(workstation));
  if (!r.ok()) failure = r.error().message;
  return r.ok();
}

void BM_SyncRuns4x9(benchmark::State& state) {
  Setup& s = setup();
  if (!s.failure.empty()) {
    state.SkipWithError(s.failure.c_str());
    return;
  }
  static int pushes = 0;
  for (auto _ : state) {
    std::string failure;
    // A workstation the server has not seen: every run goes.
    if (!push("sync-" + std::to_string(pushes++), failure)) {
      state.SkipWithError(failure.c_str());
      break;
    }
  }
  state.counters["runs"] = runsPerWorkstation();
  state.counters["runs_per_s"] =
      benchmark::Counter(runsPerWorkstation(), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SyncRuns4x9)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The server with workstations() workstations of runsPerWorkstation() runs each.
bool labServer(benchmark::State& state) {
  Setup& s = setup();
  if (s.failure.empty() && !s.filled) {
    for (int w = 0; w < workstations() && s.failure.empty(); ++w) push("lab-" + std::to_string(w), s.failure);
    s.filled = s.failure.empty();
  }
  if (!s.failure.empty()) state.SkipWithError(s.failure.c_str());
  return s.failure.empty();
}

void BM_ServerListNewest50(benchmark::State& state) {
  if (!labServer(state)) return;
  ServerListFilter f;
  f.limit = 50;
  for (auto _ : state) {
    Result<std::vector<ServerRun>> r = listServer(serverOptions("lab-0"), f);
    if (!r.ok() || r->size() != 50) {
      state.SkipWithError(r.ok() ? "not 50 runs" : r.error().message.c_str());
      break;
    }
  }
  test::Admin admin(setup().server.conninfo(setup().server.name, setup().server.cluster.superuser));
  state.counters["runs_on_server"] =
      std::atof(admin.value("SELECT count(*) FROM entry WHERE kind = 'run'").c_str());
}
BENCHMARK(BM_ServerListNewest50)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ServerListBySerial(benchmark::State& state) {
  if (!labServer(state)) return;
  ServerListFilter f;
  f.serial = "D7-2";
  std::size_t rows = 0;
  for (auto _ : state) {
    Result<std::vector<ServerRun>> r = listServer(serverOptions("lab-0"), f);
    if (!r.ok()) {
      state.SkipWithError(r.error().message.c_str());
      break;
    }
    rows = r->size();
  }
  state.counters["runs_per_serial"] = static_cast<double>(rows);
}
BENCHMARK(BM_ServerListBySerial)->Unit(benchmark::kMillisecond)->UseRealTime();

// The connection alone (what every server list above includes): connect, authenticate, schema.
void BM_ServerConnectOnly(benchmark::State& state) {
  if (!labServer(state)) return;
  ServerListFilter f;
  f.serial = "no such serial";
  for (auto _ : state) {
    Result<std::vector<ServerRun>> r = listServer(serverOptions("lab-0"), f);
    if (!r.ok()) {
      state.SkipWithError(r.error().message.c_str());
      break;
    }
  }
}
BENCHMARK(BM_ServerConnectOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// One workstation's run read from the server as `history show --server` reads it: the links of every
// entry of the workstation checked from entry 1 to the head, the run's own entries recomputed and
// decoded. The newest run (range 0) and the first (1): the walk of the links is the same length.
void BM_ServerShow(benchmark::State& state) {
  if (!labServer(state)) return;
  test::Admin admin(setup().server.conninfo(setup().server.name, setup().server.cluster.superuser));
  const int64_t run =
      state.range(0) == 0
          ? std::atoll(
                admin.value("SELECT max(seq) FROM entry WHERE workstation_id = 'lab-0' AND kind = 'run'")
                    .c_str())
          : 1;
  for (auto _ : state) {
    Result<StoredRun> r = showServer(serverOptions("lab-0"), "lab-0", run);
    if (!r.ok()) {
      state.SkipWithError(r.error().message.c_str());
      break;
    }
  }
  state.counters["entries_of_workstation"] = runsPerWorkstation();
}
BENCHMARK(BM_ServerShow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ServerPair(benchmark::State& state) {
  if (!labServer(state)) return;
  for (auto _ : state) {
    Result<RunPair> r = pairServer(serverOptions("lab-0"), "lab-0", "D7-2");
    if (!r.ok()) {
      state.SkipWithError(r.error().message.c_str());
      break;
    }
  }
}
BENCHMARK(BM_ServerPair)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same lists from one local history of as many runs as the server holds.
std::unique_ptr<HistoryStore> localLarge;

HistoryStore* localHistory(benchmark::State& state) {
  static std::string failure;
  if (!localLarge && failure.empty()) {
    const std::string path = makeHistory("local.db", runsPerWorkstation() * workstations(), failure);
    if (failure.empty()) {
      Result<std::unique_ptr<HistoryStore>> s = HistoryStore::open(path);
      // The first read walks the whole chain once (the check every read makes, then kept); the lists
      // measured are the reads after it, as on a workstation that has read its history before.
      if (s.ok() && s.value()->checkForRead().ok())
        localLarge = std::move(s.value());
      else
        failure = s.ok() ? "the local history does not check" : s.error().message;
    }
  }
  if (!failure.empty()) state.SkipWithError(failure.c_str());
  return localLarge.get();
}

void BM_LocalListNewest50(benchmark::State& state) {
  HistoryStore* store = localHistory(state);
  if (!store) return;
  ListFilter f;
  f.limit = 50;
  for (auto _ : state) benchmark::DoNotOptimize(store->list(f));
  state.counters["runs_local"] = static_cast<double>(runsPerWorkstation()) * workstations();
}
BENCHMARK(BM_LocalListNewest50)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LocalListBySerial(benchmark::State& state) {
  HistoryStore* store = localHistory(state);
  if (!store) return;
  ListFilter f;
  f.serial = "D7-2";
  std::size_t rows = 0;
  for (auto _ : state) {
    Result<std::vector<RunSummary>> r = store->list(f);
    rows = r.ok() ? r->size() : 0;
  }
  state.counters["runs_per_serial"] = static_cast<double>(rows);
}
BENCHMARK(BM_LocalListBySerial)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const test::Cluster cluster = test::cluster();
  if (!cluster.skip.empty()) {
    std::printf("bench_history_server: nothing measured: %s\n", cluster.skip.c_str());
    return 0;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  localLarge.reset();
  if (setup().failure.empty() || !setup().server.name.empty()) setup().server.drop();
  std::error_code ec;
  fs::remove_all(folder(), ec);
  return 0;
}
