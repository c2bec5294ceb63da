#include "helpers/Module1.h"

#include "util/text.h"

namespace updater::Module1 {

namespace {
constexpr std::size_t kSystemDirBuffer = 255;
constexpr std::size_t kRootLength = 3;
constexpr std::size_t kIniBuffer = 256;
constexpr std::size_t kIniWriteLength = 256;
}  // namespace

bool IsWow64(Platform& pf) {
  bool flag = false;
  // The call's own result is not examined: a failing call leaves the flag false.
  pf.system->IsWow64Process(flag);
  return flag;
}

std::string GetSystemFolder(Platform& pf) {
  const std::string dir = pf.system->GetSystemDirectory(kSystemDirBuffer);
  // Only the drive root is kept: the Windows folder is always "Windows" on that drive.
  const std::string root = dir.substr(0, kRootLength);
  return root + (IsWow64(pf) ? "Windows\\SysWOW64" : "Windows\\System32");
}

std::optional<std::uint32_t> RunAndWait(Platform& pf, const std::string& commandLine) {
  const std::uint32_t pid = pf.processes->Start(commandLine, ports::ShowState::Hidden);
  auto handle = pf.processes->OpenProcess(ports::SYNCHRONIZE, pid);
  if (!handle) return std::nullopt;
  handle->Wait(ports::INFINITE);
  return handle->ExitCode();
}

std::string ReadIniValue(Platform& pf, const std::string& iniFile, const std::string& section,
                         const std::string& key) {
  // The service writes the value and its terminator at the start of a buffer of spaces; the
  // spaces are trimmed away and the terminator is dropped as the last character.
  std::string buffer(kIniBuffer, ' ');
  const std::string value = pf.profile->GetString(section, key, "", kIniBuffer, iniFile);
  buffer.replace(0, value.size() + 1, value + '\0');
  buffer = text::TrimSpaces(buffer);
  buffer.pop_back();
  return buffer;
}

bool WriteIniValue(Platform& pf, const std::string& iniFile, const std::string& section,
                   const std::string& key, const std::string& value) {
  if (!pf.files->FileExists(iniFile)) return false;
  // A fixed-length text of 256 characters carries the value and a zero; the service reads up to
  // the zero, so a value of 256 characters or more is cut to 256.
  std::string fixed = text::Utf8Prefix(value + '\0', kIniWriteLength);
  const std::string written = fixed.substr(0, fixed.find('\0'));
  pf.profile->WriteString(section, key, written, iniFile);  // its result is not examined
  return true;
}

}  // namespace updater::Module1
