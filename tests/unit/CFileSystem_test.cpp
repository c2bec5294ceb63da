#include "filesystem/CFileSystem.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace {

using namespace updater;

struct ShellCase {
  const char* name;
  std::int32_t (*call)(CFileSystem&);
  std::uint32_t wFunc;
  std::uint16_t fFlags;
  std::string pFrom;
  std::optional<std::string> pTo;
};

TEST(CFileSystemShellMethods, FillTheRequestRecordOfEachOperation) {
  using namespace std::string_literals;
  const ShellCase cases[] = {
      {"DelFolderOrFile", [](CFileSystem& fs) { return fs.DelFolderOrFile("a\\*"); }, 3, 0x2014,
       "a\\*", std::nullopt},
      {"DelFolderOrFileToRecycled",
       [](CFileSystem& fs) { return fs.DelFolderOrFileToRecycled("a"); }, 3, 0x2054, "a",
       std::nullopt},
      {"CopyFolderOrFile", [](CFileSystem& fs) { return fs.CopyFolderOrFile("a", "b\\"); }, 2,
       0x2014, "a", "b\\"},
      {"ReNameFolderOrFile", [](CFileSystem& fs) { return fs.ReNameFolderOrFile("a", "b"); }, 4,
       0x2010, "a", "b"},
      {"MoveFolderOrFile", [](CFileSystem& fs) { return fs.MoveFolderOrFile("a", "b"); }, 1, 0x2014,
       "a", "b"},
      {"CopyFolder", [](CFileSystem& fs) { return fs.CopyFolder("a", "b"); }, 2, 0x0214, "a\0\0"s,
       "b\0\0"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakePlatform f;
    f.shell.result = 1223;
    CFileSystem fs(f.pf);
    EXPECT_EQ(c.call(fs), 1223);  // the shell's result comes back unchanged
    ASSERT_EQ(f.shell.requests.size(), 1u);
    const auto& r = f.shell.requests[0];
    EXPECT_EQ(r.hwnd, 0u);
    EXPECT_EQ(r.wFunc, c.wFunc);
    EXPECT_EQ(r.fFlags, c.fFlags);
    EXPECT_EQ(r.pFrom, c.pFrom);
    EXPECT_EQ(r.pTo, c.pTo);
    EXPECT_FALSE(r.fAnyOperationsAborted);
    EXPECT_EQ(r.hNameMappings, 0u);
    EXPECT_FALSE(r.lpszProgressTitle.has_value());
  }
}

TEST(CFileSystemCreateFolder, ReturnsTheErrorNumberInsteadOfRaising) {
  fakes::FakePlatform f;
  f.files.makeFolderErrors["C:\\missing\\x"] = 76;
  CFileSystem fs(f.pf);
  EXPECT_EQ(fs.CreateFolder("C:\\missing\\x"), 76);
  EXPECT_EQ(fs.CreateFolder("C:\\P\\new"), 0);
  EXPECT_EQ(f.files.made, std::vector<std::string>{"C:\\P\\new"});
}

TEST(CFileSystemClearOrCreateFolder, AMissingFolderIsCreatedAfterTrimmingAndOneSeparator) {
  fakes::FakePlatform f;
  CFileSystem fs(f.pf);
  EXPECT_EQ(fs.ClearOrCreateFolder("  C:\\P\\tmp\\  "), 0);
  EXPECT_EQ(fs.ClearOrCreateFolder("C:\\P\\two\\\\"), 0);  // only one separator is dropped
  EXPECT_EQ(f.files.made, (std::vector<std::string>{"C:\\P\\tmp", "C:\\P\\two\\"}));
  EXPECT_TRUE(f.shell.requests.empty());

  f.files.makeFolderErrors["C:\\gone\\tmp"] = 76;
  EXPECT_EQ(fs.ClearOrCreateFolder("C:\\gone\\tmp"), 76);
}

TEST(CFileSystemClearOrCreateFolder, AnExistingFolderIsEmptiedThroughTheShell) {
  fakes::FakePlatform f;
  f.files.folders.insert("C:\\P\\tmp");
  CFileSystem fs(f.pf);
  EXPECT_EQ(fs.ClearOrCreateFolder("C:\\P\\tmp\\"), 0);
  ASSERT_EQ(f.shell.requests.size(), 1u);
  EXPECT_EQ(f.shell.requests[0].wFunc, 3u);
  EXPECT_EQ(f.shell.requests[0].fFlags, 0x2014);
  EXPECT_EQ(f.shell.requests[0].pFrom, "C:\\P\\tmp\\*");
  EXPECT_TRUE(f.files.made.empty());
}

TEST(CFileSystemClearOrCreateFolder, AFailedDeleteCountsOnlyWhileSomethingIsLeft) {
  fakes::FakePlatform f;
  f.files.folders.insert("C:\\P\\tmp");
  f.shell.result = 2;  // what a shell may answer for a pattern that matches nothing
  CFileSystem fs(f.pf);
  EXPECT_EQ(fs.ClearOrCreateFolder("C:\\P\\tmp"), 2);  // not empty: the failure stands
  f.files.emptyFolders.insert("C:\\P\\tmp");
  EXPECT_EQ(fs.ClearOrCreateFolder("C:\\P\\tmp"), 0);  // empty: ready for use
}

}  // namespace
