#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;

class Download : public testing::Test {
 protected:
  void SetUp() override { form.gcweb = "http://h:81/"; }
  void Serve(const std::string& body, bool withLength = true) {
    f.io.transfer.body = body;
    if (withLength) f.io.transfer.headers["Content-Length"] = std::to_string(body.size());
  }
  const std::string kLocal = "C:\\Prog\\tmp\\setup.rar";
  fakes::FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(Download, TheBodyArrivesWholeInChunksOf1024Bytes) {
  std::string body;
  for (int i = 0; i < 5000; ++i) body += static_cast<char>(i % 251);
  Serve(body);
  form.DownloadPackage();
  EXPECT_EQ(form.txtUrl.Text, "http://h:81//uploads/soft/setup.rar");  // joined as it is
  EXPECT_EQ(f.io.transfer.executed, std::vector<std::string>{form.txtUrl.Text + "|get"});
  EXPECT_EQ(f.io.state.files.at(kLocal), body);
  for (auto size : f.io.transfer.chunkSizes) EXPECT_EQ(size, 1024u);
  EXPECT_EQ(form.ProgressBar1.Max, 5000);
  EXPECT_LT(form.ProgressBar1.Value, 5000);  // set only while bytes are missing
  EXPECT_EQ(form.ProgressBar1.Value, 4096);
  EXPECT_EQ(form.Label2.Caption, "升级下载完成，正在升级...");
  EXPECT_TRUE(f.ui.boxes.empty());
  EXPECT_GE(f.ui.pumps, 2 + 5);  // while waiting, and after every chunk
}

TEST_F(Download, ABodyOfExactlyTheAnnouncedLengthGivesAFileOfThatLength) {
  Serve(std::string(2048, 'x'));
  form.DownloadPackage();
  EXPECT_EQ(f.io.state.files.at(kLocal).size(), 2048u);
}

TEST_F(Download, WithoutALengthNothingIsWrittenAndTheCaptionIsStillSet) {
  Serve("data", false);
  form.DownloadPackage();
  EXPECT_TRUE(f.io.state.files.empty());
  EXPECT_TRUE(f.ui.boxes.empty());
  EXPECT_EQ(form.Label2.Caption, "升级下载完成，正在升级...");
}

TEST_F(Download, APageNotFoundInTheFirstChunkIsAWrongAddress) {
  Serve("<html>无法找到网页</html>" + std::string(3000, ' '));
  form.DownloadPackage();
  EXPECT_TRUE(f.io.state.files.empty());
  ASSERT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_EQ(f.ui.boxes[0].text, "下载地址不正确!");
  EXPECT_EQ(f.ui.boxes[0].icon, ports::MsgIcon::None);
  EXPECT_EQ(f.ui.boxes[0].title, "自动更新");
  EXPECT_EQ(form.Label2.Caption, "升级下载完成，正在升级...");

  // Only the first chunk is searched.
  fakes::FakePlatform g;
  frmUpgrade other(g.pf);
  g.io.transfer.body = std::string(1024, 'a') + "无法找到网页";
  g.io.transfer.headers["Content-Length"] = std::to_string(g.io.transfer.body.size());
  other.DownloadPackage();
  EXPECT_EQ(g.io.state.files.begin()->second, g.io.transfer.body);
}

TEST_F(Download, ABodyCutShortLeavesNoFileAndSaysSo) {
  Serve(std::string(10000, 'x'));
  f.io.transfer.cutAfter = 3000;
  form.DownloadPackage();
  EXPECT_TRUE(f.io.state.files.empty());
  EXPECT_EQ(f.io.state.killed, std::vector<std::string>{kLocal});
  ASSERT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_EQ(form.Label2.Caption, "升级下载完成，正在升级...");
}

TEST_F(Download, ALengthThatIsNoNumberRaisesAfterTheFileIsCreated) {
  Serve("abc");
  f.io.transfer.headers["Content-Length"] = "12x";
  EXPECT_THROW(form.DownloadPackage(), RuntimeError);
  EXPECT_EQ(f.io.state.files.at(kLocal), "");
  f.io.transfer.headers["Content-Length"] = "4294967296";
  try {
    form.DownloadPackage();
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), kErrOverflow);
  }
}

TEST_F(Download, AFullDiskRaisesAndLeavesNoPartialFile) {
  // The file buffers: a small package meets the full disk only when it is closed, a large one
  // first in a Write and then again in the Close of the clean-up.
  struct Case {
    std::size_t size, fullAt;
  } cases[] = {{5000, 3000}, {600 * 1024, 300 * 1024}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    fakes::FakePlatform g;
    frmUpgrade other(g.pf);
    g.io.transfer.body = std::string(c.size, 'x');
    g.io.transfer.headers["Content-Length"] = std::to_string(c.size);
    g.io.state.failWriteAt = c.fullAt;
    try {
      other.DownloadPackage();
      ADD_FAILURE() << "no error raised";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), kErrDiskFull);
    }
    EXPECT_TRUE(g.io.state.files.empty());
    EXPECT_EQ(g.io.state.killed, std::vector<std::string>{kLocal});
    EXPECT_EQ(g.io.state.closes, 1);
    EXPECT_NE(other.Label2.Caption, "升级下载完成，正在升级...");
  }
}

TEST_F(Download, AFileThatCannotBeOpenedRaisesToTheCaller) {
  Serve("abc");
  f.io.state.failOpen = true;
  EXPECT_THROW(form.DownloadPackage(), RuntimeError);
  EXPECT_EQ(form.Label2.Caption, "最新程序版本：2013_01_5682    ");
}

}  // namespace
