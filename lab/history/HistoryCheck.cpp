// The checks of the run history: SQLite's integrity check, its guards against changes, the hash chain
// walked over whole tables in one pass, the anchors kept outside the file, and the incremental check
// every read makes before it shows a run.
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "HistoryAnchors.h"
#include "HistoryStore.h"
#include "canonical.h"
#include "history_rows.h"
#include "history_schema_sql.h"
#include "history_transaction.h"
#include "sqlite_statement.h"

namespace quarn::history {

using detail::Statement;
using detail::Use;

namespace {

constexpr int kNoFault = 0;

std::string inQuotes(const std::string& path) { return "«" + path + "»"; }

Error error(ErrorCode code, std::string message) { return Error{code, std::move(message)}; }

std::string squeezed(const std::string& sql) {
  std::string out;
  bool space = false;
  for (char c : sql) {
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out += c;
    }
  }
  return out;
}

// SQLite's guards as the program makes them: read back from a database made in memory from the same
// SQL, so the text compared is the text SQLite keeps.
const std::vector<std::pair<std::string, std::string>>& expectedGuards() {
  static const std::vector<std::pair<std::string, std::string>> guards = [] {
    std::vector<std::pair<std::string, std::string>> out;
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) == SQLITE_OK &&
        sqlite3_exec(db, kSchemaSql, nullptr, nullptr, nullptr) == SQLITE_OK &&
        sqlite3_exec(db, kSchemaSqliteSql, nullptr, nullptr, nullptr) == SQLITE_OK) {
      Statement s;
      if (s.prepare(db, "SELECT name, sql FROM sqlite_master WHERE type = 'trigger' ORDER BY name") ==
          SQLITE_OK)
        while (s.step() == SQLITE_ROW) out.emplace_back(s.text(0), squeezed(s.text(1)));
    }
    sqlite3_close(db);
    return out;
  }();
  return guards;
}

// The first "page N" SQLite's integrity check names, or 0.
int64_t pageNamed(const std::string& line) {
  for (std::size_t at = 0; (at = line.find("age ", at)) != std::string::npos; at += 4) {
    if (at == 0 || (line[at - 1] != 'p' && line[at - 1] != 'P')) continue;
    std::size_t k = at + 4;
    int64_t n = 0;
    bool digits = false;
    while (k < line.size() && line[k] >= '0' && line[k] <= '9') {
      n = n * 10 + (line[k++] - '0');
      digits = true;
    }
    if (digits) return n;
  }
  return 0;
}

// The index an integrity finding names ("row 3 missing from index x", "wrong # of entries in index x").
std::string indexNamed(const std::string& line) {
  const std::string mark = "index ";
  const std::size_t at = line.rfind(mark);
  if (at == std::string::npos) return {};
  std::string name = line.substr(at + mark.size());
  while (!name.empty() && (name.back() == ' ' || name.back() == '\n')) name.pop_back();
  return name.find(' ') == std::string::npos ? name : std::string();
}

bool hashMatches(std::string_view stored, const std::string& anchored) {
  // A protocol prints the first 12 digits; anything shorter names no entry.
  return anchored.size() >= 12 && anchored.size() <= stored.size() &&
         stored.compare(0, anchored.size(), anchored) == 0;
}

}  // namespace

// ---- the walk over whole tables ----

// Walks the entries in order with one cursor per table, each read in the order of its key: the rows
// of entry k are taken while each cursor stands at k, so every table is read once from start to end,
// and a row a cursor passes without its entry taking it belongs to no entry. The content of an entry
// goes into buffers that are reused from entry to entry, and its hash is computed as its canonical
// lines are produced: the loop allocates nothing once the buffers have grown.
class ChainWalker {
 public:
  ChainWalker(HistoryStore& store, ChainCheck& out) : store_(store), out_(out) {}

  // Walks the entries after `from`, the previous hash being `prevHash`; at most `limit` entries (<0:
  // all, and then rows left over belong to no entry). Returns SQLITE_OK or the read error.
  int run(int64_t from, const std::string& prevHash, int64_t limit);
  // Each entry found intact goes to `sink` with its canonical content.
  void passTo(const EntrySink* sink) { sink_ = sink; }
  int64_t passed() const { return passed_; }
  int64_t lastSeq() const { return lastSeq_; }
  const std::string& lastHash() const { return lastHash_; }

