#include "startup/modCheckFileReg.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"

namespace {

using namespace updater;
using ports::EntryPointOutcome;

TEST(CreateDesktopShortcut, NeverComplains) {
  fakes::FakePlatform f;
  modCheckFileReg::CreateDesktopShortcut(f.pf);  // no name: nothing written
  f.profile.values["initInfo/shortcut"] = "x";
  f.shortcuts.failDesktop = true;
  modCheckFileReg::CreateDesktopShortcut(f.pf);
  f.shortcuts.failDesktop = false;
  f.shortcuts.failSave = true;
  modCheckFileReg::CreateDesktopShortcut(f.pf);
  EXPECT_TRUE(f.shortcuts.saved.empty());
  EXPECT_TRUE(f.ui.boxes.empty());
}

TEST(RegisterComponent, OnlyAnEntryPointThatFinishesInTimeCounts) {
  fakes::FakePlatform f;
  EXPECT_FALSE(modCheckFileReg::RegisterComponent(f.pf, "C:\\x.dll", false));
  EXPECT_TRUE(f.components.calls.empty());  // no file: nothing is loaded
  f.files.files.insert("C:\\x.dll");
  EXPECT_TRUE(modCheckFileReg::RegisterComponent(f.pf, "C:\\x.dll", true));
  EXPECT_EQ(f.components.calls.back(), "C:\\x.dll|DllUnregisterServer|10000");
  for (auto outcome : {EntryPointOutcome::NotLoadable, EntryPointOutcome::NoEntryPoint,
                       EntryPointOutcome::NoWorker, EntryPointOutcome::TimedOut}) {
    f.components.outcomes["C:\\x.dll"] = outcome;
    EXPECT_FALSE(modCheckFileReg::RegisterComponent(f.pf, "C:\\x.dll", false));
  }
}

}  // namespace
