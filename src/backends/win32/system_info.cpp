// SystemInfo: IsWow64Process, GetSystemDirectoryA, the folder of the running program.
#include "backends/win32/system_info.h"
#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"

namespace updater::win32 {

bool Win32SystemInfo::IsWow64Process(bool& wow64) {
  // Looked up at run time: kernel32 of older systems does not have it, and the program must
  // still start there.
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return false;
  const auto fn = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process")));
  if (fn == nullptr) return false;
  BOOL flag = FALSE;
  const BOOL ok = fn(GetCurrentProcess(), &flag);
  if (ok != FALSE) wow64 = flag != FALSE;
  return ok != FALSE;
}

std::string Win32SystemInfo::GetSystemDirectory(std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  std::string buffer(bufferSize, '\0');
  const UINT n = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(bufferSize));
  // 0 is a failure; a result of bufferSize or more is the size the buffer would have needed.
  if (n == 0 || n >= bufferSize) return {};
  buffer.resize(n);
  return AnsiToUtf8(buffer);
}

std::string Win32SystemInfo::ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // cut: try again with a larger buffer
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  return WideToUtf8(std::wstring_view(path).substr(0, slash));
}

}  // namespace updater::win32
