#pragma once
// The window system of the product: message pumping and message boxes.

#include "ui/ui_port.h"

namespace updater::win32 {

class Win32UiHost : public ports::UiHost {
 public:
  void DoEvents() override;
  void MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) override;
};

}  // namespace updater::win32
