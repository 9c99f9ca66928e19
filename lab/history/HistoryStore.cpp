#include "HistoryStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>

#include "HistoryAnchors.h"
#include "RunPairing.h"
#include "canonical.h"
#include "history_rows.h"
#include "history_schema_sql.h"
#include "history_transaction.h"
#include "sqlite_statement.h"

namespace quarn::history {

using detail::Statement;
using detail::Use;

namespace {

// The tables schema 1 must have.
constexpr const char* kTables[] = {"history_meta", "entry",     "run",       "run_field",
                                   "run_channel",  "run_point", "run_relay", "adjustment"};

// A result code of our own for "no such row" in the readers.
constexpr int kNoRow = -1;

std::string inQuotes(const std::string& path) { return "«" + path + "»"; }

Error error(ErrorCode code, std::string message) { return Error{code, std::move(message)}; }

// The schema as SQLite keeps it: the marked tables without a rowid of their own.
std::string sqliteSchema() {
  std::string sql = kSchemaSql;
  const std::string marker = "/*WITHOUT_ROWID*/";
  for (std::size_t at; (at = sql.find(marker)) != std::string::npos;)
    sql.replace(at, marker.size(), "WITHOUT ROWID");
  return sql;
}

}  // namespace

std::string defaultAnchorFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/quarn";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/quarn";
  return {};
}

int64_t localDay(int64_t msUtc, int utcOffsetMin) {
  const int64_t local = msUtc + int64_t{utcOffsetMin} * 60000;
  const int64_t day = 86400000;
  return local >= 0 ? local / day : (local - day + 1) / day;
}

struct HistoryStore::EntryRow {
  int64_t seq = 0;
  std::string kind;
  std::optional<int64_t> refersTo;
  int64_t recordedAtMs = 0;
  std::string workstation;
  std::string note;
  std::string operatorName;
  int hashFormat = kHashFormat;
  std::string prevHash;
  std::string hash;

  EntryHeader header() const {
    return EntryHeader{seq, kind, refersTo, recordedAtMs, workstation, note, operatorName, hashFormat};
  }
};

HistoryStore::HistoryStore(sqlite3* db, std::string path, OpenOptions options)
    : db_(db), path_(std::move(path)), options_(std::move(options)) {}

HistoryStore::~HistoryStore() {
  // Statements go before the connection they belong to (a connection with one left is not closed).
  statements_.clear();
  builtStatements_.clear();
  sqlite3_close(db_);
}

int64_t HistoryStore::now() const {
  if (options_.clock) return options_.clock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Statement& HistoryStore::stmt(const char* sql) {
  auto& slot = statements_[sql];
  if (!slot) slot = std::make_unique<Statement>();
  // A statement that did not prepare (the schema was locked or damaged) is tried again next time;
  // meanwhile its steps fail with the reason.
  if (!slot->get()) slot->prepare(db_, sql);
  return *slot;
}

int HistoryStore::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

Error HistoryStore::sqliteError(int rc, const std::string& what) const {
  const std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  const std::string file = inQuotes(path_);
  const std::string tail = " (SQLite: " + detail + ")";
  switch (rc & 0xff) {
    case SQLITE_NOTADB:
      return error(ErrorCode::NotADatabase,
                   "Файл " + file + " не является базой истории поверок: это не база SQLite" + tail + ".");
    case SQLITE_CORRUPT:
      return error(ErrorCode::Damaged, "База истории " + file + " повреждена" + tail + ": не удалось " +
                                           what +
                                           ". Программа в файл ничего не записала; восстановите его "
                                           "из резервной копии.");
    case SQLITE_READONLY:
      return error(ErrorCode::ReadOnly, "База истории " + file + " доступна только для чтения" + tail +
                                            ": не удалось " + what + ".");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return error(ErrorCode::Locked, "База истории " + file + " занята другой программой" + tail +
                                          ": не удалось " + what + ". Повторите позже.");
    case SQLITE_FULL:
      return error(ErrorCode::DiskFull, "Нет места на диске для базы истории " + file + tail +
                                            ": не удалось " + what + ", прежние записи целы.");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return error(ErrorCode::CannotOpen, "Не удалось открыть базу истории " + file + tail + ".");
    default:
      return error(ErrorCode::Io, "Ошибка базы истории " + file + tail + ": не удалось " + what + ".");
  }
}

// ---- opening ----

Result<std::unique_ptr<HistoryStore>> HistoryStore::open(const std::string& path, OpenOptions options) {
  namespace fs = std::filesystem;
  if (options.image) {
    // SQLite reads the caller's bytes where they are (read-only: it never writes into them).
    const std::string_view bytes = *options.image;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK)
      rc = sqlite3_deserialize(db, "main", reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                               static_cast<sqlite3_int64>(bytes.size()),
                               static_cast<sqlite3_int64>(bytes.size()), SQLITE_DESERIALIZE_READONLY);
    options.readOnly = true;
    options.anchorFolder.clear();
    std::unique_ptr<HistoryStore> store(new HistoryStore(db, path, std::move(options)));
    store->canonicalPath_ = path;
    store->zeroBytes_ = bytes.empty();
    if (rc != SQLITE_OK) return store->sqliteError(rc, "открыть");
    const Result<bool> ready = store->initialise();
    if (!ready) return ready.error();
    return store;
  }
  if (path.empty()) return error(ErrorCode::CannotOpen, "Не задан файл истории поверок.");
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (fs::is_directory(st))
    return error(ErrorCode::CannotOpen, inQuotes(path) + " — папка, а не файл истории поверок.");
  if (fs::exists(st)) {
    // A device reports no size: SQLite takes it for an empty database and tries to write one onto it.
    if (!fs::is_regular_file(st))
      return error(ErrorCode::CannotOpen, inQuotes(path) +
                                              " не является обычным файлом: историю поверок в нём не "
                                              "открыть.");
  } else if (options.readOnly) {
    return error(ErrorCode::CannotOpen, "Файл истории поверок " + inQuotes(path) + " не найден.");
  } else {
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec))
      return error(ErrorCode::CannotOpen, "Папка " + inQuotes(parent.string()) +
                                              " не существует: файл истории поверок " + inQuotes(path) +
                                              " негде создать.");
  }

  // A history this program remembers writing is never made anew: a missing or empty file there lost
  // the history, and a new one would hide that.
  const std::string anchorPath = anchorPathOf(path);
  const bool exists = fs::exists(st);
  const bool zeroBytes = exists && fs::file_size(path, ec) == 0 && !ec;
  bool keepEmpty = false;
  if (!options.anchorFolder.empty() && (!exists || zeroBytes)) {
    const std::optional<RememberedHead> head = AnchorBook(options.anchorFolder).headOf(anchorPath);
    if (head && (head->seq > 0 || head->pendingSeq > 0)) {
      if (!exists)
        return error(ErrorCode::ChainBroken,
                     "Файл истории поверок " + inQuotes(path) +
                         " отсутствует, а эта программа записала в него " + std::to_string(head->seq) +
                         " записей (отметка в " + inQuotes(AnchorBook(options.anchorFolder).anchorsFile()) +
                         "). Восстановите файл из резервной копии; новая история на его месте не создана.");
      keepEmpty = true;
    }
  }

  const bool readOnly = options.readOnly || keepEmpty;
  // A store is used from one thread: its connection goes without SQLite's own mutex, which every
  // column read would otherwise take.
  const int flags =
      (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &db, flags, options.vfs.empty() ? nullptr : options.vfs.c_str());
  std::unique_ptr<HistoryStore> store(new HistoryStore(db, path, std::move(options)));
  store->canonicalPath_ = anchorPath;
  store->zeroBytes_ = zeroBytes;
  if (rc != SQLITE_OK) return store->sqliteError(rc, "открыть");
  const Result<bool> ready = store->initialise();
  if (!ready) return ready.error();
  // An empty file at an anchored place opens for reading only, so its check can say what was lost.
  if (keepEmpty) store->readOnly_ = store->options_.readOnly;
  store->keepEmpty_ = keepEmpty;
  return store;
}

