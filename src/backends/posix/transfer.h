#pragma once
// The package download on libcurl: the request runs on a worker thread that reads the network in
// large blocks into a bounded buffer and pauses while it is full; the caller takes small chunks.

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "backends/common/transfer_buffer.h"
#include "ports/transfer.h"

namespace updater::posix {

class CurlTransfer final : public ports::Transfer {
 public:
  // pump runs while GetChunk waits for bytes (see TransferBuffer::WhileWaiting); caFile: see
  // SetRequestOptions.
  explicit CurlTransfer(TransferLimits limits = {}, std::function<void()> pump = {},
                        std::string caFile = {});
  ~CurlTransfer() override;
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  void Execute(const std::string& url, const std::string& operation,
               const std::vector<std::string>& headers) override;
  using ports::Transfer::Execute;
  bool StillExecuting() override;
  int StatusCode() override;
  std::string GetHeader(const std::string& name) override;
  std::string GetChunk(std::size_t size) override;

 private:
  void Stop();

  TransferLimits limits_;
  std::function<void()> pump_;
  std::string caFile_;
  std::shared_ptr<TransferBuffer> buffer_;
  void* multi_ = nullptr;  // CURLM*, kept out of this header
  std::thread worker_;
};

}  // namespace updater::posix
