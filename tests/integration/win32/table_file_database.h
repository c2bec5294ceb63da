#pragma once
// The database port of the whole-run test build: project.mdb is a text file of tables (see
// tables.h) instead of an Access database, which wine cannot open. It keeps the recordset
// contract of the port (first row, add when empty, update the current row, Null reads "") and
// knows exactly the statements the program runs; any other statement is an error.

#include <memory>

#include "ports/database.h"

namespace wholerun {

class TableFileDatabase final : public updater::ports::Database {
 public:
  std::unique_ptr<updater::ports::Connection> NewConnection() override;
};

}  // namespace wholerun
