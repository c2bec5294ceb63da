#pragma once
// CFileSystem: copy, move, rename and delete through the shell's file operation, silently and
// without questions, plus making one folder and making sure a folder exists and is empty.
// No state; every result is 0 on success, otherwise the shell's code or an error number.

#include <cstdint>
#include <string>

#include "ports/platform.h"

namespace updater {

class CFileSystem {
 public:
  explicit CFileSystem(Platform& pf) : pf_(pf) {}

  std::int32_t DelFolderOrFile(const std::string& strFileOrFolderName);
  std::int32_t DelFolderOrFileToRecycled(const std::string& strFileOrFolderName);
  std::int32_t CopyFolderOrFile(const std::string& strFileorFolderFrom,
                                const std::string& strFileorFolderto);
  std::int32_t ReNameFolderOrFile(const std::string& strFileorFolderFrom,
                                  const std::string& strFileorFolderto);
  std::int32_t MoveFolderOrFile(const std::string& strFileorFolderFrom,
                                const std::string& strFileorFolderto);
  std::int32_t CreateFolder(const std::string& strfolder);
  std::int32_t ClearOrCreateFolder(const std::string& pcFolderName);
  std::int32_t CopyFolder(const std::string& strFileorFolderFrom,
                          const std::string& strFileorFolderto);

 private:
  std::int32_t Run(std::uint32_t wFunc, std::uint16_t fFlags, const std::string& from,
                   const std::string* to);

  Platform& pf_;
};

}  // namespace updater
