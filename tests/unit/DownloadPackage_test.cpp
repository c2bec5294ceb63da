#include <gtest/gtest.h>

#include <functional>

#include <random>

#include "fakes/fake_platform.h"
#include "upgrade/BlockIndex.h"
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

// A server as nginx is one: the package, its block index beside it, byte ranges.
struct BlockServer {
  std::string package, index;  // no index: a 404
  bool ranges = true;          // false: a range is answered with the whole package
  std::string etag = "\"v1\"";
  std::string otherEtagFrom;  // the validator changes from this range on ("bytes=N-")
  std::size_t cutRanges = 0;  // this many answers for the first range break off after 100 bytes
  std::string contentRangeTotal;
  std::vector<std::string> asked;  // per request: the URL's end and its Range, if any

  fakes::TransferReply operator()(const std::string& url, const std::vector<std::string>& headers) {
    std::string range;
    for (const auto& h : headers) {
      if (h.rfind("Range: bytes=", 0) == 0) range = h.substr(13);
    }
    const bool blocks = url.ends_with(".blocks");
    asked.push_back((blocks ? "blocks" : "package") + (range.empty() ? "" : " " + range));
    fakes::TransferReply r;
    if (blocks) {
      if (index.empty()) return {404, {{"Content-Length", "9"}}, "not found"};
      r.body = index;
    } else {
      r.body = package;
      r.headers["ETag"] =
          !otherEtagFrom.empty() && range.rfind(otherEtagFrom, 0) == 0 ? "\"v2\"" : etag;
      if (!range.empty() && ranges) {
        const std::size_t dash = range.find('-');
        const std::size_t first = std::stoul(range.substr(0, dash));
        const std::size_t last = std::stoul(range.substr(dash + 1));
        r.status = 206;
        r.body = package.substr(first, last - first + 1);
        r.headers["Content-Range"] =
            "bytes " + range + "/" +
            (contentRangeTotal.empty() ? std::to_string(package.size()) : contentRangeTotal);
        if (cutRanges > 0 && range.starts_with("0-")) {
          --cutRanges;
          r.cutAfter = 100;
        }
      }
    }
    r.headers["Content-Length"] = std::to_string(r.body.size());
    return r;
  }
};

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random() & 0xFF);
  return out;
}

BlockIndex IndexOf(const std::string& package, const std::string& release) {
  BlockIndex index;
  index.release = release;
  index.length = static_cast<std::int64_t>(package.size());
  index.sha256 = fakes::Sha256Of(package);
  index.blockSize = 1024;
  const auto* bytes = reinterpret_cast<const unsigned char*>(package.data());
  for (std::size_t at = 0; at < package.size(); at += 1024) {
    const std::size_t n = std::min<std::size_t>(1024, package.size() - at);
    index.blocks.push_back({WeakSum(bytes + at, n), StrongSum(bytes + at, n)});
  }
  return index;
}

class Delta : public Download {
 protected:
  void SetUp() override {
    Download::SetUp();
    form.Text1.Text = "2.1";
    f.pf.log = &f.log;
    // The new release: 40 KiB with 30 bytes changed in the middle and 10 bytes put in front.
    server.package =
        "0123456789" + kEarlier.substr(0, 20000) + std::string(30, 'N') + kEarlier.substr(20030);
    server.index = WriteBlockIndex(IndexOf(server.package, "2.1"));
    f.io.state.files[kEarlierPath] = kEarlier;
    f.io.transfer.serve = std::ref(server);
  }
  const std::string kEarlier = RandomBytes(40 * 1024, 11);
  const std::string kEarlierPath = "C:\\Prog\\setup.rar";
  BlockServer server;
};

TEST_F(Delta, OnlyTheChangedRangesAreFetchedAndThePackageComesOutExact) {
  form.DownloadPackage();
  EXPECT_EQ(f.io.state.files.at(kLocal), server.package);
  EXPECT_EQ(server.asked,
            (std::vector<std::string>{"blocks", "package 0-1023", "package 19456-20479"}));
  EXPECT_EQ(f.io.state.files.at(kEarlierPath), kEarlier);  // only read
  EXPECT_EQ(form.ProgressBar1.Max, static_cast<int>(server.package.size()));
  EXPECT_EQ(form.Label2.Caption, "升级下载完成，正在升级...");
  EXPECT_TRUE(f.ui.boxes.empty());
  EXPECT_TRUE(
      f.log.Has("by blocks: 40970 bytes, 38922 reused from the earlier package, 2048 "
                "fetched in 2 requests"))
      << f.log.All();

  // A range that breaks off is asked for again from the first block not yet written.
  fakes::FakePlatform g;
  frmUpgrade other(g.pf);
  other.gcweb = form.gcweb;
  other.Text1.Text = "2.1";
  g.io.state.files[kEarlierPath] = kEarlier;
  server.asked.clear();
  server.cutRanges = 1;
  g.io.transfer.serve = std::ref(server);
  other.DownloadPackage();
  EXPECT_EQ(g.io.state.files.at(kLocal), server.package);
  EXPECT_EQ(server.asked, (std::vector<std::string>{"blocks", "package 0-1023",
                                                    "package 19456-20479", "package 0-1023"}));
}

