// The automatic run of the upgrade window, against fakes.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "serverset/frmServerSet.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;

const std::string kClient = "\"C:\\Prog\\Trainova.dll\" ";
const std::string kPackage = "C:\\Prog\\tmp\\setup.rar";

class Controller : public testing::Test {
 protected:
  void SetUp() override {
    f.files.files = {"C:\\Prog\\client.ini", "C:\\Prog\\rar.exe", kPackage};
    f.files.folders = {"C:\\Prog\\tmp"};
    f.files.emptyFolders = {"C:\\Prog\\tmp"};
    f.database.state.tables = {{"system", {{{"upserverurl", "http://srv:81"}}}},
                               {"versions", {}},
                               {"projectlist", {{{"project_no", "7"}}, {{"project_no", "8"}}}}};
    Offer("");
  }
  void Offer(const std::string& version) {
    f.net.script.body = "<root><error></error><version_no>" + version +
                        "</version_no><update_time>t1</update_time><soft_cmt>c</soft_cmt></root>";
    f.io.transfer.body = "PACKAGE";
    f.io.transfer.headers["Content-Length"] = "7";
  }
  // Runs Form_Load; true when the program ended.
  bool Load() {
    return fakes::EndsTheProgram([&] { form.Form_Load(); });
  }
  std::vector<std::string> Started() { return f.Started(); }
  std::vector<std::string> Boxes() { return f.Boxes(); }
  fakes::FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(Controller, UpToDateStartsTheClientAndEndsWithoutAWord) {
  EXPECT_TRUE(Load());
  EXPECT_EQ(Started(), std::vector<std::string>{kClient});
  EXPECT_EQ(f.processes.started[0].show, ports::ShowState::Normal);
  EXPECT_TRUE(f.processes.opened.empty());  // nothing is waited for
  EXPECT_TRUE(f.ui.boxes.empty());
  EXPECT_TRUE(f.ui.shown.empty());
  EXPECT_EQ(form.strConnString,
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Prog\\project.mdb;"
            "Jet OLEDB:Database Password=5203817;admin ");
}

TEST_F(Controller, ANewerVersionIsDownloadedInstalledRecordedAndTheClientStarted) {
  Offer("2.0");
  EXPECT_TRUE(Load());
  EXPECT_EQ(f.io.state.files.at(kPackage), "PACKAGE");
  EXPECT_EQ(Boxes(), std::vector<std::string>{"系统升级完成！"});
  EXPECT_EQ(form.Label2.Caption, "系统升级完成，请选择服务器！");
  EXPECT_EQ(form.checkStatus.Value, 0);
  EXPECT_EQ(form.Command1.Caption, "进入系统");
  ASSERT_EQ(f.database.state.tables["versions"].size(), 1u);
  EXPECT_EQ(f.database.state.tables["versions"][0].at("version"), "2.0");
  EXPECT_EQ(Started().back(), kClient);
}

TEST_F(Controller, TheItemIdIsJoinedToTheStoredAddressAsItIs) {
  f.profile.values["initInfo/item_id"] = "42";
  f.database.state.tables["system"][0]["upserverurl"] = "http://srv:81/";
  Load();
  EXPECT_EQ(form.gcweb, "http://srv:81//42");
  EXPECT_EQ(form.item_id, "42");
  EXPECT_EQ(f.net.script.posted.at(0).url,
            "http://srv:81//42/xmlRequest/XmlCheckServerStatus.aspx");
}

TEST_F(Controller, AFailedInstallationLeavesTheWindowOfferingTheUpgradeAgain) {
  Offer("2.0");
  f.files.files.erase("C:\\Prog\\rar.exe");
  EXPECT_FALSE(Load());
  EXPECT_EQ(form.Label2.Caption, "升级失败，缺少rar.exe。");
  EXPECT_EQ(form.Command1.Caption, "开始升级");
  EXPECT_EQ(form.checkStatus.Value, 1);
  EXPECT_TRUE(f.processes.started.empty());

  // A click runs the whole upgrade again.
  f.files.files.insert("C:\\Prog\\rar.exe");
  ASSERT_TRUE(fakes::EndsTheProgram([&] { form.Click("Command1"); }))
      << "the program should have ended";
  EXPECT_EQ(f.io.transfer.executed.size(), 2u);
  EXPECT_EQ(Started().back(), kClient);
}

TEST_F(Controller, ASecondClickWhileTheUpgradeRunsIsIgnored) {
  Offer("2.0");
  f.files.files.erase("C:\\Prog\\rar.exe");
  Load();
  f.io.transfer.executed.clear();
  int nested = 0;
  f.ui.onPump = [&] {
    if (nested++ == 0) form.Click("Command1");
  };
  form.Click("Command1");
  EXPECT_EQ(f.io.transfer.executed.size(), 1u);
}

TEST_F(Controller, ATemporaryFolderThatCannotBeClearedEndsTheProgram) {
  Offer("2.0");
  f.files.folders.clear();
  f.files.makeFolderErrors["C:\\Prog\\tmp"] = 75;
  EXPECT_TRUE(Load());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"升级失败，错误：清理文件失败！"});
  EXPECT_TRUE(f.io.transfer.executed.empty());
  EXPECT_TRUE(f.processes.started.empty());
}

