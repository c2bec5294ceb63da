#pragma once
// The win32 backend: owns one object of every port and hands them to the core as a Platform.

#include "backends/win32/components.h"
#include "backends/win32/database.h"
#include "backends/win32/file_io.h"
#include "backends/win32/files.h"
#include "backends/win32/instance.h"
#include "backends/win32/net.h"
#include "backends/win32/processes.h"
#include "backends/win32/profile_strings.h"
#include "backends/win32/rights.h"
#include "backends/win32/shell.h"
#include "backends/win32/shortcuts.h"
#include "backends/win32/signatures.h"
#include "backends/win32/system_info.h"
#include "backends/win32/ui.h"
#include "ports/platform.h"

namespace updater::win32 {

class Win32Platform {
 public:
  // database: another implementation of the database port (the whole-run test build's);
  // null for ADO. rights: another Win32Rights (the whole-run test build's); null for the own.
  explicit Win32Platform(ports::Database* database = nullptr, Win32Rights* rights = nullptr) {
    platform_.profile = &profile_;
    platform_.system = &system_;
    platform_.files = &files_;
    platform_.shell = &shell_;
    platform_.processes = &processes_;
    platform_.ui = &ui_;
    platform_.components = &components_;
    platform_.shortcuts = &shortcuts_;
    platform_.net = &net_;
    platform_.database = database != nullptr ? database : &database_;
    platform_.io = &io_;
    platform_.instances = &instances_;
    platform_.signatures = &signatures_;
    io_.WhileWaiting([this] { platform_.ui->DoEvents(); });
    ui_.WatchShowRequests([this] { return instances_.ShowRequested(); });
    Win32Rights& ownRights = rights != nullptr ? *rights : rights_;
    ownRights.WhileWaiting([this] { platform_.ui->DoEvents(); });
    platform_.rights = &ownRights;
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
  Win32InstanceLocks instances_;
  CngSignatures signatures_;
  Win32Rights rights_;
  Platform platform_;
};

}  // namespace updater::win32
