#include "backends/win32/errors.h"

#include <cwctype>

#include "backends/win32/ansi.h"
#include "ports/errors.h"

namespace updater::win32 {

int HResultFromWin32(DWORD code) { return static_cast<int>(0x80070000u | (code & 0xFFFFu)); }

std::string WinInetErrorText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"wininet.dll"), code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0) {
    n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  }
  std::wstring message = n != 0 ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && std::iswspace(message.back())) message.pop_back();
  if (message.empty()) return "WinINet error " + std::to_string(code);
  return WideToUtf8(message);
}

void ThrowFileError(DWORD code) {
  switch (code) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
      throw RuntimeError(kErrPathNotFound);
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      throw RuntimeError(kErrBadFileName);
    default:
      throw RuntimeError(kErrPathFileAccess);
  }
}

void ThrowWriteError(DWORD code) {
  if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) {
    throw RuntimeError(kErrDiskFull);
  }
  throw RuntimeError(kErrDeviceIo);
}

}  // namespace updater::win32
