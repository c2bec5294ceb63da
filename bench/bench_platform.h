#pragma once
// The backend of this build with its program folder given on the command line and a window
// system that shows nothing, so a benchmark measures the work and not the console.

#include <string>

#include "quiet_ui.h"

#ifdef _WIN32
#include "backends/win32/platform.h"

// The Windows backend takes its program folder from the executable; a benchmark names it.
class BenchPlatform {
 public:
  explicit BenchPlatform(const std::string& folder) : system_(*backend_.platform().system, folder) {
    backend_.platform().system = &system_;
    backend_.platform().ui = &ui_;
  }
  updater::Platform& platform() { return backend_.platform(); }

 private:
  class FolderSystemInfo : public updater::ports::SystemInfo {
   public:
    FolderSystemInfo(updater::ports::SystemInfo& real, std::string folder)
        : real_(real), folder_(std::move(folder)) {}
    bool IsWow64Process(bool& wow64) override { return real_.IsWow64Process(wow64); }
    std::string GetSystemDirectory(std::size_t size) override {
      return real_.GetSystemDirectory(size);
    }
    std::string ProgramFolder() override { return folder_; }

   private:
    updater::ports::SystemInfo& real_;
    std::string folder_;
  };

  updater::win32::Win32Platform backend_;
  FolderSystemInfo system_;
  QuietUi ui_;
};
#else
#include "backends/posix/platform.h"

class BenchPlatform {
 public:
  explicit BenchPlatform(const std::string& folder) : backend_(folder) {
    backend_.platform().ui = &ui_;
  }
  updater::Platform& platform() { return backend_.platform(); }

 private:
  updater::posix::PosixPlatform backend_;
  QuietUi ui_;
};
#endif
