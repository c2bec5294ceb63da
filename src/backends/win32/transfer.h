#pragma once
// The package download on WinINet: the request runs on a worker thread that reads what has
// arrived into a bounded buffer and waits while it is full; the caller takes small chunks.
// Closing the handles is how a blocked worker is stopped.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backends/common/transfer_buffer.h"
#include "ports/transfer.h"

namespace updater::win32 {

class WinInetTransfer final : public ports::Transfer {
 public:
  // pump runs while GetChunk waits for bytes (see TransferBuffer::WhileWaiting).
  explicit WinInetTransfer(TransferLimits limits = {}, std::function<void()> pump = {})
      : limits_(limits), pump_(std::move(pump)) {}
  ~WinInetTransfer() override;
  WinInetTransfer(const WinInetTransfer&) = delete;
  WinInetTransfer& operator=(const WinInetTransfer&) = delete;

  void Execute(const std::string& url, const std::string& operation,
               const std::vector<std::string>& headers) override;
  using ports::Transfer::Execute;
  bool StillExecuting() override;
  int StatusCode() override;
  std::string GetHeader(const std::string& name) override;
  std::string GetChunk(std::size_t size) override;

  struct Shared;  // what the worker and the caller share; it outlives whichever ends first

 private:
  void Stop();

  TransferLimits limits_;
  std::function<void()> pump_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace updater::win32
