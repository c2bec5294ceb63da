#pragma once
// The desktop shortcut as a freedesktop launcher: "<name>.desktop" in the user's desktop folder,
// where Windows would write "<name>.lnk".

#include <string>

#include "backends/posix/emulation/path_mapper.h"
#include "ports/components.h"

namespace updater::posix {

class PosixShortcuts : public ports::Shortcuts {
 public:
  explicit PosixShortcuts(const PathMapper& mapper) : mapper_(mapper) {}

  // $XDG_DESKTOP_DIR, else $HOME/Desktop, as a host path.
  std::string DesktopFolder() override;
  // link ends in ".lnk" as the core writes it; the launcher takes its place as "<name>.desktop".
  void SaveShortcut(const std::string& link, const std::string& target) override;

  // The launcher's text for a program; exposed for tests of the quoting.
  static std::string LauncherText(const std::string& name, const std::string& program);

 private:
  const PathMapper& mapper_;
};

}  // namespace updater::posix
