#pragma once
// A recordset as ADO's client cursor keeps one: the rows of a statement copied into memory when
// it opens, a current position, and the edit and add buffers, with ADO's rules and error numbers
// for each operation. A subclass says where the rows come from and where a changed row goes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ports/database.h"

namespace updater {

class MemoryRecordset : public ports::Recordset {
 public:
  using Value = std::optional<std::string>;  // nullopt is Null

  void SetCursorLocation(int) final { RequireClosed(); }
  void SetCursorType(int) final { RequireClosed(); }
  void SetLockType(int) final { RequireClosed(); }
  void Open(const std::string& source) final;
  bool IsEOF() final;
  std::string Field(const std::string& name) final;
  void SetField(const std::string& name, const std::string& value) final;
  void SetFieldDate(const std::string& name, const ports::DateTime& value) final;
  void AddNew() final;
  void Update() final;
  void MoveNext() final;
  void Close() final;

 protected:
  struct Row {
    std::int64_t key = 0;  // how the subclass finds the row again to write it back
    std::vector<Value> values;
  };
  struct Result {
    std::vector<std::string> columns;
    std::vector<Row> rows;
    bool updatable = false;  // false: reading works, changing a row fails as ADO's does
  };

  // False once the connection is closed; Open and Update then fail as ADO's do.
  virtual bool Connected() const = 0;
  // Runs the statement; throws as the database refuses it.
  virtual Result Load(const std::string& source) = 0;
  // Writes the changed fields (indexes into the columns) of an edited row back and returns the
  // row's values as now stored.
  virtual std::vector<Value> StoreEdit(const Row& row, const std::vector<Value>& values,
                                       const std::vector<std::size_t>& changed) = 0;
  // Adds a row holding the given fields and returns it as now stored, defaults included.
  virtual Row StoreNew(const std::vector<Value>& values,
                       const std::vector<std::size_t>& changed) = 0;

  const std::vector<std::string>& columns() const { return columns_; }

 private:
  enum class Mode { kNone, kEdit, kAdd };

  std::size_t ColumnIndex(const std::string& name) const;
  void RequireOpen() const;
  void RequireClosed() const;
  void RequireUpdatable() const;

  bool open_ = false;
  bool updatable_ = false;
  std::vector<std::string> columns_;
  std::vector<Row> rows_;
  std::size_t pos_ = 0;
  Mode mode_ = Mode::kNone;
  std::vector<Value> pending_;
  std::vector<bool> dirty_;
};

}  // namespace updater
