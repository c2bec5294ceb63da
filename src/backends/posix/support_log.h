#pragma once
// The support log on Linux: in $XDG_STATE_HOME/autoupdate, else ~/.local/state/autoupdate.

#include <filesystem>
#include <string>

#include "backends/common/support_log.h"

namespace updater::posix {

class PosixSupportLog final : public SupportLogFile {
 public:
  // The log of programFolder (a host path) in folder; by default the user's state folder.
  explicit PosixSupportLog(const std::string& programFolder,
                           const std::filesystem::path& folder = DefaultFolder());

  static std::filesystem::path DefaultFolder();

 private:
  LogTime Now() override;
  unsigned long ProcessId() override;
  bool Append(const std::filesystem::path& file, const std::string& bytes) override;
};

}  // namespace updater::posix
