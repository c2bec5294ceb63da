#include "backends/posix/profile_strings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "backend/posix/temp_folder.h"

namespace updater::posix {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> Find(const std::string& text, const std::string& section,
                                const std::string& key) {
  return IniText(text).Find(section, key);
}

TEST(IniText, ReadsLinesAsWindowsDoes) {
  const std::string ini =
      "top=1\r\n;c=2\r\n[ s ]\r\n ;a=1\r\n\tk\t=\t' v '\t\r\nk=dup\r\nnoeq\r\n=empty\r\n"
      "a=b=c\r\nq1=\"abc\r\nq2='abc\"\r\nq3=\"a\"b\"\r\n[u] junk\r\nj=1\r\n[v\r\nw=2\r\n"
      "[S]\r\nlater=5\r\n";
  EXPECT_EQ(Find(ini, "", "top"), "1");
  EXPECT_EQ(Find(ini, "", ";C"), "2");  // no comment syntax: ";c" is a key
  EXPECT_EQ(Find(ini, "S", ";a"), "1");
  EXPECT_EQ(Find(ini, "s", "K"), " v ");  // quotes stripped, blanks inside them kept
  EXPECT_EQ(Find(ini, "s", "noeq"), std::nullopt);
  EXPECT_EQ(Find(ini, "s", ""), "empty");
  EXPECT_EQ(Find(ini, "s", "a"), "b=c");
  EXPECT_EQ(Find(ini, "s", "q1"), "\"abc");
  EXPECT_EQ(Find(ini, "s", "q2"), "'abc\"");
  EXPECT_EQ(Find(ini, "s", "q3"), "a\"b");
  EXPECT_EQ(Find(ini, "u", "j"), "1");
  // "[v" is no header: its lines stay in [u].
  EXPECT_EQ(Find(ini, "v", "w"), std::nullopt);
  EXPECT_EQ(Find(ini, "u", "w"), "2");
  // The first of two same-named sections hides the second.
  EXPECT_EQ(Find(ini, "s", "later"), std::nullopt);
}

TEST(IniText, OddInputNeverBreaksTheReader) {
  EXPECT_EQ(Find("\xEF\xBB\xBF[s]\nk=1\nm=2", "s", "m"), "2");
  EXPECT_EQ(Find(std::string("[s]\nk=\xff\x00\x80z\n", 12), "s", "k"),
            std::string("\xff\x00\x80z", 4));
  const std::string longLine = "[s]\nk=" + std::string(1 << 20, 'v');
  EXPECT_EQ(Find(longLine, "s", "k")->size(), 1u << 20);
  EXPECT_EQ(Find("", "s", "k"), std::nullopt);
  EXPECT_EQ(Find("[", "", "["), std::nullopt);
}

TEST(IniText, WritingKeepsTheRestOfTheFileByteForByte) {
  const std::string ini = "; head\r\n[s]\r\nk = old \r\n\r\nother=1\r\n\r\n[t]\nx=1\r\n";
  EXPECT_EQ(IniText(ini).With("S", "K", "new"),
            "; head\r\n[s]\r\nk=new\r\n\r\nother=1\r\n\r\n[t]\nx=1\r\n");
  // A new key follows the last line of its section, before the blank lines.
  EXPECT_EQ(IniText(ini).With("s", "added", "v"),
            "; head\r\n[s]\r\nk = old \r\n\r\nother=1\r\nadded=v\r\n\r\n[t]\nx=1\r\n");
  EXPECT_EQ(IniText(ini).With("new", "a", "b"), ini + "[new]\r\na=b\r\n");
  EXPECT_EQ(IniText("[s]\r\na=1\r\n[s]\r\nb=2\r\n").With("s", "b", "X"),
            "[s]\r\na=1\r\nb=X\r\n[s]\r\nb=2\r\n");
}

TEST(IniText, NewLinesFollowTheFilesLineEnds) {
  EXPECT_EQ(IniText("[s]\nk=1\n").With("s", "j", "2"), "[s]\nk=1\nj=2\n");
  EXPECT_EQ(IniText("[s]\nk=1").With("s", "j", "2"), "[s]\nk=1\nj=2\n");
  EXPECT_EQ(IniText("[s]\r\nk=1").With("t", "j", "2"), "[s]\r\nk=1\r\n[t]\r\nj=2\r\n");
  EXPECT_EQ(IniText("").With("s", "k", "v"), "[s]\r\nk=v\r\n");
  EXPECT_EQ(IniText("\xEF\xBB\xBF[s]\n").With("", "k", "v"), "\xEF\xBB\xBFk=v\n[s]\n");
  EXPECT_EQ(IniText("[s]\r\nk=1\r\n").With("s", "k", ""), "[s]\r\nk=\r\n");
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PosixProfileStrings, WritesThroughAReplacementThatKeepsTheMode) {
  posix_test::TempFolder temp;
  const PathMapper mapper(temp.path());
  PosixProfileStrings profile(mapper);
  const fs::path file = temp.path() / "Client.INI";
  std::ofstream(file, std::ios::binary) << "[initInfo]\r\nserver=a\r\n";
  fs::permissions(file, fs::perms(0640));

  EXPECT_TRUE(profile.WriteString("initinfo", "SERVER", "b:8080", temp.str() + "\\client.ini"));
  EXPECT_EQ(Slurp(file), "[initInfo]\r\nserver=b:8080\r\n");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 1);

  EXPECT_FALSE(profile.WriteString("s", "k", "v", temp.str() + "\\missing\\x.ini"));
  EXPECT_FALSE(fs::exists(temp.path() / "missing"));
}

TEST(PosixProfileStrings, CutsAtTheBufferWithoutSplittingACharacter) {
  posix_test::TempFolder temp;
  const PathMapper mapper(temp.path());
  PosixProfileStrings profile(mapper);
  std::ofstream(temp.path() / "a.ini") << "[s]\nk=ab中文\n";
  const std::string file = temp.str() + "\\a.ini";
  EXPECT_EQ(profile.GetString("s", "k", "", 6, file), "ab中");
  EXPECT_EQ(profile.GetString("s", "k", "", 5, file), "ab");
  EXPECT_EQ(profile.GetString("s", "k", "", 1, file), "");
  EXPECT_EQ(profile.GetString("s", "none", "def  ", 256, file), "def");
}

}  // namespace
}  // namespace updater::posix
