#include "backends/posix/system_info.h"

#include <filesystem>
#include <system_error>

namespace updater::posix {

namespace {
constexpr const char* kSystemDirectory = "C:\\Windows\\System32";
}  // namespace

std::string ExecutableFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path().string() : exe.parent_path().string();
}

bool PosixSystemInfo::IsWow64Process(bool& wow64) {
  wow64 = false;  // a native process: never a 32-bit process on a 64-bit system
  return true;
}

std::string PosixSystemInfo::GetSystemDirectory(std::size_t bufferSize) {
  const std::string dir = kSystemDirectory;
  return bufferSize > dir.size() ? dir : std::string();
}

}  // namespace updater::posix
