// Processes: CreateProcessA with a show state, OpenProcess, WaitForSingleObject.
#include "backends/win32/processes.h"
#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

class Win32ProcessHandle final : public ports::ProcessHandle {
 public:
  explicit Win32ProcessHandle(HANDLE handle) : handle_(handle) {}
  Win32ProcessHandle(const Win32ProcessHandle&) = delete;
  Win32ProcessHandle& operator=(const Win32ProcessHandle&) = delete;
  ~Win32ProcessHandle() override { CloseHandle(handle_); }

  std::uint32_t Wait(std::uint32_t milliseconds) override {
    return WaitForSingleObject(handle_, milliseconds);
  }

  std::optional<std::uint32_t> ExitCode() override {
    DWORD code = 0;
    if (!GetExitCodeProcess(handle_, &code)) return std::nullopt;
    // STILL_ACTIVE is also a possible exit code: only a process that has ended has one.
    if (code == STILL_ACTIVE && WaitForSingleObject(handle_, 0) != ports::WAIT_OBJECT_0) {
      return std::nullopt;
    }
    return code;
  }

 private:
  HANDLE handle_;
};

}  // namespace

Win32Processes::~Win32Processes() {
  for (const auto& [pid, handle] : started_) CloseHandle(static_cast<HANDLE>(handle));
}

std::uint32_t Win32Processes::Start(const std::string& commandLine, ports::ShowState show) {
  std::string line = Utf8ToAnsi(commandLine);
  line.push_back('\0');  // CreateProcessA may write into the command line

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  switch (show) {
    case ports::ShowState::Hidden:
      startup.wShowWindow = SW_HIDE;
      break;
    case ports::ShowState::Normal:
      startup.wShowWindow = SW_SHOWNORMAL;
      break;
    case ports::ShowState::MinimizedFocus:
      startup.wShowWindow = SW_SHOWMINIMIZED;
      break;
  }
  PROCESS_INFORMATION info{};
  // No application name: the program is found the way a command prompt finds it.
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    throw RuntimeError(kErrFileNotFound);
  }
  CloseHandle(info.hThread);
  std::lock_guard lock(mutex_);
  const auto [it, added] = started_.emplace(info.dwProcessId, info.hProcess);
  if (!added) {  // an id of a program that ended unopened is given to this one
    CloseHandle(static_cast<HANDLE>(it->second));
    it->second = info.hProcess;
  }
  return info.dwProcessId;
}

std::unique_ptr<ports::ProcessHandle> Win32Processes::OpenProcess(std::uint32_t access,
                                                                  std::uint32_t pid) {
  const HANDLE handle = ::OpenProcess(access | PROCESS_QUERY_INFORMATION, FALSE, pid);
  {
    // The kept handle has done its work once the program has been opened (or could not be).
    std::lock_guard lock(mutex_);
    const auto it = started_.find(pid);
    if (it != started_.end()) {
      CloseHandle(static_cast<HANDLE>(it->second));
      started_.erase(it);
    }
  }
  if (handle == nullptr) return nullptr;
  return std::make_unique<Win32ProcessHandle>(handle);
}

}  // namespace updater::win32
