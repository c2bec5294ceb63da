#include "helpers/Elevation.h"

#include "helpers/SupportLog.h"
#include "helpers/client.h"

namespace updater::Elevation {

bool IsElevatedCopy(Platform& pf) {
  return pf.rights != nullptr && pf.rights->StartedForElevation();
}

void BeforeWriting(Platform& pf, const std::string& folder,
                   const std::function<void()>& userSteps) {
  ports::Rights* rights = pf.rights;
  if (rights == nullptr || pf.elevationAsked) return;
  // Asked at most once: a process started for elevation goes on as it can.
  if (rights->StartedForElevation() || rights->IsElevated()) return;
  if (!rights->WriteDenied(folder)) return;
  pf.elevationAsked = true;
  SupportLog::Write(pf,
                    "elevation: " + folder + " refuses writes, asking for administrator rights");
  switch (rights->RunElevated()) {
    case ports::ElevatedRun::NotStarted:
      SupportLog::Write(pf, "elevation: declined or not available, going on as this user");
      return;  // the run goes on here, as it would without the request
    case ports::ElevatedRun::ClientWanted:
      SupportLog::Write(pf, "elevation: the elevated run is done");
      if (userSteps) userSteps();
      StartClientAndEnd(pf, pf.system->ProgramFolder());
      return;
    case ports::ElevatedRun::Ended:
      SupportLog::Write(pf, "elevation: the elevated run ended");
      if (userSteps) userSteps();
      break;
  }
  pf.ui->End();
}

void StartClientAndEnd(Platform& pf, const std::string& programFolder) {
  if (pf.rights != nullptr && pf.rights->StartedForElevation()) {
    SupportLog::Write(pf, "elevated run done: the user's updater starts the client");
    pf.rights->EndForClient();
  }
  pf.processes->Start(ClientCommandLine(programFolder), ports::ShowState::Normal);
  SupportLog::Write(pf, "client started: " + ClientCommandLine(programFolder));
  pf.ui->End();
}

}  // namespace updater::Elevation
