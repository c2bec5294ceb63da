// The download port against the reference update server, and the package file it writes. The
// server's data folder holds the package and the fault rule of each case.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>

#include "contract/fixture.h"
#include "ports/errors.h"

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
  Fault(std::string("/old/ redirect 302 ") + secure + kPage);
  for (const std::string& url : {secure + kPage, url_ + "/old" + kPage}) {
    SCOPED_TRACE(url);
    auto t = io->NewTransfer();
    t->Execute(url, "get");
    Wait(*t);
    EXPECT_EQ(t->GetHeader("Content-Length"), std::to_string(kPackageSize));
    EXPECT_TRUE(Drain(*t) == package_) << "the body differs from the package";
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
  EXPECT_EQ(t->GetHeader("Content-Length"), "");
  EXPECT_EQ(t->GetChunk(1024), "");
}

TEST_F(TransferTest, AClosedPortEndsWithoutAHeader) {
  auto t = pf().io->NewTransfer();
  t->Execute("http://127.0.0.1:1/uploads/soft/setup.rar", "get");
  const Polled polled = Wait(*t);
  EXPECT_LT(Seconds(polled.total), 11.0);
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

}  // namespace
}  // namespace contract
