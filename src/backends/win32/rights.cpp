#include "backends/win32/rights.h"

#include <cwchar>
#include <vector>

#include "backends/win32/ansi.h"
#include "backends/win32/instance.h"
#include "backends/win32/windows_api.h"
#include "ports/system.h"
// After windows_api.h: it needs the types of windows.h.
#include <ntsecapi.h>
#include <sddl.h>

namespace updater::win32 {

namespace {

std::wstring OwnProgram() {
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::wstring(path.data(), n < path.size() ? n : 0);
}

// The proof that the run holding the program folder's lock started a process for elevation: an
// event whose name holds a secret made for that one start, alive while that run waits. Only
// the started process learns the secret (on its command line), so a start with the switch by
// anyone else finds no such event.
std::wstring ProofName(const std::wstring& secret) {
  const std::wstring program = OwnProgram();
  const std::wstring folder = program.substr(0, program.find_last_of(L"\\/"));
  return L"Local\\AutoUpdate-" + Win32InstanceLocks::FolderKey(WideToUtf8(folder)) + L"-elevated-" +
         secret;
}

constexpr std::size_t kSecretLength = 32;  // hex digits

std::wstring NewSecret() {
  unsigned char bytes[kSecretLength / 2] = {};
  if (!RtlGenRandom(bytes, sizeof bytes)) return {};
  std::wstring secret;
  for (const unsigned char b : bytes) {
    wchar_t hex[3] = {};
    std::swprintf(hex, 3, L"%02x", b);
    secret += hex;
  }
  return secret;
}

bool IsSecret(const wchar_t* text) {
  if (std::wcslen(text) != kSecretLength) return false;
  for (const wchar_t* c = text; *c != L'\0'; ++c) {
    if (!((*c >= L'0' && *c <= L'9') || (*c >= L'a' && *c <= L'f'))) return false;
  }
  return true;
}

// The event of a start for elevation; null when it cannot be made.
HANDLE MakeProof(const std::wstring& secret) {
  // Whoever runs the elevated copy (another user when an administrator's password was typed
  // in) may wait on it; the name is what proves.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:(A;;0x00100000;;;WD)", SDDL_REVISION_1, &descriptor, nullptr)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  HANDLE event = CreateEventW(&attributes, TRUE, FALSE, ProofName(secret).c_str());
  const bool fresh = event != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  LocalFree(descriptor);
  if (event != nullptr && !fresh) {
    CloseHandle(event);
    return nullptr;
  }
  return event;
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
  if (startedForElevation_) return *startedForElevation_;
  startedForElevation_ = false;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return false;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::wcscmp(argv[i], kElevatedArgument) != 0 || !IsSecret(argv[i + 1])) continue;
    if (HANDLE proof = OpenEventW(ports::SYNCHRONIZE, FALSE, ProofName(argv[i + 1]).c_str())) {
      CloseHandle(proof);
      startedForElevation_ = true;
    }
    break;
  }
  LocalFree(argv);
  return *startedForElevation_;
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
  const std::wstring secret = NewSecret();
  HANDLE proof = secret.empty() ? nullptr : MakeProof(secret);
  // Without a proof the other process would be an ordinary second start, ending at once.
  if (proof == nullptr) return ports::ElevatedRun::NotStarted;
  const std::wstring parameters = std::wstring(kElevatedArgument) + L" " + secret;
  SHELLEXECUTEINFOW request = {};
  request.cbSize = sizeof request;
  // No error box of the shell: a declined prompt or a failed start lets the run go on here with
  // the messages it has always shown.
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  request.hwnd = PromptOwner();
  request.lpVerb = L"runas";
  request.lpFile = program.c_str();
  request.lpParameters = parameters.c_str();
  request.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&request) || request.hProcess == nullptr) {
    CloseHandle(proof);
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
  CloseHandle(proof);
  return known && status == kClientWantedExit ? ports::ElevatedRun::ClientWanted
                                              : ports::ElevatedRun::Ended;
}

void Win32Rights::EndForClient() { ExitProcess(kClientWantedExit); }

}  // namespace updater::win32
