// What the shell emulation does beyond what the contract suite can see: where the trash is and
// what it records, links, read-only files, and targets kept whole when a copy fails.

#include "backends/posix/shell.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <fstream>
#include <iterator>

#include "backend/posix/temp_folder.h"
#include "backends/posix/emulation/trash.h"

namespace updater::posix {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ShellTest : public ::testing::Test {
 protected:
  std::int32_t Run(std::uint32_t func, const std::string& from, std::optional<std::string> to,
                   std::uint16_t flags = 0x2014) {
    ports::ShellFileOperation op;
    op.wFunc = func;
    op.pFrom = from;
    op.pTo = std::move(to);
    op.fFlags = flags;
    return shell_.SHFileOperation(op);
  }
  std::string P(const std::string& rel) { return temp_.str() + "\\" + rel; }
  fs::path H(const std::string& rel) { return temp_.path() / rel; }
  void Put(const std::string& rel, const std::string& content) {
    fs::create_directories(H(rel).parent_path());
    std::ofstream(H(rel), std::ios::binary) << content;
  }

  posix_test::TempFolder temp_;
  PathMapper mapper_{temp_.path()};
  PosixShell shell_{mapper_};
};

TEST_F(ShellTest, AllowUndoMovesTheItemToTheFreedesktopTrash) {
  const std::string data = (temp_.path() / "data home").string();
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  EXPECT_EQ(TrashFolder(), fs::path(data) / "Trash");

  Put("work/a b.txt", "1");
  EXPECT_EQ(Run(ports::FO_DELETE, P("WORK\\a b.txt"), std::nullopt, 0x2054), 0);
  Put("work/a b.txt", "2");
  EXPECT_EQ(Run(ports::FO_DELETE, P("work\\a b.txt"), std::nullopt, 0x2054), 0);
  EXPECT_FALSE(fs::exists(H("work/a b.txt")));
  const fs::path trash = fs::path(data) / "Trash";
  EXPECT_EQ(Slurp(trash / "files/a b.txt"), "1");
  EXPECT_EQ(Slurp(trash / "files/a b.txt.2"), "2");
  const std::string info = Slurp(trash / "info/a b.txt.trashinfo");
  EXPECT_TRUE(info.starts_with("[Trash Info]\nPath=/")) << info;
  EXPECT_NE(info.find("/work/a%20b.txt\n"), std::string::npos) << info;
  EXPECT_NE(info.find("\nDeletionDate=20"), std::string::npos) << info;
  EXPECT_EQ(Run(ports::FO_DELETE, P("work\\a b.txt"), std::nullopt, 0x2054), 2);

  if (old != nullptr)
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(ShellTest, LinksAreNeverFollowedOutOfTheSource) {
  Put("outside/keep.txt", "k");
  Put("src/f.txt", "f");
  fs::create_directory_symlink(H("outside"), H("src/link"));
  EXPECT_EQ(Run(ports::FO_COPY, P("src"), P("dst\\")), 0);
  EXPECT_TRUE(fs::is_symlink(H("dst/src/link")));
  EXPECT_EQ(Run(ports::FO_DELETE, P("src"), std::nullopt), 0);
  EXPECT_EQ(Run(ports::FO_DELETE, P("dst\\src\\*"), std::nullopt), 0);
  EXPECT_EQ(Slurp(H("outside/keep.txt")), "k");
  EXPECT_FALSE(fs::exists(H("src")));
}

TEST_F(ShellTest, ReadOnlyFilesResistDeleteButNotOverwrite) {
  Put("ro.txt", "old");
  fs::permissions(H("ro.txt"), fs::perms(0444));
  EXPECT_EQ(Run(ports::FO_DELETE, P("ro.txt"), std::nullopt), 5);
  EXPECT_TRUE(fs::exists(H("ro.txt")));
  Put("new/ro.txt", "new");
  EXPECT_EQ(Run(ports::FO_COPY, P("new\\ro.txt"), P("")), 0);
  EXPECT_EQ(Slurp(H("ro.txt")), "new");
}

TEST_F(ShellTest, AFailedCopyLeavesTheTargetWhole) {
  Put("src/a.txt", "new a");
  Put("src/b.txt", "new b");
  Put("dst/a.txt", "old a");
  fs::create_directories(H("dst/b.txt"));  // a folder where a file should go
  EXPECT_NE(Run(ports::FO_COPY, P("src\\*"), P("dst\\")), 0);
  EXPECT_EQ(Slurp(H("dst/a.txt")), "new a");
  EXPECT_TRUE(fs::is_directory(H("dst/b.txt")));
  // No temporary file stays behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(H("dst")), fs::directory_iterator()), 2);

  // A new file whose copy fails half-way (here: past the size limit of the process) is removed.
  Put("src/big.bin", std::string(64 * 1024, 'x'));
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::int32_t result = Run(ports::FO_COPY, P("src\\big.bin"), P("dst\\"));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_NE(result, 0);
  EXPECT_FALSE(fs::exists(H("dst/big.bin")));
  EXPECT_EQ(std::distance(fs::directory_iterator(H("dst")), fs::directory_iterator()), 2);
}

// Replaced files are recycled for the next file of the copy: only a plain file with no other
// name may be written over, and each copy gets its source's mode, not the recycled file's.
TEST_F(ShellTest, ReplacingFilesNeverWritesThroughTheirOtherNames) {
  fs::create_directories(H("dst"));
  for (int i = 0; i < 6; ++i) {
    const std::string n = std::to_string(i);
    Put("src/f" + n, "new " + n);
    Put("keep/f" + n, "old " + n);
    if (i % 3 == 0) {
      fs::create_hard_link(H("keep/f" + n), H("dst/f" + n));
    } else if (i % 3 == 1) {
      fs::create_symlink(H("keep/f" + n), H("dst/f" + n));
    } else {
      Put("dst/f" + n, "old plain " + n);
    }
  }
  fs::permissions(H("src/f0"), fs::perms(0755));
  fs::permissions(H("dst/f2"), fs::perms(0700));
  EXPECT_EQ(Run(ports::FO_COPY, P("src\\*"), P("dst\\")), 0);
  for (int i = 0; i < 6; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(Slurp(H("dst/f" + n)), "new " + n);
    EXPECT_FALSE(fs::is_symlink(H("dst/f" + n)));
    EXPECT_EQ(Slurp(H("keep/f" + n)), "old " + n);
    EXPECT_EQ(fs::status(H("dst/f" + n)).permissions(), fs::status(H("src/f" + n)).permissions());
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(H("dst")), fs::directory_iterator()), 6);
}

TEST_F(ShellTest, CopyIntoItselfAndOntoItselfAreRefused) {
  Put("src/f.txt", "f");
  EXPECT_NE(Run(ports::FO_COPY, P("src"), P("src\\in")), 0);
  EXPECT_FALSE(fs::exists(H("src/in")));
  EXPECT_EQ(Run(ports::FO_COPY, P("src\\f.txt"), P("SRC\\F.TXT")), 113);
  EXPECT_EQ(Slurp(H("src/f.txt")), "f");
}

TEST_F(ShellTest, OnlyTheFirstPathOfEachListCounts) {
  Put("a.txt", "a");
  Put("b.txt", "b");
  EXPECT_EQ(
      Run(ports::FO_DELETE, P("a.txt") + std::string(1, '\0') + P("b.txt") + '\0', std::nullopt),
      0);
  EXPECT_FALSE(fs::exists(H("a.txt")));
  EXPECT_TRUE(fs::exists(H("b.txt")));
}

}  // namespace
}  // namespace updater::posix
