// Running a component's self-registration entry point in-process, within a time limit.
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "contract/fixture.h"
#include "startup/modCheckFileReg.h"

#ifdef _WIN32
#include "backends/win32/windows_api.h"
#else
#include <stdlib.h>
#endif

namespace contract {
namespace {

using namespace updater;
using ports::EntryPointOutcome;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class Components : public ContractTest {
 protected:
  void SetUp() override {
    ContractTest::SetUp();
    SetLogVariable(Host("log.txt"));
  }
  void TearDown() override {
    SetLogVariable({});
    ContractTest::TearDown();
  }

  // The components write their notes to the file this variable names.
  static void SetLogVariable(const fs::path& log) {
#ifdef _WIN32
    SetEnvironmentVariableW(L"COMPONENT_TEST_LOG", log.empty() ? nullptr : log.c_str());
#else
    if (log.empty()) {
      ::unsetenv("COMPONENT_TEST_LOG");
    } else {
      ::setenv("COMPONENT_TEST_LOG", log.c_str(), 1);
    }
#endif
  }

  // A component built beside the contract tests (as the child program is), copied into the
  // scratch folder, whose path holds blanks and Chinese.
  std::string Install(const char* builtName, const std::string& rel) {
    const fs::path built = TheEnv().Host(TheEnv().ChildProgram()).parent_path() / builtName;
    fs::copy_file(built, Host(rel));
    return P(rel);
  }

  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::istringstream in(Read("log.txt").value_or(""));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Whether the updater's own process still has the library mapped.
  bool LoadedHere(const std::string& rel) const {
#ifdef _WIN32
    return GetModuleHandleW(Host(rel).c_str()) != nullptr;
#else
    std::ifstream maps("/proc/self/maps");
    const std::string file = Host(rel).string();
    for (std::string line; std::getline(maps, line);) {
      if (line.ends_with(file)) return true;
    }
    return false;
#endif
  }

  EntryPointOutcome Run(const std::string& path, const char* entry, std::uint32_t ms = 5000) {
    return pf().components->RunEntryPoint(path, entry, ms);
  }
};

TEST_F(Components, EachEntryPointRunsToItsEndWhateverItReturns) {
  const std::string quick = Install(CONTRACT_COMPONENT_QUICK, "组件 quick.dll");
  const std::string failing = Install(CONTRACT_COMPONENT_FAILING, "组件 failing.dll");
  EXPECT_EQ(Run(quick, "DllRegisterServer"), EntryPointOutcome::Finished);
  EXPECT_EQ(Run(quick, "DllUnregisterServer"), EntryPointOutcome::Finished);
  EXPECT_EQ(Run(failing, "DllRegisterServer"), EntryPointOutcome::Finished);
  EXPECT_EQ(Log(), (std::vector<std::string>{"DllRegisterServer", "DllUnregisterServer",
                                             "DllRegisterServer"}));
  EXPECT_FALSE(LoadedHere("组件 quick.dll"));
  EXPECT_FALSE(LoadedHere("组件 failing.dll"));
}

TEST_F(Components, WhatCannotBeRunIsToldApartAndReleased) {
  const std::string plain = Install(CONTRACT_COMPONENT_NO_EXPORT, "plain.dll");
  EXPECT_EQ(Run(plain, "DllRegisterServer"), EntryPointOutcome::NoEntryPoint);
  EXPECT_FALSE(LoadedHere("plain.dll"));

  Write("text.dll", "not a library\n");
  EXPECT_EQ(Run(P("text.dll"), "DllRegisterServer"), EntryPointOutcome::NotLoadable);
  EXPECT_EQ(Run(P("missing.dll"), "DllRegisterServer"), EntryPointOutcome::NotLoadable);
  EXPECT_TRUE(Log().empty());
}

TEST_F(Components, AnOverrunningEntryPointIsStoppedAndTheUpdaterGoesOn) {
  const std::string sleeper = Install(CONTRACT_COMPONENT_SLEEPER, "sleeper.dll");
  const auto start = Clock::now();
  EXPECT_EQ(Run(sleeper, "DllRegisterServer", 300), EntryPointOutcome::TimedOut);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(seconds, 0.29);
  EXPECT_LT(seconds, 3.0);
  EXPECT_FALSE(LoadedHere("sleeper.dll"));

  // Once stopped it writes nothing more.
  const std::vector<std::string> atStop = Log();
  ASSERT_FALSE(atStop.empty());
  EXPECT_EQ(atStop.front(), "DllRegisterServer");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Log(), atStop);

  const std::string quick = Install(CONTRACT_COMPONENT_QUICK, "quick.dll");
  EXPECT_EQ(Run(quick, "DllRegisterServer"), EntryPointOutcome::Finished);
  EXPECT_EQ(Log().back(), "DllRegisterServer");
}

TEST_F(Components, RegisterComponentIsTrueOnlyForAnEntryPointThatFinished) {
  const std::string quick = Install(CONTRACT_COMPONENT_QUICK, "quick.dll");
  const std::string failing = Install(CONTRACT_COMPONENT_FAILING, "failing.dll");
  const std::string plain = Install(CONTRACT_COMPONENT_NO_EXPORT, "plain.dll");
  EXPECT_TRUE(modCheckFileReg::RegisterComponent(pf(), quick, false));
  EXPECT_TRUE(modCheckFileReg::RegisterComponent(pf(), quick, true));
  EXPECT_TRUE(modCheckFileReg::RegisterComponent(pf(), failing, false));
  EXPECT_FALSE(modCheckFileReg::RegisterComponent(pf(), plain, false));
  EXPECT_FALSE(modCheckFileReg::RegisterComponent(pf(), P("missing.dll"), false));
  EXPECT_EQ(Log(), (std::vector<std::string>{"DllRegisterServer", "DllUnregisterServer",
                                             "DllRegisterServer"}));
}

// The one case that waits the full ten seconds of the real limit.
TEST_F(Components, RegisterComponentGivesUpAfterTenSeconds) {
  const std::string sleeper = Install(CONTRACT_COMPONENT_SLEEPER, "sleeper.dll");
  const auto start = Clock::now();
  EXPECT_FALSE(modCheckFileReg::RegisterComponent(pf(), sleeper, false));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(seconds, 9.9);
  EXPECT_LT(seconds, 13.0);
  ASSERT_FALSE(Log().empty());
  EXPECT_NE(Log().back(), "woke");
}

}  // namespace
}  // namespace contract
