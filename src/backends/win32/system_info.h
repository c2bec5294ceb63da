#pragma once
// IsWow64Process, GetSystemDirectoryA and the folder of the running program.

#include <cstddef>
#include <string>

#include "ports/system.h"

namespace updater::win32 {

class Win32SystemInfo final : public ports::SystemInfo {
 public:
  bool IsWow64Process(bool& wow64) override;
  std::string GetSystemDirectory(std::size_t bufferSize) override;
  std::string ProgramFolder() override;
};

}  // namespace updater::win32
