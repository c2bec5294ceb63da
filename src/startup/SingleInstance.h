#pragma once
// One updater per program folder: the claim an entry point makes before anything else.

#include <memory>

#include "ports/platform.h"

namespace updater::SingleInstance {

// Claims the program folder for this updater; keep the result until the program ends. nullptr
// when another updater works in the folder: this one must end at once and touch nothing.
std::unique_ptr<ports::InstanceLocks::Held> Claim(Platform& pf);

}  // namespace updater::SingleInstance
