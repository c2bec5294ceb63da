#include "startup/SingleInstance.h"

namespace updater::SingleInstance {

std::unique_ptr<ports::InstanceLocks::Held> Claim(Platform& pf) {
  if (pf.instances == nullptr) return std::make_unique<ports::InstanceLocks::Held>();
  return pf.instances->Claim(pf.system->ProgramFolder());
}

}  // namespace updater::SingleInstance
