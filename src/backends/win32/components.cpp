#include "backends/win32/components.h"

#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"
#include "ports/system.h"

namespace updater::win32 {

namespace {

using ports::EntryPointOutcome;
using EntryPoint = HRESULT(STDAPICALLTYPE*)();

// How long to wait, after ending an overrunning worker, for it to be gone before its library is
// released: TerminateThread only starts the ending.
constexpr DWORD kEndedWorkerGraceMs = 1000;

// The entry point takes no argument; the thread routine has one. The thread's exit code is the
// entry point's result.
DWORD WINAPI RunWorker(LPVOID parameter) {
  const auto entry = reinterpret_cast<EntryPoint>(parameter);
  return static_cast<DWORD>(entry());
}

}  // namespace

EntryPointOutcome Win32Components::RunEntryPoint(const std::string& path,
                                                 const std::string& entryPoint,
                                                 std::uint32_t timeoutMs) {
  const HMODULE library = LoadLibraryA(Utf8ToAnsi(path).c_str());
  if (library == nullptr) return EntryPointOutcome::NotLoadable;
  const FARPROC address = GetProcAddress(library, Utf8ToAnsi(entryPoint).c_str());
  if (address == nullptr) {
    FreeLibrary(library);
    return EntryPointOutcome::NoEntryPoint;
  }
  // Through void(*)(): a cast between unrelated function pointer types would warn.
  const auto entry = reinterpret_cast<EntryPoint>(reinterpret_cast<void (*)()>(address));
  const HANDLE thread =
      CreateThread(nullptr, 0, RunWorker, reinterpret_cast<LPVOID>(entry), 0, nullptr);
  if (thread == nullptr) {
    FreeLibrary(library);
    return EntryPointOutcome::NoWorker;
  }
  if (WaitForSingleObject(thread, timeoutMs) == ports::WAIT_OBJECT_0) {
    CloseHandle(thread);
    FreeLibrary(library);
    return EntryPointOutcome::Finished;
  }
  DWORD exitCode = 0;
  GetExitCodeThread(thread, &exitCode);
  TerminateThread(thread, exitCode);
  // The library's code must not be unmapped under a thread that has not stopped yet.
  WaitForSingleObject(thread, kEndedWorkerGraceMs);
  CloseHandle(thread);
  FreeLibrary(library);
  return EntryPointOutcome::TimedOut;
}

}  // namespace updater::win32
