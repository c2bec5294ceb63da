#pragma once
// An empty SQLite file for the database cases: the posix backend's stand-in for project.mdb.

#include <sqlite3.h>

#include <filesystem>
#include <string>

namespace contract {

// "" when made, else what went wrong.
inline std::string CreateSqliteFile(const std::filesystem::path& host) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(host.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  // An empty file is not yet a database; writing the schema version makes it one.
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "pragma user_version=1", nullptr, nullptr, nullptr);
  std::string why = rc == SQLITE_OK ? ""
                                    : "cannot create " + host.string() + ": " +
                                          (db != nullptr ? sqlite3_errmsg(db) : "no memory");
  sqlite3_close_v2(db);
  return why;
}

}  // namespace contract
