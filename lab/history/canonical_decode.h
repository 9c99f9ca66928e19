// An entry's canonical content read back into the header and the record it was written from. A copy
// of the history that keeps only the canonical bytes and their hash (a lab server) shows its runs
// through the same record types, and so the same views and protocol, as the history file.
//
// The text is parsed line by line and then written out again by the emitter of canonical.h: only a
// text that comes back byte for byte is accepted. A value the program would not have written (a
// double that is no single-precision value, a field out of its order, a line too many or too few, an
// unknown kind) is refused instead of being read as something else.
#pragma once

#include <optional>
#include <string_view>

#include "HistoryRecord.h"
#include "canonical.h"

namespace quarn::history {

struct DecodedEntry {
  EntryHeader header;
  std::optional<RunRecord> run;  // a run or a correction
  std::optional<Adjustment> adjustment;
};

// The entry the text describes, or (Damaged) what is wrong with the text, UTF-8, for the operator.
Result<DecodedEntry> decodeCanonicalEntry(std::string_view canonical);

}  // namespace quarn::history
