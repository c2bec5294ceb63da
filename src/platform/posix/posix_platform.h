#pragma once
// The posix backend: every port implemented on Linux, following what Windows shows wherever the
// core can observe it. Paths the core writes are mapped onto the host by one PathMapper.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/posix/console_ui.h"
#include "platform/posix/files.h"
#include "platform/posix/path_mapper.h"
#include "platform/posix/processes.h"
#include "platform/posix/profile_strings.h"
#include "platform/posix/shell.h"

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
  updater::Platform platform_;
};

}  // namespace updater::posix
