#include <gtest/gtest.h>

#include <functional>

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

TEST_F(Download, NoAnswerAtAllIsReportedAsADownloadCutShort) {
  Serve(std::string(3000, 'x'));
  f.io.transfer.status = 0;  // refused, reset or timed out before any header
  form.DownloadPackage();
  EXPECT_TRUE(f.io.state.files.empty());
  ASSERT_EQ(f.ui.boxes.size(), 1u);
  EXPECT_EQ(f.ui.boxes[0].text, "升级包下载不完整，请稍后重试！");
  EXPECT_EQ(f.ui.boxes[0].icon, ports::MsgIcon::Error);
  EXPECT_EQ(form.Label2.Caption, "升级下载完成，正在升级...");
}

// A program whose download of release 2.0/t2 broke off at 6000 of 10000 bytes: the next try
// asks for the rest only.
struct Broken {
  Broken() {
    for (int i = 0; i < 10000; ++i) package += static_cast<char>(i % 253);
    form.gcweb = "http://h:81";
    form.Text1.Text = "2.0";
    form.Text2.Text = "t2";
    f.io.transfer.body = package;
    f.io.transfer.headers = {{"Content-Length", "10000"}, {"ETag", kTag}};
    f.io.transfer.cutAfter = 6000;
    form.DownloadPackage();
    f.ui.boxes.clear();
  }
  // The answer to the next request.
  fakes::TransferReply& Next(int status, const std::string& body) {
    fakes::TransferReply reply;
    reply.status = status;
    reply.body = body;
    reply.headers = {{"Content-Length", std::to_string(body.size())}, {"ETag", kTag}};
    return f.io.transfer.replies.emplace_back(reply);
  }
  // The rest from, cut after cut bytes.
  fakes::TransferReply& Rest(std::size_t from, std::size_t cut = std::string::npos) {
    auto& reply = Next(206, package.substr(from));
    reply.headers["Content-Range"] = "bytes " + std::to_string(from) + "-9999/10000";
    reply.cutAfter = cut;
    return reply;
  }
  const std::vector<std::string>& Asked(std::size_t request) {
    return f.io.transfer.requestHeaders.at(request);
  }
  bool Has(const std::string& path) { return f.io.state.files.count(path) > 0; }

  static constexpr const char* kLocal = "C:\\Prog\\tmp\\setup.rar";
  static constexpr const char* kPart = "C:\\Prog\\tmp.part\\setup.rar";
  static constexpr const char* kTag = "\"abc-1\"";
  fakes::FakePlatform f;
  frmUpgrade form{f.pf};
  std::string package;
};

TEST(Resume, TheRestIsAskedForAndJoinedToTheKeptBytes) {
  Broken b;
  EXPECT_FALSE(b.Has(Broken::kLocal)) << "nothing truncated is left in tmp";
  EXPECT_EQ(b.f.io.state.files.at(Broken::kPart), b.package.substr(0, 6000));
  b.Rest(6000, 500);  // broken off again, within the first chunk: the bar stays where it began
  b.form.DownloadPackage();
  EXPECT_EQ(b.Asked(1), (std::vector<std::string>{"Range: bytes=6000-",
                                                  std::string("If-Range: ") + Broken::kTag}));
  EXPECT_EQ(b.form.ProgressBar1.Max, 10000);
  EXPECT_EQ(b.form.ProgressBar1.Value, 6000);
  ASSERT_EQ(b.f.ui.boxes.size(), 1u);
  EXPECT_EQ(b.f.ui.boxes[0].text, "升级包下载不完整，请稍后重试！");
  EXPECT_EQ(b.f.io.state.files.at(Broken::kPart), b.package.substr(0, 6500));

  b.Rest(6500);
  b.form.DownloadPackage();
  EXPECT_EQ(b.Asked(2).front(), "Range: bytes=6500-");
  EXPECT_TRUE(b.f.io.state.files.at(Broken::kLocal) == b.package);
  EXPECT_FALSE(b.Has(Broken::kPart)) << "the kept part goes once the package is whole";
  EXPECT_EQ(b.f.ui.boxes.size(), 1u);
}

