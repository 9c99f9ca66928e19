// The run history's push to, check of and listing from a lab's PostgreSQL server (libpq, no Qt).
#include "HistoryServer.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string_view>
#include <tuple>

#include "HistoryAnchors.h"
#include "HistoryStore.h"
#include "RunBuilder.h"
#include "RunPairing.h"
#include "TextFile.h"
#include "canonical.h"
#include "canonical_decode.h"
#include "history_server_sql.h"
#include "sha256.h"

namespace quarn::history {

namespace {

namespace fs = std::filesystem;

std::string inQuotes(const std::string& s) { return "«" + s + "»"; }

Error error(ErrorCode code, std::string message) { return Error{code, std::move(message)}; }

// libpq's message without its trailing line feeds, on one line.
std::string oneLine(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  for (char& c : s)
    if (c == '\n') c = ' ';
  return s;
}

// ---- the connection ----

struct ConnCloser {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultCloser {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Conn = std::unique_ptr<PGconn, ConnCloser>;
using Res = std::unique_ptr<PGresult, ResultCloser>;

// A query's outcome: the rows, or the server's (or the connection's) reason.
struct Query {
  Res res;
  bool ok = false;
  std::string sqlState;
  std::string message;
};

class Server {
 public:
  Server(PGconn* conn, std::string name) : conn_(conn), name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  PGconn* get() const { return conn_.get(); }
  bool lost() const { return PQstatus(conn_.get()) == CONNECTION_BAD; }

  Query run(const char* sql, const std::vector<const char*>& params) {
    Query q;
    q.res.reset(PQexecParams(conn_.get(), sql, static_cast<int>(params.size()), nullptr,
                             params.empty() ? nullptr : params.data(), nullptr, nullptr, 0));
    take(q);
    return q;
  }
  Query run(const char* sql, std::initializer_list<const char*> params = {},
            std::initializer_list<int> lengths = {}, std::initializer_list<int> formats = {}) {
    std::vector<const char*> values(params);
    std::vector<int> len(lengths), fmt(formats);
    if (!len.empty() && len.size() != values.size()) len.clear();
    if (!fmt.empty() && fmt.size() != values.size()) fmt.clear();
    Query q;
    q.res.reset(PQexecParams(conn_.get(), sql, static_cast<int>(values.size()), nullptr,
                             values.empty() ? nullptr : values.data(), len.empty() ? nullptr : len.data(),
                             fmt.empty() ? nullptr : fmt.data(), 0));
    take(q);
    return q;
  }
  Query prepared(const char* name, const std::vector<const char*>& values, const std::vector<int>& lengths,
                 const std::vector<int>& formats) {
    Query q;
    q.res.reset(PQexecPrepared(conn_.get(), name, static_cast<int>(values.size()), values.data(),
                               lengths.data(), formats.data(), 0));
    take(q);
    return q;
  }
  bool exec(const char* sql) { return run(sql).ok; }
  // Runs the prepared statement `name` once per row (`row(k)` gives its 20 values, lengths and formats)
  // in one round trip; ok, or the first failure.
  template <class Row>
  Query pipelined(const char* name, std::size_t rows, Row&& row) {
    PGconn* c = conn_.get();
    Query q;
    if (PQenterPipelineMode(c) != 1) {
      q.message = oneLine(PQerrorMessage(c));
      return q;
    }
    std::size_t sent = 0;
    for (; sent < rows; ++sent) {
      const auto [values, lengths, formats] = row(sent);
      if (PQsendQueryPrepared(c, name, 20, values, lengths, formats, 0) != 1) break;
    }
    q.ok = sent == rows && PQpipelineSync(c) == 1;
    if (!q.ok) q.message = oneLine(PQerrorMessage(c));
    // Each query's results end with a null; the pipeline's end is its own result.
    // Drained to the end whatever happened: the connection leaves pipeline mode only when nothing is
    // pending (after a failure the later queries report themselves aborted).
    for (std::size_t nulls = 0;;) {
      if (PQstatus(c) == CONNECTION_BAD) {
        if (q.ok || q.message.empty()) q.message = oneLine(PQerrorMessage(c));
        q.ok = false;
        break;
      }
      PGresult* r = PQgetResult(c);
      if (!r) {
        if (++nulls > sent + 1) break;  // nothing more is coming (the sync was not sent)
        continue;
      }
      const ExecStatusType st = PQresultStatus(r);
      if (st == PGRES_PIPELINE_SYNC) {
        PQclear(r);
        break;
      }
      if (st == PGRES_FATAL_ERROR && q.ok) {
        q.ok = false;
        q.res.reset(r);
        if (const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE)) q.sqlState = state;
        const char* m = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
        q.message = m ? m : oneLine(PQerrorMessage(c));
        continue;
      }
      PQclear(r);
    }
    PQexitPipelineMode(c);
    return q;
  }

 private:
  void take(Query& q) {
    const ExecStatusType st = q.res ? PQresultStatus(q.res.get()) : PGRES_FATAL_ERROR;
    q.ok = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
    if (q.ok) return;
    if (q.res) {
      if (const char* s = PQresultErrorField(q.res.get(), PG_DIAG_SQLSTATE)) q.sqlState = s;
      if (const char* m = PQresultErrorField(q.res.get(), PG_DIAG_MESSAGE_PRIMARY)) q.message = m;
    }
    if (q.message.empty()) q.message = oneLine(PQerrorMessage(conn_.get()));
  }