 private:
  struct Cursor {
    Statement* s = nullptr;
    bool has = false;
    int64_t seq = 0;
    int rc = SQLITE_OK;
    int next() {
      rc = s->step();
      has = rc == SQLITE_ROW;
      if (has) seq = s->integer(0);
      return rc;
    }
    bool at(int64_t k) const { return has && seq == k; }
    bool failed() const { return rc != SQLITE_ROW && rc != SQLITE_DONE; }
  };

  void fault(int64_t seq, std::string problem) {
    if (out_.firstBad == kNoFault || seq < out_.firstBad) {
      out_.firstBad = seq;
      out_.problem = std::move(problem);
    }
    out_.ok = false;
  }
  int readRun(int64_t seq, bool& foreign);

  HistoryStore& store_;
  ChainCheck& out_;
  Cursor entry_, run_, field_, channel_, point_, relay_, adjustment_;
  int64_t lastSeq_ = 0;
  std::string lastHash_;
  const EntrySink* sink_ = nullptr;
  int64_t passed_ = 0;

  // The reused buffers.
  EntryHeader header_;
  std::string prevHashRead_, hashRead_;
  RunRecord run_scalars_;
  std::vector<std::pair<std::string, std::string>> fields_;
  std::vector<DeviceResult> devices_;
  std::vector<RelayResult> relays_;
  std::size_t fieldCount_ = 0, deviceCount_ = 0;
  Adjustment adjustmentRow_;
  Sha256 sha_;
};

int ChainWalker::readRun(int64_t seq, bool& foreign) {
  detail::readRunRow(*run_.s, run_scalars_, foreign);
  foreign = run_.s->takeForeign() || foreign;
  if (run_.next(), run_.failed()) return run_.rc;

  fieldCount_ = 0;
  for (; field_.at(seq); field_.next()) {
    // The fields are numbered 0, 1, 2, ...; a gap means a row was taken out.
    if (field_.s->integer(1) != static_cast<int64_t>(fieldCount_)) foreign = true;
    if (fieldCount_ == fields_.size()) fields_.emplace_back();
    field_.s->textInto(2, fields_[fieldCount_].first);
    field_.s->textInto(3, fields_[fieldCount_].second);
    ++fieldCount_;
  }
  if (field_.failed()) return field_.rc;
  foreign = field_.s->takeForeign() || foreign;

  deviceCount_ = 0;
  for (; channel_.at(seq); channel_.next()) {
    if (deviceCount_ == devices_.size()) devices_.emplace_back();
    DeviceResult& d = devices_[deviceCount_++];
    detail::readChannelRow(*channel_.s, d, foreign);
    d.points.clear();
  }
  if (channel_.failed()) return channel_.rc;
  foreign = channel_.s->takeForeign() || foreign;

  std::size_t device = 0;
  for (; point_.at(seq); point_.next()) {
    int channel = 0;
    const PointResult p = detail::readPointRow(*point_.s, channel);
    while (device < deviceCount_ && devices_[device].channel < channel) ++device;
    // A point of a channel that has no device row belongs to nothing the run recorded.
    if (device == deviceCount_ || devices_[device].channel != channel)
      foreign = true;
    else
      devices_[device].points.push_back(p);
  }
  if (point_.failed()) return point_.rc;
  foreign = point_.s->takeForeign() || foreign;

  relays_.clear();
  for (; relay_.at(seq); relay_.next()) relays_.push_back(detail::readRelayRow(*relay_.s));
  if (relay_.failed()) return relay_.rc;
  foreign = relay_.s->takeForeign() || foreign;
  return SQLITE_OK;
}

