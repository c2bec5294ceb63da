#pragma once
// modCheckFileReg: in-process registration of a component, and the desktop shortcut.

#include <string>

#include "ports/platform.h"

namespace updater::modCheckFileReg {

// Registers (or unregisters) the component in its own file through its self-registration entry
// point, run on a worker for at most 10000 ms. True when the entry point was found and ran to
// its end in time; its own result is not looked at.
bool RegisterComponent(Platform& pf, const std::string& path, bool unregister);

// Writes the desktop shortcut named by client.ini's shortcut key to P\Trainova.exe. Silent.
void CreateDesktopShortcut(Platform& pf);

}  // namespace updater::modCheckFileReg
