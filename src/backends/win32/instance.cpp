#include "backends/win32/instance.h"

#include <cstdint>
#include <cwchar>
#include <vector>

#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"
#include "ports/system.h"

namespace updater::win32 {

class HeldMutex final : public ports::InstanceLocks::Held {
 public:
  HeldMutex(HANDLE mutex, HANDLE mapping, HANDLE event, Win32InstanceLocks* locks)
      : mutex_(mutex), mapping_(mapping), event_(event), locks_(locks) {}
  ~HeldMutex() override {
    if (locks_ != nullptr) locks_->Forget(event_);
    if (event_ != nullptr) CloseHandle(event_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
    if (mutex_ != nullptr) CloseHandle(mutex_);
  }
  HeldMutex(const HeldMutex&) = delete;
  HeldMutex& operator=(const HeldMutex&) = delete;

 private:
  HANDLE mutex_;
  HANDLE mapping_;
  HANDLE event_;
  Win32InstanceLocks* locks_;
};

namespace {

constexpr wchar_t kFormClass[] = L"AutoUpdateForm";

// The id of the first updater, where it published one in this session; 0 otherwise.
DWORD PublishedProcess(const std::wstring& name) {
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
  if (mapping == nullptr) return 0;
  DWORD pid = 0;
  if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(DWORD))) {
    pid = *static_cast<const volatile DWORD*>(view);
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return pid;
}

HANDLE Publish(const std::wstring& name) {
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(DWORD), name.c_str());
  if (mapping == nullptr) return nullptr;
  if (void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(DWORD))) {
    *static_cast<volatile DWORD*>(view) = GetCurrentProcessId();
    UnmapViewOfFile(view);
  }
  return mapping;
}

struct Search {
  DWORD pid = 0;
  HWND found = nullptr;
};

BOOL CALLBACK VisitWindow(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != search->pid || !IsWindowVisible(hwnd)) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  if (std::wcscmp(cls, kFormClass) != 0) return TRUE;
  search->found = hwnd;
  return FALSE;
}

// Asks the first updater to show its window, which it keeps hidden during the automatic run,
// and brings its window (or the message box it waits on) to the front.
void ShowFirst(DWORD pid, const std::wstring& eventName) {
  if (pid == 0 || pid == GetCurrentProcessId()) return;
  // This process was started by the user and may take the foreground: it lets the first one
  // take it in its place.
  AllowSetForegroundWindow(pid);
  if (HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str())) {
    SetEvent(event);
    CloseHandle(event);
  }
  Search search;
  search.pid = pid;
  EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return;  // the first one shows nothing (yet)
  if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(search.found));
}

}  // namespace

std::wstring Win32InstanceLocks::FolderKey(const std::string& folder) {
  std::wstring path = Utf8ToWide(folder);
  std::vector<wchar_t> full(32768);
  const DWORD n =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n > 0 && n < full.size()) path.assign(full.data(), n);
  // One folder has one key: without trailing separators, and in its long form where it exists.
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  const DWORD longN = GetLongPathNameW(path.c_str(), full.data(), static_cast<DWORD>(full.size()));
  if (longN > 0 && longN < full.size()) path.assign(full.data(), longN);
  if (!path.empty()) CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the UTF-16 units
  for (wchar_t c : path) {
    hash ^= static_cast<std::uint16_t>(c);
    hash *= 1099511628211ull;
  }
  wchar_t text[17] = {};
  std::swprintf(text, 17, L"%016llx", static_cast<unsigned long long>(hash));
  return text;
}

namespace {
std::wstring MutexName(const std::wstring& key) { return L"Global\\AutoUpdate-" + key; }
std::wstring WindowName(const std::wstring& key) {
  return L"Local\\AutoUpdate-" + key + L"-process";
}
}  // namespace

std::unique_ptr<ports::InstanceLocks::Held> Win32InstanceLocks::Claim(const std::string& folder) {
  const std::wstring key = FolderKey(folder);
  const std::wstring mutexName = MutexName(key);
  const std::wstring windowName = WindowName(key);
  const std::wstring eventName = L"Local\\AutoUpdate-" + key + L"-show";
  HANDLE mutex = CreateMutexW(nullptr, FALSE, mutexName.c_str());
  const DWORD error = GetLastError();
  if (mutex != nullptr && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    ShowFirst(PublishedProcess(windowName), eventName);
    return nullptr;
  }
  if (mutex == nullptr) {
    if (error == ERROR_ACCESS_DENIED) {
      // Either another user's updater made the mutex and its security keeps this user out, or
      // this process may not make one at all: only the first means another updater runs.
      HANDLE existing = OpenMutexW(MUTEX_MODIFY_STATE, FALSE, mutexName.c_str());
      const DWORD openError = GetLastError();
      if (existing != nullptr) CloseHandle(existing);
      if (existing != nullptr || openError == ERROR_ACCESS_DENIED) return nullptr;
    }
    // No mutex could be made: nothing can be locked, and the run goes on as it would without.
    return std::make_unique<HeldMutex>(nullptr, nullptr, nullptr, nullptr);
  }
  // Auto-reset: each request is seen once.
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, eventName.c_str());
  showEvent_ = event;
  return std::make_unique<HeldMutex>(mutex, Publish(windowName), event, this);
}

bool Win32InstanceLocks::ShowRequested() {
  return showEvent_ != nullptr && WaitForSingleObject(showEvent_, 0) == ports::WAIT_OBJECT_0;
}

void Win32InstanceLocks::Forget(void* event) {
  if (event == showEvent_) showEvent_ = nullptr;
}

std::unique_ptr<ports::InstanceLocks::Held> Win32InstanceLocks::Join(const std::string& folder) {
  const std::wstring key = FolderKey(folder);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName(key).c_str());
  // The process that asked for elevation keeps the requests to show a window: it is the one
  // whose window the user sees.
  return std::make_unique<HeldMutex>(mutex, Publish(WindowName(key)), nullptr, nullptr);
}

}  // namespace updater::win32
