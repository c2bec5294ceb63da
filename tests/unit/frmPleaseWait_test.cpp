#include "startup/frmPleaseWait.h"

#include <gtest/gtest.h>

namespace {

using namespace updater;

TEST(PleaseWait, KeepsItsTextForBlanksAndSizesItselfOnActivation) {
  frmPleaseWait w;
  w.SetWaitMessage("  正在初始化......1  ");
  EXPECT_EQ(w.Label1.Caption, "正在初始化......1");
  w.SetWaitMessage("   ");
  w.SetWaitMessage("");
  EXPECT_EQ(w.Label1.Caption, "正在初始化......1");
  w.Form_Load();
  EXPECT_EQ(w.MousePointer, frmPleaseWait::vbHourglass);
  w.Form_Activate();
  EXPECT_EQ(w.Width, 1560 + 3360);
  EXPECT_EQ(w.Label1Left, 600);
  w.Form_Unload();
  EXPECT_EQ(w.MousePointer, frmPleaseWait::vbDefault);
}

}  // namespace
