// The reference update server, run as a real process on a free port and talked to over HTTP.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kGreeting = "<?xml version='1.0' ?>\r\n<root>\r\n<msg>hello</msg>\r\n</root>\r\n";
const std::string kStatusPage = "/xmlRequest/XmlCheckServerStatus.aspx";
const std::string kOnlinePage = "/InteractData/Xmlsendservername.aspx";
const std::string kVersionPage = "/xmlRequest/Xmlclientversion.aspx";
const std::string kListPage = "/xmlRequest/xmlGetServerName.aspx";
const std::string kPackage = "/uploads/soft/setup.rar";
const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// What a GET delivered, also when the connection broke part way.
struct Download {
  httplib::Error error = httplib::Error::Unknown;
  httplib::Response head;  // status and headers
  std::string body;

  std::string Header(const std::string& name) const { return head.get_header_value(name); }
};

class UpdateServerTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "update-server-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    root_ = dir_ / "data";
    fs::create_directories(root_ / "uploads" / "soft");
    Write("version_no", "2.0.1\n");
    Write("update_time", "2024-05-06 07:08:09\r\n");
    Write("soft_cmt", "新版 <本> & more\n");
    Start();
  }

  void TearDown() override {
    if (pid_ > 0) {
      EXPECT_EQ(Stop(SIGTERM), 0);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void Start() {
    const fs::path port_file = dir_ / "port";
    std::vector<std::string> args = {UPDATE_SERVER_PATH, "--root", root_.string(),
                                     "--port",           "0",      "--port-file",
                                     port_file.string(), "--log",  (dir_ / "log").string()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ / "stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ / "stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    const auto started = Clock::now();
    while (!fs::exists(port_file)) {
      int status = 0;
      ASSERT_EQ(::waitpid(pid_, &status, WNOHANG), 0) << "the server ended at start";
      ASSERT_LT(Seconds(started), 5.0) << "no port file";
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::ifstream(port_file) >> port_;
    ASSERT_GT(port_, 0);
  }

  // Signals the server and returns its exit status; -1 when it did not end within 3 s.
  int Stop(int signal_number) {
    ::kill(pid_, signal_number);
    const auto asked = Clock::now();
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (Seconds(asked) > 3.0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void Write(const std::string& rel, const std::string& bytes) {
    std::ofstream(root_ / rel, std::ios::binary | std::ios::trunc) << bytes;
  }
  void Fault(const std::string& rules) { Write("fault", rules); }
  std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Asks for compressed answers, as browsers' HTTP stacks do, and takes the bytes as they come:
  // the server must send its bodies unchanged anyway.
  httplib::Client Client(int read_timeout_s = 5) {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(read_timeout_s, 0);
    client.set_decompress(false);
    client.set_default_headers({{"Accept-Encoding", "gzip, deflate"}});
    return client;
  }
  httplib::Result Post(const std::string& path, const std::string& body = kGreeting,
                       const std::string& content_type = "text/xml") {
    return Client().Post(path, body, content_type);
  }
  Download Get(const std::string& path, int read_timeout_s = 5) {
    Download download;
    auto result = Client(read_timeout_s)
                      .Get(
                          path,
                          [&](const httplib::Response& response) {
                            download.head = response;
                            return true;
                          },
                          [&](const char* data, std::size_t size) {
                            download.body.append(data, size);
                            return true;
                          });
    download.error = result.error();
    return download;
  }
  std::string MakePackage(std::size_t size) {
    std::string bytes(size, '\0');
    std::mt19937 random(42);
    for (char& byte : bytes) byte = static_cast<char>(random());
    Write("uploads/soft/setup.rar", bytes);
    return bytes;
  }

  fs::path dir_, root_;
  pid_t pid_ = -1;
  int port_ = 0;
};

TEST_F(UpdateServerTest, ProbePagesAnswerUnderAnyPrefixAndCase) {
  for (const std::string& path :
       std::vector<std::string>{kStatusPage, kOnlinePage, "/item42" + kStatusPage,
                                "//interactdata/XMLSENDSERVERNAME.ASPX", "/a/b" + kOnlinePage}) {
    auto result = Post(path);
    ASSERT_TRUE(result) << path;
    EXPECT_EQ(result->status, 200) << path;
    EXPECT_EQ(result->body, kDeclaration + "<root><error></error></root>\n") << path;
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/xml; charset=utf-8");
  }
  // The page path must end the request path, and pages are posted, not fetched.
  for (const std::string& path :
       std::vector<std::string>{kStatusPage + "/x", "/xmlRequest/CheckServerStatus.aspx"}) {
    auto result = Post(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 404) << path;
    EXPECT_NE(result->body.find("<html>"), std::string::npos);
  }
  auto fetched = Client().Get(kStatusPage);
  ASSERT_TRUE(fetched);
  EXPECT_EQ(fetched->status, 404);
}

TEST_F(UpdateServerTest, PostedBodiesAreTakenWhateverTheirType) {
  const std::string spaced = "<?xml version=\"1.0\"?>\n  <root>\n\t<msg>hello</msg>\n  </root>";
  for (const char* type : {"text/xml", "application/x-www-form-urlencoded",
                           "multipart/form-data; boundary=zz", "application/octet-stream"}) {
    auto result = Post(kStatusPage, spaced, type);
    ASSERT_TRUE(result) << type;
    EXPECT_EQ(result->status, 200) << type;
  }
  std::string log = ReadFile(dir_ / "log");
  EXPECT_NE(log.find("<?xml version=\"1.0\"?>\\n  <root>\\n\\t<msg>hello</msg>\\n  </root>\n" +
                     std::string("POST\t")),
            std::string::npos)
      << log;
}

TEST_F(UpdateServerTest, VersionReplyIsReadAfreshForEveryRequest) {
  auto first = Post("/item7" + kVersionPage);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->body, kDeclaration +
                             "<root><error></error><version_no>2.0.1</version_no>"
                             "<update_time>2024-05-06 07:08:09</update_time>"
                             "<soft_cmt>新版 &lt;本&gt; &amp; more</soft_cmt></root>\n");

  Write("version_no", "2.0.2");
  Write("bm", "x");
  fs::remove(root_ / "soft_cmt");
  fs::remove(root_ / "update_time");
  auto second = Post(kVersionPage);
  ASSERT_TRUE(second);
  EXPECT_EQ(
      second->body,
      kDeclaration + "<root><error></error><version_no>2.0.2</version_no><bm>x</bm></root>\n");
}

TEST_F(UpdateServerTest, ServerListReply) {
  Write("servers", "http://a:81/x^^甲||http://b^^乙\n");
  auto listed = Post(kListPage, "<root><cardid></cardid><cardpwd></cardpwd></root>");
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->body, kDeclaration +
                              "<root><error></error><lcserverurl>http://a:81/x^^甲||http://b^^乙"
                              "</lcserverurl><res></res></root>\n");

  fs::remove(root_ / "servers");
  Write("list_error", "卡号错误");
  auto refused = Post(kListPage);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->body, kDeclaration + "<root><error>卡号错误</error><res></res></root>\n");
}

TEST_F(UpdateServerTest, PackageIsServedWithItsLength) {
  auto missing = Get(kPackage);
  EXPECT_EQ(missing.head.status, 404);

  const std::string package = MakePackage(3 * 1024 * 1024 + 17);
  auto download = Get("/item42/Uploads/Soft/SETUP.RAR");
  EXPECT_EQ(download.error, httplib::Error::Success);
  EXPECT_EQ(download.head.status, 200);
  EXPECT_EQ(download.Header("Content-Length"), std::to_string(package.size()));
  EXPECT_EQ(download.Header("Content-Type"), "application/octet-stream");
  EXPECT_TRUE(download.body == package) << "the package differs; " << download.body.size();
}

TEST_F(UpdateServerTest, TheBlockIndexAndRangesOfThePackageAreServed) {
  const std::string package = MakePackage(100000);
  Write("uploads/soft/setup.rar.blocks", "index");
  EXPECT_EQ(Get("/uploads/soft/setup.rar.blocks").body, "index");
  // Several ranges in one request, as zsync asks, come as one multipart body.
  auto several = Client().Get(kPackage, {{"Range", "bytes=10-19,50000-50009"}});
  ASSERT_TRUE(several);
  EXPECT_EQ(several->status, 206);
  const std::string type = several->get_header_value("Content-Type");
  ASSERT_EQ(type.rfind("multipart/byteranges; boundary=", 0), 0u) << type;
  const std::string boundary = type.substr(type.find('=') + 1);
  EXPECT_EQ(several->body, "\r\n--" + boundary +
                               "\r\nContent-Type: application/octet-stream\r\nContent-Range: "
                               "bytes 10-19/100000\r\n\r\n" +
                               package.substr(10, 10) + "\r\n--" + boundary +
                               "\r\nContent-Type: application/octet-stream\r\nContent-Range: "
                               "bytes 50000-50009/100000\r\n\r\n" +
                               package.substr(50000, 10) + "\r\n--" + boundary + "--\r\n");
  // A distant server on a slow link: 50 ms, then 100,000 bytes at 400,000 bytes/s.
  Fault("setup.rar link 400000 50\n");
  const auto asked = Clock::now();
  auto slow = Get(kPackage);
  EXPECT_TRUE(slow.body == package);
  EXPECT_GE(Seconds(asked), 0.05 + 0.2);
  EXPECT_LT(Seconds(asked), 1.0);
}

TEST_F(UpdateServerTest, AnnouncesItselfAndLogsEveryRequest) {
  EXPECT_EQ(ReadFile(dir_ / "stdout"), "listening on 127.0.0.1:" + std::to_string(port_) + "\n");
  Post("/item42" + kStatusPage);
  Get(kPackage);
  Client().Get("/no\\where");
  EXPECT_EQ(ReadFile(dir_ / "log"),
            "POST\t/item42/xmlRequest/XmlCheckServerStatus.aspx\t<?xml version='1.0' "
            "?>\\r\\n<root>\\r\\n<msg>hello</msg>\\r\\n</root>\\r\\n\n"
            "GET\t/uploads/soft/setup.rar\t\n"
            "GET\t/no\\\\where\t\n");
}

TEST_F(UpdateServerTest, ErrorAndJunkReplies) {
  MakePackage(5000);
  struct Case {
    std::string rule, path;
    int status;
    std::string type, needle;
  };
  const std::vector<Case> cases = {
      {"* html404", kStatusPage, 404, "text/html; charset=utf-8", "<html>"},
      {"* html500", kPackage, 500, "text/html; charset=utf-8", "<hr>"},
      {"* notfoundtext", kPackage, 200, "text/html; charset=utf-8", "无法找到网页"},
      {"* notfoundtext gb2312", kPackage, 200, "text/html; charset=gb2312",
       "\xce\xde\xb7\xa8\xd5\xd2\xb5\xbd\xcd\xf8\xd2\xb3"},
      {"* notxml", kVersionPage, 200, "text/plain; charset=utf-8", "not an XML"},
  };
  for (const Case& c : cases) {
    Fault(c.rule + "\n");
    auto result = c.path == kPackage ? Client().Get(c.path) : Post(c.path);
    ASSERT_TRUE(result) << c.rule;
    EXPECT_EQ(result->status, c.status) << c.rule;
    EXPECT_EQ(result->get_header_value("Content-Type"), c.type) << c.rule;
    EXPECT_NE(result->body.find(c.needle), std::string::npos) << c.rule;
    EXPECT_NE(result->body.rfind("<?xml", 0), 0u) << c.rule;
  }

  Fault("* empty\n");
  auto empty = Post(kStatusPage);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 200);
  EXPECT_EQ(empty->body, "");
  EXPECT_EQ(empty->get_header_value("Content-Length"), "0");
}

TEST_F(UpdateServerTest, AlteredXmlReplies) {
  Fault("* xml500\n");
  auto failed = Post(kStatusPage);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 500);
  EXPECT_EQ(failed->body, kDeclaration + "<root><error></error></root>\n");

  Fault("* root answer\n");
  auto renamed = Post(kOnlinePage);
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->body, kDeclaration + "<answer><error></error></answer>\n");

  Write("soft_cmt", "中文");
  Fault("* gb2312\n");
  auto gb = Post(kVersionPage);
  ASSERT_TRUE(gb);
  EXPECT_EQ(gb->get_header_value("Content-Type"), "text/xml; charset=gb2312");
  EXPECT_EQ(gb->body.rfind("<?xml version=\"1.0\" encoding=\"gb2312\"?>", 0), 0u);
  EXPECT_NE(gb->body.find("<soft_cmt>\xd6\xd0\xce\xc4</soft_cmt>"), std::string::npos);

  Fault("* oversize 100000\n");
  auto padded = Post(kVersionPage);
  ASSERT_TRUE(padded);
  EXPECT_EQ(padded->body.size(), 100000u);
  EXPECT_EQ(padded->get_header_value("Content-Length"), "100000");
  EXPECT_EQ(padded->body.rfind(kDeclaration + "<!--xxx", 0), 0u);
  EXPECT_NE(padded->body.find("x--><root><error></error><version_no>2.0.1<"), std::string::npos);
}

