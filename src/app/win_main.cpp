// Entry point of the Windows program: the win32 backend in the folder of the executable.
#include "backends/win32/platform.h"
#include "backends/win32/windows_api.h"
#include "startup/ModMain.h"
#include "startup/SingleInstance.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  updater::win32::Win32Platform backend;
  updater::Platform& pf = backend.platform();
  // A second updater in the same folder steps aside before it touches anything.
  const auto claim = updater::SingleInstance::Claim(pf);
  if (!claim) return 0;
  const auto upgradeWindow = updater::ModMain::Main(pf);
  pf.ui->Run();  // serves the windows left open until the program ends
  return 0;
}
