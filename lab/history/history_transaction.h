// One read transaction for a scope of the history's reads (internal to the store).
#pragma once

#include <sqlite3.h>

#include "HistoryStore.h"

namespace quarn::history {

// One read transaction for the scope (none when the connection is already in one): every statement
// in it sees the same state of the file, and the file is locked once, not once per statement.
class ReadTransaction {
 public:
  explicit ReadTransaction(HistoryStore& store) : db_(store.db_) {
    if (db_ && sqlite3_get_autocommit(db_))
      own_ = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~ReadTransaction() {
    if (own_) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  sqlite3* db_;
  bool own_ = false;
};

}  // namespace quarn::history
