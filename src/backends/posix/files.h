#pragma once
// Existence tests, folder making and listing, as Windows reports them.

#include <string>
#include <vector>

#include "backends/posix/emulation/path_mapper.h"
#include "ports/system.h"

namespace updater::posix {

class PosixFiles : public ports::Files {
 public:
  explicit PosixFiles(const PathMapper& mapper) : mapper_(mapper) {}

  bool FileExists(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  bool FolderIsEmpty(const std::string& path) override;
  void MakeFolder(const std::string& path) override;
  std::vector<std::string> ListFiles(const std::string& folder) override;
  Kind KindOf(const std::string& path) override;
  std::vector<std::string> ListFolders(const std::string& folder) override;
  void Rename(const std::string& from, const std::string& to) override;
  void ClearAttributes(const std::string& path) override;
  void Remove(const std::string& path) override;
  void WriteWhole(const std::string& path, const std::string& bytes) override;
  bool FitsAnsiCodePage(const std::string& text) override;
  std::vector<std::string> ListOthers(const std::string& folder) override;

 private:
  const PathMapper& mapper_;
};

// Splits a core path at its last separator into the folder and the last component.
void SplitLast(const std::string& corePath, std::string& folder, std::string& name);

// Names in folder matching a wildcard pattern, sorted without regard to case.
std::vector<std::string> MatchingEntries(const std::filesystem::path& folder,
                                         const std::string& pattern);

// Sorts names as the Windows listings do: without regard to case.
void SortNoCase(std::vector<std::string>& names);

}  // namespace updater::posix
