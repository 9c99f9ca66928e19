// The run history: one SQLite database file per workstation that keeps every finished run, the
// adjustments made between runs, and corrections and cancellations as entries of their own. Entries
// are never changed or deleted; each carries a SHA-256 chained to the one before, so an edit made
// outside the program is found by check(). Every write is one transaction (WAL): an interrupted
// write loses at most the entry being written.
//
// Every operation returns a Result: ok with a value, or an Error whose message (UTF-8, for the
// operator) names the file and the reason. Nothing throws.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HistoryRecord.h"

struct sqlite3;

namespace quarn::history {

namespace detail {
class Statement;
}

inline constexpr int kSchemaVersion = 1;

struct OpenOptions {
  bool readOnly = false;  // queries and check only
  // Each entry reaches the disk before the write returns (synchronous FULL). Off (NORMAL) keeps the
  // file consistent after a crash of the program but may lose the last entries on a power cut; for
  // bulk loads only.
  bool durable = true;
  int busyTimeoutMs = 5000;  // how long a write waits for another program's lock
  std::string vfs;           // SQLite VFS name; empty for the default
  // Milliseconds since 1970 UTC for the entries' recorded_at; the system clock when empty.
  std::function<int64_t()> clock;
};

class HistoryStore {
 public:
  // Opens the history at `path`, creating the file and its schema when it does not exist or is empty
  // (not in read-only mode). Refuses a file that is not an SQLite database, a database of another
  // program (which is left untouched), a newer schema and a damaged file. A file that cannot be
  // written opens for reading; writes then report ReadOnly.
  static Result<std::unique_ptr<HistoryStore>> open(const std::string& path, OpenOptions options = {});
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  const std::string& path() const { return path_; }
  bool readOnly() const { return readOnly_; }

  // Stores a finished run; returns its run id (the entry number).
  Result<int64_t> addRun(const RunRecord& run);
  // A new entry with the corrected content of a run (a correction of a correction corrects the same
  // run). The run keeps its id; queries show the latest content. Returns the entry number.
  Result<int64_t> addCorrection(int64_t runId, const RunRecord& corrected, const std::string& reason);
  // Marks a run cancelled: it stays in the history, queries leave it out unless asked.
  Result<int64_t> addCancellation(int64_t runId, const std::string& reason);
  // Records a trim or another change of a device between runs.
  Result<int64_t> addAdjustment(const Adjustment& adjustment);

  // Runs matching the filter, newest first, with their current content.
  Result<std::vector<RunSummary>> list(const ListFilter& filter = {});
  // One run (an entry number of one of its corrections finds the run too).
  Result<StoredRun> show(int64_t runId);
  // The latest as-left run of a device serial and the latest as-found run before it, with the change
  // of the reduced error per point. Without an as-left run, the latest as-found run alone. NotFound
  // when the serial has no run.
  Result<RunPair> pair(const std::string& serial);
  // The tag offered for a new run: as-left when one of its devices had an as-found run earlier on the
  // same day (in the workstation's local time) and since then a calibration run or an adjustment of
  // that device; as-found otherwise.
  Result<TagOffer> offerTag(const RunRecord& newRun);

  // Walks the hash chain from the first entry and names the first entry that is wrong: content
  // changed, an entry missing (deleted), out of order, rows that belong to no entry, or the last
  // entries gone. A database with damaged pages is an error (Damaged).
  Result<ChainCheck> check();

 private:
  HistoryStore(sqlite3* db, std::string path, OpenOptions options);
  Error sqliteError(int rc, const std::string& what) const;
  Result<bool> initialise();
  detail::Statement& stmt(const char* sql);
  int exec(const char* sql);
  int64_t now() const;

  struct EntryRow;
  Result<int64_t> append(EntryRow& entry, const RunRecord* run, const Adjustment* adjustment,
                         const std::function<Error(EntryRow&)>& resolve);
  int insertRun(int64_t seq, const RunRecord& run);
  int insertAdjustment(int64_t seq, const Adjustment& a);
  // Reads the content stored under an entry; `foreign` is set when a value is not of the stored form.
  int readRun(int64_t seq, RunRecord& run, bool& foreign);
  int readAdjustment(int64_t seq, Adjustment& a, bool& found, bool& foreign);
  Result<std::vector<RunSummary>> query(const ListFilter& filter, bool withDevices);
  Result<StoredRun> load(int64_t runId);
  Result<std::vector<Adjustment>> adjustmentsOf(const std::string& serial);

  sqlite3* db_ = nullptr;
  std::string path_;
  OpenOptions options_;
  bool readOnly_ = false;
  bool empty_ = false;  // read-only open of a file without a schema: an empty history
  std::map<const char*, std::unique_ptr<detail::Statement>> statements_;
};

// Local calendar day number of a moment (days since 1970-01-01 in the given offset from UTC).
int64_t localDay(int64_t msUtc, int utcOffsetMin);

}  // namespace quarn::history
