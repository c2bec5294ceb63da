#pragma once
// The window system of the product: message pumping, message boxes and the forms' windows.

#include "ui/ui_port.h"

namespace updater::win32 {

class Win32UiHost : public ports::UiHost {
 public:
  void DoEvents() override;
  void MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) override;
  void Show(ui::Form& form) override;
  void ShowModal(ui::Form& form) override;
  void Unload(ui::Form& form) override;
  void Run() override;
  [[noreturn]] void End() override;
  [[noreturn]] void ReportRuntimeError(int number, const std::string& description) override;
  ports::DateTime Now() override;
};

}  // namespace updater::win32
