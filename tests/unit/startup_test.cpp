// Start-up: components of the DLL folder, the please-wait window, the shortcut, the server list.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "protocol/Exchange.h"
#include "startup/ModMain.h"
#include "startup/frmPleaseWait.h"
#include "startup/modCheckFileReg.h"

namespace {

using namespace updater;
using Ended = fakes::FakeUi::ProgramEnded;
using ports::EntryPointOutcome;

const std::string kSys = "C:\\Windows\\System32";

class Startup : public testing::Test {
 protected:
  void SetUp() override {
    // The upgrade window that follows ends the program at once (empty system table, dialog
    // closed), which is all these tests need of it.
    f.database.state.tables = {{"system", {}}};
  }
  void Dll(std::vector<std::string> names) { f.files.listings["C:\\Prog\\DLL\\"] = names; }
  std::vector<std::string> Waits() {
    std::vector<std::string> out;
    for (auto& line : f.ui.boxes) out.push_back(line.text);
    return out;
  }
  bool RunMain() {
    try {
      ModMain::Main(f.pf);
    } catch (const Ended&) {
      return true;
    }
    return false;
  }
  fakes::FakePlatform f;
};

TEST_F(Startup, TheWaitTextCountsFromOneToOneMoreThanTheFiles) {
  Dll({"a.dll", "b.ocx", "c.dll"});
  std::vector<std::string> texts;
  f.ui.onUnload = [&](ui::Form& form) {
    if (auto* wait = dynamic_cast<frmPleaseWait*>(&form)) texts.push_back(wait->Label1.Caption);
  };
  EXPECT_TRUE(RunMain());
  EXPECT_EQ(texts, std::vector<std::string>{"正在初始化......4"});
  EXPECT_EQ(f.ui.shown.at(0), "frmPleaseWait");
  EXPECT_EQ(f.ui.shown.at(1), "frmUpgrade");
  EXPECT_EQ(f.processes.started.size(), 3u);  // none was in the system folder
}

TEST_F(Startup, AnEmptyFolderLeavesTheCountAtOne) {
  Dll({});
  std::string text;
  f.ui.onUnload = [&](ui::Form& form) {
    if (auto* wait = dynamic_cast<frmPleaseWait*>(&form)) text = wait->Label1.Caption;
  };
  RunMain();
  EXPECT_EQ(text, "正在初始化......1");
  EXPECT_TRUE(f.shell.requests.empty());
  EXPECT_TRUE(f.processes.started.empty());
}

TEST_F(Startup, AbsentComponentsAreCopiedAndHandedToRegsvr32WithQuotedPaths) {
  Dll({"a.dll"});
  RunMain();
  ASSERT_EQ(f.shell.requests.size(), 1u);
  EXPECT_EQ(f.shell.requests[0].pFrom, "C:\\Prog\\DLL\\a.dll");
  EXPECT_EQ(*f.shell.requests[0].pTo, kSys + "\\");
  ASSERT_EQ(f.processes.started.size(), 1u);
  EXPECT_EQ(f.processes.started[0].commandLine, "regsvr32 \"" + kSys + "\\a.dll\" -s");
  EXPECT_EQ(f.processes.started[0].show, ports::ShowState::MinimizedFocus);
  EXPECT_TRUE(f.components.calls.empty());
}

TEST_F(Startup, PresentComponentsAreRegisteredInPlaceAndReplacedOnlyWhenThatFails) {
  Dll({"good.dll", "slow.dll"});
  f.files.files = {kSys + "\\good.dll", kSys + "\\slow.dll"};
  f.components.outcomes[kSys + "\\slow.dll"] = EntryPointOutcome::TimedOut;
  RunMain();
  EXPECT_EQ(f.components.calls,
            (std::vector<std::string>{kSys + "\\good.dll|DllRegisterServer|10000",
                                      kSys + "\\slow.dll|DllRegisterServer|10000"}));
  ASSERT_EQ(f.shell.requests.size(), 1u);
  EXPECT_EQ(f.shell.requests[0].pFrom, "C:\\Prog\\DLL\\slow.dll");
  ASSERT_EQ(f.processes.started.size(), 1u);
  EXPECT_EQ(f.processes.started[0].commandLine, "regsvr32 \"" + kSys + "\\slow.dll\" -s");
}

TEST_F(Startup, AFailedCopyIsReportedPerFileAndTheLoopGoesOn) {
  Dll({"a.dll", "b.dll"});
  f.shell.result = 5;
  RunMain();
  EXPECT_EQ(Waits().at(0), "文件a.dll注册失败，请重试");
  EXPECT_EQ(Waits().at(1), "文件b.dll注册失败，请重试");
  EXPECT_EQ(f.ui.boxes[0].title, "自动更新");
  EXPECT_EQ(f.ui.boxes[0].icon, ports::MsgIcon::None);
  EXPECT_TRUE(f.processes.started.empty());
}

TEST_F(Startup, AMissingDllFolderEndsWithTheErrorReportBeforeAnyWindowOrShortcut) {
  f.profile.values["initInfo/shortcut"] = "练习";
  EXPECT_TRUE(RunMain());
  EXPECT_EQ(f.ui.runtimeErrors, std::vector<int>{76});
  EXPECT_TRUE(f.shortcuts.saved.empty());
  EXPECT_EQ(f.ui.shown, std::vector<std::string>{"frmPleaseWait"});
}

TEST_F(Startup, TheShortcutFollowsTheConfiguredNameAndNeverComplains) {
  Dll({});
  f.profile.values["initInfo/shortcut"] = "考试练习";
  RunMain();
  ASSERT_EQ(f.shortcuts.saved.size(), 1u);
  EXPECT_EQ(f.shortcuts.saved[0].first, "C:\\Users\\u\\Desktop\\考试练习.lnk");
  EXPECT_EQ(f.shortcuts.saved[0].second, "C:\\Prog\\Trainova.exe");

  fakes::FakePlatform g;
  modCheckFileReg::CreateDesktopShortcut(g.pf);  // no name: nothing written
  g.profile.values["initInfo/shortcut"] = "x";
  g.shortcuts.failDesktop = true;
  modCheckFileReg::CreateDesktopShortcut(g.pf);
  g.shortcuts.failDesktop = false;
  g.shortcuts.failSave = true;
  modCheckFileReg::CreateDesktopShortcut(g.pf);
  EXPECT_TRUE(g.shortcuts.saved.empty());
  EXPECT_TRUE(g.ui.boxes.empty());
}

TEST(RegisterComponent, OnlyAnEntryPointThatFinishesInTimeCounts) {
  fakes::FakePlatform f;
  EXPECT_FALSE(modCheckFileReg::RegisterComponent(f.pf, "C:\\x.dll", false));
  EXPECT_TRUE(f.components.calls.empty());  // no file: nothing is loaded
  f.files.files.insert("C:\\x.dll");
  EXPECT_TRUE(modCheckFileReg::RegisterComponent(f.pf, "C:\\x.dll", true));
  EXPECT_EQ(f.components.calls.back(), "C:\\x.dll|DllUnregisterServer|10000");
  for (auto outcome : {EntryPointOutcome::NotLoadable, EntryPointOutcome::NoEntryPoint,
                       EntryPointOutcome::NoWorker, EntryPointOutcome::TimedOut}) {
    f.components.outcomes["C:\\x.dll"] = outcome;
    EXPECT_FALSE(modCheckFileReg::RegisterComponent(f.pf, "C:\\x.dll", false));
  }
}

TEST(PleaseWait, KeepsItsTextForBlanksAndSizesItselfOnActivation) {
  frmPleaseWait w;
  w.SetWaitMessage("  正在初始化......1  ");
  EXPECT_EQ(w.Label1.Caption, "正在初始化......1");
  w.SetWaitMessage("   ");
  w.SetWaitMessage("");
  EXPECT_EQ(w.Label1.Caption, "正在初始化......1");
  w.Form_Load();
  EXPECT_EQ(w.MousePointer, frmPleaseWait::vbHourglass);
  w.Form_Activate();
  EXPECT_EQ(w.Width, 1560 + 3360);
  EXPECT_EQ(w.Label1Left, 600);
  w.Form_Unload();
  EXPECT_EQ(w.MousePointer, frmPleaseWait::vbDefault);
}

class ServerList : public testing::Test {
 protected:
  void Reply(const std::string& error, const std::string& list) {
    f.net.script.body = "<root><error>" + error + "</error><lcserverurl>" + list +
                        "</lcserverurl><res>1</res></root>";
  }
  fakes::FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(ServerList, EntriesBecomeRowsWithTheirAddresses) {
  form.gcweb = "http://h";
  Reply("", "http://a^^甲||http://b^^乙^^extra||broken||||http://c^^丙");
  form.LoadServerList();
  EXPECT_EQ(f.net.script.posted.at(0).url, "http://h/xmlRequest/xmlGetServerName.aspx");
  EXPECT_EQ(f.net.script.posted.at(0).body, protocol::CardRequest("", ""));
  EXPECT_EQ(form.List1.List,
            (std::vector<std::string>{"----------服务器列表--------------", "甲", "乙", "丙"}));
  EXPECT_EQ(form.laUrl, (std::vector<std::string>{"http://a", "http://b", "http://c"}));
  form.LoadServerList();  // loaded once
  EXPECT_EQ(form.List1.List.size(), 4u);
}

TEST_F(ServerList, FailuresAreReportedAndLeaveTheListAlone) {
  f.net.script.sendError = RuntimeError(-2146697211, "连接被拒绝");
  form.LoadServerList();
  Reply("", "");
  f.net.script.sendError.reset();
  f.net.script.body = "<html>";
  form.LoadServerList();
  Reply("卡号无效", "http://a^^甲");
  form.LoadServerList();
  ASSERT_EQ(f.ui.boxes.size(), 3u);
  EXPECT_EQ(f.ui.boxes[0].text, "向服务器提交信息时出错：连接被拒绝请核实服务器地址!");
  EXPECT_EQ(f.ui.boxes[0].icon, ports::MsgIcon::Error);
  EXPECT_EQ(f.ui.boxes[1].text, "服务器WEB地址不正确，请核实服务器地址！");
  EXPECT_EQ(f.ui.boxes[2].text, "提交信息时出错：卡号无效");
  EXPECT_EQ(form.List1.List.size(), 1u);
}

TEST_F(ServerList, AClickProbesThePickedServer) {
  Reply("", "http://a^^甲||^^空");
  form.LoadServerList();
  form.List1.ListIndex = 0;  // the header row
  form.CheckServerStatus.Value = 1;
  form.List1_Click();
  EXPECT_EQ(form.Label9.Caption, "正在测试服务器.....");
  EXPECT_EQ(form.CheckServerStatus.Value, 1);

  form.List1.ListIndex = 1;
  form.List1_Click();
  EXPECT_EQ(form.Label9.Caption, "正常");
  EXPECT_EQ(f.net.script.posted.back().url, "http://a/InteractData/Xmlsendservername.aspx");

  form.List1.ListIndex = 2;  // an empty address probes nothing
  const auto posted = f.net.script.posted.size();
  form.List1_Click();
  EXPECT_EQ(f.net.script.posted.size(), posted);
  EXPECT_EQ(form.Label9.Caption, "无法连接");
  EXPECT_EQ(form.CheckServerStatus.Value, 0);
  EXPECT_TRUE(form.Label7.Visible);
  EXPECT_FALSE(form.Label8.Visible);
}

}  // namespace
