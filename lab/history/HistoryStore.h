// The run history: one SQLite database file per workstation that keeps every finished run, the
// adjustments made between runs, and corrections and cancellations as entries of their own. Entries
// are never changed or deleted; each carries a SHA-256 chained to the one before, so an edit made
// outside the program is found by check(). Every write is one transaction (WAL): an interrupted
// write loses at most the entry being written.
//
// Every read that shows a stored run checks the chain up to that run first and refuses a history that
// was changed outside the program, naming the first bad entry; the check is incremental (the last
// position found intact is kept by its hash), so a read stays fast. The chain is also compared with
// anchors kept outside the file: the head the workstation remembers writing, the entries printed
// protocols name, a server's acknowledged head.
//
// Every operation returns a Result: ok with a value, or an Error whose message (UTF-8, for the
// operator) names the file and the reason. Nothing throws.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HistoryRecord.h"

struct sqlite3;

namespace quarn::history {

namespace detail {
class Statement;
}

// Schema 2 adds the operator who made an entry; a history of schema 1 is read as it is and takes
// schema 2 with its first new entry.
inline constexpr int kSchemaVersion = 2;

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
  // The folder where this program keeps, apart from the history, the head it last wrote into each
  // history it anchors and the last position a read found intact (anchorsFileName and
  // checkedFileName there). Empty: neither is kept or compared, and every read checks from the
  // first entry.
  std::string anchorFolder;
  // Remember this history's head in anchorFolder at every write (the hosts do so for the default
  // history). Once remembered, a history whose head is behind it or differs is refused for reading
  // and writing, and a missing or empty file is not made anew.
  bool keepHead = false;
  // Further anchors every check and read compares (a lab server's acknowledged head).
  std::vector<Anchor> anchors;
  // A database image to open in memory instead of a file (read-only; `path` only names it in the
  // messages): a history handed over as bytes, without the file system. The bytes are used where
  // they are and must outlive the store.
  std::optional<std::string_view> image;
};

inline constexpr const char* kAnchorsFileName = "history-heads";
inline constexpr const char* kCheckedFileName = "history-checked";

// The folder the hosts keep anchors in: $XDG_CONFIG_HOME/quarn, else ~/.config/quarn; empty when
// neither is known.
std::string defaultAnchorFolder();

// What `backup` wrote.
struct BackupResult {
  std::string path;
  int64_t entries = 0;  // the copy's last entry
  std::string headHash;
  ChainCheck check;  // the copy checked after it was written
};

// One run of list(), streamed: called once per run, newest first; the summary is reused between
// calls. Returning false ends the listing.
using RunSink = std::function<bool(const RunSummary&)>;

struct EntryHeader;

