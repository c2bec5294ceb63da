// The installation's undo journal on each backend's own file services: a package whose file
// meets a folder is refused untouched, a copy rolled back is put back, one that an ended updater
// left is put back by the next start, and one that stands leaves nothing aside.
#include <map>

#include "contract/fixture.h"
#include "filesystem/CFileSystem.h"
#include "upgrade/InstallJournal.h"

namespace contract {
namespace {

using updater::CFileSystem;
using updater::InstallJournal;

class Journal : public ContractTest {
 protected:
  void SetUp() override {
    ContractTest::SetUp();
    Write("a.txt", "a 1.0");
    Write("m.txt", "m 1.0");
    Write("keep\\k.txt", "k 1.0");
    Write("tmp\\a.txt", "a 2.0");
    Write("tmp\\m.txt", "m 2.0");
    Write("tmp\\n_new.txt", "new");
    Write("tmp\\keep\\k.txt", "k 2.0");
    Write("tmp\\fresh\\f.txt", "f");
  }
  // Every entry outside the temporary folder, with the content of each file.
  std::map<std::string, std::string> State() {
    std::map<std::string, std::string> state;
    for (const std::string& e : Tree("")) {
      if (e.starts_with("tmp/")) continue;
      state[e] = e.ends_with("/") ? "" : Read(e).value_or("?");
    }
    return state;
  }
  std::int32_t Copy() { return CFileSystem(pf()).CopyFolderOrFile(P("tmp\\*.*"), root_ + "\\"); }
};

TEST_F(Journal, AFileMeetingAFolderOfItsNameIsRefusedBeforeAnythingMoves) {
  Write("keep\\zz\\inside.txt", "inside");
  Write("clash", "a file where the package has a folder");
  const auto before = State();
  Write("tmp\\keep\\zz", "a file where a folder is");
  EXPECT_FALSE(InstallJournal(pf(), root_).Keep(P("tmp"), root_));
  std::filesystem::remove(Host("tmp\\keep\\zz"));
  Write("tmp\\clash\\c.txt", "c");
  EXPECT_FALSE(InstallJournal(pf(), root_).Keep(P("tmp"), root_));
  Write("tmp\\initSystem\\p.ini", "p");
  EXPECT_FALSE(InstallJournal(pf(), root_).Keep(P("tmp\\initSystem"), P("clash")));
  EXPECT_EQ(State(), before);
}

TEST_F(Journal, ACopyRolledBackIsPutBackByteForByte) {
  const auto before = State();
  InstallJournal journal(pf(), root_);
  EXPECT_TRUE(journal.Keep(P("tmp"), root_));
  ASSERT_EQ(Copy(), 0);
  EXPECT_EQ(Read("a.txt"), "a 2.0");
  EXPECT_TRUE(journal.RollBack());
  EXPECT_EQ(State(), before);
}

TEST_F(Journal, ACopyLeftByAnEndedUpdaterIsPutBackByTheNextStart) {
  const auto before = State();
  {
    InstallJournal journal(pf(), root_);
    journal.Keep(P("tmp"), root_);
    ASSERT_EQ(Copy(), 0);
    EXPECT_EQ(Read("a.txt"), "a 2.0");
  }  // the updater ends here
  InstallJournal::Recover(pf(), root_);
  EXPECT_EQ(State(), before);
}

TEST_F(Journal, ACopyThatStandsLeavesNothingAside) {
  InstallJournal journal(pf(), root_);
  journal.Keep(P("tmp"), root_);
  ASSERT_EQ(Copy(), 0);
  journal.Seal();
  journal.Finish(true);
  EXPECT_EQ(Read("a.txt"), "a 2.0");
  EXPECT_EQ(Read("keep\\k.txt"), "k 2.0");
  EXPECT_EQ(Read("fresh\\f.txt"), "f");
  EXPECT_FALSE(Exists("tmp.undo"));
}

}  // namespace
}  // namespace contract
