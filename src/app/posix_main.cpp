// Entry point of the Linux build: the posix backend with the console host, in the folder of
// the executable.
#include "backends/posix/platform.h"
#include "startup/ModMain.h"

int main() {
  updater::posix::PosixPlatform backend;
  updater::Platform& pf = backend.platform();
  const auto upgradeWindow = updater::ModMain::Main(pf);
  pf.ui->Run();  // serves the windows left open until the program ends
  return 0;
}
