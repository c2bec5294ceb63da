// What the support log is told by the core: the start and end of a run, every message box and
// run-time error, and the steps of a version check, a download and an installation.
#include <gtest/gtest.h>

#include <regex>

#include "fakes/fake_platform.h"
#include "helpers/SupportLog.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;

class SupportLogTest : public testing::Test {
 protected:
  void SetUp() override { f.pf.log = &f.log; }
  // The lines from the first one holding first, as many as expected holds.
  void ExpectInOrder(const std::vector<std::string>& expected) {
    std::size_t next = 0;
    for (const auto& line : f.log.lines) {
      if (next < expected.size() && line.find(expected[next]) != std::string::npos) ++next;
    }
    EXPECT_EQ(next, expected.size())
        << "missing: " << expected[std::min(next, expected.size() - 1)] << "\nin:\n"
        << f.log.All();
  }
  fakes::FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(SupportLogTest, ASessionWritesTheStartTheMessageBoxesTheErrorReportAndTheEnd) {
  f.pf.log = nullptr;
  {
    SupportLog::Session session(f.pf, f.log, "1.2.3");
    EXPECT_EQ(f.pf.log, &f.log);
    f.pf.ui->MsgBox("文件a.dll注册失败，请重试", ports::MsgIcon::None, "自动更新");
    EXPECT_THROW(f.pf.ui->ReportRuntimeError(76, "Path not found"), fakes::FakeUi::ProgramEnded);
  }
  // The user still saw the box and the report; the platform is as it was.
  ASSERT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_EQ(f.ui.runtimeErrors, std::vector<int>{76});
  EXPECT_EQ(f.pf.ui, &f.ui);
  EXPECT_EQ(f.pf.log, nullptr);
  EXPECT_EQ(f.log.lines, (std::vector<std::string>{
                             "start: autoupdate 1.2.3, program folder C:\\Prog",
                             "message box [自动更新]: 文件a.dll注册失败，请重试",
                             "run-time error report, error 76: Path not found; end",
                             "end",
                         }));
}

TEST_F(SupportLogTest, TheVersionCheckNamesTheOfferedAndTheRecordedVersion) {
  form.gcweb = "http://h:81";
  f.database.state.tables["versions"] = {
      {{"version", "1.0"}, {"updatetime", "t1"}, {"updatecmt", ""}, {"versiont", "0"}}};
  f.net.script.body =
      "<root><version_no>2.0</version_no><update_time>t2</update_time><soft_cmt/></root>";
  form.CheckVersion();
  EXPECT_EQ(f.log.lines.back(), "version offered: 2.0 (t2), recorded: 1.0: upgrade");

  f.database.state.tables["versions"][0]["version"] = "2.0";
  f.database.state.tables["versions"][0]["updatetime"] = "t2";
  form.CheckVersion();
  EXPECT_EQ(f.log.lines.back(), "version offered: 2.0 (t2), recorded: 2.0 (t2): no upgrade");

  f.net.script.sendError = RuntimeError(-2146697211, "refused");
  form.CheckVersion();
  EXPECT_EQ(f.log.lines.back(), "version check: no answer, error -2146697211: refused");
}

TEST_F(SupportLogTest, ADownloadCutShortTellsItsBytesTimeAndOutcome) {
  form.gcweb = "http://h:81";
  f.io.transfer.body = std::string(5000, 'x');
  f.io.transfer.headers["Content-Length"] = "5000";
  f.io.transfer.cutAfter = 2048;
  form.DownloadPackage();
  const std::regex line(
      R"(download http://h:81/uploads/soft/setup\.rar: 2048 bytes in \d+ ms of 5000, cut short and removed)");
  EXPECT_TRUE(std::regex_match(f.log.lines.back(), line)) << f.log.All();
}

class SupportLogInstall : public SupportLogTest {
 protected:
  void SetUp() override {
    SupportLogTest::SetUp();
    f.files.files = {"C:\\Prog\\rar.exe", kPackage, "C:\\Prog\\Trainova.dll",
                     "C:\\Prog\\tmp\\Trainova.dll", "C:\\Prog\\tmp\\new.txt"};
    f.files.folders = {"C:\\Prog", "C:\\Prog\\tmp", "C:\\Prog\\tmp\\initSystem"};
    f.files.listings["C:\\Prog\\tmp"] = {"Trainova.dll", "new.txt"};
    f.files.listings["C:\\Prog"] = {"Trainova.dll"};
    f.database.state.tables = {{"versions", {}}, {"projectlist", {{{"project_no", "101"}}}}};
    form.strConnString = "conn";
    form.Text1.Text = "2.0";
    form.Text2.Text = "t2";
  }
  bool Run() {
    bool ok = false;
    form.InstallPackage(kPackage, ok);
    return ok;
  }
  static inline const std::string kPackage = "C:\\Prog\\tmp\\setup.rar";
};

TEST_F(SupportLogInstall, ASuccessfulInstallationTellsEveryStepInOrder) {
  EXPECT_TRUE(Run());
  ExpectInOrder({
      "install: rar.exe exit code: 0",
      "journal: C:\\Prog: 1 files to move aside, 2 paths to create",
      "journal: C:\\Prog: 2 files moved in",
      "install: tmp\\*.* moved into the program folder: result 0",
      "install: copy initSystem to project folder 101: result 0",
      "journal: sealed",
      "install: version recorded: 2.0 (t2)",
      "install: succeeded",
      "journal: done",
  });
}

TEST_F(SupportLogInstall, AFailedInstallationTellsWhatFailedAndWhatWasPutBack) {
  f.processes.exitCode = 3;
  EXPECT_FALSE(Run());
  ExpectInOrder({"install: rar.exe exit code: 3", "install: failed: the package did not unpack"});

  f.log.lines.clear();
  f.processes.exitCode = 0;
  f.shell.resultsByTarget["C:\\Prog\\"] = 1223;
  EXPECT_FALSE(Run());
  ExpectInOrder({
      "install: tmp\\*.* moved into the program folder: result 1223",
      "journal: rolled back, everything put back",
      "install: failed",
  });
}

}  // namespace
