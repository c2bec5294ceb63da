#pragma once
// ModMain: the program's entry procedure.

#include <memory>

#include "ports/platform.h"
#include "upgrade/frmUpgrade.h"

namespace updater::ModMain {

// Installs and registers the components of P\DLL under the please-wait window, writes the
// desktop shortcut and shows the upgrade window, whose loading runs the automatic run. Returns
// that window when the run left it open (after a failed installation); the caller keeps it
// while the program's event loop runs.
std::unique_ptr<frmUpgrade> Main(Platform& pf);

}  // namespace updater::ModMain
