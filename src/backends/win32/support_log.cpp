#include "backends/win32/support_log.h"

#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"
// After windows_api.h: it needs the types of windows.h.
#include <shlobj.h>

namespace updater::win32 {

namespace fs = std::filesystem;

Win32SupportLog::Win32SupportLog(const std::string& programFolder, const fs::path& folder) {
  Place(folder, programFolder, fs::path(Utf8ToWide(programFolder)), /*ignoreCase=*/true);
}

fs::path Win32SupportLog::DefaultFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH + 1);
  if (n > 0 && n <= MAX_PATH) return fs::path(buffer) / L"autoupdate";
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, buffer))) {
    return fs::path(buffer) / L"autoupdate";
  }
  return {};
}

LogTime Win32SupportLog::Now() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  TIME_ZONE_INFORMATION zone{};
  LONG bias = 0;
  switch (GetTimeZoneInformation(&zone)) {
    case TIME_ZONE_ID_STANDARD:
      bias = zone.Bias + zone.StandardBias;
      break;
    case TIME_ZONE_ID_DAYLIGHT:
      bias = zone.Bias + zone.DaylightBias;
      break;
    case TIME_ZONE_ID_UNKNOWN:
      bias = zone.Bias;
      break;
    default:
      break;
  }
  return {t.wYear,   t.wMonth,  t.wDay,          t.wHour,
          t.wMinute, t.wSecond, t.wMilliseconds, static_cast<int>(-bias)};
}

unsigned long Win32SupportLog::ProcessId() { return GetCurrentProcessId(); }

bool Win32SupportLog::Append(const fs::path& file, const std::string& bytes) {
  // Shared every way: an elevated and an unelevated updater of one folder may both write, and
  // the older file is made by renaming this one.
  HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok != FALSE && written == bytes.size();
}

}  // namespace updater::win32
