#include "helpers/Elevation.h"

#include "helpers/client.h"

namespace updater::Elevation {

void BeforeWriting(Platform& pf, const std::string& folder) {
  ports::Rights* rights = pf.rights;
  if (rights == nullptr || pf.elevationAsked) return;
  // Asked at most once: a process started for elevation goes on as it can.
  if (rights->StartedForElevation() || rights->IsElevated()) return;
  if (!rights->WriteDenied(folder)) return;
  pf.elevationAsked = true;
  switch (rights->RunElevated()) {
    case ports::ElevatedRun::NotStarted:
      return;  // the run goes on here, as it would without the request
    case ports::ElevatedRun::ClientWanted:
      StartClientAndEnd(pf, pf.system->ProgramFolder());
      return;
    case ports::ElevatedRun::Ended:
      break;
  }
  pf.ui->End();
}

void StartClientAndEnd(Platform& pf, const std::string& programFolder) {
  if (pf.rights != nullptr && pf.rights->StartedForElevation()) pf.rights->EndForClient();
  pf.processes->Start(ClientCommandLine(programFolder), ports::ShowState::Normal);
  pf.ui->End();
}

}  // namespace updater::Elevation
