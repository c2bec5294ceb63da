#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "settings/LocalDatabase.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;

TEST(LocalDatabase, TheConnectionStringEndsWithTheAdminTailAndItsBlank) {
  EXPECT_EQ(LocalDatabase::ConnectionString("C:\\Prog"),
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Prog\\project.mdb;"
            "Jet OLEDB:Database Password=5203817;admin ");
}

TEST(LocalDatabase, TheItemIdChoosesTheVersionsRow) {
  EXPECT_STREQ(LocalDatabase::SelectVersions(""), "select * from versions where versionT='0'");
  EXPECT_STREQ(LocalDatabase::SelectVersions("12"), "select * from versions where versionT='1'");
  EXPECT_STREQ(LocalDatabase::VersionT(""), "0");
  EXPECT_STREQ(LocalDatabase::VersionT("12"), "1");
}

class LoadServerUrl : public testing::Test {
 protected:
  void SetUp() override {
    f.files.files.insert("C:\\Prog\\client.ini");
    f.database.state.tables["system"] = {};
  }
  fakes::FakePlatform f;
};

TEST_F(LoadServerUrl, TheIniAddressOverridesTheStoredOne) {
  f.database.state.tables["system"] = {{{"upserverurl", "http://old"}, {"indatetime", "x"}}};
  f.profile.values["initInfo/server"] = "http://10.0.0.2:81";
  frmUpgrade form(f.pf);
  form.LoadServerUrl();
  const auto& rows = f.database.state.tables["system"];
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("upserverurl"), "http://10.0.0.2:81");
  EXPECT_EQ(rows[0].at("indatetime"), "x");
  // Static cursor here, client-side and optimistic as everywhere.
  ASSERT_EQ(f.database.state.recordsets.size(), 1u);
  EXPECT_EQ(f.database.state.recordsets[0].location, 3);
  EXPECT_EQ(f.database.state.recordsets[0].type, 3);
  EXPECT_EQ(f.database.state.recordsets[0].lock, 3);
  EXPECT_EQ(f.database.state.connectionStrings.at(0), LocalDatabase::ConnectionString("C:\\Prog"));
}

TEST_F(LoadServerUrl, AnEmptyTableGetsItsFirstRow) {
  f.profile.values["initInfo/server"] = "http://h";
  frmUpgrade form(f.pf);
  form.LoadServerUrl();
  ASSERT_EQ(f.database.state.tables["system"].size(), 1u);
  EXPECT_EQ(f.database.state.tables["system"][0].at("upserverurl"), "http://h");
}

TEST_F(LoadServerUrl, AnEmptyOrMissingKeyLeavesTheDatabaseAlone) {
  f.database.state.tables["system"] = {{{"upserverurl", "http://old"}}};
  frmUpgrade form(f.pf);
  form.LoadServerUrl();
  EXPECT_EQ(f.database.state.tables["system"][0].at("upserverurl"), "http://old");
  EXPECT_TRUE(f.database.state.log.empty());
}

TEST_F(LoadServerUrl, ADatabaseThatCannotBeOpenedRaises) {
  f.database.state.failOpen = true;
  frmUpgrade form(f.pf);
  EXPECT_THROW(form.LoadServerUrl(), RuntimeError);
}

}  // namespace
