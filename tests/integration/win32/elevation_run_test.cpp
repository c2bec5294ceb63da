// Whole runs of the Windows program where the user may not write into the system folder, as on
// a Windows PC with User Account Control: run by tests/integration/win32/run-as-user as a user
// without root rights, whose wine prefix has a system folder without write permission (wine then
// refuses writes with ERROR_ACCESS_DENIED, as Windows does). Wine starts a runas request at once,
// with the same rights, so each run shows the request (the test build records the start of the
// elevated run), what the run says when the other rights do not help, and who starts the client.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "automation.h"
#include "harness.h"
#include "tables.h"
#include "tar_writer.h"

namespace wholerun {
namespace {

namespace fs = std::filesystem;

constexpr char kElevatedRun[] = "updater elevated run\n";
constexpr char kComponent[] = "评测组件.dll";
constexpr char kSystemFile[] = "wholerun系统.txt";

bool RefusesWrites(const fs::path& folder) {
  const fs::path probe = folder / L"wholerun-probe.tmp";
  HANDLE f = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return f == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED;
}

// Sets a folder's Unix write permission, which wine's answers follow: /bin/chmod, which wine
// starts as a Linux process (a Windows program has no other way to it).
void SetUnixWritable(const fs::path& folder, bool writable) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return;
  char* name = unixName(folder.c_str());
  if (name == nullptr) return;
  std::wstring command = std::wstring(L"/bin/chmod ") + (writable ? L"u+w " : L"a-w ") +
                         std::wstring(name, name + std::strlen(name));
  HeapFree(GetProcessHeap(), 0, name);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    return;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  // Wine does not tell when a Linux process ends: wait for its effect (started from an emulated
  // 32-bit process on a loaded machine, it was seen to take over 10 s).
  for (int i = 0; i < 600 && RefusesWrites(folder) == writable; ++i) Sleep(50);
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ElevationRun : public testing::Test {
 protected:
  void SetUp() override {
    if (!RefusesWrites(SystemFolder())) {
      GTEST_SKIP() << "the system folder is writable: run through run-as-user";
    }
    if (!CanMakeWindows()) GTEST_SKIP() << "no X display";
    url_ = Env("AUTOUPDATE_TEST_SERVER");
    if (url_.empty()) GTEST_SKIP() << "no reference server";
    std::string data = Env("AUTOUPDATE_TEST_SERVER_DATA");
    std::replace(data.begin(), data.end(), '/', '\\');
    data_ = Wide("Z:" + data);

    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    root_ = fs::path(temp) / L"autoupdate-elevation" /
            Wide(testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    prog_ = root_ / "program";  // a plain name: wine passes a Linux command line on its own way
    log_ = root_ / "events.log";
    client2_ = LayOutProgramFolder(prog_, log_);
    // The support log goes into this test's folder; both processes would find it there.
    SetEnvironmentVariableW(L"LOCALAPPDATA", (root_ / "AppData").c_str());
    fs::remove(Shortcut());

    WriteFile(prog_ / "project.mdb",
              FormatTables({{"system", {"upserverurl", "indatetime"}, {{url_, std::nullopt}}},
                            {"versions",
                             {"version", "updatetime", "updatecmt", "versionT"},
                             {{"1.0", "t1", "", "0"}}},
                            {"projectList", {"project_No", "project_URL"}, {}}}));
    WriteFile(prog_ / "client.ini", "[initInfo]\r\nserver=" + url_ + "\r\n");
    fs::remove(data_ / "fault");  // left by another suite of the same server
    fs::remove_all(data_ / "uploads");
    Offer("1.0", "t1");
  }

  void TearDown() override {
    SetUnixWritable(prog_, true);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void Offer(const std::string& version, const std::string& time) {
    WriteFile(data_ / "version_no", version);
    WriteFile(data_ / "update_time", time);
    WriteFile(data_ / "soft_cmt", "说明");
  }
  std::string Events(const std::string& what) {
    return WaitForText(log_, what, std::chrono::seconds(15));
  }
  void ExpectBox(Process& p, const std::string& text) {
    const auto w = p.Next();
    ASSERT_TRUE(w && w->IsMessageBox()) << "no box \"" << text << "\"; seen: " << p.SeenSummary();
    const MessageBoxView box = ReadMessageBox(w->hwnd);
    EXPECT_EQ(box.title, "自动更新");
    EXPECT_EQ(box.text, text);
    Press(box.ok);
  }
  // Starts the updater as the user does, answers the message box that says box (none when empty)
  // and waits for its end, with status 0; run keeps the process for what the test looks at after.
  void RunToTheEnd(std::unique_ptr<Process>& run, const std::string& box) {
    run = std::make_unique<Process>(prog_ / "autoupdate.exe", root_);
    ASSERT_TRUE(run->started());
    if (!box.empty()) ExpectBox(*run, box);
    const auto exit = run->Exit();
    ASSERT_TRUE(exit.has_value()) << run->SeenSummary();
    EXPECT_EQ(*exit, 0u);
  }
  // The client's line as the user's process starts it: once, whatever the elevated run did.
  void ExpectClientOnce(const std::string& version) {
    const std::string events = Events("client");
    EXPECT_EQ(Count(events, "client "), 1u) << events;
    EXPECT_NE(events.find("client " + version + " arguments=0"), std::string::npos) << events;
  }

  fs::path Shortcut() {
    wchar_t profile[MAX_PATH] = {};
    GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    return fs::path(profile) / "Desktop" / L"elevation-practice.lnk";
  }
  std::string SupportLog() {
    std::string text;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(root_ / "AppData" / "autoupdate", ec)) {
      text += ReadFile(e.path());
    }
    return text;
  }

  std::string url_, client2_;
  fs::path data_, root_, prog_, log_;
};

TEST_F(ElevationRun, AComponentForTheSystemFolderAsksOnceAndTheClientStartsOnce) {
  // Wine's shell answers 0 for a copy into a folder it may not write (Windows answers an
  // error, and the run shows its message), so only the request and the client are seen here.
  WriteFile(prog_ / "DLL" / Wide(kComponent), "not really a component");
  WriteFile(prog_ / "client.ini",
            "[initInfo]\r\nserver=" + url_ + "\r\nshortcut=elevation-practice\r\n");
  std::unique_ptr<Process> run;
  ASSERT_NO_FATAL_FAILURE(RunToTheEnd(run, ""));
  ExpectClientOnce("1.0");
  EXPECT_EQ(Count(Events(""), kElevatedRun), 1u) << Events("");
  EXPECT_FALSE(fs::exists(SystemFolder() / Wide(kComponent)));
  // The elevated run did the component and nothing per user: the shortcut and the log are the
  // user's process's, which logs one run.
  EXPECT_TRUE(fs::exists(Shortcut()));
  const std::string log = SupportLog();
  EXPECT_EQ(Count(log, "start: autoupdate "), 1u) << log;
  EXPECT_NE(log.find("elevation: the elevated run is done"), std::string::npos) << log;
}

TEST_F(ElevationRun, AProtectedProgramFolderAsksOnceAndTheRunEndsWithItsWrittenMessage) {
  Offer("2.0", "t2");
  // No address in client.ini: nothing is stored before the upgrade (the folder refuses it).
  WriteFile(prog_ / "client.ini", "[initInfo]\r\n");
  SetUnixWritable(prog_, false);
  ASSERT_TRUE(RefusesWrites(prog_));
  // The elevated run cannot make tmp either: the message of today, then the end, no client.
  std::unique_ptr<Process> run;
  ASSERT_NO_FATAL_FAILURE(RunToTheEnd(run, "升级失败，错误：清理文件失败！"));
  EXPECT_EQ(Count(Events(""), kElevatedRun), 1u) << Events("");
  EXPECT_EQ(Count(Events(""), "client "), 0u) << Events("");
  EXPECT_FALSE(run->Next(std::chrono::milliseconds(300)).has_value()) << run->SeenSummary();
  EXPECT_EQ(ColumnValues(ReadFile(prog_ / "project.mdb"), "versions", "version"), "1.0");
}

TEST_F(ElevationRun, APackageWithSystemFilesAsksOnceAndTheUsersProcessStartsTheNewClient) {
  Offer("2.0", "t2");
  WriteFile(data_ / "uploads" / "soft" / "setup.rar",
            MakeTar({{"Trainova.dll", client2_},
                     {"system32/", ""},
                     {std::string("system32/") + kSystemFile, "系统"}}));
  // Only the system folder is refused, and its copies are not checked: the run completes.
  std::unique_ptr<Process> run;
  ASSERT_NO_FATAL_FAILURE(RunToTheEnd(run, "系统升级完成！"));
  ExpectClientOnce("2.0");
  EXPECT_EQ(Count(Events(""), kElevatedRun), 1u) << Events("");
  EXPECT_FALSE(fs::exists(SystemFolder() / Wide(kSystemFile)));
  EXPECT_EQ(ColumnValues(ReadFile(prog_ / "project.mdb"), "versions", "version"), "2.0");
}

}  // namespace
}  // namespace wholerun
