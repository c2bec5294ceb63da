#include "backends/posix/database.h"

#include <cstdint>
#include <filesystem>
#include <regex>
#include <utility>

#include "backends/common/memory_recordset.h"
#include "backends/posix/sqlite.h"
#include "ports/errors.h"
#include "util/text.h"

namespace updater::posix {

namespace {

using sqlite::Link;
using sqlite::QuoteName;
using sqlite::Statement;
using sqlite::ThrowAdo;
using sqlite::TrimBlanks;

class SqliteRecordset final : public MemoryRecordset {
 public:
  explicit SqliteRecordset(std::shared_ptr<Link> link) : link_(std::move(link)) {}

 private:
  bool Connected() const override { return link_->db != nullptr; }

  Result Load(const std::string& source) override {
    // "select * from T ..." also fetches the rowid, by which a changed row is written back;
    // any other statement gives a recordset that can only be read.
    static const std::regex kSelectAll(R"(^\s*select\s+\*\s+from\s+(\w+)(\s.*)?$)",
                                       std::regex::icase);
    std::smatch m;
    table_.clear();
    std::string sql = source;
    if (std::regex_match(source, m, kSelectAll)) {
      table_ = m[1].str();
      sql = "select rowid, * from " + QuoteName(table_) + m[2].str();
    }
    const int first = table_.empty() ? 0 : 1;
    Statement st(link_->db, sql);
    Result result;
    for (int i = first; i < st.ColumnCount(); ++i) result.columns.push_back(st.ColumnName(i));
    while (st.Step()) result.rows.push_back(ReadRow(st, first));
    result.updatable = !table_.empty();
    return result;
  }

  std::vector<Value> StoreEdit(const Row& row, const std::vector<Value>& values,
                               const std::vector<std::size_t>& changed) override {
    if (!changed.empty()) {
      std::string sql = "update " + QuoteName(table_) + " set ";
      for (std::size_t k = 0; k < changed.size(); ++k) {
        sql += (k == 0 ? "" : ", ") + QuoteName(columns()[changed[k]]) + "=?";
      }
      Statement st(link_->db, sql + " where rowid=?");
      int index = 1;
      for (const std::size_t i : changed) st.Bind(index++, values[i]);
      st.BindRowid(index, row.key);
      st.RunToEnd();
    }
    return values;
  }

  Row StoreNew(const std::vector<Value>& values, const std::vector<std::size_t>& changed) override {
    std::string sql = "insert into " + QuoteName(table_);
    if (changed.empty()) {
      sql += " default values";
    } else {
      std::string names, marks;
      for (const std::size_t i : changed) {
        names += (names.empty() ? "" : ", ") + QuoteName(columns()[i]);
        marks += marks.empty() ? "?" : ", ?";
      }
      sql += " (" + names + ") values (" + marks + ")";
    }
    Statement st(link_->db, sql);
    int index = 1;
    for (const std::size_t i : changed) st.Bind(index++, values[i]);
    st.RunToEnd();
    return ReadBack(sqlite3_last_insert_rowid(link_->db));
  }

  static Row ReadRow(const Statement& st, int first) {
    Row row;
    if (first == 1) row.key = st.ColumnInt64(0);
    for (int i = first; i < st.ColumnCount(); ++i) row.values.push_back(st.Column(i));
    return row;
  }

  // The stored row as the table now holds it, defaults included.
  Row ReadBack(std::int64_t rowid) {
    Statement st(link_->db, "select rowid, * from " + QuoteName(table_) + " where rowid=?");
    st.BindRowid(1, rowid);
    if (!st.Step()) throw RuntimeError(ado::kGeneric, "The new row cannot be read back.");
    return ReadRow(st, 1);
  }

  std::shared_ptr<Link> link_;
  std::string table_;  // empty for a statement whose rows cannot be written back
};

class SqliteConnection final : public ports::Connection {
 public:
  SqliteConnection(const PathMapper& mapper, std::chrono::milliseconds busyTimeout)
      : mapper_(mapper), busyTimeout_(busyTimeout) {}

