#pragma once
// An in-memory stand-in for the local database that understands exactly the program's own
// statements. It records how connections and recordsets were set up.

#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "ports/errors.h"
#include "ports/platform.h"
#include "util/text.h"

namespace fakes {

using Row = std::map<std::string, std::optional<std::string>>;  // lower-case column -> value

struct DbState {
  std::map<std::string, std::vector<Row>> tables;  // lower-case table name -> rows
  std::vector<std::string> connectionStrings;
  std::vector<std::string> log;  // "open SQL", "addnew", "update", "execute SQL|params"
  struct Settings {
    int location = 0, type = 0, lock = 0;
  };
  std::vector<Settings> recordsets;
  bool failOpen = false;
  int openConnections = 0;
};

class FakeRecordset : public updater::ports::Recordset {
 public:
  explicit FakeRecordset(DbState* s) : s_(s) { s_->recordsets.emplace_back(); }
  void SetCursorLocation(int v) override { s_->recordsets.back().location = v; }
  void SetCursorType(int v) override { s_->recordsets.back().type = v; }
  void SetLockType(int v) override { s_->recordsets.back().lock = v; }
  void Open(const std::string& sql) override {
    s_->log.push_back("open " + sql);
    static const std::regex re(R"(select \* from (\w+)(?: where (\w+)='([^']*)')?)");
    std::smatch m;
    if (!std::regex_match(sql, m, re)) throw updater::RuntimeError(-2147217900, "syntax");
    table_ = updater::text::AsciiLower(m[1].str());
    if (!s_->tables.count(table_)) throw updater::RuntimeError(-2147217865, "no table " + table_);
    rows_.clear();
    auto& rows = s_->tables[table_];
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (m[2].matched) {
        auto it = rows[i].find(updater::text::AsciiLower(m[2].str()));
        if (it == rows[i].end() || it->second != m[3].str()) continue;
      }
      rows_.push_back(i);
    }
    pos_ = 0;
    open_ = true;
  }
  bool IsEOF() override { return pending_ ? false : pos_ >= rows_.size(); }
  std::string Field(const std::string& name) override {
    const Row& r = Current();
    auto it = r.find(updater::text::AsciiLower(name));
    if (it == r.end()) throw updater::RuntimeError(3265, "no column " + name);
    return it->second.value_or("");
  }
  void SetField(const std::string& name, const std::string& value) override {
    Current()[updater::text::AsciiLower(name)] = value;
  }
  void SetFieldDate(const std::string& name, const updater::ports::DateTime& v) override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", v.year, v.month, v.day, v.hour,
                  v.minute, v.second);
    SetField(name, buf);
  }
  void AddNew() override {
    if (!open_) throw updater::RuntimeError(3704, "closed");
    s_->log.push_back("addnew");
    pending_ = Row{};
  }
  void Update() override {
    s_->log.push_back("update");
    if (pending_) {
      s_->tables[table_].push_back(*pending_);
      rows_.push_back(s_->tables[table_].size() - 1);
      pos_ = rows_.size() - 1;
      pending_.reset();
    }
  }
  void MoveNext() override { ++pos_; }
  void Close() override { open_ = false; }

 private:
  Row& Current() {
    if (!open_) throw updater::RuntimeError(3704, "closed");
    if (pending_) return *pending_;
    if (pos_ >= rows_.size()) throw updater::RuntimeError(3021, "EOF");
    return s_->tables[table_][rows_[pos_]];
  }
  DbState* s_;
  std::string table_;
  std::vector<std::size_t> rows_;
  std::size_t pos_ = 0;
  bool open_ = false;
  std::optional<Row> pending_;
};

class FakeConnection : public updater::ports::Connection {
 public:
  explicit FakeConnection(DbState* s) : s_(s) {}
  void Open(const std::string& cs, const std::string&, const std::string&, int) override {
    if (s_->failOpen) throw updater::RuntimeError(-2147467259, "cannot open database");
    s_->connectionStrings.push_back(cs);
    ++s_->openConnections;
  }
  std::unique_ptr<updater::ports::Recordset> NewRecordset() override {
    return std::make_unique<FakeRecordset>(s_);
  }
  void Execute(const std::string& sql, const std::vector<std::string>& params, int) override {
    std::string entry = "execute " + sql;
    for (const auto& p : params) entry += "|" + p;
    s_->log.push_back(entry);
    if (sql == "update projectList set project_URL=?" && params.size() == 1) {
      for (auto& row : s_->tables["projectlist"]) row["project_url"] = params[0];
    }
  }
  void Close() override {}

 private:
  DbState* s_;
};

class FakeDatabase : public updater::ports::Database {
 public:
  DbState state;
  std::unique_ptr<updater::ports::Connection> NewConnection() override {
    return std::make_unique<FakeConnection>(&state);
  }
};

}  // namespace fakes
