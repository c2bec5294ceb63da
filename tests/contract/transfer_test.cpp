// The download port against the reference update server, and the package file it writes. The
// server's data folder holds the package and the fault rule of each case.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "contract/fixture.h"
#include "fakes/fake_ui.h"
#include "ports/errors.h"
#include "upgrade/frmUpgrade.h"

namespace contract {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using updater::RuntimeError;
using Clock = std::chrono::steady_clock;

constexpr const char* kPage = "/uploads/soft/setup.rar";
constexpr std::size_t kPackageSize = 3 * 1024 * 1024 + 517;  // not a whole number of chunks

std::string Noise(std::size_t size) {
  std::mt19937 random(42);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class TransferTest : public ContractTest {
 protected:
  void SetUp() override {
    ContractTest::SetUp();
    url_ = TheEnv().ServerUrl();
    if (url_.empty()) {
      GTEST_SKIP() << "no update server: run the suite through scripts/with-update-server";
    }
    data_ = TheEnv().ServerData();
    fs::remove(data_ / "fault");
    fs::create_directories(data_ / "uploads" / "soft");
    package_ = Noise(kPackageSize);
    std::ofstream(data_ / "uploads" / "soft" / "setup.rar", std::ios::binary | std::ios::trunc)
        << package_;
  }
  void TearDown() override {
    if (!data_.empty()) {
      fs::remove(data_ / "fault");
      fs::remove(data_ / "uploads" / "soft" / "setup.rar");
    }
    ContractTest::TearDown();
  }
  void Fault(const std::string& rule) {
    std::ofstream(data_ / "fault", std::ios::binary | std::ios::trunc) << rule << "\n";
  }

  struct Polled {
    int calls = 0;
    Clock::duration longest{};
    Clock::duration total{};
  };
  // Polls as the core does, recording how long each answer took.
  static Polled Wait(updater::ports::Transfer& t) {
    Polled p;
    const auto start = Clock::now();
    for (;;) {
      const auto before = Clock::now();
      const bool still = t.StillExecuting();
      p.longest = std::max(p.longest, Clock::now() - before);
      if (!still) break;
      ++p.calls;
      if (Clock::now() - start > 20s) break;  // a broken port must not hang the suite
    }
    p.total = Clock::now() - start;
    return p;
  }
  // The whole body in chunks of 1024; every chunk no larger than asked.
  static std::string Drain(updater::ports::Transfer& t, bool* oversized = nullptr) {
    std::string body;
    for (std::string chunk; !(chunk = t.GetChunk(1024)).empty();) {
      if (chunk.size() > 1024 && oversized != nullptr) *oversized = true;
      body += chunk;
    }
    return body;
  }

  std::string url_;
  fs::path data_;
  std::string package_;
};

TEST_F(TransferTest, APackageArrivesByteForByteWithItsLengthAndHeadersIgnoreCase) {
  auto t = pf().io->NewTransfer();
  t->Execute(url_ + kPage, "get");
  const Polled polled = Wait(*t);
  EXPECT_LT(polled.longest, 100ms);
  EXPECT_EQ(t->StatusCode(), 200);
  EXPECT_EQ(t->GetHeader("Content-Length"), std::to_string(kPackageSize));
  EXPECT_EQ(t->GetHeader("content-LENGTH"), std::to_string(kPackageSize));
  EXPECT_EQ(t->GetHeader("X-No-Such-Header"), "");
  bool oversized = false;
  const std::string body = Drain(*t, &oversized);
  EXPECT_FALSE(oversized);
  EXPECT_EQ(body.size(), package_.size());
  EXPECT_TRUE(body == package_) << "the body differs from the package";
  EXPECT_EQ(t->GetChunk(1024), "") << "the end stays the end";
}

TEST_F(TransferTest, ARedirectLeadsToThePackageAndItsOwnBodyIsNeverTaken) {
  for (const char* status : {"301", "302", "307"}) {
    SCOPED_TRACE(status);
    Fault(std::string("/old/ redirect ") + status + " " + kPage);
    auto t = pf().io->NewTransfer();
    t->Execute(url_ + "/old" + kPage, "get");
    Wait(*t);
    EXPECT_EQ(t->GetHeader("Content-Length"), std::to_string(kPackageSize));
    EXPECT_EQ(t->GetHeader("Location"), "");
    EXPECT_TRUE(Drain(*t) == package_) << "the body differs from the package";
  }
}

TEST_F(TransferTest, ARedirectLoopOrOneToAnotherSchemeBringsNoAnswer) {
  for (const std::string rule :
       {"* redirect 302 /loop/uploads/soft/setup.rar", "* redirect 302 ftp://127.0.0.1/setup.rar",
        "* redirect 302 file:///etc/hosts"}) {
    SCOPED_TRACE(rule);
    Fault(rule);
    auto t = pf().io->NewTransfer();
    t->Execute(url_ + kPage, "get");
    Wait(*t);
    EXPECT_EQ(t->GetHeader("Content-Length"), "");
    EXPECT_EQ(Drain(*t), "");
  }
}

TEST_F(TransferTest, AnHttpsPackageArrivesOnlyWhenItsCertificateVerifies) {
  const std::string secure = TheEnv().SecureServerUrl();
  if (secure.empty()) GTEST_SKIP() << "no https twin of the update server in this run";
  auto io = TheEnv().NewTrustingFileIO();
  // Redirects from http to https and within https are followed; from https to http, never.
  Fault(std::string("/old/ redirect 302 ") + secure + kPage + "\n/down/ redirect 302 " + url_ +
        kPage + "\n/chain/ redirect 302 " + secure + "/down" + kPage);
  for (const std::string& url : {secure + kPage, url_ + "/old" + kPage, secure + "/old" + kPage,
                                 secure + "/down" + kPage, url_ + "/chain" + kPage}) {
    SCOPED_TRACE(url);
    const bool downgrade =
        url.find("/down") != std::string::npos || url.find("/chain") != std::string::npos;
    auto t = io->NewTransfer();
    t->Execute(url, "get");
    Wait(*t);
    EXPECT_EQ(t->StatusCode(), downgrade ? 0 : 200);
    EXPECT_EQ(t->GetHeader("Content-Length"), downgrade ? "" : std::to_string(kPackageSize));
    EXPECT_TRUE(Drain(*t) == (downgrade ? "" : package_)) << "the body differs";
  }
  // The certificate names localhost, not the address.
  auto t = io->NewTransfer();
  t->Execute("https://127.0.0.1" + secure.substr(secure.rfind(':')) + kPage, "get");
  Wait(*t);
  EXPECT_EQ(t->GetHeader("Content-Length"), "");
  EXPECT_EQ(Drain(*t), "");
}

TEST_F(TransferTest, AChunkedReplyHasNoLengthButItsWholeBody) {
  Fault("setup.rar chunked");
  auto t = pf().io->NewTransfer();
  t->Execute(url_ + kPage, "get");
  Wait(*t);
  EXPECT_EQ(t->GetHeader("Content-Length"), "");
  EXPECT_TRUE(Drain(*t) == package_);
}

TEST_F(TransferTest, ABodyCutShortEndsBeforeTheAnnouncedLength) {
  Fault("setup.rar short 5000");
  auto t = pf().io->NewTransfer();
  t->Execute(url_ + kPage, "get");
  Wait(*t);
  EXPECT_EQ(t->GetHeader("Content-Length"), std::to_string(kPackageSize));
  const auto start = Clock::now();
  const std::string body = Drain(*t);
  EXPECT_LT(Clock::now() - start, 5s);
  EXPECT_EQ(body, package_.substr(0, body.size()));
  EXPECT_LT(body.size(), package_.size());
}

TEST_F(TransferTest, AStallingBodyEndsAfterTheStallLimit) {
  Fault("setup.rar stall 3000 15000");
  auto io = TheEnv().NewFileIO(1s);
  auto t = io->NewTransfer();
  t->Execute(url_ + kPage, "get");
  Wait(*t);
  EXPECT_EQ(t->GetHeader("Content-Length"), std::to_string(kPackageSize));
  const auto start = Clock::now();
  const std::string body = Drain(*t);
  const double waited = Seconds(Clock::now() - start);
  EXPECT_EQ(body, package_.substr(0, 3000));
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 5.0);
}

TEST_F(TransferTest, AStreamThatSlowsToATrickleIsNeverTakenForAStall) {
  // Fast at first, then 1 KiB every 100 ms for twice the stall limit: each piece must reach the
  // caller within the limit, whatever the rate before, or the transfer ends short.
  package_.resize(2 * 1024 * 1024 + 20 * 1024);
  std::ofstream(data_ / "uploads" / "soft" / "setup.rar", std::ios::binary | std::ios::trunc)
      << package_;
  Fault("setup.rar trickle 2097152 1024 100");
  auto io = TheEnv().NewFileIO(1s);
  auto t = io->NewTransfer();
  t->Execute(url_ + kPage, "get");
  Wait(*t);
  EXPECT_EQ(t->StatusCode(), 200);
  const std::string body = Drain(*t);
  EXPECT_EQ(body.size(), package_.size());
  EXPECT_TRUE(body == package_) << "the body differs from the package";
}

TEST_F(TransferTest, AServerThatNeverAnswersIsPendingOnlyUntilTheStallLimit) {
  Fault("setup.rar hang");
  auto io = TheEnv().NewFileIO(1500ms);
  auto t = io->NewTransfer();
  t->Execute(url_ + kPage, "get");
  const Polled polled = Wait(*t);
  EXPECT_GE(Seconds(polled.total), 1.4);
  EXPECT_LT(Seconds(polled.total), 6.0);
  // Each answer waits a little, so the caller does not spin, and well under 100 ms.
  EXPECT_LT(polled.longest, 100ms);
  EXPECT_LT(polled.calls, 150);
  EXPECT_EQ(t->StatusCode(), 0);
  EXPECT_EQ(t->GetHeader("Content-Length"), "");
  EXPECT_EQ(t->GetChunk(1024), "");
}

TEST_F(TransferTest, AClosedPortEndsWithoutAHeader) {
  auto t = pf().io->NewTransfer();
  t->Execute("http://127.0.0.1:1/uploads/soft/setup.rar", "get");
  const Polled polled = Wait(*t);
  EXPECT_LT(Seconds(polled.total), 11.0);
  EXPECT_EQ(t->StatusCode(), 0);
  EXPECT_EQ(t->GetHeader("Content-Length"), "");
  EXPECT_EQ(t->GetChunk(1024), "");
}

TEST_F(TransferTest, DestroyingATransferStopsItPromptly) {
  {
    auto t = pf().io->NewTransfer();
    t->Execute(url_ + kPage, "get");
    Wait(*t);
    EXPECT_FALSE(t->GetChunk(1024).empty());
    const auto start = Clock::now();
    t.reset();
    EXPECT_LT(Clock::now() - start, 1s) << "in the middle of the body";
  }
  Fault("setup.rar hang");
  auto t = pf().io->NewTransfer();
  t->Execute(url_ + kPage, "get");
  EXPECT_TRUE(t->StillExecuting());
  const auto start = Clock::now();
  t.reset();
  EXPECT_LT(Clock::now() - start, 2500ms) << "while the request was pending";
}

TEST_F(TransferTest, AnUnusableUrlIsRefusedAtOnce) {
  for (const char* url : {"ftp://127.0.0.1/setup.rar", "no address at all", "http://"}) {
    auto t = pf().io->NewTransfer();
    EXPECT_THROW(t->Execute(url, "get"), RuntimeError) << url;
  }
}

TEST_F(TransferTest, TheNotFoundTextReadsAsItsCharactersInTheAnsiCodePage) {
  // Windows reads the page in the ANSI code page (936 in the test runs), posix in UTF-8.
  Fault(windows() ? "setup.rar notfoundtext gb2312" : "setup.rar notfoundtext");
  auto t = pf().io->NewTransfer();
  t->Execute(url_ + kPage, "get");
  Wait(*t);
  EXPECT_NE(t->GetHeader("Content-Length"), "");
  const std::string first = t->GetChunk(1024);
  EXPECT_NE(pf().io->AnsiToUtf8(first).find("无法找到网页"), std::string::npos);
}

TEST_F(TransferTest, AnsiTextBecomesUtf8) {
  const std::string gbk = "\xce\xde\xb7\xa8\xd5\xd2\xb5\xbd\xcd\xf8\xd2\xb3";
  if (windows()) {
    EXPECT_EQ(pf().io->AnsiToUtf8(gbk), "无法找到网页");
  } else {
    EXPECT_EQ(pf().io->AnsiToUtf8("无法找到网页"), "无法找到网页");
  }
  EXPECT_EQ(pf().io->AnsiToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

// The scratch folder as the program folder of an upgrade window.
class ScratchProgram : public updater::ports::SystemInfo {
 public:
  ScratchProgram(updater::ports::SystemInfo& inner, std::string folder)
      : inner_(inner), folder_(std::move(folder)) {}
  bool IsWow64Process(bool& wow64) override { return inner_.IsWow64Process(wow64); }
  std::string GetSystemDirectory(std::size_t size) override {
    return inner_.GetSystemDirectory(size);
  }
  std::string ProgramFolder() override { return folder_; }

 private:
  updater::ports::SystemInfo& inner_;
  std::string folder_;
};

// The package download of the upgrade window broken off and tried again, on this backend's
// files and transfers.
class ResumeTest : public TransferTest {
 protected:
  // DownloadPackage of release 2.0/t2 into an emptied tmp; the message boxes it showed.
  std::vector<std::string> Download() {
    std::filesystem::remove_all(Host("tmp"));
    MakeDirs("tmp");
    updater::Platform p = pf();
    ScratchProgram program(*p.system, root_);
    fakes::FakeUi ui;
    p.system = &program;
    p.ui = &ui;
    updater::frmUpgrade w(p);
    w.gcweb = url_;
    w.Text1.Text = "2.0";
    w.Text2.Text = "t2";
    w.DownloadPackage();
    std::vector<std::string> boxes;
    for (const auto& box : ui.boxes) boxes.push_back(box.text);
    return boxes;
  }
  void Serve(const std::string& package) {
    package_ = package;
    std::ofstream(data_ / "uploads" / "soft" / "setup.rar", std::ios::binary | std::ios::trunc)
        << package_;
  }
  // The range asked for by each package request since Mark ("" for the whole).
  std::vector<std::string> RangesAsked() {
    std::ifstream in(data_ / "requests.log", std::ios::binary);
    std::vector<std::string> ranges;
    for (std::string line; std::getline(in, line);) {
      if (line.find(kPage) == std::string::npos || line.rfind("GET", 0) != 0) continue;
      const auto tabs = std::count(line.begin(), line.end(), '\t');
      ranges.push_back(tabs == 3 ? line.substr(line.rfind('\t') + 1) : "");
    }
    ranges.erase(ranges.begin(), ranges.begin() + std::min(mark_, ranges.size()));
    return ranges;
  }
  void Mark() { mark_ += RangesAsked().size(); }
  // Breaks the first download off at 60 %; the kept bytes then carry a mark of their own, so a
  // package continued from them differs from the server's in that one byte.
  void BreakAt60() {
    const std::size_t at = package_.size() * 6 / 10;
    Fault("setup.rar breakonce " + std::to_string(at));
    Mark();
    EXPECT_EQ(Download(), std::vector<std::string>{"升级包下载不完整，请稍后重试！"});
    EXPECT_FALSE(Exists("tmp\\setup.rar"));
    ASSERT_EQ(Read("tmp.part\\setup.rar").value_or("").size(), at);
    std::fstream part(Host("tmp.part\\setup.rar"), std::ios::binary | std::ios::in | std::ios::out);
    part.seekp(10);
    part.put(static_cast<char>(package_[10] ^ 0x55));
  }
  std::size_t mark_ = 0;
};

TEST_F(ResumeTest, ADownloadBrokenOffIsContinuedWithARangeAndCompletes) {
  BreakAt60();
  EXPECT_TRUE(Download().empty());
  std::string expected = package_;
  expected[10] = static_cast<char>(expected[10] ^ 0x55);
  EXPECT_TRUE(Read("tmp\\setup.rar") == expected) << "the kept bytes and the rest, joined";
  EXPECT_FALSE(Exists("tmp.part\\setup.rar"));
  const std::size_t at = package_.size() * 6 / 10;
  EXPECT_EQ(RangesAsked(), (std::vector<std::string>{"", "bytes=" + std::to_string(at) + "-"}));
}

TEST_F(ResumeTest, ARangeIgnoredRefusedOrOfAChangedFileStartsOverAndCompletes) {
  for (const std::string after : {"ignorerange", "refuserange", "changed"}) {
    SCOPED_TRACE(after);
    Serve(Noise(kPackageSize));
    BreakAt60();
    if (after == "changed") {
      std::this_thread::sleep_for(20ms);  // a modification time of its own
      Serve(Noise(kPackageSize + 1000).substr(1000));
      fs::remove(data_ / "fault");
    } else {
      Fault("setup.rar " + after);
    }
    EXPECT_TRUE(Download().empty());
    EXPECT_TRUE(Read("tmp\\setup.rar") == package_) << "the whole package, afresh";
    EXPECT_FALSE(Exists("tmp.part\\setup.rar"));
    // The rest is asked for; after a refusal, the whole is asked for again.
    const auto ranges = RangesAsked();
    ASSERT_EQ(ranges.size(), after == "refuserange" ? 3u : 2u);
    EXPECT_NE(ranges[1], "");
    EXPECT_EQ(ranges.back(), after == "refuserange" ? "" : ranges[1]);
  }
}

// The package file needs no server.
using BinaryFileTest = ContractTest;

TEST_F(BinaryFileTest, WritesFromTheFirstByteWithoutTruncatingInOrderAcrossItsBuffer) {
  Write("old.bin", "0123456789");
  auto f = pf().io->OpenBinary(P("old.bin"));
  f->Write("ab");
  f->Close();
  EXPECT_EQ(Read("old.bin"), "ab23456789");

  // Many small writes and one large one, as a download gives them.
  const std::string noise = Noise(700 * 1024);
  auto g = pf().io->OpenBinary(P("new.bin"));
  for (std::size_t at = 0; at < 400 * 1024; at += 1024) g->Write(noise.substr(at, 1024));
  g->Write(noise.substr(400 * 1024));
  g->Close();
  EXPECT_TRUE(Read("new.bin") == noise);
}

TEST_F(BinaryFileTest, MissingFoldersAndFilesRaiseTheirNumbers) {
  try {
    pf().io->OpenBinary(P("no such folder\\setup.rar"));
    ADD_FAILURE() << "opened a file in a missing folder";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), updater::kErrPathNotFound);
  }
  Write("doomed.bin", "x");
  pf().io->Kill(P("doomed.bin"));
  EXPECT_FALSE(Exists("doomed.bin"));
  try {
    pf().io->Kill(P("doomed.bin"));
    ADD_FAILURE() << "killed a missing file";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), updater::kErrFileNotFound);
  }
}

