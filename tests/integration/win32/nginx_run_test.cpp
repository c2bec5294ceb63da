// The Windows program under wine upgrading from a site that tools/publish wrote and nginx serves
// (scripts/with-nginx-site, with the release nginx-release.txt and the package folder that this
// build assembles): no code of ours on the server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "automation.h"
#include "harness.h"
#include "tables.h"

namespace wholerun {
namespace {

namespace fs = std::filesystem;

class NginxRun : public testing::Test {
 protected:
  void SetUp() override {
    if (!CanMakeWindows()) GTEST_SKIP() << "no X display: run under xvfb-run (scripts/test does)";
    url_ = Env("AUTOUPDATE_TEST_NGINX");
    if (url_.empty()) GTEST_SKIP() << "no published site: run under scripts/with-nginx-site";

    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    root_ = fs::path(temp) / Wide("autoupdate nginx run-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(root_);
    prog_ = root_ / Wide("program 中文");
    log_ = root_ / "events.log";
    client2_ = LayOutProgramFolder(prog_, log_);
    WriteFile(prog_ / "project.mdb",
              FormatTables({{"system", {"upserverurl", "indatetime"}, {}},
                            {"versions",
                             {"version", "updatetime", "updatecmt", "versionT"},
                             {{"1.0", "t1", "", "0"}}},
                            {"projectList", {"project_No", "project_URL"}, {{"7", "old"}}}}));
    WriteFile(prog_ / "client.ini", "[initInfo]\r\nserver=" + url_ + "\r\nitem_id=\r\n");
    fs::remove(SystemFolder() / "evalcom.dll");
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string Column(const std::string& table, const std::string& column) {
    return ColumnValues(ReadFile(prog_ / "project.mdb"), table, column);
  }
  // The event log of the stand-ins, once it holds what (or after 15 s without it).
  std::string Events(const std::string& what) {
    return WaitForText(log_, what, std::chrono::seconds(15));
  }
  std::string ClientStarted(const std::string& version) {
    return "client " + version + " arguments=0 command=\"" + Utf8(prog_.wstring()) +
           "\\Trainova.dll\" \n";
  }

  std::string url_;
  fs::path root_, prog_, log_;
  std::string client2_;
};

TEST_F(NginxRun, ThePublishedReleaseIsInstalledRecordedAndThenUpToDate) {
  {
    Process run(prog_ / "autoupdate.exe", root_);
    ASSERT_TRUE(run.started());
    const auto box = run.Next();
    ASSERT_TRUE(box && box->IsMessageBox()) << run.SeenSummary();
    const MessageBoxView view = ReadMessageBox(box->hwnd);
    EXPECT_EQ(view.text, "系统升级完成！");
    Press(view.ok);
    EXPECT_EQ(run.Exit(), DWORD{0});
  }
  EXPECT_EQ(ReadFile(prog_ / "Trainova.dll"), client2_);
  EXPECT_EQ(ReadFile(prog_ / "7" / Wide("题库.txt")), "题库");
  EXPECT_EQ(ReadFile(SystemFolder() / "evalcom.dll"), ReadFile(ExecutableFolder() / EVALCOM_NAME));
  // The values of nginx-release.txt, read by MSXML from the static page.
  EXPECT_EQ(Column("versions", "version") + "," + Column("versions", "updatetime") + "," +
                Column("versions", "updatecmt"),
            "2.0,2026-12-08 08:00:00,静态发布");
  EXPECT_NE(Events("client").find(ClientStarted("2.0")), std::string::npos) << ReadFile(log_);

  Process again(prog_ / "autoupdate.exe", root_);
  ASSERT_TRUE(again.started());
  EXPECT_EQ(again.Exit(), DWORD{0});
  for (const TopWindow& w : again.seen()) {
    EXPECT_FALSE(w.IsMessageBox()) << "up to date: no message; " << again.SeenSummary();
  }
  const std::string twice = ClientStarted("2.0") + ClientStarted("2.0");
  EXPECT_NE(Events(twice).find(twice), std::string::npos) << ReadFile(log_);
}

}  // namespace
}  // namespace wholerun
