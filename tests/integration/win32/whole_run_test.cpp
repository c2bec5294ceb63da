// Whole runs of the Windows program under wine against the reference server, played as a user
// plays them: the test build of the program (its database a text file, everything else real)
// runs in a program folder of its own with the archiver, client and component stand-ins; the
// test reads each message box and window through its handle, presses the buttons and types
// into the server-address dialog, and keeps a picture of each (WHOLERUN_SCREENSHOTS).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "automation.h"
#include "backends/win32/signatures.h"
#include "harness.h"
#include "tables.h"
#include "tar_writer.h"
#include "upgrade/BlockIndex.h"

namespace wholerun {
namespace {

namespace fs = std::filesystem;

// A folder of the Linux side, reached through wine's drive Z:.
fs::path FromUnix(std::string path) {
  if (path.empty() || path[0] != '/') return Wide(path);
  std::replace(path.begin(), path.end(), '/', '\\');
  return Wide("Z:" + path);
}

std::string Ansi(const std::string& utf8) {
  const std::wstring w = Wide(utf8);
  const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::string FromAnsi(const std::string& ansi) {
  const int n =
      MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), w.data(), n);
  return Utf8(w);
}

fs::path DesktopFolder() {
  wchar_t path[MAX_PATH] = {};
  GetEnvironmentVariableW(L"USERPROFILE", path, MAX_PATH);
  return fs::path(path) / "Desktop";
}

constexpr char kSystemFile[] = "wholerun系统.txt";
// A public key, the package of the signed runs (whose tar bytes never change) and its signature
// by that key, made with tools/sign-package.
constexpr char kPublicKey[] =
    "ehI84kDu+5JcQ+J1kOY5hK3KEDJWIKi9cbP6JHYUFFXA+YcrYzYuLWnlJoEOcLUQ0dfJeFBkZi+0jasRZ/X3Og==";
constexpr char kSignedPackageSignature[] =
    "XZ51rrId+zHOq2vBZ6ngTUpR+9f3CZBTQVAoEsnY18NrZSJz5M6JoAGzZpYa9z0Zf2tYqHf1edaO9ttdlB0Cyg==";
constexpr char kShortcut[] = "训练系统";
constexpr char kCopiedComponent[] = "评测组件.dll";

// Under wine without a window manager (Xvfb) the windows would have no title bars; unmanaged,
// wine draws them itself, so the pictures show the captions as the user sees them. Only the
// updater is affected; Windows ignores the key.
void LetWineDrawTheFrames() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\autoupdate.exe\\X11 Driver",
                      0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"),
                   2 * sizeof(wchar_t));
    RegCloseKey(key);
  }
}

class WindowsWholeRun : public testing::Test {
 protected:
  static void SetUpTestSuite() { LetWineDrawTheFrames(); }