TEST(Resume, AnAnswerThatDoesNotContinueTheKeptBytesStartsOverWithTheWhole) {
  const std::string changed(12000, 'n');
  const struct {
    const char* name;
    std::function<void(Broken&)> answer;
    std::size_t requests;
  } rows[] = {
      {"200: ranges ignored or the file changed", [&](Broken& b) { b.Next(200, changed); }, 2},
      {"416",
       [&](Broken& b) {
         b.Next(416, "");
         b.Next(200, changed);
       },
       3},
      {"206 from elsewhere",
       [&](Broken& b) {
         b.Rest(5000);
         b.Next(200, changed);
       },
       3},
      {"206 naming other bytes of the same length",
       [&](Broken& b) {
         b.Next(206, b.package.substr(0, 4000)).headers["Content-Range"] = "bytes 0-3999/10000";
         b.Next(200, changed);
       },
       3},
      {"206 of another file",
       [&](Broken& b) {
         b.Rest(6000).headers["ETag"] = "\"other\"";
         b.Next(200, changed);
       },
       3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Broken b;
    row.answer(b);
    b.form.DownloadPackage();
    ASSERT_EQ(b.f.io.transfer.executed.size(), row.requests);
    EXPECT_EQ(b.Asked(1).size(), 2u);
    if (row.requests == 3) {
      EXPECT_TRUE(b.Asked(2).empty()) << "then the whole is asked for";
    }
    EXPECT_TRUE(b.f.io.state.files.at(Broken::kLocal) == changed);
    EXPECT_FALSE(b.Has(Broken::kPart));
    EXPECT_TRUE(b.f.ui.boxes.empty());
  }
}

TEST(Resume, OnlyTheSameReleaseWithAStrongValidatorIsContinued) {
  Broken b;
  b.form.Text2.Text = "t3";  // another release of the same version number
  b.Next(200, b.package);
  b.form.DownloadPackage();
  EXPECT_TRUE(b.Asked(1).empty());
  EXPECT_TRUE(b.f.io.state.files.at(Broken::kLocal) == b.package);

  // A weak ETag cannot join two halves of a file; Last-Modified then stands in.
  for (const std::string modified : {"", "Tue, 08 Dec 2026 08:00:00 GMT"}) {
    SCOPED_TRACE(modified);
    fakes::FakePlatform g;
    frmUpgrade other(g.pf);
    g.io.transfer.body = b.package;
    g.io.transfer.headers = {{"Content-Length", "10000"}, {"ETag", "W/\"abc\""}};
    if (!modified.empty()) g.io.transfer.headers["Last-Modified"] = modified;
    g.io.transfer.cutAfter = 6000;
    other.DownloadPackage();
    EXPECT_EQ(g.io.state.files.count(Broken::kPart), modified.empty() ? 0u : 1u);
    EXPECT_EQ(g.io.state.killed.size(), modified.empty() ? 1u : 0u);
    other.DownloadPackage();
    EXPECT_EQ(g.io.transfer.requestHeaders.at(1).size(), modified.empty() ? 0u : 2u);
  }
}

TEST(Resume, AVersionCheckOfferingAnotherReleaseThrowsTheKeptBytesAway) {
  const struct {
    const char* version;
    const char* time;
    bool kept;
  } rows[] = {{"1.0", "t1", false},  // 2.0/t2 withdrawn for the release installed
              {"2.0", "t3", false},
              {"2.0", "t2", true},
              {"", "", true}};  // a reply without a version says nothing of the release
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.version) + "/" + row.time);
    Broken b;
    b.f.net.script.body = std::string("<root><version_no>") + row.version +
                          "</version_no><update_time>" + row.time + "</update_time></root>";
    b.form.CheckVersion();
    EXPECT_EQ(b.Has(Broken::kPart), row.kept);
  }
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
