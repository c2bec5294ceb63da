#pragma once
// Existence tests through FindFirstFileA, CreateDirectoryA, folder listings.

#include <string>
#include <vector>

#include "ports/system.h"

namespace updater::win32 {

class Win32Files final : public ports::Files {
 public:
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
};

}  // namespace updater::win32
