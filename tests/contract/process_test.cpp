// Starting programs by command line, and RunAndWait.
#include <chrono>
#include <sstream>

#include "contract/fixture.h"
#include "helpers/Module1.h"
#include "ports/errors.h"

namespace contract {
namespace {

using namespace updater;
using Clock = std::chrono::steady_clock;

class Processes : public ContractTest {
 protected:
  std::string Quoted(const std::string& s) { return "\"" + s + "\""; }
  std::string Child() { return Quoted(TheEnv().ChildProgram()); }
  std::vector<std::string> Lines(const std::string& rel) {
    std::vector<std::string> out;
    std::istringstream in(Read(rel).value_or(""));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  double SecondsFor(const std::string& commandLine) {
    const auto start = Clock::now();
    Module1::RunAndWait(pf(), commandLine);
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
};

TEST_F(Processes, RunAndWaitHandsBackTheExitCode) {
  EXPECT_EQ(Module1::RunAndWait(pf(), Child() + " --exit 0"), 0u);
  EXPECT_EQ(Module1::RunAndWait(pf(), Child() + " --exit 3"), 3u);
}

TEST_F(Processes, ArgumentsArriveSplitAsOnWindows) {
  const std::string out = HostText("args 中文.txt");
  Module1::RunAndWait(pf(),
                      Child() + " --out " + Quoted(out) + " x \"two words\" 中文 a\\\\\"b c\" -y");
  EXPECT_EQ(Lines("args 中文.txt"),
            (std::vector<std::string>{"--out", out, "x", "two words", "中文", "a\\b c", "-y"}));
}

TEST_F(Processes, RunAndWaitBlocksUntilTheProgramEnds) {
  EXPECT_GE(SecondsFor(Child() + " --sleep-ms 1000"), 0.9);
  EXPECT_LT(SecondsFor(Child() + " --exit 0"), 5.0);
}

TEST_F(Processes, AProgramUnderAPathWithBlanksAndAnyExtensionStarts) {
  const std::string exe = windows() ? "client.exe" : "client";
  MakeDirs("Program Files 中文");
  std::filesystem::copy_file(std::filesystem::path(TheEnv().Host(TheEnv().ChildProgram())),
                             Host("Program Files 中文\\" + exe));
  std::filesystem::copy_file(Host("Program Files 中文\\" + exe),
                             Host("Program Files 中文\\Trainova.dll"));
  EXPECT_EQ(Module1::RunAndWait(pf(), Quoted(P("Program Files 中文\\" + exe)) + " --exit 5"), 5u);
  EXPECT_EQ(Module1::RunAndWait(pf(), Quoted(P("Program Files 中文\\Trainova.dll")) + " --exit 6"),
            6u);
}

TEST_F(Processes, AMissingProgramRaisesFileNotFound) {
  try {
    Module1::RunAndWait(pf(), Quoted(P("no such program.exe")) + " x");
    FAIL() << "no error raised";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), updater::kErrFileNotFound);
  }
}

TEST_F(Processes, StartingWithoutWaitingReturnsAtOnce) {
  const auto start = Clock::now();
  const auto pid =
      pf().processes->Start(Child() + " --sleep-ms 1500", ports::ShowState::MinimizedFocus);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
  EXPECT_NE(pid, 0u);
  // The program is still running; opened later, its end can be awaited and read.
  auto handle = pf().processes->OpenProcess(ports::SYNCHRONIZE, pid);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->Wait(0), ports::WAIT_TIMEOUT);
  EXPECT_FALSE(handle->ExitCode().has_value());
  EXPECT_EQ(handle->Wait(ports::INFINITE), ports::WAIT_OBJECT_0);
  EXPECT_EQ(handle->ExitCode(), 0u);
}

}  // namespace
}  // namespace contract
