// The throw-away PostgreSQL cluster of the server tests (started by the ctest fixture with
// scripts/pg-test-cluster.sh, which leaves its socket folder in the file QUARN_TEST_PG_STATE names),
// a superuser's connection to it, and a database of its own per test with the history schema.
#pragma once

#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "HistoryServer.h"

namespace quarn::history::test {

// The cluster the fixture started: its socket folder, or why there is none.
struct Cluster {
  std::string socket, port, superuser, skip, state;
};

inline Cluster cluster() {
  Cluster c;
  const char* state = std::getenv("QUARN_TEST_PG_STATE");
  if (!state || !*state) {
    c.skip = "no PostgreSQL test server (run through ctest, whose fixture starts one)";
    return c;
  }
  c.state = state;
  std::ifstream in(state);
  if (!in) {
    c.skip = "no PostgreSQL test server: the fixture left no state in " + c.state;
    return c;
  }
  for (std::string line; std::getline(in, line);) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "socket") c.socket = value;
    if (key == "port") c.port = value;
    if (key == "superuser") c.superuser = value;
    if (key == "skip") c.skip = "no PostgreSQL test server: " + value;
  }
  if (c.skip.empty() && c.socket.empty())
    c.skip = "no PostgreSQL test server: the fixture's state is incomplete";
  return c;
}

// A superuser's connection, as the lab's administrator (or an attacker with the server's rights).
class Admin {
 public:
  explicit Admin(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);  // "does not exist, skipping"
  }
  ~Admin() { PQfinish(conn_); }
  Admin(const Admin&) = delete;
  Admin& operator=(const Admin&) = delete;
  bool ok() const { return PQstatus(conn_) == CONNECTION_OK; }
  std::string why() const { return PQerrorMessage(conn_); }
  // Runs SQL; the server's message, empty on success.
  std::string exec(const std::string& sql) {
    PGresult* r = PQexec(conn_, sql.c_str());
    const ExecStatusType st = PQresultStatus(r);
    std::string out = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK ? "" : PQerrorMessage(conn_);
    PQclear(r);
    return out;
  }
  std::string value(const std::string& sql) {
    PGresult* r = PQexec(conn_, sql.c_str());
    std::string out = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "?";
    PQclear(r);
    return out;
  }

 private:
  PGconn* conn_;
};

inline constexpr const char* kWriterPassword = "s3cret-пароль";

// The cluster's connection strings for one database.
struct ServerDatabase {
  Cluster cluster;
  std::string name;

  std::string conninfo(const std::string& db, const std::string& user) const {
    return "host=" + cluster.socket + " port=" + cluster.port + " dbname=" + db + " user=" + user +
           " connect_timeout=5";
  }
  // A URI of `user` with `password` (percent-encoded; none when empty) for this database.
  std::string uri(const std::string& user = "quarn_ws", const std::string& password = kWriterPassword) const {
    std::string credentials = user;
    if (!password.empty()) {
      credentials += ":";
      for (unsigned char c : password) {
        if (std::isalnum(c) || c == '-') {
          credentials += static_cast<char>(c);
        } else {
          char hex[4];
          std::snprintf(hex, sizeof hex, "%%%02X", c);
          credentials += hex;
        }
      }
    }
    return "postgresql://" + credentials + "@/" + name + "?host=" + cluster.socket + "&port=" + cluster.port;
  }
  // Makes the database anew with the schema, and the login roles (the cluster's: made once) of a
  // workstation (quarn_ws, kWriterPassword) and of the quality manager (quarn_quality, "read").
  // Returns what failed, empty on success.
  std::string create() const {
    Admin admin(conninfo("postgres", cluster.superuser));
    if (!admin.ok()) return admin.why();
    if (std::string e = admin.exec("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)"); !e.empty()) return e;
    if (std::string e = admin.exec("CREATE DATABASE " + name); !e.empty()) return e;
    const Result<bool> installed = installServerSchema(uri(cluster.superuser, ""));
    if (!installed.ok()) return installed.error().message;
    admin.exec("CREATE ROLE quarn_ws LOGIN PASSWORD '" + std::string(kWriterPassword) +
               "' IN ROLE quarn_history_writer");
    admin.exec("CREATE ROLE quarn_quality LOGIN PASSWORD 'read' IN ROLE quarn_history_reader");
    // A cluster kept from an earlier run may have other passwords.
    admin.exec("ALTER ROLE quarn_ws PASSWORD '" + std::string(kWriterPassword) + "'");
    admin.exec("ALTER ROLE quarn_quality PASSWORD 'read'");
    return {};
  }
  void drop() const {
    Admin admin(conninfo("postgres", cluster.superuser));
    admin.exec("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
  }
};

// A database name for the running test: "t_" + its name (shortened, lower case) + the process.
inline std::string databaseForTest(const std::string& testName) {
  std::string db = "t_" + testName.substr(0, 40) + "_" + std::to_string(::getpid());
  std::transform(db.begin(), db.end(), db.begin(), [](unsigned char c) { return std::tolower(c); });
  return db;
}

}  // namespace quarn::history::test
