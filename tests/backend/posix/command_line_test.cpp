#include "backends/posix/emulation/command_line.h"

#include <gtest/gtest.h>

namespace updater::posix {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, QuotesGroupBlanksAndBackslashesEscapeOnlyBeforeQuotes) {
  EXPECT_EQ(SplitCommandLine(R"(p "a b" c)"), (Args{"p", "a b", "c"}));
  EXPECT_EQ(SplitCommandLine(R"(p a\\"b)"), (Args{"p", R"(a\b)"}));    // 2n: n and a quote
  EXPECT_EQ(SplitCommandLine(R"(p a\\\"b)"), (Args{"p", R"(a\"b)"}));  // 2n+1: literal quote
  EXPECT_EQ(SplitCommandLine(R"(p a\\\\"b c")"), (Args{"p", R"(a\\b c)"}));
  EXPECT_EQ(SplitCommandLine(R"(p C:\dir\ x)"), (Args{"p", R"(C:\dir\)", "x"}));
  EXPECT_EQ(SplitCommandLine(R"(p "C:\dir\\" x)"), (Args{"p", R"(C:\dir\)", "x"}));
}

TEST(SplitCommandLine, EmptyArgumentsBlanksAndDoubledQuotes) {
  EXPECT_EQ(SplitCommandLine(R"(p "" x)"), (Args{"p", "", "x"}));
  EXPECT_EQ(SplitCommandLine("p  x\t -y   "), (Args{"p", "x", "-y"}));
  EXPECT_EQ(SplitCommandLine("p"), (Args{"p"}));
  EXPECT_EQ(SplitCommandLine(R"(p "a""b")"), (Args{"p", R"(a"b)"}));
  EXPECT_EQ(SplitCommandLine(R"(p """a")"), (Args{"p", R"("a)"}));
  EXPECT_EQ(SplitCommandLine(R"(p "open)"), (Args{"p", "open"}));
  EXPECT_EQ(SplitCommandLine(R"(p a"b c"d)"), (Args{"p", "ab cd"}));
}

TEST(SplitCommandLine, TheProgramNameHasItsOwnRule) {
  // Backslashes in the name are plain, and a quoted name ends at the next quote.
  EXPECT_EQ(SplitCommandLine(R"("C:\my dir\rar.exe" x)"), (Args{R"(C:\my dir\rar.exe)", "x"}));
  EXPECT_EQ(SplitCommandLine(R"(C:\d\a\"b c)"), (Args{R"(C:\d\a\"b)", "c"}));
  EXPECT_EQ(SplitCommandLine(R"("/tmp/p q\rar.exe"x y)"), (Args{R"(/tmp/p q\rar.exe)", "x", "y"}));
  EXPECT_EQ(SplitCommandLine(""), (Args{""}));
}

}  // namespace
}  // namespace updater::posix
