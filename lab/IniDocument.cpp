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

// FNV-1a over the folded bytes: names that differ only in letter case hash alike. Four bytes a
// round, so the loop's test is paid once per four bytes.
std::size_t foldHash(std::string_view s) {
  constexpr std::size_t kPrime = 1099511628211ull;
  std::size_t h = 1469598103934665603ull;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t n = s.size();
  for (; n >= 4; p += 4, n -= 4) {
    h = (h ^ kFold.to[p[0]]) * kPrime;
    h = (h ^ kFold.to[p[1]]) * kPrime;
    h = (h ^ kFold.to[p[2]]) * kPrime;
    h = (h ^ kFold.to[p[3]]) * kPrime;
  }
  for (; n > 0; ++p, --n) h = (h ^ kFold.to[*p]) * kPrime;
  return h;
}

// Names are mostly spelt alike, letter case included: one memcmp settles those, and only names that
// differ byte for byte are compared folded.
bool foldEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0) return true;
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a.data());
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b.data());
  for (std::size_t i = 0, n = a.size(); i < n; ++i)
    if (x[i] != y[i] && kFold.to[x[i]] != kFold.to[y[i]]) return false;
  return true;
}

}  // namespace

template <class Same>
std::size_t IniDocument::NameTable::find(std::size_t hash, Same same) const {
  if (slots_.empty()) return npos;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.pos == 0) return npos;
    if (slot.hash == hash && same(slot.pos - 1)) return slot.pos - 1;
  }
}

template <class Same>
void IniDocument::NameTable::addFirst(std::size_t pos, std::size_t hash, Same same) {
  if ((count_ + 1) * 2 > slots_.size()) grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.pos == 0) {
      slot = Slot{pos + 1, hash};
      ++count_;
      return;
    }
    if (slot.hash == hash && same(slot.pos - 1)) return;
  }
}

