#pragma once
// Starting programs from Windows command lines with posix_spawn, never through a shell, and
// waiting for the ones this object started.

#include <sys/types.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backends/posix/emulation/path_mapper.h"
#include "ports/system.h"

namespace updater::posix {

// What is known of one started child; a reaper thread fills it in when the child ends, so no
// child stays a zombie whether or not anyone opens it.
struct ChildState {
  std::mutex mutex;
  std::condition_variable ended;
  std::optional<int> status;  // the wait status once the child has ended
};

class PosixProcesses : public ports::Processes {
 public:
  PosixProcesses(const PathMapper& mapper, std::string programFolder)
      : mapper_(mapper), programFolder_(std::move(programFolder)) {}

  std::uint32_t Start(const std::string& commandLine, ports::ShowState show) override;
  std::unique_ptr<ports::ProcessHandle> OpenProcess(std::uint32_t access,
                                                    std::uint32_t pid) override;

  // The host executable a program name stands for; empty when none is found.
  std::string ResolveProgram(const std::string& name) const;
  // An argument as the started program receives it: paths in the program folder or on drive C:
  // mapped to the host, everything else unchanged.
  std::string MapArgument(const std::string& argument) const;

 private:
  const PathMapper& mapper_;
  std::string programFolder_;
  std::mutex mutex_;
  std::map<pid_t, std::shared_ptr<ChildState>> children_;
};

}  // namespace updater::posix
