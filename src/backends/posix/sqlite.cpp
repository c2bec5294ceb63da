#include "backends/posix/sqlite.h"

#include "backends/common/ado_errors.h"
#include "ports/errors.h"

namespace updater::posix::sqlite {

std::string_view TrimBlanks(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

void ThrowAdo(int number) {
  const char* text = ado::ErrorText(number);
  throw RuntimeError(number, text != nullptr ? text : "Operation is not allowed.");
}

void ThrowSqlite(sqlite3* db, int rc) {
  const std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int number = ado::kGeneric;
  const int primary = rc & 0xff;
  if (message.starts_with("no such table")) {
    number = ado::kMissingTable;
  } else if (message.starts_with("no such column")) {
    number = ado::kMissingColumn;
  } else if (message.find("syntax error") != std::string::npos ||
             message.find("incomplete input") != std::string::npos) {
    number = ado::kSyntax;
  } else if (primary == SQLITE_CONSTRAINT) {
    number = ado::kIntegrity;
  } else if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    throw RuntimeError(number, "Could not update; currently locked (" + message + ").");
  }
  throw RuntimeError(number, message);
}

std::string QuoteName(const std::string& name) {
  std::string quoted = "\"";
  for (const char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

Statement::Statement(sqlite3* db, const std::string& sql) : db_(db) {
  const char* tail = nullptr;
  const int rc =
      sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &stmt_, &tail);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  // One statement per call, as Jet takes it: text after the first one is an error.
  if (tail != nullptr && !TrimBlanks(std::string_view(tail)).empty() &&
      TrimBlanks(std::string_view(tail)) != ";") {
    throw RuntimeError(ado::kSyntax, "Characters found after end of SQL statement.");
  }
  if (stmt_ == nullptr) throw RuntimeError(ado::kSyntax, "The statement is empty.");
}

}  // namespace updater::posix::sqlite
