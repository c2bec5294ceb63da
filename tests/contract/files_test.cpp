// Existence tests, making a folder and listing one, renaming.
#include <chrono>
#include <thread>

#include "contract/fixture.h"
#include "ports/errors.h"

namespace contract {
namespace {

using updater::RuntimeError;

int RenameError(updater::Platform& pf, const std::string& from, const std::string& to) {
  try {
    pf.files->Rename(from, to);
    return 0;
  } catch (const RuntimeError& e) {
    return e.number();
  }
}

int MakeFolderError(updater::Platform& pf, const std::string& path) {
  try {
    pf.files->MakeFolder(path);
    return 0;
  } catch (const RuntimeError& e) {
    return e.number();
  }
}

TEST_F(ContractTest, ExistenceTestsTellFilesFromFolders) {
  Write("中文 目录\\evalcom.dll", "x");
  MakeDirs("sub");
  auto& files = *pf().files;
  EXPECT_TRUE(files.FileExists(P("中文 目录\\evalcom.dll")));
  EXPECT_TRUE(files.FileExists(P("中文 目录\\EVALCOM.DLL")));  // no regard to case
  EXPECT_FALSE(files.FileExists(P("sub")));                    // a folder is no file
  EXPECT_FALSE(files.FileExists(P("missing.dll")));
  EXPECT_TRUE(files.FileExists(P("中文 目录\\*.dll")));  // a pattern finds a match
  EXPECT_FALSE(files.FileExists(P("中文 目录\\*.exe")));

  EXPECT_TRUE(files.FolderExists(P("sub")));
  EXPECT_TRUE(files.FolderExists(P("SUB")));
  EXPECT_TRUE(files.FolderExists(P("中文 目录")));
  EXPECT_TRUE(files.FolderExists(P("中文 目录\\evalcom.dll")));  // an ordinary file counts too
  EXPECT_FALSE(files.FolderExists(P("missing")));

  EXPECT_TRUE(files.FolderIsEmpty(P("sub")));
  EXPECT_FALSE(files.FolderIsEmpty(P("中文 目录")));
  EXPECT_FALSE(files.FolderIsEmpty(P("missing")));
}

TEST_F(ContractTest, MakeFolderMakesOneLevelAndNamesItsFailures) {
  EXPECT_EQ(MakeFolderError(pf(), P("新 folder")), 0);
  EXPECT_TRUE(IsDir("新 folder"));
  EXPECT_EQ(MakeFolderError(pf(), P("新 folder")), 75);    // exists already
  EXPECT_EQ(MakeFolderError(pf(), P("no\\such\\x")), 76);  // parent missing
  EXPECT_FALSE(Exists("no"));
}

TEST_F(ContractTest, ListFilesGivesFilesOnlySortedWithoutRegardToCase) {
  Write("DLL\\b.dll", "b");
  Write("DLL\\A.dll", "a");
  Write("DLL\\c.DLL", "c");
  Write("DLL\\中文.ocx", "z");
  MakeDirs("DLL\\sub");
  Write("DLL\\sub\\inner.dll", "i");
  EXPECT_EQ(pf().files->ListFiles(P("DLL")),
            (std::vector<std::string>{"A.dll", "b.dll", "c.DLL", "中文.ocx"}));
  EXPECT_EQ(pf().files->ListFiles(P("DLL\\sub\\")), std::vector<std::string>{"inner.dll"});
  try {
    pf().files->ListFiles(P("missing"));
    FAIL() << "a missing folder must raise";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), updater::kErrPathNotFound);
  }
}

TEST_F(ContractTest, KindOfAndListFoldersTellFilesFromFolders) {
  Write("中文\\b.txt", "b");
  MakeDirs("中文\\Zed");
  MakeDirs("中文\\alpha");
  auto& files = *pf().files;
  using Kind = updater::ports::Files::Kind;
  EXPECT_EQ(files.KindOf(P("中文\\B.TXT")), Kind::File);
  EXPECT_EQ(files.KindOf(P("中文\\zed")), Kind::Folder);
  EXPECT_EQ(files.KindOf(P("中文\\zed\\")), Kind::Folder);
  EXPECT_EQ(files.KindOf(P("中文\\missing")), Kind::None);
  EXPECT_EQ(files.KindOf(P("no\\such\\thing")), Kind::None);
  EXPECT_EQ(files.ListFolders(P("中文")), (std::vector<std::string>{"alpha", "Zed"}));
}

TEST_F(ContractTest, RenameMovesWithinOneVolumeAndNeverReplaces) {
  Write("a\\one.txt", "1");
  Write("b\\taken.txt", "t");
  auto& files = *pf().files;
  files.Rename(P("a\\one.txt"), P("b\\moved 中文.txt"));
  EXPECT_FALSE(Exists("a\\one.txt"));
  EXPECT_EQ(Read("b\\moved 中文.txt"), "1");
  EXPECT_EQ(RenameError(pf(), P("b\\moved 中文.txt"), P("b\\taken.txt")), 75);
  EXPECT_EQ(Read("b\\taken.txt"), "t");
  EXPECT_EQ(RenameError(pf(), P("missing.txt"), P("b\\x.txt")), 76);
  EXPECT_EQ(RenameError(pf(), P("b\\taken.txt"), P("no\\such\\x.txt")), 76);
  files.Rename(P("b"), P("c"));  // a folder, with what it holds
  EXPECT_EQ(Read("c\\moved 中文.txt"), "1");
}

// The installation moves aside what it replaces, programs that are running among them.
TEST_F(ContractTest, TheFileOfARunningProgramCanBeRenamed) {
  const std::string exe = windows() ? "client.exe" : "client";
  MakeDirs("run");
  std::filesystem::copy_file(TheEnv().Host(TheEnv().ChildProgram()), Host("run\\" + exe));
  std::string commandLine = "\"";  // built in steps: i686 GCC warns wrongly on one expression
  commandLine += P("run\\" + exe);
  commandLine += "\" --sleep-ms 2000";
  const auto pid = pf().processes->Start(commandLine, updater::ports::ShowState::Hidden);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  auto running = pf().processes->OpenProcess(updater::ports::SYNCHRONIZE, pid);
  ASSERT_NE(running, nullptr);
  EXPECT_EQ(running->Wait(0), updater::ports::WAIT_TIMEOUT) << "still running";
  EXPECT_EQ(RenameError(pf(), P("run\\" + exe), P("run\\old.bin")), 0);
  EXPECT_TRUE(IsFile("run\\old.bin"));
  running->Wait(updater::ports::INFINITE);
}

// A file opened without delete sharing cannot be renamed on Windows; the posix backend cannot
// tell (an installation that meets one there fails when it copies over it instead).
TEST_F(ContractTest, AFileOpenForWritingIsRenamedOnlyWhereTheSystemAllows) {
  auto file = pf().io->OpenBinary(P("open.txt"));
  file->Write("x");
  EXPECT_EQ(RenameError(pf(), P("open.txt"), P("renamed.txt")), windows() ? 75 : 0);
  file->Close();
  EXPECT_EQ(pf().io->ReadAll(P(windows() ? "open.txt" : "renamed.txt")), "x");
  try {
    pf().io->ReadAll(P("missing.txt"));
    FAIL() << "a missing file must raise";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 53);
  }
}

}  // namespace
}  // namespace contract
