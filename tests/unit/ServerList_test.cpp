// The server list of the upgrade window and the probe of a picked server.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "protocol/Exchange.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;

class ServerList : public testing::Test {
 protected:
  void Reply(const std::string& error, const std::string& list) {
    f.net.script.body = "<root><error>" + error + "</error><lcserverurl>" + list +
                        "</lcserverurl><res>1</res></root>";
  }
  fakes::FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(ServerList, EntriesBecomeRowsWithTheirAddresses) {
  form.gcweb = "http://h";
  Reply("", "http://a^^甲||http://b^^乙^^extra||broken||||http://c^^丙");
  form.LoadServerList();
  EXPECT_EQ(f.net.script.posted.at(0).url, "http://h/xmlRequest/xmlGetServerName.aspx");
  EXPECT_EQ(f.net.script.posted.at(0).body, protocol::CardRequest("", ""));
  EXPECT_EQ(form.List1.List,
            (std::vector<std::string>{"----------服务器列表--------------", "甲", "乙", "丙"}));
  EXPECT_EQ(form.laUrl, (std::vector<std::string>{"http://a", "http://b", "http://c"}));
  form.LoadServerList();  // loaded once
  EXPECT_EQ(form.List1.List.size(), 4u);
}

TEST_F(ServerList, FailuresAreReportedAndLeaveTheListAlone) {
  f.net.script.sendError = RuntimeError(-2146697211, "连接被拒绝");
  form.LoadServerList();
  Reply("", "");
  f.net.script.sendError.reset();
  f.net.script.body = "<html>";
  form.LoadServerList();
  Reply("卡号无效", "http://a^^甲");
  form.LoadServerList();
  ASSERT_EQ(f.ui.boxes.size(), 3u);
  EXPECT_EQ(f.ui.boxes[0].text, "向服务器提交信息时出错：连接被拒绝请核实服务器地址!");
  EXPECT_EQ(f.ui.boxes[0].icon, ports::MsgIcon::Error);
  EXPECT_EQ(f.ui.boxes[1].text, "服务器WEB地址不正确，请核实服务器地址！");
  EXPECT_EQ(f.ui.boxes[2].text, "提交信息时出错：卡号无效");
  EXPECT_EQ(form.List1.List.size(), 1u);
}

TEST_F(ServerList, AClickProbesThePickedServer) {
  Reply("", "http://a^^甲||^^空");
  form.LoadServerList();
  form.List1.ListIndex = 0;  // the header row
  form.CheckServerStatus.Value = 1;
  form.List1_Click();
  EXPECT_EQ(form.Label9.Caption, "正在测试服务器.....");
  EXPECT_EQ(form.CheckServerStatus.Value, 1);

  form.List1.ListIndex = 1;
  form.List1_Click();
  EXPECT_EQ(form.Label9.Caption, "正常");
  EXPECT_EQ(f.net.script.posted.back().url, "http://a/InteractData/Xmlsendservername.aspx");

  form.List1.ListIndex = 2;  // an empty address probes nothing
  const auto posted = f.net.script.posted.size();
  form.List1_Click();
  EXPECT_EQ(f.net.script.posted.size(), posted);
  EXPECT_EQ(form.Label9.Caption, "无法连接");
  EXPECT_EQ(form.CheckServerStatus.Value, 0);
  EXPECT_TRUE(form.Label7.Visible);
  EXPECT_FALSE(form.Label8.Visible);
}

}  // namespace
