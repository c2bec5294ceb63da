#pragma once
// SHFileOperationA with the request record as the core fills it.

#include <cstdint>

#include "ports/system.h"

namespace updater::win32 {

class Win32Shell final : public ports::Shell {
 public:
  std::int32_t SHFileOperation(ports::ShellFileOperation& request) override;
};

}  // namespace updater::win32
