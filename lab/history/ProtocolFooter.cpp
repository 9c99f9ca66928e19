#include "ProtocolFooter.h"

#include <algorithm>

namespace quarn::history {

namespace {

constexpr std::string_view kLead = "История поверок: запись ";
constexpr std::string_view kHashLead = ", хэш ";

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

std::string protocolFooter(int64_t entry, const std::string& hash) {
  return std::string(kLead) + std::to_string(entry) + std::string(kHashLead) +
         hash.substr(0, kFooterHashDigits);
}

std::string protocolFooterUnstored() { return "История поверок: запуск в неё не записан"; }

std::vector<Anchor> footerAnchors(std::string_view text, const std::string& source) {
  std::vector<Anchor> out;
  for (std::size_t at = 0; (at = text.find(kLead, at)) != std::string_view::npos;) {
    std::size_t k = at + kLead.size();
    at = k;
    int64_t entry = 0;
    std::size_t digits = 0;
    while (k < text.size() && text[k] >= '0' && text[k] <= '9' && digits < 15) {
      entry = entry * 10 + (text[k++] - '0');
      ++digits;
    }
    if (digits == 0 || entry < 1 || text.substr(k, kHashLead.size()) != kHashLead) continue;
    k += kHashLead.size();
    const std::string_view hash = text.substr(k, kFooterHashDigits);
    if (hash.size() != kFooterHashDigits || !std::all_of(hash.begin(), hash.end(), isHex)) continue;
    // A longer run of digits is no footer this program wrote.
    if (k + kFooterHashDigits < text.size() && isHex(text[k + kFooterHashDigits])) continue;
    Anchor a;
    a.source = source;
    a.seq = entry;
    a.hash = std::string(hash);
    if (std::none_of(out.begin(), out.end(),
                     [&](const Anchor& o) { return o.seq == a.seq && o.hash == a.hash; }))
      out.push_back(std::move(a));
  }
  return out;
}

}  // namespace quarn::history