  void Open(const std::string& connectionString, const std::string&, const std::string&,
            int) override {
    if (link_ && link_->db != nullptr) ThrowAdo(ado::kObjectOpen);
    const std::string source = DataSourceOf(connectionString);
    if (source.empty()) throw RuntimeError(ado::kGeneric, "The connection names no data source.");
    const std::filesystem::path host = mapper_.Map(source);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(host, ec)) {
      throw RuntimeError(ado::kGeneric, "Could not find file '" + source + "'.");
    }
    // SQLite would take an empty file for an empty database; Jet takes it for none.
    if (std::filesystem::file_size(host, ec) == 0) {
      throw RuntimeError(ado::kGeneric, "Unrecognized database format '" + source + "'.");
    }
    auto link = std::make_shared<Link>();
    // Never SQLITE_OPEN_CREATE: a missing database must fail, not appear empty.
    const int rc = sqlite3_open_v2(host.c_str(), &link->db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
      const std::string why = link->db != nullptr ? sqlite3_errmsg(link->db) : sqlite3_errstr(rc);
      throw RuntimeError(ado::kGeneric, "Could not open file '" + source + "' (" + why + ").");
    }
    sqlite3_busy_timeout(link->db, static_cast<int>(busyTimeout_.count()));
    // SQLite reads the header lazily; look now, so that a file of another kind fails here.
    try {
      Statement(link->db, "select count(*) from sqlite_master").RunToEnd();
    } catch (const RuntimeError& e) {
      throw RuntimeError(ado::kGeneric, "Unrecognized database format '" + source + "' (" +
                                            e.description() + ").");
    }
    link_ = std::move(link);
  }

  std::unique_ptr<ports::Recordset> NewRecordset() override {
    if (!link_ || link_->db == nullptr) ThrowAdo(ado::kConnectionUnusable);
    return std::make_unique<SqliteRecordset>(link_);
  }

  void Execute(const std::string& sql, const std::vector<std::string>& parameters, int) override {
    if (!link_ || link_->db == nullptr) ThrowAdo(ado::kConnectionUnusable);
    Statement st(link_->db, sql);
    if (st.ParameterCount() != static_cast<int>(parameters.size())) {
      throw RuntimeError(ado::kGeneric, "The statement takes " +
                                            std::to_string(st.ParameterCount()) + " parameters; " +
                                            std::to_string(parameters.size()) + " were given.");
    }
    for (std::size_t i = 0; i < parameters.size(); ++i) {
      st.Bind(static_cast<int>(i) + 1, parameters[i]);
    }
    st.RunToEnd();
  }

  void Close() override {
    if (!link_ || link_->db == nullptr) ThrowAdo(ado::kObjectClosed);
    sqlite3_close_v2(link_->db);
    link_->db = nullptr;
  }

 private:
  const PathMapper& mapper_;
  std::chrono::milliseconds busyTimeout_;
  std::shared_ptr<Link> link_;
};

}  // namespace

std::string DataSourceOf(std::string_view connectionString) {
  std::size_t start = 0;
  while (start <= connectionString.size()) {
    std::size_t end = connectionString.find(';', start);
    if (end == std::string_view::npos) end = connectionString.size();
    const std::string_view part = connectionString.substr(start, end - start);
    const std::size_t eq = part.find('=');
    if (eq != std::string_view::npos &&
        text::EqualsNoCase(TrimBlanks(part.substr(0, eq)), "data source")) {
      std::string_view value = TrimBlanks(part.substr(eq + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      return std::string(value);
    }
    start = end + 1;
  }
  return {};
}

std::unique_ptr<ports::Connection> SqliteDatabase::NewConnection() {
  return std::make_unique<SqliteConnection>(mapper_, busyTimeout_);
}

}  // namespace updater::posix