int ChainWalker::run(int64_t from, const std::string& prevHash, int64_t limit) {
  using namespace detail;
  static const std::string kRun =
      std::string("SELECT ") + kRunColumns + " FROM run WHERE entry_seq > ?1 ORDER BY entry_seq";
  static const std::string kField =
      std::string("SELECT ") + kFieldColumns + " FROM run_field WHERE entry_seq > ?1 ORDER BY entry_seq, idx";
  static const std::string kChannel = std::string("SELECT ") + kChannelColumns +
                                      " FROM run_channel WHERE entry_seq > ?1 ORDER BY entry_seq, channel";
  static const std::string kPoint = std::string("SELECT ") + kPointColumns +
                                    " FROM run_point WHERE entry_seq > ?1 ORDER BY entry_seq, channel, idx";
  static const std::string kRelay = std::string("SELECT ") + kRelayColumns +
                                    " FROM run_relay WHERE entry_seq > ?1 ORDER BY entry_seq, channel, relay";
  static const std::string kAdjustment = std::string("SELECT ") + kAdjustmentColumns +
                                         " FROM adjustment WHERE entry_seq > ?1 ORDER BY entry_seq";
  const std::string entrySql =
      "SELECT seq, kind, refers_to, recorded_at, workstation, note, hash_format, prev_hash, hash, " +
      store_.operatorColumn() + " FROM entry WHERE seq > ?1 ORDER BY seq";

  // The cursors are reset when the walk ends, whichever way it leaves.
  struct Resets {
    std::vector<Statement*> all;
    ~Resets() {
      for (Statement* s : all) s->reset();
    }
  } resets;
  const std::pair<Cursor*, const std::string*> cursors[] = {
      {&entry_, &entrySql}, {&run_, &kRun},     {&field_, &kField},          {&channel_, &kChannel},
      {&point_, &kPoint},   {&relay_, &kRelay}, {&adjustment_, &kAdjustment}};
  for (const auto& [cursor, sql] : cursors) {
    cursor->s = &store_.built(*sql);
    resets.all.push_back(cursor->s);
    cursor->s->bind(1, from);
    if (cursor->next(), cursor->failed()) return cursor->rc;
  }
  Cursor* content[] = {&run_, &field_, &channel_, &point_, &relay_, &adjustment_};

  std::string prev = prevHash;
  int64_t expected = from + 1;
  lastSeq_ = from;
  lastHash_ = prevHash;
  char hex[64];
  int64_t walked = 0;
  bool stopped = false;
  for (; entry_.has; entry_.next()) {
    if (limit >= 0 && walked == limit) {
      stopped = true;
      break;
    }
    Statement& e = *entry_.s;
    const int64_t seq = entry_.seq;
    ++out_.entries;
    ++walked;
    if (seq != expected) {
      fault(expected, seq > expected ? "запись " + std::to_string(expected) + " отсутствует (удалена)"
                                     : "номер записи " + std::to_string(seq) + " повторяется");
      return SQLITE_OK;
    }
    header_.seq = seq;
    e.textInto(1, header_.kind);
    header_.refersTo = e.isNull(2) ? std::nullopt : std::optional<int64_t>(e.integer(2));
    header_.recordedAtMs = e.integer(3);
    e.textInto(4, header_.workstation);
    e.textInto(5, header_.note);
    header_.hashFormat = e.intValue(6);
    e.textInto(7, prevHashRead_);
    e.textInto(8, hashRead_);
    e.textInto(9, header_.operatorName);
    if (e.takeForeign()) {
      fault(seq, "значения записи изменены вне программы");
      return SQLITE_OK;
    }
    // Rows a cursor holds for an earlier number were taken by no entry.
    for (Cursor* c : content)
      if (c->has && c->seq < seq) {
        fault(c->seq, "в базе есть строки записи " + std::to_string(c->seq) + ", которой нет в цепочке");
        return SQLITE_OK;
      }
    if (prevHashRead_ != prev) {
      fault(seq, "ссылка на предыдущую запись не совпадает: записи переставлены, удалены или вставлены");
      return SQLITE_OK;
    }
    if (header_.hashFormat != kHashFormat1 && header_.hashFormat != kHashFormat) {
      fault(seq, "неизвестный формат хэша " + std::to_string(header_.hashFormat));
      return SQLITE_OK;
    }
    bool foreign = false;
    // Format 1 does not cover the operator: one written into such an entry was not written by the program.
    if (header_.hashFormat == kHashFormat1 && !header_.operatorName.empty()) foreign = true;
    bool hasRun = false, hasAdjustment = false;
    if (header_.kind == "run" || header_.kind == "correction") {
      if (!run_.at(seq)) {
        fault(seq, "содержимое записи удалено");
        return SQLITE_OK;
      }
      if (const int rc = readRun(seq, foreign); rc != SQLITE_OK) return rc;
      hasRun = true;
    } else if (header_.kind == "adjustment") {
      if (!adjustment_.at(seq)) {
        fault(seq, "содержимое записи удалено");
        return SQLITE_OK;
      }
      detail::readAdjustmentRow(*adjustment_.s, adjustmentRow_, foreign);
      foreign = adjustment_.s->takeForeign() || foreign;
      if (adjustment_.next(), adjustment_.failed()) return adjustment_.rc;
      hasAdjustment = true;
    } else if (header_.kind != "cancellation") {
      fault(seq, "неизвестный вид записи «" + header_.kind + "»");
      return SQLITE_OK;
    }
    if ((header_.kind == "correction" || header_.kind == "cancellation") && !header_.refersTo) {
      fault(seq, "запись не указывает, к какому запуску относится");
      return SQLITE_OK;
    }
    if (foreign) {
      fault(seq, "значения записи изменены вне программы");
      return SQLITE_OK;
    }
    // Rows of this number that an entry of this kind does not have.
    for (Cursor* c : content)
      if (c->at(seq)) {
        fault(seq, "в базе есть строки записи " + std::to_string(seq) + ", которых у записи такого вида нет");
        return SQLITE_OK;
      }
    const RunView view{&run_scalars_,
                       {fields_.data(), fieldCount_},
                       {devices_.data(), deviceCount_},
                       {relays_.data(), relays_.size()}};
    hashEntry(sha_, prev, header_, hasRun ? &view : nullptr, hasAdjustment ? &adjustmentRow_ : nullptr, hex);
    if (hashRead_.size() != 64 || std::memcmp(hashRead_.data(), hex, 64) != 0) {
      fault(seq, "содержимое записи изменено (хэш не совпадает)");
      return SQLITE_OK;
    }
    if (sink_) {
      const std::string canonical =
          canonicalOf(header_, hasRun ? &view : nullptr, hasAdjustment ? &adjustmentRow_ : nullptr);
      ChainEntry passed;
      passed.header = &header_;
      passed.prevHash = prev;
      passed.hash = std::string_view(hex, 64);
      passed.canonical = canonical;
      if (hasRun) {
        passed.run = &run_scalars_;
        passed.devices = devices_.data();
        passed.deviceCount = deviceCount_;
      }
      ++passed_;
      if (!(*sink_)(passed)) {
        stopped = true;
        break;
      }
    }
    prev.assign(hex, 64);
    lastSeq_ = seq;
    lastHash_ = prev;
    ++expected;
  }
  if (entry_.failed()) return entry_.rc;
  if (stopped) return SQLITE_OK;
  // Rows past the last entry belong to no entry.
  int64_t orphan = 0;
  for (Cursor* c : content)
    if (c->has && (orphan == 0 || c->seq < orphan)) orphan = c->seq;
  if (orphan != 0)
    fault(orphan, "в базе есть строки записи " + std::to_string(orphan) + ", которой нет в цепочке");
  return SQLITE_OK;
}

