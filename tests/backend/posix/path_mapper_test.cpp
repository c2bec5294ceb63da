#include "backends/posix/emulation/path_mapper.h"

#include <gtest/gtest.h>

#include <fstream>

#include "backend/posix/temp_folder.h"

namespace updater::posix {
namespace {

namespace fs = std::filesystem;

TEST(PathMapper, DrivesLieInTheProgramFolder) {
  const PathMapper mapper("/opt/p q");
  EXPECT_EQ(mapper.Map("C:\\Windows\\System32"), fs::path("/opt/p q/drive_c/Windows/System32"));
  EXPECT_EQ(mapper.Map("d:\\x"), fs::path("/opt/p q/drive_d/x"));
  EXPECT_EQ(mapper.Map("C:"), fs::path("/opt/p q/drive_c"));
}

TEST(PathMapper, BackslashesAreSeparatorsAndRepeatsCollapse) {
  const PathMapper mapper("/p");
  EXPECT_EQ(mapper.Map("/no such root\\tmp\\\\setup.rar"), fs::path("/no such root/tmp/setup.rar"));
  EXPECT_EQ(mapper.Map("/no such root\\tmp\\"), fs::path("/no such root/tmp"));
  // A wildcard in the last component is left to the caller.
  EXPECT_EQ(mapper.Map("/no such root\\tmp\\*.*"), fs::path("/no such root/tmp/*.*"));
}

TEST(PathMapper, ExistingComponentsMatchWithoutRegardToCase) {
  posix_test::TempFolder temp;
  fs::create_directories(temp.path() / "Tmp" / "中文 Sub");
  std::ofstream(temp.path() / "Tmp" / "中文 Sub" / "Setup.RAR") << "x";
  const PathMapper mapper(temp.path());
  const std::string p = temp.str();

  EXPECT_EQ(mapper.Map(p + "\\tmp\\中文 sub\\setup.rar"), temp.path() / "Tmp/中文 Sub/Setup.RAR");
  EXPECT_EQ(mapper.Map(p + "\\TMP"), temp.path() / "Tmp");
  // Missing parts are kept as written, below a matched folder too.
  EXPECT_EQ(mapper.Map(p + "\\tmp\\New\\File.txt"), temp.path() / "Tmp/New/File.txt");
}

TEST(PathMapper, AnExactMatchWinsOverOneInAnotherCase) {
  posix_test::TempFolder temp;
  fs::create_directories(temp.path() / "abc");
  fs::create_directories(temp.path() / "ABC");
  const PathMapper mapper(temp.path());
  EXPECT_EQ(mapper.Map(temp.str() + "\\ABC"), temp.path() / "ABC");
  EXPECT_EQ(mapper.Map(temp.str() + "\\abc"), temp.path() / "abc");
  // Neither matches exactly: the choice is stable.
  EXPECT_EQ(mapper.Map(temp.str() + "\\Abc"), temp.path() / "ABC");
}

TEST(PathMapper, TheSystemFolderMatchesItsDriveFolderInAnyCase) {
  posix_test::TempFolder temp;
  fs::create_directories(temp.path() / "drive_c" / "windows" / "system32");
  const PathMapper mapper(temp.path());
  EXPECT_EQ(mapper.Map("C:\\Windows\\System32\\evalcom.dll"),
            temp.path() / "drive_c/windows/system32/evalcom.dll");
}

}  // namespace
}  // namespace updater::posix
