#pragma once
// The win32 backend's download port: WinINet transfers, package files written through a buffer
// of our own with the wide file services, and text of the ANSI code page.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "backends/common/transfer_buffer.h"
#include "ports/transfer.h"

namespace updater::win32 {

class Win32FileIO final : public ports::FileIO {
 public:
  explicit Win32FileIO(TransferLimits limits = {}) : limits_(limits) {}

  // Runs while a transfer waits for bytes, so that the window's events are served meanwhile.
  void WhileWaiting(std::function<void()> pump) { pump_ = std::move(pump); }

  std::unique_ptr<ports::Transfer> NewTransfer() override;
  std::unique_ptr<ports::BinaryFile> OpenBinary(const std::string& path) override;
  std::unique_ptr<ports::BinaryFile> OpenAppend(const std::string& path) override;
  std::int64_t FileLen(const std::string& path) override;
  void Name(const std::string& from, const std::string& to) override;
  void Kill(const std::string& path) override;
  std::unique_ptr<ports::ReadableFile> OpenRead(const std::string& path) override;
  std::string Sha256(const std::string& path) override;
  std::string ReadAll(const std::string& path) override;
  std::string AnsiToUtf8(const std::string& bytes) override;

 private:
  TransferLimits limits_;
  std::function<void()> pump_;
};

}  // namespace updater::win32
