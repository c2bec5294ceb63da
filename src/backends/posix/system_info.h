#pragma once
// The system facts as a native 64-bit Windows process sees them, and the program folder.

#include <cstddef>
#include <string>
#include <utility>

#include "ports/system.h"

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

// The folder of the running executable.
std::string ExecutableFolder();

}  // namespace updater::posix
