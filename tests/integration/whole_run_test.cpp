// Whole runs of the Linux program in a program folder of its own against the reference server:
// real files, a real SQLite project.mdb, the archiver and regsvr32 stand-ins, a demo client.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "contract/posix/update_server.h"
#include "integration/program_folder.h"
#include "upgrade/JournalFormat.h"

namespace {

namespace fs = std::filesystem;

using namespace program_folder;

class WholeRun : public ProgramFolderTest {
 protected:
  WholeRun() : ProgramFolderTest("whole-run") {}

  void SetUp() override {
    ProgramFolderTest::SetUp();
    server_.Ensure();
    for (const char* name : {"version_no", "update_time", "soft_cmt", "fault"}) {
      fs::remove(server_.Data() / name);
    }
    fs::remove_all(server_.Data() / "uploads");
    Offer("1.0", "t1");
  }
  void Offer(const std::string& version, const std::string& time) {
    WriteFile(server_.Data() / "version_no", version);
    WriteFile(server_.Data() / "update_time", time);
    WriteFile(server_.Data() / "soft_cmt", "说明");
  }
  void Package(bool corrupt = false) {
    const fs::path tree = root_ / "package";
    Client(tree / "Trainova.dll", "2.0");
    WriteFile(tree / "initSystem" / "题库.txt", "题库");
    const fs::path out = server_.Data() / "uploads" / "soft" / "setup.rar";
    fs::create_directories(out.parent_path());
    std::string cmd = std::string(MAKE_PACKAGE_PATH) + " " + Quote(out) + " " + Quote(tree);
    if (corrupt) cmd += " --truncate 100";
    ASSERT_EQ(std::system((cmd + " >/dev/null").c_str()), 0);
  }
  // A new key pair in root_/name; its client.ini line.
  std::string Keygen(const std::string& name) {
    const std::string cmd = std::string(SIGN_PACKAGE_PATH) + " keygen " + Quote(root_ / name) +
                            " >" + Quote(root_ / (name + ".pub"));
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return ReadFile(root_ / (name + ".pub"));
  }
  void SignPackage(const std::string& keyName) {
    const fs::path package = server_.Data() / "uploads" / "soft" / "setup.rar";
    const std::string cmd =
        std::string(SIGN_PACKAGE_PATH) + " sign " + Quote(root_ / keyName) + " " + Quote(package);
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  contract::UpdateServer server_;
};

TEST_F(WholeRun, UpToDateStartsTheClientAndShowsNothing) {
  Ini(server_.Url());
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(ClientLog(), "client 1.0 []\n");  // the quoted path and its trailing blank only
  // The please-wait window appears with its first count, set before it was shown.
  EXPECT_NE(Err().find("frmPleaseWait.Label1: 正在初始化......1\n"), std::string::npos) << Err();
}

TEST_F(WholeRun, ANewerVersionIsInstalledRecordedAndStarted) {
  Offer("2.0", "t2");
  Package();
  Ini(server_.Url());
  EXPECT_EQ(Run(), 0) << Err();
  EXPECT_EQ(Out(), "[自动更新] 系统升级完成！\n");
  // The upgrade window stays hidden: only what changed is written, never the window itself.
  EXPECT_EQ(Err().find("frmUpgrade.Label3:"), std::string::npos) << Err();
  EXPECT_EQ(Query("select version||','||updatetime||','||updatecmt from versions"), "2.0,t2,说明");
  EXPECT_EQ(ReadFile(prog_ / "7" / "题库.txt"), "题库");
  EXPECT_EQ(ClientLog(), "client 2.0 []\n");
  // The support log tells every step, in order; nothing of it is in the program folder.
  const std::string log = SupportLog();
  std::size_t at = 0;
  for (const std::string& step : std::vector<std::string>{
           "start: autoupdate ", "server address: " + server_.Url(),
           "XmlCheckServerStatus.aspx: answered",
           "version offered: 2.0 (t2), recorded: 1.0: upgrade", "setup.rar: ", " bytes in ",
           ", complete", "install: rar.exe exit code: 0",
           "install: tmp\\*.* moved into the program folder: result 0", "journal: sealed",
           "install: version recorded: 2.0 (t2)", "install: succeeded",
           "message box [自动更新]: 系统升级完成！", "client started: ", "] end\n"}) {
    at = log.find(step, at);
    ASSERT_NE(at, std::string::npos) << step << "\n" << log;
  }
  EXPECT_FALSE(fs::exists(prog_ / "state"));

  // The next start finds everything up to date.
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(ClientLog(), "client 2.0 []\nclient 2.0 []\n");
}

TEST_F(WholeRun, ASignedPackageIsInstalledOnlyWhenSignedByTheConfiguredKey) {
  const std::string pubkey = Keygen("publisher");
  Keygen("stranger");
  Offer("2.0", "t2");
  const struct {
    const char* signer;
    bool installed;
  } rows[] = {{"stranger", false}, {"publisher", true}};
  for (const auto& row : rows) {
    Package();
    SignPackage(row.signer);
    Ini(server_.Url(), "", pubkey);
    fs::remove(root_ / "client.log");
    Sql("update versions set version = '1.0', updatetime = 't1';");
    EXPECT_EQ(Run(), 0) << Err();
    EXPECT_EQ(Query("select version from versions"), row.installed ? "2.0" : "1.0") << row.signer;
    EXPECT_EQ(ClientLog(), row.installed ? "client 2.0 []\n" : "") << row.signer;
    if (!row.installed) {
      EXPECT_NE(Err().find("frmUpgrade.Label2: 升级失败，升级包签名无效。"), std::string::npos)
          << Err();
      // Nothing of the package was unpacked or copied, and the package itself is gone.
      EXPECT_FALSE(fs::exists(prog_ / "tmp" / "setup.rar"));
      EXPECT_FALSE(fs::exists(prog_ / "tmp" / "Trainova.dll"));
      EXPECT_EQ(ReadFile(prog_ / "Trainova.dll").find("2.0"), std::string::npos);
    }
  }
}

// Releases 2.0 and 2.1 of 40 files of 48 KiB, three of them changed; the program folder holds
// 2.0 and the package its installation left behind.
class DeltaRun : public WholeRun {
 protected:
  void SetUp() override {
    WholeRun::SetUp();
    const fs::path tree = root_ / "delta-tree";
    for (int i = 0; i < 40; ++i) {
      std::string bytes(48 * 1024, '\0');
      unsigned x = 2463534242u + static_cast<unsigned>(i);
      for (char& c : bytes) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = static_cast<char>(x);
      }
      WriteFile(tree / ("f" + std::to_string(i) + ".bin"), bytes);
    }
    Client(tree / "Trainova.dll", "2.0");
    MakePackage(tree, earlier_);
    for (int i : {5, 20, 35}) {
      std::string bytes = ReadFile(tree / ("f" + std::to_string(i) + ".bin"));
      bytes.replace(1000, 5, "2.1!!");
      WriteFile(tree / ("f" + std::to_string(i) + ".bin"), bytes);
    }
    Client(tree / "Trainova.dll", "2.1");
    MakePackage(tree, later_);
    Offer("2.1", "t21");
    Ini(server_.Url());
  }
  void MakePackage(const fs::path& tree, const fs::path& out) {
    ASSERT_EQ(std::system((std::string(MAKE_PACKAGE_PATH) + " " + Quote(out) + " " + Quote(tree) +
                           " >/dev/null")
                              .c_str()),
              0);
  }
  // Publishes package as release 2.1 and serves it with the block index publish wrote.
  void Serve(const fs::path& package, const fs::path& indexed) {
    const fs::path site = root_ / "site";
    fs::remove_all(site);
    const std::string cmd = std::string(PUBLISH_PATH) + " --site " + Quote(site) + " --package " +
                            Quote(indexed) + " --version 2.1 --time t21 --any-archive >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const fs::path soft = server_.Data() / "uploads" / "soft";
    fs::create_directories(soft);
    fs::copy_file(package, soft / "setup.rar", fs::copy_options::overwrite_existing);
    fs::copy_file(site / "uploads" / "soft" / "setup.rar.blocks", soft / "setup.rar.blocks",
                  fs::copy_options::overwrite_existing);
  }
  // The program folder at 2.0, as its installation left it.
  void AtEarlierRelease() {
    fs::remove_all(prog_ / "tmp");
    fs::copy_file(earlier_, prog_ / "setup.rar", fs::copy_options::overwrite_existing);
    Sql("update versions set version = '2.0', updatetime = 't20';");
    fs::remove(root_ / "client.log");
  }
  // The requests for the package since mark: "whole", the ranges asked for, "index" or
  // "signature".
  std::vector<std::string> PackageRequests(std::size_t mark) {
    std::vector<std::string> out;
    const std::string log = ReadFile(server_.Data() / "requests.log").substr(mark);
    for (std::size_t at = 0; (at = log.find("/uploads/soft/setup.rar", at)) != std::string::npos;) {
      const std::size_t end = log.find('\n', at);
      const std::string line = log.substr(at, end - at);
      at = end;
      const std::size_t range = line.find("bytes=");
      if (line.find("setup.rar.blocks") != std::string::npos) {
        out.push_back("index");
      } else if (line.find("setup.rar.sig") != std::string::npos) {
        out.push_back("signature");
      } else {
        out.push_back(range == std::string::npos ? "whole" : line.substr(range));
      }
    }
    return out;
  }
  std::size_t LogMark() { return ReadFile(server_.Data() / "requests.log").size(); }

