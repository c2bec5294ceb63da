#pragma once
// What the core needs of the window system.

#include <string>

namespace updater::ports {

enum class MsgIcon : int { None = 0, Error = 16, Warning = 48 };

class UiHost {
 public:
  virtual ~UiHost() = default;
  // Lets the window events that are waiting run now, then returns.
  virtual void DoEvents() = 0;
  // A message box with an OK button; returns when the user has closed it.
  virtual void MsgBox(const std::string& text, MsgIcon icon, const std::string& title) = 0;
};

}  // namespace updater::ports
