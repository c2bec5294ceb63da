#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "protocol/Exchange.h"

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

}  // namespace
