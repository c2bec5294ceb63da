// The desktop shortcut to the client, named by client.ini. The desktop is always a folder of the
// test's own: a scratch folder on posix, the user folder inside the wine prefix on Windows.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "contract/fixture.h"
#include "startup/modCheckFileReg.h"
#include "util/text.h"

#ifdef _WIN32
#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"
// After windows.h, whose types it needs.
#include <shlobj.h>
#else
#include <stdlib.h>
#include <sys/stat.h>

#include <optional>
#endif

namespace contract {
namespace {

using namespace updater;
namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kExtension = ".lnk";

struct LinkInfo {
  std::string target;
  std::string icon;
  int iconIndex = -1;
  WORD hotkey = 0xFFFF;
};

template <class T>
void Release(T*& p) {
  if (p != nullptr) p->Release();
  p = nullptr;
}

// The shortcut file as the shell reads it back.
LinkInfo ReadLink(const fs::path& file) {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  LinkInfo info;
  IShellLinkW* link = nullptr;
  IPersistFile* persist = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
      SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
    wchar_t text[MAX_PATH] = {};
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH)))
      info.target = win32::WideToUtf8(text);
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &info.iconIndex)))
      info.icon = win32::WideToUtf8(text);
    link->GetHotkey(&info.hotkey);
  }
  Release(persist);
  Release(link);
  if (SUCCEEDED(init)) CoUninitialize();
  return info;
}

// True when folder lies inside the wine prefix of this run; false elsewhere, on real Windows too.
bool InsideWinePrefix(const fs::path& folder) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char prefix[1024] = {};
  const DWORD n = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix));
  if (toUnix == nullptr || n == 0 || n >= sizeof(prefix)) return false;
  char* unixPath = toUnix(folder.c_str());
  if (unixPath == nullptr) return false;
  const std::string path = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return path.starts_with(std::string(prefix) + "/") && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}
#else
constexpr const char* kExtension = ".desktop";

// An environment variable changed for one test and put back after it.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedVariable() { Set(old_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

// The keys of a launcher file.
std::map<std::string, std::string> ReadLauncher(const fs::path& file) {
  std::map<std::string, std::string> keys;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return keys;
}
#endif

class DesktopShortcut : public ContractTest {
 protected:
  void SetUp() override {
    ContractTest::SetUp();
    program_ = pf().system->ProgramFolder();
    name_ = "考试练习 中文";
#ifdef _WIN32
    const fs::path desktop = TheEnv().Host(pf().shortcuts->DesktopFolder());
    if (!InsideWinePrefix(desktop)) GTEST_SKIP() << "the desktop is not a test folder";
    desktop_ = desktop;
    // Without these characters in the ANSI code page client.ini could not carry the name.
    if (win32::AnsiToUtf8(win32::Utf8ToAnsi(name_)) != name_) name_ = "Trainova Demo";
    fs::remove(Shortcut());
#else
    MakeDirs("desktop");
    desktop_ = Host("desktop");
    desktopVariable_.emplace("XDG_DESKTOP_DIR", desktop_.string());
    homeVariable_.emplace("HOME", Host("home").string());
#endif
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove(TheEnv().Host(program_ + "\\client.ini"), ignored);
#ifdef _WIN32
    if (!desktop_.empty()) fs::remove(Shortcut(), ignored);
#else
    desktopVariable_.reset();
    homeVariable_.reset();
#endif
    ContractTest::TearDown();
  }

  // client.ini in the program folder, its text in the ANSI code page as the INI service reads it.
  void WriteIni(const std::string& utf8) {
#ifdef _WIN32
    const std::string bytes = win32::Utf8ToAnsi(utf8);
#else
    const std::string& bytes = utf8;
#endif
    std::ofstream out(TheEnv().Host(program_ + "\\client.ini"), std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good());
  }

  fs::path Shortcut() const {
    const std::string file = name_ + kExtension;
    return desktop_ / std::u8string(file.begin(), file.end());
  }
  std::string Target() const { return program_ + "\\Trainova.exe"; }

