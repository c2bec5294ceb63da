#pragma once
// The set of ports one backend provides; the core reaches the machine only through it.

#include "platform/ports.h"
#include "protocol/net_ports.h"
#include "settings/database_port.h"
#include "startup/startup_ports.h"
#include "ui/ui_port.h"
#include "upgrade/download_port.h"

namespace updater {

struct Platform {
  ports::ProfileStrings* profile = nullptr;
  ports::SystemInfo* system = nullptr;
  ports::Files* files = nullptr;
  ports::Shell* shell = nullptr;
  ports::Processes* processes = nullptr;
  ports::Database* database = nullptr;
  ports::Net* net = nullptr;
  ports::UiHost* ui = nullptr;
  ports::FileIO* io = nullptr;
  ports::Components* components = nullptr;
  ports::Shortcuts* shortcuts = nullptr;
};

}  // namespace updater
