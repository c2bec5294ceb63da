#pragma once
// The copy and the move of the posix shell: files written so that a target is either the old
// file or the whole new one, folders merged into folders, links copied as links, and names
// matched without regard to case in the folders a copy merges into, as the Windows shell does.

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

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

// The entry of folder that name stands for: the one of that name, else one whose name differs
// only in case, else name itself. Remembers the names it hands out for new entries, so that
// two names of one source differing only in case land on one entry.
class CaseIndex {
 public:
  explicit CaseIndex(std::filesystem::path folder);
  std::filesystem::path Entry(const std::string& name);

 private:
  std::filesystem::path folder_;
  bool loaded_ = false;
  std::unordered_set<std::string> exact_;
  std::unordered_map<std::string, std::string> folded_;
};

}  // namespace updater::posix