  Conn conn_;
  std::string name_;
};

bool isUri(const std::string& s) {
  return s.rfind("postgresql://", 0) == 0 || s.rfind("postgres://", 0) == 0;
}

// What names the server in messages and in the acknowledged heads: host, port and database.
std::string serverName(PGconn* c) {
  const char* host = PQhost(c);
  const char* port = PQport(c);
  const char* db = PQdb(c);
  return std::string(host && *host ? host : "localhost") + ":" + (port && *port ? port : "5432") + "/" +
         (db ? db : "");
}

Result<std::unique_ptr<Server>> connect(const std::string& uri, const ServerOptions& options) {
  const std::string shown = redactedServer(uri);
  if (uri.empty())
    return error(ErrorCode::CannotOpen, "Сервер истории поверок не задан (--server, переменная " +
                                            std::string(kServerEnvironment) + " или файл настроек)");
  const std::string timeout = std::to_string(options.connectTimeoutS);
  std::vector<const char*> keys{"dbname", "fallback_application_name"};
  std::vector<const char*> values{uri.c_str(), options.applicationName.c_str()};
  if (uri.find("connect_timeout") == std::string::npos) {
    keys.push_back("connect_timeout");
    values.push_back(timeout.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  // A string libpq cannot parse is refused before anything is tried.
  char* parseError = nullptr;
  if (PQconninfoOption* parsed = PQconninfoParse(uri.c_str(), &parseError)) {
    PQconninfoFree(parsed);
  } else {
    const std::string why = oneLine(parseError);
    PQfreemem(parseError);
    return error(ErrorCode::CannotOpen, "Адрес сервера истории поверок " + inQuotes(shown) +
                                            " не разобран: " + (why.empty() ? "нехватка памяти" : why));
  }
  PGconn* c = PQconnectdbParams(keys.data(), values.data(), 1);
  if (!c) return error(ErrorCode::Io, "Не удалось подключиться к серверу истории поверок: нехватка памяти");
  if (PQstatus(c) != CONNECTION_OK) {
    const std::string why = oneLine(PQerrorMessage(c));
    PQfinish(c);
    return error(ErrorCode::Io,
                 "Не удалось подключиться к серверу истории поверок " + inQuotes(shown) + ": " + why);
  }
  auto server = std::make_unique<Server>(c, serverName(c));
  // The server's notices (libpq prints them on stderr) are of no use to the operator.
  PQsetNoticeProcessor(
      c, [](void*, const char*) {}, nullptr);
  return server;
}

// The server's schema version, or why it cannot be used.
Result<int> schemaOf(Server& s) {
  Query q = s.run("SELECT value FROM history_server_meta WHERE name = 'schema_version'");
  if (!q.ok) {
    if (q.sqlState == "42P01")
      return error(ErrorCode::NotAHistory,
                   "В базе сервера " + inQuotes(s.name()) +
                       " нет истории поверок: администратор создаёт её "
                       "файлами sql/history_server_roles.sql и sql/history_server.sql");
    return error(ErrorCode::Io,
                 "Не удалось прочитать версию схемы сервера " + inQuotes(s.name()) + ": " + q.message);
  }
  if (PQntuples(q.res.get()) != 1)
    return error(ErrorCode::Damaged,
                 "На сервере " + inQuotes(s.name()) + " нет версии схемы истории поверок");
  const std::string text = PQgetvalue(q.res.get(), 0, 0);
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || v < 1)
    return error(ErrorCode::Damaged, "Версия схемы сервера " + inQuotes(s.name()) + " не читается: " + text);
  if (v > kServerSchemaVersion)
    return error(ErrorCode::NewerSchema, "База сервера " + inQuotes(s.name()) + " новее программы (схема " +
                                             text + ", программа знает схему " +
                                             std::to_string(kServerSchemaVersion) + "): обновите программу");
  return static_cast<int>(v);
}

// ---- the acknowledged heads kept locally ----

struct AckLine {
  std::string history, server, workstation;
  int64_t seq = 0;
  std::string hash;
};

bool isHash(const std::string& s) {
  return s.size() == 64 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::vector<AckLine> readAcks(const std::string& folder) {
  std::vector<AckLine> out;
  if (folder.empty()) return out;
  std::ifstream in(folder + "/" + kServerHeadsFileName, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> p;
    std::size_t from = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', from);
      p.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    if (p.size() != 5 || !isHash(p[4])) continue;
    char* end = nullptr;
    const long long seq = std::strtoll(p[3].c_str(), &end, 10);
    if (p[3].empty() || *end != 0 || seq < 1) continue;
    out.push_back({unescapeLineField(p[0]), unescapeLineField(p[1]), unescapeLineField(p[2]), seq, p[4]});
  }
  return out;
}

std::optional<AckLine> ackOf(const std::string& folder, const std::string& history, const std::string& server,
                             const std::string& workstation) {
  for (const AckLine& a : readAcks(folder))
    if (a.history == history && a.server == server && a.workstation == workstation) return a;
  return std::nullopt;
}

// Notes the server's head for the history, under the anchor folder's lock; a head only moves forward.
std::string noteAck(const std::string& folder, const AckLine& ack) {
  if (folder.empty()) return {};
  std::error_code ec;
  fs::create_directories(folder, ec);
  const std::string lockName = folder + "/history-anchors.lock";
  const int lock = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return "не удалось открыть " + lockName + ": " + std::strerror(errno);
  while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::vector<AckLine> acks = readAcks(folder);
  bool found = false;
  for (AckLine& a : acks)
    if (a.history == ack.history && a.server == ack.server && a.workstation == ack.workstation) {
      found = true;
      if (ack.seq >= a.seq) a = ack;
    }
  if (!found) acks.push_back(ack);
  std::string text;
  for (const AckLine& a : acks)
    text += escapeLineField(a.history) + "\t" + escapeLineField(a.server) + "\t" +
            escapeLineField(a.workstation) + "\t" + std::to_string(a.seq) + "\t" + a.hash + "\n";
  const std::string err = data::writeFileAtomically(folder + "/" + kServerHeadsFileName, text).why();
  ::close(lock);
  return err;
}

// ---- reading canonical content back ----

// The fields of a canonical text a server row repeats in its columns.
struct CanonicalFacts {
  bool ok = true;
  int64_t format = 0, seq = 0, recordedAt = 0;
  std::string kind, workstation, note, operatorName;
  std::optional<int64_t> refersTo;
  bool isRun = false;
  int64_t startedAt = 0, utcOffset = 0;
  std::string runKind, runTag;
  std::string channels, names, serials, verdicts;  // encoded as the server query encodes its arrays
};

std::string lengthPrefixed(std::string_view s) { return std::to_string(s.size()) + ":" + std::string(s); }

// Reads "name type payload\n" lines; a text is "t<length>:<bytes>\n" and may hold line feeds.
CanonicalFacts factsOf(std::string_view text) {
  CanonicalFacts f;
  std::size_t at = 0;
  bool sawOperator = false;
  while (at < text.size()) {
    const std::size_t space = text.find(' ', at);
    if (space == std::string_view::npos) {
      f.ok = false;
      break;
    }
    const std::string_view name = text.substr(at, space - at);
    at = space + 1;
    if (at >= text.size()) {
      f.ok = false;
      break;
    }
    const char type = text[at];
    std::string_view payload;
    if (type == 't') {
      const std::size_t colon = text.find(':', at);
      if (colon == std::string_view::npos) {
        f.ok = false;
        break;
      }
      const std::string len(text.substr(at + 1, colon - at - 1));
      char* end = nullptr;
      const unsigned long long n = std::strtoull(len.c_str(), &end, 10);
      if (len.empty() || *end != 0 || n >= text.size() - (colon + 1) || text[colon + 1 + n] != '\n') {
        f.ok = false;
        break;
      }
      payload = text.substr(colon + 1, n);
      at = colon + 1 + n + 1;
    } else {
      const std::size_t nl = text.find('\n', at);
      if (nl == std::string_view::npos) {
        f.ok = false;
        break;
      }
      payload = text.substr(at + 1, nl - at - 1);
      at = nl + 1;
    }
    auto integer = [&](int64_t& out) {
      const std::string p(payload);
      char* end = nullptr;
      out = std::strtoll(p.c_str(), &end, 10);
      if (type != 'i' || p.empty() || *end != 0) f.ok = false;
    };
    if (name == "quarn-history-entry")
      integer(f.format);
    else if (name == "entry.seq")
      integer(f.seq);
    else if (name == "entry.kind")
      f.kind = payload;
    else if (name == "entry.refers_to") {
      if (type == 'n')
        f.refersTo.reset();
      else {
        int64_t v = 0;
        integer(v);
        f.refersTo = v;
      }
    } else if (name == "entry.recorded_at")
      integer(f.recordedAt);
    else if (name == "entry.workstation")
      f.workstation = payload;
    else if (name == "entry.note")
      f.note = payload;
    else if (name == "entry.operator") {
      f.operatorName = payload;
      sawOperator = true;
    } else if (name == "run.started_at") {
      f.isRun = true;
      integer(f.startedAt);
    } else if (name == "run.utc_offset_min")
      integer(f.utcOffset);
    else if (name == "run.kind")
      f.runKind = payload;
    else if (name == "run.tag")
      f.runTag = payload;
    else if (name.rfind("channel[", 0) == 0) {
      const std::size_t close = name.find("].");
      if (close == std::string_view::npos || name.find("point[") != std::string_view::npos) continue;
      const std::string_view field = name.substr(close + 2);
      if (field == "name") {
        const std::string_view channel = name.substr(8, close - 8);
        f.channels += lengthPrefixed(channel);
        f.names += lengthPrefixed(payload);
      } else if (field == "serial") {
        f.serials += lengthPrefixed(payload);
      } else if (field == "verdict") {
        f.verdicts += lengthPrefixed(payload);
      }
    }
  }
  if (f.format >= 2 && !sawOperator) f.ok = false;
  return f;
}

// The server query's encoding of a text or integer array: each element as "<bytes>:<text>", NULL
// for a NULL array.
std::string encodedArray(const char* column) {
  return std::string(
             "(SELECT coalesce(string_agg(octet_length(x::text)::text || ':' || x::text, '' ORDER BY o), '') "
             "FROM unnest(") +
         column + ") WITH ORDINALITY AS t(x, o))";
}

std::string entryColumns() {
  return "seq, kind, refers_to, recorded_at, workstation, note, operator_name, hash_format, prev_hash, hash, "
         "canonical, run_started_at, run_utc_offset, run_kind, run_tag, device_channels IS NULL, " +
         encodedArray("device_channels") + ", " + encodedArray("device_names") + ", " +
         encodedArray("device_serials") + ", " + encodedArray("device_verdicts");
}

std::string textArray(const std::vector<std::string>& items) {
  std::string out = "{";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    out += '"';
    for (char c : items[i]) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  return out + "}";
}

// Decodes "<n>:<text><n>:<text>…" into its elements.
std::vector<std::string> decodedArray(std::string_view s) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < s.size()) {
    const std::size_t colon = s.find(':', at);
    if (colon == std::string_view::npos) break;
    const std::size_t n = std::strtoull(std::string(s.substr(at, colon - at)).c_str(), nullptr, 10);
    if (colon + 1 + n > s.size()) break;
    out.emplace_back(s.substr(colon + 1, n));
    at = colon + 1 + n;
  }
  return out;
}

std::string hexHashOf(std::string_view prevHash, std::string_view canonical) {
  Sha256 sha;
  sha.update(prevHash);
  sha.update("\n");
  sha.update(canonical);
  return toHex(sha.finish());
}

// What is wrong with one server row of a workstation's chain, given the previous hash; empty when it
// holds.
std::string rowProblem(PGresult* r, int row, int64_t expectedSeq, const std::string& prev) {
  auto text = [r, row](int col) {
    return std::string_view(PQgetvalue(r, row, col), PQgetlength(r, row, col));
  };
  auto null = [r, row](int col) { return PQgetisnull(r, row, col) != 0; };
  const int64_t seq = std::strtoll(PQgetvalue(r, row, 0), nullptr, 10);
  if (seq != expectedSeq)
    return seq > expectedSeq ? "запись " + std::to_string(expectedSeq) + " на сервере отсутствует (удалена)"
                             : "номер записи " + std::to_string(seq) + " повторяется";
  if (text(8) != prev)
    return "ссылка на предыдущую запись не совпадает: записи на сервере переставлены, удалены или вставлены";
  size_t length = 0;
  unsigned char* bytes =
      PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, 10)), &length);
  if (!bytes) return "содержимое записи не читается";
  const std::string canonical(reinterpret_cast<const char*>(bytes), length);
  PQfreemem(bytes);
  if (hexHashOf(prev, canonical) != text(9))
    return "содержимое записи на сервере изменено (хэш не совпадает)";
  const CanonicalFacts f = factsOf(canonical);
  const std::string kind(text(1));
  const bool runLike = kind == "run" || kind == "correction";
  bool same = f.ok && f.seq == seq && f.kind == kind && text(4) == f.workstation && text(5) == f.note &&
              text(6) == f.operatorName && std::to_string(f.format) == std::string(text(7)) &&
              std::to_string(f.recordedAt) == std::string(text(3)) &&
              (null(2) ? !f.refersTo : (f.refersTo && std::to_string(*f.refersTo) == std::string(text(2))));
  if (same && runLike) {
    same = f.isRun && !null(11) && std::to_string(f.startedAt) == std::string(text(11)) && !null(12) &&
           std::to_string(f.utcOffset) == std::string(text(12)) && text(13) == f.runKind &&
           text(14) == f.runTag && std::string(text(15)) == "f" && text(16) == f.channels &&
           text(17) == f.names && text(18) == f.serials && text(19) == f.verdicts;
  } else if (same) {
    same = !f.isRun && null(11) && null(12) && null(13) && null(14) && std::string(text(15)) == "t";
  }
  if (!same) return "значения записи на сервере изменены (не совпадают с её содержимым)";
  return {};
}

