#pragma once
// The local database through ADO (and the Jet provider named in the connection string), driven
// through COM with early binding. A failed call throws RuntimeError with ADO's number (errors of
// ADO itself, 0x800Axxxx, by their short number as a VB program sees them, e.g. 3265) and the
// description ADO gives.

#include <memory>

#include "ports/database.h"

namespace updater::win32 {

class AdoDatabase final : public ports::Database {
 public:
  std::unique_ptr<ports::Connection> NewConnection() override;
};

}  // namespace updater::win32
