// Asking for administrator rights: which step asks, never twice, and which process starts the
// client.
#include "helpers/Elevation.h"

#include <gtest/gtest.h>

#include <utility>

#include "fakes/fake_platform.h"
#include "fakes/fake_rights.h"
#include "startup/ModMain.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;
using ports::ElevatedRun;

const std::string kProg = "C:\\Prog";
const std::string kSys = "C:\\Windows\\System32";
const std::string kClient = "\"C:\\Prog\\Trainova.dll\" ";

class Rights : public testing::Test {
 protected:
  void SetUp() override { f.pf.rights = &rights; }
  std::vector<std::string> Started() { return f.Started(); }
  std::vector<std::string> Boxes() { return f.Boxes(); }
  fakes::FakePlatform f;
  fakes::FakeRights rights;
};

TEST_F(Rights, OnlyARefusedWriteOfAProcessWithoutTheRightsAsks) {
  const struct {
    const char* name;
    bool port, startedForElevation, elevated, denied, askedBefore;
    int requests;
  } rows[] = {
      {"a platform without elevation", false, false, false, true, false, 0},
      {"the folder is writable", true, false, false, false, false, 0},
      {"the write is refused", true, false, false, true, false, 1},
      {"already elevated", true, false, true, true, false, 0},
      {"started for elevation", true, true, false, true, false, 0},
      {"asked before in this run", true, false, false, true, true, 0},
  };
  for (const auto& row : rows) {
    fakes::FakePlatform p;
    fakes::FakeRights r;
    if (row.port) p.pf.rights = &r;
    r.startedForElevation = row.startedForElevation;
    r.elevated = row.elevated;
    if (row.denied) r.denied = {kSys};
    p.pf.elevationAsked = row.askedBefore;
    updater::Elevation::BeforeWriting(p.pf, kSys);  // declined where asked: returns
    EXPECT_EQ(r.requests, row.requests) << row.name;
    EXPECT_EQ(p.pf.elevationAsked, row.askedBefore || row.requests > 0) << row.name;
    EXPECT_TRUE(p.processes.started.empty()) << row.name;
  }
}

TEST_F(Rights, TheElevatedRunDecidesWhetherThisProcessStartsTheClient) {
  for (const auto& [answer, clients] :
       {std::pair{ElevatedRun::ClientWanted, 1u}, std::pair{ElevatedRun::Ended, 0u}}) {
    fakes::FakePlatform p;
    fakes::FakeRights r;
    p.pf.rights = &r;
    r.denied = {kSys};
    r.answer = answer;
    EXPECT_TRUE(fakes::EndsTheProgram([&] { updater::Elevation::BeforeWriting(p.pf, kSys); }));
    ASSERT_EQ(p.processes.started.size(), clients);
    if (clients > 0) {
      EXPECT_EQ(p.processes.started[0].commandLine, kClient);
    }
  }
}

// Start-up: the upgrade window that follows ends the program at once (empty system table).
class StartupElevation : public Rights {
 protected:
  void SetUp() override {
    Rights::SetUp();
    f.database.state.tables = {{"system", {}}};
    rights.denied = {kSys};
  }
  bool RunMain() {
    return fakes::EndsTheProgram([&] { ModMain::Main(f.pf); });
  }
};

TEST_F(StartupElevation, AnEverydayStartNeitherProbesNorAsks) {
  f.files.listings[kProg + "\\DLL\\"] = {"a.dll"};
  f.files.files = {kSys + "\\a.dll"};  // present and registering in place
  RunMain();
  EXPECT_TRUE(rights.probes.empty());
  EXPECT_EQ(rights.requests, 0);
}

TEST_F(StartupElevation, ADeclinedPromptIsAskedOnceAndTheRunGoesOnAsBefore) {
  f.files.listings[kProg + "\\DLL\\"] = {"a.dll", "b.dll"};
  f.shell.result = 5;  // the system folder refuses the copies
  RunMain();
  EXPECT_EQ(rights.requests, 1);
  EXPECT_EQ(f.shell.requests.size(), 2u);
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{"文件a.dll注册失败，请重试", "文件b.dll注册失败，请重试",
                                      "服务器地址为空，请输入服务器地址！"}));
}

