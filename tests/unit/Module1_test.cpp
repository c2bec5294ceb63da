#include "helpers/Module1.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace {

using namespace updater;

TEST(Module1SystemFolder, KeepsOnlyTheDriveRootOfTheSystemDirectory) {
  fakes::FakePlatform f;
  f.system.systemDirectory = "C:\\WINDOWS\\system32";
  f.system.wow64 = true;
  EXPECT_EQ(Module1::GetSystemFolder(f.pf), "C:\\Windows\\SysWOW64");
  EXPECT_EQ(f.system.bufferSizes, std::vector<std::size_t>{255});

  f.system.systemDirectory = "D:\\WINNT\\System32";
  f.system.wow64 = false;
  EXPECT_EQ(Module1::GetSystemFolder(f.pf), "D:\\Windows\\System32");
}

TEST(Module1SystemFolder, FailingServicesGiveFalseAndARelativeFolder) {
  fakes::FakePlatform f;
  f.system.callSucceeds = false;
  f.system.wow64 = true;  // never written when the call fails
  EXPECT_FALSE(Module1::IsWow64(f.pf));
  f.system.systemDirectory = "";
  EXPECT_EQ(Module1::GetSystemFolder(f.pf), "Windows\\System32");
}

TEST(Module1RunAndWait, StartsHiddenOpensForSynchronizeAndWaitsWithoutLimit) {
  fakes::FakePlatform f;
  f.processes.exitCode = 7;
  EXPECT_EQ(Module1::RunAndWait(f.pf, "C:\\P\\rar.exe x a b -y"), 7u);
  ASSERT_EQ(f.processes.started.size(), 1u);
  EXPECT_EQ(f.processes.started[0].commandLine, "C:\\P\\rar.exe x a b -y");
  EXPECT_EQ(f.processes.started[0].show, ports::ShowState::Hidden);
  ASSERT_EQ(f.processes.opened.size(), 1u);
  EXPECT_EQ(f.processes.opened[0].first, 0x00100000u);
  EXPECT_EQ(f.processes.opened[0].second, 4001u);
  EXPECT_EQ(f.processes.waits, std::vector<std::uint32_t>{0xFFFFFFFFu});
}

TEST(Module1RunAndWait, AProcessThatCannotBeOpenedIsNotWaitedFor) {
  fakes::FakePlatform f;
  f.processes.canOpen = false;
  EXPECT_EQ(Module1::RunAndWait(f.pf, "x"), std::nullopt);
  EXPECT_TRUE(f.processes.waits.empty());
}

TEST(Module1RunAndWait, ACommandThatCannotStartRaisesToTheCaller) {
  fakes::FakePlatform f;
  f.processes.canStart = false;
  try {
    Module1::RunAndWait(f.pf, "missing.exe");
    FAIL() << "no error raised";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), updater::kErrFileNotFound);
  }
}

TEST(Module1ReadIniValue, AsksWithA256BufferAndAnEmptyDefault) {
  fakes::FakePlatform f;
  f.profile.values["initInfo/server"] = "10.0.0.1:8080";
  EXPECT_EQ(Module1::ReadIniValue(f.pf, "C:\\P\\client.ini", "initInfo", "server"),
            "10.0.0.1:8080");
  ASSERT_EQ(f.profile.reads.size(), 1u);
  EXPECT_EQ(f.profile.reads[0].bufferSize, 256u);
  EXPECT_EQ(f.profile.reads[0].value, "");  // the default handed over
  EXPECT_EQ(f.profile.reads[0].file, "C:\\P\\client.ini");
}

TEST(Module1ReadIniValue, MissingEmptyAndLongValues) {
  fakes::FakePlatform f;
  EXPECT_EQ(Module1::ReadIniValue(f.pf, "f", "s", "absent"), "");
  f.profile.values["s/empty"] = "";
  EXPECT_EQ(Module1::ReadIniValue(f.pf, "f", "s", "empty"), "");
  f.profile.values["s/long"] = std::string(300, 'v');
  EXPECT_EQ(Module1::ReadIniValue(f.pf, "f", "s", "long"), std::string(255, 'v'));
  // The trim only reaches spaces outside the value: those before the terminator stay.
  f.profile.values["s/inner"] = "a b ";
  EXPECT_EQ(Module1::ReadIniValue(f.pf, "f", "s", "inner"), "a b ");
}

TEST(Module1WriteIniValue, AMissingFileIsNeitherWrittenNorCreated) {
  fakes::FakePlatform f;
  EXPECT_FALSE(Module1::WriteIniValue(f.pf, "C:\\P\\client.ini", "initInfo", "server", "x"));
  EXPECT_TRUE(f.profile.writes.empty());
}

TEST(Module1WriteIniValue, WritesTheValueCutTo256CharactersAndIgnoresTheResult) {
  fakes::FakePlatform f;
  f.files.files.insert("C:\\P\\client.ini");
  f.profile.writeResult = false;  // a refused write still reports true
  EXPECT_TRUE(Module1::WriteIniValue(f.pf, "C:\\P\\client.ini", "initInfo", "server", "h:80"));
  EXPECT_TRUE(
      Module1::WriteIniValue(f.pf, "C:\\P\\client.ini", "initInfo", "k", std::string(300, 'x')));
  // Characters, not bytes: a Chinese value is cut after 256 characters.
  std::string chinese;
  for (int i = 0; i < 300; ++i) chinese += "中";
  EXPECT_TRUE(Module1::WriteIniValue(f.pf, "C:\\P\\client.ini", "initInfo", "zh", chinese));
  ASSERT_EQ(f.profile.writes.size(), 3u);
  EXPECT_EQ(f.profile.writes[0].value, "h:80");
  EXPECT_EQ(f.profile.writes[0].section, "initInfo");
  EXPECT_EQ(f.profile.writes[1].value, std::string(256, 'x'));
  EXPECT_EQ(f.profile.writes[2].value.size(), 256u * 3);
}

}  // namespace
