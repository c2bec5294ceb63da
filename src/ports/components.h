#pragma once
// What start-up needs beyond the common ports: running a component's self-registration entry
// point in-process, and writing the desktop shortcut.

#include <cstdint>
#include <string>

namespace updater::ports {

enum class EntryPointOutcome {
  Finished,      // the entry point ran to its end within the limit (whatever it returned)
  NotLoadable,   // the library could not be loaded
  NoEntryPoint,  // the library does not export the entry point
  NoWorker,      // the worker could not be started
  TimedOut,      // the entry point did not finish in time; the worker was ended
};

class Components {
 public:
  virtual ~Components() = default;
  // Loads the library at path, looks up entryPoint and runs it on a worker, waiting at most
  // timeoutMs; the library is released on every path that loaded it.
  virtual EntryPointOutcome RunEntryPoint(const std::string& path, const std::string& entryPoint,
                                          std::uint32_t timeoutMs) = 0;
};

class Shortcuts {
 public:
  virtual ~Shortcuts() = default;
  // The current user's desktop folder. Throws RuntimeError when there is none.
  virtual std::string DesktopFolder() = 0;
  // Writes (or replaces) the shortcut file link pointing to target, with target's first icon and
  // no hot key. Throws RuntimeError on failure.
  virtual void SaveShortcut(const std::string& link, const std::string& target) = 0;
};

}  // namespace updater::ports
