#pragma once
// The whole-run tests' event log: the stand-ins append one UTF-8 line each to the file named by
// the environment variable WHOLERUN_LOG, which they inherit from the updater, which inherits it
// from the test. Without the variable nothing is written.

#include <windows.h>

#include <string>

namespace wholerun {

inline std::string ToUtf8(const std::wstring& wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

inline void AppendEvent(const std::wstring& line) {
  wchar_t path[MAX_PATH * 2] = {};
  if (GetEnvironmentVariableW(L"WHOLERUN_LOG", path, MAX_PATH * 2) == 0) return;
  const std::string bytes = ToUtf8(line + L"\n");
  // Several processes may write at once; one append each, retried while another holds the file.
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD put = 0;
      WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
      CloseHandle(f);
      return;
    }
    Sleep(20);
  }
}

}  // namespace wholerun
