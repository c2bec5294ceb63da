#pragma once
// The set of ports one backend provides; the core reaches the machine only through it.

#include "platform/ports.h"

namespace updater {

struct Platform {
  ports::ProfileStrings* profile = nullptr;
  ports::SystemInfo* system = nullptr;
  ports::Files* files = nullptr;
  ports::Shell* shell = nullptr;
  ports::Processes* processes = nullptr;
};

}  // namespace updater
