#pragma once
// One updater per program folder on Linux: an advisory lock (flock) on a hidden file in the
// folder. The lock goes with the process, however it ends. A second start asks the first to show
// its window by appending a byte to the lock file; the first sees the file grow.

#include <sys/types.h>

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

  // True once for each later start in the folder of the lock held last, since the last call.
  bool ShowRequested();

 private:
  friend class HeldFile;
  void Forget(int fd);

  const PathMapper& mapper_;
  int watched_ = -1;  // the descriptor of the lock held last
  off_t seen_ = 0;    // the lock file's length when last looked at
};

}  // namespace updater::posix
