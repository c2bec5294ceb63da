#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "protocol/Exchange.h"
#include "serverset/frmServerSet.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;
using fakes::FakePlatform;

TEST(Requests, TheGreetingIsFixedAndTheCardRequestCarriesItsValuesAsTheyAre) {
  const std::string greeting = protocol::GreetingRequest();
  EXPECT_EQ(greeting, "<?xml version='1.0' ?>\r\n<root>\r\n<msg>hello</msg>\r\n</root>\r\n");
  EXPECT_EQ(greeting.size(), 59u);
  EXPECT_EQ(protocol::CardRequest("", ""),
            "<?xml version='1.0' ?>\r\n<root>\r\n<cardid></cardid>\r\n<cardpwd></cardpwd>\r\n"
            "</root>\r\n");
}

TEST(Exchange, PostsTheDocumentToTheBaseAndPathJoinedAsTheyAre) {
  FakePlatform f;
  protocol::Exchange x(f.pf);
  x.Post("http://h:1/" + std::string(protocol::kPageClientVersion), protocol::GreetingRequest());
  ASSERT_EQ(f.net.script.posted.size(), 1u);
  EXPECT_EQ(f.net.script.posted[0].method, "POST");
  EXPECT_EQ(f.net.script.posted[0].url, "http://h:1//xmlRequest/Xmlclientversion.aspx");
  EXPECT_EQ(f.net.script.posted[0].body, protocol::GreetingRequest());
  EXPECT_EQ(f.ui.pumps, 3);  // after loading, after opening, after sending
  EXPECT_FALSE(x.TransportFailed());
}

TEST(Exchange, TheTransportTestSeesTheLaterOfTwoFailures) {
  FakePlatform f;
  f.net.script.openError = RuntimeError(1001, "open failed");
  f.net.script.sendError = RuntimeError(1002, "send failed");
  protocol::Exchange x(f.pf);
  x.Post("bad", protocol::GreetingRequest());
  ASSERT_TRUE(x.TransportFailed());
  EXPECT_EQ(x.error.number, 1002);
}

TEST(Exchange, AReplyWithoutRootFailsTheReplyTestNotTheTransportTest) {
  FakePlatform f;
  f.net.script.body = "";
  protocol::Exchange x(f.pf);
  x.Post("http://h", protocol::GreetingRequest());
  EXPECT_FALSE(x.TransportFailed());
  x.TakeReply();
  EXPECT_EQ(x.Lookup("error"), std::nullopt);
  EXPECT_TRUE(x.error.IsSet());
}

class UpgradeProbe : public testing::Test {
 protected:
  FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(UpgradeProbe, AnEmptyAddressSendsNothingAndChangesNothing) {
  form.Label9.Caption = "before";
  form.Label7.Visible = true;
  form.Label8.Visible = false;
  EXPECT_FALSE(form.CheckSStatus(""));
  EXPECT_EQ(f.net.script.opens, 0);
  EXPECT_EQ(f.ui.pumps, 0);
  EXPECT_EQ(form.Label9.Caption, "before");
  EXPECT_TRUE(form.Label7.Visible);
  EXPECT_FALSE(form.Label8.Visible);
}

TEST_F(UpgradeProbe, AnyXmlReplyShowsTheGreenLampAndSucceeds) {
  f.net.script.body = "<anything><error>refused</error></anything>";
  form.Label7.Visible = true;
  EXPECT_TRUE(form.CheckSStatus("http://h:8080/item"));
  EXPECT_EQ(f.net.script.posted.at(0).url,
            "http://h:8080/item/xmlRequest/XmlCheckServerStatus.aspx");
  EXPECT_EQ(form.Label9.Caption, "服务器连接正常");
  EXPECT_FALSE(form.Label7.Visible);
  EXPECT_TRUE(form.Label8.Visible);
  EXPECT_EQ(f.ui.pumps, 4);  // one before the exchange, three inside it
}

TEST_F(UpgradeProbe, AnHtmlPageShowsTheGreenLampButFails) {
  f.net.script.body = "<html><body>404</body></html>";
  EXPECT_FALSE(form.CheckSStatus("http://h"));
  EXPECT_EQ(form.Label9.Caption, "服务器连接正常");
  EXPECT_TRUE(form.Label8.Visible);
}

TEST_F(UpgradeProbe, ATransportFailureShowsTheRedLamp) {
  f.net.script.sendError = RuntimeError(-2146697211, "cannot connect");
  EXPECT_FALSE(form.CheckSStatus("http://nowhere"));
  EXPECT_EQ(form.Label9.Caption, "服务器连接失败");
  EXPECT_TRUE(form.Label7.Visible);
  EXPECT_FALSE(form.Label8.Visible);
}

TEST_F(UpgradeProbe, TwoProbesSendTwoIdenticalRequests) {
  EXPECT_TRUE(form.CheckSStatus("http://h"));
  EXPECT_TRUE(form.CheckSStatus("http://h"));
  ASSERT_EQ(f.net.script.posted.size(), 2u);
  EXPECT_EQ(f.net.script.posted[0].url, f.net.script.posted[1].url);
  EXPECT_EQ(f.net.script.posted[0].body, f.net.script.posted[1].body);
}

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
