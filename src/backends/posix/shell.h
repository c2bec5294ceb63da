#pragma once
// SHFileOperationA for one source path, with the results the Windows shell gives (as observed
// under wine): copy, move, rename and delete of files, folders and wildcard patterns, silently;
// a delete with FOF_ALLOWUNDO goes to the user's trash.

#include <cstdint>
#include <filesystem>
#include <string>

#include "backends/posix/emulation/path_mapper.h"
#include "ports/system.h"

namespace updater::posix {

// The shell's result codes this emulation returns.
enum ShellResult : std::int32_t {
  kShellOk = 0,
  kShellFileNotFound = 2,        // ERROR_FILE_NOT_FOUND
  kShellPathNotFound = 3,        // ERROR_PATH_NOT_FOUND
  kShellAccessDenied = 5,        // ERROR_ACCESS_DENIED
  kShellDiskFull = 112,          // ERROR_DISK_FULL
  kShellSameFile = 113,          // what the shell returns for a copy onto itself
  kShellInvalidName = 123,       // ERROR_INVALID_NAME
  kShellFolderMissing = 124,     // delete of a name in a missing folder
  kShellAlreadyExists = 183,     // ERROR_ALREADY_EXISTS
  kShellInvalidParameter = 87,   // ERROR_INVALID_PARAMETER
  kShellCancelled = 1223,        // ERROR_CANCELLED
  kShellSourceNotFound = 0x402,  // the source does not exist
  kShellDestSubtree = 0x76,      // the target lies inside the source
};

class PosixShell : public ports::Shell {
 public:
  explicit PosixShell(const PathMapper& mapper) : mapper_(mapper) {}

  std::int32_t SHFileOperation(ports::ShellFileOperation& request) override;

 private:
  std::int32_t Copy(const std::string& from, const std::string& to, bool move);
  std::int32_t Rename(const std::string& from, const std::string& to);
  std::int32_t Delete(const std::string& from, bool toTrash);

  const PathMapper& mapper_;
};

}  // namespace updater::posix