// ---- the pieces of a check ----

Statement& HistoryStore::built(const std::string& sql) {
  auto& slot = builtStatements_[sql];
  if (!slot) slot = std::make_unique<Statement>();
  if (!slot->get()) slot->prepare(db_, sql.c_str());
  return *slot;
}

std::string HistoryStore::guardProblem() {
  std::vector<std::pair<std::string, std::string>> found;
  {
    Use s(stmt("SELECT name, sql FROM sqlite_master WHERE type = 'trigger' ORDER BY name"));
    while (s->step() == SQLITE_ROW) found.emplace_back(s->text(0), squeezed(s->text(1)));
  }
  std::string missing, changed, added;
  auto append = [](std::string& list, const std::string& name) { list += (list.empty() ? "" : ", ") + name; };
  auto named = [](const std::vector<std::pair<std::string, std::string>>& list, const std::string& name) {
    return std::find_if(list.begin(), list.end(), [&name](const auto& g) { return g.first == name; });
  };
  for (const auto& guard : expectedGuards()) {
    const auto it = named(found, guard.first);
    if (it == found.end())
      append(missing, guard.first);
    else if (it->second != guard.second)
      append(changed, guard.first);
  }
  for (const auto& trigger : found)
    if (named(expectedGuards(), trigger.first) == expectedGuards().end()) append(added, trigger.first);
  std::string out;
  if (!missing.empty()) out = "защита записей от изменения снята (удалены триггеры " + missing + ")";
  if (!changed.empty()) out += (out.empty() ? "" : "; ") + std::string("изменены триггеры защиты ") + changed;
  if (!added.empty()) out += (out.empty() ? "" : "; ") + std::string("добавлены чужие триггеры ") + added;
  return out;
}

