#pragma once
// The console stand-in for the window system: a message box is one line on standard output
// and nothing waits for the user.

#include <cstdio>

#include "ui/ui_port.h"

namespace updater::posix {

class ConsoleUiHost : public ports::UiHost {
 public:
  explicit ConsoleUiHost(std::FILE* out = stdout) : out_(out) {}
  void DoEvents() override {}
  void MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) override;

 private:
  std::FILE* out_;
};

}  // namespace updater::posix