// Walks one workstation's entries on the server in order (a cursor, a few hundred rows at a time)
// and hands each row to `row` (result, index); returns the reason of a failed read.
template <class Row>
std::string walkServer(Server& s, const std::string& workstation, Row&& row) {
  const std::string declare = "DECLARE history_walk NO SCROLL CURSOR FOR SELECT " + entryColumns() +
                              " FROM entry WHERE workstation_id = $1 ORDER BY seq";
  Query q = s.run(declare.c_str(), {workstation.c_str()});
  if (!q.ok) return q.message;
  for (;;) {
    Query f = s.run("FETCH 500 FROM history_walk");
    if (!f.ok) return f.message;
    const int n = PQntuples(f.res.get());
    if (n == 0) break;
    for (int i = 0; i < n; ++i)
      if (!row(f.res.get(), i)) {
        s.exec("CLOSE history_walk");
        return {};
      }
  }
  s.exec("CLOSE history_walk");
  return {};
}

// The local history's hashes of entries 1..upTo (fewer when it ends before).
Result<std::vector<std::string>> localHashes(HistoryStore& local, int64_t upTo) {
  std::vector<std::string> out;
  if (upTo <= 0) return out;
  Result<int64_t> r = local.entriesAfter(0, [&](const ChainEntry& e) {
    out.emplace_back(e.hash);
    return static_cast<int64_t>(out.size()) < upTo;
  });
  if (!r) return r.error();
  return out;
}

// The local history's entry `seq`'s hash, or empty when it has none.
Result<std::string> localHashAt(HistoryStore& local, int64_t seq, int64_t localHead) {
  if (seq < 1 || seq > localHead) return std::string();
  std::string hash;
  Result<int64_t> r = local.entriesAfter(seq - 1, [&](const ChainEntry& e) {
    hash = std::string(e.hash);
    return false;
  });
  if (!r) return r.error();
  return hash;
}

// The first entry (1-based) where the local hashes and the server's differ, given the server's list.
int64_t firstDifference(const std::vector<std::string>& local, const std::vector<std::string>& server) {
  for (std::size_t i = 0; i < server.size(); ++i)
    if (i >= local.size() || local[i] != server[i]) return static_cast<int64_t>(i) + 1;
  return 0;
}

Result<std::vector<std::string>> serverHashes(Server& s, const std::string& workstation) {
  Query q = s.run("SELECT hash FROM entry WHERE workstation_id = $1 ORDER BY seq", {workstation.c_str()});
  if (!q.ok)
    return error(ErrorCode::Io,
                 "Не удалось прочитать записи сервера " + inQuotes(s.name()) + ": " + q.message);
  std::vector<std::string> out;
  for (int i = 0; i < PQntuples(q.res.get()); ++i) out.emplace_back(PQgetvalue(q.res.get(), i, 0));
  return out;
}

// Names what the local history lacks of the server's chain (empty when it holds all of it).
Result<std::pair<int64_t, std::string>> compareWithServer(HistoryStore& local, Server& s,
                                                          const std::string& workstation, int64_t localHead) {
  Result<std::vector<std::string>> server = serverHashes(s, workstation);
  if (!server) return server.error();
  Result<std::vector<std::string>> mine = localHashes(local, static_cast<int64_t>(server->size()));
  if (!mine) return mine.error();
  const int64_t k = firstDifference(*mine, *server);
  if (k == 0) return std::pair<int64_t, std::string>{0, {}};
  const std::string where = " (станция " + inQuotes(workstation) + ", сервер " + inQuotes(s.name()) + ")";
  if (k > localHead)
    return std::pair<int64_t, std::string>{
        k, "в истории поверок " + inQuotes(local.path()) + " нет записи " + std::to_string(k) +
               ", которая есть на сервере" + where +
               ": последние записи удалены или файл заменён более старой копией"};
  return std::pair<int64_t, std::string>{k, "запись " + std::to_string(k) + " истории поверок " +
                                                inQuotes(local.path()) + " отличается от записи на сервере" +
                                                where +
                                                ": запись удалена, файл заменён или цепочка переписана"};
}

}  // namespace

