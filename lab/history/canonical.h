// The bytes an entry's hash covers, and the hash rule of the chain. One function serves both the
// write (from the record being stored) and the check (from the record read back), so the two can
// only agree when the stored values are the ones written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "HistoryRecord.h"

namespace quarn::history {

inline constexpr int kHashFormat = 1;
// The previous hash of the first entry.
inline constexpr const char* kGenesisHash =
    "0000000000000000000000000000000000000000000000000000000000000000";

struct EntryHeader {
  int64_t seq = 0;
  std::string kind;  // "run", "correction", "cancellation", "adjustment"
  std::optional<int64_t> refersTo;
  int64_t recordedAtMs = 0;
  std::string workstation;
  std::string note;
  int hashFormat = kHashFormat;
};

// Canonical content: one line per field, "name type payload\n", in a fixed order; type i (decimal
// integer), r (the 16 hexadecimal digits of the IEEE-754 double), n (a missing number), t (text:
// byte length, ':', the UTF-8 bytes). `run` for run and correction entries, `adjustment` for
// adjustment entries, neither for a cancellation.
std::string canonicalEntry(const EntryHeader& header, const RunRecord* run, const Adjustment* adjustment);

// SHA-256 (lower-case hex) of the previous entry's hash, a line feed and the canonical content.
std::string entryHash(const std::string& prevHash, const std::string& canonical);

// What the database keeps of a float: NaN is stored as NULL and -0 as 0, so a record is put into
// this form before it is hashed and stored (and a read-back record already is in it).
float storedFloat(float v);
// Sorts devices by channel, their points by index, relays by channel and relay, and puts every float
// into its stored form.
void normalizeRecord(RunRecord& run);

}  // namespace quarn::history
