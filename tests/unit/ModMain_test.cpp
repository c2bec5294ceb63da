// Start-up: components of the DLL folder, the please-wait window, the shortcut.
#include "startup/ModMain.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "startup/frmPleaseWait.h"

namespace {

using namespace updater;
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
  std::vector<std::string> Waits() { return f.Boxes(); }
  bool RunMain() {
    return fakes::EndsTheProgram([&] { ModMain::Main(f.pf); });
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
  EXPECT_EQ(f.ui.runtimeErrors, std::vector<int>{kErrPathNotFound});
  EXPECT_TRUE(f.shortcuts.saved.empty());
  EXPECT_EQ(f.ui.shown, std::vector<std::string>{"frmPleaseWait"});
}

TEST_F(Startup, TheShortcutFollowsTheConfiguredName) {
  Dll({});
  f.profile.values["initInfo/shortcut"] = "考试练习";
  RunMain();
  ASSERT_EQ(f.shortcuts.saved.size(), 1u);
  EXPECT_EQ(f.shortcuts.saved[0].first, "C:\\Users\\u\\Desktop\\考试练习.lnk");
  EXPECT_EQ(f.shortcuts.saved[0].second, "C:\\Prog\\Trainova.exe");
}

}  // namespace
