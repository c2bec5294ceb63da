#pragma once
// The posix backend: every port implemented on Linux, following what Windows shows wherever the
// core can observe it. Paths the core writes are mapped onto the host by one PathMapper.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/posix/components.h"
#include "platform/posix/console_ui.h"
#include "platform/posix/file_io.h"
#include "platform/posix/files.h"
#include "platform/posix/net.h"
#include "platform/posix/path_mapper.h"
#include "platform/posix/processes.h"
#include "platform/posix/profile_strings.h"
#include "platform/posix/shell.h"
#include "platform/posix/shortcuts.h"
#include "platform/posix/sqlite_database.h"

namespace updater::posix {

class PosixPlatform {
 public:
  // programFolder: the program folder P; empty for the folder of the running executable.
  explicit PosixPlatform(std::string programFolder = "");
  PosixPlatform(const PosixPlatform&) = delete;
  PosixPlatform& operator=(const PosixPlatform&) = delete;

  updater::Platform& platform() { return platform_; }
  std::filesystem::path HostPath(const std::string& corePath) const {
    return mapper_.Map(corePath);
  }

 private:
  std::string programFolder_;
  PathMapper mapper_;
  PosixProfileStrings profile_;
  PosixSystemInfo system_;
  PosixFiles files_;
  PosixShell shell_;
  PosixProcesses processes_;
  ConsoleUiHost ui_;
  SqliteDatabase database_{mapper_};
  PosixNet net_;
  PosixFileIO io_{mapper_};
  PosixComponents components_{mapper_};
  PosixShortcuts shortcuts_{mapper_};
  updater::Platform platform_;
};

}  // namespace updater::posix
