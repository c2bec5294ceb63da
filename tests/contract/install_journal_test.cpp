// The installation's undo journal on each backend's own file services: a package whose file
// meets a folder is refused untouched, a copy rolled back is put back, one that an ended updater
// left is put back by the next start, and one that stands leaves nothing aside. Hostile packages
// cost no file of the user's.
#include <fstream>
#include <map>
#include <vector>

#include "contract/fixture.h"
#include "fakes/fake_log.h"
#include "filesystem/CFileSystem.h"
#include "settings/LocalDatabase.h"
#include "upgrade/InstallJournal.h"

namespace contract {
namespace {

namespace fs = std::filesystem;
using updater::CFileSystem;
using updater::InstallJournal;
using updater::JournalEntry;

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
      if (fs::is_symlink(fs::symlink_status(Host(e)))) {
        state[e] = "a link";
        continue;
      }
      state[e] = e.ends_with("/") ? "" : Read(e).value_or("?");
      if (!e.ends_with("/") && ReadOnly(Host(e))) state[e] += " (read-only)";
    }
    return state;
  }
  // What the installation does once the journal kept what tmp's entries replace.
  std::int32_t MoveIn(InstallJournal& journal) { return journal.MoveIn(P("tmp"), root_); }
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
  ASSERT_EQ(MoveIn(journal), 0);
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
  ASSERT_EQ(journal.MoveIn(P("tmp"), root_, {"initSystem"}), 0);
  ASSERT_EQ(CFileSystem(pf()).CopyFolderOrFile(P("tmp\\initSystem"), root_ + "\\"), 0);
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
    ASSERT_EQ(MoveIn(journal), 0);
    EXPECT_EQ(Read("a.txt"), "a 2.0");
  }  // the updater ends here
  InstallJournal::Recover(pf(), root_);
  EXPECT_EQ(State(), before);
}

TEST_F(Journal, ACopyThatStandsLeavesNothingAside) {
  InstallJournal journal(pf(), root_);
  journal.Keep(P("tmp"), root_);
  ASSERT_EQ(MoveIn(journal), 0);
  journal.Seal();
  journal.Finish(true);
  EXPECT_EQ(Read("a.txt"), "a 2.0");
  EXPECT_EQ(Read("keep\\k.txt"), "k 2.0");
  EXPECT_EQ(Read("fresh\\f.txt"), "f");
  EXPECT_FALSE(Exists("tmp.undo"));
}

// A package file another program holds open (without delete sharing) cannot be renamed on
// Windows, where the copy could read it: the step fails and everything is put back.
TEST_F(Journal, AFileHeldOpenInTmpFailsTheStepOnWindowsAndAllIsPutBack) {
  const auto before = State();
  std::ifstream held(Host("tmp\\m.txt"), std::ios::binary);
  ASSERT_TRUE(held.is_open());
  InstallJournal journal(pf(), root_);
  ASSERT_TRUE(journal.Keep(P("tmp"), root_));
  const std::int32_t moved = MoveIn(journal);
  EXPECT_EQ(moved != 0, windows()) << moved;
  EXPECT_TRUE(journal.RollBack());
  EXPECT_EQ(State(), before);
}

// The user's files beside each package below: a copy of any of them, rolled back as after a
// copy that failed at its last file, or cut off right after it and put back by the next start,
// or refused before anything moves, leaves every file as it was, its attributes too.
struct Hostile {
  const char* what;
  std::vector<std::string> files;  // in the package
  bool posixOnly = false;          // names Windows cannot hold
  bool readOnly = false;           // the package's files and the user's a.txt are read-only
  // Symbolic links in the package (posix): path -> what it leads to, "{OUT}" standing for a
  // folder outside the program folder.
  std::vector<std::pair<std::string, std::string>> links = {};
  bool refusedOnTheWay = false;  // kept, but a rename into place is refused
};

