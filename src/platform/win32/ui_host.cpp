#include "platform/win32/ui_host.h"

#include "platform/win32/ansi.h"
#include "platform/win32/windows_api.h"

namespace updater::win32 {

void Win32UiHost::DoEvents() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit request for the loop that owns it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Win32UiHost::MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) {
  UINT type = MB_OK | MB_SETFOREGROUND;
  if (icon == ports::MsgIcon::Error) type |= MB_ICONERROR;
  if (icon == ports::MsgIcon::Warning) type |= MB_ICONWARNING;
  MessageBoxW(GetActiveWindow(), Utf8ToWide(text).c_str(), Utf8ToWide(title).c_str(), type);
}

}  // namespace updater::win32