  const fs::path earlier_ = root_ / "setup-2.0.rar";
  const fs::path later_ = root_ / "setup-2.1.rar";
};

TEST_F(DeltaRun, AnUpdateFetchesOnlyTheRangesThatChanged) {
  Serve(later_, later_);
  AtEarlierRelease();
  const std::size_t mark = LogMark();
  EXPECT_EQ(Run(), 0) << Err();
  EXPECT_EQ(Out(), "[自动更新] 系统升级完成！\n");
  EXPECT_EQ(Query("select version from versions"), "2.1");
  EXPECT_EQ(ClientLog(), "client 2.1 []\n");
  EXPECT_EQ(ReadFile(prog_ / "f20.bin").substr(1000, 5), "2.1!!");
  EXPECT_EQ(ReadFile(prog_ / "setup.rar"), ReadFile(later_));
  const auto requests = PackageRequests(mark);
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0], "index");
  std::int64_t fetched = 0;
  for (std::size_t i = 1; i < requests.size(); ++i) {
    ASSERT_EQ(requests[i].rfind("bytes=", 0), 0u) << requests[i];
    const std::size_t dash = requests[i].find('-');
    fetched +=
        std::stoll(requests[i].substr(dash + 1)) - std::stoll(requests[i].substr(6, dash - 6)) + 1;
  }
  EXPECT_LT(fetched * 20, static_cast<std::int64_t>(fs::file_size(later_)));  // under 5 %
  const std::string log = SupportLog();
  EXPECT_NE(log.find("reused from the earlier package"), std::string::npos) << log;
}

