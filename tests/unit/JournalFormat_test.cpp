// The undo journal's file is read whole or not at all: every start reads what it finds there.
#include "upgrade/JournalFormat.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace updater {
namespace {

const JournalContent kJournal{false,
                              {{'M', "0\\1", "", "Trainova.dll"}, {'C', "", "7", "新 folder"}}};

TEST(JournalFormat, AWholeJournalReadsBackAsWritten) {
  for (const bool committed : {false, true}) {
    JournalContent journal = kJournal;
    journal.committed = committed;
    const auto read = ParseJournal(SerializeJournal(journal));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->committed, committed);
    ASSERT_EQ(read->entries.size(), 2u);
    EXPECT_EQ(read->entries[0].aside, "0\\1");
    EXPECT_EQ(read->entries[0].root, "");
    EXPECT_EQ(read->entries[1].root, "7");
    EXPECT_EQ(read->entries[1].path, "新 folder");
  }
  // An earlier version's journal, with absolute paths and no roots, still reads as it was.
  const auto old =
      ParseJournal(SerializeJournal({false, {{'M', "0\\1", std::nullopt, "C:\\P\\Trainova.dll"}}}));
  ASSERT_TRUE(old.has_value());
  EXPECT_EQ(old->entries[0].root, std::nullopt);
  EXPECT_EQ(old->entries[0].path, "C:\\P\\Trainova.dll");
}

// A body framed as a whole journal of the given version.
std::string Framed(const std::string& version, const std::string& body) {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(Crc32(body)));
  return "autoupdate undo journal " + version + "\nlength " + std::to_string(body.size()) +
         "\ncrc32 " + crc + "\n" + body;
}

TEST(JournalFormat, NothingButAWholeJournalReads) {
  ASSERT_TRUE(ParseJournal(Framed("2", "pending\nC\t\t\tx\n")).has_value());
  const std::string whole = SerializeJournal(kJournal);
  std::string flipped = whole;
  flipped[whole.size() - 5] ^= 0x20;
  const std::string rows[] = {
      "",
      std::string(whole.size(), '\0'),                      // what a power cut can leave
      whole.substr(0, whole.size() - 1),                    // cut short
      whole + "C\t\tC:\\P\\project.mdb\n",                  // more than its length
      flipped,                                              // its checksum no longer fits
      "M\t0\\1\tC:\\P\\Trainova.dll\nC\t\tC:\\P\\d*\n",     // lines without a header
      SerializeJournal({false, {}}),                        // names nothing
      SerializeJournal({false, {{'C', "0\\1", "", "x"}}}),  // a created path with an aside
      Framed("2", "pending\nC\t\tC:\\P\\x\n"),              // a line without its root
      Framed("1", "pending\nC\t\t\tC:\\P\\x\n"),            // a root in the old form
  };
  for (const std::string& text : rows) EXPECT_FALSE(ParseJournal(text).has_value()) << text;
}

// What a journal that reads whole may name: a start acts on nothing that leaves its root.
TEST(JournalFormat, OnlyPathsInsideTheirRootAreActedOn) {
  for (const char* path : {"a.txt", "新 folder\\f.txt", "initSystem\\x.ini", "a.b.c", "console"}) {
    EXPECT_EQ(RelativePathFault(path), "") << path;
  }
  const char* refused[] = {
      "",
      "\\elsewhere\\docs",
      "C:\\elsewhere",
      "C:x",
      "/etc/passwd",
      "a/../b",
      "..",
      "data\\..\\..\\x",
      ". ",
      "data\\.\\x",
      "a\\\\b",
      "a\\",
      "f.txt:secret",
      "NUL",
      "con.txt",
      "x\\COM1",
      "lpt9.log",
      "aux .ini",
      "conout$",
  };
  for (const char* path : refused) EXPECT_NE(RelativePathFault(path), "") << path;
  EXPECT_EQ(AsideFault({'M', "0\\1", "", "a.txt"}), "");
  for (const char* aside : {"..\\1", "0\\..\\..\\x", "C:\\x\\1", "1", "0\\1x"}) {
    EXPECT_NE(AsideFault({'M', aside, "", "a.txt"}), "") << aside;
  }
}

}  // namespace
}  // namespace updater
