// The undo journal's file is read whole or not at all: every start reads what it finds there.
#include "upgrade/JournalFormat.h"

#include <gtest/gtest.h>

namespace updater {
namespace {

const JournalContent kJournal{
    false, {{'M', "0\\1", "C:\\P\\Trainova.dll"}, {'C', "", "C:\\P\\新 folder"}}};

TEST(JournalFormat, AWholeJournalReadsBackAsWritten) {
  for (const bool committed : {false, true}) {
    JournalContent journal = kJournal;
    journal.committed = committed;
    const auto read = ParseJournal(SerializeJournal(journal));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->committed, committed);
    ASSERT_EQ(read->entries.size(), 2u);
    EXPECT_EQ(read->entries[0].aside, "0\\1");
    EXPECT_EQ(read->entries[1].path, "C:\\P\\新 folder");
  }
}

TEST(JournalFormat, NothingButAWholeJournalReads) {
  const std::string whole = SerializeJournal(kJournal);
  std::string flipped = whole;
  flipped[whole.size() - 5] ^= 0x20;
  const std::string rows[] = {
      "",
      std::string(whole.size(), '\0'),                          // what a power cut can leave
      whole.substr(0, whole.size() - 1),                        // cut short
      whole + "C\t\tC:\\P\\project.mdb\n",                      // more than its length
      flipped,                                                  // its checksum no longer fits
      "M\t0\\1\tC:\\P\\Trainova.dll\nC\t\tC:\\P\\d*\n",         // lines without a header
      SerializeJournal({false, {}}),                            // names nothing
      SerializeJournal({false, {{'C', "0\\1", "C:\\P\\x"}}}),   // a created path with an aside
      SerializeJournal({false, {{'M', "..\\1", "C:\\P\\x"}}}),  // an aside outside its folder
  };
  for (const std::string& text : rows) EXPECT_FALSE(ParseJournal(text).has_value()) << text;
}

}  // namespace
}  // namespace updater
