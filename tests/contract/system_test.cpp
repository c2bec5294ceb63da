// The WOW64 test, the system folder, the program folder and its one-updater lock.
#include <regex>

#include "contract/fixture.h"
#include "helpers/Module1.h"

namespace contract {
namespace {

using namespace updater;

TEST_F(ContractTest, TheSystemFolderIsWindowsOnTheDriveOfTheSystemDirectory) {
  const std::string folder = Module1::GetSystemFolder(pf());
  EXPECT_TRUE(std::regex_match(folder, std::regex(R"([A-Za-z]:\\Windows\\(SysWOW64|System32))")))
      << folder;
  // Only a 32-bit Windows program on 64-bit Windows runs under WOW64; the Linux build and the
  // 64-bit Windows test build are native.
  const bool wow64 = windows() && sizeof(void*) == 4;
  EXPECT_EQ(Module1::IsWow64(pf()), wow64);
  EXPECT_EQ(folder.substr(3), wow64 ? "Windows\\SysWOW64" : "Windows\\System32");
  EXPECT_TRUE(pf().system->GetSystemDirectory(3).empty());  // a buffer too small gives nothing
}

TEST_F(ContractTest, TheProgramFolderHasNoTrailingSeparatorAndExists) {
  const std::string folder = pf().system->ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  EXPECT_NE(folder.back(), '/');
  EXPECT_TRUE(pf().files->FolderExists(folder));
}

TEST_F(ContractTest, AFolderIsClaimedByOneHolderAtATimeWhateverItsSpelling) {
  MakeDirs("Prog");
  MakeDirs("other");
  auto first = pf().instances->Claim(P("Prog"));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(pf().instances->Claim(P("Prog")), nullptr);
  EXPECT_EQ(pf().instances->Claim(P("PROG") + "\\"), nullptr);
  EXPECT_NE(pf().instances->Claim(P("other")), nullptr);
  // A program started meanwhile (the client) must not keep the folder claimed after the
  // updater is gone.
  const std::string program = TheEnv().ChildProgram();
  const auto child = pf().processes->Start("\"" + program + "\" --sleep-ms 1500",
                                           ports::ShowState::MinimizedFocus);
  auto running = pf().processes->OpenProcess(ports::SYNCHRONIZE, child);
  ASSERT_NE(running, nullptr);
  first.reset();
  EXPECT_NE(pf().instances->Claim(P("prog")), nullptr);
  EXPECT_EQ(running->Wait(0), ports::WAIT_TIMEOUT) << "the child ended too early to tell";
  running->Wait(ports::INFINITE);
}

}  // namespace
}  // namespace contract
