#include "app/windows_program.h"

#include "backends/win32/platform.h"
#include "startup/ModMain.h"

namespace updater::app {

int RunWindowsProgram(ports::Database* database) {
  win32::Win32Platform backend(database);
  Platform& pf = backend.platform();
  const auto upgradeWindow = ModMain::Main(pf);
  pf.ui->Run();  // serves the windows left open until the program ends
  return 0;
}

}  // namespace updater::app
