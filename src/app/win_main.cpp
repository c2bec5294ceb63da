// Entry point of the Windows program: the win32 backend in the folder of the executable.
#include "app/windows_program.h"
#include "backends/win32/windows_api.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return updater::app::RunWindowsProgram(); }