std::string redactedServer(const std::string& uri) {
  if (isUri(uri)) {
    const std::size_t scheme = uri.find("://") + 3;
    const std::size_t slash = uri.find_first_of("/?", scheme);
    const std::size_t at = uri.rfind('@', slash == std::string::npos ? std::string::npos : slash);
    std::string out = uri;
    if (at != std::string::npos && at >= scheme) {
      const std::size_t colon = uri.find(':', scheme);
      if (colon != std::string::npos && colon < at) out = uri.substr(0, colon) + uri.substr(at);
    }
    // A password given as a parameter (…?password=…) goes too.
    const std::size_t q = out.find('?');
    if (q != std::string::npos) {
      std::string query = out.substr(q + 1), kept;
      std::size_t from = 0;
      while (from <= query.size()) {
        const std::size_t amp = query.find('&', from);
        const std::string part =
            query.substr(from, amp == std::string::npos ? std::string::npos : amp - from);
        if (part.rfind("password=", 0) != 0 && !part.empty()) kept += (kept.empty() ? "" : "&") + part;
        if (amp == std::string::npos) break;
        from = amp + 1;
      }
      out = out.substr(0, q) + (kept.empty() ? "" : "?" + kept);
    }
    return out;
  }
  // key=value pairs: drop password=… (a quoted value may hold spaces).
  std::string out;
  std::size_t at = 0;
  while (at < uri.size()) {
    while (at < uri.size() && uri[at] == ' ') ++at;
    if (at >= uri.size()) break;
    std::size_t end = at;
    bool quoted = false;
    while (end < uri.size() && (quoted || uri[end] != ' ')) {
      if (uri[end] == '\\' && end + 1 < uri.size()) {
        end += 2;
        continue;
      }
      if (uri[end] == '\'') quoted = !quoted;
      ++end;
    }
    std::string part = uri.substr(at, end - at);
    std::string key = part.substr(0, part.find('='));
    while (!key.empty() && key.back() == ' ') key.pop_back();
    if (key != "password") out += (out.empty() ? "" : " ") + part;
    at = end;
  }
  return out;
}

std::string defaultWorkstationId() { return defaultWorkstationName(); }

std::vector<Anchor> serverAnchorsOf(const std::string& anchorFolder, const std::string& historyPath) {
  std::vector<Anchor> out;
  const std::string path = anchorPathOf(historyPath);
  for (const AckLine& a : readAcks(anchorFolder)) {
    if (a.history != path) continue;
    Anchor anchor;
    anchor.source = "сервер " + a.server + " (станция " + a.workstation + ")";
    anchor.seq = a.seq;
    anchor.hash = a.hash;
    out.push_back(anchor);
  }
  return out;
}

Result<bool> installServerSchema(const std::string& uri) {
  ServerOptions options;
  Result<std::unique_ptr<Server>> s = connect(uri, options);
  if (!s) return s.error();
  Server& server = **s;
  const std::string sql = std::string("BEGIN;\n") + kServerRolesSql + "\n" + kServerSchemaSql + "\nCOMMIT;";
  Res r(PQexec(server.get(), sql.c_str()));
  if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
    std::string why = oneLine(PQerrorMessage(server.get()));
    server.exec("ROLLBACK");
    return error(ErrorCode::Io,
                 "Схема истории поверок не создана на сервере " + inQuotes(server.name()) + ": " + why);
  }
  return true;
}