Result<bool> HistoryStore::initialise() {
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, options_.busyTimeoutMs);

  // The first read tells a file that is no database, or a damaged one, from a history. `objects`
  // counts everything in the schema, so a database of views alone is not taken for an empty one.
  int objects = 0;
  auto readTables = [this, &objects](std::set<std::string>& names) {
    names.clear();
    objects = 0;
    Statement s;
    int rc = s.prepare(db_, "SELECT type, name FROM sqlite_master");
    if (rc != SQLITE_OK) return rc;
    while ((rc = s.step()) == SQLITE_ROW) {
      ++objects;
      if (s.text(0) == "table") names.insert(s.text(1));
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  };
  std::set<std::string> tables;
  int rc = readTables(tables);
  if (rc != SQLITE_OK) return sqliteError(rc, "открыть");
  readOnly_ = options_.readOnly || sqlite3_db_readonly(db_, "main") == 1;

  if (objects == 0) {
    if (readOnly_) {
      empty_ = true;
      return true;
    }
    // A new (or zero-length) file: WAL first, then the schema in one transaction. Another program
    // creating it at the same moment is waited for, and its schema is taken as it is.
    exec("PRAGMA journal_mode = WAL");
    rc = exec("BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return sqliteError(rc, "создать базу");
    rc = readTables(tables);
    if (rc == SQLITE_OK && objects == 0) {
      rc = exec(sqliteSchema().c_str());
      if (rc == SQLITE_OK) rc = exec(kSchemaSqliteSql);
      if (rc == SQLITE_OK) {
        Statement s;
        rc = s.prepare(db_, "INSERT INTO history_meta (name, value) VALUES ('created_at', ?)");
        if (rc == SQLITE_OK) {
          s.bind(1, std::to_string(now()));
          rc = s.step() == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_);
        }
      }
    }
    if (rc == SQLITE_OK) rc = exec("COMMIT");
    if (rc != SQLITE_OK) {
      const Error e = sqliteError(rc, "создать базу");
      exec("ROLLBACK");
      return e;
    }
    rc = readTables(tables);
    if (rc != SQLITE_OK) return sqliteError(rc, "открыть");
  }

  if (!tables.count("history_meta"))
    return error(ErrorCode::NotAHistory,
                 "Файл " + inQuotes(path_) +
                     " — база данных другой программы, а не история поверок; в неё ничего "
                     "не записано.");
  {
    Statement s;
    rc = s.prepare(db_, "SELECT value FROM history_meta WHERE name = 'schema_version'");
    if (rc == SQLITE_OK) rc = s.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqliteError(rc, "открыть");
    const std::string text = rc == SQLITE_ROW ? s.text(0) : std::string();
    char* end = nullptr;
    const long version = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || version < 1)
      return error(ErrorCode::Damaged, "База истории " + inQuotes(path_) +
                                           " повреждена: не указана версия её схемы. Программа в файл ничего "
                                           "не записала; восстановите его из резервной копии.");
    schemaVersion_ = static_cast<int>(version);
    if (version > kSchemaVersion)
      return error(ErrorCode::NewerSchema, "База истории " + inQuotes(path_) +
                                               " записана более новой версией программы (схема " +
                                               std::to_string(version) + ", эта программа знает схему " +
                                               std::to_string(kSchemaVersion) +
                                               "). Откройте её новой версией программы; файл не изменён.");
  }
  for (const char* t : kTables)
    if (!tables.count(t))
      return error(ErrorCode::Damaged,
                   "База истории " + inQuotes(path_) + " повреждена: нет таблицы " + t +
                       ". Программа в файл ничего не записала; восстановите его из резервной копии.");

  if (!readOnly_) exec("PRAGMA journal_mode = WAL");
  exec(options_.durable ? "PRAGMA synchronous = FULL" : "PRAGMA synchronous = NORMAL");
  exec("PRAGMA foreign_keys = ON");
  return true;
}

// ---- writing ----

namespace {

std::string validate(const RunRecord& run) {
  if (run.devices.empty()) return "в запуске нет ни одного прибора";
  std::set<int> channels;
  for (const DeviceResult& d : run.devices) {
    if (d.channel < 1 || d.channel > 4) return "номер канала " + std::to_string(d.channel) + " вне 1..4";
    if (!channels.insert(d.channel).second) return "канал " + std::to_string(d.channel) + " указан дважды";
    std::set<int> points;
    for (const PointResult& p : d.points) {
      if (p.index < 0 || p.index > 199)
        return "номер точки " + std::to_string(p.index) + " канала " + std::to_string(d.channel) +
               " вне 0..199";
      if (!points.insert(p.index).second)
        return "точка " + std::to_string(p.index) + " канала " + std::to_string(d.channel) +
               " указана дважды";
    }
  }
  std::set<std::pair<int, int>> relays;
  for (const RelayResult& r : run.relays) {
    if (r.channel < 1 || r.channel > 4 || r.relay < 1 || r.relay > 2)
      return "реле " + std::to_string(r.relay) + " канала " + std::to_string(r.channel) + " вне 1..2 / 1..4";
    if (!relays.insert({r.channel, r.relay}).second)
      return "реле " + std::to_string(r.relay) + " канала " + std::to_string(r.channel) + " указано дважды";
  }
  return {};
}

}  // namespace

