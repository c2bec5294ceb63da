// Times the installation's copy alone, on a tree the caller has unpacked into PROGRAM_FOLDER\tmp:
// what it replaces moved aside for the undo (left there, as until the installation ends), then
// everything renamed into place but initSystem and system32, which are copied, as the
// installation does it.
//
//   copy_bench PROGRAM_FOLDER

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_platform.h"
#include "filesystem/CFileSystem.h"
#include "upgrade/InstallJournal.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: copy_bench PROGRAM_FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  BenchPlatform backend(folder);
  updater::CFileSystem fs(backend.platform());
  const auto start = std::chrono::steady_clock::now();
  updater::InstallJournal journal(backend.platform(), folder);
  const std::vector<std::string> again = {"initSystem", "system32"};
  std::int32_t result = journal.Keep(folder + "\\tmp", folder)
                            ? journal.MoveIn(folder + "\\tmp", folder, again)
                            : updater::InstallJournal::kClash;
  for (const std::string& name : again) {
    if (result == 0 && backend.platform().files->KindOf(folder + "\\tmp\\" + name) !=
                           updater::ports::Files::Kind::None) {
      result = fs.CopyFolderOrFile(folder + "\\tmp\\" + name, folder + "\\");
    }
  }
  journal.Seal();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("seconds=%.3f result=%d\n", seconds, static_cast<int>(result));
  return result == 0 ? 0 : 1;
}