Result<SyncResult> syncToServer(HistoryStore& local, const ServerOptions& options) {
  if (options.workstationId.empty())
    return error(ErrorCode::InvalidRecord, "Не задано имя рабочей станции на сервере истории поверок");
  // The local history first: a history that does not hold is never pushed.
  Result<ChainCheck> localCheck = local.checkForRead();
  if (!localCheck) return localCheck.error();
  const int64_t localHead = localCheck->head;

  Result<std::unique_ptr<Server>> connected = connect(options.uri, options);
  if (!connected) return connected.error();
  Server& s = **connected;
  if (Result<int> v = schemaOf(s); !v) return v.error();

  SyncResult out;
  out.server = s.name();
  out.workstationId = options.workstationId;
  out.localHead = localHead;
  const std::string where =
      " (станция " + inQuotes(options.workstationId) + ", сервер " + inQuotes(s.name()) + ")";
  const std::string historyPath = anchorPathOf(local.path());
  const auto lostLink = [&](const std::string& what) {
    return error(ErrorCode::Io, "Связь с сервером истории поверок " + inQuotes(s.name()) + " прервана (" +
                                    what + "): на сервере записей " + std::to_string(out.serverHead) +
                                    " из " + std::to_string(localHead) +
                                    "; следующая синхронизация продолжит. Локальная история не изменена.");
  };
  const auto failed = [&](const Query& q, const std::string& what) {
    if (s.lost()) return lostLink(q.message);
    return error(ErrorCode::Io, "Сервер истории поверок " + inQuotes(s.name()) + " отказал (" + what +
                                    "): " + q.message + ". Локальная история не изменена.");
  };

  // The server's view of this workstation.
  Query row = s.run("SELECT first_hash, head_seq, head_hash FROM workstation WHERE id = $1",
                    {options.workstationId.c_str()});
  if (!row.ok) return failed(row, "чтение станции");
  std::optional<AckLine> ack = ackOf(options.anchorFolder, historyPath, s.name(), options.workstationId);
  if (PQntuples(row.res.get()) == 0) {
    if (ack)
      return error(ErrorCode::ChainBroken, "Сервер истории поверок потерял записи" + where +
                                               ": он подтвердил запись " + std::to_string(ack->seq) +
                                               ", а теперь не знает станцию. Синхронизация отменена.");
    if (localHead == 0) return out;
    Result<std::string> first = localHashAt(local, 1, localHead);
    if (!first) return first.error();
    Query reg = s.run("INSERT INTO workstation (id, first_hash) VALUES ($1, $2) ON CONFLICT (id) DO NOTHING",
                      {options.workstationId.c_str(), first->c_str()});
    if (!reg.ok) return failed(reg, "регистрация станции");
    row = s.run("SELECT first_hash, head_seq, head_hash FROM workstation WHERE id = $1",
                {options.workstationId.c_str()});
    if (!row.ok || PQntuples(row.res.get()) != 1) return failed(row, "чтение станции");
  }
  const std::string serverFirst = PQgetvalue(row.res.get(), 0, 0);
  out.serverHeadBefore = std::strtoll(PQgetvalue(row.res.get(), 0, 1), nullptr, 10);
  out.serverHead = out.serverHeadBefore;
  out.serverHeadHash = PQgetvalue(row.res.get(), 0, 2);

  // A server behind what it acknowledged has lost entries.
  if (ack && out.serverHead < ack->seq)
    return error(ErrorCode::ChainBroken, "Сервер истории поверок потерял записи" + where +
                                             ": он подтвердил запись " + std::to_string(ack->seq) +
                                             ", а теперь у него последняя " + std::to_string(out.serverHead) +
                                             ". Синхронизация отменена.");
  // The local history must hold every entry the server has.
  if (localHead == 0 && out.serverHead > 0)
    return error(ErrorCode::ChainBroken, "В истории поверок " + inQuotes(local.path()) +
                                             " нет записи 1, которая есть на сервере" + where +
                                             ": файл пуст или заменён. Синхронизация отменена.");
  if (localHead > 0) {
    Result<std::string> first = localHashAt(local, 1, localHead);
    if (!first) return first.error();
    if (*first != serverFirst)
      return error(ErrorCode::ChainBroken,
                   "На сервере под именем станции " + inQuotes(options.workstationId) +
                       " хранится другая история (запись 1 не совпадает с записью 1 файла " +
                       inQuotes(local.path()) + "), сервер " + inQuotes(s.name()) +
                       ". Синхронизация отменена.");
  }
  if (out.serverHead > 0) {
    Result<std::string> mine = localHashAt(local, out.serverHead, localHead);
    if (!mine) return mine.error();
    if (*mine != out.serverHeadHash) {
      Result<std::pair<int64_t, std::string>> diff =
          compareWithServer(local, s, options.workstationId, localHead);
      if (!diff) return diff.error();
      std::string what = diff->second;
      if (what.empty())
        what = "последняя запись сервера " + std::to_string(out.serverHead) + " не совпадает с локальной";
      return error(ErrorCode::ChainBroken, "Синхронизация отменена: " + what + ".");
    }
  }
  if (ack && ack->seq <= out.serverHead) {
    // What the server acknowledged earlier is still in the local history (the read's anchors say it
    // too when the store was opened with them).
    Result<std::string> mine = localHashAt(local, ack->seq, localHead);
    if (!mine) return mine.error();
    if (*mine != ack->hash)
      return error(ErrorCode::ChainBroken, "Синхронизация отменена: запись " + std::to_string(ack->seq) +
                                               " истории поверок " + inQuotes(local.path()) +
                                               " отличается от записи, которую сервер подтвердил" + where +
                                               ".");
  }
  if (out.serverHead > 0 && (!ack || ack->seq < out.serverHead)) {
    if (std::string e = noteAck(options.anchorFolder, {historyPath, s.name(), options.workstationId,
                                                       out.serverHead, out.serverHeadHash});
        !e.empty())
      return error(ErrorCode::Io, "Отметка сервера истории поверок не сохранена: " + e);
  }
  if (out.serverHead >= localHead) return out;

  // The push: entries after the server's head, a batch per transaction. The transaction locks the
  // workstation's row and checks the head is still where this push found it (another push of the
  // same history finds it moved and stops).
  const std::string insert =
      "INSERT INTO entry (workstation_id, seq, kind, refers_to, recorded_at, workstation, note, "
      "operator_name, "
      "hash_format, prev_hash, hash, canonical, run_started_at, run_utc_offset, run_kind, run_tag, "
      "device_channels, device_names, device_serials, device_verdicts) VALUES ($1, $2, $3, $4, $5, $6, $7, "
      "$8, $9, "
      "$10, $11, $12, $13, $14, $15, $16, $17::integer[], $18::text[], $19::text[], $20::text[])";
  {
    Res p(PQprepare(s.get(), "quarn_insert_entry", insert.c_str(), 0, nullptr));
    if (!p || PQresultStatus(p.get()) != PGRES_COMMAND_OK) {
      Query q;
      q.message = oneLine(PQerrorMessage(s.get()));
      return failed(q, "подготовка записи");
    }
  }
  struct Pending {
    std::vector<std::string> text;  // the 20 parameters
    std::vector<bool> null;
  };
  std::vector<Pending> batch;
  std::optional<Error> stop;
  const auto flush = [&]() -> bool {
    if (batch.empty()) return true;
    if (options.cancelled && options.cancelled()) {
      stop = error(ErrorCode::Io, "Передача истории поверок на сервер " + inQuotes(s.name()) +
                                      " остановлена программой: на сервере записей " +
                                      std::to_string(out.serverHead) + " из " + std::to_string(localHead) +
                                      "; следующая синхронизация продолжит.");
      return false;
    }
    Query q = s.run("BEGIN");
    if (!q.ok) {
      stop = failed(q, "начало транзакции");
      return false;
    }
    Query lockRow = s.run("SELECT head_seq, head_hash FROM workstation WHERE id = $1 FOR UPDATE",
                          {options.workstationId.c_str()});
    if (!lockRow.ok || PQntuples(lockRow.res.get()) != 1) {
      stop = failed(lockRow, "блокировка станции");
      s.exec("ROLLBACK");
      return false;
    }
    const int64_t head = std::strtoll(PQgetvalue(lockRow.res.get(), 0, 0), nullptr, 10);
    if (head != out.serverHead || out.serverHeadHash != PQgetvalue(lockRow.res.get(), 0, 1)) {
      s.exec("ROLLBACK");
      stop = error(ErrorCode::Locked, "Историю станции " + inQuotes(options.workstationId) +
                                          " одновременно передаёт другая программа (сервер " +
                                          inQuotes(s.name()) + "): синхронизация остановлена, повторите её");
      return false;
    }
    std::vector<const char*> values(20);
    std::vector<int> lengths(20), formats(20, 0);
    formats[11] = 1;  // the canonical bytes go as they are
    // The batch's inserts go in one round trip (libpq's pipeline mode): a push does not wait for the
    // server once per entry.
    Query ins = s.pipelined("quarn_insert_entry", batch.size(), [&](std::size_t k) {
      const Pending& p = batch[k];
      for (int i = 0; i < 20; ++i) {
        values[i] = p.null[i] ? nullptr : p.text[i].c_str();
        lengths[i] = static_cast<int>(p.text[i].size());
      }
      return std::make_tuple(values.data(), lengths.data(), formats.data());
    });
    if (!ins.ok) {
      stop = failed(ins, "запись " + batch.front().text[1] + "…" + batch.back().text[1]);
      s.exec("ROLLBACK");
      return false;
    }
    Query commit = s.run("COMMIT");
    if (!commit.ok) {
      stop = failed(commit, "завершение транзакции");
      return false;
    }
    out.pushed += static_cast<int64_t>(batch.size());
    out.serverHead = std::strtoll(batch.back().text[1].c_str(), nullptr, 10);
    out.serverHeadHash = batch.back().text[10];
    batch.clear();
    if (std::string e = noteAck(options.anchorFolder, {historyPath, s.name(), options.workstationId,
                                                       out.serverHead, out.serverHeadHash});
        !e.empty()) {
      stop = error(ErrorCode::Io, "Отметка сервера истории поверок не сохранена: " + e);
      return false;
    }
    if (options.progress) options.progress(out.serverHead, localHead);
    return true;
  };
  const std::size_t batchSize = static_cast<std::size_t>(options.batch > 0 ? options.batch : 1);
  Result<int64_t> walked = local.entriesAfter(out.serverHead, [&](const ChainEntry& e) {
    Pending p;
    p.text.resize(20);
    p.null.assign(20, false);
    const EntryHeader& h = *e.header;
    p.text[0] = options.workstationId;
    p.text[1] = std::to_string(h.seq);
    p.text[2] = h.kind;
    if (h.refersTo)
      p.text[3] = std::to_string(*h.refersTo);
    else
      p.null[3] = true;
    p.text[4] = std::to_string(h.recordedAtMs);
    p.text[5] = h.workstation;
    p.text[6] = h.note;
    p.text[7] = h.operatorName;
    p.text[8] = std::to_string(h.hashFormat);
    p.text[9] = std::string(e.prevHash);
    p.text[10] = std::string(e.hash);
    p.text[11] = std::string(e.canonical);
    if (e.run) {
      p.text[12] = std::to_string(e.run->startedAtMs);
      p.text[13] = std::to_string(e.run->utcOffsetMin);
      p.text[14] = kindName(e.run->kind);
      p.text[15] = tagName(e.run->tag);
      std::vector<std::string> channels, names, serials, verdicts;
      for (std::size_t i = 0; i < e.deviceCount; ++i) {
        const DeviceResult& d = e.devices[i];
        channels.push_back(std::to_string(d.channel));
        names.push_back(d.name);
        serials.push_back(d.serial);
        verdicts.push_back(verdictName(d.verdict));
      }
      p.text[16] = "{" + [&] {
        std::string joined;
        for (const std::string& c : channels) joined += (joined.empty() ? "" : ",") + c;
        return joined;
      }() + "}";
      p.text[17] = textArray(names);
      p.text[18] = textArray(serials);
      p.text[19] = textArray(verdicts);
    } else {
      for (int i = 12; i < 20; ++i) p.null[i] = true;
    }
    batch.push_back(std::move(p));
    if (batch.size() >= batchSize) return flush();
    return true;
  });
  if (stop) return *stop;
  if (!walked) return walked.error();
  if (!flush()) return *stop;
  return out;
}