const Hostile kHostile[] = {
    // Folders Windows cannot name are not made on the way in either.
    {"wildcards", {"d*\\w.txt", "d?ta\\w.txt", "*.txt"}, true, false, {}, true},
    {"outside the code page", {"数据\xf0\x9f\x98\x80\\scores.db", "新\xf0\x9f\x98\x80.txt"}},
    {"not UTF-8", {"bad\xff\\f.txt"}, true},
    {"the undo folder", {"a.txt", "tmp.undo\\journal", "tmp.undo\\0\\1"}},
    {"the undo folder in capitals", {"a.txt", "TMP.UNDO\\journal"}},
    {"a numbered undo folder", {"a.txt", "tmp.undo.2\\journal"}},
    {"the temporary folder", {"a.txt", "tmp\\x"}},
    {"names differing in case", {"DATA\\scores.db", "data\\new.txt", "A.TXT"}},
    {"two names for one file", {"n.txt"}, true, false, {}, true},
    {"read-only files", {"a.txt", "ro_new.txt", "rodir\\r.txt"}, false, true},
    {"names a start could not act on", {"con.txt", "a:b.txt", "nul"}, true},
    {"a deep path", {"deep\\d1\\d2\\d3\\d4\\d5\\d6\\d7\\d8\\d9\\d10\\d11\\d12\\f.txt"}},
    {"a dangling link", {"n.txt"}, true, false, {{"a.txt", "no such file"}}},
    {"a looping link", {"n.txt"}, true, false, {{"docs\\d.txt", "d.txt"}}},
    {"links leading outside", {}, true, false, {{"a.txt", "{OUT}/o.txt"}, {"data", "{OUT}"}}},
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
    const fs::path out = TheEnv().Host(TheEnv().NewScratchFolder());
    std::ofstream(out / "o.txt") << "outside";
    // Unpacked afresh for each run: a run moves what it installs out of tmp.
    const auto unpack = [&] {
      pf().files->ClearAttributes(P("tmp"));
      fs::remove_all(Host("tmp"));
      for (const std::string& f : row.files) {
        Write("tmp\\" + f, "package " + f);
        if (row.readOnly) MakeReadOnly(Host("tmp\\" + f));
      }
      // Beside n.txt, a name that differs only in case: written on the host, past the lookup
      // that would match the two.
      if (row.refusedOnTheWay) std::ofstream(Host("tmp") / "N.TXT") << "package N.TXT";
      for (const auto& [path, to] : row.links) {
        fs::create_directories(Host("tmp\\" + path).parent_path());
        fs::create_symlink(to.starts_with("{OUT}") ? (out.string() + to.substr(5)) : to,
                           Host("tmp\\" + path));
      }
    };
    for (const bool ended : {false, true}) {
      unpack();
      {
        InstallJournal journal(pf(), root_);
        if (journal.Keep(P("tmp"), root_)) {
          const std::int32_t moved = MoveIn(journal);
          EXPECT_EQ(moved != 0, row.refusedOnTheWay) << moved;
          if (!ended) {
            EXPECT_TRUE(journal.RollBack());
          }
        }
      }  // ended: the updater ends here, right after the copy
      if (!ended) {
        EXPECT_EQ(State(), before);
      }
      EXPECT_TRUE(InstallJournal::Recover(pf(), root_)) << ended;
      EXPECT_EQ(State(), before) << (ended ? "put back by the next start" : "and left so by it");
    }
    pf().files->ClearAttributes(root_);
    std::error_code ignored;
    fs::remove_all(Host(""), ignored);
    root_ = root;
  }
}

// Journals that read whole but name what is not theirs to touch. Each also names a path of its
// own folder first: the whole journal is kept as it is, nothing of it is acted on, and the log
// says which entry and why. {OUT} is another folder beside the program folder, {OUTNAME} its name.
struct Foreign {
  const char* what;
  JournalEntry entry;
};

const Foreign kForeign[] = {
    {"an absolute path", {'C', "", "", "{OUT}\\docs"}},
    {"an absolute path, as earlier versions wrote", {'C', "", std::nullopt, "{OUT}\\docs"}},
    {"a path climbing out", {'C', "", "", "..\\{OUTNAME}\\docs"}},
    {"a root climbing out", {'M', "0\\1", "..\\{OUTNAME}", "config.ini"}},
    {"a project this folder does not list", {'C', "", "9", "docs"}},
    {"another folder's root", {'M', "0\\1", "{OUT}", "config.ini"}},
    {"a stream", {'M', "0\\1", "", "a.txt:hidden"}},
    {"a device name", {'M', "0\\1", "", "data\\con.txt"}},
    {"an aside file outside the undo folder",
     {'M', "0\\..\\..\\{OUTNAME}\\config.ini", "", "a.txt"}},
    {"the undo folder itself", {'C', "", "", "tmp.undo"}},
};

std::string Expand(std::string text, const std::string& out) {
  const std::string name = out.substr(out.find_last_of("\\/") + 1);
  for (const auto& [key, value] : {std::pair<std::string, std::string>{"{OUTNAME}", name},
                                   std::pair<std::string, std::string>{"{OUT}", out}}) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  }
  return text;
}

