#include "backends/posix/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace updater::posix {

namespace {

class HeldFile final : public ports::InstanceLocks::Held {
 public:
  explicit HeldFile(int fd) : fd_(fd) {}
  ~HeldFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<ports::InstanceLocks::Held> PosixInstanceLocks::Claim(const std::string& folder) {
  const std::string file = (mapper_.Map(folder) / kLockFile).string();
  // Close-on-exec: the client and the helpers the updater starts must not inherit the lock.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  // Without a lock file (a read-only folder without one) nothing can be locked; the run goes on
  // as it would without this check.
  if (fd < 0) return std::make_unique<HeldFile>(-1);
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const bool heldElsewhere = errno == EWOULDBLOCK;
    ::close(fd);
    if (heldElsewhere) return nullptr;
    return std::make_unique<HeldFile>(-1);
  }
  return std::make_unique<HeldFile>(fd);
}

}  // namespace updater::posix
