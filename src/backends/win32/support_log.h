#pragma once
// The support log on Windows: in %LOCALAPPDATA%\autoupdate, the user's local application data.

#include <filesystem>
#include <string>

#include "backends/common/support_log.h"

namespace updater::win32 {

class Win32SupportLog final : public SupportLogFile {
 public:
  // The log of programFolder (as the core writes it) in folder; by default the user's local
  // application data.
  explicit Win32SupportLog(const std::string& programFolder,
                           const std::filesystem::path& folder = DefaultFolder());

  static std::filesystem::path DefaultFolder();

 private:
  LogTime Now() override;
  unsigned long ProcessId() override;
  bool Append(const std::filesystem::path& file, const std::string& bytes) override;
};

}  // namespace updater::win32