TEST_F(Journal, AJournalActsOnlyOnTheFoldersItBelongsTo) {
  fakes::FakeLog log;
  updater::ports::SupportLog* const kept = pf().log;
  pf().log = &log;
  const std::string out = TheEnv().NewScratchFolder();
  const auto outside = [&] {
    std::map<std::string, std::string> state;
    for (const auto& e : fs::recursive_directory_iterator(TheEnv().Host(out))) {
      state[e.path().string()] = e.is_regular_file() ? "file" : "folder";
    }
    return state;
  };
  for (const Foreign& row : kForeign) {
    SCOPED_TRACE(row.what);
    fs::remove_all(Host("tmp.undo"));
    Write("n.txt", "created by the copy");
    Write("9\\docs\\d.txt", "project 9");
    Write("data\\d.txt", "data");
    Write("tmp.undo\\0\\1", "moved aside");
    fs::create_directories(TheEnv().Host(out + "\\docs"));
    std::ofstream(TheEnv().Host(out + "\\docs\\d.txt")) << "outside";
    JournalEntry entry = row.entry;
    entry.aside = Expand(entry.aside, out);
    entry.path = Expand(entry.path, out);
    if (entry.root) entry.root = Expand(*entry.root, out);
    // The first entry is of the same form, and inside the program folder.
    JournalEntry own{'C', "", entry.root ? std::optional<std::string>("") : std::nullopt,
                     entry.root ? "n.txt" : P("n.txt")};
    Write("tmp.undo\\journal", updater::SerializeJournal({false, {own, entry}}));
    const auto before = State();
    const auto before_outside = outside();
    log.lines.clear();
    EXPECT_TRUE(InstallJournal::Recover(pf(), root_));
    EXPECT_EQ(State(), before);
    EXPECT_EQ(outside(), before_outside);
    EXPECT_TRUE(log.Has("entry 2 (")) << log.All();
    EXPECT_TRUE(log.Has("is refused")) << log.All();
  }
  pf().log = kept;
}

// A journal rooted in a project folder that the database lists is put back; an installation
// copied into such a folder writes that root.
TEST_F(Journal, AJournalRootedInAListedProjectIsPutBack) {
  const std::string why = TheEnv().CreateTestDatabase(root_);
  if (!why.empty()) GTEST_SKIP() << why;
  {
    auto conn = updater::LocalDatabase::OpenConnection(
        pf(), updater::LocalDatabase::ConnectionString(root_));
    conn->Execute("create table projectList (project_No TEXT(50), project_URL TEXT(255))", {},
                  updater::ports::adCmdUnspecified);
    conn->Execute("insert into projectList (project_No) values ('7')", {},
                  updater::ports::adCmdUnspecified);
    conn->Close();
  }
  Write("7\\p.ini", "p 1.0");
  Write("tmp\\initSystem\\p.ini", "p 2.0");
  Write("tmp\\initSystem\\q.ini", "q");
  const auto before = State();
  {
    InstallJournal journal(pf(), root_);
    ASSERT_TRUE(journal.Keep(P("tmp\\initSystem"), P("7")));
    ASSERT_EQ(CFileSystem(pf()).CopyFolderOrFile(P("tmp\\initSystem\\"), P("7\\")), 0);
    EXPECT_EQ(Read("7\\p.ini"), "p 2.0");
  }  // the updater ends here
  const auto journal = updater::ParseJournal(Read("tmp.undo\\journal").value_or(""));
  ASSERT_TRUE(journal.has_value());
  EXPECT_EQ(journal->entries.front().root, "7");
  EXPECT_TRUE(InstallJournal::Recover(pf(), root_));
  EXPECT_EQ(State(), before);
}

// Undo folders left by installations cut short one after the other: the newest is put back
// first (by number, not by name: 10 after 2), so the oldest original is what stays. One that
// cannot be completed stops the next installation before anything moves.
TEST_F(Journal, UndoFoldersArePutBackNewestFirstAndAnUnfinishedOneStopsTheNext) {
  Write("a.txt", "a 4.0");
  const std::pair<const char*, const char*> kept[] = {
      {"tmp.undo", "a 1.0"}, {"tmp.undo.2", "a 2.0"}, {"tmp.undo.10", "a 3.0"}};
  for (const auto& [folder, content] : kept) {
    Write(std::string(folder) + "\\0\\1", content);
    Write(std::string(folder) + "\\journal",
          updater::SerializeJournal({false, {{'M', "0\\1", "", "a.txt"}}}));
  }
  EXPECT_TRUE(InstallJournal::Recover(pf(), root_));
  EXPECT_EQ(Read("a.txt"), "a 1.0");
  EXPECT_FALSE(Exists("tmp.undo.2"));

  // Its file's folder is gone: the entry cannot be put back yet.
  Write("tmp.undo\\0\\1", "g 1.0");
  Write("tmp.undo\\journal",
        updater::SerializeJournal({false, {{'M', "0\\1", "", "gone\\g.txt"}}}));
  const auto before = State();
  EXPECT_FALSE(InstallJournal::Recover(pf(), root_));
  InstallJournal journal(pf(), root_);
  EXPECT_FALSE(journal.Keep(P("tmp"), root_));
  EXPECT_EQ(State(), before);
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