TEST_F(Delta, AnIndexNamingNothingNewIsNoProofOfThePackageServed) {
  // Every block of this index is in the earlier package: the index could be of that package
  // under the new release's name, and nothing fetched would tell. The whole package is taken.
  server.package = kEarlier.substr(5120) + kEarlier.substr(0, 5120);
  server.index = WriteBlockIndex(IndexOf(server.package, "2.1"));
  form.DownloadPackage();
  EXPECT_EQ(f.io.state.files.at(kLocal), server.package);
  EXPECT_EQ(server.asked, (std::vector<std::string>{"blocks", "package"}));
  EXPECT_TRUE(f.log.Has("names no byte the earlier package lacks")) << f.log.All();
}

TEST_F(Delta, AnyFailureFallsBackToTheWholePackageAndShowsNothingOfIt) {
  const std::string index = server.index;
  const auto flipped = [&](std::size_t at) {
    std::string out = index;
    out[at] ^= 1;
    return out;
  };
  const struct Row {
    const char* name;
    std::function<void(BlockServer&, fakes::FakePlatform&)> change;
    std::size_t requests;  // all of them, the whole package's included
  } rows[] = {
      {"no earlier package", [](BlockServer&, fakes::FakePlatform& g) { g.io.state.files.clear(); },
       1},
      {"no index", [](BlockServer& s, fakes::FakePlatform&) { s.index.clear(); }, 2},
      {"a damaged index header",
       [&](BlockServer& s, fakes::FakePlatform&) { s.index = flipped(2); }, 2},
      {"a damaged block sum",
       [&](BlockServer& s, fakes::FakePlatform&) { s.index = flipped(index.size() - 30); }, 5},
      {"an index cut short", [&](BlockServer& s, fakes::FakePlatform&) { s.index.pop_back(); }, 2},
      {"an index of another release",
       [](BlockServer& s, fakes::FakePlatform&) {
         s.index = WriteBlockIndex(IndexOf(s.package, "2.0"));
       },
       2},
      {"an index of another package",
       [](BlockServer& s, fakes::FakePlatform&) {
         s.index = WriteBlockIndex(IndexOf(s.package + "x", "2.1"));
       },
       5},
      {"a package other than its index says",
       [&](BlockServer& s, fakes::FakePlatform&) {
         BlockIndex i = IndexOf(s.package, "2.1");
         i.sha256[0] ^= 1;
         s.index = WriteBlockIndex(i);
       },
       4},
      {"ranges answered with the whole package",
       [](BlockServer& s, fakes::FakePlatform&) { s.ranges = false; }, 4},
      {"a range of another length",
       [](BlockServer& s, fakes::FakePlatform&) { s.contentRangeTotal = "40971"; }, 4},
      {"a package without a validator",
       [](BlockServer& s, fakes::FakePlatform&) { s.etag.clear(); }, 4},
      {"a package changed between ranges",
       [](BlockServer& s, fakes::FakePlatform&) { s.otherEtagFrom = "19456"; }, 4},
      {"a range that breaks off twice",
       [](BlockServer& s, fakes::FakePlatform&) { s.cutRanges = 2; }, 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fakes::FakePlatform g;
    g.pf.log = &g.log;
    frmUpgrade other(g.pf);
    other.gcweb = form.gcweb;
    other.Text1.Text = "2.1";
    BlockServer s = server;
    g.io.state.files[kEarlierPath] = kEarlier;
    row.change(s, g);
    g.io.transfer.serve = std::ref(s);
    other.DownloadPackage();
    EXPECT_EQ(g.io.state.files.at(kLocal), s.package);
    ASSERT_EQ(s.asked.size(), row.requests) << testing::PrintToString(s.asked);
    EXPECT_EQ(s.asked.back(), "package");  // the whole package, as without an index
    EXPECT_TRUE(g.ui.boxes.empty());
    EXPECT_EQ(other.Label2.Caption, "升级下载完成，正在升级...");
    if (row.requests > 1) {
      EXPECT_TRUE(g.log.Has("by blocks given up")) << g.log.All();
    }
  }
}

}  // namespace
