#pragma once
// Maps the paths the core writes (backslashes, drive letters, any letter case) onto the host's
// file system: `\` becomes `/`, the drive X: is the folder <P>/drive_x, and every component that
// exists is matched without regard to case, as Windows does.

#include <dirent.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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

// Calls visit(name) for every entry of folder but "." and "..", in directory order, read with
// readdir (no path object per entry: a copy looks folders over for every file it makes).
template <class Visit>
void ForEachEntry(const std::filesystem::path& folder, Visit&& visit) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name(e->d_name);
    if (name != "." && name != "..") visit(name);
  }
  ::closedir(dir);
}

// One folder's entries as MatchEntry finds them, read once, for a copy that looks up every name
// it writes there. Remembers the names it hands out for new entries, so that two names of one
// source that differ only in case land on one entry, as on Windows.
class FolderEntries {
 public:
  explicit FolderEntries(std::filesystem::path folder) : folder_(std::move(folder)) {}
  std::filesystem::path Entry(const std::string& name);

 private:
  std::filesystem::path folder_;
  bool loaded_ = false;
  std::unordered_set<std::string> exact_;
  std::unordered_map<std::string, std::string> folded_;  // lower-cased name -> entry
};

// True for a path that starts with a drive letter and a colon ("C:", "d:\x").
bool HasDriveLetter(std::string_view corePath);

}  // namespace updater::posix
