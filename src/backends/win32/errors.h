#pragma once
// Windows error codes as the program reports them.

#include <string>

#include "backends/win32/windows_api.h"

namespace updater::win32 {

// A Win32 error code in the HRESULT form COM and the program's error reports use.
int HResultFromWin32(DWORD code);

// The text of a WinINet (or else system) error code, without trailing blanks.
std::string WinInetErrorText(DWORD code);

// Throws the run-time error a failed file or folder creation stands for: 76 when the path is not
// found, 52 for a bad name, 75 otherwise (it exists, access is denied, ...).
[[noreturn]] void ThrowFileError(DWORD code);

// Throws the run-time error a failed write stands for: 61 for a full disk, 57 otherwise.
[[noreturn]] void ThrowWriteError(DWORD code);

}  // namespace updater::win32
