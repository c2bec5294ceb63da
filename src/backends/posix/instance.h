#pragma once
// One updater per program folder on Linux: an advisory lock (flock) on a hidden file in the
// folder. The lock goes with the process, however it ends.

#include <memory>
#include <string>

#include "backends/posix/emulation/path_mapper.h"
#include "ports/instance.h"

namespace updater::posix {

class PosixInstanceLocks final : public ports::InstanceLocks {
 public:
  // The lock file's name in the folder: hidden, and never part of a package or a copy.
  static constexpr const char* kLockFile = ".autoupdate.lock";

  explicit PosixInstanceLocks(const PathMapper& mapper) : mapper_(mapper) {}

  std::unique_ptr<Held> Claim(const std::string& folder) override;

 private:
  const PathMapper& mapper_;
};

}  // namespace updater::posix
