#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;

class CheckVersion : public testing::Test {
 protected:
  void SetUp() override {
    form.gcweb = "http://h:81";
    form.strConnString = "conn";
    f.database.state.tables["versions"] = {};
    Offer("2.0", "2024-05-01 10:00", "修复");
  }
  void Offer(const std::string& version, const std::string& time, const std::string& comment) {
    f.net.script.body = "<root><error></error><version_no>" + version +
                        "</version_no><update_time>" + time + "</update_time><soft_cmt>" + comment +
                        "</soft_cmt><bm>x</bm></root>";
  }
  void Record(const std::string& versionT, const std::string& version, const std::string& time) {
    f.database.state.tables["versions"].push_back(
        {{"version", version}, {"updatetime", time}, {"updatecmt", ""}, {"versiont", versionT}});
  }
  void ExpectOffered(bool offered) {
    EXPECT_EQ(form.CheckVersion(), offered);
    EXPECT_EQ(form.checkStatus.Value, offered ? 1 : 0);
  }
  fakes::FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(CheckVersion, AFirstInstallationIsOfferedAnyNamedVersion) {
  ExpectOffered(true);
  EXPECT_EQ(form.Label2.Caption, "最新程序版本：2.0");
  EXPECT_EQ(form.Text1.Text, "2.0");
  EXPECT_EQ(form.Text2.Text, "2024-05-01 10:00");
  EXPECT_EQ(form.Text3.Text, "修复");
  EXPECT_EQ(f.net.script.posted.at(0).url, "http://h:81/xmlRequest/Xmlclientversion.aspx");
  EXPECT_EQ(f.database.state.connectionStrings.at(0), "conn");
  EXPECT_EQ(f.database.state.log.at(0), "open select * from versions where versionT='0'");
  EXPECT_EQ(f.database.state.recordsets.at(0).type, 1);  // keyset
}

TEST_F(CheckVersion, UpToDateFillsBothBarsAndLeavesTheFlagAlone) {
  Record("0", "2.0", "2024-05-01 10:00");
  form.checkStatus.Value = 1;  // whatever it held stays
  EXPECT_FALSE(form.CheckVersion());
  EXPECT_EQ(form.checkStatus.Value, 1);
  EXPECT_EQ(form.Label2.Caption, "系统是最新版本，无需升级！");
  EXPECT_EQ(form.ProgressBar1.Value, 100);
  EXPECT_EQ(form.ProgressBar2.Value, 100);
}

TEST_F(CheckVersion, AnyDifferenceOffersTheUpgrade) {
  Record("0", "2.0", "2024-04-01 09:00");  // same version, other time
  ExpectOffered(true);

  f.database.state.tables["versions"].clear();
  form.checkStatus.Value = 0;
  Record("0", "2.0A", "t");
  Offer("2.0a", "t", "");  // letter case counts
  ExpectOffered(true);
}

TEST_F(CheckVersion, AnEmptyVersionIsNeverOffered) {
  Offer("", "", "");
  ExpectOffered(false);
  Record("0", "1.0", "t");
  ExpectOffered(false);
  EXPECT_EQ(form.Text1.Text, "");
}

TEST_F(CheckVersion, TheItemIdChoosesWhichRowCounts) {
  Record("0", "2.0", "2024-05-01 10:00");
  form.item_id = "42";
  ExpectOffered(true);  // the versionT "0" row is ignored
  EXPECT_EQ(f.database.state.log.at(0), "open select * from versions where versionT='1'");

  Record("1", "2.0", "2024-05-01 10:00");
  form.checkStatus.Value = 0;
  ExpectOffered(false);
}

TEST_F(CheckVersion, NoAddressOrNoAnswerChangesNothing) {
  const auto untouched = [&] {
    EXPECT_EQ(form.checkStatus.Value, 0);
    EXPECT_EQ(form.Text1.Text, "Text1");
    EXPECT_EQ(form.Label2.Caption, "最新程序版本：2013_01_5682    ");
  };
  form.gcweb = "";
  EXPECT_FALSE(form.CheckVersion());
  EXPECT_EQ(f.net.script.opens, 0);
  untouched();

  form.gcweb = "http://h";
  f.net.script.sendError = RuntimeError(-2146697211, "refused");
  EXPECT_FALSE(form.CheckVersion());
  untouched();
}

TEST_F(CheckVersion, AReplyThatIsNoXmlEmptiesTheValuesWithoutAReplyTest) {
  f.net.script.body = "<html>error</html>";
  Record("0", "", "");
  EXPECT_FALSE(form.CheckVersion());
  EXPECT_EQ(form.Text1.Text, "");
  EXPECT_EQ(form.Text3.Text, "");
  EXPECT_EQ(form.Label2.Caption, "系统是最新版本，无需升级！");
}

TEST_F(CheckVersion, AnUnreadableDatabaseCountsAsUpToDate) {
  f.database.state.failOpen = true;
  ExpectOffered(false);
  EXPECT_EQ(form.Label2.Caption, "系统是最新版本，无需升级！");
  EXPECT_EQ(form.ProgressBar1.Value, 100);
}

}  // namespace
