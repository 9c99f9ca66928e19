// The two small files a host keeps about its histories, apart from them (in its settings folder):
// the head it last wrote into each history it anchors (kAnchorsFileName), and the last position a
// read found intact in each history it read (kCheckedFileName). One line per history file, named by
// its absolute path; each file is replaced whole (written aside, then renamed) under a lock, so two
// programs never lose each other's lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarn::history {

// The fields of the tab-separated lines the history keeps beside its file (heads, checked
// positions, acknowledged server heads): %, tab, CR and LF are written as %XX, so a line splits at
// its tabs whatever a path or name holds.
std::string escapeLineField(const std::string& field);
std::string unescapeLineField(const std::string& text);

struct RememberedHead {
  std::string path;
  int64_t seq = 0;
  std::string hash;
  // A write whose commit was under way: the history may end at it or at `seq`.
  int64_t pendingSeq = 0;
  std::string pendingHash;
  std::string firstHash;  // the history's first entry
};

struct CheckedPosition {
  std::string path;
  int64_t seq = 0;
  std::string hash;
};

class AnchorBook {
 public:
  explicit AnchorBook(std::string folder) : folder_(std::move(folder)) {}
  bool enabled() const { return !folder_.empty(); }
  std::string anchorsFile() const;

  // Every remembered head (an unreadable file gives none and says so in `error`).
  std::vector<RememberedHead> heads(std::string* error = nullptr) const;
  std::optional<RememberedHead> headOf(const std::string& path, std::string* error = nullptr) const;
  // Before a write's commit: the write (seq, hash) may end the history, which ends at (fromSeq,
  // fromHash) until it does (a history not remembered yet is taken from there). Durable when it
  // returns. Returns an empty text or the reason.
  std::string notePending(const std::string& path, int64_t fromSeq, const std::string& fromHash, int64_t seq,
                          const std::string& hash, const std::string& firstHash);
  // After the commit (or finding that it was made): the history ends at (seq, hash).
  std::string confirm(const std::string& path, int64_t seq, const std::string& hash,
                      const std::string& firstHash);
  // After a failed commit: the history still ends where it did.
  std::string dropPending(const std::string& path);

  std::optional<CheckedPosition> checkedOf(const std::string& path) const;
  // Best effort: a position that cannot be kept only makes the next read check more.
  void noteChecked(const std::string& path, int64_t seq, const std::string& hash);

 private:
  std::string folder_;
};

// The absolute, symlink-free path that names a history file in the anchor files (the file need not
// exist; its folder then names it).
std::string anchorPathOf(const std::string& path);

}  // namespace quarn::history
