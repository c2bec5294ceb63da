// Checks of the win32 backend that only Windows can express: attributes, double-byte names in
// the ANSI code page, path lists with several entries, and the life of a started process.

#include "backends/win32/windows_api.h"
#include "contract/fixture.h"
#include "ports/errors.h"

namespace contract {
namespace {

using namespace updater;

class Win32Backend : public ContractTest {
 protected:
  void SetAttributes(const std::string& rel, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesW(Host(rel).c_str(), attributes)) << rel;
  }
};

TEST_F(Win32Backend, HiddenAndSystemEntriesAreNotOrdinary) {
  Write("hidden.txt", "h");
  Write("system.txt", "s");
  MakeDirs("hidden folder");
  SetAttributes("hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  SetAttributes("system.txt", FILE_ATTRIBUTE_SYSTEM);
  SetAttributes("hidden folder", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
  auto& files = *pf().files;
  EXPECT_FALSE(files.FileExists(P("hidden.txt")));
  EXPECT_FALSE(files.FileExists(P("system.txt")));
  EXPECT_FALSE(files.FileExists(P("*.txt")));  // no ordinary match
  EXPECT_FALSE(files.FolderExists(P("hidden.txt")));
  EXPECT_FALSE(files.FolderExists(P("hidden folder")));
  EXPECT_TRUE(files.FolderExists(P("hidden folder\\")));  // its "." entry is searched

  Write("plain.txt", "p");
  EXPECT_TRUE(files.FileExists(P("*.txt")));  // the search goes on past the hidden ones
  // A listing counts every file, whatever its attributes.
  EXPECT_EQ(files.ListFiles(P("")),
            (std::vector<std::string>{"hidden.txt", "plain.txt", "system.txt"}));
}

// In code page 936 the second byte of 乗 is 0x5C, the backslash: the backend must not take it
// for a separator, and the names must come back intact.
TEST_F(Win32Backend, DoubleByteNamesWithABackslashByteSurviveTheAnsiServices) {
  if (GetACP() != 936) GTEST_SKIP() << "needs the ANSI code page 936";
  auto& files = *pf().files;
  files.MakeFolder(P("d乗"));
  EXPECT_TRUE(IsDir("d乗"));
  EXPECT_TRUE(files.FolderExists(P("d乗")));
  EXPECT_FALSE(files.FileExists(P("d乗")));
  EXPECT_TRUE(files.FolderIsEmpty(P("d乗")));

  Write("d乗\\f乗.txt", "x");
  EXPECT_TRUE(files.FileExists(P("d乗\\f乗.txt")));
  EXPECT_FALSE(files.FolderIsEmpty(P("d乗")));
  EXPECT_EQ(files.ListFiles(P("d乗")), std::vector<std::string>{"f乗.txt"});

  ports::ShellFileOperation copy;
  copy.wFunc = ports::FO_COPY;
  copy.pFrom = P("d乗\\f乗.txt");
  copy.pTo = P("e乗");
  copy.fFlags = 0x2014;
  EXPECT_EQ(pf().shell->SHFileOperation(copy), 0);
  EXPECT_EQ(Read("e乗"), "x");

  Write("乗.ini", "");
  EXPECT_TRUE(pf().profile->WriteString("节乗", "键乗", "值乗", P("乗.ini")));
  EXPECT_NE(Read("乗.ini").value_or("").find("\x81\x5C"), std::string::npos);  // stored as GBK
  EXPECT_EQ(pf().profile->GetString("节乗", "键乗", "", 256, P("乗.ini")), "值乗");
}

TEST_F(Win32Backend, APathListWithSeveralEntriesReachesTheShellWhole) {
  Write("a.txt", "a");
  Write("b.txt", "b");
  Write("c.txt", "c");
  ports::ShellFileOperation erase;
  erase.wFunc = ports::FO_DELETE;
  erase.pFrom = P("a.txt");
  erase.pFrom.push_back('\0');
  erase.pFrom += P("b.txt");
  erase.fFlags = 0x2014;
  EXPECT_EQ(pf().shell->SHFileOperation(erase), 0);
  EXPECT_FALSE(Exists("a.txt"));
  EXPECT_FALSE(Exists("b.txt"));
  EXPECT_TRUE(Exists("c.txt"));
}

TEST_F(Win32Backend, AStartedProgramCanBeOpenedAfterItHasEnded) {
  auto& processes = *pf().processes;
  std::string child = TheEnv().ChildProgram();
  child.insert(child.begin(), '"');
  child.push_back('"');
  const std::uint32_t pid = processes.Start(child + " --exit 7", ports::ShowState::Hidden);
  {
    // Waited for through a handle of our own, closed again, so that only the backend's own
    // record of its child can keep the ended process (an emulated child takes a while to start).
    HANDLE own = ::OpenProcess(ports::SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(::WaitForSingleObject(own, 30000), ports::WAIT_OBJECT_0);
    ::CloseHandle(own);
  }
  {
    auto handle = processes.OpenProcess(ports::SYNCHRONIZE, pid);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->Wait(0), ports::WAIT_OBJECT_0);
    EXPECT_EQ(handle->ExitCode(), 7u);
  }
  // Once opened and closed, nothing keeps the ended process any more. The system itself lets go
  // of it a moment after its end (emulated, a few seconds later), so this waits for that.
  bool released = false;
  for (int i = 0; i < 300 && !released; ++i) {
    released = processes.OpenProcess(ports::SYNCHRONIZE, pid) == nullptr;
    if (!released) ::Sleep(50);
  }
  EXPECT_TRUE(released);

  const std::uint32_t running =
      processes.Start(child + " --sleep-ms 3000 --exit 4", ports::ShowState::Normal);
  auto handle = processes.OpenProcess(ports::SYNCHRONIZE, running);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->Wait(0), ports::WAIT_TIMEOUT);
  EXPECT_EQ(handle->ExitCode(), std::nullopt);  // still running
  EXPECT_EQ(handle->Wait(ports::INFINITE), ports::WAIT_OBJECT_0);
  EXPECT_EQ(handle->ExitCode(), 4u);
}

TEST_F(Win32Backend, MakeFolderNamesABadName) {
  try {
    pf().files->MakeFolder(P("a|b"));
    FAIL() << "a name with | must raise";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), updater::kErrBadFileName);
  }
  try {
    pf().files->MakeFolder("");
    FAIL() << "an empty name must raise";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), updater::kErrPathNotFound);
  }
}

}  // namespace
}  // namespace contract
