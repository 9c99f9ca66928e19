#include "HistoryAnchors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

#include "TextFile.h"

namespace quarn::history {

namespace {

namespace fs = std::filesystem;

// The checked positions of this many histories are kept (the most recently read ones): a host that
// reads many throw-away files does not grow the file without end. Heads are never dropped.
constexpr std::size_t kCheckedKept = 32;

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', from);
    parts.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
    if (tab == std::string::npos) break;
    from = tab + 1;
  }
  return parts;
}

bool isHash(const std::string& s) {
  return s.size() == 64 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

int64_t number(const std::string& s, bool& ok) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  ok = ok && !s.empty() && *end == 0 && errno == 0 && v >= 0;
  return v;
}

// The file's lines; false when it exists but cannot be read.
bool readLines(const std::string& file, std::vector<std::string>& lines) {
  lines.clear();
  std::error_code ec;
  if (!fs::exists(file, ec)) return true;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return !in.bad();
}

// Runs `change` on the file's lines under an exclusive lock of the folder's lock file and writes the
// result back atomically. Returns an empty text or the reason.
std::string rewrite(const std::string& folder, const std::string& file,
                    const std::function<void(std::vector<std::string>&)>& change) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  const std::string lockName = folder + "/history-anchors.lock";
  const int lock = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return "не удалось открыть " + lockName + ": " + std::strerror(errno);
  while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::vector<std::string> lines;
  std::string err;
  if (!readLines(file, lines)) {
    err = "не удалось прочитать " + file;
  } else {
    change(lines);
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    err = data::writeFileAtomically(file, text).why();
  }
  ::close(lock);
  return err;
}

std::optional<RememberedHead> parseHead(const std::string& line) {
  const std::vector<std::string> p = splitTabs(line);
  if (p.size() != 6) return std::nullopt;
  RememberedHead h;
  bool ok = true;
  h.seq = number(p[0], ok);
  h.hash = p[1];
  h.pendingSeq = number(p[2], ok);
  h.pendingHash = p[3];
  h.firstHash = p[4];
  h.path = unescapeLineField(p[5]);
  if (!ok || !isHash(h.hash) || !isHash(h.firstHash) || (h.pendingSeq != 0 && !isHash(h.pendingHash)))
    return std::nullopt;
  return h;
}

std::string headLine(const RememberedHead& h) {
  return std::to_string(h.seq) + "\t" + h.hash + "\t" + std::to_string(h.pendingSeq) + "\t" +
         (h.pendingSeq ? h.pendingHash : std::string("-")) + "\t" + h.firstHash + "\t" +
         escapeLineField(h.path);
}

// Replaces (or adds) the line of `path` in `lines` by what `update` makes of the old record.
void updateHead(std::vector<std::string>& lines, const std::string& path,
                const std::function<void(RememberedHead&)>& update) {
  RememberedHead h;
  h.path = path;
  bool found = false;
  for (auto it = lines.begin(); it != lines.end();) {
    const std::optional<RememberedHead> old = parseHead(*it);
    if (old && old->path == path) {
      if (!found) h = *old;
      found = true;
      it = lines.erase(it);
    } else {
      ++it;
    }
  }
  update(h);
  lines.push_back(headLine(h));
}

}  // namespace

std::string escapeLineField(const std::string& field) {
  std::string out;
  for (char c : field) {
    if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescapeLineField(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string anchorPathOf(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) return path;
  const fs::path real = fs::weakly_canonical(p, ec);
  return (ec ? p : real).string();
}

std::string AnchorBook::anchorsFile() const { return folder_ + "/" + "history-heads"; }

std::vector<RememberedHead> AnchorBook::heads(std::string* error) const {
  std::vector<RememberedHead> out;
  if (!enabled()) return out;
  std::vector<std::string> lines;
  if (!readLines(anchorsFile(), lines)) {
    if (error) *error = "не удалось прочитать " + anchorsFile();
    return out;
  }
  for (const std::string& l : lines)
    if (auto h = parseHead(l)) out.push_back(*h);
  return out;
}

std::optional<RememberedHead> AnchorBook::headOf(const std::string& path, std::string* error) const {
  for (const RememberedHead& h : heads(error))
    if (h.path == path) return h;
  return std::nullopt;
}

std::string AnchorBook::notePending(const std::string& path, int64_t fromSeq, const std::string& fromHash,
                                    int64_t seq, const std::string& hash, const std::string& firstHash) {
  return rewrite(folder_, anchorsFile(), [&](std::vector<std::string>& lines) {
    updateHead(lines, path, [&](RememberedHead& h) {
      if (h.hash.empty()) {
        h.seq = fromSeq;
        h.hash = fromHash;
      }
      h.pendingSeq = seq;
      h.pendingHash = hash;
      h.firstHash = firstHash;
    });
  });
}

std::string AnchorBook::confirm(const std::string& path, int64_t seq, const std::string& hash,
                                const std::string& firstHash) {
  return rewrite(folder_, anchorsFile(), [&](std::vector<std::string>& lines) {
    updateHead(lines, path, [&](RememberedHead& h) {
      h.seq = seq;
      h.hash = hash;
      h.pendingSeq = 0;
      h.pendingHash.clear();
      h.firstHash = firstHash;
    });
  });
}

std::string AnchorBook::dropPending(const std::string& path) {
  return rewrite(folder_, anchorsFile(), [&](std::vector<std::string>& lines) {
    updateHead(lines, path, [&](RememberedHead& h) {
      h.pendingSeq = 0;
      h.pendingHash.clear();
    });
  });
}

std::optional<CheckedPosition> AnchorBook::checkedOf(const std::string& path) const {
  if (!enabled()) return std::nullopt;
  std::vector<std::string> lines;
  if (!readLines(folder_ + "/" + "history-checked", lines)) return std::nullopt;
  for (const std::string& l : lines) {
    const std::vector<std::string> p = splitTabs(l);
    bool ok = true;
    if (p.size() != 3) continue;
    CheckedPosition c{unescapeLineField(p[2]), number(p[0], ok), p[1]};
    if (ok && isHash(c.hash) && c.path == path) return c;
  }
  return std::nullopt;
}

void AnchorBook::noteChecked(const std::string& path, int64_t seq, const std::string& hash) {
  if (!enabled()) return;
  rewrite(folder_, folder_ + "/" + "history-checked", [&](std::vector<std::string>& lines) {
    for (auto it = lines.begin(); it != lines.end();) {
      const std::vector<std::string> p = splitTabs(*it);
      if (p.size() != 3 || unescapeLineField(p[2]) == path)
        it = lines.erase(it);
      else
        ++it;
    }
    while (lines.size() >= kCheckedKept) lines.erase(lines.begin());
    lines.push_back(std::to_string(seq) + "\t" + hash + "\t" + escapeLineField(path));
  });
}

}  // namespace quarn::history
