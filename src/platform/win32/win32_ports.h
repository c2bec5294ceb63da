#pragma once
// The ports implemented with the Windows services. No Windows type appears here: handles are
// kept as plain pointers so that the header stays free of <windows.h>.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace updater::win32 {

class Win32ProfileStrings final : public ports::ProfileStrings {
 public:
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue, std::size_t bufferSize,
                        const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
};

class Win32SystemInfo final : public ports::SystemInfo {
 public:
  bool IsWow64Process(bool& wow64) override;
  std::string GetSystemDirectory(std::size_t bufferSize) override;
  std::string ProgramFolder() override;
};

class Win32Files final : public ports::Files {
 public:
  bool FileExists(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  bool FolderIsEmpty(const std::string& path) override;
  void MakeFolder(const std::string& path) override;
  std::vector<std::string> ListFiles(const std::string& folder) override;
};

class Win32Shell final : public ports::Shell {
 public:
  std::int32_t SHFileOperation(ports::ShellFileOperation& request) override;
};

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
