// The installation's undo journal on each backend's own file services: a package whose file
// meets a folder is refused untouched, a copy rolled back is put back, one that an ended updater
// left is put back by the next start, and one that stands leaves nothing aside. Hostile packages
// cost no file of the user's.
#include <map>
#include <vector>

#include "contract/fixture.h"
#include "filesystem/CFileSystem.h"
#include "upgrade/InstallJournal.h"

namespace contract {
namespace {

namespace fs = std::filesystem;
using updater::CFileSystem;
using updater::InstallJournal;

bool ReadOnly(const fs::path& p) {
  return (fs::status(p).permissions() & fs::perms::owner_write) == fs::perms::none;
}
void MakeReadOnly(const fs::path& p) {
  fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

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
      if (!e.ends_with("/") && ReadOnly(Host(e))) state[e] += " (read-only)";
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

// The project copy of a project with no number goes over the program folder again.
TEST_F(Journal, TwoCopiesOverOnePathAreUndoneNewestFirst) {
  Write("tmp\\initSystem\\a.txt", "a 3.0");
  const auto before = State();
  InstallJournal journal(pf(), root_);
  ASSERT_TRUE(journal.Keep(P("tmp"), root_));
  ASSERT_EQ(Copy(), 0);
  ASSERT_TRUE(journal.Keep(P("tmp\\initSystem"), root_));
  ASSERT_EQ(CFileSystem(pf()).CopyFolderOrFile(P("tmp\\initSystem\\"), root_ + "\\"), 0);
  EXPECT_EQ(Read("a.txt"), "a 3.0");
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

// The user's files beside each package below: a copy of any of them, rolled back as after a
// copy that failed at its last file, or refused before anything moves, leaves every file as it
// was, its attributes too.
struct Hostile {
  const char* what;
  std::vector<std::string> files;  // in the package
  bool posixOnly = false;          // names Windows cannot hold
  bool readOnly = false;           // the package's files and the user's a.txt are read-only
};

const Hostile kHostile[] = {
    {"wildcards", {"d*\\w.txt", "d?ta\\w.txt", "*.txt"}, true},
    {"outside the code page", {"数据\xf0\x9f\x98\x80\\scores.db", "新\xf0\x9f\x98\x80.txt"}},
    {"not UTF-8", {"bad\xff\\f.txt"}, true},
    {"the undo folder", {"a.txt", "tmp.undo\\journal", "tmp.undo\\0\\1"}},
    {"the undo folder in capitals", {"a.txt", "TMP.UNDO\\journal"}},
    {"a numbered undo folder", {"a.txt", "tmp.undo.2\\journal"}},
    {"the temporary folder", {"a.txt", "tmp\\x"}},
    {"names differing in case", {"DATA\\scores.db", "data\\new.txt", "A.TXT"}},
    {"read-only files", {"a.txt", "ro_new.txt", "rodir\\r.txt"}, false, true},
    {"a deep path", {"deep\\d1\\d2\\d3\\d4\\d5\\d6\\d7\\d8\\d9\\d10\\d11\\d12\\f.txt"}},
};

TEST_F(Journal, AHostilePackageCostsNoFileOfTheUser) {
  for (const Hostile& row : kHostile) {
    if (row.posixOnly && windows()) continue;
    SCOPED_TRACE(row.what);
    const std::string root = root_;
    root_ = TheEnv().NewScratchFolder();
    Write("数据备份\\scores.db", "scores");
    Write("data\\scores.db", "data");
    Write("docs\\d.txt", "docs");
    Write("a.txt", "a 1.0");
    if (row.readOnly) MakeReadOnly(Host("a.txt"));
    const auto before = State();
    for (const std::string& f : row.files) {
      Write("tmp\\" + f, "package " + f);
      if (row.readOnly) MakeReadOnly(Host("tmp\\" + f));
    }
    InstallJournal journal(pf(), root_);
    if (journal.Keep(P("tmp"), root_)) {
      EXPECT_EQ(Copy(), 0);
      EXPECT_TRUE(journal.RollBack());
    }
    EXPECT_EQ(State(), before);
    InstallJournal::Recover(pf(), root_);  // and the next start changes nothing either
    EXPECT_EQ(State(), before);
    pf().files->ClearAttributes(root_);
    std::error_code ignored;
    fs::remove_all(Host(""), ignored);
    root_ = root;
  }
}

// What a package left in the temporary folder goes at the next clean-up, whatever it is marked.
TEST_F(Journal, TheTemporaryFolderIsClearedOfReadOnlyFiles) {
  Write("tmp\\ro.txt", "ro");
  Write("tmp\\d\\ro.txt", "ro");
  MakeReadOnly(Host("tmp\\ro.txt"));
  MakeReadOnly(Host("tmp\\d\\ro.txt"));
  pf().files->ClearAttributes(P("tmp"));
  EXPECT_EQ(CFileSystem(pf()).ClearOrCreateFolder(P("tmp\\")), 0);
  EXPECT_EQ(Tree("tmp"), std::vector<std::string>{});
}

}  // namespace
}  // namespace contract