TEST_F(DeltaRun, AnythingAmissEndsInstalledAndCorrectByTheWholePackage) {
  const std::string pubkey = Keygen("publisher");
  const struct Row {
    const char* name;
    std::function<void()> arrange;
    bool delta;  // the package was rebuilt, not downloaded whole
  } rows[] = {
      {"a damaged index",
       [&] {
         WriteFile(server_.Data() / "uploads" / "soft" / "setup.rar.blocks", "AUBLKIDX damaged");
       },
       false},
      {"an index of another package", [&] { Serve(later_, earlier_); }, false},
      {"ranges answered with 200",
       [&] { WriteFile(server_.Data() / "fault", "setup.rar ignorerange\n"); }, false},
      {"no earlier package", [&] { fs::remove(prog_ / "setup.rar"); }, false},
      {"a signed release",
       [&] {
         SignPackage("publisher");
         Ini(server_.Url(), "", pubkey);
       },
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove(server_.Data() / "fault");
    Serve(later_, later_);
    Ini(server_.Url());
    AtEarlierRelease();
    row.arrange();
    const std::size_t mark = LogMark();
    EXPECT_EQ(Run(), 0) << Err();
    EXPECT_EQ(Out(), "[自动更新] 系统升级完成！\n");
    EXPECT_EQ(Query("select version from versions"), "2.1");
    EXPECT_EQ(ClientLog(), "client 2.1 []\n");
    EXPECT_EQ(ReadFile(prog_ / "setup.rar"), ReadFile(later_));
    const auto requests = PackageRequests(mark);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "whole"), row.delta ? 0 : 1)
        << testing::PrintToString(requests);
  }
}