bool HistoryStore::upgradeSchema() {
  if (exec("ALTER TABLE entry ADD COLUMN operator_name TEXT NOT NULL DEFAULT ''") != SQLITE_OK) return false;
  if (exec("UPDATE history_meta SET value = '2' WHERE name = 'schema_version'") != SQLITE_OK) return false;
  schemaVersion_ = 2;
  return true;
}

namespace {

struct Finding {
  AnchorFinding finding;
  int64_t firstBad = 0;  // the entry to name when it is a fault
};

// The file against one anchor. `last` is the file's last entry; `hashAt` gives an entry's hash (empty
// when there is none).
template <class HashAt>
Finding compareAnchor(const Anchor& a, int64_t last, bool zeroBytes, HashAt&& hashAt) {
  Finding f;
  f.finding.source = a.source;
  f.finding.seq = a.seq;
  auto set = [&f](AnchorFinding::Status status, int64_t bad, std::string message) {
    f.finding.status = status;
    f.firstBad = bad;
    f.finding.message = std::move(message);
  };
  const int64_t anchored = std::max(a.seq, a.pendingSeq);
  if (!a.firstHash.empty() && last >= 1 && anchored >= 1 && hashAt(1) != a.firstHash) {
    set(AnchorFinding::Status::Differs, 1,
        "файл заменён другой историей: её первая запись не та, что помнит " + a.source);
    return f;
  }
  if (a.seq > last) {
    if (a.ofOriginal) {
      set(AnchorFinding::Status::OlderCopy, 0,
          "это копия старше истории, которую помнит " + a.source + ": в копии записи по " +
              std::to_string(last) + ", а записано уже " + std::to_string(a.seq));
    } else if (zeroBytes && last == 0) {
      set(AnchorFinding::Status::Behind, 1,
          "файл пуст (0 байт), а " + a.source + " помнит запись " + std::to_string(a.seq));
    } else {
      set(AnchorFinding::Status::Behind, last + 1,
          "последние записи удалены: " + a.source + " помнит запись " + std::to_string(a.seq) +
              ", а в файле последняя — " + std::to_string(last));
    }
    return f;
  }
  if (a.seq > 0 && !hashMatches(hashAt(a.seq), a.hash)) {
    set(AnchorFinding::Status::Differs, a.seq,
        "запись " + std::to_string(a.seq) + " не та, что помнит " + a.source + ": файл заменён или изменён");
    return f;
  }
  if (a.head && last > a.seq) {
    // A write that was being committed when the program stopped may have reached the file.
    if (a.pendingSeq == last && hashMatches(hashAt(last), a.pendingHash)) return f;
    set(AnchorFinding::Status::Ahead, a.seq + 1,
        "запись " + std::to_string(a.seq + 1) + " добавлена не этой программой: " + a.source +
            " помнит последней запись " + std::to_string(a.seq));
  }
  return f;
}

}  // namespace

std::vector<Anchor> HistoryStore::anchorsNow(const std::string& firstHash) const {
  std::vector<Anchor> out;
  AnchorBook book(options_.anchorFolder);
  for (const RememberedHead& h : book.heads()) {
    Anchor a;
    a.seq = h.seq;
    a.hash = h.hash;
    a.head = true;
    a.pendingSeq = h.pendingSeq;
    a.pendingHash = h.pendingHash;
    a.firstHash = h.firstHash;
    if (h.path == canonicalPath_) {
      a.source = "рабочая станция (отметка в " + inQuotes(book.anchorsFile()) + ")";
    } else if (!firstHash.empty() && h.firstHash == firstHash) {
      // Another file of the same history: this one is a copy of it, or it of this one.
      a.ofOriginal = true;
      a.source = "рабочая станция для истории " + inQuotes(h.path);
    } else {
      continue;
    }
    out.push_back(std::move(a));
  }
  out.insert(out.end(), options_.anchors.begin(), options_.anchors.end());
  return out;
}

Error HistoryStore::brokenChain(const ChainCheck& c) const {
  const std::string where = c.firstBad > 0 ? "запись " + std::to_string(c.firstBad) + ": " : std::string();
  return error(ErrorCode::ChainBroken,
               "История поверок " + inQuotes(path_) + " изменена вне программы — " + where + c.problem +
                   ". Данные не показаны: проверьте историю полностью и восстановите её из "
                   "резервной копии.");
}

