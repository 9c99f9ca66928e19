// A lab's run history on a PostgreSQL server (sql/history_server.sql): each workstation keeps writing
// its own SQLite history and pushes every entry the server does not have yet, unchanged (the same
// canonical content, hash and chain), keyed by the workstation's id and the entry's number.
//
// The push is offline-first, idempotent and resumable: the server's head for the workstation says
// where to go on, the entries go in order in transactions of a few hundred, and a push stopped at any
// moment leaves the server at the end of a whole transaction. A local history that no longer holds
// what the server has (entries deleted, the file replaced by an older copy or another history) is
// refused, naming the first missing or different entry. The server's acknowledged head is also kept
// beside the local anchors (kServerHeadsFileName), so a server that lost entries is found too.
//
// The connection string (a libpq URI or key=value list) may hold a password: it is never put into a
// message, a log or the history; messages name the server by host, port and database only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "HistoryRecord.h"

namespace quarn::history {

class HistoryStore;

// The server schema this program writes and reads.
inline constexpr int kServerSchemaVersion = 1;
inline constexpr const char* kServerHeadsFileName = "history-server-heads";
// Where the hosts take the server's connection string from when no option names one.
inline constexpr const char* kServerEnvironment = "QUARN_HISTORY_SERVER";

struct ServerOptions {
  std::string uri;            // libpq connection URI or key=value string (may hold a password)
  std::string workstationId;  // the history's name on the server
  // The folder that keeps the server's acknowledged heads (the hosts' anchor folder); empty: none kept.
  std::string anchorFolder;
  int batch = 250;           // entries per transaction
  int connectTimeoutS = 10;  // when the string does not set connect_timeout
  std::string applicationName = "quarn";
  // Called after each committed transaction: entries on the server now, entries to push in all.
  std::function<void(int64_t serverHead, int64_t localHead)> progress;
  // Asked before each transaction: true stops the push there (what was committed stays).
  std::function<bool()> cancelled;
};

struct SyncResult {
  std::string server;  // host, port and database (no credentials)
  std::string workstationId;
  int64_t serverHeadBefore = 0;
  int64_t pushed = 0;
  int64_t serverHead = 0;  // the server's head after the push (equals the local head)
  std::string serverHeadHash;
  int64_t localHead = 0;
};

// Pushes every local entry the server lacks. The local history is only read.
Result<SyncResult> syncToServer(HistoryStore& local, const ServerOptions& options);

// One workstation's chain on the server, checked.
struct ServerChainCheck {
  std::string workstationId;
  bool ok = true;
  int64_t entries = 0;  // entries read
  int64_t head = 0;     // the server's acknowledged head
  std::string headHash;
  int64_t firstBad = 0;
  std::string problem;  // UTF-8
};

struct ServerCheck {
  bool ok = true;
  std::string server;
  std::vector<ServerChainCheck> workstations;
  // The local history against the server (when one was given).
  bool localCompared = false;
  std::string workstationId;
  int64_t localHead = 0;
  int64_t acknowledged = 0;  // the head the server acknowledged last, kept locally
  int64_t localFirstBad = 0;
  std::string localProblem;  // UTF-8; empty when the local history holds what the server has
};

// Checks every chain on the server (or `onlyWorkstation`'s): numbers without gaps, each link, each
// hash recomputed from the stored content, the header columns against the content, the head; and,
// with `local`, that the local history holds every entry the server has for options.workstationId
// and that the server still has what it acknowledged.
Result<ServerCheck> checkServer(HistoryStore* local, const ServerOptions& options,
                                const std::string& onlyWorkstation = {});

// A run as the server lists it (newest first).
struct ServerRun {
  std::string workstationId;
  int64_t seq = 0;  // the entry holding the content (the run's own or its latest correction)
  int64_t runId = 0;
  bool cancelled = false;
  int64_t startedAtMs = 0;
  int utcOffsetMin = 0;
  std::string kind;  // "verification", …
  std::string tag;   // "as_found" / "as_left"
  std::string workstation;
  struct Device {
    int channel = 0;
    std::string name, serial, verdict;
  };
  std::vector<Device> devices;
};

struct ServerListFilter {
  std::string workstationId;  // empty: all
  std::string serial;         // a device serial, whole
  std::string deviceName;     // part of a device name
  std::optional<int64_t> since;
  bool includeCancelled = false;
  int64_t limit = 0;  // 0: all
};

// The lab's runs, newest first (by start time), with their current content; the read-only role is
// enough.
Result<std::vector<ServerRun>> listServer(const ServerOptions& options, const ServerListFilter& filter);

// One workstation's run on the server as the history file shows it (HistoryStore::show): the run
// `runId` names (a run, or one of its corrections) with its latest content, corrections and
// cancellation, the record decoded from the canonical content the server stores. Before anything is
// returned, in one snapshot of the server, the workstation's chain is checked: numbers without gaps
// and every link from entry 1 to the head, entry 1 the registered one, the last the head; and each
// entry shown is recomputed (its hash from the stored bytes, its columns against them). ChainBroken
// names the first bad entry; NotFound an unknown workstation or run. The reader role is enough.
Result<StoredRun> showServer(const ServerOptions& options, const std::string& workstationId, int64_t runId);

// A device's as-found and as-left runs among one workstation's runs on the server, chosen, matched and
// with the adjustments between them as HistoryStore::pair does; checked as showServer checks, every
// run the choice looked at and every adjustment of the workstation recomputed.
Result<RunPair> pairServer(const ServerOptions& options, const std::string& workstationId,
                           const std::string& serial);

// A calibration on the server as the history file finds it (HistoryStore::calibrationOf): the run
// `runId` names and, for an as-left run, the as-found run before it of its devices and their
// adjustments between the two, checked as showServer checks. What its protocol is made from.
Result<StoredCalibration> calibrationServer(const ServerOptions& options, const std::string& workstationId,
                                            int64_t runId);

// The connection string without its password (for messages): a URI's password is dropped, a
// key=value string loses its password=… pair.
std::string redactedServer(const std::string& uri);

// The acknowledged heads kept in `anchorFolder` for the history at `historyPath`, as anchors a check
// and every read compare (the local history must still hold them).
std::vector<Anchor> serverAnchorsOf(const std::string& anchorFolder, const std::string& historyPath);

// A workstation's name for the server when none is given: the host name.
std::string defaultWorkstationId();

// Applies the server schema (the roles, then the tables) to an empty database: for an administrator.
Result<bool> installServerSchema(const std::string& uri);

}  // namespace quarn::history
