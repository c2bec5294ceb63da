#include "table_file_database.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "backends/common/ado_errors.h"
#include "backends/common/memory_recordset.h"
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

class Recordset final : public updater::MemoryRecordset {
 public:
  explicit Recordset(std::shared_ptr<TableFile> file) : file_(std::move(file)) {}

 private:
  bool Connected() const override { return file_->open; }

  Result Load(const std::string& source) override {
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
    Result result{t.columns, {}, true};
    const std::size_t kind = selection->versionT ? wholerun::ColumnIndex(t, "versionT") : 0;
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      if (selection->versionT && t.rows[i][kind] != Value(selection->versionT)) continue;
      // Rows are never deleted, so a row's index in the table stays its key.
      result.rows.push_back({static_cast<std::int64_t>(i), t.rows[i]});
    }
    return result;
  }

  std::vector<Value> StoreEdit(const Row& row, const std::vector<Value>& values,
                               const std::vector<std::size_t>& changed) override {
    std::vector<Table> tables = file_->Load();
    // Only the changed fields go back, so a write by another connection to other fields of the
    // row stays.
    auto& stored = StoredTable(tables).rows.at(static_cast<std::size_t>(row.key));
    for (const std::size_t i : changed) stored[i] = values[i];
    std::vector<Value> now = stored;
    file_->Save(tables);
    return now;
  }

  Row StoreNew(const std::vector<Value>& values, const std::vector<std::size_t>&) override {
    std::vector<Table> tables = file_->Load();
    Table& t = StoredTable(tables);
    t.rows.push_back(values);
    Row row{static_cast<std::int64_t>(t.rows.size() - 1), values};
    file_->Save(tables);
    return row;
  }

  Table& StoredTable(std::vector<Table>& tables) const {
    Table& t = TableNamed(tables, table_);
    if (t.columns != columns()) {
      throw RuntimeError(ado::kGeneric, "The table " + table_ + " changed its columns.");
    }
    return t;
  }

  std::shared_ptr<TableFile> file_;
  std::string table_;
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
