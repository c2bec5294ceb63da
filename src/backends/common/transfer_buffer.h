#pragma once
// What a download's network worker and the window's thread share: the response headers, a
// bounded buffer of body bytes, and the stall clock. The worker fills the buffer in large blocks
// and waits while it is full; the caller takes small chunks and waits while it is empty. Both
// backends' transfers are built on it, so they time out and stop alike.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "backends/common/http_limits.h"

namespace updater {

class TransferBuffer {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Room { Available, Waiting, Cancelled };

  explicit TransferBuffer(const TransferLimits& limits);

  // Called by Cancel, outside the lock, to interrupt a worker blocked in the network.
  void OnCancel(std::function<void()> interrupt);
  // Called, outside the lock, about every 50 ms while Take waits for bytes: the window's pending
  // events run meanwhile, as they do while the caller polls.
  void WhileWaiting(std::function<void()> pump);

  // --- Worker side ---
  // The response has begun: its status code and its header lines, name and value.
  void SetHeaders(int status, const std::vector<std::pair<std::string, std::string>>& headers);
  // Appends body bytes (always accepted, even beyond the limit: the worker asks first).
  void Push(const char* data, std::size_t size);
  bool Full() const;
  // Waits up to wait for the buffer to drain to half; restarts the stall clock when it has,
  // since the network was not read meanwhile.
  Room WaitForRoom(std::chrono::milliseconds wait);
  // The response is over, complete or not: the caller gets what is buffered, then "".
  void Finish();
  bool Cancelled() const;
  // The worker has returned and touches nothing more; the owner may then go.
  void WorkerGone();

  // --- Caller side ---
  // Waits up to the poll time; true while neither headers nor an end have come and the stall
  // limit has not passed (past it the transfer is cancelled).
  bool Pending();
  // "" when absent or when no headers came.
  std::string Header(const std::string& name) const;
  bool HasHeaders() const;
  // The response's status code; 0 when no headers came or the transfer was cancelled.
  int Status() const;
  // Up to size bytes, waiting for them; "" at the end, after a failure or a stall.
  std::string Take(std::size_t size);
  // Stops the worker: it sees Cancelled and the interrupt runs.
  void Cancel();
  // Waits up to wait for WorkerGone.
  bool WaitWorkerGone(std::chrono::milliseconds wait);

 private:
  bool StalledLocked(Clock::time_point now) const { return now - lastProgress_ >= limits_.stall; }
  void CancelLocked(std::unique_lock<std::mutex>& lock);

  const TransferLimits limits_;
  mutable std::mutex mutex_;
  std::condition_variable dataOrEnd_;  // caller waits: headers, bytes, end
  std::condition_variable room_;       // worker waits: room, cancel
  std::condition_variable gone_;
  std::function<void()> interrupt_;
  std::function<void()> pump_;
  std::vector<std::pair<std::string, std::string>> headers_;
  bool hasHeaders_ = false;
  int status_ = 0;
  std::deque<std::string> blocks_;
  std::vector<std::string> spare_;  // emptied blocks, kept for the next Push
  std::size_t front_ = 0;           // bytes of blocks_.front() already taken
  std::size_t buffered_ = 0;        // bytes not yet taken
  bool finished_ = false;
  bool cancelled_ = false;
  bool workerGone_ = false;
  bool callerWaiting_ = false;
  bool workerWaiting_ = false;
  Clock::time_point lastProgress_;
};

}  // namespace updater
