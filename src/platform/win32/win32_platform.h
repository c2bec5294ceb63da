#pragma once
// The win32 backend: owns one object of every port and hands them to the core as a Platform.

#include "platform/platform.h"
#include "platform/win32/ui_host.h"
#include "platform/win32/win32_ports.h"

namespace updater::win32 {

class Win32Platform {
 public:
  Win32Platform() {
    platform_.profile = &profile_;
    platform_.system = &system_;
    platform_.files = &files_;
    platform_.shell = &shell_;
    platform_.processes = &processes_;
    platform_.ui = &ui_;
  }
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  Platform& platform() { return platform_; }

 private:
  Win32ProfileStrings profile_;
  Win32SystemInfo system_;
  Win32Files files_;
  Win32Shell shell_;
  Win32Processes processes_;
  Win32UiHost ui_;
  Platform platform_;
};

}  // namespace updater::win32
