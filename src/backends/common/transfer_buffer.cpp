#include "backends/common/transfer_buffer.h"

#include <algorithm>

#include "util/text.h"

namespace updater {

namespace {
constexpr auto kPumpInterval = std::chrono::milliseconds(50);
constexpr std::size_t kSpareBlocks = 2;
}  // namespace

TransferBuffer::TransferBuffer(const TransferLimits& limits)
    : limits_(limits), lastProgress_(Clock::now()) {}

void TransferBuffer::OnCancel(std::function<void()> interrupt) {
  std::lock_guard<std::mutex> lock(mutex_);
  interrupt_ = std::move(interrupt);
}

void TransferBuffer::WhileWaiting(std::function<void()> pump) {
  std::lock_guard<std::mutex> lock(mutex_);
  pump_ = std::move(pump);
}

void TransferBuffer::SetHeaders(int status,
                                const std::vector<std::pair<std::string, std::string>>& headers) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = status;
  headers_ = headers;
  hasHeaders_ = true;
  lastProgress_ = Clock::now();
  dataOrEnd_.notify_all();
}

void TransferBuffer::Push(const char* data, std::size_t size) {
  if (size == 0) return;
  // A block the caller has emptied is refilled rather than a new one allocated and freed for
  // every read; the copy is made outside the lock, so the caller is not held up meanwhile.
  std::string block;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!spare_.empty()) {
      block = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  block.assign(data, size);
  std::lock_guard<std::mutex> lock(mutex_);
  blocks_.push_back(std::move(block));
  buffered_ += size;
  lastProgress_ = Clock::now();
  if (callerWaiting_) dataOrEnd_.notify_all();
}

bool TransferBuffer::Full() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buffered_ >= limits_.buffer;
}

TransferBuffer::Room TransferBuffer::WaitForRoom(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Half empty before refilling, so the worker does not wake for every chunk taken.
  const auto ready = [&] { return cancelled_ || buffered_ <= limits_.buffer / 2; };
  workerWaiting_ = true;
  const bool done = room_.wait_for(lock, wait, ready);
  workerWaiting_ = false;
  if (cancelled_) return Room::Cancelled;
  if (!done) return Room::Waiting;
  lastProgress_ = Clock::now();
  return Room::Available;
}

void TransferBuffer::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  dataOrEnd_.notify_all();
}

bool TransferBuffer::Cancelled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancelled_;
}

void TransferBuffer::WorkerGone() {
  std::lock_guard<std::mutex> lock(mutex_);
  workerGone_ = true;
  finished_ = true;
  dataOrEnd_.notify_all();
  gone_.notify_all();
}

bool TransferBuffer::Pending() {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto over = [&] { return hasHeaders_ || finished_ || cancelled_; };
  if (over()) return false;
  dataOrEnd_.wait_for(lock, limits_.poll, over);
  if (over()) return false;
  if (StalledLocked(Clock::now())) {
    CancelLocked(lock);
    return false;
  }
  return true;
}

std::string TransferBuffer::Header(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!hasHeaders_ || cancelled_) return "";
  for (const auto& [key, value] : headers_) {
    if (text::EqualsNoCase(key, name)) return value;
  }
  return "";
}

bool TransferBuffer::HasHeaders() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hasHeaders_;
}

int TransferBuffer::Status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hasHeaders_ && !cancelled_ ? status_ : 0;
}

std::string TransferBuffer::Take(std::size_t size) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (buffered_ == 0) {
    if (finished_ || cancelled_) return "";
    const auto now = Clock::now();
    if (StalledLocked(now)) {
      CancelLocked(lock);
      return "";
    }
    callerWaiting_ = true;
    const auto deadline = lastProgress_ + limits_.stall;
    const bool arrived = dataOrEnd_.wait_until(lock, std::min(deadline, now + kPumpInterval), [&] {
      return buffered_ > 0 || finished_ || cancelled_;
    });
    callerWaiting_ = false;
    if (!arrived && pump_) {
      const auto pump = pump_;
      lock.unlock();
      pump();
      lock.lock();
    }
  }
  std::string out;
  out.reserve(std::min(size, buffered_));
  while (out.size() < size && !blocks_.empty()) {
    const std::string& block = blocks_.front();
    const std::size_t n = std::min(size - out.size(), block.size() - front_);
    out.append(block, front_, n);
    front_ += n;
    if (front_ == block.size()) {
      if (spare_.size() < kSpareBlocks) spare_.push_back(std::move(blocks_.front()));
      blocks_.pop_front();
      front_ = 0;
    }
  }
  buffered_ -= out.size();
  if (workerWaiting_ && buffered_ <= limits_.buffer / 2) room_.notify_all();
  return out;
}

void TransferBuffer::Cancel() {
  std::unique_lock<std::mutex> lock(mutex_);
  CancelLocked(lock);
}

void TransferBuffer::CancelLocked(std::unique_lock<std::mutex>& lock) {
  if (cancelled_) return;
  cancelled_ = true;
  blocks_.clear();
  front_ = 0;
  buffered_ = 0;
  room_.notify_all();
  dataOrEnd_.notify_all();
  const auto interrupt = interrupt_;
  lock.unlock();
  if (interrupt) interrupt();
  lock.lock();
}

bool TransferBuffer::WaitWorkerGone(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  return gone_.wait_for(lock, wait, [&] { return workerGone_; });
}

}  // namespace updater
