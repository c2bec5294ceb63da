// The program that process tests start. Arguments, in any order:
//   --out FILE     write every argument after the program name, one per line, to FILE (UTF-8)
//   --sleep-ms N   sleep N milliseconds before exiting
//   --exit N       exit with status N (default 0)
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
// windows.h must come first.
#include <windows.h>
// shellapi.h needs its declarations.
#include <shellapi.h>

#include <filesystem>

namespace {
std::string ToUtf8(const wchar_t* w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  return s;
}
std::vector<std::string> Arguments(int, char**) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> out;
  for (int i = 0; i < argc; ++i) out.push_back(ToUtf8(argv[i]));
  LocalFree(argv);
  return out;
}
std::ofstream OpenOut(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, w.data(), n);
  return std::ofstream(std::filesystem::path(w), std::ios::binary);
}
}  // namespace
#else
namespace {
std::vector<std::string> Arguments(int argc, char** argv) { return {argv, argv + argc}; }
std::ofstream OpenOut(const std::string& path) { return std::ofstream(path, std::ios::binary); }
}  // namespace
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args = Arguments(argc, argv);
  int code = 0;
  std::string out;
  long sleepMs = 0;
  for (std::size_t i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--out") out = args[i + 1];
    if (args[i] == "--sleep-ms") sleepMs = std::strtol(args[i + 1].c_str(), nullptr, 10);
    if (args[i] == "--exit") code = static_cast<int>(std::strtol(args[i + 1].c_str(), nullptr, 10));
  }
  if (!out.empty()) {
    std::ofstream f = OpenOut(out);
    for (std::size_t i = 1; i < args.size(); ++i) f << args[i] << '\n';
  }
  if (sleepMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
  return code;
}
