#include "table_file_database.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "backends/common/ado_errors.h"
#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"
#include "ports/errors.h"
#include "settings/LocalDatabase.h"
#include "tables.h"
#include "util/text.h"

namespace wholerun {

namespace {

namespace ado = updater::ado;
using updater::RuntimeError;

[[noreturn]] void ThrowAdo(int number) { throw RuntimeError(number, ado::ErrorText(number)); }

std::string DataSourceOf(const std::string& connectionString) {
  std::size_t start = 0;
  while (start <= connectionString.size()) {
    std::size_t end = connectionString.find(';', start);
    if (end == std::string::npos) end = connectionString.size();
    const std::string part = connectionString.substr(start, end - start);
    const std::size_t eq = part.find('=');
    if (eq != std::string::npos &&
        updater::text::EqualsNoCase(updater::text::TrimSpaces(part.substr(0, eq)), "Data Source")) {
      return updater::text::TrimSpaces(part.substr(eq + 1));
    }
    start = end + 1;
  }
  return "";
}

// The whole file, read and written at each statement, so that connections see each other's
// writes as they do on one Access file.
class TableFile {
 public:
  explicit TableFile(std::string path) : path_(std::move(path)) {}

  // False once the connection is closed: its recordsets can no longer reach the file.
  bool open = true;

  std::vector<Table> Load() const {
    HANDLE f = CreateFileW(updater::win32::Utf8ToWide(path_).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
      throw RuntimeError(ado::kGeneric, "Could not find file '" + path_ + "'.");
    }
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(f);
    try {
      return ParseTables(text);
    } catch (const std::exception& e) {
      throw RuntimeError(ado::kGeneric,
                         "Unrecognized database format '" + path_ + "' (" + e.what() + ").");
    }
  }

  void Save(const std::vector<Table>& tables) const {
    const std::string text = FormatTables(tables);
    const std::wstring target = updater::win32::Utf8ToWide(path_);
    const std::wstring temp = target + L".new";
    HANDLE f = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    const bool written =
        f != INVALID_HANDLE_VALUE &&
        WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
        put == text.size();
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    if (!written || !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      DeleteFileW(temp.c_str());
      throw RuntimeError(ado::kGeneric, "Could not update; cannot write '" + path_ + "'.");
    }
  }

 private:
  std::string path_;
};

Table& TableNamed(std::vector<Table>& tables, const std::string& name) {
  for (Table& t : tables) {
    if (updater::text::EqualsNoCase(t.name, name)) return t;
  }
  throw RuntimeError(
      ado::kMissingTable,
      "The Microsoft Jet database engine cannot find the input table or query '" + name + "'.");
}

std::size_t ColumnIndex(const Table& t, const std::string& name) {
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    if (updater::text::EqualsNoCase(t.columns[i], name)) return i;
  }
  ThrowAdo(ado::kItemNotFound);
}

// The program's selections: the table and, for versions, the versionT value asked for.
struct Selection {
  const char* statement;
  const char* table;
  const char* versionT;  // null: every row
};
constexpr Selection kSelections[] = {
    {updater::LocalDatabase::kSelectSystem, "system", nullptr},
    {updater::LocalDatabase::kSelectVersions0, "versions", "0"},
    {updater::LocalDatabase::kSelectVersions1, "versions", "1"},
    {updater::LocalDatabase::kSelectProjects, "projectList", nullptr},
};

class Recordset final : public updater::ports::Recordset {
 public:
  explicit Recordset(std::shared_ptr<TableFile> file) : file_(std::move(file)) {}

  void SetCursorLocation(int) override { RequireClosed(); }
  void SetCursorType(int) override { RequireClosed(); }
  void SetLockType(int) override { RequireClosed(); }

  void Open(const std::string& source) override {
    RequireClosed();
    if (!file_->open) ThrowAdo(ado::kConnectionUnusable);
    const Selection* selection = nullptr;
    for (const Selection& s : kSelections) {
      if (source == s.statement) selection = &s;
    }
    if (selection == nullptr) {
      throw RuntimeError(ado::kSyntax, "The test database does not run \"" + source + "\".");
    }
    std::vector<Table> tables = file_->Load();
    Table& t = TableNamed(tables, selection->table);
    table_ = t.name;
    columns_ = t.columns;
    rows_.clear();
    const std::size_t kind = selection->versionT ? ColumnIndex(t, "versionT") : 0;
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      if (selection->versionT && t.rows[i][kind] != Value(selection->versionT)) continue;
      rows_.push_back({i, t.rows[i]});
    }
    pos_ = 0;
    mode_ = Mode::kNone;
    open_ = true;
  }

  bool IsEOF() override {
    RequireOpen();
    return mode_ != Mode::kAdd && pos_ >= rows_.size();
  }

  std::string Field(const std::string& name) override {
    RequireOpen();
    const std::size_t i = Column(name);
    if (mode_ != Mode::kNone) return pending_[i].value_or("");
    if (pos_ >= rows_.size()) ThrowAdo(ado::kNoCurrentRecord);
    return rows_[pos_].values[i].value_or("");
  }