// One entry as the chain holds it, handed to a copy of the history elsewhere (a lab server): its
// header, its link and hash, the exact bytes the hash covers, and for a run or correction the run's
// scalar fields (`run`, its lists left empty) and devices (each without its points).
struct ChainEntry {
  const EntryHeader* header = nullptr;
  std::string_view prevHash;
  std::string_view hash;
  std::string_view canonical;
  const RunRecord* run = nullptr;
  const DeviceResult* devices = nullptr;
  std::size_t deviceCount = 0;
};
// Called once per entry, in order; returning false ends the walk.
using EntrySink = std::function<bool(const ChainEntry&)>;

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
  // run), made by `by` (workstation and operator, both required). The run keeps its id; queries show
  // the latest content. Returns the entry number.
  Result<int64_t> addCorrection(int64_t runId, const RunRecord& corrected, const std::string& reason,
                                const Actor& by);
  // Marks a run cancelled by `by`: it stays in the history, queries leave it out unless asked.
  Result<int64_t> addCancellation(int64_t runId, const std::string& reason, const Actor& by);
  // Records a trim or another change of a device between runs.
  Result<int64_t> addAdjustment(const Adjustment& adjustment);
  // The hash of the entry this store wrote last (empty before one): what a protocol of that run names.
  const std::string& lastWrittenHash() const { return lastWrittenHash_; }

  // Runs matching the filter, newest first, with their current content, after the read's check.
  Result<std::vector<RunSummary>> list(const ListFilter& filter = {});
  // The same streamed into `sink`, in one read transaction; memory does not grow with the history.
  // Returns the number of runs passed.
  Result<int64_t> list(const ListFilter& filter, const RunSink& sink);
  // One run (an entry number of one of its corrections finds the run too).
  Result<StoredRun> show(int64_t runId);
  // The latest as-left run of a device serial and the latest as-found run before it, with the change
  // of the reduced error per point. Without an as-left run, the latest as-found run alone. NotFound
  // when the serial has no run.
  Result<RunPair> pair(const std::string& serial);
  // The calibration a run ends: for an as-left run the run of its first device (with a serial number)
  // just before it, when that is an as-found run and not cancelled, and the adjustments of its devices
  // from that run's start to its own; an as-found run alone. Every run the choice looked at is checked
  // first.
  Result<StoredCalibration> calibrationOf(int64_t runId);
  // The tag offered for a new run: as-left when one of its devices had an as-found run earlier on the
  // same day (in the workstation's local time) and since then a calibration run or an adjustment of
  // that device; as-found otherwise.
  Result<TagOffer> offerTag(const RunRecord& newRun);

  // The entries after `from` (0: from the first), in order, each passed on only after its hash was
  // recomputed from what the file holds; in one read transaction that first makes the read's check
  // (the guards, the anchors, the entries not checked before). Returns the number of entries passed.
  // ChainBroken when the history does not hold, NotFound when it has no entry `from`.
  Result<int64_t> entriesAfter(int64_t from, const EntrySink& sink);

  // The full check, in one read transaction: SQLite's integrity check (a damaged page or an index
  // that no longer matches its table is an error, Damaged, naming the page or the index), SQLite's
  // guards against changes present, then the hash chain from the first entry, naming the first entry
  // that is wrong: content changed, an entry missing (deleted), out of order, rows that belong to no
  // entry, the last entries gone; then the anchors (kept in anchorFolder, the options' own and
  // `more`, e.g. printed protocols).
  Result<ChainCheck> check(const std::vector<Anchor>& more = {});
  // The check a read makes before it shows anything: the guards and the anchors, every entry after
  // the last position found intact, and (given) the entries a read is about to show, recomputed.
  // Fails (ChainBroken) when the chain does not hold; the findings are in lastReadCheck().
  Result<ChainCheck> checkForRead(const std::vector<int64_t>& shown = {});
  // What the last read's check found (entries walked, from where; the anchors).
  const ChainCheck& lastReadCheck() const { return lastReadCheck_; }

  // A consistent copy of the whole history at this moment (SQLite's online backup: other programs
  // may write meanwhile) into `outPath`, which must not exist; the copy appears there only when
  // complete, and is checked.
  Result<BackupResult> backup(const std::string& outPath);

 private:
  friend class ChainWalker;
  friend class ReadTransaction;
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
  Result<int64_t> stream(const ListFilter& filter, bool withDevices, const RunSink& sink);
  Result<StoredRun> load(int64_t runId);
  // The entries that make up what show() prints of a run: the run's own, its corrections and
  // cancellations.
  Result<std::vector<int64_t>> entriesOf(int64_t runId);
  Result<StoredRun> showChecked(int64_t runId);
  // The check, walking from the entry after `from` (0: the first) with `prevHash` as the previous
  // hash; `full` adds SQLite's integrity check and the rows that belong to no entry.
  Result<ChainCheck> walk(int64_t from, const std::string& prevHash, bool full,
                          const std::vector<Anchor>& more, const std::vector<int64_t>& shown);
  Error brokenChain(const ChainCheck& check) const;
  std::vector<Anchor> anchorsNow(const std::string& firstHash) const;
  // Before a write, inside its transaction: the file's head against the remembered one.
  Error headWriteCheck(int64_t lastSeq, const std::string& lastHash);
  bool upgradeSchema();  // schema 1 -> 2 inside a write transaction
  // What is wrong with SQLite's guards against changes (triggers missing, changed or added); empty
  // when they are as the program made them.
  std::string guardProblem();
  detail::Statement& built(const std::string& sql);
  std::string operatorColumn() const { return schemaVersion_ >= 2 ? "operator_name" : "''"; }
  Result<std::vector<Adjustment>> adjustmentsOf(const std::string& serial);

  sqlite3* db_ = nullptr;
  std::string path_;
  OpenOptions options_;
  bool readOnly_ = false;
  bool empty_ = false;      // read-only open of a file without a schema: an empty history
  bool zeroBytes_ = false;  // the file was empty (no bytes at all) when opened
  bool keepEmpty_ = false;  // an empty file where this program remembers a history: never written
  int schemaVersion_ = kSchemaVersion;
  std::string canonicalPath_;  // how the anchor files name this history
  ChainCheck lastReadCheck_;
  std::string lastWrittenHash_;
  // The last position found intact in this connection (besides the one kept in anchorFolder).
  int64_t verifiedSeq_ = 0;
  std::string verifiedHash_;
  std::map<const char*, std::unique_ptr<detail::Statement>> statements_;
  std::map<std::string, std::unique_ptr<detail::Statement>> builtStatements_;  // SQL made at run time
};

// Local calendar day number of a moment (days since 1970-01-01 in the given offset from UTC).
int64_t localDay(int64_t msUtc, int utcOffsetMin);

}  // namespace quarn::history
