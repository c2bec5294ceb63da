#pragma once
// The set of ports one backend provides; the core reaches the machine only through it.

#include "ports/components.h"
#include "ports/database.h"
#include "ports/instance.h"
#include "ports/log.h"
#include "ports/net.h"
#include "ports/rights.h"
#include "ports/signatures.h"
#include "ports/system.h"
#include "ports/transfer.h"
#include "ports/ui.h"

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
  ports::InstanceLocks* instances = nullptr;
  // Null where no signature check is offered: a configured key then fails closed.
  ports::Signatures* signatures = nullptr;
  // Null where the program never asks for other rights (posix).
  ports::Rights* rights = nullptr;
  // One request for administrator rights per run, whatever its answer: set once it was made.
  bool elevationAsked = false;
  // Null where nothing is logged (tests that must not write into the user's folders).
  ports::SupportLog* log = nullptr;
};

}  // namespace updater
