#pragma once
// The SQLite pieces the local database is built on: the open file, one prepared statement, and
// the ADO error numbers its failures stand for, so that a report reads as the Windows build's.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace updater::posix::sqlite {

using Value = std::optional<std::string>;  // nullopt is Null

std::string_view TrimBlanks(std::string_view s);
// A table or column name quoted for a statement.
std::string QuoteName(const std::string& name);

[[noreturn]] void ThrowAdo(int number);
// The ADO error a failure of SQLite stands for.
[[noreturn]] void ThrowSqlite(sqlite3* db, int rc);

// The open file, shared by a connection and the recordsets made from it; db is null once the
// connection is closed.
struct Link {
  sqlite3* db = nullptr;
  ~Link() {
    if (db != nullptr) sqlite3_close_v2(db);
  }
};

class Statement {
 public:
  // One statement: text after it is an error, as it is for Jet.
  Statement(sqlite3* db, const std::string& sql);
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int ParameterCount() const { return sqlite3_bind_parameter_count(stmt_); }
  void Bind(int index, const Value& value) {
    const int rc = value ? sqlite3_bind_text(stmt_, index, value->data(),
                                             static_cast<int>(value->size()), SQLITE_TRANSIENT)
                         : sqlite3_bind_null(stmt_, index);
    if (rc != SQLITE_OK) ThrowSqlite(db_, rc);
  }
  void BindRowid(int index, std::int64_t rowid) {
    const int rc = sqlite3_bind_int64(stmt_, index, rowid);
    if (rc != SQLITE_OK) ThrowSqlite(db_, rc);
  }
  // True while there is a row to read.
  bool Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    ThrowSqlite(db_, rc);
  }
  void RunToEnd() {
    while (Step()) {
    }
  }
  int ColumnCount() const { return sqlite3_column_count(stmt_); }
  std::string ColumnName(int i) const {
    const char* name = sqlite3_column_name(stmt_, i);
    return name != nullptr ? name : "";
  }
  // Any type reads as its text.
  Value Column(int i) const {
    if (sqlite3_column_type(stmt_, i) == SQLITE_NULL) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    return std::string(text != nullptr ? text : "",
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)));
  }
  std::int64_t ColumnInt64(int i) const { return sqlite3_column_int64(stmt_, i); }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace updater::posix::sqlite
