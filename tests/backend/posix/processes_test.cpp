// Starting programs: how a program name is found, which arguments are mapped, and what becomes
// of children that nobody waits for.

#include "backends/posix/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "backend/posix/temp_folder.h"
#include "ports/errors.h"

namespace updater::posix {
namespace {

namespace fs = std::filesystem;

class ProcessesTest : public ::testing::Test {
 protected:
  void Script(const fs::path& path, const std::string& body) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms(0755));
  }

  posix_test::TempFolder temp_;
  PathMapper mapper_{temp_.path()};
  PosixProcesses processes_{mapper_, temp_.str()};
};

TEST_F(ProcessesTest, ABareNameIsSearchedInTheProgramFolderThenTheSystemFolderThenPath) {
  Script(temp_.path() / "drive_c/Windows/System32/regsvr32.exe", "exit 0");
  Script(temp_.path() / "Rar.exe", "exit 0");
  Script(temp_.path() / "drive_c/Windows/System32/rar.exe", "exit 0");
  EXPECT_EQ(processes_.ResolveProgram("rar.exe"), (temp_.path() / "Rar.exe").string());
  EXPECT_EQ(processes_.ResolveProgram("RAR"), (temp_.path() / "Rar.exe").string());
  EXPECT_EQ(processes_.ResolveProgram("regsvr32"),
            (temp_.path() / "drive_c/Windows/System32/regsvr32.exe").string());
  EXPECT_EQ(processes_.ResolveProgram("sh"), "/usr/bin/sh");
  EXPECT_EQ(processes_.ResolveProgram("no-such-program-anywhere"), "");
  // A file that cannot be run is not a program.
  std::ofstream(temp_.path() / "client.dll") << "data";
  EXPECT_EQ(processes_.ResolveProgram(temp_.str() + "\\client.dll"), "");
  EXPECT_THROW(
      {
        try {
          processes_.Start("\"" + temp_.str() + "\\client.dll\" x", ports::ShowState::Normal);
        } catch (const RuntimeError& e) {
          EXPECT_EQ(e.number(), updater::kErrFileNotFound);
          throw;
        }
      },
      RuntimeError);
}

TEST_F(ProcessesTest, PathsInTheProgramFolderOrOnDriveCAreMapped) {
  fs::create_directories(temp_.path() / "Tmp");
  EXPECT_EQ(processes_.MapArgument(temp_.str() + "\\tmp\\setup.rar"),
            (temp_.path() / "Tmp/setup.rar").string());
  EXPECT_EQ(processes_.MapArgument(temp_.str() + "\\TMP\\"), (temp_.path() / "Tmp").string() + "/");
  EXPECT_EQ(processes_.MapArgument("C:\\Windows\\System32\\x.dll"),
            (temp_.path() / "drive_c/Windows/System32/x.dll").string());
  for (const std::string plain : {"x", "-y", "-s", "/elsewhere\\a", "D:\\x", "Cx:\\"}) {
    EXPECT_EQ(processes_.MapArgument(plain), plain);
  }
  EXPECT_EQ(processes_.MapArgument(temp_.str() + "x\\y"), temp_.str() + "x\\y");
}

TEST_F(ProcessesTest, ArgumentsArriveSplitAndMapped) {
  const fs::path out = temp_.path() / "args.txt";
  Script(temp_.path() / "echo args.exe", "printf '%s\\n' \"$@\" > \"$1\"");
  const std::uint32_t pid = processes_.Start(
      "\"" + temp_.str() + "\\Echo Args\" \"" + temp_.str() + "\\args.txt\" x \"a b\" a\\\\\"b",
      ports::ShowState::Hidden);
  auto handle = processes_.OpenProcess(ports::SYNCHRONIZE, pid);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->Wait(ports::INFINITE), ports::WAIT_OBJECT_0);
  EXPECT_EQ(handle->ExitCode(), 0u);
  std::ifstream in(out);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(all, out.string() + "\nx\na b\na\\b\n");
}

TEST_F(ProcessesTest, ASignalEndsWith128PlusItsNumber) {
  Script(temp_.path() / "sleeper", "exec sleep 30");
  const std::uint32_t pid =
      processes_.Start("\"" + temp_.str() + "\\sleeper\"", ports::ShowState::Hidden);
  auto handle = processes_.OpenProcess(ports::SYNCHRONIZE, pid);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->Wait(50), ports::WAIT_TIMEOUT);
  EXPECT_EQ(handle->ExitCode(), std::nullopt);
  ::kill(static_cast<pid_t>(pid), SIGTERM);
  EXPECT_EQ(handle->Wait(10000), ports::WAIT_OBJECT_0);
  EXPECT_EQ(handle->ExitCode(), 128u + SIGTERM);
}

TEST_F(ProcessesTest, ChildrenNobodyOpensDoNotStayZombies) {
  Script(temp_.path() / "quick", "exit 3");
  const std::uint32_t pid =
      processes_.Start("\"" + temp_.str() + "\\quick\"", ports::ShowState::Normal);
  bool reaped = false;
  for (int i = 0; i < 200 && !reaped; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    reaped = !fs::exists("/proc/" + std::to_string(pid));
  }
  EXPECT_TRUE(reaped);
  // Its end is still known to a later open.
  auto handle = processes_.OpenProcess(ports::SYNCHRONIZE, pid);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->Wait(0), ports::WAIT_OBJECT_0);
  EXPECT_EQ(handle->ExitCode(), 3u);
  EXPECT_EQ(processes_.OpenProcess(ports::SYNCHRONIZE, 1), nullptr);
}

}  // namespace
}  // namespace updater::posix
