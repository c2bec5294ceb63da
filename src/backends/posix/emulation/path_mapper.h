#pragma once
// Maps the paths the core writes (backslashes, drive letters, any letter case) onto the host's
// file system: `\` becomes `/`, the drive X: is the folder <P>/drive_x, and every component that
// exists is matched without regard to case, as Windows does.

#include <filesystem>
#include <string>
#include <string_view>

namespace updater::posix {

class PathMapper {
 public:
  explicit PathMapper(std::filesystem::path programFolder);

  // The host path of a core path. Components that do not exist are kept as written, and so is a
  // trailing separator's absence: "a\b\" and "a\b" map alike.
  std::filesystem::path Map(std::string_view corePath) const;

  // The entry of folder whose name equals name without regard to case (an exact match first);
  // name itself when there is none.
  static std::string MatchEntry(const std::filesystem::path& folder, const std::string& name);

  const std::filesystem::path& programFolder() const { return programFolder_; }

 private:
  std::filesystem::path programFolder_;
};

// True for a path that starts with a drive letter and a colon ("C:", "d:\x").
bool HasDriveLetter(std::string_view corePath);

}  // namespace updater::posix