TEST_F(Controller, AnUnreachableMarkKeepsTheWindowOpen) {
  form.CheckServerStatus.Value = 0;
  EXPECT_FALSE(Load());
  ASSERT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_EQ(f.ui.boxes[0].text, "所选服务器无法连接，请稍后再试！");
  EXPECT_EQ(f.ui.boxes[0].icon, ports::MsgIcon::Error);
  EXPECT_EQ(f.ui.boxes[0].title, "");
  EXPECT_TRUE(f.processes.started.empty());
}

TEST_F(Controller, ADatabaseThatCannotBeOpenedEndsWithTheRuntimeErrorReport) {
  f.database.state.failOpen = true;
  EXPECT_TRUE(Load());
  EXPECT_EQ(f.ui.runtimeErrors.size(), 1u);
  EXPECT_TRUE(f.processes.started.empty());
}

TEST_F(Controller, AnEmptyTableAsksForAnAddressAndStoresOnlyOneThatAnswers) {
  f.database.state.tables["system"].clear();
  f.net.script.refusedPrefixes = {"http://wrong"};
  f.ui.onModal = [&](ui::Form& dialog) {
    auto& set = dynamic_cast<frmServerSet&>(dialog);
    EXPECT_EQ(set.txtUrl.Text, "http://");
    set.txtUrl.Text = "http://wrong:1";
    set.Click("Command1");
    EXPECT_EQ(Boxes().back(), "服务器地址连接失败，请重新输入！");
    EXPECT_TRUE(f.database.state.tables["system"].empty());
    set.txtUrl.Text = "http://10.1.1.1:8080";
    set.Click("Command1");
  };
  EXPECT_TRUE(Load());
  EXPECT_EQ(f.ui.boxes.front().text, "服务器地址为空，请输入服务器地址！");
  EXPECT_EQ(f.ui.boxes.front().icon, ports::MsgIcon::Warning);
  EXPECT_EQ(f.ui.boxes.front().title, "服务器连接");
  EXPECT_EQ(f.ui.shown, std::vector<std::string>{"frmServerSet (modal)"});
  EXPECT_EQ(Boxes().back(), "服务器地址设置成功，请重新登录！");
  const auto& system = f.database.state.tables["system"];
  ASSERT_EQ(system.size(), 1u);
  EXPECT_EQ(system[0].at("upserverurl"), "http://10.1.1.1:8080");
  EXPECT_EQ(system[0].at("indatetime"), "2026-12-08 09:30:15");
  for (auto& row : f.database.state.tables["projectlist"]) {
    EXPECT_EQ(row.at("project_url"), "10.1.1.1:8080");
  }
  EXPECT_EQ(f.profile.values["initInfo/server"], "http://10.1.1.1:8080");
  EXPECT_EQ(Started(), std::vector<std::string>{kClient});
}

TEST_F(Controller, AnUnreachableServerLeadsToTheDialogWhoseCloseEndsEverything) {
  f.net.script.refusedPrefixes = {"http://srv:81"};
  EXPECT_TRUE(Load());
  EXPECT_EQ(f.ui.boxes.at(0).text, "服务器连接失败，请核对服务器地址是否正确！");
  EXPECT_EQ(f.ui.boxes.at(0).icon, ports::MsgIcon::Error);
  EXPECT_EQ(f.ui.boxes.at(0).title, "系统登录");
  EXPECT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_TRUE(f.processes.started.empty());
  EXPECT_EQ(f.database.state.tables["system"][0].at("upserverurl"), "http://srv:81");
}

}  // namespace