Result<int64_t> HistoryStore::append(EntryRow& e, const RunRecord* run, const Adjustment* adjustment,
                                     const std::function<Error(EntryRow&)>& resolve) {
  const std::string what = e.kind == "adjustment" ? "сохранить настройку прибора" : "сохранить запуск";
  if (keepEmpty_)
    return error(ErrorCode::ChainBroken,
                 "Файл истории поверок " + inQuotes(path_) +
                     " пуст, а эта программа уже записала в него записи: не удалось " + what +
                     ". Восстановите файл из резервной копии.");
  if (readOnly_)
    return error(ErrorCode::ReadOnly,
                 "База истории " + inQuotes(path_) + " открыта только для чтения: не удалось " + what + ".");
  if (empty_)
    return error(ErrorCode::ReadOnly,
                 "База истории " + inQuotes(path_) + " пуста и открыта только для чтения.");

  int rc = exec("BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) {
    const Error err = sqliteError(rc, what);
    exec("ROLLBACK");
    return err;
  }
  const int versionBefore = schemaVersion_;
  auto fail = [&](Error err) {
    exec("ROLLBACK");
    schemaVersion_ = versionBefore;
    return err;
  };
  // A history whose guards were taken away was open to edits: nothing more is added to it.
  if (const std::string missing = guardProblem(); !missing.empty())
    return fail(error(ErrorCode::ChainBroken, "История поверок " + inQuotes(path_) +
                                                  " изменена вне программы: " + missing + ". Не удалось " +
                                                  what + "."));
  if (schemaVersion_ < kSchemaVersion && !upgradeSchema())
    return fail(sqliteError(sqlite3_errcode(db_), what));
  if (resolve) {
    Error err = resolve(e);
    if (err.code != ErrorCode::None) return fail(std::move(err));
  }
  // The last entry, read inside the write lock, so two programs never chain onto the same entry.
  int64_t lastSeq = 0;
  {
    Use s(stmt("SELECT seq, hash FROM entry ORDER BY seq DESC LIMIT 1"));
    rc = s->step();
    if (rc == SQLITE_ROW) {
      lastSeq = s->integer(0);
      e.seq = lastSeq + 1;
      e.prevHash = s->text(1);
    } else if (rc == SQLITE_DONE) {
      e.seq = 1;
      e.prevHash = kGenesisHash;
    } else {
      return fail(sqliteError(rc, what));
    }
  }
  if (Error err = headWriteCheck(lastSeq, e.prevHash); err.code != ErrorCode::None)
    return fail(std::move(err));
  e.hashFormat = kHashFormat;
  {
    const RunView view = run ? RunView::of(*run) : RunView{};
    char hex[64];
    Sha256 sha;
    hashEntry(sha, e.prevHash, e.header(), run ? &view : nullptr, adjustment, hex);
    e.hash.assign(hex, 64);
  }
  {
    Use s(stmt(
        "INSERT INTO entry (seq, kind, refers_to, recorded_at, workstation, note, hash_format, prev_hash, "
        "hash, operator_name) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    s->bind(1, e.seq);
    s->bind(2, e.kind);
    if (e.refersTo)
      s->bind(3, *e.refersTo);
    else
      s->bindNull(3);
    s->bind(4, e.recordedAtMs);
    s->bind(5, e.workstation);
    s->bind(6, e.note);
    s->bindInt(7, e.hashFormat);
    s->bind(8, e.prevHash);
    s->bind(9, e.hash);
    s->bind(10, e.operatorName);
    rc = s->step();
  }
  if (rc == SQLITE_DONE && run) rc = insertRun(e.seq, *run);
  if (rc == SQLITE_DONE && adjustment) rc = insertAdjustment(e.seq, *adjustment);
  if (rc == SQLITE_DONE) {
    Use s(
        stmt("UPDATE history_meta SET value = CASE name WHEN 'head_seq' THEN ? ELSE ? END "
             "WHERE name IN ('head_seq', 'head_hash')"));
    s->bind(1, std::to_string(e.seq));
    s->bind(2, e.hash);
    rc = s->step();
  }
  if (rc != SQLITE_DONE) return fail(sqliteError(rc, what));

  // The head is remembered outside the file before the commit (as a write that may end the history)
  // and confirmed after it: a program stopped in between finds either head acceptable.
  AnchorBook book(options_.anchorFolder);
  bool anchored = false;
  std::string firstHash = e.hash;
  if (book.enabled()) {
    std::string unreadable;
    anchored = options_.keepHead || book.headOf(canonicalPath_, &unreadable).has_value();
    if (!unreadable.empty())
      return fail(error(ErrorCode::Io, "Не удалось " + what + ": " + unreadable + "."));
    if (anchored && e.seq > 1) {
      Use s(stmt("SELECT hash FROM entry WHERE seq = 1"));
      if (s->step() == SQLITE_ROW) firstHash = s->text(0);
    }
    if (anchored) {
      const std::string noted =
          book.notePending(canonicalPath_, lastSeq, e.prevHash, e.seq, e.hash, firstHash);
      if (!noted.empty())
        return fail(error(ErrorCode::Io, "Не удалось " + what +
                                             ": отметка последней записи истории не сохранена (" + noted +
                                             "); запись не добавлена."));
    }
  }
  rc = exec("COMMIT");
  if (rc != SQLITE_OK) {
    Error err = fail(sqliteError(rc, what));
    if (anchored) book.dropPending(canonicalPath_);
    return err;
  }
  // Not confirmed (a settings folder that went read-only meanwhile), the pending head still holds.
  if (anchored) book.confirm(canonicalPath_, e.seq, e.hash, firstHash);
  lastWrittenHash_ = e.hash;
  return e.seq;
}

int HistoryStore::insertRun(int64_t seq, const RunRecord& r) {
  int rc;
  {
    Use s(
        stmt("INSERT INTO run (entry_seq, started_at, finished_at, utc_offset_min, workstation, kind, tag, "
             "calibrator_model, calibrator_serial, calibrator_version, reference_kind, reference_serial, "
             "reference_module, reference_upper_kpa, temperature, humidity, pressure, method, point_set, "
             "point_count, hand_input, hold_s, band_prc, hard_mode, protocol_no, protocol_date, periodic, "
             "decimals, display_unit, unit_factor, reference_list) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
             "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    int i = 0;
    s->bind(++i, seq);
    s->bind(++i, r.startedAtMs);
    s->bind(++i, r.finishedAtMs);
    s->bindInt(++i, r.utcOffsetMin);
    s->bind(++i, r.workstation);
    s->bind(++i, std::string(kindName(r.kind)));
    s->bind(++i, std::string(tagName(r.tag)));
    s->bind(++i, r.calibrator.model);
    s->bind(++i, r.calibrator.serial);
    s->bind(++i, r.calibrator.version);
    s->bind(++i, std::string(referenceName(r.reference.kind)));
    s->bind(++i, r.reference.serial);
    s->bindInt(++i, r.reference.module);
    s->bindReal(++i, r.reference.upperKpa);
    s->bind(++i, r.conditions.temperature);
    s->bind(++i, r.conditions.humidity);
    s->bind(++i, r.conditions.pressure);
    s->bind(++i, r.method);
    s->bindInt(++i, r.pointSet);
    s->bindInt(++i, r.pointCount);
    s->bindInt(++i, r.handInput);
    s->bindInt(++i, r.readiness.holdS);
    s->bindReal(++i, r.readiness.bandPrc);
    s->bindInt(++i, r.readiness.hardMode);
    s->bind(++i, r.protocol.number);
    s->bind(++i, r.protocol.date);
    s->bindInt(++i, r.protocol.periodic);
    s->bindInt(++i, r.protocol.decimals);
    s->bindInt(++i, r.protocol.displayUnit);
    s->bindReal(++i, r.protocol.unitFactor);
    s->bind(++i, r.protocol.referenceList);
    rc = s->step();
  }
  for (std::size_t k = 0; rc == SQLITE_DONE && k < r.protocol.fields.size(); ++k) {
    Use s(stmt("INSERT INTO run_field (entry_seq, idx, name, value) VALUES (?, ?, ?, ?)"));
    s->bind(1, seq);
    s->bind(2, static_cast<int64_t>(k));
    s->bind(3, r.protocol.fields[k].first);
    s->bind(4, r.protocol.fields[k].second);
    rc = s->step();
  }
  for (const DeviceResult& d : r.devices) {
    if (rc != SQLITE_DONE) break;
    {
      Use s(stmt(
          "INSERT INTO run_channel (entry_seq, channel, name, model, serial, inventory_no, owner, range_min, "
          "range_max, units, min_kpa, max_kpa, to_kpa_mul, signal_min, signal_max, signal_units, "
          "signal_type, transfer_fn, err_ok, vr_coeff, method, verdict) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
          "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
      int i = 0;
      s->bind(++i, seq);
      s->bindInt(++i, d.channel);
      s->bind(++i, d.name);
      s->bind(++i, d.model);
      s->bind(++i, d.serial);
      s->bind(++i, d.inventoryNo);
      s->bind(++i, d.owner);
      s->bindReal(++i, d.rangeMin);
      s->bindReal(++i, d.rangeMax);
      s->bind(++i, d.units);
      s->bindReal(++i, d.minKpa);
      s->bindReal(++i, d.maxKpa);
      s->bindReal(++i, d.toKpaMul);
      s->bindReal(++i, d.signalMin);
      s->bindReal(++i, d.signalMax);
      s->bind(++i, d.signalUnits);
      s->bindInt(++i, d.signalType);
      s->bindInt(++i, d.transferFunction);
      s->bindReal(++i, d.errOk);
      s->bindReal(++i, d.vrCoeff);
      s->bind(++i, d.method);
      s->bind(++i, std::string(verdictName(d.verdict)));
      rc = s->step();
    }
    for (const PointResult& p : d.points) {
      if (rc != SQLITE_DONE) break;
      Use s(stmt(
          "INSERT INTO run_point (entry_seq, channel, idx, target_prc, p_ref, current, i_expected, "
          "p_from_i, p_from_i_kpa, reduced_error, uncertainty) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
      s->bind(1, seq);
      s->bindInt(2, d.channel);
      s->bindInt(3, p.index);
      s->bindReal(4, p.targetPrc);
      s->bindReal(5, p.pRef);
      s->bindReal(6, p.current);
      s->bindReal(7, p.iExpected);
      s->bindReal(8, p.pFromI);
      s->bindReal(9, p.pFromIKPa);
      s->bindReal(10, p.reducedError);
      s->bindReal(11, p.uncertainty);
      rc = s->step();
    }
  }
  for (const RelayResult& x : r.relays) {
    if (rc != SQLITE_DONE) break;
    Use s(stmt(
        "INSERT INTO run_relay (entry_seq, channel, relay, selected, setpoint_kpa, hysteresis_kpa, state, "
        "p_on_kpa, p_off_kpa) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    s->bind(1, seq);
    s->bindInt(2, x.channel);
    s->bindInt(3, x.relay);
    s->bindInt(4, x.selected);
    s->bindReal(5, x.setpointKpa);
    s->bindReal(6, x.hysteresisKpa);
    s->bind(7, static_cast<int64_t>(x.state));
    s->bindReal(8, x.pOnKpa);
    s->bindReal(9, x.pOffKpa);
    rc = s->step();
  }
  return rc;
}

int HistoryStore::insertAdjustment(int64_t seq, const Adjustment& a) {
  Use s(stmt(
      "INSERT INTO adjustment (entry_seq, at, utc_offset_min, workstation, channel, serial, device_name, "
      "action, note) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
  s->bind(1, seq);
  s->bind(2, a.atMs);
  s->bindInt(3, a.utcOffsetMin);
  s->bind(4, a.workstation);
  s->bindInt(5, a.channel);
  s->bind(6, a.serial);
  s->bind(7, a.deviceName);
  s->bind(8, std::string(adjustmentName(a.kind)));
  s->bind(9, a.note);
  return s->step();
}

Result<int64_t> HistoryStore::addRun(const RunRecord& run) {
  const std::string bad = validate(run);
  if (!bad.empty()) return error(ErrorCode::InvalidRecord, "Запуск не записан в историю: " + bad + ".");
  RunRecord r = run;
  normalizeRecord(r);
  EntryRow e;
  e.kind = "run";
  e.recordedAtMs = now();
  e.workstation = r.workstation;
  return append(e, &r, nullptr, {});
}

namespace {

// A correction or a cancellation names who made it.
std::string actorProblem(const Actor& by) {
  if (by.workstation.empty()) return "не указано рабочее место, с которого оно сделано";
  if (by.operatorName.empty()) return "не указан оператор, который его сделал";
  return {};
}

}  // namespace

Result<int64_t> HistoryStore::addCorrection(int64_t runId, const RunRecord& corrected,
                                            const std::string& reason, const Actor& by) {
  std::string bad = validate(corrected);
  if (bad.empty()) bad = actorProblem(by);
  if (!bad.empty()) return error(ErrorCode::InvalidRecord, "Исправление не записано в историю: " + bad + ".");
  RunRecord r = corrected;
  normalizeRecord(r);
  EntryRow e;
  e.kind = "correction";
  e.recordedAtMs = now();
  e.workstation = by.workstation;
  e.operatorName = by.operatorName;
  e.note = reason;
  return append(e, &r, nullptr, [this, runId](EntryRow& row) -> Error {
    const Result<StoredRun> target = load(runId);
    if (!target) return target.error();
    if (target->cancelled)
      return error(ErrorCode::InvalidRecord,
                   "Запуск " + std::to_string(target->runId) + " отменён: исправление не записано.");
    row.refersTo = target->runId;
    return {};
  });
}

Result<int64_t> HistoryStore::addCancellation(int64_t runId, const std::string& reason, const Actor& by) {
  if (const std::string bad = actorProblem(by); !bad.empty())
    return error(ErrorCode::InvalidRecord, "Отмена запуска не записана в историю: " + bad + ".");
  EntryRow e;
  e.kind = "cancellation";
  e.recordedAtMs = now();
  e.workstation = by.workstation;
  e.operatorName = by.operatorName;
  e.note = reason;
  return append(e, nullptr, nullptr, [this, runId](EntryRow& row) -> Error {
    const Result<StoredRun> target = load(runId);
    if (!target) return target.error();
    if (target->cancelled)
      return error(ErrorCode::InvalidRecord, "Запуск " + std::to_string(target->runId) + " уже отменён.");
    row.refersTo = target->runId;
    return {};
  });
}

Result<int64_t> HistoryStore::addAdjustment(const Adjustment& adjustment) {
  if (adjustment.channel < 0 || adjustment.channel > 4)
    return error(ErrorCode::InvalidRecord, "Настройка прибора не записана в историю: номер канала " +
                                               std::to_string(adjustment.channel) + " вне 1..4.");
  EntryRow e;
  e.kind = "adjustment";
  e.recordedAtMs = now();
  e.workstation = adjustment.workstation;
  return append(e, nullptr, &adjustment, {});
}

// ---- reading ----

int HistoryStore::readRun(int64_t seq, RunRecord& r, bool& foreign) {
  using namespace detail;
  r = RunRecord{};
  int rc;
  static const std::string kRunSql = std::string("SELECT ") + kRunColumns + " FROM run WHERE entry_seq = ?";
  static const std::string kFieldSql =
      std::string("SELECT ") + kFieldColumns + " FROM run_field WHERE entry_seq = ? ORDER BY idx";
  static const std::string kChannelSql =
      std::string("SELECT ") + kChannelColumns + " FROM run_channel WHERE entry_seq = ? ORDER BY channel";
  static const std::string kPointSql =
      std::string("SELECT ") + kPointColumns + " FROM run_point WHERE entry_seq = ? ORDER BY channel, idx";
  static const std::string kRelaySql =
      std::string("SELECT ") + kRelayColumns + " FROM run_relay WHERE entry_seq = ? ORDER BY channel, relay";
  {
    Use s(stmt(kRunSql.c_str()));
    s->bind(1, seq);
    rc = s->step();
    if (rc == SQLITE_DONE) return kNoRow;
    if (rc != SQLITE_ROW) return rc;
    readRunRow(*s, r, foreign);
    foreign = s->takeForeign() || foreign;
  }
  {
    Use s(stmt(kFieldSql.c_str()));
    s->bind(1, seq);
    int64_t expected = 0;
    while ((rc = s->step()) == SQLITE_ROW) {
      // The fields are numbered 0, 1, 2, ...; a gap means a row was taken out.
      if (s->integer(1) != expected++) foreign = true;
      r.protocol.fields.emplace_back(s->text(2), s->text(3));
    }
    if (rc != SQLITE_DONE) return rc;
    foreign = s->takeForeign() || foreign;
  }
  {
    Use s(stmt(kChannelSql.c_str()));
    s->bind(1, seq);
    while ((rc = s->step()) == SQLITE_ROW) {
      DeviceResult d;
      readChannelRow(*s, d, foreign);
      r.devices.push_back(std::move(d));
    }
    if (rc != SQLITE_DONE) return rc;
    foreign = s->takeForeign() || foreign;
  }
  {
    Use s(stmt(kPointSql.c_str()));
    s->bind(1, seq);
    std::size_t device = 0;
    while ((rc = s->step()) == SQLITE_ROW) {
      int channel = 0;
      const PointResult p = readPointRow(*s, channel);
      while (device < r.devices.size() && r.devices[device].channel < channel) ++device;
      // A point of a channel that has no device row belongs to nothing the run recorded.
      if (device == r.devices.size() || r.devices[device].channel != channel)
        foreign = true;
      else
        r.devices[device].points.push_back(p);
    }
    if (rc != SQLITE_DONE) return rc;
    foreign = s->takeForeign() || foreign;
  }
  {
    Use s(stmt(kRelaySql.c_str()));
    s->bind(1, seq);
    while ((rc = s->step()) == SQLITE_ROW) r.relays.push_back(readRelayRow(*s));
    if (rc != SQLITE_DONE) return rc;
    foreign = s->takeForeign() || foreign;
  }
  return SQLITE_OK;
}

int HistoryStore::readAdjustment(int64_t seq, Adjustment& a, bool& found, bool& foreign) {
  static const std::string kSql =
      std::string("SELECT ") + detail::kAdjustmentColumns + " FROM adjustment WHERE entry_seq = ?";
  Use s(stmt(kSql.c_str()));
  s->bind(1, seq);
  const int rc = s->step();
  found = rc == SQLITE_ROW;
  if (rc == SQLITE_DONE) return SQLITE_OK;
  if (rc != SQLITE_ROW) return rc;
  detail::readAdjustmentRow(*s, a, foreign);
  foreign = s->takeForeign() || foreign;
  return SQLITE_OK;
}

Result<int64_t> HistoryStore::stream(const ListFilter& f, bool withDevices, const RunSink& sink) {
  if (empty_) return int64_t{0};
  // The current content of a run is its latest correction: the walk goes over the content rows newest
  // first (the start-time index, so nothing is sorted but the runs of one start time) and keeps the
  // row that is its run's latest. With a serial, the rows come from the serial's index. The devices
  // come in the same statement, one row each (none for a run without one), so a run is read in one
  // step of the index and memory does not grow with the history.
  static constexpr const char* kRunId = "CASE WHEN e.kind = 'run' THEN e.seq ELSE e.refers_to END";
  static const std::string kHead =
      std::string("SELECT ") + kRunId +
      " AS run_id, r.entry_seq, EXISTS (SELECT 1 FROM entry c WHERE c.refers_to = " + kRunId +
      " AND c.kind = 'cancellation') AS cancelled, r.started_at, r.finished_at, r.utc_offset_min, "
      "r.workstation, "
      "r.kind, r.tag, r.calibrator_serial";
  static constexpr const char* kDevices = ", ch.channel, ch.name, ch.model, ch.serial, ch.verdict ";
  static constexpr const char* kNoDevices = ", NULL, NULL, NULL, NULL, NULL ";
  static constexpr const char* kFromDevices =
      "FROM run r JOIN entry e ON e.seq = r.entry_seq LEFT JOIN run_channel ch ON ch.entry_seq = "
      "r.entry_seq ";
  static constexpr const char* kFromRuns = "FROM run r JOIN entry e ON e.seq = r.entry_seq ";
  static const std::string kWhere =
      std::string("WHERE r.entry_seq = COALESCE((SELECT MAX(c.seq) FROM entry c WHERE c.refers_to = ") +
      kRunId + " AND c.kind = 'correction'), " + kRunId +
      ") AND (?1 OR NOT cancelled) AND (?2 IS NULL OR r.started_at >= ?2) "
      "AND (?4 = '' OR EXISTS (SELECT 1 FROM run_channel n WHERE n.entry_seq = r.entry_seq "
      "AND instr(n.name, ?4) > 0)) ";
  static constexpr const char* kOfSerial =
      "AND r.entry_seq IN (SELECT entry_seq FROM run_channel WHERE serial = ?3) ";
  static constexpr const char* kOrderDevices = "ORDER BY r.started_at DESC, run_id DESC, ch.channel";
  static constexpr const char* kOrderRuns = "ORDER BY r.started_at DESC, run_id DESC";
  static const std::string kSql[2][2] = {
      {kHead + kNoDevices + kFromRuns + kWhere + kOrderRuns,
       kHead + kDevices + kFromDevices + kWhere + kOrderDevices},
      {kHead + kNoDevices + kFromRuns + kWhere + kOfSerial + kOrderRuns,
       kHead + kDevices + kFromDevices + kWhere + kOfSerial + kOrderDevices}};
  int rc;
  int64_t passed = 0;
  Use s(stmt(kSql[f.serial.empty() ? 0 : 1][withDevices ? 1 : 0].c_str()));
  s->bindInt(1, f.includeCancelled);
  if (f.since)
    s->bind(2, *f.since);
  else
    s->bindNull(2);
  s->bind(3, f.serial);
  s->bind(4, f.deviceName);
  // One summary, filled again for each run: its texts and device list keep their storage.
  RunSummary x;
  std::size_t devices = 0;
  bool have = false;
  auto pass = [&]() {
    x.devices.resize(devices);
    ++passed;
    return sink(x) && (f.limit <= 0 || passed < f.limit);
  };
  bool more = true;
  while (more && (rc = s->step()) == SQLITE_ROW) {
    const int64_t runId = s->integer(0);
    if (!have || x.runId != runId) {
      if (have && !pass()) {
        more = false;
        break;
      }
      have = true;
      devices = 0;
      x.runId = runId;
      x.contentId = s->integer(1);
      x.cancelled = s->integer(2) != 0;
      x.startedAtMs = s->integer(3);
      x.finishedAtMs = s->integer(4);
      x.utcOffsetMin = s->intValue(5);
      s->textInto(6, x.workstation);
      x.kind = kindFromName(std::string(s->textView(7))).value_or(RunKind::Verification);
      x.tag = tagFromName(std::string(s->textView(8))).value_or(RunTag::AsFound);
      s->textInto(9, x.calibratorSerial);
    }
    if (s->isNull(10)) continue;
    if (devices == x.devices.size()) x.devices.emplace_back();
    DeviceSummary& d = x.devices[devices++];
    d.channel = s->intValue(10);
    s->textInto(11, d.name);
    s->textInto(12, d.model);
    s->textInto(13, d.serial);
    d.verdict = verdictFromName(std::string(s->textView(14))).value_or(Verdict::None);
  }
  if (more) {
    if (rc != SQLITE_DONE) return sqliteError(rc, "прочитать историю");
    if (have) pass();
  }
  return passed;
}

Result<std::vector<RunSummary>> HistoryStore::query(const ListFilter& f, bool withDevices) {
  std::vector<RunSummary> out;
  const Result<int64_t> n = stream(f, withDevices, [&out](const RunSummary& r) {
    out.push_back(r);
    return true;
  });
  if (!n) return n.error();
  return out;
}

Result<std::vector<RunSummary>> HistoryStore::list(const ListFilter& filter) {
  ReadTransaction read(*this);
  if (const Result<ChainCheck> checked = checkForRead(); !checked) return checked.error();
  return query(filter, true);
}

Result<int64_t> HistoryStore::list(const ListFilter& filter, const RunSink& sink) {
  ReadTransaction read(*this);
  if (const Result<ChainCheck> checked = checkForRead(); !checked) return checked.error();
  return stream(filter, true, sink);
}

Result<StoredRun> HistoryStore::load(int64_t id) {
  const auto notFound = [&] {
    return error(ErrorCode::NotFound,
                 "В истории " + inQuotes(path_) + " нет запуска " + std::to_string(id) + ".");
  };
  if (empty_) return notFound();
  StoredRun out;
  int rc;
  {
    Use s(stmt("SELECT kind, refers_to FROM entry WHERE seq = ?"));
    s->bind(1, id);
    rc = s->step();
    if (rc == SQLITE_DONE) return notFound();
    if (rc != SQLITE_ROW) return sqliteError(rc, "прочитать историю");
    const std::string kind = s->text(0);
    if (kind == "run")
      out.runId = id;
    else if (kind == "correction" && !s->isNull(1))
      out.runId = s->integer(1);
    else
      return notFound();
  }
  out.contentId = out.runId;
  {
    Use s(stmt("SELECT seq, kind, note FROM entry WHERE refers_to = ? ORDER BY seq"));
    s->bind(1, out.runId);
    while ((rc = s->step()) == SQLITE_ROW) {
      const std::string kind = s->text(1);
      if (kind == "correction") {
        out.corrections.push_back(s->integer(0));
        out.contentId = out.corrections.back();
      } else if (kind == "cancellation" && !out.cancelled) {
        out.cancelled = true;
        out.cancelReason = s->text(2);
      }
    }
    if (rc != SQLITE_DONE) return sqliteError(rc, "прочитать историю");
  }
  {
    Use s(stmt("SELECT recorded_at, hash FROM entry WHERE seq = ?"));
    s->bind(1, out.contentId);
    rc = s->step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? notFound() : sqliteError(rc, "прочитать историю");
    out.recordedAtMs = s->integer(0);
    out.hash = s->text(1);
  }
  bool foreign = false;
  rc = readRun(out.contentId, out.record, foreign);
  if (rc == kNoRow)
    return error(ErrorCode::Damaged, "В истории " + inQuotes(path_) + " нет содержимого записи " +
                                         std::to_string(out.contentId) + ": проверьте базу.");
  if (rc != SQLITE_OK) return sqliteError(rc, "прочитать историю");
  return out;
}

Result<std::vector<int64_t>> HistoryStore::entriesOf(int64_t runId) {
  std::vector<int64_t> out;
  Use s(stmt(
      "SELECT seq FROM entry WHERE seq = ?1 UNION SELECT seq FROM entry WHERE refers_to = ?1 ORDER BY 1"));
  s->bind(1, runId);
  int rc;
  while ((rc = s->step()) == SQLITE_ROW) out.push_back(s->integer(0));
  if (rc != SQLITE_DONE) return sqliteError(rc, "прочитать историю");
  return out;
}

Result<StoredRun> HistoryStore::showChecked(int64_t runId) {
  ReadTransaction read(*this);
  Result<StoredRun> run = load(runId);
  if (!run) {
    // A run that is not there may be one an editor took out: the check names what is wrong first.
    if (const Result<ChainCheck> checked = checkForRead(); !checked) return checked.error();
    return run;
  }
  const Result<std::vector<int64_t>> shown = entriesOf(run->runId);
  if (!shown) return shown.error();
  if (const Result<ChainCheck> checked = checkForRead(*shown); !checked) return checked.error();
  return run;
}

Result<StoredRun> HistoryStore::show(int64_t runId) { return showChecked(runId); }

Result<std::vector<Adjustment>> HistoryStore::adjustmentsOf(const std::string& serial) {
  std::vector<Adjustment> out;
  if (empty_) return out;
  Use s(stmt("SELECT entry_seq FROM adjustment WHERE serial = ? ORDER BY entry_seq"));
  s->bind(1, serial);
  std::vector<int64_t> seqs;
  int rc;
  while ((rc = s->step()) == SQLITE_ROW) seqs.push_back(s->integer(0));
  if (rc != SQLITE_DONE) return sqliteError(rc, "прочитать историю");
  for (int64_t seq : seqs) {
    Adjustment a;
    bool found = false, foreign = false;
    rc = readAdjustment(seq, a, found, foreign);
    if (rc != SQLITE_OK) return sqliteError(rc, "прочитать историю");
    if (found) out.push_back(std::move(a));
  }
  return out;
}

// ---- pairs ----

Result<RunPair> HistoryStore::pair(const std::string& serial) {
  ReadTransaction read(*this);
  ListFilter f;
  f.serial = serial;
  const Result<std::vector<RunSummary>> runs = query(f, false);
  if (!runs) return runs.error();
  if (serial.empty() || runs->empty()) {
    if (const Result<ChainCheck> checked = checkForRead(); !checked) return checked.error();
    return error(ErrorCode::NotFound,
                 "В истории " + inQuotes(path_) + " нет запусков прибора № " + serial + ".");
  }
  std::vector<RunTag> tags;
  for (const RunSummary& r : *runs) tags.push_back(r.tag);
  const PairChoice choice = choosePair(tags);
  // Every run the choice looked at is checked, not only the two shown.
  std::vector<int64_t> shown;
  for (std::size_t i = 0; i < choice.looked; ++i) {
    const Result<std::vector<int64_t>> entries = entriesOf((*runs)[i].runId);
    if (!entries) return entries.error();
    shown.insert(shown.end(), entries->begin(), entries->end());
  }
  if (const Result<ChainCheck> checked = checkForRead(shown); !checked) return checked.error();
  std::optional<StoredRun> asFound, asLeft;
  if (choice.asFound != PairChoice::kNone) {
    Result<StoredRun> r = load((*runs)[choice.asFound].runId);
    if (!r) return r.error();
    asFound = std::move(r.value());
  }
  if (choice.asLeft != PairChoice::kNone) {
    Result<StoredRun> r = load((*runs)[choice.asLeft].runId);
    if (!r) return r.error();
    asLeft = std::move(r.value());
  }
  std::vector<Adjustment> adjustments;
  if (asFound && asLeft) {
    Result<std::vector<Adjustment>> of = adjustmentsOf(serial);
    if (!of) return of.error();
    adjustments = std::move(of.value());
  }
  return makeRunPair(serial, std::move(asFound), std::move(asLeft), adjustments);
}

Result<StoredCalibration> HistoryStore::calibrationOf(int64_t runId) {
  ReadTransaction read(*this);
  Result<StoredRun> last = load(runId);
  if (!last) {
    if (const Result<ChainCheck> checked = checkForRead(); !checked) return checked.error();
    return last.error();
  }
  Result<std::vector<int64_t>> shown = entriesOf(last->runId);
  if (!shown) return shown.error();
  StoredCalibration out;
  const RunRecord& left = last->record;
  if (left.tag == RunTag::AsLeft) {
    std::string serial;
    for (const DeviceResult& d : left.devices)
      if (serial.empty()) serial = d.serial;
    int64_t foundId = 0;
    if (!serial.empty()) {
      ListFilter f;
      f.serial = serial;
      f.includeCancelled = true;
      const Result<std::vector<RunSummary>> runs = query(f, false);
      if (!runs) return runs.error();
      // The device's run just before the as-left one (chooseCalibrationAsFound), checked.
      std::vector<DeviceRun> candidates;
      for (const RunSummary& r : *runs) candidates.push_back({r.runId, r.startedAtMs, r.tag, r.cancelled});
      const CalibrationChoice choice = chooseCalibrationAsFound(last->runId, left.startedAtMs, candidates);
      if (choice.looked) {
        const Result<std::vector<int64_t>> entries = entriesOf(choice.looked);
        if (!entries) return entries.error();
        shown->insert(shown->end(), entries->begin(), entries->end());
      }
      foundId = choice.asFound;
    }
    if (const Result<ChainCheck> checked = checkForRead(*shown); !checked) return checked.error();
    if (foundId) {
      Result<StoredRun> found = load(foundId);
      if (!found) return found.error();
      out.asFound = std::move(found.value());
      std::vector<std::string> seen;
      for (const DeviceResult& d : left.devices) {
        if (d.serial.empty() || std::find(seen.begin(), seen.end(), d.serial) != seen.end()) continue;
        seen.push_back(d.serial);
        const Result<std::vector<Adjustment>> adjustments = adjustmentsOf(d.serial);
        if (!adjustments) return adjustments.error();
        for (const Adjustment& a : *adjustments)
          if (a.atMs >= out.asFound->record.startedAtMs && a.atMs <= left.startedAtMs)
            out.adjustments.push_back(a);
      }
    }
  } else if (const Result<ChainCheck> checked = checkForRead(*shown); !checked) {
    return checked.error();
  }
  out.last = std::move(last.value());
  return out;
}

Result<TagOffer> HistoryStore::offerTag(const RunRecord& newRun) {
  TagOffer offer;
  const int64_t today = localDay(newRun.startedAtMs, newRun.utcOffsetMin);
  std::set<std::string> seen;
  for (const DeviceResult& d : newRun.devices) {
    // A device without a serial cannot be told from another one.
    if (d.serial.empty() || !seen.insert(d.serial).second) continue;
    ListFilter f;
    f.serial = d.serial;
    const Result<std::vector<RunSummary>> runs = query(f, false);
    if (!runs) return runs.error();
    const RunSummary* found = nullptr;
    for (const RunSummary& r : *runs)
      if (r.startedAtMs < newRun.startedAtMs && r.tag == RunTag::AsFound) {
        found = &r;
        break;
      }
    if (!found || localDay(found->startedAtMs, found->utcOffsetMin) != today) continue;
    bool adjusted = found->kind == RunKind::Calibration;
    for (const RunSummary& r : *runs)
      adjusted = adjusted || (r.kind == RunKind::Calibration && r.startedAtMs > found->startedAtMs &&
                              r.startedAtMs < newRun.startedAtMs);
    if (!adjusted) {
      const Result<std::vector<Adjustment>> adjustments = adjustmentsOf(d.serial);
      if (!adjustments) return adjustments.error();
      for (const Adjustment& a : *adjustments)
        adjusted = adjusted || (a.atMs >= found->startedAtMs && a.atMs <= newRun.startedAtMs);
    }
    if (!adjusted) continue;
    if (offer.serials.empty()) offer.asFoundRunId = found->runId;
    offer.serials.push_back(d.serial);
  }
  if (!offer.serials.empty()) {
    offer.tag = RunTag::AsLeft;
    std::string list;
    for (const std::string& s : offer.serials) list += (list.empty() ? "" : ", ") + s;
    offer.reason = "Прибор № " + list + " сегодня уже проверен (запуск " +
                   std::to_string(offer.asFoundRunId) +
                   ") и после этого откалиброван или подстроен: запуск предлагается как «после настройки».";
  }
  return offer;
}

// ---- backup ----

Result<BackupResult> HistoryStore::backup(const std::string& outPath) {
  namespace fs = std::filesystem;
  if (outPath.empty()) return error(ErrorCode::CannotOpen, "Не задан файл резервной копии истории поверок.");
  std::error_code ec;
  if (fs::exists(fs::symlink_status(outPath, ec)))
    return error(ErrorCode::CannotOpen,
                 "Файл " + inQuotes(outPath) +
                     " уже существует: резервная копия истории поверок не записана поверх "
                     "него.");
  const fs::path parent = fs::path(outPath).parent_path();
  if (!parent.empty() && !fs::is_directory(parent, ec))
    return error(ErrorCode::CannotOpen, "Папка " + inQuotes(parent.string()) +
                                            " не существует: резервная копия истории не записана.");
  if (empty_)
    return error(ErrorCode::NotFound,
                 "В файле " + inQuotes(path_) + " нет истории поверок: копировать нечего.");

  // The copy is made aside and renamed into place once complete and on the disk, so a copy that was
  // interrupted never has the name of one.
  std::string aside = outPath + ".part-XXXXXX";
  const int fd = ::mkstemp(aside.data());
  if (fd < 0)
    return error(ErrorCode::CannotOpen,
                 "Не удалось создать файл рядом с " + inQuotes(outPath) + ": " + std::strerror(errno) + ".");
  ::close(fd);
  auto failed = [&](Error e) {
    fs::remove(aside, ec);
    return e;
  };
  sqlite3* out = nullptr;
  int rc = sqlite3_open_v2(aside.c_str(), &out, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(out, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    // All pages in one step: SQLite reads them in one read transaction, a snapshot of one moment
    // (writers go on meanwhile, the write-ahead log keeps their pages apart).
    sqlite3_backup* b = sqlite3_backup_init(out, "main", db_, "main");
    if (!b) {
      rc = sqlite3_errcode(out);
    } else {
      rc = sqlite3_backup_step(b, -1);
      const int finish = sqlite3_backup_finish(b);
      rc = rc == SQLITE_DONE ? finish : rc;
    }
  }
  // The copy keeps its own journal, so it opens anywhere (a read-only medium too) without the
  // write-ahead log's side files; the history that takes it back switches it to WAL again.
  if (rc == SQLITE_OK) rc = sqlite3_exec(out, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
  const std::string why = rc == SQLITE_OK ? std::string() : out ? sqlite3_errmsg(out) : sqlite3_errstr(rc);
  sqlite3_close(out);
  if (rc != SQLITE_OK)
    return failed(
        error(rc == SQLITE_FULL ? ErrorCode::DiskFull : ErrorCode::Io,
              "Резервная копия истории " + inQuotes(path_) + " не записана (SQLite: " + why + ")."));
  fs::rename(aside, outPath, ec);
  if (ec)
    return failed(error(ErrorCode::Io, "Резервная копия истории не записана: " + inQuotes(outPath) + ": " +
                                           ec.message() + "."));
  if (const int dir = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }

  BackupResult result;
  result.path = outPath;
  OpenOptions readOnly;
  readOnly.readOnly = true;
  readOnly.anchorFolder = options_.anchorFolder;
  auto copy = open(outPath, readOnly);
  if (!copy) return copy.error();
  const Result<ChainCheck> checked = copy.value()->check();
  if (!checked) return checked.error();
  result.check = *checked;
  result.entries = checked->head;
  result.headHash = checked->headHash;
  return result;
}

}  // namespace quarn::history
