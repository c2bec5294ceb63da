// The XML and HTTP ports against the reference update server, through the probes and the
// exchange of the core. The server's data folder sets up each case; its log shows the wire.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "contract/fixture.h"
#include "protocol/Exchange.h"
#include "serverset/frmServerSet.h"
#include "upgrade/frmUpgrade.h"

namespace contract {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using updater::frmServerSet;
using updater::frmUpgrade;
using updater::RuntimeError;
namespace protocol = updater::protocol;

using Clock = std::chrono::steady_clock;
constexpr const char* kConnected = "服务器连接正常";
constexpr const char* kNotConnected = "服务器连接失败";
constexpr const char* kComment = "新版本：修正了“错误”（第二版）";

class NetTest : public ContractTest {
 protected:
  void SetUp() override {
    ContractTest::SetUp();
    url_ = TheEnv().ServerUrl();
    if (url_.empty()) {
      GTEST_SKIP() << "no update server: run the suite through scripts/with-update-server, "
                      "which sets AUTOUPDATE_TEST_SERVER and AUTOUPDATE_TEST_SERVER_DATA";
    }
    data_ = TheEnv().ServerData();
    fs::remove(data_ / "fault");
    Data("version_no", "3.1.4");
    Data("update_time", "2024-05-06 07:08:09");
    Data("soft_cmt", kComment);
    logMark_ = ReadAll(data_ / "requests.log").size();
  }
  void TearDown() override {
    if (!data_.empty()) fs::remove(data_ / "fault");
    ContractTest::TearDown();
  }

  static std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void Data(const std::string& name, const std::string& bytes) {
    std::ofstream(data_ / name, std::ios::binary | std::ios::trunc) << bytes;
  }
  void Fault(const std::string& rule) { Data("fault", rule + "\n"); }

  struct Logged {
    std::string method, path, body;  // path and body as the log escapes them
  };
  // The requests that reached the server since the case began.
  std::vector<Logged> Requests() const {
    std::vector<Logged> out;
    const std::string log = ReadAll(data_ / "requests.log").substr(logMark_);
    std::size_t at = 0;
    while (at < log.size()) {
      std::size_t end = log.find('\n', at);
      if (end == std::string::npos) end = log.size();
      const std::string line = log.substr(at, end - at);
      const auto tab1 = line.find('\t');
      const auto tab2 = line.find('\t', tab1 + 1);
      out.push_back({line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1),
                     tab2 == std::string::npos ? "" : line.substr(tab2 + 1)});
      at = end + 1;
    }
    return out;
  }

  // The version query's exchange, up to its lookups.
  struct VersionReply {
    bool transportFailed = false;
    bool replyFailed = false;
    std::string version, comment;
  };
  VersionReply QueryVersion(updater::Platform& p) { return QueryVersion(p, url_); }
  VersionReply QueryVersion(updater::Platform& p, const std::string& base) {
    protocol::Exchange ex(p);
    ex.Post(base + protocol::kPageClientVersion, protocol::GreetingRequest());
    VersionReply r;
    r.transportFailed = ex.TransportFailed();
    if (r.transportFailed) return r;
    ex.TakeReply();
    ex.Lookup("error");
    r.replyFailed = ex.error.IsSet();
    r.version = ex.Lookup("version_no").value_or("<none>");
    r.comment = ex.Lookup("soft_cmt").value_or("<none>");
    return r;
  }

  void ExpectLamp(const frmUpgrade& w, bool green, const char* caption) {
    EXPECT_EQ(w.Label8.Visible, green);
    EXPECT_EQ(w.Label7.Visible, !green);
    EXPECT_EQ(w.Label9.Caption, caption);
  }

  std::string url_;
  fs::path data_;
  std::size_t logMark_ = 0;
};

TEST_F(NetTest, EveryProbeSucceedsAgainstAWorkingServerOnItsOwnPage) {
  frmUpgrade w(pf());
  w.Label8.Visible = false;
  EXPECT_TRUE(w.CheckSStatus(url_));
  ExpectLamp(w, true, kConnected);
  EXPECT_TRUE(frmServerSet(pf()).CheckSStatus(url_));
  EXPECT_TRUE(w.IfOnLine(url_));

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, protocol::kPageCheckServerStatus);
  EXPECT_EQ(requests[2].path, protocol::kPageSendServerName);
}

TEST_F(NetTest, ThePageIsJoinedToTheBaseAsItIsAndGreetingsAreIdenticalOnTheWire) {
  frmServerSet dlg(pf());
  EXPECT_TRUE(dlg.CheckSStatus(url_ + "/"));
  EXPECT_TRUE(dlg.CheckSStatus(url_ + "/item42"));
  EXPECT_TRUE(dlg.CheckSStatus(url_));

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].path, std::string("/") + protocol::kPageCheckServerStatus);
  EXPECT_EQ(requests[1].path, std::string("/item42") + protocol::kPageCheckServerStatus);
  EXPECT_EQ(requests[0].body, requests[1].body);
  EXPECT_EQ(requests[1].body, requests[2].body);
  EXPECT_NE(requests[0].body.find("<msg>hello</msg>"), std::string::npos) << requests[0].body;
}