Error HistoryStore::headWriteCheck(int64_t lastSeq, const std::string& lastHash) {
  if (options_.anchorFolder.empty()) return {};
  std::string unreadable;
  const std::optional<RememberedHead> h =
      AnchorBook(options_.anchorFolder).headOf(canonicalPath_, &unreadable);
  if (!unreadable.empty())
    return error(ErrorCode::Io, "Не удалось прочитать отметку истории: " + unreadable + ".");
  if (!h) return {};
  Anchor a;
  a.source = "эта программа";
  a.seq = h->seq;
  a.hash = h->hash;
  a.head = true;
  a.pendingSeq = h->pendingSeq;
  a.pendingHash = h->pendingHash;
  a.firstHash = h->firstHash;
  auto hashAt = [&](int64_t seq) -> std::string {
    if (seq == lastSeq) return lastHash;
    Use s(stmt("SELECT hash FROM entry WHERE seq = ?"));
    s->bind(1, seq);
    return s->step() == SQLITE_ROW ? s->text(0) : std::string();
  };
  const Finding f = compareAnchor(a, lastSeq, zeroBytes_, hashAt);
  if (f.finding.status == AnchorFinding::Status::Matches) return {};
  return error(ErrorCode::ChainBroken, "История поверок " + inQuotes(path_) +
                                           " не та, что записывала эта программа: " + f.finding.message +
                                           ". Запись не добавлена; восстановите историю из резервной копии.");
}

// ---- the checks ----