Result<ServerCheck> checkServer(HistoryStore* local, const ServerOptions& options,
                                const std::string& onlyWorkstation) {
  int64_t localHead = 0;
  if (local) {
    Result<ChainCheck> c = local->checkForRead();
    if (!c) return c.error();
    localHead = c->head;
  }
  Result<std::unique_ptr<Server>> connected = connect(options.uri, options);
  if (!connected) return connected.error();
  Server& s = **connected;
  if (Result<int> v = schemaOf(s); !v) return v.error();
  ServerCheck out;
  out.server = s.name();
  // One snapshot of the server for the whole check.
  if (!s.exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"))
    return error(ErrorCode::Io, "Сервер истории поверок " + inQuotes(s.name()) +
                                    " отказал: " + oneLine(PQerrorMessage(s.get())));
  Query ws = s.run(
      "SELECT id, first_hash, head_seq, head_hash FROM workstation WHERE ($1 = '' OR id = $1) ORDER BY id",
      {onlyWorkstation.c_str()});
  if (!ws.ok)
    return error(ErrorCode::Io,
                 "Не удалось прочитать станции сервера " + inQuotes(s.name()) + ": " + ws.message);
  for (int w = 0; w < PQntuples(ws.res.get()); ++w) {
    ServerChainCheck c;
    c.workstationId = PQgetvalue(ws.res.get(), w, 0);
    const std::string firstHash = PQgetvalue(ws.res.get(), w, 1);
    c.head = std::strtoll(PQgetvalue(ws.res.get(), w, 2), nullptr, 10);
    c.headHash = PQgetvalue(ws.res.get(), w, 3);
    std::string prev = kGenesisHash;
    int64_t expected = 1;
    const auto fault = [&c](int64_t seq, std::string problem) {
      c.ok = false;
      c.firstBad = seq;
      c.problem = std::move(problem);
    };
    const std::string readError = walkServer(s, c.workstationId, [&](PGresult* r, int i) {
      ++c.entries;
      if (std::string p = rowProblem(r, i, expected, prev); !p.empty()) {
        const int64_t seq = std::strtoll(PQgetvalue(r, i, 0), nullptr, 10);
        fault(std::min(seq, expected), std::move(p));
        return false;
      }
      prev = PQgetvalue(r, i, 9);
      if (expected == 1 && prev != firstHash) {
        fault(1, "запись 1 на сервере не та, с которой станция зарегистрирована");
        return false;
      }
      ++expected;
      return true;
    });
    if (!readError.empty())
      return error(ErrorCode::Io,
                   "Не удалось прочитать записи сервера " + inQuotes(s.name()) + ": " + readError);
    if (c.ok) {
      const int64_t last = expected - 1;
      if (last < c.head)
        fault(last + 1, "последние записи на сервере удалены: отметка сервера " + std::to_string(c.head) +
                            ", записей " + std::to_string(last));
      else if (last > c.head)
        fault(c.head + 1,
              "запись " + std::to_string(c.head + 1) + " на сервере после его отметки последней записи");
      else if (last > 0 && prev != c.headHash)
        fault(last, "отметка последней записи на сервере не совпадает с записью");
    }
    if (!c.ok) out.ok = false;
    out.workstations.push_back(std::move(c));
  }
  if (local) {
    out.localCompared = true;
    out.workstationId = options.workstationId;
    out.localHead = localHead;
    const std::string historyPath = anchorPathOf(local->path());
    const std::optional<AckLine> ack =
        ackOf(options.anchorFolder, historyPath, s.name(), options.workstationId);
    out.acknowledged = ack ? ack->seq : 0;
    int64_t serverHead = 0;
    for (const ServerChainCheck& c : out.workstations)
      if (c.workstationId == options.workstationId) serverHead = c.head;
    const std::string where =
        " (станция " + inQuotes(options.workstationId) + ", сервер " + inQuotes(s.name()) + ")";
    if (ack && serverHead < ack->seq) {
      out.localFirstBad = serverHead + 1;
      out.localProblem = "сервер потерял записи" + where + ": он подтвердил запись " +
                         std::to_string(ack->seq) + ", а теперь у него последняя " +
                         std::to_string(serverHead);
    } else {
      Result<std::pair<int64_t, std::string>> diff =
          compareWithServer(*local, s, options.workstationId, localHead);
      if (!diff) return diff.error();
      out.localFirstBad = diff->first;
      out.localProblem = diff->second;
    }
    if (!out.localProblem.empty()) out.ok = false;
  }
  s.exec("COMMIT");
  return out;
}

namespace {

// The lab's runs on a connected server (see listServer).
Result<std::vector<ServerRun>> runsOf(Server& s, const ServerListFilter& filter) {
  // Only the filters asked for go into the query, so the planner sees what it can use: the runs in
  // the order of the index entry_run_order (newest first, stopping at the limit), or, for a serial,
  // the entries the serial index finds (a run or a correction naming it) and their runs.
  std::vector<const char*> params;
  const auto param = [&params](const char* value) {
    params.push_back(value);
    return "$" + std::to_string(params.size());
  };
  const std::string since = filter.since ? std::to_string(*filter.since) : std::string();
  std::string from = "entry r";
  if (!filter.serial.empty())
    from =
        "(SELECT r2.* FROM entry r2 WHERE r2.kind = 'run' AND (r2.workstation_id, r2.seq) IN (SELECT "
        "workstation_id, CASE WHEN kind = 'run' THEN seq ELSE refers_to END FROM entry WHERE device_serials "
        "@> "
        "ARRAY[" +
        param(filter.serial.c_str()) + "]::text[])) r";
  std::string where = "r.kind = 'run'";
  if (!filter.serial.empty()) where += " AND e.device_serials @> ARRAY[$1]::text[]";
  if (!filter.workstationId.empty())
    where += " AND r.workstation_id = " + param(filter.workstationId.c_str());
  if (!filter.deviceName.empty())
    where += " AND EXISTS (SELECT 1 FROM unnest(e.device_names) n WHERE strpos(n, " +
             param(filter.deviceName.c_str()) + ") > 0)";
  if (filter.since) where += " AND r.run_started_at >= " + param(since.c_str()) + "::bigint";
  const std::string cancelled =
      "EXISTS (SELECT 1 FROM entry x WHERE x.workstation_id = r.workstation_id AND x.refers_to = r.seq AND "
      "x.kind = 'cancellation')";
  if (!filter.includeCancelled) where += " AND NOT " + cancelled;
  const std::string sql =
      "SELECT r.workstation_id, r.seq, e.seq, " + cancelled +
      ", e.run_started_at, e.run_utc_offset, e.run_kind, e.run_tag, e.workstation, " +
      encodedArray("e.device_channels") + ", " + encodedArray("e.device_names") + ", " +
      encodedArray("e.device_serials") + ", " + encodedArray("e.device_verdicts") + " FROM " + from +
      " CROSS JOIN LATERAL (SELECT coalesce((SELECT max(k.seq) FROM entry k WHERE k.workstation_id = "
      "r.workstation_id AND k.refers_to = r.seq AND k.kind = 'correction'), r.seq) AS seq) c "
      "JOIN entry e ON e.workstation_id = r.workstation_id AND e.seq = c.seq WHERE " +
      where + " ORDER BY r.run_started_at DESC, r.workstation_id, r.seq DESC" +
      (filter.limit > 0 ? " LIMIT " + std::to_string(filter.limit) : std::string());
  Query q = s.run(sql.c_str(), params);
  if (!q.ok)
    return error(ErrorCode::Io,
                 "Не удалось прочитать запуски сервера " + inQuotes(s.name()) + ": " + q.message);
  std::vector<ServerRun> out;
  PGresult* r = q.res.get();
  for (int i = 0; i < PQntuples(r); ++i) {
    ServerRun run;
    run.workstationId = PQgetvalue(r, i, 0);
    run.runId = std::strtoll(PQgetvalue(r, i, 1), nullptr, 10);
    run.seq = std::strtoll(PQgetvalue(r, i, 2), nullptr, 10);
    run.cancelled = std::string(PQgetvalue(r, i, 3)) == "t";
    run.startedAtMs = std::strtoll(PQgetvalue(r, i, 4), nullptr, 10);
    run.utcOffsetMin = std::atoi(PQgetvalue(r, i, 5));
    run.kind = PQgetvalue(r, i, 6);
    run.tag = PQgetvalue(r, i, 7);
    run.workstation = PQgetvalue(r, i, 8);
    const auto channels = decodedArray(PQgetvalue(r, i, 9));
    const auto names = decodedArray(PQgetvalue(r, i, 10));
    const auto serials = decodedArray(PQgetvalue(r, i, 11));
    const auto verdicts = decodedArray(PQgetvalue(r, i, 12));
    for (std::size_t d = 0; d < channels.size(); ++d)
      run.devices.push_back({std::atoi(channels[d].c_str()), d < names.size() ? names[d] : std::string(),
                             d < serials.size() ? serials[d] : std::string(),
                             d < verdicts.size() ? verdicts[d] : std::string()});
    out.push_back(std::move(run));
  }
  return out;
}

}  // namespace

Result<std::vector<ServerRun>> listServer(const ServerOptions& options, const ServerListFilter& filter) {
  Result<std::unique_ptr<Server>> connected = connect(options.uri, options);
  if (!connected) return connected.error();
  Server& s = **connected;
  if (Result<int> v = schemaOf(s); !v) return v.error();
  return runsOf(s, filter);
}

// ---- one workstation's runs read from the server ----

namespace {

// One workstation's chain as a read on the server sees it, in one snapshot: the links of every entry
// from 1 to the head (numbers without gaps, each previous hash, entry 1 the registered one, the last
// the head), and the entries a read shows in full, each hash recomputed from the stored bytes and the
// columns compared with them, their content decoded into the history's records.
class ServerChainRead {
 public:
  ServerChainRead(Server& s, std::string workstation) : s_(s), ws_(std::move(workstation)) {}

  // Starts the snapshot and checks the links. NotFound for a workstation the server does not know,
  // ChainBroken naming the first bad entry.
  Result<bool> open() {
    if (!s_.exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"))
      return error(ErrorCode::Io, "Сервер истории поверок " + inQuotes(s_.name()) +
                                      " отказал: " + oneLine(PQerrorMessage(s_.get())));
    Query w = s_.run("SELECT first_hash, head_seq, head_hash FROM workstation WHERE id = $1", {ws_.c_str()});
    if (!w.ok) return readFailed(w.message);
    if (PQntuples(w.res.get()) != 1)
      return error(ErrorCode::NotFound, "На сервере истории поверок " + inQuotes(s_.name()) +
                                            " нет станции " + inQuotes(ws_) + ".");
    const std::string firstHash = PQgetvalue(w.res.get(), 0, 0);
    const int64_t head = std::strtoll(PQgetvalue(w.res.get(), 0, 1), nullptr, 10);
    const std::string headHash = PQgetvalue(w.res.get(), 0, 2);
    Query links = s_.run("SELECT seq, prev_hash, hash FROM entry WHERE workstation_id = $1 ORDER BY seq",
                         {ws_.c_str()});
    if (!links.ok) return readFailed(links.message);
    PGresult* r = links.res.get();
    std::string prev = kGenesisHash;
    const int n = PQntuples(r);
    hashes_.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      const int64_t expected = i + 1;
      const int64_t seq = std::strtoll(PQgetvalue(r, i, 0), nullptr, 10);
      if (seq != expected)
        return broken(expected, "запись " + std::to_string(expected) + " на сервере отсутствует (удалена)");
      if (prev != PQgetvalue(r, i, 1))
        return broken(seq,
                      "ссылка на предыдущую запись не совпадает: записи на сервере переставлены, удалены или "
                      "вставлены");
      prev = PQgetvalue(r, i, 2);
      if (seq == 1 && prev != firstHash)
        return broken(1, "запись 1 на сервере не та, с которой станция зарегистрирована");
      hashes_.push_back(prev);
    }
    const int64_t last = n;
    if (last < head)
      return broken(last + 1, "последние записи на сервере удалены: отметка сервера " + std::to_string(head) +
                                  ", записей " + std::to_string(last));
    if (last > head)
      return broken(head + 1,
                    "запись " + std::to_string(head + 1) + " на сервере после его отметки последней записи");
    if (last > 0 && prev != headHash)
      return broken(last, "отметка последней записи на сервере не совпадает с записью");
    return true;
  }

  int64_t head() const { return static_cast<int64_t>(hashes_.size()); }

  // The entries `where` selects (with $1 the workstation and `param`, when given, as $2), each checked
  // and decoded, by number.
  Result<bool> read(const std::string& where, const char* param = nullptr) {
    const std::string sql =
        "SELECT " + entryColumns() + " FROM entry WHERE workstation_id = $1 AND (" + where + ") ORDER BY seq";
    std::vector<const char*> params{ws_.c_str()};
    if (param) params.push_back(param);
    Query q = s_.run(sql.c_str(), params);
    if (!q.ok) return readFailed(q.message);
    PGresult* r = q.res.get();
    for (int i = 0; i < PQntuples(r); ++i) {
      const int64_t seq = std::strtoll(PQgetvalue(r, i, 0), nullptr, 10);
      if (seq < 1 || seq > head()) return broken(seq, "запись вне цепочки станции");
      const std::string prev =
          seq == 1 ? std::string(kGenesisHash) : hashes_[static_cast<std::size_t>(seq - 2)];
      if (std::string p = rowProblem(r, i, seq, prev); !p.empty()) return broken(seq, p);
      size_t length = 0;
      unsigned char* bytes =
          PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(r, i, 10)), &length);
      if (!bytes) return broken(seq, "содержимое записи не читается");
      Result<DecodedEntry> decoded =
          decodeCanonicalEntry(std::string_view(reinterpret_cast<const char*>(bytes), length));
      PQfreemem(bytes);
      if (!decoded) return broken(seq, decoded.error().message);
      Row row;
      row.hash = PQgetvalue(r, i, 9);
      row.entry = std::move(decoded.value());
      rows_[seq] = std::move(row);
    }
    return true;
  }

  // The run the entry `id` (read) names: a run itself, or the run a correction corrects.
  Result<int64_t> runOf(int64_t id) const {
    const auto at = rows_.find(id);
    if (at != rows_.end()) {
      const EntryHeader& h = at->second.entry.header;
      if (h.kind == "run") return id;
      if (h.kind == "correction" && h.refersTo) return *h.refersTo;
    }
    return error(ErrorCode::NotFound, "На сервере истории поверок " + inQuotes(s_.name()) + " у станции " +
                                          inQuotes(ws_) + " нет запуска " + std::to_string(id) + ".");
  }

  // A run as the history file shows it, from the entries read: the run `id` names (a run, or one of
  // its corrections), its latest content, its corrections and cancellation.
  Result<StoredRun> storedRun(int64_t id) const {
    Result<int64_t> run = runOf(id);
    if (!run) return run.error();
    const auto notFound = [&] {
      return error(ErrorCode::NotFound, "На сервере истории поверок " + inQuotes(s_.name()) + " у станции " +
                                            inQuotes(ws_) + " нет запуска " + std::to_string(id) + ".");
    };
    StoredRun out;
    out.runId = *run;
    if (!rows_.count(out.runId)) return notFound();
    out.contentId = out.runId;
    for (const auto& [seq, row] : rows_) {
      const EntryHeader& e = row.entry.header;
      if (!e.refersTo || *e.refersTo != out.runId) continue;
      if (e.kind == "correction") {
        out.corrections.push_back(seq);
        out.contentId = seq;
      } else if (e.kind == "cancellation" && !out.cancelled) {
        out.cancelled = true;
        out.cancelReason = e.note;
      }
    }
    const Row& content = rows_.at(out.contentId);
    if (!content.entry.run) return notFound();
    out.recordedAtMs = content.entry.header.recordedAtMs;
    out.hash = content.hash;
    out.record = *content.entry.run;
    return out;
  }

  // The adjustments read, oldest first.
  std::vector<Adjustment> adjustments(const std::string& serial) const {
    std::vector<Adjustment> out;
    for (const auto& [seq, row] : rows_)
      if (row.entry.adjustment && row.entry.adjustment->serial == serial)
        out.push_back(*row.entry.adjustment);
    return out;
  }

 private:
  struct Row {
    std::string hash;
    DecodedEntry entry;
  };

  Error readFailed(const std::string& why) const {
    return error(ErrorCode::Io, "Не удалось прочитать записи сервера " + inQuotes(s_.name()) + ": " + why);
  }
  Error broken(int64_t seq, const std::string& problem) const {
    return error(ErrorCode::ChainBroken, "История станции " + inQuotes(ws_) + " на сервере " +
                                             inQuotes(s_.name()) + " изменена вне программы — запись " +
                                             std::to_string(seq) + ": " + problem);
  }

  Server& s_;
  std::string ws_;
  std::vector<std::string> hashes_;  // hashes_[k - 1]: the hash of entry k
  std::map<int64_t, Row> rows_;
};

