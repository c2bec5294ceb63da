#pragma once
// The desktop shortcut through the shell: the desktop folder of the current user, and .lnk files
// written with IShellLinkW.

#include <string>

#include "ports/components.h"

namespace updater::win32 {

class Win32Shortcuts final : public ports::Shortcuts {
 public:
  std::string DesktopFolder() override;
  void SaveShortcut(const std::string& link, const std::string& target) override;
};

}  // namespace updater::win32
