// The client stand-in, installed as Trainova.dll: records that it was started, with its version
// (fixed when it is built) and its command line, and ends.
#include <windows.h>

#include <string>

#include "event_log.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  LocalFree(CommandLineToArgvW(GetCommandLineW(), &argc));
  wholerun::AppendEvent(L"client " CLIENT_VERSION L" arguments=" + std::to_wstring(argc - 1) +
                        L" command=" + GetCommandLineW());
  return 0;
}
