#include "IniDocument.h"

#include <algorithm>

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

}  // namespace

std::string foldName(std::string_view name) {
  std::string out(name);
  for (char& ch : out) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z')
      c = static_cast<unsigned char>(c + 32);
    else if (c >= 0xC0 && c <= 0xDF)  // А..Я -> а..я
      c = static_cast<unsigned char>(c + 32);
    else if (c == 0xA8)  // Ё -> ё
      c = 0xB8;
    ch = static_cast<char>(c);
  }
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
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    std::string_view text = bytes.substr(pos, end - pos);
    lastHadEnd = end < bytes.size();
    lastLine = text;
    if (end < bytes.size()) {
      if (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ++end;
      ++end;
    }
    pos = end;

    const std::string_view t = trimmed(text);
    if (!t.empty() && t.front() == '[') {
      const std::size_t close = t.find(']');
      if (close != std::string_view::npos) {
        Section s;
        s.name = std::string(trimmed(t.substr(1, close - 1)));
        s.headerRaw = std::string(text);
        doc.firstSection_.try_emplace(foldName(s.name), doc.sections_.size());
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
    if (doc.sections_.empty()) {
      doc.preamble_.push_back(std::move(line));
    } else {
      Section& s = doc.sections_.back();
      s.lines.push_back(std::move(line));
      indexLine(s, s.lines.size() - 1);
    }
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

void IniDocument::indexLine(Section& s, std::size_t i) {
  if (s.lines[i].isEntry) s.firstKey.try_emplace(foldName(s.lines[i].key), i);
}

IniDocument::Section* IniDocument::findSection(std::string_view name) {
  auto it = firstSection_.find(foldName(trimmed(name)));
  return it == firstSection_.end() ? nullptr : &sections_[it->second];
}

const IniDocument::Section* IniDocument::findSection(std::string_view name) const {
  auto it = firstSection_.find(foldName(trimmed(name)));
  return it == firstSection_.end() ? nullptr : &sections_[it->second];
}

std::optional<std::string_view> IniDocument::get(std::string_view section, std::string_view key) const {
  const Section* s = findSection(section);
  if (!s) return std::nullopt;
  auto it = s->firstKey.find(foldName(trimmed(key)));
  if (it == s->firstKey.end()) return std::nullopt;
  const Line& l = s->lines[it->second];
  return std::string_view(l.raw).substr(l.valueOffset);
}

bool IniDocument::hasSection(std::string_view section) const { return findSection(section) != nullptr; }

bool IniDocument::hasKey(std::string_view section, std::string_view key) const {
  return get(section, key).has_value();
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string sectionName(trimmed(sanitized(section, ']')));
  const std::string keyName(trimmed(sanitized(key, '=')));
  const std::string val = sanitized(value);
  if (keyName.empty() || (!keyName.empty() && (keyName.front() == ';' || keyName.front() == '['))) return;

  Section* s = findSection(sectionName);
  if (!s) {
    Section fresh;
    fresh.name = sectionName;
    fresh.headerRaw = "[" + sectionName + "]";
    // A blank line closes every section, as the workstation writes its files.
    fresh.lines.push_back(Line{});
    firstSection_.try_emplace(foldName(sectionName), sections_.size());
    sections_.push_back(std::move(fresh));
    s = &sections_.back();
  }
  auto it = s->firstKey.find(foldName(keyName));
  if (it != s->firstKey.end()) {
    Line& l = s->lines[it->second];
    l.raw = l.raw.substr(0, l.valueOffset) + val;
    return;
  }
  // After the last entry: only non-entry lines (blanks, comments) move, so the key index stays valid.
  std::size_t at = 0;
  for (std::size_t i = 0; i < s->lines.size(); ++i)
    if (s->lines[i].isEntry) at = i + 1;
  Line line;
  line.key = keyName;
  line.isEntry = true;
  line.raw = keyName + "=" + val;
  line.valueOffset = keyName.size() + 1;
  s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  s->firstKey.emplace(foldName(keyName), at);
}

void IniDocument::remove(std::string_view section, std::string_view key) {
  Section* s = findSection(section);
  if (!s) return;
  const std::string folded = foldName(trimmed(key));
  std::erase_if(s->lines, [&](const Line& l) { return l.isEntry && foldName(l.key) == folded; });
  s->firstKey.clear();
  for (std::size_t i = 0; i < s->lines.size(); ++i) indexLine(*s, i);
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

std::string IniDocument::serialize() const {
  std::string out;
  auto put = [&out](std::string_view line) {
    out.append(line);
    out.append("\r\n");
  };
  for (const Line& l : preamble_) put(l.raw);
  for (const Section& s : sections_) {
    put(s.headerRaw);
    for (const Line& l : s.lines) put(l.raw);
  }
  return out;
}

}  // namespace quarn::data
