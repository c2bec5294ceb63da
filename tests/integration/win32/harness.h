#pragma once
// What every Windows whole-run test needs around the program: files, the environment, the
// folders of the test and of the system, and whether windows can be made at all.

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace wholerun {

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

inline std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

inline std::filesystem::path ExecutableFolder() {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  return std::filesystem::path(path).parent_path();
}

// The text of a log file once it holds what (without regard to case), or once timeout passed
// without it; at once when what is empty.
inline std::string WaitForText(const std::filesystem::path& log, const std::string& what,
                               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string text = ReadFile(log);
  while (!what.empty() && Lower(text).find(Lower(what)) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    text = ReadFile(log);
  }
  return text;
}

// Where the program under test puts components. It is built for the same architecture as this
// test: the i686 program under WOW64 uses SysWOW64, a 64-bit (or a native 32-bit) one System32.
inline std::filesystem::path SystemFolder() {
  wchar_t path[MAX_PATH] = {};
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64 ||
      GetSystemWow64DirectoryW(path, MAX_PATH) == 0) {
    GetSystemDirectoryW(path, MAX_PATH);
  }
  return path;
}

#if defined(UPDATER_NAME) && defined(RAR_NAME) && defined(CLIENT_1_NAME) && defined(CLIENT_2_NAME)
// Lays out program as installed, from the test programs built beside this one: the updater, the
// archiver, client 1.0 and an empty DLL folder; the events of the stand-ins go to log. Gives
// client 2.0's bytes, what an upgrade should install.
inline std::string LayOutProgramFolder(const std::filesystem::path& program,
                                       const std::filesystem::path& log) {
  std::filesystem::create_directories(program / "DLL");
  const std::filesystem::path bin = ExecutableFolder();
  std::filesystem::copy_file(bin / UPDATER_NAME, program / "autoupdate.exe");
  std::filesystem::copy_file(bin / RAR_NAME, program / "rar.exe");
  std::filesystem::copy_file(bin / CLIENT_1_NAME, program / "Trainova.dll");
  SetEnvironmentVariableW(L"WHOLERUN_LOG", log.c_str());
  return ReadFile(bin / CLIENT_2_NAME);
}
#endif

// False without an X display under wine: no window of the program could be shown.
inline bool CanMakeWindows() {
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

}  // namespace wholerun