TEST_F(NetTest, AnyWellFormedReplyReadsLikeTheNormalOne) {
  for (const char* rule : {"* root answer", "* xml500", "* chunked", "* delay 200"}) {
    SCOPED_TRACE(rule);
    Fault(rule);
    frmUpgrade w(pf());
    EXPECT_TRUE(w.CheckSStatus(url_));
    EXPECT_TRUE(w.IfOnLine(url_));
    const VersionReply r = QueryVersion(pf());
    EXPECT_FALSE(r.transportFailed);
    EXPECT_FALSE(r.replyFailed);
    EXPECT_EQ(r.version, "3.1.4");
    EXPECT_EQ(r.comment, kComment);
  }
}

TEST_F(NetTest, AGb2312ReplyArrivesAsTheSameChineseText) {
  Fault("Xmlclientversion gb2312");
  const VersionReply r = QueryVersion(pf());
  EXPECT_FALSE(r.transportFailed);
  EXPECT_EQ(r.version, "3.1.4");
  EXPECT_EQ(r.comment, kComment);
}

TEST_F(NetTest, ABodyThatIsNoDocumentFailsTheReplyTestNotTheTransport) {
  // 1 MiB is kept; one byte more and the body is dropped.
  for (const char* rule : {"* html404", "* html500", "* notxml", "* empty", "* oversize 1048577"}) {
    SCOPED_TRACE(rule);
    Fault(rule);
    frmUpgrade w(pf());
    EXPECT_FALSE(w.CheckSStatus(url_));
    ExpectLamp(w, true, kConnected);
    EXPECT_FALSE(frmServerSet(pf()).CheckSStatus(url_));
    const VersionReply r = QueryVersion(pf());
    EXPECT_FALSE(r.transportFailed);
    EXPECT_TRUE(r.replyFailed);
  }
  Fault("* oversize 1048576");
  EXPECT_TRUE(frmServerSet(pf()).CheckSStatus(url_));
}

TEST_F(NetTest, AnUnreachableServerOrABrokenAnswerShowsTheRedLamp) {
  const std::vector<std::string> bases = {"http://127.0.0.1:1", "http://nonexistent.invalid", url_};
  Fault("* short 10");
  for (const std::string& base : bases) {
    SCOPED_TRACE(base);
    frmUpgrade w(pf());
    EXPECT_FALSE(w.CheckSStatus(base));
    ExpectLamp(w, false, kNotConnected);
    EXPECT_FALSE(w.IfOnLine(base));

    protocol::Exchange ex(pf());
    ex.Post(base + protocol::kPageCheckServerStatus, protocol::GreetingRequest());
    EXPECT_TRUE(ex.TransportFailed());
    EXPECT_FALSE(ex.error.description.empty());
  }
}

TEST_F(NetTest, AnEmptyAddressSendsNothingAndChangesNoLamp) {
  frmUpgrade w(pf());
  EXPECT_FALSE(w.CheckSStatus(""));
  EXPECT_FALSE(w.IfOnLine(""));
  EXPECT_FALSE(frmServerSet(pf()).CheckSStatus(""));
  EXPECT_EQ(w.Label9.Caption, "正在测试服务器......");
  EXPECT_TRUE(w.Label8.Visible);
  EXPECT_TRUE(Requests().empty());
}

TEST_F(NetTest, AnUnusableUrlFailsOpenAndSendReportsTheLaterError) {
  auto bare = pf().net->NewHttpRequest();
  updater::ErrorRecord notOpened;
  updater::Try(notOpened, [&] { bare->Send(protocol::GreetingRequest()); });
  ASSERT_TRUE(notOpened.IsSet());

  for (const std::string& url :
       std::vector<std::string>{"127.0.0.1/x.aspx", "http:///x.aspx", "ftp://127.0.0.1/x.aspx",
                                std::string(protocol::kPageCheckServerStatus)}) {
    SCOPED_TRACE(url);
    EXPECT_THROW(pf().net->NewHttpRequest()->Open("POST", url, false), RuntimeError);
    protocol::Exchange ex(pf());
    ex.Post(url, protocol::GreetingRequest());
    EXPECT_EQ(ex.error.number, notOpened.number);
  }
  EXPECT_TRUE(Requests().empty());
}