  void SetUp() override {
    if (!CanMakeWindows()) GTEST_SKIP() << "no X display: run under xvfb-run (scripts/test does)";
    url_ = Env("AUTOUPDATE_TEST_SERVER");
    if (url_.empty()) GTEST_SKIP() << "no reference server: run under scripts/with-update-server";
    data_ = FromUnix(Env("AUTOUPDATE_TEST_SERVER_DATA"));

    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::path(temp) /
            Wide("autoupdate whole run 中文-" + std::to_string(GetCurrentProcessId())) /
            info->name();
    fs::remove_all(root_);
    prog_ = root_ / Wide("program 中文");
    log_ = root_ / "events.log";
    client2_ = LayOutProgramFolder(prog_, log_);
    evalcom_ = ReadFile(ExecutableFolder() / EVALCOM_NAME);

    SetEnvironmentVariableW(L"WHOLERUN_REGISTER_DELAY_MS", nullptr);
    // The program's support log goes into this test's folder, never the prefix user's.
    SetEnvironmentVariableW(L"LOCALAPPDATA", (root_ / "AppData").c_str());

    Tables(
        {{"system", {"upserverurl", "indatetime"}, {{"http://old.example", std::nullopt}}},
         {"versions", {"version", "updatetime", "updatecmt", "versionT"}, {{"1.0", "t1", "", "0"}}},
         {"projectList", {"project_No", "project_URL"}, {{"7", "old"}}}});
    Ini(url_);

    for (const char* name : {"version_no", "update_time", "soft_cmt", "fault"}) {
      fs::remove(data_ / name);
    }
    fs::remove_all(data_ / "uploads");
    Offer("1.0", "t1");
    for (const std::string name : {"evalcom.dll", kSystemFile, kCopiedComponent}) {
      fs::remove(SystemFolder() / Wide(name));
    }
    fs::remove(DesktopFolder() / Wide(std::string(kShortcut) + ".lnk"));
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void Tables(const std::vector<Table>& tables) {
    WriteFile(prog_ / "project.mdb", FormatTables(tables));
  }
  // The values of one column of a table, "|" between rows, Null as NULL.
  std::string Column(const std::string& table, const std::string& column) {
    return ColumnValues(ReadFile(prog_ / "project.mdb"), table, column);
  }
  void Ini(const std::string& server, const std::string& itemId = "",
           const std::string& pubkey = "") {
    WriteFile(prog_ / "client.ini",
              Ansi("[initInfo]\r\nserver=" + server + "\r\nitem_id=" + itemId + "\r\nshortcut=" +
                   kShortcut + "\r\n" + (pubkey.empty() ? "" : "pubkey=" + pubkey + "\r\n")));
  }
  std::string IniText() { return FromAnsi(ReadFile(prog_ / "client.ini")); }

  void Offer(const std::string& version, const std::string& time) {
    WriteFile(data_ / "version_no", version);
    WriteFile(data_ / "update_time", time);
    WriteFile(data_ / "soft_cmt", "说明");
  }
  std::string Package() {
    return MakeTar({{"Trainova.dll", client2_},
                    {"initSystem/", ""},
                    {"initSystem/题库.txt", "题库"},
                    {"system32/", ""},
                    {"system32/evalcom.dll", evalcom_},
                    {std::string("system32/") + kSystemFile, "系统"}});
  }
  void Serve(const std::string& package) {
    WriteFile(data_ / "uploads" / "soft" / "setup.rar", package);
  }

  // The event log of the stand-ins, once it holds what (or after timeout without it).
  std::string Events(const std::string& what = "",
                     std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    return WaitForText(log_, what, timeout);
  }
  // The client's line as it must read: the quoted path and its trailing blank, no argument.
  std::string ClientStarted(const std::string& version) {
    return "client " + version + " arguments=0 command=\"" + Utf8(prog_.wstring()) +
           "\\Trainova.dll\" \n";
  }

  std::unique_ptr<Process> Start(const std::wstring& arguments = L"") {
    auto p = std::make_unique<Process>(prog_ / "autoupdate.exe", root_, arguments);
    EXPECT_TRUE(p->started());
    return p;
  }
  // The next window, which must be a message box with these words.
  HWND ExpectBox(Process& p, const std::string& title, const std::string& text, Icon icon,
                 const std::string& shot) {
    const auto w = p.Next();
    if (!w) {
      ADD_FAILURE() << "no message box \"" << text << "\"; seen: " << p.SeenSummary();
      return nullptr;
    }
    if (!w->IsMessageBox()) {
      ADD_FAILURE() << "a window \"" << Utf8(w->title) << "\" instead of the message box \"" << text
                    << "\"";
      return nullptr;
    }
    const MessageBoxView box = ReadMessageBox(w->hwnd);
    EXPECT_EQ(box.title, title);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(IconName(box.icon), std::string(IconName(icon))) << text;
    Shot(w->hwnd, shot);
    return box.ok;
  }
  void PressOk(HWND ok) {
    if (ok != nullptr) Press(ok);
  }
  // The next window, which must be a window of the program with this caption.
  HWND ExpectWindow(Process& p, const std::string& caption) {
    const auto w = p.Next();
    if (!w || w->IsMessageBox() || Utf8(w->title) != caption) {
      ADD_FAILURE() << "no window \"" << caption << "\"; seen: " << p.SeenSummary();
      return nullptr;
    }
    Settle(w->hwnd);
    return w->hwnd;
  }
  void Shot(HWND hwnd, const std::string& name, bool settle = true) {
    const std::string folder = Env("WHOLERUN_SCREENSHOTS");
    if (folder.empty()) return;
    EXPECT_TRUE(Capture(hwnd, FromUnix(folder) / (name + ".png"), settle)) << name;
  }
  void ExpectExit(Process& p, DWORD code = 0) {
    const auto exit = p.Exit();
    ASSERT_TRUE(exit.has_value()) << "still running; seen: " << p.SeenSummary();
    EXPECT_EQ(*exit, code);
  }

  std::string url_;
  fs::path data_, root_, prog_, log_;
  std::string client2_, evalcom_;
};

TEST_F(WindowsWholeRun, UpToDateStartsTheClientAndShowsNothing) {
  auto run = Start();
  ExpectExit(*run);
  for (const TopWindow& w : run->seen()) {
    EXPECT_TRUE(w.title.empty() && !w.IsMessageBox())
        << "only the please-wait window may show: " << run->SeenSummary();
  }
  EXPECT_EQ(Events("client"), ClientStarted("1.0"));
  // The address of client.ini wins over the stored one.
  EXPECT_EQ(Column("system", "upserverurl"), url_);
  EXPECT_EQ(Column("versions", "version"), "1.0");
  EXPECT_TRUE(fs::is_regular_file(DesktopFolder() / Wide(std::string(kShortcut) + ".lnk")));
}

TEST_F(WindowsWholeRun, StartUpRegistersTheComponentsOfTheDllFolder) {
  // One component is in the system folder already and registers in place (slowly, so that the
  // please-wait window can be seen); the other is copied there and handed to regsvr32.
  const std::string copied = kCopiedComponent;
  WriteFile(prog_ / "DLL" / "evalcom.dll", evalcom_);
  WriteFile(prog_ / "DLL" / Wide(copied), evalcom_);
  WriteFile(SystemFolder() / "evalcom.dll", evalcom_);
  fs::remove(SystemFolder() / Wide(copied));
  SetEnvironmentVariableW(L"WHOLERUN_REGISTER_DELAY_MS", L"1500");
  auto run = Start();
  const auto wait = run->WaitFor([](const TopWindow& w) { return w.title.empty(); });
  ASSERT_TRUE(wait.has_value()) << run->SeenSummary();
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  Shot(wait->hwnd, "pleasewait", /*settle=*/false);
  ExpectExit(*run);

  const std::string inPlace = "DllRegisterServer " +
                              Utf8((SystemFolder() / "evalcom.dll").wstring()) +
                              " by autoupdate.exe";
  const std::string byRegsvr32 =
      "DllRegisterServer " + Utf8((SystemFolder() / Wide(copied)).wstring()) + " by regsvr32.exe";
  EXPECT_NE(Lower(Events(byRegsvr32)).find(Lower(byRegsvr32)), std::string::npos) << Events();
  EXPECT_NE(Lower(Events()).find(Lower(inPlace)), std::string::npos) << Events();
  EXPECT_EQ(ReadFile(SystemFolder() / Wide(copied)), evalcom_);
  EXPECT_NE(Events("client").find(ClientStarted("1.0")), std::string::npos) << Events();
}

TEST_F(WindowsWholeRun, ANewerVersionIsInstalledEverywhereRecordedAndStarted) {
  Offer("2.0", "t2");
  Serve(Package());
  auto run = Start();
  PressOk(ExpectBox(*run, "自动更新", "系统升级完成！", Icon::None, "upgrade-complete"));
  ExpectExit(*run);
  EXPECT_FALSE(std::any_of(run->seen().begin(), run->seen().end(), [](const TopWindow& w) {
    return Utf8(w.title) == "自动升级程序";
  })) << "the upgrade window is not shown when all goes well";

  // The program folder, the project folder and the system folder have the package's files.
  EXPECT_EQ(ReadFile(prog_ / "Trainova.dll"), client2_);
  EXPECT_EQ(ReadFile(prog_ / "7" / Wide("题库.txt")), "题库");
  EXPECT_EQ(ReadFile(SystemFolder() / Wide(kSystemFile)), "系统");
  EXPECT_EQ(ReadFile(SystemFolder() / "evalcom.dll"), evalcom_);
  EXPECT_EQ(Column("versions", "version") + "," + Column("versions", "updatetime") + "," +
                Column("versions", "updatecmt") + "," + Column("versions", "versionT"),
            "2.0,t2,说明,0");
  // regsvr32 (wine's own) registers the copy in the system folder; the new client starts.
  const std::string registered =
      "DllRegisterServer " + Utf8((SystemFolder() / "evalcom.dll").wstring()) + " by regsvr32.exe";
  EXPECT_NE(Lower(Events(registered)).find(Lower(registered)), std::string::npos) << Events();
  EXPECT_NE(Events("client").find(ClientStarted("2.0")), std::string::npos) << Events();
  EXPECT_EQ(Events().find("client 1.0"), std::string::npos);

  // The next start finds everything up to date.
  auto again = Start();
  ExpectExit(*again);
  const std::string twice = ClientStarted("2.0") + ClientStarted("2.0");
  EXPECT_NE(Events(twice).find(twice), std::string::npos) << Events();
}

TEST_F(WindowsWholeRun, ASecondStartDuringTheDownloadShowsTheHiddenWindow) {
  Offer("2.0", "t2");
  Serve(Package());
  WriteFile(data_ / "fault", "setup.rar delay 4000\n");
  const fs::path log = data_ / "requests.log";
  const std::size_t mark = ReadFile(log).size();
  auto run = Start();
  for (int i = 0; i < 300 && ReadFile(log).find("setup.rar", mark) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_NE(ReadFile(log).find("setup.rar", mark), std::string::npos) << "no download began";

  // The second start ends at once, showing nothing of its own; the first shows its window as
  // it stands while the package is still on its way. The switch of a start for elevation, with
  // no secret or a made-up one, proves nothing: such a start is a second start like any other.
  for (const wchar_t* arguments :
       {L"/autoupdate-elevated-run", L"/autoupdate-elevated-run 0123456789abcdef0123456789abcdef",
        L""}) {
    auto second = Start(arguments);
    ExpectExit(*second);
    EXPECT_TRUE(second->seen().empty()) << Utf8(arguments) << ": " << second->SeenSummary();
  }
  EXPECT_EQ(Events().find("updater elevated run"), std::string::npos) << Events();
  HWND window = ExpectWindow(*run, "自动升级程序");
  ASSERT_NE(window, nullptr);
  EXPECT_NE(VisibleChildWithText(window, "最新程序版本：2.0"), nullptr)
      << testing::PrintToString(VisibleTexts(window));
  EXPECT_NE(VisibleChildWithText(window, "下载进度："), nullptr);
  EXPECT_FALSE(fs::exists(prog_ / "tmp" / "Trainova.dll")) << "the package is not there yet";
  Shot(window, "upgrade-downloading");

  // Closing the window while the work goes on only hides it: the run ends as without the
  // second start, never cut off midway.
  Close(window);
  PressOk(ExpectBox(*run, "自动更新", "系统升级完成！", Icon::None, "upgrade-complete-shown"));
  ExpectExit(*run);
  EXPECT_EQ(Column("versions", "version"), "2.0");
  EXPECT_NE(Events("client").find(ClientStarted("2.0")), std::string::npos) << Events();
  const std::string requests = ReadFile(log).substr(mark);
  EXPECT_EQ(requests.find("setup.rar"), requests.rfind("setup.rar")) << requests;
}

TEST_F(WindowsWholeRun, ASignedPackageIsInstalledOnlyWithAValidSignature) {
  const std::string package = MakeTar({{"initSystem/", ""},
                                       {"initSystem/题库.txt", "题库"},
                                       {"system32/", ""},
                                       {std::string("system32/") + kSystemFile, "系统"}});
  std::string tampered = kSignedPackageSignature;
  tampered[5] = tampered[5] == 'A' ? 'B' : 'A';
  const struct {
    const char* name;
    std::string signature;
    bool installed;
  } rows[] = {{"signature-bad", tampered, false},
              {"signature-good", kSignedPackageSignature, true}};
  Offer("2.0", "t2");
  Serve(package);
  Ini(url_, "", kPublicKey);
  for (const auto& row : rows) {
    WriteFile(data_ / "uploads" / "soft" / "setup.rar.sig", row.signature + "\r\n");
    auto run = Start();
    if (row.installed) {
      PressOk(ExpectBox(*run, "自动更新", "系统升级完成！", Icon::None, row.name));
      ExpectExit(*run);
      EXPECT_EQ(Column("versions", "version"), "2.0");
      EXPECT_EQ(ReadFile(prog_ / "7" / Wide("题库.txt")), "题库");
      EXPECT_EQ(ReadFile(SystemFolder() / Wide(kSystemFile)), "系统");
      EXPECT_NE(Events("client").find(ClientStarted("1.0")), std::string::npos) << Events();
      continue;
    }
    HWND window = ExpectWindow(*run, "自动升级程序");
    ASSERT_NE(window, nullptr);
    EXPECT_NE(VisibleChildWithText(window, "升级失败，升级包签名无效。"), nullptr)
        << testing::PrintToString(VisibleTexts(window));
    EXPECT_NE(VisibleChildWithText(window, "开始升级"), nullptr);
    Shot(window, row.name);
    // Nothing unpacked, copied or recorded, and the package itself is gone.
    EXPECT_FALSE(fs::exists(prog_ / "tmp" / "setup.rar"));
    EXPECT_FALSE(fs::exists(prog_ / "tmp" / "initSystem"));
    EXPECT_FALSE(fs::exists(prog_ / "7"));
    EXPECT_FALSE(fs::exists(SystemFolder() / Wide(kSystemFile)));
    EXPECT_EQ(Column("versions", "version"), "1.0");
    Close(window);
    ExpectExit(*run);
    EXPECT_EQ(Events(), "");
  }
}

TEST_F(WindowsWholeRun, AnEmptyAddressTableAsksUntilAnAddressAnswers) {
  Tables(
      {{"system", {"upserverurl", "indatetime"}, {}},
       {"versions", {"version", "updatetime", "updatecmt", "versionT"}, {{"1.0", "t1", "", "0"}}},
       {"projectList", {"project_No", "project_URL"}, {{"7", "old"}, {"8", "old"}}}});
  Ini("", "item42");  // the address probed and stored for the projects carries the item
  auto run = Start();
  PressOk(ExpectBox(*run, "服务器连接", "服务器地址为空，请输入服务器地址！", Icon::Warning,
                    "address-empty"));
  HWND dialog = ExpectWindow(*run, "自动更新程序");
  ASSERT_NE(dialog, nullptr);
  EXPECT_NE(VisibleChildWithText(dialog, "服务器地址："), nullptr);
  HWND edit = VisibleChildWithText(dialog, "http://");
  HWND ok = VisibleChildWithText(dialog, "确定");
  ASSERT_NE(edit, nullptr) << "the address box shows http://";
  ASSERT_NE(ok, nullptr);
  Shot(dialog, "serverset");

  // A wrong address: the dialog says so and stays.
  Type(edit, "http://127.0.0.1:1");
  EXPECT_EQ(Utf8(TextOf(edit)), "http://127.0.0.1:1");
  Press(ok);
  PressOk(ExpectBox(*run, "自动更新", "服务器地址连接失败，请重新输入！", Icon::None,
                    "address-failed"));
  EXPECT_EQ(Column("system", "upserverurl"), "");

  Type(edit, url_);
  Shot(dialog, "serverset-typed");
  Press(ok);
  PressOk(
      ExpectBox(*run, "自动更新", "服务器地址设置成功，请重新登录！", Icon::None, "address-saved"));
  ExpectExit(*run);
  EXPECT_EQ(Column("system", "upserverurl"), url_);
  EXPECT_NE(Column("system", "indatetime"), "NULL");
  EXPECT_NE(ReadFile(data_ / "requests.log").find("/item42/xmlRequest/XmlCheckServerStatus.aspx"),
            std::string::npos);
  const std::string project = url_.substr(7) + "/item42";
  EXPECT_EQ(Column("projectList", "project_URL"), project + "|" + project);
  EXPECT_NE(IniText().find("server=" + url_), std::string::npos) << IniText();
  EXPECT_EQ(Events("client"), ClientStarted("1.0"));
}

TEST_F(WindowsWholeRun, AnUnreachableServerLeadsToTheDialogAndClosingItEndsEverything) {
  Ini("http://127.0.0.1:1");
  auto run = Start();
  PressOk(ExpectBox(*run, "系统登录", "服务器连接失败，请核对服务器地址是否正确！", Icon::Error,
                    "server-unreachable"));
  HWND dialog = ExpectWindow(*run, "自动更新程序");
  ASSERT_NE(dialog, nullptr);
  EXPECT_NE(VisibleChildWithText(dialog, "http://127.0.0.1:1"), nullptr)
      << "the dialog shows the stored address";
  Close(dialog);
  ExpectExit(*run);
  EXPECT_EQ(Column("system", "upserverurl"), "http://127.0.0.1:1");
  EXPECT_EQ(Events(), "") << "no client is started";
}

TEST_F(WindowsWholeRun, AMissingDllFolderEndsWithTheRunTimeErrorReport) {
  // The please-wait window is unloaded by the error unwinding out of start-up: the report's box
  // must not touch it (it did, and the program died of a page fault instead of reporting).
  fs::remove_all(prog_ / "DLL");
  auto run = Start();
  const auto box = run->WaitFor([](const TopWindow& w) { return w.IsMessageBox(); });
  ASSERT_TRUE(box.has_value()) << run->SeenSummary();
  const MessageBoxView view = ReadMessageBox(box->hwnd);
  EXPECT_EQ(view.title, "自动更新");
  EXPECT_NE(view.text.find("运行时错误 '76'"), std::string::npos) << view.text;
  EXPECT_NE(view.text.find("Path not found"), std::string::npos) << view.text;
  EXPECT_EQ(IconName(view.icon), std::string(IconName(Icon::Error)));
  PressOk(view.ok);
  ExpectExit(*run, 1);
  EXPECT_EQ(Events(), "") << "no client is started";
}

TEST_F(WindowsWholeRun, AFailedInstallationLeavesTheWindowAndASecondClickSucceeds) {
  Offer("2.0", "t2");
  std::string damaged = Package();
  damaged.resize(damaged.size() / 2);
  Serve(damaged);
  Ini(url_, "item42");  // the versions row of an item is added by the installation
  auto run = Start();
  HWND window = ExpectWindow(*run, "自动升级程序");
  ASSERT_NE(window, nullptr);
  EXPECT_NE(VisibleChildWithText(window, "升级失败，解压升级包失败。"), nullptr);
  HWND start = VisibleChildWithText(window, "开始升级");
  ASSERT_NE(start, nullptr) << "the window offers the upgrade again";
  Shot(window, "upgrade-failed");
  EXPECT_EQ(Column("versions", "version"), "1.0");
  EXPECT_NE(ReadFile(prog_ / "Trainova.dll"), client2_) << "nothing is copied";
  EXPECT_EQ(Events(), "");

  Serve(Package());
  Press(start);
  PressOk(ExpectBox(*run, "自动更新", "系统升级完成！", Icon::None, "upgrade-complete-retry"));
  ExpectExit(*run);
  EXPECT_EQ(Column("versions", "version"), "1.0|2.0");
  EXPECT_EQ(Column("versions", "versionT"), "0|1");
  EXPECT_NE(Events("client").find(ClientStarted("2.0")), std::string::npos) << Events();

  // The support log tells both attempts: the archiver's failure, then the installation.
  std::string log;
  for (const auto& e : fs::directory_iterator(root_ / "AppData" / "autoupdate")) {
    log += ReadFile(e.path());
  }
  std::size_t at = 0;
  for (const std::string& step : std::vector<std::string>{
           "start: autoupdate ",
           "install: rar.exe exit code: ", "install: failed: the package did not unpack",
           "the user pressed 开始升级", "install: rar.exe exit code: 0",
           "install: tmp\\*.* moved into the program folder: result 0", "install: succeeded",
           "client started: "}) {
    at = log.find(step, at);
    ASSERT_NE(at, std::string::npos) << step << "\n" << log;
  }
}

TEST_F(WindowsWholeRun, ACutShortDownloadIsNeverUnpacked) {
  Offer("2.0", "t2");
  Serve(Package());
  WriteFile(data_ / "fault", "setup.rar short 4000\n");
  auto run = Start();
  PressOk(
      ExpectBox(*run, "自动更新", "升级包下载不完整，请稍后重试！", Icon::Error, "download-short"));
  HWND window = ExpectWindow(*run, "自动升级程序");
  ASSERT_NE(window, nullptr);
  EXPECT_NE(VisibleChildWithText(window, "升级失败，解压升级包失败。"), nullptr)
      << testing::PrintToString(VisibleTexts(window));
  EXPECT_NE(VisibleChildWithText(window, "开始升级"), nullptr);
  EXPECT_FALSE(fs::exists(prog_ / "tmp" / "setup.rar"));
  EXPECT_EQ(Column("versions", "version"), "1.0");
  Close(window);  // the window without a close handler of its own ends the program
  ExpectExit(*run);
  EXPECT_EQ(Events(), "");
}

TEST_F(WindowsWholeRun, AnUpdateFetchesOnlyTheChangedRangesAndFallsBackWhenItCannot) {
  // Release 2.0 left its package in the program folder; 2.1 changes 1 KiB of a 600 KiB file.
  // Whatever cannot go by blocks ends installed and correct by the whole package.
  std::string data(600 * 1024, '\0');
  unsigned x = 2463534242u;
  for (char& c : data) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  const auto package = [&](const std::string& bytes) {
    return MakeTar({{"Trainova.dll", client2_}, {"data.bin", bytes}});
  };
  const std::string earlier = package(data);
  const std::string later = package(data.replace(300 * 1024, 1024, std::string(1024, 'N')));
  Offer("2.1", "t21");
  Serve(later);
  // The index publish writes for bytes (hashed from a file of them).
  const auto indexOf = [&](const std::string& bytes) {
    const fs::path file = root_ / "indexed.rar";
    WriteFile(file, bytes);
    updater::BlockIndex index;
    index.release = "2.1";
    index.length = static_cast<std::int64_t>(bytes.size());
    index.sha256 = updater::win32::Sha256OfFile(Utf8(file.wstring())).value_or("");
    for (std::size_t at = 0; at < bytes.size(); at += index.blockSize) {
      const auto* block = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
      const std::size_t n = std::min<std::size_t>(index.blockSize, bytes.size() - at);
      index.blocks.push_back({updater::WeakSum(block, n), updater::StrongSum(block, n)});
    }
    return updater::WriteBlockIndex(index);
  };
  const std::string goodIndex = indexOf(later);

  const struct {
    const char* name;
    std::string index, fault;
    bool earlierKept, byBlocks;
  } rows[] = {{"by blocks", goodIndex, "", true, true},
              {"ranges answered whole", goodIndex, "setup.rar ignorerange\n", true, false},
              {"a damaged index", goodIndex.substr(0, goodIndex.size() - 1), "", true, false},
              {"an index of another package", indexOf(earlier), "", true, false},
              {"no earlier package", goodIndex, "", false, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFile(data_ / "uploads" / "soft" / "setup.rar.blocks", row.index);
    WriteFile(data_ / "fault", row.fault);
    fs::remove(prog_ / "setup.rar");
    if (row.earlierKept) WriteFile(prog_ / "setup.rar", earlier);
    Tables(
        {{"system", {"upserverurl", "indatetime"}, {{"http://old.example", std::nullopt}}},
         {"versions", {"version", "updatetime", "updatecmt", "versionT"}, {{"2.0", "t2", "", "0"}}},
         {"projectList", {"project_No", "project_URL"}, {{"7", "old"}}}});
    const std::size_t mark = ReadFile(data_ / "requests.log").size();
    auto run = Start();
    PressOk(ExpectBox(*run, "自动更新", "系统升级完成！", Icon::None, "upgrade-by-blocks"));
    ExpectExit(*run);
    EXPECT_EQ(Column("versions", "version"), "2.1");
    EXPECT_EQ(ReadFile(prog_ / "setup.rar"), later);
    EXPECT_EQ(ReadFile(prog_ / "data.bin"), data);
    const std::string requests = ReadFile(data_ / "requests.log").substr(mark);
    const bool whole = requests.find("setup.rar\t\n") != std::string::npos;
    EXPECT_EQ(whole, !row.byBlocks) << requests;
    if (row.byBlocks) {
      // Only the block that changed (two, as it straddles a block boundary of the tar) and a
      // few around the headers: a small share of 600 KiB.
      EXPECT_NE(requests.find("setup.rar.blocks\t\n"), std::string::npos) << requests;
      EXPECT_LE(std::count(requests.begin(), requests.end(), '\n'), 12) << requests;
    }
  }
}

TEST_F(WindowsWholeRun, ADownloadBrokenOffIsContinuedByTheNextClick) {
  Offer("2.0", "t2");
  const std::string package = Package();
  Serve(package);
  const std::size_t at = package.size() * 6 / 10;
  WriteFile(data_ / "fault", "setup.rar breakonce " + std::to_string(at) + "\n");
  auto run = Start();
  PressOk(ExpectBox(*run, "自动更新", "升级包下载不完整，请稍后重试！", Icon::Error,
                    "download-broken"));
  HWND window = ExpectWindow(*run, "自动升级程序");
  ASSERT_NE(window, nullptr);
  HWND start = VisibleChildWithText(window, "开始升级");
  ASSERT_NE(start, nullptr);
  EXPECT_FALSE(fs::exists(prog_ / "tmp" / "setup.rar"));
  EXPECT_EQ(ReadFile(prog_ / "tmp.part" / "setup.rar"), package.substr(0, at));
  Press(start);
  PressOk(ExpectBox(*run, "自动更新", "系统升级完成！", Icon::None, "download-continued"));
  ExpectExit(*run);
  EXPECT_EQ(Column("versions", "version"), "2.0");
  EXPECT_NE(ReadFile(data_ / "requests.log").find("\tbytes=" + std::to_string(at) + "-"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(prog_ / "tmp.part" / "setup.rar"));
  EXPECT_NE(Events("client").find(ClientStarted("2.0")), std::string::npos) << Events();
}

// 6 MiB fast, then 1 KiB every 0.5 s for longer than the stall limit of 60 s.
TEST_F(WindowsWholeRun, ADownloadThatSlowsToATrickleIsNotTakenForAStall) {
  Offer("2.0", "t2");
  std::string filler(6 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<char>(i * 7919 >> 8);
  const std::string package = MakeTar({{"Trainova.dll", client2_}, {"filler.bin", filler}});
  Serve(package);
  const std::size_t slow = 130 * 1024;  // 65 s
  WriteFile(data_ / "fault",
            "setup.rar trickle " + std::to_string(package.size() - slow) + " 1024 500\n");
  auto run = Start();
  const auto box =
      run->WaitFor([](const TopWindow& w) { return w.IsMessageBox(); }, std::chrono::seconds(120));
  ASSERT_TRUE(box.has_value()) << run->SeenSummary();
  const MessageBoxView view = ReadMessageBox(box->hwnd);
  EXPECT_EQ(view.text, "系统升级完成！");
  PressOk(view.ok);
  ExpectExit(*run);
  EXPECT_EQ(ReadFile(prog_ / "filler.bin"), filler);
  EXPECT_EQ(Column("versions", "version"), "2.0");
}

}  // namespace
}  // namespace wholerun