// The elevated run leaves the per-user steps to this process: the shortcut lands on this
// user's desktop, whichever way that run ended.
TEST_F(StartupElevation, AnElevatedRunReplacesThisOneAndItsClientStartsHereOnce) {
  for (const ElevatedRun answer : {ElevatedRun::ClientWanted, ElevatedRun::Ended}) {
    fakes::FakePlatform p;
    fakes::FakeRights r;
    p.pf.rights = &r;
    p.database.state.tables = {{"system", {}}};
    p.files.listings[kProg + "\\DLL\\"] = {"a.dll", "b.dll"};
    p.profile.values["initInfo/shortcut"] = "练习";
    r.denied = {kSys};
    r.answer = answer;
    EXPECT_TRUE(fakes::EndsTheProgram([&] { ModMain::Main(p.pf); }));
    EXPECT_EQ(r.requests, 1);
    EXPECT_TRUE(p.shell.requests.empty()) << "nothing copied here";
    EXPECT_EQ(p.Started(), answer == ElevatedRun::ClientWanted ? std::vector<std::string>{kClient}
                                                               : std::vector<std::string>{});
    EXPECT_EQ(p.ui.shown, std::vector<std::string>{"frmPleaseWait"});
    EXPECT_EQ(p.shortcuts.saved.size(), 1u);
  }
}

TEST_F(StartupElevation, TheElevatedProcessMakesNoShortcut) {
  f.files.listings[kProg + "\\DLL\\"] = {};
  f.profile.values["initInfo/shortcut"] = "练习";
  rights.startedForElevation = true;
  RunMain();
  EXPECT_TRUE(f.shortcuts.saved.empty());
  EXPECT_EQ(f.ui.shown.at(1), "frmUpgrade") << "past the shortcut's step";
}

// The upgrade: the program folder is probed before anything of it is written, the system
// folder when the unpacked package brings files for it.
class UpgradeElevation : public Rights {
 protected:
  void SetUp() override {
    Rights::SetUp();
    f.files.files = {"C:\\Prog\\client.ini", "C:\\Prog\\rar.exe", "C:\\Prog\\tmp\\setup.rar"};
    f.files.folders = {"C:\\Prog", "C:\\Prog\\tmp"};
    f.files.emptyFolders = {"C:\\Prog\\tmp"};
    f.database.state.tables = {
        {"system", {{{"upserverurl", "http://srv:81"}}}}, {"versions", {}}, {"projectlist", {}}};
    f.net.script.body =
        "<root><error></error><version_no>2.0</version_no><update_time>t1</update_time>"
        "<soft_cmt>c</soft_cmt></root>";
    f.io.transfer.body = "PACKAGE";
    f.io.transfer.headers["Content-Length"] = "7";
  }
  void SystemFiles() {
    f.files.folders.insert("C:\\Prog\\tmp\\system32");
    f.files.listings["C:\\Prog\\tmp\\system32"] = {"evalcom.dll"};
  }
  bool Load() {
    return fakes::EndsTheProgram([&] { form.Form_Load(); });
  }
  frmUpgrade form{f.pf};
};

TEST_F(UpgradeElevation, AProtectedProgramFolderAsksBeforeTmpIsTouched) {
  rights.denied = {kProg};
  rights.answer = ElevatedRun::ClientWanted;
  EXPECT_TRUE(Load());
  EXPECT_EQ(rights.requests, 1);
  EXPECT_TRUE(f.shell.requests.empty()) << "tmp neither cleared nor copied";
  EXPECT_EQ(f.io.state.files.count("C:\\Prog\\tmp\\setup.rar"), 0u) << "nothing downloaded";
  EXPECT_EQ(Started(), std::vector<std::string>{kClient});
}

TEST_F(UpgradeElevation, SystemFilesAskAfterTheUnpackAndBeforeTheFirstCopy) {
  SystemFiles();
  rights.denied = {kSys};
  rights.answer = ElevatedRun::Ended;
  EXPECT_TRUE(Load());
  EXPECT_EQ(rights.requests, 1);
  EXPECT_EQ(rights.probes, (std::vector<std::string>{kProg, kSys}));
  ASSERT_EQ(f.processes.started.size(), 1u);  // the archiver, and no client
  EXPECT_NE(Started()[0].find("rar.exe"), std::string::npos);
  EXPECT_EQ(f.shell.requests.size(), 1u) << "only tmp was cleared";
  EXPECT_TRUE(f.database.state.tables["versions"].empty());
}

TEST_F(UpgradeElevation, TheElevatedProcessNeverAsksAndNeverStartsTheClient) {
  SystemFiles();
  rights.startedForElevation = true;
  rights.denied = {kProg, kSys};
  EXPECT_TRUE(Load());
  EXPECT_EQ(rights.requests, 0);
  EXPECT_TRUE(rights.endedForClient);
  EXPECT_EQ(f.database.state.tables["versions"].at(0).at("version"), "2.0");
  for (const std::string& line : Started()) EXPECT_NE(line, kClient);
}

}  // namespace
