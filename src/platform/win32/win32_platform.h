#pragma once
// The win32 backend: owns one object of every port and hands them to the core as a Platform.

#include "platform/platform.h"
#include "platform/win32/ado_database.h"
#include "platform/win32/components.h"
#include "platform/win32/file_io.h"
#include "platform/win32/net.h"
#include "platform/win32/shortcuts.h"
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
    platform_.components = &components_;
    platform_.shortcuts = &shortcuts_;
    platform_.net = &net_;
    platform_.database = &database_;
    platform_.io = &io_;
    io_.WhileWaiting([this] { platform_.ui->DoEvents(); });
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
  Win32Components components_;
  Win32Shortcuts shortcuts_;
  Win32Net net_;
  AdoDatabase database_;
  Win32FileIO io_;
  Platform platform_;
};

}  // namespace updater::win32
