#pragma once
// Running a component's self-registration entry point in-process, on a worker thread that is
// ended when it overruns the limit.

#include <cstdint>
#include <string>

#include "ports/components.h"

namespace updater::win32 {

class Win32Components final : public ports::Components {
 public:
  ports::EntryPointOutcome RunEntryPoint(const std::string& path, const std::string& entryPoint,
                                         std::uint32_t timeoutMs) override;
};

}  // namespace updater::win32
