// A prepared SQLite statement that resets itself after each use, with typed binding and reading.
// Reading notes values whose storage type is not the column's (a text in a number column, a number
// that is not a single-precision value): the history writes neither, so either one means the row was
// edited outside the program.
#pragma once

#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarn::history::detail {

class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  int prepare(sqlite3* db, const char* sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    prepareRc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    return prepareRc_;
  }
  sqlite3_stmt* get() const { return stmt_; }

  void bind(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  void bindInt(int i, int v) { sqlite3_bind_int64(stmt_, i, v); }
  void bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  // A missing number (NaN) is stored as NULL.
  void bindReal(int i, double v) {
    if (std::isnan(v))
      sqlite3_bind_null(stmt_, i);
    else
      sqlite3_bind_double(stmt_, i, v);
  }
  void bindNull(int i) { sqlite3_bind_null(stmt_, i); }

  // A statement that did not prepare fails with the reason it did not (a damaged schema, a lock).
  int step() { return stmt_ ? sqlite3_step(stmt_) : prepareRc_ != SQLITE_OK ? prepareRc_ : SQLITE_MISUSE; }
  void reset() {
    // A statement that never prepared has nothing to reset (SQLite's clear_bindings does not take null).
    if (!stmt_) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

  // Each read takes the column's value once and asks it the rest (the value functions are cheaper
  // than SQLite's column functions, which the check's loop calls millions of times).
  int64_t integer(int col) {
    sqlite3_value* v = sqlite3_column_value(stmt_, col);
    if (sqlite3_value_type(v) != SQLITE_INTEGER) foreign_ = true;
    return sqlite3_value_int64(v);
  }
  int intValue(int col) {
    const int64_t v = integer(col);
    if (v < INT32_MIN || v > INT32_MAX) foreign_ = true;
    return static_cast<int>(v);
  }
  bool isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  float real(int col) {
    sqlite3_value* value = sqlite3_column_value(stmt_, col);
    const int type = sqlite3_value_type(value);
    if (type == SQLITE_NULL) return NAN;
    if (type != SQLITE_FLOAT && type != SQLITE_INTEGER) foreign_ = true;
    const double v = sqlite3_value_double(value);
    const auto f = static_cast<float>(v);
    if (static_cast<double>(f) != v && !(std::isinf(v) && std::isinf(f))) foreign_ = true;
    return f;
  }
  std::string text(int col) {
    std::string out;
    textInto(col, out);
    return out;
  }
  // The text into `out`, whose storage is reused (the check's loop allocates nothing per row).
  void textInto(int col, std::string& out) {
    const std::string_view t = textView(col);
    out.assign(t.data(), t.size());
  }
  // The text as it is in SQLite's row buffer: valid until the next step.
  std::string_view textView(int col) {
    sqlite3_value* v = sqlite3_column_value(stmt_, col);
    if (sqlite3_value_type(v) != SQLITE_TEXT) foreign_ = true;
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_value_bytes(v))) : std::string_view();
  }

  // Whether a value read since the last call was not of the form the history writes.
  bool takeForeign() {
    const bool f = foreign_;
    foreign_ = false;
    return f;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int prepareRc_ = SQLITE_OK;
  bool foreign_ = false;
};

// Resets a statement when the scope ends, whatever path leaves it.
class Use {
 public:
  explicit Use(Statement& s) : s_(s) {}
  ~Use() { s_.reset(); }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  Statement& operator*() { return s_; }
  Statement* operator->() { return &s_; }

 private:
  Statement& s_;
};

}  // namespace quarn::history::detail
