#pragma once
// The local database on SQLite: project.mdb is a SQLite file with the same tables and columns.
// The connection opens the file named by "Data Source=" (the password is ignored) and never
// creates it. A recordset is a client-side copy of its rows, as ADO's client cursor is: writes go
// back to the table by rowid, so the file is never held locked between statements.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backends/common/ado_errors.h"
#include "backends/posix/emulation/path_mapper.h"
#include "ports/database.h"

namespace updater::posix {

// The value after "Data Source=" in an OLE DB connection string, up to the next ";" and without
// surrounding blanks; "" when the string names none. Keys match without regard to case.
std::string DataSourceOf(std::string_view connectionString);

class SqliteDatabase final : public ports::Database {
 public:
  // busyTimeout: how long a statement waits while another connection (the client) holds the file.
  explicit SqliteDatabase(const PathMapper& mapper,
                          std::chrono::milliseconds busyTimeout = std::chrono::seconds(5))
      : mapper_(mapper), busyTimeout_(busyTimeout) {}

  std::unique_ptr<ports::Connection> NewConnection() override;

 private:
  const PathMapper& mapper_;
  std::chrono::milliseconds busyTimeout_;
};

}  // namespace updater::posix
