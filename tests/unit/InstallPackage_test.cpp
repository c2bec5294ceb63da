#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;

class Install : public testing::Test {
 protected:
  void SetUp() override {
    f.files.files = {"C:\\Prog\\rar.exe", kPackage};
    f.files.folders = {"C:\\Prog", "C:\\Prog\\tmp"};
    f.files.listings["C:\\Prog\\tmp"] = {"setup.rar"};
    f.database.state.tables = {{"versions", {}}, {"projectlist", {}}};
    form.strConnString = "conn";
    form.Text1.Text = "2.0";
    form.Text2.Text = "2024-05-01";
    form.Text3.Text = "说明";
  }
  void WithProjects(std::vector<std::string> numbers) {
    f.files.folders.insert("C:\\Prog\\tmp\\initSystem");
    for (auto& n : numbers) f.database.state.tables["projectlist"].push_back({{"project_no", n}});
  }
  bool Run(const std::string& package = kPackage) {
    bool ok = false;  // so a run that never sets it fails the tests that expect true
    form.InstallPackage(package, ok);
    return ok;
  }
  std::vector<std::string> CopyTargets() {
    std::vector<std::string> out;
    for (auto& r : f.shell.requests) out.push_back(r.pFrom + " -> " + r.pTo.value_or(""));
    return out;
  }
  const std::vector<fakes::Row>& Versions() { return f.database.state.tables["versions"]; }
  static inline const std::string kPackage = "C:\\Prog\\tmp\\setup.rar";
  fakes::FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(Install, AFullPackageIsCopiedEverywhereRegisteredAndRecorded) {
  WithProjects({"101", "102"});
  f.files.folders.insert("C:\\Prog\\tmp\\system32");
  f.files.listings["C:\\Prog\\tmp\\system32"] = {"a.ocx", "evalcom.dll"};
  f.files.files.insert("C:\\Prog\\tmp\\system32\\evalcom.dll");
  EXPECT_TRUE(Run());

  ASSERT_GE(f.processes.started.size(), 1u);
  EXPECT_EQ(f.processes.started[0].commandLine,
            "\"C:\\Prog\\rar.exe\" x \"C:\\Prog\\tmp\\setup.rar\" \"C:\\Prog\\Tmp\" -y");
  EXPECT_EQ(f.processes.started[0].show, ports::ShowState::Hidden);
  // The package is renamed over; what the later steps copy from again is copied.
  EXPECT_TRUE(f.files.FileExists("C:\\Prog\\setup.rar"));
  EXPECT_FALSE(f.files.FileExists(kPackage));
  EXPECT_EQ(CopyTargets(), (std::vector<std::string>{
                               "C:\\Prog\\tmp\\initSystem -> C:\\Prog\\",
                               "C:\\Prog\\tmp\\system32 -> C:\\Prog\\",
                               "C:\\Prog\\tmp\\initSystem\\ -> C:\\Prog\\101\\",
                               "C:\\Prog\\tmp\\initSystem\\ -> C:\\Prog\\102\\",
                               "C:\\Prog\\tmp\\system32\\a.ocx -> C:\\Windows\\System32\\",
                               "C:\\Prog\\tmp\\system32\\evalcom.dll -> C:\\Windows\\System32\\",
                           }));
  ASSERT_EQ(f.processes.started.size(), 2u);
  EXPECT_EQ(f.processes.started[1].commandLine,
            "regsvr32 \"C:\\Windows\\System32\\evalcom.dll\" -s");
  EXPECT_EQ(f.processes.started[1].show, ports::ShowState::MinimizedFocus);

  ASSERT_EQ(Versions().size(), 1u);
  EXPECT_EQ(Versions()[0].at("version"), "2.0");
  EXPECT_EQ(Versions()[0].at("updatetime"), "2024-05-01");
  EXPECT_EQ(Versions()[0].at("updatecmt"), "说明");
  EXPECT_EQ(Versions()[0].at("versiont"), "0");
  EXPECT_EQ(form.ProgressBar2.Value, 100);
  EXPECT_TRUE(f.ui.boxes.empty());
}

TEST_F(Install, WithoutTheArchiverNothingHappens) {
  f.files.files.erase("C:\\Prog\\rar.exe");
  EXPECT_FALSE(Run());
  EXPECT_EQ(form.Label2.Caption, "升级失败，缺少rar.exe。");
  EXPECT_TRUE(f.processes.started.empty());
  EXPECT_TRUE(f.shell.requests.empty());
  EXPECT_TRUE(f.ui.boxes.empty());
  EXPECT_EQ(form.ProgressBar2.Value, 0);
}

TEST_F(Install, AMissingOrUnpackablePackageCopiesAndRecordsNothing) {
  f.processes.exitCode = 3;  // the archiver failed
  EXPECT_FALSE(Run());
  EXPECT_EQ(form.Label2.Caption, "升级失败，解压升级包失败。");
  EXPECT_TRUE(f.shell.requests.empty());
  EXPECT_TRUE(Versions().empty());

  f.processes.exitCode = 0;
  f.files.files.erase(kPackage);
  form.Label2.Caption = "";
  EXPECT_FALSE(Run());
  EXPECT_EQ(form.Label2.Caption, "升级失败，解压升级包失败。");
  EXPECT_EQ(f.processes.started.size(), 1u);  // the archiver was not started again
}

TEST_F(Install, APathWithoutSetupSkipsTheCopiesButRecordsTheVersion) {
  f.files.files.insert("C:\\Prog\\tmp\\other.rar");
  EXPECT_TRUE(Run("C:\\Prog\\tmp\\other.rar"));
  EXPECT_TRUE(f.shell.requests.empty());
  EXPECT_EQ(Versions().size(), 1u);
  EXPECT_EQ(form.ProgressBar2.Value, 100);
}

TEST_F(Install, AFailedCopyOverTheProgramFolderIsReportedAndNotRecorded) {
  WithProjects({"101"});
  f.shell.resultsByTarget["C:\\Prog\\"] = 1223;
  EXPECT_FALSE(Run());
  ASSERT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_EQ(f.ui.boxes[0].text, "软件升级失败！错误：文件复制失败！");
  EXPECT_EQ(f.ui.boxes[0].title, "自动更新");
  EXPECT_EQ(CopyTargets().size(), 2u);  // the project copy still ran
  EXPECT_FALSE(f.files.FileExists("C:\\Prog\\setup.rar")) << "what was renamed in is undone";
  EXPECT_TRUE(Versions().empty());
  EXPECT_EQ(form.ProgressBar2.Value, 100);
}

TEST_F(Install, TheFirstFailingProjectEndsTheRun) {
  WithProjects({"101", "102", "103"});
  f.files.folders.insert("C:\\Prog\\tmp\\system32");
  f.files.listings["C:\\Prog\\tmp\\system32"] = {"a.ocx"};
  f.shell.resultsByTarget["C:\\Prog\\102\\"] = 1223;
  EXPECT_FALSE(Run());
  EXPECT_EQ(CopyTargets().size(), 4u);  // initSystem and system32 to P, 101, 102; nothing after
  EXPECT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_TRUE(Versions().empty());
  EXPECT_EQ(form.ProgressBar2.Value, 0);
}

TEST_F(Install, TheVersionRowOfTheItemKindIsOverwrittenNeverDuplicated) {
  f.database.state.tables["versions"] = {
      {{"version", "1.0"}, {"updatetime", "old"}, {"updatecmt", ""}, {"versiont", "0"}},
      {{"version", "1.1"}, {"updatetime", "old1"}, {"updatecmt", ""}, {"versiont", "1"}}};
  form.item_id = "42";
  EXPECT_TRUE(Run());
  ASSERT_EQ(Versions().size(), 2u);
  EXPECT_EQ(Versions()[0].at("version"), "1.0");  // the other kind is left alone
  EXPECT_EQ(Versions()[1].at("version"), "2.0");
  EXPECT_EQ(Versions()[1].at("versiont"), "1");
}

TEST_F(Install, ADatabaseThatCannotBeOpenedIsReportedWithItsError) {
  f.database.state.failOpen = true;
  WithProjects({"101"});
  EXPECT_FALSE(Run());
  ASSERT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_EQ(f.ui.boxes[0].text, "软件升级失败！错误：文件复制失败！cannot open database");
  // The project walk cannot read its table and ends instead of copying without end.
  EXPECT_EQ(CopyTargets(), std::vector<std::string>{"C:\\Prog\\tmp\\initSystem -> C:\\Prog\\"});
}

}  // namespace
