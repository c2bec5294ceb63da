#include "util/text.h"

#include <gtest/gtest.h>

namespace {

using namespace updater::text;

TEST(Text, TrimSpacesTouchesOnlyBlanks) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\ta\t"), "\ta\t");
  EXPECT_EQ(TrimSpaces("    "), "");
  EXPECT_EQ(TrimSpaces(std::string("a\0  ", 4)), std::string("a\0", 2));
}

TEST(Text, Utf8PrefixCountsCharacters) {
  EXPECT_EQ(Utf8Prefix("abc", 2), "ab");
  EXPECT_EQ(Utf8Prefix("中文字", 2), "中文");
  EXPECT_EQ(Utf8Prefix("中", 5), "中");
}

TEST(Text, Utf8DropIncompleteTailKeepsWholeCharacters) {
  const std::string zh = "a中文";  // 1 + 3 + 3 bytes
  EXPECT_EQ(Utf8DropIncompleteTail(zh), zh);
  EXPECT_EQ(Utf8DropIncompleteTail(zh.substr(0, 6)), "a中");
  EXPECT_EQ(Utf8DropIncompleteTail(zh.substr(0, 5)), "a中");
  EXPECT_EQ(Utf8DropIncompleteTail(zh.substr(0, 2)), "a");
  EXPECT_EQ(Utf8DropIncompleteTail(""), "");
  EXPECT_EQ(Utf8DropIncompleteTail("\x80\x80"), "\x80\x80");  // stray bytes are left alone
}

}  // namespace
