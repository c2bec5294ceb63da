#include "backends/posix/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace updater::posix {

class HeldFile final : public ports::InstanceLocks::Held {
 public:
  HeldFile(int fd, PosixInstanceLocks* locks) : fd_(fd), locks_(locks) {}
  ~HeldFile() override {
    if (locks_ != nullptr) locks_->Forget(fd_);
    if (fd_ >= 0) ::close(fd_);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

 private:
  int fd_;
  PosixInstanceLocks* locks_;
};

namespace {

// Asks the holder of the lock file to show its window: the file grows by one byte.
void RequestShow(const std::string& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return;  // a read-only lock file: the first one cannot be asked
  ssize_t written;
  do {
    written = ::write(fd, "\n", 1);
  } while (written < 0 && errno == EINTR);
  ::close(fd);
}

}  // namespace

std::unique_ptr<ports::InstanceLocks::Held> PosixInstanceLocks::Claim(const std::string& folder) {
  const std::string file = (mapper_.Map(folder) / kLockFile).string();
  // Close-on-exec: the client and the helpers the updater starts must not inherit the lock.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  // Without a lock file (a read-only folder without one) nothing can be locked; the run goes on
  // as it would without this check.
  if (fd < 0) return std::make_unique<HeldFile>(-1, nullptr);
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const bool heldElsewhere = errno == EWOULDBLOCK;
    ::close(fd);
    if (!heldElsewhere) return std::make_unique<HeldFile>(-1, nullptr);
    RequestShow(file);
    return nullptr;
  }
  // Requests left by the starts of earlier holders are not for this one. (A read-only lock file
  // keeps its length; only growth counts.)
  [[maybe_unused]] const int truncated = ::ftruncate(fd, 0);
  struct stat st {};
  watched_ = fd;
  seen_ = ::fstat(fd, &st) == 0 ? st.st_size : 0;
  return std::make_unique<HeldFile>(fd, this);
}

bool PosixInstanceLocks::ShowRequested() {
  struct stat st {};
  if (watched_ < 0 || ::fstat(watched_, &st) != 0 || st.st_size <= seen_) return false;
  seen_ = st.st_size;
  return true;
}

void PosixInstanceLocks::Forget(int fd) {
  if (fd == watched_) watched_ = -1;
}

}  // namespace updater::posix