TEST_F(WholeRun, ADownloadBrokenOffIsContinuedByTheNextClickAndNoAnswerIsReportedAlike) {
  Offer("2.0", "t2");
  Package();
  Ini(server_.Url());
  const fs::path log = server_.Data() / "requests.log";
  const std::size_t mark = ReadFile(log).size();
  const auto at = fs::file_size(server_.Data() / "uploads" / "soft" / "setup.rar") * 6 / 10;
  // The first try gets no answer at all, the second breaks off at 60 %, the third continues.
  const std::string broken = "升级包下载不完整，请稍后重试！";
  WriteFile(server_.Data() / "fault", "setup.rar drop\n");
  EXPECT_EQ(Run("\n"), 0) << Err();
  EXPECT_NE(Out().find(broken), std::string::npos) << Out();
  EXPECT_EQ(Query("select version from versions"), "1.0");
  WriteFile(server_.Data() / "fault", "setup.rar breakonce " + std::to_string(at) + "\n");
  EXPECT_EQ(Run("\n"), 0) << Err();
  const std::string out = Out();
  ASSERT_NE(out.find(broken), std::string::npos) << out;
  EXPECT_NE(out.find("系统升级完成！", out.find(broken)), std::string::npos) << out;
  EXPECT_EQ(Err().find("解压升级包失败"), Err().rfind("解压升级包失败")) << "once: " << Err();
  EXPECT_NE(ReadFile(log).find("\tbytes=" + std::to_string(at) + "-\n", mark), std::string::npos)
      << ReadFile(log).substr(mark);
  EXPECT_EQ(Query("select version||','||updatetime from versions"), "2.0,t2");
  EXPECT_EQ(ClientLog(), "client 2.0 []\n");
  EXPECT_FALSE(fs::exists(prog_ / "tmp.part" / "setup.rar"));
}

TEST_F(WholeRun, AnEmptyAddressTableAsksUntilAnAddressAnswers) {
  WriteFile(prog_ / "client.ini", "[initInfo]\r\nitem_id=\r\n");
  EXPECT_EQ(Run("http://127.0.0.1:1\n" + server_.Url() + "\n"), 0) << Err();
  EXPECT_EQ(Out(),
            "[服务器连接] (warning) 服务器地址为空，请输入服务器地址！\n"
            "[自动更新] 服务器地址连接失败，请重新输入！\n"
            "[自动更新] 服务器地址设置成功，请重新登录！\n");
  EXPECT_EQ(Query("select upserverurl from system"), server_.Url());
  EXPECT_EQ(Query("select count(*) from system where indatetime is not null"), "1");
  EXPECT_EQ(Query("select project_URL from projectList"), server_.Url().substr(7));
  EXPECT_NE(ReadFile(prog_ / "client.ini").find("server=" + server_.Url()), std::string::npos);
  EXPECT_EQ(ClientLog(), "client 1.0 []\n");
}

TEST_F(WholeRun, AnUnreachableServerLeadsToTheDialogAndClosingItEndsEverything) {
  Ini("http://127.0.0.1:1");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Out(), "[系统登录] (error) 服务器连接失败，请核对服务器地址是否正确！\n");
  EXPECT_EQ(Query("select upserverurl from system"), "http://127.0.0.1:1");
  EXPECT_EQ(ClientLog(), "");
}

