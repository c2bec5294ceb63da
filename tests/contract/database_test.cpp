// The local database through the backend's port, driven the way the program drives it: the real
// connection string, "select *" recordsets with the program's settings, first row, add when
// empty, update in place, and one parameterised statement.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/fixture.h"
#include "ports/errors.h"
#include "settings/LocalDatabase.h"

namespace contract {
namespace {

namespace LocalDatabase = updater::LocalDatabase;
using updater::RuntimeError;
using updater::ports::Connection;
using updater::ports::Recordset;

// Each table has one column the program never names, as the client may keep.
const char* const kSchema[] = {
    "create table [system] (upserverurl TEXT(255), indatetime DATETIME, client_flag TEXT(50))",
    "create table versions (version TEXT(50), updatetime TEXT(50), updatecmt TEXT(255), "
    "versionT TEXT(10), client_note TEXT(50))",
    "create table projectList (project_No TEXT(50), project_URL TEXT(255), project_Name TEXT(50))",
};

// The number of the error that f raises, or 0.
template <class F>
int ErrorNumberOf(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

class DatabaseTest : public ContractTest {
 protected:
  void SetUp() override {
    ContractTest::SetUp();
    folder_ = P("客户端 Program 文件夹");
    MakeDirs("客户端 Program 文件夹");
    const std::string why = TheEnv().CreateTestDatabase(folder_);
    if (!why.empty()) GTEST_SKIP() << why;
    auto conn = Connect();
    for (const char* sql : kSchema) conn->Execute(sql, {}, updater::ports::adCmdUnspecified);
    conn->Close();
  }

  std::unique_ptr<Connection> Connect() {
    return LocalDatabase::OpenConnection(pf(), LocalDatabase::ConnectionString(folder_));
  }
  void Exec(Connection& conn, const std::string& sql, const std::vector<std::string>& params) {
    conn.Execute(sql, params, updater::ports::adCmdUnspecified);
  }
  std::unique_ptr<Recordset> Select(Connection& conn, const std::string& sql) {
    auto rs = LocalDatabase::PrepareRecordset(conn);
    rs->Open(sql);
    return rs;
  }
  // The named columns of every row that sql selects, in order.
  std::vector<std::vector<std::string>> Rows(const std::string& sql,
                                             const std::vector<std::string>& columns) {
    auto conn = Connect();
    auto rs = Select(*conn, sql);
    std::vector<std::vector<std::string>> rows;
    for (; !rs->IsEOF(); rs->MoveNext()) {
      std::vector<std::string> row;
      for (const auto& c : columns) row.push_back(rs->Field(c));
      rows.push_back(row);
    }
    rs->Close();
    conn->Close();
    return rows;
  }
  using Table = std::vector<std::vector<std::string>>;

  std::string folder_;
};

TEST_F(DatabaseTest, OpensTheProgramsConnectionStringInAFolderWithBlanksAndChinese) {
  auto conn = Connect();
  auto rs = Select(*conn, LocalDatabase::kSelectSystem);
  EXPECT_TRUE(rs->IsEOF());
  rs->Close();
  conn->Close();
  // The folder named in other letter case is the same folder, as on Windows.
  auto other = LocalDatabase::OpenConnection(
      pf(), LocalDatabase::ConnectionString(P("客户端 PROGRAM 文件夹")));
  other->Close();
}

class DatabaseOpenTest : public ContractTest {};

TEST_F(DatabaseOpenTest, AMissingOrForeignDatabaseFailsWithoutCreatingAFile) {
  MakeDirs("empty");
  auto conn = pf().database->NewConnection();
  EXPECT_THROW(conn->Open(LocalDatabase::ConnectionString(P("empty")), "", "", -1), RuntimeError);
  EXPECT_TRUE(Tree("empty").empty());
  // Nor is a file of another kind taken for an empty database.
  Write("other\\project.mdb", "this is not a database, only some text in a file\n");
  EXPECT_THROW(LocalDatabase::OpenConnection(pf(), LocalDatabase::ConnectionString(P("other"))),
               RuntimeError);
  EXPECT_EQ(Read("other\\project.mdb"), "this is not a database, only some text in a file\n");
}

TEST_F(DatabaseTest, ReadsFromTheFirstRowOnAndReportsTheEnd) {
  auto conn = Connect();
  Exec(*conn, "insert into [system] (upserverurl) values (?)", {"http://first"});
  Exec(*conn, "insert into [system] (upserverurl) values (?)", {"http://second"});
  auto rs = Select(*conn, LocalDatabase::kSelectSystem);
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(rs->Field("upserverurl"), "http://first");
  rs->MoveNext();
  EXPECT_EQ(rs->Field("upserverurl"), "http://second");
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_EQ(ErrorNumberOf([&] { rs->Field("upserverurl"); }), 3021);
  EXPECT_NE(ErrorNumberOf([&] { rs->MoveNext(); }), 0);
  rs->Close();

  auto empty = Select(*conn, LocalDatabase::kSelectVersions1);
  EXPECT_TRUE(empty->IsEOF());
  EXPECT_EQ(ErrorNumberOf([&] { empty->Field("version"); }), 3021);
  // A name that is no column is reported before the missing row.
  EXPECT_EQ(ErrorNumberOf([&] { empty->Field("no_such_column"); }), 3265);
  empty->Close();

  auto missing = LocalDatabase::PrepareRecordset(*conn);
  EXPECT_EQ(ErrorNumberOf([&] { missing->Open("select * from no_such_table"); }), -2147217865);
  conn->Close();
}

TEST_F(DatabaseTest, AddNewOnAnEmptyTableStoresExactlyOneRow) {
  auto conn = Connect();
  auto rs = Select(*conn, LocalDatabase::kSelectSystem);
  ASSERT_TRUE(rs->IsEOF());
  rs->AddNew();
  EXPECT_FALSE(rs->IsEOF());
  rs->SetField("upserverUrl", "http://10.0.0.1:8080");
  rs->SetFieldDate("indatetime", {2024, 5, 6, 7, 8, 9});
  rs->Update();
  EXPECT_EQ(rs->Field("upserverurl"), "http://10.0.0.1:8080");
  rs->Close();
  conn->Close();

  const Table rows = Rows(LocalDatabase::kSelectSystem, {"upserverurl", "client_flag"});
  EXPECT_EQ(rows, (Table{{"http://10.0.0.1:8080", ""}}));
  // Whatever the backend's date format, the stored value is the one given.
  const std::string date = Rows(LocalDatabase::kSelectSystem, {"indatetime"})[0][0];
  EXPECT_NE(date.find("2024"), std::string::npos) << date;
  EXPECT_NE(date.find(":08:09"), std::string::npos) << date;
}

TEST_F(DatabaseTest, UpdatingTheFirstRowChangesOnlyTheNamedColumns) {
  auto conn = Connect();
  const std::string insert =
      "insert into versions (version, updatetime, updatecmt, versionT, client_note) "
      "values (?, ?, ?, ?, ?)";
  Exec(*conn, insert, {"1.0", "2020-01-01", "old", "0", "kept"});
  Exec(*conn, insert, {"1.1", "2020-02-02", "older", "0", "also kept"});
  auto rs = Select(*conn, LocalDatabase::kSelectVersions0);
  ASSERT_FALSE(rs->IsEOF());
  rs->SetField("version", "2.0");
  rs->SetField("updatetime", "2024-05-06 07:08:09");
  rs->Update();
  rs->Close();
  conn->Close();

  EXPECT_EQ(Rows("select * from versions",
                 {"version", "updatetime", "updatecmt", "versionT", "client_note"}),
            (Table{{"2.0", "2024-05-06 07:08:09", "old", "0", "kept"},
                   {"1.1", "2020-02-02", "older", "0", "also kept"}}));
}

TEST_F(DatabaseTest, EachVersionTSelectsOnlyItsOwnRow) {
  auto conn = Connect();
  Exec(*conn, "insert into versions (version, versionT) values (?, ?)", {"plain", "0"});
  Exec(*conn, "insert into versions (version, versionT) values (?, ?)", {"item", "1"});
  auto rs = Select(*conn, LocalDatabase::kSelectVersions1);
  EXPECT_EQ(rs->Field("version"), "item");
  rs->SetField("version", "item 2");
  rs->SetField("versionT", "1");
  rs->Update();
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  rs->Close();
  conn->Close();

  EXPECT_EQ(Rows(LocalDatabase::kSelectVersions0, {"version"}), (Table{{"plain"}}));
  EXPECT_EQ(Rows(LocalDatabase::kSelectVersions1, {"version"}), (Table{{"item 2"}}));
}

TEST_F(DatabaseTest, ColumnNamesMatchWithoutRegardToCaseAndNullReadsAsEmpty) {
  auto conn = Connect();
  Exec(*conn, "insert into [system] (client_flag) values (?)", {"x"});
  auto rs = Select(*conn, LocalDatabase::kSelectSystem);
  EXPECT_EQ(rs->Field("upserverurl"), "");
  EXPECT_EQ(rs->Field("indatetime"), "");
  rs->SetField("upserverUrl", "http://a");
  rs->Update();
  EXPECT_EQ(rs->Field("upserverurl"), "http://a");
  EXPECT_EQ(rs->Field("UPSERVERURL"), "http://a");
  EXPECT_EQ(ErrorNumberOf([&] { rs->Field("upserver_url"); }), 3265);
  EXPECT_EQ(ErrorNumberOf([&] { rs->SetField("upserver_url", "x"); }), 3265);
  rs->Close();
  conn->Close();
  EXPECT_EQ(Rows(LocalDatabase::kSelectSystem, {"upserverurl", "client_flag"}),
            (Table{{"http://a", "x"}}));
}

TEST_F(DatabaseTest, TheProjectAddressParameterIsStoredAsTypedInEveryRow) {
  auto conn = Connect();
  const std::string insert =
      "insert into projectList (project_No, project_URL, project_Name) values (?, ?, ?)";
  Exec(*conn, insert, {"101", "old.example", "数学"});
  Exec(*conn, insert, {"102", "", "语文"});
  const std::string typed = "it's 服务器.example:8080/项目'; drop table projectList; --";
  Exec(*conn, LocalDatabase::kUpdateProjectUrls, {typed});
  conn->Close();

  EXPECT_EQ(Rows(LocalDatabase::kSelectProjects, {"project_No", "project_URL", "project_Name"}),
            (Table{{"101", typed, "数学"}, {"102", typed, "语文"}}));
}

TEST_F(DatabaseTest, AWriterMayOpenTheFileWhileAReaderKeepsItsConnection) {
  // The upgrade window keeps its connection open through the whole run, while the version
  // record and the address are written through others.
  auto reader = Connect();
  auto held = Select(*reader, LocalDatabase::kSelectSystem);
  EXPECT_TRUE(held->IsEOF());

  auto writer = Connect();
  auto rs = Select(*writer, LocalDatabase::kSelectVersions0);
  rs->AddNew();
  rs->SetField("version", "3.0");
  rs->SetField("versionT", "0");
  rs->Update();
  Exec(*writer, LocalDatabase::kUpdateProjectUrls, {"x"});
  rs->Close();
  writer->Close();

  held->Close();
  reader->Close();
  EXPECT_EQ(Rows(LocalDatabase::kSelectVersions0, {"version"}), (Table{{"3.0"}}));
}

}  // namespace
}  // namespace contract
