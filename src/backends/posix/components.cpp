#include "backends/posix/components.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

namespace updater::posix {

namespace {

using ports::EntryPointOutcome;

// The one byte the child writes before it ends, telling how far it got.
constexpr char kNotLoadable = 'L';
constexpr char kNoEntryPoint = 'E';
constexpr char kFinished = 'F';

// Runs in the forked child: loads the library, calls the entry point and reports on out.
[[noreturn]] void RunInChild(const char* file, const char* entryPoint, int out) {
  char report = kNotLoadable;
  if (void* library = ::dlopen(file, RTLD_NOW | RTLD_LOCAL)) {
    void* symbol = ::dlsym(library, entryPoint);
    if (symbol == nullptr) {
      report = kNoEntryPoint;
    } else {
      long (*entry)();
      static_assert(sizeof(entry) == sizeof(symbol));
      std::memcpy(&entry, &symbol, sizeof(symbol));
      entry();  // what it returns is not looked at
      report = kFinished;
    }
  }
  // The parent flushed its buffers before the fork, so only the component's output is left.
  std::fflush(nullptr);
  while (::write(out, &report, 1) < 0 && errno == EINTR) {
  }
  ::_exit(0);
}

enum class Wait { Report, Ended, TimedOut };

// Waits until the child reports, closes its end of the pipe (it ended), or the deadline passes.
Wait WaitForReport(int fd, std::uint32_t timeoutMs, char& report) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const long long ms = std::clamp<long long>(left.count(), 0, INT_MAX);
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(ms));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return Wait::TimedOut;
    if (ready < 0) return Wait::Ended;
    const ssize_t n = ::read(fd, &report, 1);
    if (n == 1) return Wait::Report;
    if (n < 0 && errno == EINTR) continue;
    return Wait::Ended;
  }
}

void Reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

EntryPointOutcome PosixComponents::RunEntryPoint(const std::string& path,
                                                 const std::string& entryPoint,
                                                 std::uint32_t timeoutMs) {
  std::string file = mapper_.Map(path).string();
  // Without a slash dlopen would search the library path instead of the named file.
  if (file.find('/') == std::string::npos) file = "./" + file;

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return EntryPointOutcome::NoWorker;
  // Buffered output would otherwise be written twice, once by each process.
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return EntryPointOutcome::NoWorker;
  }
  if (pid == 0) {
    ::close(fds[0]);
    RunInChild(file.c_str(), entryPoint.c_str(), fds[1]);
  }
  ::close(fds[1]);

  char report = 0;
  const Wait wait = WaitForReport(fds[0], timeoutMs, report);
  if (wait != Wait::Report) {
    // Over time, or gone without a word (it crashed or called exit): make sure it is gone.
    ::kill(pid, SIGKILL);
  }
  Reap(pid);
  ::close(fds[0]);

  switch (wait) {
    case Wait::TimedOut:
      return EntryPointOutcome::TimedOut;
    case Wait::Ended:
      // The entry point never came back: reported like a worker that could not do its work.
      return EntryPointOutcome::NoWorker;
    case Wait::Report:
      break;
  }
  switch (report) {
    case kFinished:
      return EntryPointOutcome::Finished;
    case kNoEntryPoint:
      return EntryPointOutcome::NoEntryPoint;
    default:
      return EntryPointOutcome::NotLoadable;
  }
}

}  // namespace updater::posix
