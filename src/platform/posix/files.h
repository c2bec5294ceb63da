#pragma once
// Existence tests, folder making and listing, and the system facts, as Windows reports them.

#include <string>
#include <vector>

#include "platform/ports.h"
#include "platform/posix/path_mapper.h"

namespace updater::posix {

class PosixSystemInfo : public ports::SystemInfo {
 public:
  explicit PosixSystemInfo(std::string programFolder) : programFolder_(std::move(programFolder)) {}

  bool IsWow64Process(bool& wow64) override;
  std::string GetSystemDirectory(std::size_t bufferSize) override;
  std::string ProgramFolder() override { return programFolder_; }

 private:
  std::string programFolder_;
};

class PosixFiles : public ports::Files {
 public:
  explicit PosixFiles(const PathMapper& mapper) : mapper_(mapper) {}

  bool FileExists(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  bool FolderIsEmpty(const std::string& path) override;
  void MakeFolder(const std::string& path) override;
  std::vector<std::string> ListFiles(const std::string& folder) override;

 private:
  const PathMapper& mapper_;
};

// The folder of the running executable.
std::string ExecutableFolder();

// Splits a core path at its last separator into the folder and the last component.
void SplitLast(const std::string& corePath, std::string& folder, std::string& name);

// Names in folder matching a wildcard pattern, sorted without regard to case.
std::vector<std::string> MatchingEntries(const std::filesystem::path& folder,
                                         const std::string& pattern);

// Sorts names as the Windows listings do: without regard to case.
void SortNoCase(std::vector<std::string>& names);

}  // namespace updater::posix
