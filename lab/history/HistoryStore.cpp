#include "HistoryStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <set>

#include "canonical.h"
#include "history_schema_sql.h"
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

}  // namespace

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
  int hashFormat = kHashFormat;
  std::string prevHash;
  std::string hash;

  EntryHeader header() const {
    return EntryHeader{seq, kind, refersTo, recordedAtMs, workstation, note, hashFormat};
  }
};

HistoryStore::HistoryStore(sqlite3* db, std::string path, OpenOptions options)
    : db_(db), path_(std::move(path)), options_(std::move(options)) {}

HistoryStore::~HistoryStore() {
  statements_.clear();  // statements go before the connection they belong to
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

  const int flags = options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &db, flags, options.vfs.empty() ? nullptr : options.vfs.c_str());
  std::unique_ptr<HistoryStore> store(new HistoryStore(db, path, std::move(options)));
  if (rc != SQLITE_OK) return store->sqliteError(rc, "открыть");
  const Result<bool> ready = store->initialise();
  if (!ready) return ready.error();
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
      rc = exec(kSchemaSql);
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
  auto fail = [&](Error err) {
    exec("ROLLBACK");
    return err;
  };
  if (resolve) {
    Error err = resolve(e);
    if (err.code != ErrorCode::None) return fail(std::move(err));
  }
  // The last entry, read inside the write lock, so two programs never chain onto the same entry.
  {
    Use s(stmt("SELECT seq, hash FROM entry ORDER BY seq DESC LIMIT 1"));
    rc = s->step();
    if (rc == SQLITE_ROW) {
      e.seq = s->integer(0) + 1;
      e.prevHash = s->text(1);
    } else if (rc == SQLITE_DONE) {
      e.seq = 1;
      e.prevHash = kGenesisHash;
    } else {
      return fail(sqliteError(rc, what));
    }
  }
  e.hash = entryHash(e.prevHash, canonicalEntry(e.header(), run, adjustment));
  {
    Use s(stmt(
        "INSERT INTO entry (seq, kind, refers_to, recorded_at, workstation, note, hash_format, prev_hash, "
        "hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
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
  rc = exec("COMMIT");
  if (rc != SQLITE_OK) return fail(sqliteError(rc, what));
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

Result<int64_t> HistoryStore::addCorrection(int64_t runId, const RunRecord& corrected,
                                            const std::string& reason) {
  const std::string bad = validate(corrected);
  if (!bad.empty()) return error(ErrorCode::InvalidRecord, "Исправление не записано в историю: " + bad + ".");
  RunRecord r = corrected;
  normalizeRecord(r);
  EntryRow e;
  e.kind = "correction";
  e.recordedAtMs = now();
  e.workstation = r.workstation;
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

Result<int64_t> HistoryStore::addCancellation(int64_t runId, const std::string& reason) {
  EntryRow e;
  e.kind = "cancellation";
  e.recordedAtMs = now();
  e.note = reason;
  return append(e, nullptr, nullptr, [this, runId](EntryRow& row) -> Error {
    const Result<StoredRun> target = load(runId);
    if (!target) return target.error();
    if (target->cancelled)
      return error(ErrorCode::InvalidRecord, "Запуск " + std::to_string(target->runId) + " уже отменён.");
    row.refersTo = target->runId;
    row.workstation = target->record.workstation;
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
  r = RunRecord{};
  int rc;
  {
    Use s(stmt(
        "SELECT started_at, finished_at, utc_offset_min, workstation, kind, tag, calibrator_model, "
        "calibrator_serial, calibrator_version, reference_kind, reference_serial, reference_module, "
        "reference_upper_kpa, temperature, humidity, pressure, method, point_set, point_count, hand_input, "
        "hold_s, band_prc, hard_mode, protocol_no, protocol_date, periodic, decimals, display_unit, "
        "unit_factor, reference_list FROM run WHERE entry_seq = ?"));
    s->bind(1, seq);
    rc = s->step();
    if (rc == SQLITE_DONE) return kNoRow;
    if (rc != SQLITE_ROW) return rc;
    int i = 0;
    r.startedAtMs = s->integer(i++);
    r.finishedAtMs = s->integer(i++);
    r.utcOffsetMin = s->intValue(i++);
    r.workstation = s->text(i++);
    const std::optional<RunKind> kind = kindFromName(s->text(i++));
    const std::optional<RunTag> tag = tagFromName(s->text(i++));
    if (!kind || !tag) foreign = true;
    r.kind = kind.value_or(RunKind::Verification);
    r.tag = tag.value_or(RunTag::AsFound);
    r.calibrator.model = s->text(i++);
    r.calibrator.serial = s->text(i++);
    r.calibrator.version = s->text(i++);
    const std::string ref = s->text(i++);
    if (ref != referenceName(ReferenceKind::Calibrator) && ref != referenceName(ReferenceKind::Dorv))
      foreign = true;
    r.reference.kind =
        ref == referenceName(ReferenceKind::Dorv) ? ReferenceKind::Dorv : ReferenceKind::Calibrator;
    r.reference.serial = s->text(i++);
    r.reference.module = s->intValue(i++);
    r.reference.upperKpa = s->real(i++);
    r.conditions.temperature = s->text(i++);
    r.conditions.humidity = s->text(i++);
    r.conditions.pressure = s->text(i++);
    r.method = s->text(i++);
    r.pointSet = s->intValue(i++);
    r.pointCount = s->intValue(i++);
    r.handInput = s->integer(i++) != 0;
    r.readiness.holdS = s->intValue(i++);
    r.readiness.bandPrc = s->real(i++);
    r.readiness.hardMode = s->integer(i++) != 0;
    r.protocol.number = s->text(i++);
    r.protocol.date = s->text(i++);
    r.protocol.periodic = s->integer(i++) != 0;
    r.protocol.decimals = s->intValue(i++);
    r.protocol.displayUnit = s->intValue(i++);
    r.protocol.unitFactor = s->real(i++);
    r.protocol.referenceList = s->text(i++);
    foreign = s->takeForeign() || foreign;
  }
  {
    Use s(stmt("SELECT idx, name, value FROM run_field WHERE entry_seq = ? ORDER BY idx"));
    s->bind(1, seq);
    int64_t expected = 0;
    while ((rc = s->step()) == SQLITE_ROW) {
      // The fields are numbered 0, 1, 2, ...; a gap means a row was taken out.
      if (s->integer(0) != expected++) foreign = true;
      r.protocol.fields.emplace_back(s->text(1), s->text(2));
    }
    if (rc != SQLITE_DONE) return rc;
    foreign = s->takeForeign() || foreign;
  }
  {
    Use s(stmt(
        "SELECT channel, name, model, serial, inventory_no, owner, range_min, range_max, units, min_kpa, "
        "max_kpa, to_kpa_mul, signal_min, signal_max, signal_units, signal_type, transfer_fn, err_ok, "
        "vr_coeff, method, verdict FROM run_channel WHERE entry_seq = ? ORDER BY channel"));
    s->bind(1, seq);
    while ((rc = s->step()) == SQLITE_ROW) {
      DeviceResult d;
      int i = 0;
      d.channel = s->intValue(i++);
      d.name = s->text(i++);
      d.model = s->text(i++);
      d.serial = s->text(i++);
      d.inventoryNo = s->text(i++);
      d.owner = s->text(i++);
      d.rangeMin = s->real(i++);
      d.rangeMax = s->real(i++);
      d.units = s->text(i++);
      d.minKpa = s->real(i++);
      d.maxKpa = s->real(i++);
      d.toKpaMul = s->real(i++);
      d.signalMin = s->real(i++);
      d.signalMax = s->real(i++);
      d.signalUnits = s->text(i++);
      d.signalType = s->intValue(i++);
      d.transferFunction = s->intValue(i++);
      d.errOk = s->real(i++);
      d.vrCoeff = s->real(i++);
      d.method = s->text(i++);
      const std::optional<Verdict> verdict = verdictFromName(s->text(i++));
      if (!verdict) foreign = true;
      d.verdict = verdict.value_or(Verdict::None);
      r.devices.push_back(std::move(d));
    }
    if (rc != SQLITE_DONE) return rc;
    foreign = s->takeForeign() || foreign;
  }
  {
    Use s(
        stmt("SELECT channel, idx, target_prc, p_ref, current, i_expected, p_from_i, p_from_i_kpa, "
             "reduced_error, uncertainty FROM run_point WHERE entry_seq = ? ORDER BY channel, idx"));
    s->bind(1, seq);
    std::size_t device = 0;
    while ((rc = s->step()) == SQLITE_ROW) {
      const int channel = s->intValue(0);
      while (device < r.devices.size() && r.devices[device].channel < channel) ++device;
      PointResult p;
      p.index = s->intValue(1);
      p.targetPrc = s->real(2);
      p.pRef = s->real(3);
      p.current = s->real(4);
      p.iExpected = s->real(5);
      p.pFromI = s->real(6);
      p.pFromIKPa = s->real(7);
      p.reducedError = s->real(8);
      p.uncertainty = s->real(9);
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
    Use s(
        stmt("SELECT channel, relay, selected, setpoint_kpa, hysteresis_kpa, state, p_on_kpa, p_off_kpa "
             "FROM run_relay WHERE entry_seq = ? ORDER BY channel, relay"));
    s->bind(1, seq);
    while ((rc = s->step()) == SQLITE_ROW) {
      RelayResult x;
      x.channel = s->intValue(0);
      x.relay = s->intValue(1);
      x.selected = s->integer(2) != 0;
      x.setpointKpa = s->real(3);
      x.hysteresisKpa = s->real(4);
      x.state = static_cast<uint32_t>(s->integer(5));
      x.pOnKpa = s->real(6);
      x.pOffKpa = s->real(7);
      r.relays.push_back(x);
    }
    if (rc != SQLITE_DONE) return rc;
    foreign = s->takeForeign() || foreign;
  }
  return SQLITE_OK;
}

int HistoryStore::readAdjustment(int64_t seq, Adjustment& a, bool& found, bool& foreign) {
  Use s(stmt(
      "SELECT at, utc_offset_min, workstation, channel, serial, device_name, action, note FROM adjustment "
      "WHERE entry_seq = ?"));
  s->bind(1, seq);
  const int rc = s->step();
  found = rc == SQLITE_ROW;
  if (rc == SQLITE_DONE) return SQLITE_OK;
  if (rc != SQLITE_ROW) return rc;
  a.atMs = s->integer(0);
  a.utcOffsetMin = s->intValue(1);
  a.workstation = s->text(2);
  a.channel = s->intValue(3);
  a.serial = s->text(4);
  a.deviceName = s->text(5);
  const std::optional<AdjustmentKind> action = adjustmentFromName(s->text(6));
  a.kind = action.value_or(AdjustmentKind::CurrentTrim);
  a.note = s->text(7);
  foreign = s->takeForeign() || !action || foreign;
  return SQLITE_OK;
}

Result<std::vector<RunSummary>> HistoryStore::query(const ListFilter& f, bool withDevices) {
  std::vector<RunSummary> out;
  if (empty_) return out;
  // The current content of a run is its latest correction: the walk goes over the content rows
  // newest first (the start-time index, so a limit ends it early) and keeps the row that is its run's
  // latest. With a serial, the rows come from the serial's index. The devices come in the same query,
  // one row each after their run's row (channel 0 stands for the run alone).
  static constexpr const char* kContent =
      "WITH fix AS (SELECT refers_to AS run_id, MAX(CASE WHEN kind = 'correction' THEN seq END) AS latest, "
      "MAX(kind = 'cancellation') AS cancelled FROM entry WHERE refers_to IS NOT NULL GROUP BY refers_to), "
      "sel AS (SELECT CASE WHEN e.kind = 'run' THEN e.seq ELSE e.refers_to END AS run_id, "
      "r.entry_seq AS content_id, COALESCE(f.cancelled, 0) AS cancelled, r.started_at, r.finished_at, "
      "r.utc_offset_min, r.workstation, r.kind, r.tag, r.calibrator_serial "
      "FROM run r JOIN entry e ON e.seq = r.entry_seq "
      "LEFT JOIN fix f ON f.run_id = CASE WHEN e.kind = 'run' THEN e.seq ELSE e.refers_to END "
      "WHERE r.entry_seq = COALESCE(f.latest, e.seq) AND (?1 OR NOT COALESCE(f.cancelled, 0)) "
      "AND (?2 IS NULL OR r.started_at >= ?2) "
      "AND (?4 = '' OR EXISTS (SELECT 1 FROM run_channel ch WHERE ch.entry_seq = r.entry_seq "
      "AND instr(ch.name, ?4) > 0)) ";
  static constexpr const char* kEveryRun = "";
  static constexpr const char* kRunsOfSerial =
      "AND r.entry_seq IN (SELECT entry_seq FROM run_channel WHERE serial = ?3) ";
  static constexpr const char* kSelected = "ORDER BY r.started_at DESC, run_id DESC LIMIT ?5) ";
  static constexpr const char* kRunsOnly = "SELECT sel.*, 0, '', '', '', '' FROM sel";
  static constexpr const char* kWithDevices =
      "SELECT sel.*, ch.channel, ch.name, ch.model, ch.serial, ch.verdict FROM sel "
      "LEFT JOIN run_channel ch ON ch.entry_seq = sel.content_id "
      "ORDER BY sel.started_at DESC, sel.run_id DESC, ch.channel";
  static const std::string kSql[2][2] = {{std::string(kContent) + kEveryRun + kSelected + kRunsOnly,
                                          std::string(kContent) + kEveryRun + kSelected + kWithDevices},
                                         {std::string(kContent) + kRunsOfSerial + kSelected + kRunsOnly,
                                          std::string(kContent) + kRunsOfSerial + kSelected + kWithDevices}};
  int rc;
  {
    Use s(stmt(kSql[f.serial.empty() ? 0 : 1][withDevices ? 1 : 0].c_str()));
    s->bindInt(1, f.includeCancelled);
    if (f.since)
      s->bind(2, *f.since);
    else
      s->bindNull(2);
    s->bind(3, f.serial);
    s->bind(4, f.deviceName);
    s->bindInt(5, f.limit > 0 ? f.limit : -1);
    while ((rc = s->step()) == SQLITE_ROW) {
      const int64_t runId = s->integer(0);
      if (out.empty() || out.back().runId != runId) {
        RunSummary x;
        x.runId = runId;
        x.contentId = s->integer(1);
        x.cancelled = s->integer(2) != 0;
        x.startedAtMs = s->integer(3);
        x.finishedAtMs = s->integer(4);
        x.utcOffsetMin = s->intValue(5);
        x.workstation = s->text(6);
        x.kind = kindFromName(s->text(7)).value_or(RunKind::Verification);
        x.tag = tagFromName(s->text(8)).value_or(RunTag::AsFound);
        x.calibratorSerial = s->text(9);
        out.push_back(std::move(x));
      }
      if (s->isNull(10) || s->integer(10) == 0) continue;
      DeviceSummary d;
      d.channel = s->intValue(10);
      d.name = s->text(11);
      d.model = s->text(12);
      d.serial = s->text(13);
      d.verdict = verdictFromName(s->text(14)).value_or(Verdict::None);
      out.back().devices.push_back(std::move(d));
    }
  }
  if (rc != SQLITE_DONE) return sqliteError(rc, "прочитать историю");
  return out;
}

Result<std::vector<RunSummary>> HistoryStore::list(const ListFilter& filter) { return query(filter, true); }

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

Result<StoredRun> HistoryStore::show(int64_t runId) { return load(runId); }

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

namespace {

const DeviceResult* deviceWithSerial(const RunRecord& r, const std::string& serial) {
  for (const DeviceResult& d : r.devices)
    if (d.serial == serial) return &d;
  return nullptr;
}

bool sameTarget(float a, float b) { return !std::isnan(a) && !std::isnan(b) && std::fabs(a - b) <= 1e-3f; }

// Points of the as-found run beside the as-left ones: the same target percent in walk order (an up and
// a down scan through the same percent pair in turn); points entered by hand pair in their order.
std::vector<PointChange> matchPoints(const DeviceResult* found, const DeviceResult* left) {
  std::vector<PointChange> out;
  const std::vector<PointResult> none;
  const std::vector<PointResult>& fp = found ? found->points : none;
  const std::vector<PointResult>& lp = left ? left->points : none;
  std::vector<bool> used(lp.size(), false);
  for (const PointResult& f : fp) {
    PointChange c;
    c.targetPrc = f.targetPrc;
    c.asFound = f;
    for (std::size_t k = 0; k < lp.size(); ++k) {
      if (used[k]) continue;
      const bool byTarget = sameTarget(f.targetPrc, lp[k].targetPrc);
      const bool byOrder = std::isnan(f.targetPrc) && std::isnan(lp[k].targetPrc);
      if (byTarget || byOrder) {
        used[k] = true;
        c.asLeft = lp[k];
        c.errorChange = lp[k].reducedError - f.reducedError;
        break;
      }
    }
    out.push_back(c);
  }
  for (std::size_t k = 0; k < lp.size(); ++k) {
    if (used[k]) continue;
    PointChange c;
    c.targetPrc = lp[k].targetPrc;
    c.asLeft = lp[k];
    out.push_back(c);
  }
  return out;
}

}  // namespace

Result<RunPair> HistoryStore::pair(const std::string& serial) {
  ListFilter f;
  f.serial = serial;
  const Result<std::vector<RunSummary>> runs = query(f, false);
  if (!runs) return runs.error();
  if (serial.empty() || runs->empty())
    return error(ErrorCode::NotFound,
                 "В истории " + inQuotes(path_) + " нет запусков прибора № " + serial + ".");
  // Newest first: the latest as-left run, then the latest as-found run before it.
  std::size_t left = runs->size(), found = runs->size();
  for (std::size_t i = 0; i < runs->size(); ++i)
    if ((*runs)[i].tag == RunTag::AsLeft) {
      left = i;
      break;
    }
  for (std::size_t i = left == runs->size() ? 0 : left + 1; i < runs->size(); ++i)
    if ((*runs)[i].tag == RunTag::AsFound) {
      found = i;
      break;
    }
  RunPair out;
  out.serial = serial;
  if (found < runs->size()) {
    Result<StoredRun> r = load((*runs)[found].runId);
    if (!r) return r.error();
    out.asFound = std::move(r.value());
  }
  if (left < runs->size()) {
    Result<StoredRun> r = load((*runs)[left].runId);
    if (!r) return r.error();
    out.asLeft = std::move(r.value());
  }
  out.points = matchPoints(out.asFound ? deviceWithSerial(out.asFound->record, serial) : nullptr,
                           out.asLeft ? deviceWithSerial(out.asLeft->record, serial) : nullptr);
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

// ---- the chain ----

Result<ChainCheck> HistoryStore::check() {
  ChainCheck out;
  if (empty_) {
    out.ok = true;
    return out;
  }
  int rc;
  {
    // Damaged pages first: the chain of a damaged file cannot be read reliably.
    Statement s;
    rc = s.prepare(db_, "PRAGMA quick_check(1)");
    if (rc == SQLITE_OK) rc = s.step();
    if (rc != SQLITE_ROW) return sqliteError(rc, "проверить историю");
    const std::string verdict = s.text(0);
    if (verdict != "ok")
      return error(ErrorCode::Damaged, "База истории " + inQuotes(path_) + " повреждена (SQLite: " + verdict +
                                           "). Восстановите файл из резервной копии.");
  }
  auto bad = [&](int64_t seq, std::string problem) {
    if (out.firstBad == 0 || seq < out.firstBad) {
      out.firstBad = seq;
      out.problem = std::move(problem);
    }
  };

  std::vector<EntryRow> entries;
  {
    Use s(
        stmt("SELECT seq, kind, refers_to, recorded_at, workstation, note, hash_format, prev_hash, hash "
             "FROM entry ORDER BY seq"));
    while ((rc = s->step()) == SQLITE_ROW) {
      EntryRow e;
      e.seq = s->integer(0);
      e.kind = s->text(1);
      if (!s->isNull(2)) e.refersTo = s->integer(2);
      e.recordedAtMs = s->integer(3);
      e.workstation = s->text(4);
      e.note = s->text(5);
      e.hashFormat = s->intValue(6);
      e.prevHash = s->text(7);
      e.hash = s->text(8);
      if (s->takeForeign() && out.firstBad == 0) bad(e.seq, "значения записи изменены вне программы");
      entries.push_back(std::move(e));
    }
  }
  if (rc != SQLITE_DONE) return sqliteError(rc, "проверить историю");

  std::string prevHash = kGenesisHash;
  int64_t expected = 1;
  for (const EntryRow& e : entries) {
    if (out.firstBad != 0 && out.firstBad <= e.seq) break;
    ++out.entries;
    if (e.seq != expected) {
      bad(expected, e.seq > expected ? "запись " + std::to_string(expected) + " отсутствует (удалена)"
                                     : "номер записи " + std::to_string(e.seq) + " повторяется");
      break;
    }
    if (e.prevHash != prevHash) {
      bad(e.seq, "ссылка на предыдущую запись не совпадает: записи переставлены, удалены или вставлены");
      break;
    }
    if (e.hashFormat != kHashFormat) {
      bad(e.seq, "неизвестный формат хэша " + std::to_string(e.hashFormat));
      break;
    }
    RunRecord run;
    Adjustment adjustment;
    bool foreign = false, hasRun = false, hasAdjustment = false;
    if (e.kind == "run" || e.kind == "correction") {
      rc = readRun(e.seq, run, foreign);
      if (rc == kNoRow) {
        bad(e.seq, "содержимое записи удалено");
        break;
      }
      if (rc != SQLITE_OK) return sqliteError(rc, "проверить историю");
      hasRun = true;
    } else if (e.kind == "adjustment") {
      rc = readAdjustment(e.seq, adjustment, hasAdjustment, foreign);
      if (rc != SQLITE_OK) return sqliteError(rc, "проверить историю");
      if (!hasAdjustment) {
        bad(e.seq, "содержимое записи удалено");
        break;
      }
    } else if (e.kind != "cancellation") {
      bad(e.seq, "неизвестный вид записи «" + e.kind + "»");
      break;
    }
    if ((e.kind == "correction" || e.kind == "cancellation") && !e.refersTo) {
      bad(e.seq, "запись не указывает, к какому запуску относится");
      break;
    }
    if (foreign) {
      bad(e.seq, "значения записи изменены вне программы");
      break;
    }
    const std::string hash = entryHash(e.prevHash, canonicalEntry(e.header(), hasRun ? &run : nullptr,
                                                                  hasAdjustment ? &adjustment : nullptr));
    if (hash != e.hash) {
      bad(e.seq, "содержимое записи изменено (хэш не совпадает)");
      break;
    }
    prevHash = e.hash;
    ++expected;
  }

  // The last entry the program wrote: entries missing at the end leave no gap in the chain.
  if (out.firstBad == 0) {
    std::string headSeq, headHash;
    {
      Use s(stmt("SELECT name, value FROM history_meta WHERE name IN ('head_seq', 'head_hash')"));
      while ((rc = s->step()) == SQLITE_ROW) (s->text(0) == "head_seq" ? headSeq : headHash) = s->text(1);
      if (rc != SQLITE_DONE) return sqliteError(rc, "проверить историю");
    }
    const int64_t last = expected - 1;
    const int64_t head = std::atoll(headSeq.c_str());
    if (headSeq.empty() || headHash.empty())
      bad(last + 1, "нет отметки последней записи");
    else if (head > last)
      bad(last + 1,
          "последние записи удалены: программа записала " + headSeq + ", в базе " + std::to_string(last));
    else if (head < last)
      bad(head + 1, "запись добавлена не этой программой");
    else if (headHash != prevHash)
      bad(last, "последняя запись заменена");
  }

  // Rows that belong to no entry of their kind.
  {
    Use s(
        stmt("SELECT MIN(s) FROM ("
             "SELECT entry_seq AS s FROM run WHERE entry_seq NOT IN "
             "(SELECT seq FROM entry WHERE kind IN ('run', 'correction')) "
             "UNION ALL SELECT entry_seq FROM run_field WHERE entry_seq NOT IN (SELECT entry_seq FROM run) "
             "UNION ALL SELECT entry_seq FROM run_channel WHERE entry_seq NOT IN (SELECT entry_seq FROM run) "
             "UNION ALL SELECT entry_seq FROM run_point WHERE entry_seq NOT IN (SELECT entry_seq FROM run) "
             "UNION ALL SELECT entry_seq FROM run_relay WHERE entry_seq NOT IN (SELECT entry_seq FROM run) "
             "UNION ALL SELECT entry_seq FROM adjustment WHERE entry_seq NOT IN "
             "(SELECT seq FROM entry WHERE kind = 'adjustment'))"));
    rc = s->step();
    if (rc != SQLITE_ROW) return sqliteError(rc, "проверить историю");
    if (!s->isNull(0))
      bad(s->integer(0),
          "в базе есть строки записи " + std::to_string(s->integer(0)) + ", которой нет в цепочке");
  }
  out.ok = out.firstBad == 0;
  return out;
}

}  // namespace quarn::history
