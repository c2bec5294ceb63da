#pragma once
// Administrator rights on Windows: the token's elevation, a write tried in a folder, and the
// program started again with the runas verb (the consent prompt) and a private argument.

#include <functional>
#include <optional>
#include <string>

#include "ports/rights.h"

namespace updater::win32 {

class Win32Rights : public ports::Rights {
 public:
  // The argument that marks the process started for elevation, followed by the secret of the
  // run that started it.
  static constexpr const wchar_t* kElevatedArgument = L"/autoupdate-elevated-run";
  // The exit status by which that process asks the one waiting for it to start the client.
  static constexpr unsigned long kClientWantedExit = 0x2000C11E;

  Win32Rights() = default;
  Win32Rights(const Win32Rights&) = delete;
  Win32Rights& operator=(const Win32Rights&) = delete;

  // What serves this process's windows while it waits for the elevated run.
  void WhileWaiting(std::function<void()> serve) { whileWaiting_ = std::move(serve); }

  bool StartedForElevation() override;
  bool IsElevated() override;
  bool WriteDenied(const std::string& folder) override;
  ports::ElevatedRun RunElevated() override;
  [[noreturn]] void EndForClient() override;

 private:
  std::function<void()> whileWaiting_;
  std::optional<bool> startedForElevation_;
};

}  // namespace updater::win32