  void SetField(const std::string& name, const std::string& value) override {
    RequireOpen();
    const std::size_t i = Column(name);
    if (mode_ == Mode::kNone) {
      if (pos_ >= rows_.size()) ThrowAdo(ado::kNoCurrentRecord);
      mode_ = Mode::kEdit;
      pending_ = rows_[pos_].values;
      dirty_.assign(columns_.size(), false);
    }
    pending_[i] = value;
    dirty_[i] = true;
  }

  void SetFieldDate(const std::string& name, const updater::ports::DateTime& v) override {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", v.year, v.month, v.day,
                  v.hour, v.minute, v.second);
    SetField(name, text);
  }

  void AddNew() override {
    RequireOpen();
    if (mode_ != Mode::kNone) Update();  // a row being edited is stored first, as ADO does
    mode_ = Mode::kAdd;
    pending_.assign(columns_.size(), std::nullopt);
    dirty_.assign(columns_.size(), false);
  }

  void Update() override {
    RequireOpen();
    if (mode_ == Mode::kNone) return;
    if (!file_->open) ThrowAdo(ado::kConnectionUnusable);
    std::vector<Table> tables = file_->Load();
    Table& t = TableNamed(tables, table_);
    if (t.columns != columns_) {
      throw RuntimeError(ado::kGeneric, "The table " + table_ + " changed its columns.");
    }
    if (mode_ == Mode::kEdit) {
      // Only the changed fields go back, so a write by another connection to other fields of
      // the row stays.
      auto& stored = t.rows.at(rows_[pos_].index);
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (dirty_[i]) stored[i] = pending_[i];
      }
      rows_[pos_].values = stored;
    } else {
      t.rows.push_back(pending_);
      rows_.push_back({t.rows.size() - 1, pending_});
      pos_ = rows_.size() - 1;
    }
    file_->Save(tables);
    mode_ = Mode::kNone;
  }

  void MoveNext() override {
    RequireOpen();
    if (mode_ != Mode::kNone) Update();
    if (pos_ >= rows_.size()) ThrowAdo(ado::kNoCurrentRecord);
    ++pos_;
  }

  void Close() override {
    RequireOpen();
    if (mode_ != Mode::kNone) ThrowAdo(ado::kNotAllowedInContext);
    open_ = false;
    rows_.clear();
  }

 private:
  enum class Mode { kNone, kEdit, kAdd };
  struct Row {
    std::size_t index;  // in the table; rows are never deleted, so it stays valid
    std::vector<Value> values;
  };

  std::size_t Column(const std::string& name) const {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (updater::text::EqualsNoCase(columns_[i], name)) return i;
    }
    ThrowAdo(ado::kItemNotFound);
  }
  void RequireOpen() const {
    if (!open_) ThrowAdo(ado::kObjectClosed);
  }
  void RequireClosed() const {
    if (open_) ThrowAdo(ado::kObjectOpen);
  }

  std::shared_ptr<TableFile> file_;
  bool open_ = false;
  std::string table_;
  std::vector<std::string> columns_;
  std::vector<Row> rows_;
  std::size_t pos_ = 0;
  Mode mode_ = Mode::kNone;
  std::vector<Value> pending_;
  std::vector<bool> dirty_;
};

class Connection final : public updater::ports::Connection {
 public:
  void Open(const std::string& connectionString, const std::string&, const std::string&,
            int) override {
    if (file_) ThrowAdo(ado::kObjectOpen);
    auto file = std::make_shared<TableFile>(DataSourceOf(connectionString));
    file->Load();  // a missing or unreadable file fails here, as Jet fails to open it
    file_ = std::move(file);
  }

  std::unique_ptr<updater::ports::Recordset> NewRecordset() override {
    if (!file_) ThrowAdo(ado::kConnectionUnusable);
    return std::make_unique<Recordset>(file_);
  }

  void Execute(const std::string& sql, const std::vector<std::string>& parameters, int) override {
    if (!file_) ThrowAdo(ado::kConnectionUnusable);
    if (sql != updater::LocalDatabase::kUpdateProjectUrls || parameters.size() != 1) {
      throw RuntimeError(ado::kSyntax, "The test database does not run \"" + sql + "\" with " +
                                           std::to_string(parameters.size()) + " parameters.");
    }
    std::vector<Table> tables = file_->Load();
    Table& t = TableNamed(tables, "projectList");
    const std::size_t url = ColumnIndex(t, "project_URL");
    for (auto& row : t.rows) row[url] = parameters[0];
    file_->Save(tables);
  }

  void Close() override {
    if (!file_) ThrowAdo(ado::kObjectClosed);
    file_->open = false;
    file_.reset();
  }

 private:
  std::shared_ptr<TableFile> file_;
};

}  // namespace

std::unique_ptr<updater::ports::Connection> TableFileDatabase::NewConnection() {
  return std::make_unique<Connection>();
}

}  // namespace wholerun
