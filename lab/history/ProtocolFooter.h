// The line a protocol carries about its run's entry in the history: the entry's number and the first
// 12 hexadecimal digits of its hash. A printed protocol so proves the chain as it was when the
// protocol was made, and `history check --protocol` compares the history with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "HistoryRecord.h"

namespace quarn::history {

inline constexpr std::size_t kFooterHashDigits = 12;

// "История поверок: запись 17, хэш 3f2a9c0b1d4e" (UTF-8).
std::string protocolFooter(int64_t entry, const std::string& hash);
// What a protocol of a run the history did not take says instead.
std::string protocolFooterUnstored();

// The entries the footer lines in a text name (e.g. the XML of a workbook's sheets), each once, in
// the order found; `source` names them in the anchors' messages.
std::vector<Anchor> footerAnchors(std::string_view text, const std::string& source);

}  // namespace quarn::history
