// Existence tests, making a folder and listing one.
#include "contract/fixture.h"
#include "ports/errors.h"

namespace contract {
namespace {

using updater::RuntimeError;

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

}  // namespace
}  // namespace contract
