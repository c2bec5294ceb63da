#include "startup/SingleInstance.h"

#include "helpers/SupportLog.h"

namespace updater::SingleInstance {

std::unique_ptr<ports::InstanceLocks::Held> Claim(Platform& pf) {
  if (pf.instances == nullptr) return std::make_unique<ports::InstanceLocks::Held>();
  // The updater that started this one for elevation holds the lock and waits for it.
  if (pf.rights != nullptr && pf.rights->StartedForElevation()) {
    return pf.instances->Join(pf.system->ProgramFolder());
  }
  auto held = pf.instances->Claim(pf.system->ProgramFolder());
  if (!held) SupportLog::Write(pf, "another updater works in this folder: this one ends");
  return held;
}

}  // namespace updater::SingleInstance
