#pragma once
// The posix backend: every port implemented on Linux, following what Windows shows wherever the
// core can observe it. Paths the core writes are mapped onto the host by one PathMapper.

#include <filesystem>
#include <memory>
#include <string>

#include "backends/posix/components.h"
#include "backends/posix/database.h"
#include "backends/posix/emulation/path_mapper.h"
#include "backends/posix/file_io.h"
#include "backends/posix/files.h"
#include "backends/posix/instance.h"
#include "backends/posix/net.h"
#include "backends/posix/processes.h"
#include "backends/posix/profile_strings.h"
#include "backends/posix/shell.h"
#include "backends/posix/shortcuts.h"
#include "backends/posix/signatures.h"
#include "backends/posix/system_info.h"
#include "backends/posix/ui.h"
#include "ports/platform.h"

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
  // Every port below maps paths with mapper_, so it comes first.
  PathMapper mapper_{programFolder_};
  PosixProfileStrings profile_{mapper_};
  PosixSystemInfo system_{programFolder_};
  PosixFiles files_{mapper_};
  PosixShell shell_{mapper_};
  PosixProcesses processes_{mapper_, programFolder_};
  ConsoleUiHost ui_;
  SqliteDatabase database_{mapper_};
  PosixNet net_;
  PosixFileIO io_{mapper_};
  PosixComponents components_{mapper_};
  PosixShortcuts shortcuts_{mapper_};
  PosixInstanceLocks instances_{mapper_};
  OpensslSignatures signatures_{mapper_};
  updater::Platform platform_;
};

}  // namespace updater::posix
