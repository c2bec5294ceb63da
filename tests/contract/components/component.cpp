// A component whose self-registration entry points the contract suite runs. Built once per
// behaviour: COMPONENT_QUICK returns S_OK, COMPONENT_FAILING returns E_FAIL, COMPONENT_SLEEPER
// runs for a minute, COMPONENT_NO_EXPORT has no entry points. Every entry point appends its name
// to the file named by COMPONENT_TEST_LOG; the sleeper then appends "tick" every 50 ms, so a test
// can see whether it was really stopped.

#ifdef _WIN32
#include <windows.h>
#define COMPONENT_EXPORT extern "C" __declspec(dllexport)
#define COMPONENT_CALL __stdcall
#else
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#define COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))
#define COMPONENT_CALL
#endif

#include <cstring>

namespace {

[[maybe_unused]] constexpr long kOk = 0;
[[maybe_unused]] constexpr long kFail = static_cast<long>(0x80004005UL);

// One append per line, so lines never mix.
void Note(const char* line) {
  const std::size_t length = std::strlen(line);
#ifdef _WIN32
  wchar_t log[1024];
  const DWORD n = GetEnvironmentVariableW(L"COMPONENT_TEST_LOG", log, 1024);
  if (n == 0 || n >= 1024) return;
  const HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char buffer[64];
  std::memcpy(buffer, line, length);
  buffer[length] = '\n';
  DWORD written = 0;
  WriteFile(file, buffer, static_cast<DWORD>(length + 1), &written, nullptr);
  CloseHandle(file);
#else
  const char* log = getenv("COMPONENT_TEST_LOG");
  if (log == nullptr) return;
  const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char buffer[64];
  std::memcpy(buffer, line, length);
  buffer[length] = '\n';
  const ssize_t written = write(fd, buffer, length + 1);
  (void)written;
  close(fd);
#endif
}

[[maybe_unused]] void Pause50Ms() {
#ifdef _WIN32
  Sleep(50);
#else
  const timespec step{0, 50 * 1000 * 1000};
  nanosleep(&step, nullptr);
#endif
}

[[maybe_unused]] long Run(const char* name) {
  Note(name);
#if defined(COMPONENT_FAILING)
  return kFail;
#elif defined(COMPONENT_SLEEPER)
  for (int i = 0; i < 1200; ++i) {
    Pause50Ms();
    Note("tick");
  }
  Note("woke");
  return kOk;
#else
  return kOk;
#endif
}

}  // namespace

#ifdef COMPONENT_NO_EXPORT
COMPONENT_EXPORT long COMPONENT_CALL ComponentVersion() { return 1; }
#else
COMPONENT_EXPORT long COMPONENT_CALL DllRegisterServer() { return Run("DllRegisterServer"); }
COMPONENT_EXPORT long COMPONENT_CALL DllUnregisterServer() { return Run("DllUnregisterServer"); }
#endif
