#pragma once
// All the fakes behind one Platform, for unit tests of the core.

#include "fakes/fake_components.h"
#include "fakes/fake_database.h"
#include "fakes/fake_log.h"
#include "fakes/fake_net.h"
#include "fakes/fake_system.h"
#include "fakes/fake_transfer.h"
#include "fakes/fake_ui.h"
#include "ports/platform.h"

namespace fakes {

struct FakePlatform {
  FakeProfile profile;
  FakeSystem system;
  FakeFiles files;
  FakeShell shell;
  FakeProcesses processes;
  FakeDatabase database;
  FakeNet net;
  FakeUi ui;
  FakeIo io;
  FakeComponents components;
  FakeShortcuts shortcuts;
  FakeLog log;  // written only where a test sets pf.log to it
  updater::Platform pf{&profile, &system, &files, &shell,      &processes, &database,
                       &net,     &ui,     &io,    &components, &shortcuts};
};

}  // namespace fakes
