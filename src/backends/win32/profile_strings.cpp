// ProfileStrings: GetPrivateProfileStringA / WritePrivateProfileStringA.
#include <algorithm>

#include "backends/win32/ansi.h"
#include "backends/win32/profile_strings.h"
#include "backends/win32/windows_api.h"

namespace updater::win32 {

std::string Win32ProfileStrings::GetString(const std::string& section, const std::string& key,
                                           const std::string& defaultValue, std::size_t bufferSize,
                                           const std::string& file) {
  if (bufferSize == 0) return {};
  const std::string ansiSection = Utf8ToAnsi(section);
  const std::string ansiKey = Utf8ToAnsi(key);
  const std::string ansiDefault = Utf8ToAnsi(defaultValue);
  const std::string ansiFile = Utf8ToAnsi(file);
  std::string buffer(bufferSize, '\0');
  const DWORD n =
      GetPrivateProfileStringA(ansiSection.c_str(), ansiKey.c_str(), ansiDefault.c_str(),
                               buffer.data(), static_cast<DWORD>(bufferSize), ansiFile.c_str());
  buffer.resize(std::min<std::size_t>(n, bufferSize - 1));
  return AnsiToUtf8(buffer);
}

bool Win32ProfileStrings::WriteString(const std::string& section, const std::string& key,
                                      const std::string& value, const std::string& file) {
  return WritePrivateProfileStringA(Utf8ToAnsi(section).c_str(), Utf8ToAnsi(key).c_str(),
                                    Utf8ToAnsi(value).c_str(), Utf8ToAnsi(file).c_str()) != FALSE;
}

}  // namespace updater::win32
