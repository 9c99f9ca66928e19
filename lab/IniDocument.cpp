#include "IniDocument.h"

#include <algorithm>
#include <cstring>

namespace quarn::data {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Replaces the characters that would end a line (or a name) early.
std::string sanitized(std::string_view s, char forbidden = '\0') {
  std::string out(s);
  for (char& c : out)
    if (c == '\r' || c == '\n' || c == '\0' || (forbidden != '\0' && c == forbidden)) c = ' ';
  return out;
}

// Every name comparison and hash folds each byte: one table look-up instead of three tests.
struct FoldTable {
  unsigned char to[256];
  constexpr FoldTable() : to() {
    for (int c = 0; c < 256; ++c) {
      int f = c;
      if (c >= 'A' && c <= 'Z') f = c + 32;
      if (c >= 0xC0 && c <= 0xDF) f = c + 32;  // А..Я -> а..я
      if (c == 0xA8) f = 0xB8;                 // Ё -> ё
      to[c] = static_cast<unsigned char>(f);
    }
  }
};
constexpr FoldTable kFold;

unsigned char foldByte(unsigned char c) { return kFold.to[c]; }

// Where the line starting at `pos` ends: the next CR or LF, or the end of the bytes. The C library's
// search, since parsing a file is mostly this scan.
std::size_t lineEnd(std::string_view bytes, std::size_t pos) {
  const char* from = bytes.data() + pos;
  std::size_t n = bytes.size() - pos;
  if (const void* lf = std::memchr(from, '\n', n))
    n = static_cast<std::size_t>(static_cast<const char*>(lf) - from);
  if (const void* cr = std::memchr(from, '\r', n))
    n = static_cast<std::size_t>(static_cast<const char*>(cr) - from);
  return pos + n;
}

// Whether a name or value can go into a line as it is (see sanitized()).
bool lineSafe(std::string_view s, char forbidden = '\0') {
  const char* p = s.data();
  const std::size_t n = s.size();
  if (n == 0) return true;
  if (std::memchr(p, '\r', n) || std::memchr(p, '\n', n) || std::memchr(p, '\0', n)) return false;
  return forbidden == '\0' || !std::memchr(p, forbidden, n);
}

// Sections this short are searched in order; longer ones get a hash index.
constexpr std::size_t kIndexFrom = 24;

}  // namespace

std::size_t IniDocument::FoldHash::operator()(std::string_view s) const noexcept {
  std::size_t h = 1469598103934665603ull;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  for (std::size_t i = 0, n = s.size(); i < n; ++i) {
    h ^= kFold.to[p[i]];
    h *= 1099511628211ull;
  }
  return h;
}

bool IniDocument::FoldEq::operator()(std::string_view a, std::string_view b) const noexcept {
  if (a.size() != b.size()) return false;
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a.data());
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b.data());
  for (std::size_t i = 0, n = a.size(); i < n; ++i)
    if (x[i] != y[i] && kFold.to[x[i]] != kFold.to[y[i]]) return false;
  return true;
}

std::string foldName(std::string_view name) {
  std::string out(name);
  for (char& ch : out) ch = static_cast<char>(foldByte(static_cast<unsigned char>(ch)));
  return out;
}

std::string ownerChainSection(const std::vector<std::string_view>& owners) {
  std::string s = "_";
  for (std::string_view o : owners) {
    s.append(o);
    s.push_back('_');
  }
  return s;
}

IniDocument IniDocument::parse(std::string_view bytes) {
  IniDocument doc;
  std::size_t pos = 0;
  bool lastHadEnd = true;
  std::string_view lastLine;
  while (pos < bytes.size()) {
    const std::size_t end = lineEnd(bytes, pos);
    std::string_view text = bytes.substr(pos, end - pos);
    lastHadEnd = end < bytes.size();
    lastLine = text;
    pos = end;
    if (pos < bytes.size()) {
      if (bytes[pos] == '\r' && pos + 1 < bytes.size() && bytes[pos + 1] == '\n') ++pos;
      ++pos;
    }

    const std::string_view t = trimmed(text);
    if (!t.empty() && t.front() == '[') {
      const std::size_t close = t.find(']');
      if (close != std::string_view::npos) {
        Section s;
        s.name = std::string(trimmed(t.substr(1, close - 1)));
        s.headerRaw = std::string(text);
        doc.firstSection_.try_emplace(s.name, doc.sections_.size());
        doc.sections_.push_back(std::move(s));
        continue;
      }
    }
    Line line;
    line.raw = std::string(text);
    if (!t.empty() && t.front() != ';') {
      const std::size_t eq = text.find('=');
      if (eq != std::string_view::npos) {
        line.key = std::string(trimmed(text.substr(0, eq)));
        line.isEntry = !line.key.empty();
        line.valueOffset = eq + 1;
      }
    }
    if (doc.sections_.empty())
      doc.preamble_.push_back(std::move(line));
    else
      doc.sections_.back().lines.push_back(std::move(line));
  }
  if (!lastHadEnd) {
    const std::string_view t = trimmed(lastLine);
    const bool brokenHeader = !t.empty() && t.front() == '[' && t.find(']') == std::string_view::npos;
    const bool brokenEntry =
        !t.empty() && t.front() != '[' && t.front() != ';' && t.find('=') == std::string_view::npos;
    doc.endsInBrokenLine_ = brokenHeader || brokenEntry;
  }
  return doc;
}

IniDocument::Section* IniDocument::findSection(std::string_view name) {
  if (sections_.empty()) return nullptr;
  auto it = firstSection_.find(trimmed(name));
  return it == firstSection_.end() ? nullptr : &sections_[it->second];
}

