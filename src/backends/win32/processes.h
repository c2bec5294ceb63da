#pragma once
// CreateProcessA, OpenProcess and the wait on a started program.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ports/system.h"

namespace updater::win32 {

class Win32Processes final : public ports::Processes {
 public:
  Win32Processes() = default;
  Win32Processes(const Win32Processes&) = delete;
  Win32Processes& operator=(const Win32Processes&) = delete;
  ~Win32Processes() override;

  std::uint32_t Start(const std::string& commandLine, ports::ShowState show) override;
  std::unique_ptr<ports::ProcessHandle> OpenProcess(std::uint32_t access,
                                                    std::uint32_t pid) override;

 private:
  // The process handle of every started program not yet opened: it keeps the process object
  // (and its id) alive, so a program that ends at once can still be opened and its exit code
  // read, and its id cannot be given to another process meanwhile.
  std::mutex mutex_;
  std::map<std::uint32_t, void*> started_;
};

}  // namespace updater::win32
