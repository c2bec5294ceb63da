// The upgrade window's own operations: the INI address into the database, the status probe.
#include "upgrade/frmUpgrade.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "settings/LocalDatabase.h"

namespace {

using namespace updater;
using fakes::FakePlatform;

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

class UpgradeProbe : public testing::Test {
 protected:
  FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(UpgradeProbe, AnEmptyAddressSendsNothingAndChangesNothing) {
  form.Label9.Caption = "before";
  form.Label7.Visible = true;
  form.Label8.Visible = false;
  EXPECT_FALSE(form.CheckSStatus(""));
  EXPECT_EQ(f.net.script.opens, 0);
  EXPECT_EQ(f.ui.pumps, 0);
  EXPECT_EQ(form.Label9.Caption, "before");
  EXPECT_TRUE(form.Label7.Visible);
  EXPECT_FALSE(form.Label8.Visible);
}

TEST_F(UpgradeProbe, AnyXmlReplyShowsTheGreenLampAndSucceeds) {
  f.net.script.body = "<anything><error>refused</error></anything>";
  form.Label7.Visible = true;
  EXPECT_TRUE(form.CheckSStatus("http://h:8080/item"));
  EXPECT_EQ(f.net.script.posted.at(0).url,
            "http://h:8080/item/xmlRequest/XmlCheckServerStatus.aspx");
  EXPECT_EQ(form.Label9.Caption, "服务器连接正常");
  EXPECT_FALSE(form.Label7.Visible);
  EXPECT_TRUE(form.Label8.Visible);
  EXPECT_EQ(f.ui.pumps, 4);  // one before the exchange, three inside it
}

TEST_F(UpgradeProbe, AnHtmlPageShowsTheGreenLampButFails) {
  f.net.script.body = "<html><body>404</body></html>";
  EXPECT_FALSE(form.CheckSStatus("http://h"));
  EXPECT_EQ(form.Label9.Caption, "服务器连接正常");
  EXPECT_TRUE(form.Label8.Visible);
}

TEST_F(UpgradeProbe, ATransportFailureShowsTheRedLamp) {
  f.net.script.sendError = RuntimeError(-2146697211, "cannot connect");
  EXPECT_FALSE(form.CheckSStatus("http://nowhere"));
  EXPECT_EQ(form.Label9.Caption, "服务器连接失败");
  EXPECT_TRUE(form.Label7.Visible);
  EXPECT_FALSE(form.Label8.Visible);
}

TEST_F(UpgradeProbe, TwoProbesSendTwoIdenticalRequests) {
  EXPECT_TRUE(form.CheckSStatus("http://h"));
  EXPECT_TRUE(form.CheckSStatus("http://h"));
  ASSERT_EQ(f.net.script.posted.size(), 2u);
  EXPECT_EQ(f.net.script.posted[0].url, f.net.script.posted[1].url);
  EXPECT_EQ(f.net.script.posted[0].body, f.net.script.posted[1].body);
}

}  // namespace
