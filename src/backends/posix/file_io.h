#pragma once
// The posix backend's download port: libcurl transfers, package files written through a buffer
// of our own, and the ANSI code page, which here is UTF-8.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "backends/common/transfer_buffer.h"
#include "backends/posix/emulation/path_mapper.h"
#include "ports/transfer.h"

namespace updater::posix {

class PosixFileIO final : public ports::FileIO {
 public:
  // caFile: see SetRequestOptions.
  explicit PosixFileIO(const PathMapper& mapper, TransferLimits limits = {},
                       std::string caFile = {})
      : mapper_(mapper), limits_(limits), caFile_(std::move(caFile)) {}

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
  std::string AnsiToUtf8(const std::string& bytes) override { return bytes; }

 private:
  const PathMapper& mapper_;
  TransferLimits limits_;
  std::string caFile_;
  std::function<void()> pump_;
};

}  // namespace updater::posix
