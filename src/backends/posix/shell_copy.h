#pragma once
// The copy and the move of the posix shell: files written so that a target is either the old
// file or the whole new one, folders merged into folders, links copied as links, and names
// matched as the path mapper matches them in the folders a copy merges into, as the Windows
// shell does.

#include <filesystem>
#include <memory>
#include <system_error>

namespace updater::posix {

std::filesystem::file_status Lstat(const std::filesystem::path& p);
bool Exists(const std::filesystem::path& p);
bool IsFolder(const std::filesystem::path& p);

class FileCopier;

// One shell operation's copies or moves; what it holds between files (a spare file to write
// into) goes with it.
class CopySession {
 public:
  CopySession();
  ~CopySession();
  CopySession(const CopySession&) = delete;
  CopySession& operator=(const CopySession&) = delete;

  // Copies source (file or folder) to target, merging into an existing folder. Links inside a
  // folder are copied as links, never followed, so the copy holds only what the source names.
  std::error_code Copy(const std::filesystem::path& source, const std::filesystem::path& target);
  // Renames source to target; a folder onto a folder, or onto another volume, is copied and
  // the source removed.
  std::error_code Move(const std::filesystem::path& source, const std::filesystem::path& target);

 private:
  std::unique_ptr<FileCopier> files_;
};

}  // namespace updater::posix
