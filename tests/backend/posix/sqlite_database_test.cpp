#include "backends/posix/database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "backend/posix/temp_folder.h"
#include "ports/errors.h"

namespace updater::posix {
namespace {

using namespace std::chrono_literals;

TEST(DataSourceOf, TakesTheFileNamedInTheConnectionString) {
  EXPECT_EQ(DataSourceOf("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\a b\\project.mdb;"
                         "Jet OLEDB:Database Password=5203817;admin "),
            "C:\\a b\\project.mdb");
  EXPECT_EQ(DataSourceOf("data source = /x/p.mdb ;Provider=x"), "/x/p.mdb");
  EXPECT_EQ(DataSourceOf("Data Source=\"/x;y/p.mdb\""), "\"/x");  // no quoting of ";"
  EXPECT_EQ(DataSourceOf("Data Source='/x/p.mdb'"), "/x/p.mdb");
  EXPECT_EQ(DataSourceOf("Provider=x;Password=Data Source=y"), "");
  EXPECT_EQ(DataSourceOf(""), "");
}

// A database file with one table, reached both through the backend and through SQLite itself.
class SqliteBackend : public testing::Test {
 protected:
  void SetUp() override {
    file_ = folder_.path() / "project.mdb";
    ASSERT_EQ(sqlite3_open(file_.c_str(), &raw_), SQLITE_OK);
    Raw("create table system (upserverurl TEXT, indatetime DATETIME, hits INTEGER)");
  }
  void TearDown() override { sqlite3_close(raw_); }

  std::string ConnString() const {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder_.str() +
           "\\PROJECT.MDB;Jet OLEDB:Database Password=5203817;admin ";
  }
  std::unique_ptr<ports::Connection> Open(SqliteDatabase& db) {
    auto conn = db.NewConnection();
    conn->Open(ConnString(), "", "", ports::adConnectUnspecified);
    return conn;
  }
  int Raw(const std::string& sql) {
    return sqlite3_exec(raw_, sql.c_str(), nullptr, nullptr, nullptr);
  }
  // typeof(column) and its text, of the first row.
  std::pair<std::string, std::string> Stored(const std::string& column) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw_, ("select typeof(" + column + "), " + column + " from system").c_str(),
                       -1, &st, nullptr);
    std::pair<std::string, std::string> out;
    if (sqlite3_step(st) == SQLITE_ROW) {
      out.first = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      const auto* v = sqlite3_column_text(st, 1);
      out.second = v != nullptr ? reinterpret_cast<const char*>(v) : "";
    }
    sqlite3_finalize(st);
    return out;
  }

  posix_test::TempFolder folder_;
  PathMapper mapper_{folder_.path()};
  std::filesystem::path file_;
  sqlite3* raw_ = nullptr;
};

int NumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

TEST_F(SqliteBackend, StoresTextAsTypedAndDatesAsReadableText) {
  SqliteDatabase db(mapper_);
  auto conn = Open(db);
  auto rs = conn->NewRecordset();
  rs->Open("select * from system");
  rs->AddNew();
  rs->SetField("upserverurl", "0012");  // text in a text column, not the number 12
  rs->SetFieldDate("indatetime", {2024, 5, 6, 7, 8, 9});
  rs->SetField("hits", "12");
  rs->Update();
  rs->Close();
  EXPECT_EQ(Stored("upserverurl"), (std::pair<std::string, std::string>{"text", "0012"}));
  EXPECT_EQ(Stored("indatetime"),
            (std::pair<std::string, std::string>{"text", "2024-05-06 07:08:09"}));
  // The column's own type applies where it can take the value.
  EXPECT_EQ(Stored("hits"), (std::pair<std::string, std::string>{"integer", "12"}));
}

TEST_F(SqliteBackend, WaitsWhileAnotherConnectionHoldsTheWriteLock) {
  SqliteDatabase db(mapper_, 5s);
  auto conn = Open(db);
  ASSERT_EQ(Raw("begin immediate; insert into system (upserverurl) values ('client')"), SQLITE_OK);
  std::thread client([&] {
    std::this_thread::sleep_for(300ms);
    Raw("commit");
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NO_THROW(conn->Execute("update system set upserverurl=?", {"updater"}, -1));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
  client.join();
  EXPECT_EQ(Stored("upserverurl").second, "updater");
}

TEST_F(SqliteBackend, GivesUpWithALockErrorAfterTheBusyTimeout) {
  SqliteDatabase db(mapper_, 200ms);
  auto conn = Open(db);
  auto rs = conn->NewRecordset();
  rs->Open("select * from system");
  ASSERT_EQ(Raw("begin exclusive"), SQLITE_OK);
  try {
    conn->Execute("update system set upserverurl=?", {"x"}, -1);
    ADD_FAILURE() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), ado::kGeneric);
    EXPECT_NE(e.description().find("locked"), std::string::npos) << e.description();
  }
  // A refused row stays pending and is stored once, when the lock is gone.
  rs->AddNew();
  rs->SetField("upserverurl", "y");
  EXPECT_EQ(NumberOf([&] { rs->Update(); }), ado::kGeneric);
  Raw("rollback");
  rs->Update();
  EXPECT_EQ(rs->Field("upserverurl"), "y");
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  auto counted = conn->NewRecordset();
  counted->Open("select count(*) as n from system");
  EXPECT_EQ(counted->Field("n"), "1");
}

TEST_F(SqliteBackend, PendingEditsAreStoredOrRefusedAsAdoDoes) {
  SqliteDatabase db(mapper_);
  auto conn = Open(db);
  Raw("insert into system (upserverurl) values ('a')");
  auto rs = conn->NewRecordset();
  rs->Open("select * from system");
  rs->SetField("upserverurl", "b");
  EXPECT_EQ(NumberOf([&] { rs->Close(); }), ado::kNotAllowedInContext);
  rs->MoveNext();  // stores the edit
  EXPECT_TRUE(rs->IsEOF());
  rs->Close();
  EXPECT_EQ(Stored("upserverurl").second, "b");

  // A statement other than "select * from T" has no table to write back to.
  auto counted = conn->NewRecordset();
  counted->Open("select count(*) as n from system");
  EXPECT_EQ(counted->Field("N"), "1");
  EXPECT_EQ(NumberOf([&] { counted->AddNew(); }), ado::kNotUpdatable);
  EXPECT_EQ(NumberOf([&] { conn->Execute("update system set upserverurl=?", {}, -1); }),
            ado::kGeneric);
}

TEST_F(SqliteBackend, AFolderOrAnEmptyFileIsNoDatabase) {
  SqliteDatabase db(mapper_);
  sqlite3_close(raw_);
  raw_ = nullptr;
  std::filesystem::remove(file_);
  std::filesystem::create_directory(file_);
  EXPECT_EQ(NumberOf([&] { Open(db); }), ado::kGeneric);
  std::filesystem::remove(file_);
  std::ofstream(file_).flush();
  EXPECT_EQ(NumberOf([&] { Open(db); }), ado::kGeneric);
  EXPECT_EQ(std::filesystem::file_size(file_), 0u);
}

}  // namespace
}  // namespace updater::posix
