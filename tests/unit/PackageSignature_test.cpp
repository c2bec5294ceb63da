#include "upgrade/PackageSignature.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "upgrade/frmUpgrade.h"

namespace {

using namespace updater;

TEST(Base64, DecodesStrictlyAndPassesOverLineBreaks) {
  const struct {
    const char* text;
    std::optional<std::string> bytes;
  } cases[] = {
      {"", std::string()},
      {"QUJD", std::string("ABC")},
      {"QUI=", std::string("AB")},
      {"QQ==", std::string("A")},
      {" QU\r\nJD \n", std::string("ABC")},
      {"+/+/", std::string("\xfb\xff\xbf", 3)},
      {"QUJ", std::nullopt},       // not whole groups
      {"QQ=", std::nullopt},       // padding cut short
      {"Q===", std::nullopt},      // three padding characters
      {"=QUJ", std::nullopt},      // padding first
      {"QQ==QUJD", std::nullopt},  // data after the padding
      {"QQ=A", std::nullopt},      // data inside the padding
      {"QU-D", std::nullopt},      // the URL alphabet is not base64
      {"QUJD\x0b", std::nullopt},  // nothing but blanks is passed over
      {"<html>", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeBase64(c.text), c.bytes) << c.text;
}

TEST(Base64, OnlyExactly64BytesAreAKeyOrASignature) {
  const std::string b64of63(84, 'A');  // 63 bytes
  const std::string b64of64 = std::string(84, 'A') + "AA==";
  EXPECT_FALSE(Decode64ByteValue(b64of63));
  ASSERT_TRUE(Decode64ByteValue(b64of64));
  EXPECT_EQ(Decode64ByteValue(b64of64)->size(), 64u);
  EXPECT_FALSE(Decode64ByteValue(b64of64 + "AAAA"));
  // Well-formed base64 of 65 and 66 bytes: refused for their length alone.
  EXPECT_FALSE(Decode64ByteValue(std::string(84, 'A') + "AAA="));
  EXPECT_FALSE(Decode64ByteValue(std::string(88, 'A')));
}

class SignedInstall : public testing::Test {
 protected:
  void SetUp() override {
    f.files.files = {"C:\\Prog\\rar.exe", "C:\\Prog\\tmp\\setup.rar"};
    f.io.state.files["C:\\Prog\\tmp\\setup.rar"] = "package";
    form.txtUrl.Text = "http://h/uploads/soft/setup.rar";
  }
  bool Run() {
    bool ok = true;
    form.InstallPackage("C:\\Prog\\tmp\\setup.rar", ok);
    return ok;
  }
  fakes::FakePlatform f;
  frmUpgrade form{f.pf};
};

TEST_F(SignedInstall, AKeyThatCannotBeCheckedFailsClosedBeforeAnythingIsUnpacked) {
  const std::string key = std::string(84, 'A') + "AA==";
  for (const std::string& configured : {std::string("not base64"), key}) {
    // A malformed key, and a good one on a platform without a signature check.
    f.profile.values["initInfo/pubkey"] = configured;
    f.io.state.files["C:\\Prog\\tmp\\setup.rar"] = "package";
    f.io.transfer.body = std::string(84, 'A') + "AA==";
    EXPECT_FALSE(Run()) << configured;
    EXPECT_EQ(form.Label2.Caption, "升级失败，升级包签名无效。");
    EXPECT_TRUE(f.processes.started.empty());
    EXPECT_TRUE(f.shell.requests.empty());
    EXPECT_EQ(f.io.state.killed.back(), "C:\\Prog\\tmp\\setup.rar");
  }
  // A malformed key is refused before anything is fetched.
  EXPECT_TRUE(f.io.transfer.executed.empty());
}

TEST_F(SignedInstall, WithoutAKeyNoSignatureIsAskedFor) {
  Run();
  EXPECT_EQ(f.processes.started.size(), 1u);  // the archiver
  EXPECT_TRUE(f.io.transfer.executed.empty());
  EXPECT_TRUE(f.io.state.killed.empty());
}

}  // namespace