TEST_F(WholeRun, AFailedInstallationLeavesTheWindowOfferingTheUpgrade) {
  Offer("2.0", "t2");
  Package(/*corrupt=*/true);
  Ini(server_.Url());
  EXPECT_EQ(Run(), 0);  // end of input closes the window
  EXPECT_NE(Err().find("frmUpgrade.Label2: 升级失败，解压升级包失败。"), std::string::npos)
      << Err();
  EXPECT_NE(Err().find("frmUpgrade.Command1: 开始升级"), std::string::npos);
  EXPECT_EQ(Query("select version from versions"), "1.0");
  EXPECT_EQ(ClientLog(), "");
  EXPECT_EQ(ReadFile(prog_ / "Trainova.dll").find("2.0"), std::string::npos);
  const std::string log = SupportLog();
  EXPECT_NE(log.find("install: failed: the package did not unpack"), std::string::npos) << log;
  EXPECT_EQ(log.find("install: rar.exe exit code: 0"), std::string::npos) << log;
}

TEST_F(WholeRun, ASecondStartInTheSameFolderStepsAsideAtOnce) {
  Offer("2.0", "t2");
  Package();
  Ini(server_.Url());
  // The first updater is slow to get its package; the second starts meanwhile.
  WriteFile(server_.Data() / "fault", "setup.rar delay 2500\n");
  const fs::path log = server_.Data() / "requests.log";
  const std::size_t mark = ReadFile(log).size();
  WriteFile(root_ / "input", "");
  const std::string env = "cd " + Quote(root_) + " && HOME=" + Quote(root_) +
                          " XDG_DESKTOP_DIR=" + Quote(root_ / "Desktop") + " timeout 60 " +
                          Quote(prog_ / "autoupdate") + " <input";
  const std::string first = "(" + env + " >stdout 2>stderr; echo $? >status) &";
  ASSERT_EQ(std::system(first.c_str()), 0);
  for (int i = 0; i < 200 && ReadFile(log).find("setup.rar", mark) == std::string::npos; ++i) {
    ::usleep(50 * 1000);
  }
  ASSERT_NE(ReadFile(log).find("setup.rar", mark), std::string::npos) << "no download began";

  const auto started = std::chrono::steady_clock::now();
  const int second = std::system((env + " >stdout2 2>stderr2").c_str());
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(WEXITSTATUS(second), 0);
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_EQ(ReadFile(root_ / "stdout2"), "");
  EXPECT_EQ(ReadFile(root_ / "stderr2"), "");  // not even the please-wait window
  // Without XDG_STATE_HOME the log is in ~/.local/state, and the second start is in it too.
  EXPECT_NE(SupportLog(".local/state").find("another updater works in this folder"),
            std::string::npos)
      << SupportLog(".local/state");

  // The first shows its window as it stands, while it still waits for the package.
  const std::string appeared = "frmUpgrade.Label3: 下载进度：\n";
  for (int i = 0; i < 40 && Err().find(appeared) == std::string::npos; ++i) ::usleep(50 * 1000);
  const std::string err = Err();
  const std::size_t at = err.find(appeared);
  ASSERT_NE(at, std::string::npos) << err;
  EXPECT_NE(err.find("frmUpgrade.Label2: 最新程序版本：2.0\n"), std::string::npos) << err;
  EXPECT_NE(err.find("frmUpgrade.ProgressBar1: 0/100", at), std::string::npos) << err;
  EXPECT_EQ(err.substr(0, at).find("升级下载完成"), std::string::npos) << err;

  for (int i = 0; i < 400 && ReadFile(root_ / "status").empty(); ++i) ::usleep(50 * 1000);
  ::usleep(300 * 1000);
  EXPECT_EQ(ReadFile(root_ / "status"), "0\n");
  EXPECT_EQ(Out(), "[自动更新] 系统升级完成！\n");
  EXPECT_EQ(Query("select version from versions"), "2.0");
  EXPECT_EQ(ReadFile(prog_ / "7" / "题库.txt"), "题库");
  EXPECT_EQ(ClientLog(), "client 2.0 []\n");
  // One version query and one download reached the server: the second start asked nothing.
  const std::string requests = ReadFile(log).substr(mark);
  EXPECT_EQ(requests.find("setup.rar"), requests.rfind("setup.rar")) << requests;
  EXPECT_EQ(requests.find("Xmlclientversion"), requests.rfind("Xmlclientversion")) << requests;

  // The lock went with the first updater: the next start runs.
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(ClientLog(), "client 2.0 []\nclient 2.0 []\n");
}

