// Entry point of the Linux build: the posix backend with the console host, in the folder of
// the executable.
#include "app/version.h"
#include "backends/posix/platform.h"
#include "backends/posix/support_log.h"
#include "helpers/SupportLog.h"
#include "startup/ModMain.h"
#include "startup/SingleInstance.h"

int main() {
  updater::posix::PosixPlatform backend;
  updater::Platform& pf = backend.platform();
  updater::posix::PosixSupportLog log(pf.system->ProgramFolder());
  const updater::SupportLog::Session session(pf, log, AUTOUPDATE_VERSION);
  // A second updater in the same folder steps aside before it touches anything.
  const auto claim = updater::SingleInstance::Claim(pf);
  if (!claim) return 0;
  const auto upgradeWindow = updater::ModMain::Main(pf);
  pf.ui->Run();  // serves the windows left open until the program ends
  return 0;
}
