// Fills a history file with N sample runs (four devices of nine points each, the large history of
// bench_history), for the scale benchmark: `history_fill FILE N`. An existing file is taken as it is
// when it already holds N entries, so repeated benchmark runs reuse it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HistoryStore.h"
#include "sample_run.h"

using namespace quarn::history;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: history_fill FILE RUNS\n");
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
  const int sets = static_cast<int>(runs / 16) | 1;
  const Result<std::vector<RunSummary>> newest = store.list([] {
    ListFilter f;
    f.limit = 1;
    f.includeCancelled = true;
    return f;
  }());
  long have = newest && !newest->empty() ? static_cast<long>(newest->front().runId) : 0;
  for (long i = have; i < runs; ++i) {
    RunRecord r = test::sampleRun("D" + std::to_string(i % sets), test::kMorning + i * 60000, 4, 9);
    r.tag = i % 2 ? RunTag::AsLeft : RunTag::AsFound;
    const Result<int64_t> id = store.addRun(r);
    if (!id) {
      std::fprintf(stderr, "history_fill: %s\n", id.error().message.c_str());
      return 1;
    }
  }
  return 0;
}
