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

namespace updater::win32 {

// Windows for the forms are drawn by the window renderer; until a form has one, its events
// still run in order so that the program's flow is the same.
void Win32UiHost::Show(ui::Form& form) {
  form.Form_Load();
  form.Form_Activate();
}

void Win32UiHost::ShowModal(ui::Form& form) {
  Show(form);
  Unload(form);
}

void Win32UiHost::Unload(ui::Form& form) { form.Form_Unload(); }

void Win32UiHost::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  End();
}

void Win32UiHost::End() { ExitProcess(0); }

void Win32UiHost::ReportRuntimeError(int number, const std::string& description) {
  MsgBox("运行时错误 '" + std::to_string(number) + "'：\n\n" + description, ports::MsgIcon::Error,
         "自动更新");
  ExitProcess(1);
}

ports::DateTime Win32UiHost::Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace updater::win32
