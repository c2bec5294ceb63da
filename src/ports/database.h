#pragma once
// The local database as the program uses it: an ADO-style connection and recordset. The win32
// backend drives ADO with the Jet provider; the posix backend stands in with SQLite.

#include <memory>
#include <string>
#include <vector>

#include "ports/datetime.h"

namespace updater::ports {

enum : int {
  adUseClient = 3,
  adOpenUnspecified = -1,
  adOpenKeyset = 1,
  adOpenStatic = 3,
  adLockUnspecified = -1,
  adLockOptimistic = 3,
  adConnectUnspecified = -1,
  adCmdUnspecified = -1,
};

// Every operation throws RuntimeError when the database refuses it.
class Recordset {
 public:
  virtual ~Recordset() = default;
  virtual void SetCursorLocation(int location) = 0;
  virtual void SetCursorType(int type) = 0;
  virtual void SetLockType(int type) = 0;
  // Opens the statement on the active connection with the settings made before.
  virtual void Open(const std::string& source) = 0;
  // At the end of the data (also when the result has no row).
  virtual bool IsEOF() = 0;
  // The value of a column of the current row as text; Null reads as "". Column names match
  // without regard to case.
  virtual std::string Field(const std::string& name) = 0;
  virtual void SetField(const std::string& name, const std::string& value) = 0;
  virtual void SetFieldDate(const std::string& name, const DateTime& value) = 0;
  virtual void AddNew() = 0;
  // Stores the current row (the new one after AddNew).
  virtual void Update() = 0;
  virtual void MoveNext() = 0;
  virtual void Close() = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;
  virtual void Open(const std::string& connectionString, const std::string& user,
                    const std::string& password, int options) = 0;
  // A new recordset whose active connection is this one.
  virtual std::unique_ptr<Recordset> NewRecordset() = 0;
  // Runs a statement; each "?" in it takes the next parameter, as text.
  virtual void Execute(const std::string& sql, const std::vector<std::string>& parameters,
                       int options) = 0;
  virtual void Close() = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  virtual std::unique_ptr<Connection> NewConnection() = 0;
};

}  // namespace updater::ports
