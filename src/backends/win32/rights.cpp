#include "backends/win32/rights.h"

#include <cwchar>
#include <vector>

#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"
#include "ports/system.h"

namespace updater::win32 {

namespace {

std::wstring OwnProgram() {
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::wstring(path.data(), n < path.size() ? n : 0);
}

// The window the consent prompt belongs to: this process's active one, when it has one.
HWND PromptOwner() {
  HWND window = GetForegroundWindow();
  DWORD pid = 0;
  if (window != nullptr) GetWindowThreadProcessId(window, &pid);
  return pid == GetCurrentProcessId() ? window : nullptr;
}

}  // namespace

bool Win32Rights::StartedForElevation() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return false;
  bool found = false;
  for (int i = 1; i < argc && !found; ++i) found = std::wcscmp(argv[i], kElevatedArgument) == 0;
  LocalFree(argv);
  return found;
}

bool Win32Rights::IsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  // Before Vista there is no elevation to ask for: the call fails and the answer is no.
  const BOOL known =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

bool Win32Rights::WriteDenied(const std::string& folder) {
  for (unsigned attempt = 0; attempt < 16; ++attempt) {
    wchar_t name[64] = {};
    std::swprintf(name, 64, L"\\~autoupdate-%lu-%lu-%u.tmp", GetCurrentProcessId(), GetTickCount(),
                  attempt);
    const std::wstring probe = Utf8ToWide(folder) + name;
    // Removed by the system when closed, even should this process end first.
    HANDLE file = CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return false;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS) return error == ERROR_ACCESS_DENIED;
  }
  return false;
}

ports::ElevatedRun Win32Rights::RunElevated() {
  const std::wstring program = OwnProgram();
  if (program.empty()) return ports::ElevatedRun::NotStarted;
  SHELLEXECUTEINFOW request = {};
  request.cbSize = sizeof request;
  // No error box of the shell: a declined prompt or a failed start lets the run go on here with
  // the messages it has always shown.
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  request.hwnd = PromptOwner();
  request.lpVerb = L"runas";
  request.lpFile = program.c_str();
  request.lpParameters = kElevatedArgument;
  request.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&request) || request.hProcess == nullptr) {
    return ports::ElevatedRun::NotStarted;
  }
  // This process's windows stay painted while the other one runs.
  for (;;) {
    const DWORD woken =
        MsgWaitForMultipleObjectsEx(1, &request.hProcess, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken == ports::WAIT_OBJECT_0) break;
    if (woken == ports::WAIT_FAILED) {
      WaitForSingleObject(request.hProcess, ports::INFINITE);
      break;
    }
    if (whileWaiting_) {
      whileWaiting_();
    } else {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
  }
  DWORD status = 0;
  const BOOL known = GetExitCodeProcess(request.hProcess, &status);
  CloseHandle(request.hProcess);
  return known && status == kClientWantedExit ? ports::ElevatedRun::ClientWanted
                                              : ports::ElevatedRun::Ended;
}

void Win32Rights::EndForClient() { ExitProcess(kClientWantedExit); }

}  // namespace updater::win32
