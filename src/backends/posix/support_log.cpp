#include "backends/posix/support_log.h"

#include <fcntl.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

namespace updater::posix {

namespace fs = std::filesystem;

PosixSupportLog::PosixSupportLog(const std::string& programFolder, const fs::path& folder) {
  Place(folder, programFolder, programFolder, /*ignoreCase=*/false);
}

fs::path PosixSupportLog::DefaultFolder() {
  // A relative XDG_STATE_HOME is invalid and is ignored, as the base-directory rules say.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return fs::path(state) / "autoupdate";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return fs::path(home) / ".local" / "state" / "autoupdate";
  return {};
}

LogTime PosixSupportLog::Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900,
          local.tm_mon + 1,
          local.tm_mday,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000),
          static_cast<int>(local.tm_gmtoff / 60)};
}

unsigned long PosixSupportLog::ProcessId() { return static_cast<unsigned long>(::getpid()); }

bool PosixSupportLog::Append(const fs::path& file, const std::string& bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace updater::posix