Result<ChainCheck> HistoryStore::walk(int64_t from, const std::string& prevHash, bool full,
                                      const std::vector<Anchor>& more, const std::vector<int64_t>& shown) {
  ChainCheck out;
  out.ok = true;
  out.verifiedFrom = from + 1;
  int rc;
  if (full && !empty_) {
    // Damaged pages first: the chain of a damaged file cannot be read reliably. The full integrity
    // check also compares every index with its table, which a quick check does not.
    Statement s;
    rc = s.prepare(db_, "PRAGMA integrity_check(20)");
    std::vector<std::string> lines;
    if (rc == SQLITE_OK)
      while ((rc = s.step()) == SQLITE_ROW) lines.push_back(s.text(0));
    // A badly damaged file ends the findings with SQLite's own error; what was found until then
    // names the place.
    if (rc != SQLITE_DONE && (lines.empty() || (rc & 0xff) != SQLITE_CORRUPT))
      return sqliteError(rc, "проверить историю");
    if (lines.empty() || lines.front() != "ok") {
      std::string first = lines.empty() ? std::string() : lines.front();
      for (const std::string& l : lines)
        if (l.rfind("***", 0) != 0) {
          first = l;
          break;
        }
      const int64_t page = [&] {
        for (const std::string& l : lines)
          if (const int64_t p = pageNamed(l)) return p;
        return int64_t{0};
      }();
      std::string index;
      for (const std::string& l : lines)
        if (index.empty()) index = indexNamed(l);
      std::string what;
      if (page > 0) {
        what = "повреждена страница " + std::to_string(page) + " файла";
        Statement owner;
        if (owner.prepare(db_, "SELECT name FROM dbstat WHERE pageno = ?") == SQLITE_OK) {
          owner.bind(1, page);
          if (owner.step() == SQLITE_ROW) what += " (" + owner.text(0) + ")";
        }
      } else if (!index.empty()) {
        what = "индекс " + index + " не совпадает со своей таблицей";
      } else {
        what = "структура файла нарушена";
      }
      return error(ErrorCode::Damaged, "База истории " + inQuotes(path_) + " повреждена: " + what +
                                           " (SQLite: " + first + "). Восстановите файл из резервной копии.");
    }
  }

  auto fault = [&out](int64_t seq, std::string problem) {
    if (out.ok || (seq > 0 && (out.firstBad == 0 || seq < out.firstBad))) {
      out.firstBad = seq;
      out.problem = std::move(problem);
    }
    out.ok = false;
  };

  // The file's last entry and its first (what the anchors compare).
  int64_t last = 0;
  std::string firstHash;
  auto hashAt = [this](int64_t seq) -> std::string {
    Use s(stmt("SELECT hash FROM entry WHERE seq = ?"));
    s->bind(1, seq);
    return s->step() == SQLITE_ROW ? s->text(0) : std::string();
  };
  if (!empty_) {
    Use s(stmt("SELECT seq, hash FROM entry ORDER BY seq DESC LIMIT 1"));
    rc = s->step();
    if (rc == SQLITE_ROW) {
      last = s->integer(0);
      out.head = last;
      out.headHash = s->text(1);
    } else if (rc != SQLITE_DONE) {
      return sqliteError(rc, "проверить историю");
    }
    if (last > 0) firstHash = hashAt(1);
  } else if (zeroBytes_ && full) {
    fault(1, "файл пуст (0 байт): в нём нет истории поверок");
  }

  if (!empty_) {
    // Another program may have taken the file to a newer schema since it was opened (its first write
    // into a history of schema 1): the entries are read by the schema they have now.
    {
      Use s(stmt("SELECT value FROM history_meta WHERE name = 'schema_version'"));
      if (s->step() == SQLITE_ROW) {
        const std::string text = s->text(0);
        char* end = nullptr;
        const long version = std::strtol(text.c_str(), &end, 10);
        if (!text.empty() && *end == 0 && version >= 1 && version <= kSchemaVersion)
          schemaVersion_ = static_cast<int>(version);
      }
    }
    ChainWalker walker(*this, out);
    rc = walker.run(from, prevHash, -1);
    if (rc != SQLITE_OK) return sqliteError(rc, "проверить историю");
    // The last entry the program wrote: entries missing at the end leave no gap in the chain.
    if (out.ok) {
      std::string headSeq, headHash;
      {
        Use s(stmt("SELECT name, value FROM history_meta WHERE name IN ('head_seq', 'head_hash')"));
        while ((rc = s->step()) == SQLITE_ROW) (s->text(0) == "head_seq" ? headSeq : headHash) = s->text(1);
        if (rc != SQLITE_DONE) return sqliteError(rc, "проверить историю");
      }
      const int64_t walkedTo = walker.lastSeq();
      char* end = nullptr;
      const int64_t head = std::strtoll(headSeq.c_str(), &end, 10);
      if (headSeq.empty() || headHash.empty() || *end != 0 || head < 0)
        fault(walkedTo + 1, "нет отметки последней записи");
      else if (head > walkedTo)
        fault(walkedTo + 1, "последние записи удалены: программа записала " + headSeq + ", в базе " +
                                std::to_string(walkedTo));
      else if (head < walkedTo)
        fault(head + 1, "запись добавлена не этой программой");
      else if (headHash != walker.lastHash())
        fault(walkedTo, "последняя запись заменена");
    }

    // The entries a read is about to show that were checked before: their content again, and the links
    // from them to the position checked then.
    std::vector<int64_t> older;
    for (int64_t seq : shown)
      if (seq >= 1 && seq <= from) older.push_back(seq);
    std::sort(older.begin(), older.end());
    older.erase(std::unique(older.begin(), older.end()), older.end());
    for (int64_t seq : older) {
      if (!out.ok && out.firstBad > 0 && out.firstBad <= seq) break;
      std::string ownPrev;
      {
        Use s(stmt("SELECT prev_hash FROM entry WHERE seq = ?"));
        s->bind(1, seq);
        rc = s->step();
        if (rc == SQLITE_ROW) ownPrev = s->text(0);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqliteError(rc, "проверить историю");
      }
      ChainCheck one;
      one.ok = true;
      ChainWalker again(*this, one);
      rc = again.run(seq - 1, ownPrev, 1);
      if (rc != SQLITE_OK) return sqliteError(rc, "проверить историю");
      if (!one.ok) fault(one.firstBad, one.problem);
    }
    if (!older.empty() && out.ok) {
      Use s(stmt("SELECT seq, prev_hash, hash FROM entry WHERE seq >= ?1 AND seq <= ?2 ORDER BY seq"));
      s->bind(1, older.front());
      s->bind(2, from);
      int64_t expected = older.front();
      std::string prev;
      while ((rc = s->step()) == SQLITE_ROW) {
        const int64_t seq = s->integer(0);
        if (seq != expected) {
          fault(expected, "запись " + std::to_string(expected) + " отсутствует (удалена)");
          break;
        }
        if (seq > older.front() && s->textView(1) != prev) {
          fault(seq, "ссылка на предыдущую запись не совпадает: записи переставлены, удалены или вставлены");
          break;
        }
        s->textInto(2, prev);
        ++expected;
      }
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqliteError(rc, "проверить историю");
      if (out.ok && (expected != from + 1 || prev != prevHash))
        fault(from, "запись изменена после прошлой проверки (хэш не совпадает)");
    }
  }

  for (const Anchor& a : [&] {
         std::vector<Anchor> all = anchorsNow(firstHash);
         all.insert(all.end(), more.begin(), more.end());
         return all;
       }()) {
    const Finding f = compareAnchor(a, last, zeroBytes_, hashAt);
    out.anchors.push_back(f.finding);
    if (f.finding.status == AnchorFinding::Status::OlderCopy)
      out.note = f.finding.message;
    else if (f.finding.status != AnchorFinding::Status::Matches)
      fault(f.firstBad, f.finding.message);
  }
  if (!empty_) {
    if (const std::string guards = guardProblem(); !guards.empty()) {
      if (out.ok)
        fault(0, guards);
      else
        out.problem += "; кроме того, " + guards;
    }
  }
  return out;
}

