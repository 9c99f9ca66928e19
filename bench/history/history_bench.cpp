// The run history: storing a 4 x 199-point run (each entry synced to the disk, and without the sync),
// the file's size per run, and list / pair / check over a history of many runs (10 000 unless
// QUARN_HISTORY_BENCH_RUNS says otherwise; a typical run has four channels of nine points).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "HistoryStore.h"
#include "sample_run.h"

namespace {

using namespace quarn::history;
namespace fs = std::filesystem;

constexpr int64_t kStart = test::kMorning;

// A run of four devices with serials base-1 .. base-4, as-found or as-left by turns.
RunRecord makeRun(int64_t i, int points, const std::string& serialBase) {
  RunRecord r = test::sampleRun(serialBase, kStart + i * 60000, 4, points);
  r.tag = i % 2 ? RunTag::AsLeft : RunTag::AsFound;
  return r;
}

std::string tempFile(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() / ("quarn_history_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path p = dir / name;
  for (const char* tail : {"", "-wal", "-shm"}) fs::remove(p.string() + tail);
  return p.string();
}

std::unique_ptr<HistoryStore> openOrSkip(benchmark::State& state, const std::string& path,
                                         bool durable = true) {
  OpenOptions options;
  options.durable = durable;
  Result<std::unique_ptr<HistoryStore>> r = HistoryStore::open(path, options);
  if (!r.ok()) {
    state.SkipWithError(r.error().message.c_str());
    return nullptr;
  }
  return std::move(r.value());
}

void BM_StoreRun4x199(benchmark::State& state) {
  const bool durable = state.range(0) != 0;
  auto store = openOrSkip(state, tempFile(durable ? "store_durable.db" : "store_normal.db"), durable);
  if (!store) return;
  const RunRecord run = makeRun(0, 199, "S");
  for (auto _ : state) {
    const Result<int64_t> id = store->addRun(run);
    if (!id.ok()) {
      state.SkipWithError(id.error().message.c_str());
      break;
    }
  }
  state.SetLabel(durable ? "synced (FULL)" : "not synced (NORMAL)");
}
BENCHMARK(BM_StoreRun4x199)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// File size per run once the write-ahead log is folded in: runs of 4 x N points.
void BM_SizePerRun(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  constexpr int kRuns = 50;
  double bytesPerRun = 0;
  for (auto _ : state) {
    const std::string path = tempFile("size.db");
    if (!openOrSkip(state, path, false)) return;
    const auto empty = static_cast<double>(fs::file_size(path));
    {
      auto store = openOrSkip(state, path, false);
      for (int i = 0; i < kRuns; ++i) store->addRun(makeRun(i, points, "S" + std::to_string(i)));
    }
    bytesPerRun = (static_cast<double>(fs::file_size(path)) - empty) / kRuns;
  }
  state.counters["bytes_per_run"] = bytesPerRun;
}
BENCHMARK(BM_SizePerRun)->Arg(199)->Arg(9)->Unit(benchmark::kMillisecond)->Iterations(1);

// The shared large history: runs of four devices each, every set of four serials in about 16 runs
// (2500 serials in 10 000 runs); an odd number of sets makes a set's runs alternately as-found and
// as-left.
int manyRuns() {
  const char* env = std::getenv("QUARN_HISTORY_BENCH_RUNS");
  const int n = env ? std::atoi(env) : 10000;
  return n > 0 ? n : 10000;
}

std::string serialsOf(int64_t i) {
  static const int sets = (manyRuns() / 16) | 1;
  return "D" + std::to_string(i % sets);
}

std::unique_ptr<HistoryStore> large;  // closed in main before its folder goes

HistoryStore* largeHistory(benchmark::State& state) {
  std::unique_ptr<HistoryStore>& store = large;
  static std::string failure;
  if (!store && failure.empty()) {
    const std::string path = tempFile("large.db");
    auto s = openOrSkip(state, path, false);
    if (!s) return nullptr;
    const int n = manyRuns();
    for (int64_t i = 0; i < n && failure.empty(); ++i) {
      const Result<int64_t> id = s->addRun(makeRun(i, 9, serialsOf(i)));
      if (!id.ok()) failure = id.error().message;
    }
    store = std::move(s);
  }
  if (!failure.empty()) state.SkipWithError(failure.c_str());
  return failure.empty() ? store.get() : nullptr;
}

void BM_ListAll(benchmark::State& state) {
  HistoryStore* store = largeHistory(state);
  if (!store) return;
  size_t rows = 0;
  for (auto _ : state) rows = store->list()->size();
  state.counters["runs"] = static_cast<double>(rows);
}
BENCHMARK(BM_ListAll)->Unit(benchmark::kMillisecond);

void BM_ListNewest50(benchmark::State& state) {
  HistoryStore* store = largeHistory(state);
  if (!store) return;
  ListFilter f;
  f.limit = 50;
  for (auto _ : state) benchmark::DoNotOptimize(store->list(f)->size());
}
BENCHMARK(BM_ListNewest50)->Unit(benchmark::kMillisecond);

void BM_ListBySerial(benchmark::State& state) {
  HistoryStore* store = largeHistory(state);
  if (!store) return;
  ListFilter f;
  int64_t i = 0;
  size_t rows = 0;
  for (auto _ : state) {
    f.serial = serialsOf(i++ * 7) + "-2";
    rows = store->list(f)->size();
  }
  state.counters["runs_per_serial"] = static_cast<double>(rows);
}
BENCHMARK(BM_ListBySerial)->Unit(benchmark::kMicrosecond);

void BM_ListByDeviceNameSince(benchmark::State& state) {
  HistoryStore* store = largeHistory(state);
  if (!store) return;
  ListFilter f;
  f.deviceName = "давления";
  f.since = kStart + static_cast<int64_t>(manyRuns() - 100) * 60000;  // the last 100 runs
  for (auto _ : state) benchmark::DoNotOptimize(store->list(f)->size());
}
BENCHMARK(BM_ListByDeviceNameSince)->Unit(benchmark::kMillisecond);

void BM_Pair(benchmark::State& state) {
  HistoryStore* store = largeHistory(state);
  if (!store) return;
  int64_t i = 0;
  for (auto _ : state) {
    const Result<RunPair> pair = store->pair(serialsOf(i++ * 7) + "-3");
    if (!pair.ok() || !pair->asLeft || !pair->asFound) {
      state.SkipWithError("no pair");
      break;
    }
  }
}
BENCHMARK(BM_Pair)->Unit(benchmark::kMicrosecond);

// The check a read makes before it shows a run, once an earlier read found the chain intact: the run's
// entries recomputed and linked to that position. The newest run (what a host shows after a run) and
// the oldest (the links of the whole chain walked); show() is that check and the run's reading.
void BM_ReadCheckNewestRun(benchmark::State& state) {
  HistoryStore* store = largeHistory(state);
  if (!store || !store->checkForRead().ok()) return;
  const int64_t last = static_cast<int64_t>(manyRuns());
  for (auto _ : state)
    if (!store->checkForRead({last}).ok()) state.SkipWithError("read check failed");
}
BENCHMARK(BM_ReadCheckNewestRun)->Unit(benchmark::kMicrosecond);

void BM_ReadCheckOldestRun(benchmark::State& state) {
  HistoryStore* store = largeHistory(state);
  if (!store || !store->checkForRead().ok()) return;
  for (auto _ : state)
    if (!store->checkForRead({1}).ok()) state.SkipWithError("read check failed");
}
BENCHMARK(BM_ReadCheckOldestRun)->Unit(benchmark::kMicrosecond);

void BM_ShowNewestRun(benchmark::State& state) {
  HistoryStore* store = largeHistory(state);
  if (!store) return;
  const int64_t last = static_cast<int64_t>(manyRuns());
  for (auto _ : state)
    if (!store->show(last).ok()) state.SkipWithError("show failed");
}
BENCHMARK(BM_ShowNewestRun)->Unit(benchmark::kMicrosecond);

void BM_CheckChain(benchmark::State& state) {
  HistoryStore* store = largeHistory(state);
  if (!store) return;
  for (auto _ : state) {
    const Result<ChainCheck> check = store->check();
    if (!check.ok() || !check->ok) {
      state.SkipWithError("chain check failed");
      break;
    }
  }
}
BENCHMARK(BM_CheckChain)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  large.reset();
  std::error_code ec;
  fs::remove_all(fs::temp_directory_path() / ("quarn_history_bench_" + std::to_string(::getpid())), ec);
  return 0;
}