  // The names on the desktop that belong to this test's shortcut.
  std::vector<std::string> OurEntries() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(desktop_, ec)) {
      const std::u8string u8 = entry.path().filename().u8string();
      const std::string name(u8.begin(), u8.end());
      if (name.find(name_) != std::string::npos) out.push_back(name);
    }
    return out;
  }

  std::size_t DesktopEntryCount() const {
    std::error_code ec;
    fs::directory_iterator it(desktop_, ec);
    return ec ? 0 : static_cast<std::size_t>(std::distance(it, fs::directory_iterator()));
  }

  std::string program_;
  std::string name_;
  fs::path desktop_;
#ifndef _WIN32
  std::optional<ScopedVariable> desktopVariable_;
  std::optional<ScopedVariable> homeVariable_;
#endif
};

TEST_F(DesktopShortcut, OneShortcutNamedByClientIniPointsToTheClientAfterEveryStart) {
  WriteIni("[initInfo]\nserver=127.0.0.1\nshortcut=" + name_ + "\n");
  for (int start = 0; start < 2; ++start) {
    modCheckFileReg::CreateDesktopShortcut(pf());
    EXPECT_EQ(OurEntries(), std::vector<std::string>{name_ + kExtension});
#ifdef _WIN32
    const LinkInfo link = ReadLink(Shortcut());
    EXPECT_TRUE(text::EqualsNoCase(link.target, Target())) << link.target;
    EXPECT_TRUE(text::EqualsNoCase(link.icon, Target())) << link.icon;
    EXPECT_EQ(link.iconIndex, 0);
    EXPECT_EQ(link.hotkey, 0);
#else
    const auto keys = ReadLauncher(Shortcut());
    const std::string target = TheEnv().Host(Target()).string();
    EXPECT_EQ(keys.at("Type"), "Application");
    EXPECT_EQ(keys.at("Name"), name_);
    EXPECT_EQ(keys.at("Exec"), "\"" + target + "\"");
    EXPECT_EQ(keys.at("Icon"), target);
    struct stat st {};
    ASSERT_EQ(::stat(Shortcut().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
#endif
    // What the user made of it is replaced at the next start.
    std::ofstream(Shortcut(), std::ios::binary | std::ios::trunc) << "changed by the user";
  }
}

TEST_F(DesktopShortcut, NoConfiguredNameWritesNothing) {
  const std::size_t before = DesktopEntryCount();
  modCheckFileReg::CreateDesktopShortcut(pf());  // no client.ini
  WriteIni("[initInfo]\nserver=127.0.0.1\n");
  modCheckFileReg::CreateDesktopShortcut(pf());
  WriteIni("[initInfo]\nshortcut=\n");
  modCheckFileReg::CreateDesktopShortcut(pf());
  WriteIni("[other]\nshortcut=" + name_ + "\n");
  modCheckFileReg::CreateDesktopShortcut(pf());
  EXPECT_TRUE(OurEntries().empty());
  EXPECT_EQ(DesktopEntryCount(), before);
}

TEST_F(DesktopShortcut, AMissingDesktopIsIgnored) {
  WriteIni("[initInfo]\nshortcut=" + name_ + "\n");
#ifdef _WIN32
  // The prefix's desktop is moved away for the duration of the call.
  const fs::path away = desktop_.parent_path() / L"Desktop moved away by a test";
  ASSERT_TRUE(MoveFileW(desktop_.c_str(), away.c_str()));
  modCheckFileReg::CreateDesktopShortcut(pf());
  const bool created = fs::exists(desktop_);
  if (created) fs::remove_all(desktop_);
  ASSERT_TRUE(MoveFileW(away.c_str(), desktop_.c_str()));
  EXPECT_FALSE(created);
#else
  fs::remove(desktop_);
  modCheckFileReg::CreateDesktopShortcut(pf());
  EXPECT_FALSE(fs::exists(desktop_));
  EXPECT_FALSE(fs::exists(Host("home")));
#endif
}

#ifndef _WIN32
TEST_F(DesktopShortcut, WithoutXdgDesktopDirTheHomeDesktopIsUsed) {
  WriteIni("[initInfo]\nshortcut=" + name_ + "\n");
  const ScopedVariable noXdg("XDG_DESKTOP_DIR", std::nullopt);
  MakeDirs("home\\Desktop");
  modCheckFileReg::CreateDesktopShortcut(pf());
  EXPECT_TRUE(IsFile("home\\Desktop\\" + name_ + ".desktop"));
  EXPECT_TRUE(OurEntries().empty());
}
#endif

}  // namespace
}  // namespace contract