Result<std::unique_ptr<Server>> connectForReading(const ServerOptions& options) {
  Result<std::unique_ptr<Server>> connected = connect(options.uri, options);
  if (!connected) return connected.error();
  if (Result<int> v = schemaOf(**connected); !v) return v.error();
  return connected;
}

}  // namespace

Result<StoredRun> showServer(const ServerOptions& options, const std::string& workstationId, int64_t runId) {
  Result<std::unique_ptr<Server>> connected = connectForReading(options);
  if (!connected) return connected.error();
  ServerChainRead chain(**connected, workstationId);
  if (Result<bool> opened = chain.open(); !opened) return opened.error();
  const std::string id = std::to_string(runId);
  // The entry named, and, when it is a correction, the run it corrects; then everything that refers to
  // the run.
  if (Result<bool> r = chain.read("seq = $2::bigint", id.c_str()); !r) return r.error();
  Result<int64_t> named = chain.runOf(runId);
  if (!named) return named.error();
  const std::string run = std::to_string(*named);
  if (Result<bool> r = chain.read("seq = $2::bigint OR refers_to = $2::bigint", run.c_str()); !r)
    return r.error();
  return chain.storedRun(*named);
}

Result<StoredCalibration> calibrationServer(const ServerOptions& options, const std::string& workstationId,
                                            int64_t runId) {
  Result<std::unique_ptr<Server>> connected = connectForReading(options);
  if (!connected) return connected.error();
  Server& s = **connected;
  ServerChainRead chain(s, workstationId);
  if (Result<bool> opened = chain.open(); !opened) return opened.error();
  const std::string id = std::to_string(runId);
  if (Result<bool> r = chain.read("seq = $2::bigint", id.c_str()); !r) return r.error();
  Result<int64_t> named = chain.runOf(runId);
  if (!named) return named.error();
  const std::string runText = std::to_string(*named);
  if (Result<bool> r = chain.read("seq = $2::bigint OR refers_to = $2::bigint", runText.c_str()); !r)
    return r.error();
  Result<StoredRun> last = chain.storedRun(*named);
  if (!last) return last.error();
  StoredCalibration out;
  const RunRecord& left = last->record;
  if (left.tag == RunTag::AsLeft) {
    // The calibration's as-found run, chosen as the history file chooses it (chooseCalibrationAsFound):
    // the run looked at is read and checked.
    std::string serial;
    for (const DeviceResult& d : left.devices)
      if (serial.empty()) serial = d.serial;
    int64_t foundId = 0;
    if (!serial.empty()) {
      ServerListFilter filter;
      filter.workstationId = workstationId;
      filter.serial = serial;
      filter.includeCancelled = true;
      Result<std::vector<ServerRun>> listed = runsOf(s, filter);
      if (!listed) return listed.error();
      std::vector<ServerRun>& runs = *listed;
      std::stable_sort(runs.begin(), runs.end(), [](const ServerRun& a, const ServerRun& b) {
        return a.startedAtMs != b.startedAtMs ? a.startedAtMs > b.startedAtMs : a.runId > b.runId;
      });
      std::vector<DeviceRun> candidates;
      for (const ServerRun& r : runs)
        candidates.push_back(
            {r.runId, r.startedAtMs, tagFromName(r.tag).value_or(RunTag::AsFound), r.cancelled});
      const CalibrationChoice choice = chooseCalibrationAsFound(last->runId, left.startedAtMs, candidates);
      if (choice.looked) {
        const std::string looked = std::to_string(choice.looked);
        if (Result<bool> r = chain.read("seq = $2::bigint OR refers_to = $2::bigint", looked.c_str()); !r)
          return r.error();
      }
      foundId = choice.asFound;
    }
    if (foundId) {
      Result<StoredRun> found = chain.storedRun(foundId);
      if (!found) return found.error();
      out.asFound = std::move(found.value());
      if (Result<bool> r = chain.read("kind = 'adjustment'"); !r) return r.error();
      std::vector<std::string> seen;
      for (const DeviceResult& d : left.devices) {
        if (d.serial.empty() || std::find(seen.begin(), seen.end(), d.serial) != seen.end()) continue;
        seen.push_back(d.serial);
        for (const Adjustment& a : chain.adjustments(d.serial))
          if (a.atMs >= out.asFound->record.startedAtMs && a.atMs <= left.startedAtMs)
            out.adjustments.push_back(a);
      }
    }
  }
  out.last = std::move(last.value());
  return out;
}

