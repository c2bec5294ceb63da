// The contract suite's environment for the win32 backend. Scratch folders lie under a root in
// the temp folder whose name holds a blank and Chinese characters, so that every test passes
// through the conversions to and from the ANSI code page.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "backends/win32/ansi.h"
#include "backends/win32/file_io.h"
#include "backends/win32/net.h"
#include "backends/win32/platform.h"
#include "backends/win32/support_log.h"
#include "backends/win32/windows_api.h"
#include "contract/env.h"
#include "contract/win32/test_authority.h"
#include "contract/win32/test_database.h"
#include "settings/LocalDatabase.h"

namespace contract {

namespace {

namespace fs = std::filesystem;
using updater::win32::Utf8ToWide;
using updater::win32::WideToUtf8;

// True when every character of text has a form in the ANSI code page.
bool FitsAnsiCodePage(const std::wstring& text) {
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr,
                      &usedDefault);
  return usedDefault == FALSE;
}

fs::path ExecutableFolder() {
  std::wstring path(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  return fs::path(path).parent_path();
}

class Win32Env final : public Env {
 public:
  Win32Env() {
    std::wstring name = L"autoupdate contract \u4e2d\u6587";
    // Under a code page without these characters the ...A services could not name the folder.
    if (!FitsAnsiCodePage(name)) name = L"autoupdate contract";
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    root_ = fs::path(temp) / (name + L"-" + std::to_wstring(GetCurrentProcessId()));
  }
  ~Win32Env() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  updater::Platform& platform() override { return backend_.platform(); }

  fs::path Host(const std::string& corePath) override { return fs::path(Utf8ToWide(corePath)); }

  std::string NewScratchFolder() override {
    fs::path folder;
    do {
      folder = root_ / ("case-" + std::to_string(++cases_));
    } while (fs::exists(folder));
    fs::create_directories(folder);
    return WideToUtf8(folder.wstring());
  }

  std::string ChildProgram() override {
    return WideToUtf8((ExecutableFolder() / CONTRACT_CHILD_NAME).wstring());
  }

  bool IsWindows() const override { return true; }

  // The server runs on the Linux side (scripts/with-update-server); its data folder is reached
  // through wine's drive Z:, the root of the Unix file system.
  std::string ServerUrl() override {
    const char* url = std::getenv("AUTOUPDATE_TEST_SERVER");
    return url != nullptr ? url : "";
  }
  fs::path ServerData() override {
    const char* data = std::getenv("AUTOUPDATE_TEST_SERVER_DATA");
    std::string path = data != nullptr ? data : "";
    std::replace(path.begin(), path.end(), '/', '\\');
    return fs::path(Utf8ToWide("Z:" + path));
  }
  std::unique_ptr<updater::ports::Net> NewNet(std::chrono::milliseconds connect,
                                              std::chrono::milliseconds total) override {
    return std::make_unique<updater::win32::Win32Net>(updater::HttpLimits{connect, total});
  }
  std::unique_ptr<updater::ports::FileIO> NewFileIO(std::chrono::milliseconds stall) override {
    updater::TransferLimits limits;
    limits.stall = stall;
    return std::make_unique<updater::win32::Win32FileIO>(limits);
  }

  std::string SecureServerUrl() override {
    const char* url = std::getenv("AUTOUPDATE_TEST_TLS_SERVER");
    return url != nullptr ? url : "";
  }
  // WinINet checks certificates against the machine's trusted roots only: the test authority is
  // added to the Root store of this test prefix, and the ports are the product's own.
  std::unique_ptr<updater::ports::Net> NewTrustingNet() override {
    TrustTestAuthority();
    return std::make_unique<updater::win32::Win32Net>();
  }
  std::unique_ptr<updater::ports::FileIO> NewTrustingFileIO() override {
    TrustTestAuthority();
    return std::make_unique<updater::win32::Win32FileIO>();
  }

  std::string CreateTestDatabase(const std::string& folder) override {
    return CreateJetDatabase(updater::LocalDatabase::ConnectionString(folder));
  }

  std::unique_ptr<updater::ports::SupportLog> NewSupportLog(const std::string& programFolder,
                                                            const std::string& folder) override {
    return std::make_unique<updater::win32::Win32SupportLog>(programFolder, Host(folder));
  }

 private:
  void TrustTestAuthority() {
    if (trusted_) return;
    trusted_ = true;
    const char* ca = std::getenv("AUTOUPDATE_TEST_CA");
    std::string path = ca != nullptr ? ca : "";
    if (path.empty()) return;
    std::replace(path.begin(), path.end(), '/', '\\');
    AddRootCertificate(fs::path(Utf8ToWide("Z:" + path)));
  }

  updater::win32::Win32Platform backend_;
  bool trusted_ = false;
  fs::path root_;
  std::atomic<int> cases_{0};
};

}  // namespace

Env& TheEnv() {
  static Win32Env env;
  return env;
}

}  // namespace contract