const IniDocument::Section* IniDocument::findSection(std::string_view name) const {
  if (sections_.empty()) return nullptr;  // no name to hash for
  auto it = firstSection_.find(trimmed(name));
  return it == firstSection_.end() ? nullptr : &sections_[it->second];
}

const IniDocument::Line* IniDocument::findKey(const Section& s, std::string_view key) {
  key = trimmed(key);
  if (s.lines.size() < kIndexFrom) {
    for (const Line& l : s.lines)
      if (l.isEntry && FoldEq{}(l.key, key)) return &l;
    return nullptr;
  }
  if (!s.indexed) {
    s.keyIndex.clear();
    for (std::size_t i = 0; i < s.lines.size(); ++i)
      if (s.lines[i].isEntry) s.keyIndex.try_emplace(s.lines[i].key, i);
    s.indexed = true;
  }
  auto it = s.keyIndex.find(key);
  return it == s.keyIndex.end() ? nullptr : &s.lines[it->second];
}

std::optional<std::string_view> IniDocument::get(std::string_view section, std::string_view key) const {
  const Section* s = findSection(section);
  if (!s) return std::nullopt;
  const Line* l = findKey(*s, key);
  if (!l) return std::nullopt;
  return std::string_view(l->raw).substr(l->valueOffset);
}

bool IniDocument::hasSection(std::string_view section) const { return findSection(section) != nullptr; }

bool IniDocument::hasKey(std::string_view section, std::string_view key) const {
  return get(section, key).has_value();
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  // The section name is copied only when it must be made safe for a line (the rare case); the value
  // is always copied, as it may be a view into the very line it replaces.
  std::string sectionBuf, keyBuf;
  if (!lineSafe(section, ']')) section = sectionBuf = sanitized(section, ']');
  if (!lineSafe(key, '=')) key = keyBuf = sanitized(key, '=');
  const std::string_view sectionName = trimmed(section);
  const std::string keyName(trimmed(key));  // used after the sections may have moved
  const std::string val = lineSafe(value) ? std::string(value) : sanitized(value);
  if (keyName.empty() || keyName.front() == ';' || keyName.front() == '[') return;

  Section* s = findSection(sectionName);
  if (!s) {
    Section fresh;
    fresh.name = std::string(sectionName);
    fresh.headerRaw.reserve(sectionName.size() + 2);
    fresh.headerRaw.append("[").append(sectionName).append("]");
    // A blank line closes every section, as the workstation writes its files. Room for the few
    // entries most sections get, written one after the other.
    fresh.lines.reserve(4);
    fresh.lines.push_back(Line{});
    firstSection_.try_emplace(fresh.name, sections_.size());
    sections_.push_back(std::move(fresh));
    s = &sections_.back();
  }
  if (const Line* found = findKey(*s, keyName)) {
    Line& l = s->lines[static_cast<std::size_t>(found - s->lines.data())];
    l.raw.resize(l.valueOffset);
    l.raw.append(val);
    return;
  }
  // After the last entry: only non-entry lines (blanks, comments) move, so indexed positions stay.
  std::size_t at = 0;
  for (std::size_t i = 0; i < s->lines.size(); ++i)
    if (s->lines[i].isEntry) at = i + 1;
  Line line;
  line.key = keyName;
  line.isEntry = true;
  line.raw.reserve(keyName.size() + 1 + val.size());
  line.raw.append(keyName).append("=").append(val);
  line.valueOffset = keyName.size() + 1;
  s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  if (s->indexed) s->keyIndex.try_emplace(keyName, at);
}

void IniDocument::remove(std::string_view section, std::string_view key) {
  Section* s = findSection(section);
  if (!s) return;
  const std::string_view k = trimmed(key);
  std::erase_if(s->lines, [&](const Line& l) { return l.isEntry && FoldEq{}(l.key, k); });
  s->keyIndex.clear();
  s->indexed = false;
}

void IniDocument::removeSection(std::string_view section) {
  const std::string_view name = trimmed(section);
  const auto before = sections_.size();
  std::erase_if(sections_, [&](const Section& s) { return FoldEq{}(s.name, name); });
  if (sections_.size() == before) return;
  firstSection_.clear();
  for (std::size_t i = 0; i < sections_.size(); ++i) firstSection_.try_emplace(sections_[i].name, i);
}

std::vector<std::string> IniDocument::sectionNames() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::string> IniDocument::keys(std::string_view section) const {
  std::vector<std::string> out;
  const Section* s = findSection(section);
  if (!s) return out;
  for (const Line& l : s->lines)
    if (l.isEntry) out.push_back(l.key);
  return out;
}

std::string IniDocument::serialize() const { return serializeWithout({}); }

std::string IniDocument::serializeWithout(std::string_view without) const {
  without = trimmed(without);
  const auto skipped = [&](const Section& s) { return !without.empty() && FoldEq{}(s.name, without); };
  std::size_t total = 0;
  for (const Line& l : preamble_) total += l.raw.size() + 2;
  for (const Section& s : sections_) {
    if (skipped(s)) continue;
    total += s.headerRaw.size() + 2;
    for (const Line& l : s.lines) total += l.raw.size() + 2;
  }
  std::string out;
  out.reserve(total);
  auto put = [&out](std::string_view line) {
    out.append(line);
    out.append("\r\n");
  };
  for (const Line& l : preamble_) put(l.raw);
  for (const Section& s : sections_) {
    if (skipped(s)) continue;
    put(s.headerRaw);
    for (const Line& l : s.lines) put(l.raw);
  }
  return out;
}

}  // namespace quarn::data
