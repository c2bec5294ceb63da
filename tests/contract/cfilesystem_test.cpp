// CFileSystem over the backend's shell file operation and folder services.
#include "filesystem/CFileSystem.h"
#include "contract/fixture.h"

namespace contract {
namespace {

using updater::CFileSystem;
using Entries = std::vector<std::string>;

class FileOps : public ContractTest {
 protected:
  CFileSystem fs{pf()};
};

TEST_F(FileOps, ClearOrCreateFolderCreatesAMissingFolder) {
  EXPECT_EQ(fs.ClearOrCreateFolder(P("tmp\\")), 0);  // the trailing separator is dropped
  EXPECT_TRUE(IsDir("tmp"));
  EXPECT_EQ(fs.ClearOrCreateFolder("  " + P("中文 tmp") + "  "), 0);  // blanks are dropped
  EXPECT_TRUE(IsDir("中文 tmp"));
}

TEST_F(FileOps, ClearOrCreateFolderEmptiesAFullFolderAndKeepsIt) {
  Write("tmp\\setup.rar", "package");
  Write("tmp\\initSystem\\a.txt", "a");
  Write("tmp\\system32\\deep\\b.dll", "b");
  EXPECT_EQ(fs.ClearOrCreateFolder(P("tmp")), 0);
  EXPECT_TRUE(IsDir("tmp"));
  EXPECT_EQ(Tree("tmp"), Entries{});
  EXPECT_EQ(fs.ClearOrCreateFolder(P("Tmp\\")), 0);  // an empty folder is ready as it is
  EXPECT_TRUE(IsDir("tmp"));
}

TEST_F(FileOps, ClearOrCreateFolderFailsWhenTheParentIsMissing) {
  EXPECT_NE(fs.ClearOrCreateFolder(P("gone\\tmp")), 0);
  EXPECT_FALSE(Exists("gone"));
}

TEST_F(FileOps, CreateFolderReportsAnExistingFolder) {
  EXPECT_EQ(fs.CreateFolder(P("x")), 0);
  EXPECT_NE(fs.CreateFolder(P("x")), 0);
}

TEST_F(FileOps, CopyingAFileOverwritesAndLandsInAFolderUnderItsOwnName) {
  Write("src\\Trainova.exe", "new");
  Write("dst\\Trainova.exe", "old");
  EXPECT_EQ(fs.CopyFolderOrFile(P("src\\Trainova.exe"), P("dst\\")), 0);
  EXPECT_EQ(Read("dst\\Trainova.exe"), "new");
  EXPECT_EQ(fs.CopyFolderOrFile(P("src\\Trainova.exe"), P("dst")), 0);  // a folder, no separator
  EXPECT_EQ(Tree("dst"), Entries{"Trainova.exe"});
  EXPECT_EQ(fs.CopyFolderOrFile(P("src\\Trainova.exe"), P("dst\\renamed.exe")), 0);
  EXPECT_EQ(Read("dst\\renamed.exe"), "new");
  EXPECT_EQ(Read("src\\Trainova.exe"), "new");  // a copy leaves its source
}

TEST_F(FileOps, CopyingAPatternCopiesEverythingRecursively) {
  Write("tmp\\setup.rar", "pkg");
  Write("tmp\\Trainova.dll", "v2");
  Write("tmp\\initSystem\\a.txt", "a");
  Write("tmp\\system32\\evalcom.dll", "com");
  Write("prog\\Trainova.dll", "v1");
  Write("prog\\keep.txt", "keep");
  EXPECT_EQ(fs.CopyFolderOrFile(P("tmp\\*.*"), P("prog\\")), 0);
  EXPECT_EQ(Tree("prog"), (Entries{"Trainova.dll", "initSystem/", "initSystem/a.txt", "keep.txt",
                                   "setup.rar", "system32/", "system32/evalcom.dll"}));
  EXPECT_EQ(Read("prog\\Trainova.dll"), "v2");
}

TEST_F(FileOps, AFolderSourceEndingInASeparatorMergesItsContent) {
  Write("tmp\\initSystem\\a.txt", "new a");
  Write("tmp\\initSystem\\data\\b.txt", "b");
  Write("proj\\a.txt", "old a");
  Write("proj\\own.txt", "own");
  EXPECT_EQ(fs.CopyFolderOrFile(P("tmp\\initSystem\\"), P("proj\\")), 0);
  EXPECT_EQ(Tree("proj"), (Entries{"a.txt", "data/", "data/b.txt", "own.txt"}));
  EXPECT_EQ(Read("proj\\a.txt"), "new a");

  // Without the separator the folder itself lands inside the target.
  EXPECT_EQ(fs.CopyFolderOrFile(P("tmp\\initSystem"), P("proj2\\")), 0);
  EXPECT_EQ(Tree("proj2"), (Entries{"initSystem/", "initSystem/a.txt", "initSystem/data/",
                                    "initSystem/data/b.txt"}));
}

TEST_F(FileOps, AMissingSourceFailsAndTouchesNothing) {
  Write("dst\\file.txt", "untouched");
  EXPECT_NE(fs.CopyFolderOrFile(P("src\\missing.dll"), P("dst\\")), 0);
  EXPECT_EQ(Tree("dst"), Entries{"file.txt"});
  EXPECT_EQ(Read("dst\\file.txt"), "untouched");
  // A pattern inside a missing folder matches nothing and copies nothing.
  EXPECT_EQ(fs.CopyFolderOrFile(P("nowhere\\*.*"), P("dst\\")), 0);
  EXPECT_EQ(Tree("dst"), Entries{"file.txt"});
}

TEST_F(FileOps, CopyingAFileIntoAMissingFolderFails) {
  Write("src\\a.dll", "a");
  EXPECT_NE(fs.CopyFolderOrFile(P("src\\a.dll"), P("x\\")), 0);
  EXPECT_FALSE(IsFile("x\\a.dll"));
}

TEST_F(FileOps, CopyFolderMakesMissingTargetFolders) {
  Write("src\\sub\\a.txt", "a");
  EXPECT_EQ(fs.CopyFolder(P("src"), P("made")), 0);
  EXPECT_EQ(Read("made\\sub\\a.txt"), "a");
}

TEST_F(FileOps, DeletingRemovesFilesFoldersAndPatternsForGood) {
  Write("a.txt", "a");
  Write("dir\\deep\\b.txt", "b");
  Write("pat\\x.log", "x");
  Write("pat\\y.log", "y");
  Write("pat\\z.txt", "z");
  EXPECT_EQ(fs.DelFolderOrFile(P("a.txt")), 0);
  EXPECT_EQ(fs.DelFolderOrFile(P("dir")), 0);
  EXPECT_EQ(fs.DelFolderOrFile(P("pat\\*.log")), 0);
  EXPECT_EQ(Tree(""), (Entries{"pat/", "pat/z.txt"}));
  EXPECT_NE(fs.DelFolderOrFile(P("a.txt")), 0);  // gone already
}

TEST_F(FileOps, DeletingToTheRecycleBinTakesTheItemAway) {
  Write("old\\a.txt", "a");
  EXPECT_EQ(fs.DelFolderOrFileToRecycled(P("old")), 0);
  EXPECT_FALSE(Exists("old"));
}

// The shell takes no read-only file, not even to the recycle bin: it answers "access denied" and
// the file stays where it was, whole (wine's answer).
TEST_F(FileOps, TheShellRefusesToDeleteOrRecycleAReadOnlyFile) {
  namespace stdfs = std::filesystem;
  const struct {
    const char* name;
    std::int32_t (CFileSystem::*remove)(const std::string&);
  } kCases[] = {
      {"delete", &CFileSystem::DelFolderOrFile},
      {"recycle", &CFileSystem::DelFolderOrFileToRecycled},
  };
  constexpr auto kWrite =
      stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Write("ro.txt", "kept");
    stdfs::permissions(Host("ro.txt"), kWrite, stdfs::perm_options::remove);
    EXPECT_EQ((fs.*c.remove)(P("ro.txt")), 5);
    EXPECT_EQ(Read("ro.txt"), "kept");
    std::error_code ec;  // writable again, for the next case and the clean-up
    stdfs::permissions(Host("ro.txt"), stdfs::perms::owner_write, stdfs::perm_options::add, ec);
  }
}

TEST_F(FileOps, MovingAndRenaming) {
  Write("a.txt", "a");
  Write("dir\\b.txt", "b");
  MakeDirs("into");
  EXPECT_EQ(fs.MoveFolderOrFile(P("a.txt"), P("into\\")), 0);
  EXPECT_EQ(fs.MoveFolderOrFile(P("dir"), P("into\\")), 0);
  EXPECT_EQ(Tree(""), (Entries{"into/", "into/a.txt", "into/dir/", "into/dir/b.txt"}));
  EXPECT_EQ(fs.ReNameFolderOrFile(P("into\\a.txt"), P("into\\重命名.txt")), 0);
  EXPECT_EQ(Read("into\\重命名.txt"), "a");
  EXPECT_FALSE(Exists("into\\a.txt"));
  EXPECT_EQ(fs.ReNameFolderOrFile(P("into\\dir"), P("into\\folder")), 0);
  EXPECT_EQ(Read("into\\folder\\b.txt"), "b");
}

}  // namespace
}  // namespace contract
