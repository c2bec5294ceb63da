#pragma once
// Asking for administrator rights only where a step needs them, and starting the client only
// from the process that runs with the user's own rights.

#include <functional>
#include <string>

#include "ports/platform.h"

namespace updater::Elevation {

// Before a step that must write in folder. Returns when the step is to run in this process: it
// may write there, it already has all the rights it can have, it was itself started for
// elevation, the request was made before, or it was declined. When a run with administrator
// rights took place instead, ends this program, having started the client when that run
// would have. That run does only what needs the rights: userSteps are the per-user steps it
// leaves out (the desktop shortcut) that this run has not done yet; they run here first.
void BeforeWriting(Platform& pf, const std::string& folder,
                   const std::function<void()>& userSteps = {});

// True in the process started to do the run with administrator rights (and proven so): it
// leaves the per-user steps (shortcut, support log, client start) to the user's own process.
bool IsElevatedCopy(Platform& pf);

// Starts the client of the program folder and ends the program; a process started for
// elevation leaves the client to the process that waits for it.
void StartClientAndEnd(Platform& pf, const std::string& programFolder);

}  // namespace updater::Elevation
