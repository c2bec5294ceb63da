#include "settings/LocalDatabase.h"

#include <gtest/gtest.h>

namespace {

using namespace updater;

TEST(LocalDatabase, TheConnectionStringEndsWithTheAdminTailAndItsBlank) {
  EXPECT_EQ(LocalDatabase::ConnectionString("C:\\Prog"),
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Prog\\project.mdb;"
            "Jet OLEDB:Database Password=5203817;admin ");
}

TEST(LocalDatabase, TheItemIdChoosesTheVersionsRow) {
  EXPECT_STREQ(LocalDatabase::SelectVersions(""), "select * from versions where versionT='0'");
  EXPECT_STREQ(LocalDatabase::SelectVersions("12"), "select * from versions where versionT='1'");
  EXPECT_STREQ(LocalDatabase::VersionT(""), "0");
  EXPECT_STREQ(LocalDatabase::VersionT("12"), "1");
}

}  // namespace
