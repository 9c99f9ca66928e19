// Fills a history file with N sample runs (four devices of nine points each, the large history of
// bench_history), for the scale benchmark: `history_fill FILE N`. An existing file is taken as it is
// when it already holds N entries, so repeated benchmark runs reuse it. With --every-kind the runs are
// followed by one entry of each other kind (a relay check, an adjustment, a correction and a
// cancellation), as the fuzz seeds need. QUARN_HISTORY_FILL_SHAPE=DxP makes runs of D devices of P
// points instead.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HistoryStore.h"
#include "sample_run.h"

using namespace quarn::history;

int main(int argc, char** argv) {
  const bool everyKind = argc == 4 && std::string(argv[3]) == "--every-kind";
  if (argc != 3 && !everyKind) {
    std::fprintf(stderr, "usage: history_fill FILE RUNS [--every-kind]\n");
    return 2;
  }
  const std::string path = argv[1];
  const long runs = std::atol(argv[2]);
  if (runs < 1) {
    std::fprintf(stderr, "history_fill: RUNS must be a positive number\n");
    return 2;
  }
  OpenOptions options;
  options.durable = false;
  auto opened = HistoryStore::open(path, options);
  if (!opened) {
    std::fprintf(stderr, "history_fill: %s\n", opened.error().message.c_str());
    return 1;
  }
  HistoryStore& store = *opened.value();
  int devices = 4, points = 9;
  if (const char* shape = std::getenv("QUARN_HISTORY_FILL_SHAPE"))
    if (std::sscanf(shape, "%dx%d", &devices, &points) != 2 || devices < 1 || devices > 4 || points < 0 ||
        points > 199) {
      std::fprintf(stderr, "history_fill: QUARN_HISTORY_FILL_SHAPE is DxP, 1..4 devices of 0..199 points\n");
      return 2;
    }
  const int sets = static_cast<int>(runs / 16) | 1;
  const Result<std::vector<RunSummary>> newest = store.list([] {
    ListFilter f;
    f.limit = 1;
    f.includeCancelled = true;
    return f;
  }());
  long have = newest && !newest->empty() ? static_cast<long>(newest->front().runId) : 0;
  for (long i = have; i < runs; ++i) {
    RunRecord r =
        test::sampleRun("D" + std::to_string(i % sets), test::kMorning + i * 60000, devices, points);
    r.tag = i % 2 ? RunTag::AsLeft : RunTag::AsFound;
    const Result<int64_t> id = store.addRun(r);
    if (!id) {
      std::fprintf(stderr, "history_fill: %s\n", id.error().message.c_str());
      return 1;
    }
  }
  if (everyKind) {
    RunRecord relay = test::sampleRun("RL", test::kMorning + runs * 60000, 2, 0);
    relay.kind = RunKind::RelayCheck;
    relay.relays = {{1, 1, true, 300, 10, 1, 296.5f, 290.25f}, {2, 2, true, 150, 5, 0, NAN, 148.5f}};
    Adjustment trim;
    trim.atMs = test::kMorning + runs * 60000 + 1000;
    trim.channel = 1;
    trim.serial = "D0-1";
    trim.deviceName = "Датчик давления";
    const Actor by{"стенд-2", "Петров П. П."};
    RunRecord fixed = test::sampleRun("D0", test::kMorning, devices, points);
    fixed.conditions.temperature = "22.0";
    for (const Result<int64_t>& r :
         {store.addRun(relay), store.addAdjustment(trim), store.addCorrection(1, fixed, "температура", by),
          store.addCancellation(2, "запущен по ошибке", by)})
      if (!r) {
        std::fprintf(stderr, "history_fill: %s\n", r.error().message.c_str());
        return 1;
      }
  }
  return 0;
}
