// The bytes an entry's hash covers, and the hash rule of the chain. One emitter serves both the write
// (from the record being stored) and the check (from the record read back), so the two can only agree
// when the stored values are the ones written.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "HistoryRecord.h"
#include "sha256.h"

namespace quarn::history {

// Format 1: the entries of schema 1. Format 2 (written now) adds the operator who made the entry.
inline constexpr int kHashFormat1 = 1;
inline constexpr int kHashFormat = 2;
// The previous hash of the first entry.
inline constexpr const char* kGenesisHash =
    "0000000000000000000000000000000000000000000000000000000000000000";

struct EntryHeader {
  int64_t seq = 0;
  std::string kind;  // "run", "correction", "cancellation", "adjustment"
  std::optional<int64_t> refersTo;
  int64_t recordedAtMs = 0;
  std::string workstation;  // the workstation that made the entry
  std::string note;
  std::string operatorName;  // who made it (hash format 2 and later)
  int hashFormat = kHashFormat;
};

// A run's content as the hash reads it. The check fills reused buffers and points a view at them, so
// its loop builds no record; a host's record is viewed whole with of().
struct RunView {
  const RunRecord* scalars = nullptr;  // every field but the three lists (those are not read)
  std::span<const std::pair<std::string, std::string>> fields;
  std::span<const DeviceResult> devices;
  std::span<const RelayResult> relays;
  static RunView of(const RunRecord& run) {
    return RunView{&run, run.protocol.fields, run.devices, run.relays};
  }
};

// Canonical content: one line per field, "name type payload\n", in a fixed order; type i (decimal
// integer), r (the 16 hexadecimal digits of the IEEE-754 double), n (a missing number), t (text:
// byte length, ':', the UTF-8 bytes). `run` for run and correction entries, `adjustment` for
// adjustment entries, neither for a cancellation.
std::string canonicalEntry(const EntryHeader& header, const RunRecord* run, const Adjustment* adjustment);

// The same text from a run's view (what the chain walk reads back).
std::string canonicalOf(const EntryHeader& header, const RunView* run, const Adjustment* adjustment);

// SHA-256 (lower-case hex) of the previous entry's hash, a line feed and the canonical content.
std::string entryHash(const std::string& prevHash, const std::string& canonical);

// The same hash computed while the canonical content is produced, through `sha` (reset here), into
// out[0..63]; no text of the whole entry is built.
void hashEntry(Sha256& sha, std::string_view prevHash, const EntryHeader& header, const RunView* run,
               const Adjustment* adjustment, char* out);

// What the database keeps of a float: NaN is stored as NULL and -0 as 0, so a record is put into
// this form before it is hashed and stored (and a read-back record already is in it).
float storedFloat(float v);
// Sorts devices by channel, their points by index, relays by channel and relay, and puts every float
// into its stored form.
void normalizeRecord(RunRecord& run);

}  // namespace quarn::history
