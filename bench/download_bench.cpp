// Downloads the package of a server through the upgrade window's DownloadPackage in a child
// process, and prints the time, the size written and the child's peak resident memory.
//
//   download_bench BASE_URL PROGRAM_FOLDER

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "backends/posix/platform.h"
#include "quiet_ui.h"
#include "upgrade/frmUpgrade.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: download_bench BASE_URL PROGRAM_FOLDER\n");
    return 2;
  }
  const std::string url = argv[1];
  const std::string folder = argv[2];
  std::filesystem::create_directories(std::filesystem::path(folder) / "tmp");
  std::filesystem::remove(std::filesystem::path(folder) / "tmp" / "setup.rar");

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    updater::posix::PosixPlatform backend(folder);
    QuietUi ui;
    backend.platform().ui = &ui;
    updater::frmUpgrade w(backend.platform());
    w.gcweb = url;
    w.DownloadPackage();
    ::_exit(0);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::error_code ec;
  const auto size =
      std::filesystem::file_size(std::filesystem::path(folder) / "tmp" / "setup.rar", ec);
  std::printf("seconds=%.3f bytes=%llu maxrss_kib=%ld status=%d\n", seconds,
              static_cast<unsigned long long>(ec ? 0 : size), usage.ru_maxrss, status);
  return status == 0 ? 0 : 1;
}
