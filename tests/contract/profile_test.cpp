// ReadIniValue and WriteIniValue over the backend's profile-string service.
#include "contract/fixture.h"
#include "helpers/Module1.h"

namespace contract {
namespace {

using updater::Module1::ReadIniValue;
using updater::Module1::WriteIniValue;

class ProfileContract : public ContractTest {
 protected:
  std::string Get(const std::string& section, const std::string& key) {
    return ReadIniValue(pf(), P("client.ini"), section, key);
  }
  // "中文" in the ANSI code page: GBK on the client's machines, UTF-8 on Linux.
  std::string ChineseAnsi() const { return windows() ? "\xD6\xD0\xCE\xC4" : "中文"; }
};

TEST_F(ProfileContract, NamesMatchWithoutCaseAndBlanksAroundThemAreDropped) {
  Write("client.ini",
        "[initInfo]\r\nserver=10.1.2.3:8080\r\n  Item_ID  =   42   \r\nshortcut=\r\n"
        "[Other]\r\nserver=elsewhere\r\n");
  EXPECT_EQ(Get("initInfo", "server"), "10.1.2.3:8080");
  EXPECT_EQ(Get("INITINFO", "SERVER"), "10.1.2.3:8080");
  EXPECT_EQ(Get("initInfo", "item_id"), "42");
  EXPECT_EQ(Get("initInfo", "shortcut"), "");  // empty value
  EXPECT_EQ(Get("initInfo", "absent"), "");    // absent key
  EXPECT_EQ(Get("absent", "server"), "");      // absent section
  EXPECT_EQ(Get("other", "server"), "elsewhere");
}

TEST_F(ProfileContract, AMissingFileReadsAsEmpty) {
  EXPECT_EQ(Get("initInfo", "server"), "");
  EXPECT_FALSE(Exists("client.ini"));
}

TEST_F(ProfileContract, TheFirstOfDuplicateKeysWinsAndQuotesAreStripped) {
  Write("client.ini", "[s]\nk=first\nk=second\nq=\"quoted value\"\n");
  EXPECT_EQ(Get("s", "k"), "first");
  EXPECT_EQ(Get("s", "q"), "quoted value");
}

TEST_F(ProfileContract, LongValuesAreCutTo255Bytes) {
  Write("client.ini", "[s]\nlong=" + std::string(300, 'v') + "\nnext=ok");  // no final newline
  EXPECT_EQ(Get("s", "long"), std::string(255, 'v'));
  EXPECT_EQ(Get("s", "next"), "ok");
}

TEST_F(ProfileContract, ChineseTextInTheAnsiCodePageComesBackIntact) {
  Write("client.ini", "[initInfo]\nshortcut=" + ChineseAnsi() + " Demo\n");
  EXPECT_EQ(Get("initInfo", "shortcut"), "中文 Demo");
}

TEST_F(ProfileContract, OddBytesAndVeryLongLinesDoNotDisturbTheRest) {
  std::string bytes = "[s]\n";
  bytes += "junk=\xFF\xFE\x01\x7F\n";
  bytes += std::string(100000, 'x') + "\n";
  bytes += "key=value\n";
  bytes += "huge=" + std::string(70000, 'h') + "\n";
  Write("client.ini", bytes);
  EXPECT_EQ(Get("s", "key"), "value");
  EXPECT_EQ(Get("s", "huge"), std::string(255, 'h'));
}

TEST_F(ProfileContract, WritingToAMissingFileCreatesNothing) {
  EXPECT_FALSE(WriteIniValue(pf(), P("client.ini"), "initInfo", "server", "h:1"));
  EXPECT_FALSE(Exists("client.ini"));
}

TEST_F(ProfileContract, WritingAddsMissingSectionsAndKeysAndKeepsTheRest) {
  Write("client.ini", "[initInfo]\r\nitem_id=7\r\nshortcut=Demo\r\n[tail]\r\nx=1\r\n");
  EXPECT_TRUE(WriteIniValue(pf(), P("client.ini"), "initInfo", "server", "10.0.0.9:81"));
  EXPECT_TRUE(WriteIniValue(pf(), P("client.ini"), "INITINFO", "item_id", "8"));
  EXPECT_TRUE(WriteIniValue(pf(), P("client.ini"), "new", "key", "中文 值"));
  EXPECT_EQ(Get("initInfo", "server"), "10.0.0.9:81");
  EXPECT_EQ(Get("initInfo", "item_id"), "8");
  EXPECT_EQ(Get("initInfo", "shortcut"), "Demo");
  EXPECT_EQ(Get("tail", "x"), "1");
  EXPECT_EQ(Get("new", "key"), "中文 值");
  // The value reaches the file in the ANSI code page.
  const auto bytes = Read("client.ini");
  ASSERT_TRUE(bytes.has_value());
  EXPECT_NE(bytes->find(ChineseAnsi()), std::string::npos);
}

TEST_F(ProfileContract, AWrittenLongValueReadsBackAsItsFirst255Bytes) {
  Write("client.ini", "[initInfo]\n");
  EXPECT_TRUE(WriteIniValue(pf(), P("client.ini"), "initInfo", "server", std::string(300, 'a')));
  EXPECT_EQ(Get("initInfo", "server"), std::string(255, 'a'));
}

}  // namespace
}  // namespace contract
