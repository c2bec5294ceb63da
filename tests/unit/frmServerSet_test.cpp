// The server-address dialog, against fakes.
#include "serverset/frmServerSet.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace {

using namespace updater;
using Ended = fakes::FakeUi::ProgramEnded;

class Dialog : public testing::Test {
 protected:
  void SetUp() override {
    f.files.files = {"C:\\Prog\\client.ini"};
    f.database.state.tables = {{"system", {{{"upserverurl", "http://srv:81"}}}},
                               {"projectlist", {{{"project_no", "7"}}, {{"project_no", "8"}}}}};
  }
  bool Ok(const std::string& typed) {
    dialog.Form_Load();
    dialog.txtUrl.Text = typed;
    return fakes::EndsTheProgram([&] { dialog.Click("Command1"); });
  }
  std::vector<std::string> Boxes() { return f.Boxes(); }
  fakes::FakePlatform f;
  frmServerSet dialog{f.pf};
};

TEST_F(Dialog, TheItemIdGoesIntoTheProbeAndTheProjectAddressesButNotTheStoredAddress) {
  f.profile.values["initInfo/item_id"] = "42";
  EXPECT_TRUE(Ok("http://h:81"));
  EXPECT_EQ(f.net.script.posted.at(0).url, "http://h:81/42/xmlRequest/XmlCheckServerStatus.aspx");
  EXPECT_EQ(f.database.state.tables["system"][0].at("upserverurl"), "http://h:81");
  EXPECT_EQ(f.database.state.tables["projectlist"][0].at("project_url"), "h:81/42");
  EXPECT_EQ(f.profile.values["initInfo/server"], "http://h:81");
}

TEST_F(Dialog, TheAddressIsStoredAsTypedApostrophesAndSchemesIncluded) {
  EXPECT_TRUE(Ok("https://o'neil:1"));
  EXPECT_EQ(f.database.state.tables["projectlist"][1].at("project_url"), "/o'neil:1");
  EXPECT_EQ(f.database.state.log.back(), "execute update projectList set project_URL=?|/o'neil:1");
}

TEST_F(Dialog, TheBareSchemeIsRefusedAndNothingIsWritten) {
  f.net.script.refusedPrefixes = {"http:///"};
  f.net.script.openError = RuntimeError(-2147012891, "The URL is invalid");
  EXPECT_FALSE(Ok("http://"));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"服务器地址连接失败，请重新输入！"});
  EXPECT_EQ(f.database.state.tables["system"][0].at("upserverurl"), "http://srv:81");
  EXPECT_EQ(dialog.txtUrl.Text, "http://");
}

TEST_F(Dialog, WithoutClientIniTheSaveStillSucceeds) {
  f.files.files.erase("C:\\Prog\\client.ini");
  EXPECT_TRUE(Ok("http://h"));
  EXPECT_EQ(f.profile.values.count("initInfo/server"), 0u);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"服务器地址设置成功，请重新登录！"});
}

TEST_F(Dialog, ADatabaseThatCannotBeOpenedEndsWithTheRuntimeErrorReport) {
  f.database.state.failOpen = true;
  EXPECT_THROW(dialog.Form_Load(), Ended);
  EXPECT_EQ(f.ui.runtimeErrors.size(), 1u);
  f.ui.runtimeErrors.clear();
  dialog.txtUrl.Text = "http://h";
  EXPECT_THROW(dialog.Click("Command1"), Ended);  // the probe passed; the save cannot open
  EXPECT_EQ(f.ui.runtimeErrors.size(), 1u);
  EXPECT_EQ(Boxes(), std::vector<std::string>{});
  EXPECT_TRUE(f.processes.started.empty());
}

TEST_F(Dialog, ClosingEndsTheProgramWithoutWritingOrStarting) {
  dialog.Form_Load();
  EXPECT_EQ(dialog.txtUrl.Text, "http://srv:81");
  EXPECT_THROW(dialog.Form_Unload(), Ended);
  EXPECT_TRUE(f.processes.started.empty());
}

}  // namespace