Result<ChainCheck> HistoryStore::check(const std::vector<Anchor>& more) {
  ReadTransaction read(*this);
  Result<ChainCheck> r = walk(0, kGenesisHash, true, more, {});
  if (r && r->ok && r->head > 0) {
    verifiedSeq_ = r->head;
    verifiedHash_ = r->headHash;
    AnchorBook(options_.anchorFolder).noteChecked(canonicalPath_, r->head, r->headHash);
  }
  return r;
}

Result<int64_t> HistoryStore::entriesAfter(int64_t from, const EntrySink& sink) {
  ReadTransaction read(*this);
  Result<ChainCheck> checked = checkForRead();
  if (!checked) return checked.error();
  if (from < 0 || from > checked->head)
    return error(ErrorCode::NotFound, "В истории поверок " + inQuotes(path_) + " нет записи " +
                                          std::to_string(from) + " (последняя " +
                                          std::to_string(checked->head) + ")");
  if (from == checked->head) return int64_t{0};
  std::string prev = kGenesisHash;
  if (from > 0) {
    Use s(stmt("SELECT hash FROM entry WHERE seq = ?"));
    s->bind(1, from);
    const int rc = s->step();
    if (rc != SQLITE_ROW) return sqliteError(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc, "прочитать историю");
    prev = s->text(0);
  }
  ChainCheck out;
  out.ok = true;
  ChainWalker walker(*this, out);
  walker.passTo(&sink);
  const int rc = walker.run(from, prev, -1);
  if (rc != SQLITE_OK) return sqliteError(rc, "прочитать историю");
  if (!out.ok) return brokenChain(out);
  return walker.passed();
}

Result<ChainCheck> HistoryStore::checkForRead(const std::vector<int64_t>& shown) {
  ReadTransaction read(*this);
  // The last position found intact, trusted while its entry still carries the hash it had: this
  // connection's, else the one kept beside the anchors.
  int64_t from = 0;
  std::string prev = kGenesisHash;
  if (!empty_) {
    std::vector<std::pair<int64_t, std::string>> candidates;
    if (verifiedSeq_ > 0) candidates.emplace_back(verifiedSeq_, verifiedHash_);
    if (const std::optional<CheckedPosition> kept =
            AnchorBook(options_.anchorFolder).checkedOf(canonicalPath_))
      candidates.emplace_back(kept->seq, kept->hash);
    std::sort(candidates.begin(), candidates.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [seq, hash] : candidates) {
      Use s(stmt("SELECT hash FROM entry WHERE seq = ?"));
      s->bind(1, seq);
      const int rc = s->step();
      if (rc == SQLITE_ROW && s->textView(0) == hash) {
        from = seq;
        prev = hash;
        break;
      }
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqliteError(rc, "проверить историю");
    }
  }
  Result<ChainCheck> r = walk(from, prev, false, {}, shown);
  if (!r) return r;
  lastReadCheck_ = *r;
  if (!r->ok) return brokenChain(*r);
  if (r->head > 0 && r->head != verifiedSeq_) {
    const bool moved = r->head != from;
    verifiedSeq_ = r->head;
    verifiedHash_ = r->headHash;
    if (moved) AnchorBook(options_.anchorFolder).noteChecked(canonicalPath_, r->head, r->headHash);
  }
  return r;
}

}  // namespace quarn::history