TEST_F(UpdateServerTest, FirstMatchingRuleApplies) {
  Fault(
      "# comment\n"
      "\n"
      "* frobnicate\n"
      "* short\n"
      "* stall 5\n"
      "* notxml extra\n"
      "* trickle 1 0 1\n"
      "XMLCLIENTVERSION html500\n"
      "rar xml500\n"
      "* notxml\n");
  EXPECT_EQ(Post(kVersionPage)->status, 500);
  EXPECT_EQ(Post(kStatusPage)->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  EXPECT_EQ(Client().Get(kPackage)->status, 500);  // the missing package's 404 page, as 500
  EXPECT_EQ(Post("/elsewhere")->status, 404);      // rules apply to pages only

  Fault("*Status* html404\nstatus html500\n");
  EXPECT_EQ(Post(kStatusPage)->status, 500);
  // Bad lines are reported and skipped.
  const std::string reported = ReadFile(dir_ / "stderr");
  for (const char* reason :
       {"fault:3: unknown mode 'frobnicate'", "fault:4: mode 'short' needs a number",
        "fault:5: mode 'stall' needs a number", "fault:6: too many words for mode 'notxml'",
        "fault:7: mode 'trickle' needs pieces of 1 byte or more"}) {
    EXPECT_NE(reported.find(reason), std::string::npos) << reason << "\n" << reported;
  }
}

TEST_F(UpdateServerTest, ChunkedRepliesHaveNoLength) {
  const std::string package = MakePackage(200 * 1024);
  Fault("* chunked\n");
  auto page = Post(kStatusPage);
  ASSERT_TRUE(page);
  EXPECT_FALSE(page->has_header("Content-Length"));
  EXPECT_EQ(page->get_header_value("Transfer-Encoding"), "chunked");
  EXPECT_EQ(page->body, kDeclaration + "<root><error></error></root>\n");

  auto download = Get(kPackage);
  EXPECT_EQ(download.error, httplib::Error::Success);
  EXPECT_EQ(download.head.has_header("Content-Length"), false);
  EXPECT_TRUE(download.body == package);
}

TEST_F(UpdateServerTest, ShortAndStalledBodiesAreCut) {
  const std::string package = MakePackage(1024 * 1024);
  Fault("setup.rar short 3000\n");
  auto cut = Get(kPackage);
  EXPECT_NE(cut.error, httplib::Error::Success);
  EXPECT_EQ(cut.Header("Content-Length"), std::to_string(package.size()));
  EXPECT_TRUE(cut.body == package.substr(0, 3000)) << cut.body.size();

  Fault("* short 0\n");
  EXPECT_FALSE(Post(kStatusPage));

  Fault("* stall 5000 600\n");
  const auto asked = Clock::now();
  auto stalled = Get(kPackage);
  const double took = Seconds(asked);
  EXPECT_NE(stalled.error, httplib::Error::Success);
  EXPECT_TRUE(stalled.body == package.substr(0, 5000)) << stalled.body.size();
  EXPECT_GE(took, 0.6);
  EXPECT_LT(took, 3.0);
}

TEST_F(UpdateServerTest, DelayedReply) {
  Fault("* delay 300\n");
  const auto asked = Clock::now();
  auto result = Post(kStatusPage);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_GE(Seconds(asked), 0.3);
}

TEST_F(UpdateServerTest, HangAnswersNothingYetTheServerStillEnds) {
  Fault("Status hang\n");
  const auto asked = Clock::now();
  auto result = Client(1).Post(kStatusPage, kGreeting, "text/xml");
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error(), httplib::Error::Read);
  EXPECT_GE(Seconds(asked), 0.9);

  auto other = Post(kOnlinePage);  // other requests are still served meanwhile
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 200);

  // A client still waiting when the server ends gets no answer, and the server ends at once.
  auto waiting = std::async(std::launch::async,
                            [this] { return Client(10).Post(kStatusPage, kGreeting, "text/xml"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto stopping = Clock::now();
  EXPECT_EQ(Stop(SIGTERM), 0);
  EXPECT_LT(Seconds(stopping), 1.5);
  EXPECT_FALSE(waiting.get());
}

TEST_F(UpdateServerTest, EndsCleanlyOnInterrupt) {
  ASSERT_TRUE(Post(kStatusPage));
  EXPECT_EQ(Stop(SIGINT), 0);
}

}  // namespace
