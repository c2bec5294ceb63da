#pragma once
// All the fakes behind one Platform, for unit tests of the core.

#include <string>
#include <vector>

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

  // The command lines started and the message-box texts shown, in order.
  std::vector<std::string> Started() const {
    std::vector<std::string> out;
    for (const auto& s : processes.started) out.push_back(s.commandLine);
    return out;
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> out;
    for (const auto& b : ui.boxes) out.push_back(b.text);
    return out;
  }
};

}  // namespace fakes