TEST_F(WholeRun, AMissingDllFolderEndsWithTheRuntimeErrorReport) {
  Ini(server_.Url());
  fs::remove_all(prog_ / "DLL");
  EXPECT_EQ(Run(), 1);
  EXPECT_NE(Out().find("运行时错误 '76'"), std::string::npos) << Out();
  EXPECT_EQ(ClientLog(), "");
}

// An updater ended while it copied 2.0 over the program folder left its journal (as earlier
// versions wrote it, with absolute paths): the next start puts 1.0 back before anything else,
// so the client it starts is the old one, whole.
TEST_F(WholeRun, AnInstallationEndedMidwayIsPutBackBeforeAnythingElse) {
  Ini(server_.Url());
  const std::string P = prog_.string();
  fs::create_directories(prog_ / "tmp.undo" / "0");
  fs::rename(prog_ / "Trainova.dll", prog_ / "tmp.undo" / "0" / "1");
  fs::permissions(prog_ / "tmp.undo" / "0" / "1", fs::perms::owner_write, fs::perm_options::remove);
  Client(prog_ / "Trainova.dll", "2.0");
  fs::permissions(prog_ / "Trainova.dll", fs::perms::owner_write, fs::perm_options::remove);
  WriteFile(prog_ / "新 folder" / "new.txt", "new");
  WriteFile(prog_ / "tmp.undo" / "journal",
            updater::SerializeJournal({false,
                                       {{'M', "0\\1", std::nullopt, P + "\\Trainova.dll"},
                                        {'C', "", std::nullopt, P + "\\新 folder"}}}));
  EXPECT_EQ(Run(), 0) << Err();
  EXPECT_EQ(ClientLog(), "client 1.0 []\n");
  EXPECT_FALSE(fs::exists(prog_ / "新 folder"));
  EXPECT_FALSE(fs::exists(prog_ / "tmp.undo"));
  EXPECT_EQ(fs::status(prog_ / "Trainova.dll").permissions() & fs::perms::owner_write,
            fs::perms::none)
      << "back with its own attributes";
}

// A journal a power cut left zero-filled tells nothing: its folder, with the only copy of a file
// of the user's, stays as it is, and the upgrade installs beside it.
TEST_F(WholeRun, ATornJournalKeepsItsFolderAndTheUpgradeInstallsBesideIt) {
  Offer("2.0", "t2");
  Package();
  Ini(server_.Url());
  WriteFile(prog_ / "tmp.undo" / "0" / "1", "the user's only copy");
  WriteFile(prog_ / "tmp.undo" / "journal", std::string(300, '\0'));
  // And a read-only file the last package left in the temporary folder.
  WriteFile(prog_ / "tmp" / "ro.txt", "read-only");
  fs::permissions(prog_ / "tmp" / "ro.txt", fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(Run(), 0) << Err();
  EXPECT_EQ(Out(), "[自动更新] 系统升级完成！\n");
  EXPECT_EQ(ClientLog(), "client 2.0 []\n");
  EXPECT_EQ(ReadFile(prog_ / "tmp.undo" / "0" / "1"), "the user's only copy");
  EXPECT_EQ(ReadFile(prog_ / "tmp.undo" / "journal"), std::string(300, '\0'));
  EXPECT_FALSE(fs::exists(prog_ / "tmp.undo.2")) << "the finished installation's own is gone";
}

}  // namespace