void IniDocument::NameTable::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.pos == 0) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].pos != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
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
        const std::string_view name = trimmed(t.substr(1, close - 1));
        Section s;
        s.headerRaw = std::string(text);
        s.nameBegin = static_cast<std::size_t>(name.data() - text.data());
        s.nameLength = name.size();
        s.nameHash = foldHash(name);
        doc.firstSection_.addFirst(doc.sections_.size(), s.nameHash, [&doc, name](std::size_t at) {
          return foldEqual(doc.sections_[at].name(), name);
        });
        doc.sections_.push_back(std::move(s));
        continue;
      }
    }
    Line line;
    line.raw = std::string(text);
    if (!t.empty() && t.front() != ';') {
      const std::size_t eq = text.find('=');
      if (eq != std::string_view::npos) {
        const std::string_view key = trimmed(text.substr(0, eq));
        line.isEntry = !key.empty();
        if (line.isEntry) {
          line.keyBegin = static_cast<std::size_t>(key.data() - text.data());
          line.keyLength = key.size();
          line.keyHash = foldHash(key);
        }
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

std::size_t IniDocument::findSection(std::string_view trimmedName, std::size_t hash) const {
  return firstSection_.find(
      hash, [this, trimmedName](std::size_t at) { return foldEqual(sections_[at].name(), trimmedName); });
}

std::size_t IniDocument::findKey(const Section& s, std::string_view trimmedKey, std::size_t hash) {
  if (s.lines.size() < kIndexFrom) {
    for (std::size_t i = 0; i < s.lines.size(); ++i) {
      const Line& l = s.lines[i];
      if (l.isEntry && l.keyHash == hash && foldEqual(l.key(), trimmedKey)) return i;
    }
    return NameTable::npos;
  }
  if (!s.indexed) {
    s.keyIndex.clear();
    for (std::size_t i = 0; i < s.lines.size(); ++i) {
      const Line& l = s.lines[i];
      if (!l.isEntry) continue;
      s.keyIndex.addFirst(i, l.keyHash,
                          [&s, &l](std::size_t at) { return foldEqual(s.lines[at].key(), l.key()); });
    }
    s.indexed = true;
  }
  return s.keyIndex.find(
      hash, [&s, trimmedKey](std::size_t at) { return foldEqual(s.lines[at].key(), trimmedKey); });
}

void IniDocument::indexSections() {
  firstSection_.clear();
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    const std::string_view name = sections_[i].name();
    firstSection_.addFirst(i, sections_[i].nameHash,
                           [this, name](std::size_t at) { return foldEqual(sections_[at].name(), name); });
  }
}

std::optional<std::string_view> IniDocument::get(std::string_view section, std::string_view key) const {
  if (sections_.empty()) return std::nullopt;  // nothing to hash a name for
  const std::string_view name = trimmed(section);
  const std::size_t at = findSection(name, foldHash(name));
  if (at == NameTable::npos) return std::nullopt;
  const Section& s = sections_[at];
  const std::string_view k = trimmed(key);
  const std::size_t line = findKey(s, k, foldHash(k));
  if (line == NameTable::npos) return std::nullopt;
  const Line& l = s.lines[line];
  return std::string_view(l.raw).substr(l.valueOffset);
}

bool IniDocument::hasSection(std::string_view section) const {
  if (sections_.empty()) return false;
  const std::string_view name = trimmed(section);
  return findSection(name, foldHash(name)) != NameTable::npos;
}

bool IniDocument::hasKey(std::string_view section, std::string_view key) const {
  return get(section, key).has_value();
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  // Names and values are copied only when they must be made safe for a line (the rare case). Any of
  // them may be a view into this very document, so the new line is made before anything in the
  // document moves; a value replaced in place may come from the very line it replaces, which
  // std::string::replace allows.
  std::string sectionBuf, keyBuf, valueBuf;
  if (!lineSafe(section, ']')) section = sectionBuf = sanitized(section, ']');
  if (!lineSafe(key, '=')) key = keyBuf = sanitized(key, '=');
  if (!lineSafe(value)) value = valueBuf = sanitized(value);
  const std::string_view sectionName = trimmed(section);
  const std::string_view keyName = trimmed(key);
  if (keyName.empty() || keyName.front() == ';' || keyName.front() == '[') return;
  const std::size_t keyHash = foldHash(keyName);
  const std::size_t sectionHash = foldHash(sectionName);

  std::size_t at = findSection(sectionName, sectionHash);
  if (at != NameTable::npos) {
    Section& s = sections_[at];
    const std::size_t found = findKey(s, keyName, keyHash);
    if (found != NameTable::npos) {
      Line& l = s.lines[found];
      l.raw.replace(l.valueOffset, std::string::npos, value.data(), value.size());
      return;
    }
  }

  Line line;
  line.raw.reserve(keyName.size() + 1 + value.size());
  line.raw.append(keyName).append("=").append(value);
  line.keyLength = keyName.size();
  line.keyHash = keyHash;
  line.valueOffset = keyName.size() + 1;
  line.isEntry = true;

  if (at == NameTable::npos) {
    Section fresh;
    fresh.headerRaw.reserve(sectionName.size() + 2);
    fresh.headerRaw.append("[").append(sectionName).append("]");
    fresh.nameBegin = 1;
    fresh.nameLength = sectionName.size();
    fresh.nameHash = sectionHash;
    // A blank line closes every section, as the workstation writes its files. Room for the few
    // entries most sections get, written one after the other.
    fresh.lines.reserve(4);
    fresh.lines.push_back(Line{});
    at = sections_.size();
    sections_.push_back(std::move(fresh));
    const std::string_view name = sections_[at].name();
    firstSection_.addFirst(at, sectionHash,
                           [this, name](std::size_t i) { return foldEqual(sections_[i].name(), name); });
  }
  Section& s = sections_[at];
  // After the last entry: only non-entry lines (blanks, comments) move, so indexed positions stay.
  std::size_t after = s.lines.size();
  while (after > 0 && !s.lines[after - 1].isEntry) --after;
  s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(after), std::move(line));
  if (s.indexed) {
    const std::string_view k = s.lines[after].key();
    s.keyIndex.addFirst(after, keyHash, [&s, k](std::size_t i) { return foldEqual(s.lines[i].key(), k); });
  }
}

void IniDocument::remove(std::string_view section, std::string_view key) {
  if (sections_.empty()) return;
  const std::string_view name = trimmed(section);
  const std::size_t at = findSection(name, foldHash(name));
  if (at == NameTable::npos) return;
  Section& s = sections_[at];
  const std::string_view k = trimmed(key);
  std::erase_if(s.lines, [&](const Line& l) { return l.isEntry && foldEqual(l.key(), k); });
  s.keyIndex.clear();
  s.indexed = false;
}

void IniDocument::removeSection(std::string_view section) {
  const std::string_view name = trimmed(section);
  const auto before = sections_.size();
  std::erase_if(sections_, [&](const Section& s) { return foldEqual(s.name(), name); });
  if (sections_.size() != before) indexSections();
}

std::vector<std::string> IniDocument::sectionNames() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (const Section& s : sections_) names.emplace_back(s.name());
  return names;
}

std::vector<std::string> IniDocument::keys(std::string_view section) const {
  std::vector<std::string> out;
  if (sections_.empty()) return out;
  const std::string_view name = trimmed(section);
  const std::size_t at = findSection(name, foldHash(name));
  if (at == NameTable::npos) return out;
  for (const Line& l : sections_[at].lines)
    if (l.isEntry) out.emplace_back(l.key());
  return out;
}

std::string IniDocument::serialize() const { return serializeWithout({}); }

std::string IniDocument::serializeWithout(std::string_view without) const {
  without = trimmed(without);
  const auto skipped = [&](const Section& s) { return !without.empty() && foldEqual(s.name(), without); };
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