TEST_F(BinaryFileTest, AFileIsReadAtAnyOffsetAndHashedWholeAndNeverChanged) {
  const std::string million(1000000, 'a');
  Write("old.rar", million);
  auto f = pf().io->OpenRead(P("old.rar"));
  unsigned char bytes[300] = {};
  EXPECT_EQ(f->ReadAt(999990, bytes, sizeof bytes), 10u);  // fewer only at the end
  EXPECT_EQ(f->ReadAt(1000000, bytes, sizeof bytes), 0u);
  Write("other.rar", Noise(70000));
  auto g = pf().io->OpenRead(P("other.rar"));
  EXPECT_EQ(g->ReadAt(65000, bytes, sizeof bytes), sizeof bytes);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), sizeof bytes),
            Noise(70000).substr(65000, 300));
  // The SHA-256 of a million times "a", a test vector of the standard.
  std::string hex;
  for (const unsigned char c : pf().io->Sha256(P("old.rar"))) {
    hex += "0123456789abcdef"[c >> 4];
    hex += "0123456789abcdef"[c & 15];
  }
  EXPECT_EQ(hex, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_TRUE(Read("old.rar") == million);
  for (const auto& call : {std::function<void()>([&] { pf().io->OpenRead(P("missing.rar")); }),
                           std::function<void()>([&] { pf().io->Sha256(P("missing.rar")); })}) {
    try {
      call();
      ADD_FAILURE() << "read a missing file";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), updater::kErrFileNotFound);
    }
  }
}

}  // namespace
}  // namespace contract