TEST_F(NetTest, AServerThatKeepsSilentIsGivenUpWithinTheTimeOut) {
  auto net = TheEnv().NewNet(2000ms, 1500ms);
  updater::Platform quick = pf();
  quick.net = net.get();
  // No answer at all, or part of the body and then nothing.
  for (const char* rule : {"* hang", "* stall 10 20000"}) {
    SCOPED_TRACE(rule);
    Fault(rule);
    const auto started = Clock::now();
    frmUpgrade w(quick);
    EXPECT_FALSE(w.CheckSStatus(url_));
    const auto took = Clock::now() - started;
    ExpectLamp(w, false, kNotConnected);
    EXPECT_GE(took, 1400ms);
    EXPECT_LT(took, 10s);
  }
}

// The only slow case: the time-out the product runs with.
TEST_F(NetTest, TheWholeExchangeIsGivenUpAfterThirtySeconds) {
  Fault("* hang");
  const auto started = Clock::now();
  EXPECT_FALSE(frmServerSet(pf()).CheckSStatus(url_));
  const auto took = Clock::now() - started;
  EXPECT_GE(took, 29s);
  EXPECT_LT(took, 45s);
}

TEST_F(NetTest, ARedirectIsFollowedAndOnlyTheLastAnswerCounts) {
  const std::string page = protocol::kPageClientVersion;
  struct Case {
    std::string status, location;
    const char* method;  // of the request the redirect leads to
  };
  // 307 and 308 repeat the POST with its body; 301 and 302 turn it into a GET, as browsers and
  // WinINet do, which the server answers with its HTML page for a missing one.
  for (const Case& c : std::vector<Case>{{"307", page, "POST"},
                                         {"308", url_ + page, "POST"},
                                         {"301", page, "GET"},
                                         {"302", url_ + page, "GET"}}) {
    SCOPED_TRACE(c.status + " " + c.location);
    Fault("/moved/ redirect " + c.status + " " + c.location);
    logMark_ = ReadAll(data_ / "requests.log").size();
    const VersionReply r = QueryVersion(pf(), url_ + "/moved");
    EXPECT_FALSE(r.transportFailed);
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path, page);
    EXPECT_EQ(requests[1].method, c.method);
    if (std::string(c.method) == "POST") {
      EXPECT_FALSE(r.replyFailed);
      EXPECT_EQ(r.version, "3.1.4");
      EXPECT_EQ(requests[1].body, requests[0].body);
    } else {
      EXPECT_TRUE(r.replyFailed);  // the 404 page, never the redirect's own body
    }
  }
}

TEST_F(NetTest, FiveRedirectsAreFollowedASixthLoopsOrAnotherSchemeFailsTheTransport) {
  const std::string page = protocol::kPageClientVersion;
  std::string rules = "/hop0/ redirect 307 /hop1" + page + "\n";
  for (int i = 1; i < 5; ++i) {
    rules +=
        "/hop" + std::to_string(i) + "/ redirect 307 /hop" + std::to_string(i + 1) + page + "\n";
  }
  rules += "/hop5/ redirect 307 " + page + "\n";
  Data("fault", rules);
  EXPECT_EQ(QueryVersion(pf(), url_ + "/hop1").version, "3.1.4");
  EXPECT_TRUE(QueryVersion(pf(), url_ + "/hop0").transportFailed);

  for (const std::string& rule :
       {"* redirect 307 /again" + page, std::string("* redirect 302 ftp://127.0.0.1/x.aspx"),
        std::string("* redirect 307 file:///etc/hosts")}) {
    SCOPED_TRACE(rule);
    Fault(rule);
    frmUpgrade w(pf());
    EXPECT_FALSE(w.CheckSStatus(url_));
    ExpectLamp(w, false, kNotConnected);
    EXPECT_TRUE(QueryVersion(pf()).transportFailed);
  }
}

TEST_F(NetTest, AnHttpsServerServesEveryExchangeOnlyWithACertificateThatVerifies) {
  const std::string secure = TheEnv().SecureServerUrl();
  if (secure.empty()) GTEST_SKIP() << "no https twin of the update server in this run";
  auto net = TheEnv().NewTrustingNet();
  updater::Platform trusting = pf();
  trusting.net = net.get();
  frmUpgrade w(trusting);
  EXPECT_TRUE(w.CheckSStatus(secure));
  ExpectLamp(w, true, kConnected);
  EXPECT_TRUE(w.IfOnLine(secure));
  EXPECT_TRUE(frmServerSet(trusting).CheckSStatus(secure));
  EXPECT_EQ(QueryVersion(trusting, secure).version, "3.1.4");
  protocol::Exchange list(trusting);
  list.Post(secure + protocol::kPageGetServerName, protocol::GreetingRequest());
  ASSERT_FALSE(list.TransportFailed());
  list.TakeReply();
  EXPECT_EQ(list.Lookup("res"), "");
  // From http to https, too; never from https back to http.
  const std::string page = protocol::kPageClientVersion;
  Fault("/up/ redirect 307 " + secure + page + "\n/down/ redirect 307 " + url_ + page +
        "\n/chain/ redirect 307 " + secure + "/down" + page);
  EXPECT_EQ(QueryVersion(trusting, url_ + "/up").version, "3.1.4");
  EXPECT_TRUE(QueryVersion(trusting, secure + "/down").transportFailed);
  EXPECT_TRUE(QueryVersion(trusting, url_ + "/chain").transportFailed);

  // The certificate names localhost, not the address: it does not verify, trusted or not.
  const std::string byAddress = "https://127.0.0.1" + secure.substr(secure.rfind(':'));
  frmUpgrade red(trusting);
  EXPECT_FALSE(red.CheckSStatus(byAddress));
  ExpectLamp(red, false, kNotConnected);
  EXPECT_TRUE(QueryVersion(trusting, byAddress).transportFailed);
  if (!windows()) {
    // The product's own port trusts the system's roots only. (The Windows test run has added the
    // authority to the machine's store by now.)
    EXPECT_TRUE(QueryVersion(pf(), secure).transportFailed);
  }
}

