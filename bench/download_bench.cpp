// Downloads the package of a server through the upgrade window's DownloadPackage and prints the
// time, the size written and the peak resident memory of the process that downloaded.
//
//   download_bench BASE_URL PROGRAM_FOLDER [RELEASE]
//
// RELEASE is the version the server offers; with it, a package the folder holds (setup.rar)
// and a block index beside the server's package, the download goes by blocks, and the support
// log's line about it is printed too.

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "bench_platform.h"
#include "upgrade/frmUpgrade.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <psapi.h>
// clang-format on
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// Prints the support log's line about a download by blocks.
class BlocksLine : public updater::ports::SupportLog {
 public:
  void Write(const std::string& text) override {
    if (text.find("by blocks") != std::string::npos) std::printf("%s\n", text.c_str());
  }
};

void Download(const std::string& url, const std::string& folder, const std::string& release) {
  BenchPlatform backend(folder);
  BlocksLine log;
  backend.platform().log = &log;
  updater::frmUpgrade w(backend.platform());
  w.gcweb = url;
  w.Text1.Text = release;
  w.DownloadPackage();
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: download_bench BASE_URL PROGRAM_FOLDER [RELEASE]\n");
    return 2;
  }
  const std::string url = argv[1];
  const std::string folder = argv[2];
  const std::string release = argc == 4 ? argv[3] : "";
  // The folder is a Windows path under wine; the standard library maps it there too.
  const std::filesystem::path package = std::filesystem::path(folder) / "tmp" / "setup.rar";
  std::filesystem::create_directories(package.parent_path());
  std::filesystem::remove(package);

  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  long maxrssKib = 0;
#ifdef _WIN32
  // Wine reports the peak resident size of the whole process, its own libraries included.
  Download(url, folder, release);
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    maxrssKib = static_cast<long>(counters.PeakWorkingSetSize / 1024);
  }
#else
  // In a child of its own, so the peak is the download's and not this program's.
  const pid_t pid = ::fork();
  if (pid == 0) {
    Download(url, folder, release);
    ::_exit(0);
  }
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  maxrssKib = usage.ru_maxrss;
#endif
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::error_code ec;
  const auto size = std::filesystem::file_size(package, ec);
  std::printf("seconds=%.3f bytes=%llu maxrss_kib=%ld status=%d\n", seconds,
              static_cast<unsigned long long>(ec ? 0 : size), maxrssKib, status);
  return status == 0 ? 0 : 1;
}
