#include "protocol/Probes.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "serverset/frmServerSet.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;
using fakes::FakePlatform;

TEST(OtherProbes, UseTheirOwnPagesAndTouchNoWindow) {
  FakePlatform f;
  frmUpgrade form(f.pf);
  frmServerSet dialog(f.pf);
  EXPECT_TRUE(form.IfOnLine("http://a"));
  EXPECT_TRUE(dialog.CheckSStatus("http://b"));
  f.net.script.body = "not xml";
  EXPECT_FALSE(form.IfOnLine("http://a"));
  EXPECT_FALSE(dialog.CheckSStatus("http://b"));
  ASSERT_EQ(f.net.script.posted.size(), 4u);
  EXPECT_EQ(f.net.script.posted[0].url, "http://a/InteractData/Xmlsendservername.aspx");
  EXPECT_EQ(f.net.script.posted[1].url, "http://b/xmlRequest/XmlCheckServerStatus.aspx");
  EXPECT_EQ(form.Label9.Caption, "正在测试服务器......");
}

}  // namespace