Result<RunPair> pairServer(const ServerOptions& options, const std::string& workstationId,
                           const std::string& serial) {
  Result<std::unique_ptr<Server>> connected = connectForReading(options);
  if (!connected) return connected.error();
  Server& s = **connected;
  ServerChainRead chain(s, workstationId);
  if (Result<bool> opened = chain.open(); !opened) return opened.error();
  ServerListFilter filter;
  filter.workstationId = workstationId;
  filter.serial = serial;
  Result<std::vector<ServerRun>> listed = runsOf(s, filter);
  if (!listed) return listed.error();
  std::vector<ServerRun>& runs = *listed;
  if (serial.empty() || runs.empty())
    return error(ErrorCode::NotFound, "На сервере истории поверок " + inQuotes(s.name()) + " у станции " +
                                          inQuotes(workstationId) + " нет запусков прибора № " + serial +
                                          ".");
  // Newest first by the start of the current content, as the history file orders them.
  std::stable_sort(runs.begin(), runs.end(), [](const ServerRun& a, const ServerRun& b) {
    return a.startedAtMs != b.startedAtMs ? a.startedAtMs > b.startedAtMs : a.runId > b.runId;
  });
  std::vector<RunTag> tags;
  for (const ServerRun& r : runs) tags.push_back(tagFromName(r.tag).value_or(RunTag::AsFound));
  const PairChoice choice = choosePair(tags);
  // Every run the choice looked at is read and checked with its corrections and cancellations, not
  // only the two shown: an edited tag of a newer run would otherwise change the choice unseen.
  std::string looked = "{";
  for (std::size_t i = 0; i < choice.looked; ++i) looked += (i ? "," : "") + std::to_string(runs[i].runId);
  looked += "}";
  if (Result<bool> r = chain.read("seq = ANY($2::bigint[]) OR refers_to = ANY($2::bigint[])", looked.c_str());
      !r)
    return r.error();
  std::optional<StoredRun> asFound, asLeft;
  for (auto [index, side] : {std::pair{choice.asFound, &asFound}, std::pair{choice.asLeft, &asLeft}}) {
    if (index == PairChoice::kNone) continue;
    Result<StoredRun> run = chain.storedRun(runs[index].runId);
    if (!run) return run.error();
    *side = std::move(run.value());
  }
  std::vector<Adjustment> adjustments;
  if (asFound && asLeft) {
    if (Result<bool> r = chain.read("kind = 'adjustment'"); !r) return r.error();
    adjustments = chain.adjustments(serial);
  }
  return makeRunPair(serial, std::move(asFound), std::move(asLeft), adjustments);
}

}  // namespace quarn::history
