// Random bytes as a history file, opened in memory: every read the hosts make (list, show, pair, the
// record a protocol is made from, the full check) either works or says why; none crashes, and a check
// that fails always names its problem.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "HistoryStore.h"
#include "RunBuilder.h"
#include "TDev.h"

using namespace quarn::history;

// Every input is a new connection: SQLite's per-connection lookaside buffer and its memory statistics
// (a mutex on every allocation) would be set up and torn down each time, for nothing here.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sqlite3_config(SQLITE_CONFIG_LOOKASIDE, 0, 0);
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  OpenOptions options;
  options.image = std::string_view(reinterpret_cast<const char*>(data), size);
  auto opened = HistoryStore::open("fuzz.db", std::move(options));
  if (!opened) return 0;
  HistoryStore& store = *opened.value();

  // The newest runs as a host lists them, then the first of them as a host shows it, pairs its first
  // device and makes its protocol's record.
  ListFilter all;
  all.includeCancelled = true;
  all.limit = 4;
  const Result<std::vector<RunSummary>> runs = store.list(all);
  if (runs && !runs->empty()) {
    const RunSummary& first = runs->front();
    const Result<StoredRun> shown = store.show(first.runId);
    if (shown) {
      static TDev dev;
      std::memset(&dev, 0, sizeof dev);
      runRecordToDev(shown->record, dev);
    }
    if (!first.devices.empty()) (void)store.pair(first.devices.front().serial);
  }
  const Result<ChainCheck> check = store.check();
  // A check that passes names nothing bad; one that fails names a problem.
  if (check && check->ok != check->problem.empty()) std::abort();
  return 0;
}
