#pragma once
// One updater per program folder on Windows: a named mutex whose name comes from the folder,
// valid across the user sessions of the machine. The first updater also publishes its process
// id and an event for its session, so that a second start can have it show its window (hidden
// during the automatic run) and bring it to the front.

#include <memory>
#include <string>

#include "ports/instance.h"

namespace updater::win32 {

class Win32InstanceLocks final : public ports::InstanceLocks {
 public:
  std::unique_ptr<Held> Claim(const std::string& folder) override;
  // Holds the mutex beside the process that waits (so the lock outlives whichever ends first)
  // and publishes this process as the one to bring to the front.
  std::unique_ptr<Held> Join(const std::string& folder) override;

  // True once for each later start in the folder of the lock held last, since the last call.
  bool ShowRequested();

  // The part of the object names that stands for folder: a hash of its full path in lower case
  // (a '\' may not appear in such a name). Exposed for tests.
  static std::wstring FolderKey(const std::string& folder);

 private:
  friend class HeldMutex;
  void Forget(void* event);

  void* showEvent_ = nullptr;  // the event of the lock held last
};

}  // namespace updater::win32
