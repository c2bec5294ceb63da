#pragma once
// Running a component's self-registration entry point. The entry point runs in a child process,
// not on a thread: a child that overruns the limit can be killed outright, so nothing it started
// stays behind inside the updater.

#include <cstdint>
#include <string>

#include "backends/posix/emulation/path_mapper.h"
#include "ports/components.h"

namespace updater::posix {

class PosixComponents : public ports::Components {
 public:
  explicit PosixComponents(const PathMapper& mapper) : mapper_(mapper) {}

  ports::EntryPointOutcome RunEntryPoint(const std::string& path, const std::string& entryPoint,
                                         std::uint32_t timeoutMs) override;

 private:
  const PathMapper& mapper_;
};

}  // namespace updater::posix
