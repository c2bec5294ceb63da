#pragma once
// One updater per program folder: two updaters clearing and filling one tmp folder at once could
// install a torn package, so a second start in the same folder must step aside.

#include <memory>
#include <string>

namespace updater::ports {

class InstanceLocks {
 public:
  // Keeps a folder's lock while it lives; the process ending releases it too.
  class Held {
   public:
    virtual ~Held() = default;
  };

  virtual ~InstanceLocks() = default;
  // Takes the lock of folder (the program folder, as the core writes it). nullptr when another
  // holder has it; where that holder shows a window, it is brought to the front. When the lock
  // cannot be made at all (a read-only folder), the result holds nothing and the run goes on.
  virtual std::unique_ptr<Held> Claim(const std::string& folder) = 0;
  // In a process that the holder of folder's lock started to do its run (with other rights)
  // while it waits: the lock is handed over, not fought over. Where no such process is ever
  // started there is nothing to join.
  virtual std::unique_ptr<Held> Join(const std::string& folder) {
    (void)folder;
    return std::make_unique<Held>();
  }
};

}  // namespace updater::ports