TEST_F(NetTest, AReplyNamingAnExternalEntityDoesNotReadIt) {
  Data("secret.txt", "secret-content");
  const std::u8string file = (data_ / "secret.txt").generic_u8string();
  const std::string path(file.begin(), file.end());
  const std::string uri = (path.front() == '/' ? "file://" : "file:///") + path;
  auto doc = pf().net->NewXmlDocument();
  doc->LoadBytes("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"" + uri +
                 "\">]><r><error>&x;</error></r>");
  if (doc->HasDocumentElement()) {
    EXPECT_EQ(doc->SelectChildText("error").value_or("").find("secret"), std::string::npos);
  }
}

// The document port on its own, with texts no server of ours sends.
class XmlTest : public ContractTest {
 protected:
  std::unique_ptr<updater::ports::XmlDocument> Doc() { return pf().net->NewXmlDocument(); }
};

TEST_F(XmlTest, AChildsTextIsAllItsCharacterData) {
  auto doc = Doc();
  ASSERT_TRUE(doc->LoadBytes(
      "<?xml version=\"1.0\"?>\n<answer><x:error xmlns:x=\"urn:x\">no</x:error><error/>"
      "<bm>a<i>b</i><![CDATA[<c>]]>&amp;&#20013;</bm><bm>second</bm>"
      "<sp> two  words </sp><deep><error>inner</error></deep></answer>"));
  EXPECT_TRUE(doc->HasDocumentElement());
  EXPECT_EQ(doc->SelectChildText("error"), "");
  EXPECT_EQ(doc->SelectChildText("x:error"), "no");
  EXPECT_EQ(doc->SelectChildText("bm"), "ab<c>&中");
  EXPECT_EQ(doc->SelectChildText("sp"), " two  words ");
  EXPECT_EQ(doc->SelectChildText("version_no"), std::nullopt);
  EXPECT_EQ(doc->SelectChildText("i"), std::nullopt);  // children of the root only
}

TEST_F(XmlTest, ATextThatIsNoDocumentLeavesNoRoot) {
  for (const std::string& bad : std::vector<std::string>{
           std::string(), std::string("<html><body>404</body>"), std::string("plain text"),
           std::string("<root><error></root>"), std::string("<?xml version=\"1.0\"?>")}) {
    SCOPED_TRACE(bad);
    auto doc = Doc();
    EXPECT_FALSE(doc->LoadBytes(bad));
    EXPECT_FALSE(doc->HasDocumentElement());
    try {
      doc->SelectChildText("error");
      ADD_FAILURE() << "no error raised";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), updater::kErrObjectNotSet);
    }
  }
}

TEST_F(XmlTest, BytesAreReadInTheirDeclaredEncodingAndTheRequestSerialisesAsItWasLoaded) {
  // "中文" in GB2312, then in UTF-8 after a byte-order mark.
  auto gb = Doc();
  ASSERT_TRUE(gb->LoadBytes(
      "<?xml version=\"1.0\" encoding=\"GB2312\"?><r><soft_cmt>\xD6\xD0\xCE\xC4</soft_cmt></r>"));
  EXPECT_EQ(gb->SelectChildText("soft_cmt"), "中文");
  auto bom = Doc();
  ASSERT_TRUE(bom->LoadBytes("\xEF\xBB\xBF<r><soft_cmt>中文</soft_cmt></r>"));
  EXPECT_EQ(bom->SelectChildText("soft_cmt"), "中文");

  auto request = Doc();
  ASSERT_TRUE(request->LoadXml(protocol::GreetingRequest()));
  auto again = Doc();
  ASSERT_TRUE(again->LoadBytes(request->Xml()));
  EXPECT_EQ(again->SelectChildText("msg"), "hello");
}

}  // namespace
}  // namespace contract
