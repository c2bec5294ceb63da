// The package signature check: one key pair, one package and its signatures, the same on every
// backend; then the whole check as the installation runs it, against the reference server.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "contract/fixture.h"
#include "upgrade/PackageSignature.h"

namespace contract {
namespace {

namespace fs = std::filesystem;
using updater::ports::SignatureCheck;

// Made with tools/sign-package.
constexpr const char* kKey =
    "ehI84kDu+5JcQ+J1kOY5hK3KEDJWIKi9cbP6JHYUFFXA+YcrYzYuLWnlJoEOcLUQ0dfJeFBkZi+0jasRZ/X3Og==";
constexpr const char* kOtherKey =
    "VnFEIFVwlv8zDlGAS3TuUTQfnGgkrqEtqq5SzvOQqdlPq6NirVsOamDF02QWFsxFpPz4924g96OiVgvVGPyzOA==";
const std::string kPackage("This stands for a package: setup.rar bytes \0\1\2\xff and more.\n", 58);
constexpr const char* kSignature =
    "fPoyCxfuFQVwX8FeY8w1JiCPYmtgwHscxTR3tdzEeUg99L0w0lLUn0Hr3nnp17ncyVfrP6diWEN6g22+wiOYsQ==";
// A package larger than one read of the backend, and its signature.
constexpr const char* kBigSignature =
    "0Nd5jyJf5vikz9fKCXLUuZAK1Xqrdu05/nEsFb4fZ4WfT6icnQlvdjWoqRWBKbgmBHlHJ/3Lac8Q4Vq8XB2V8w==";

std::string BigPackage() {
  std::string out(200003, '\0');
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char>((i * 7 + (i >> 8)) & 0xFF);
  return out;
}

std::string Bytes(const char* base64) { return updater::DecodeBase64(base64).value(); }

std::string Flipped(std::string bytes, std::size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  return bytes;
}

TEST_F(ContractTest, SignatureCheckOfOneKeyPackageAndSignature) {
  const std::string key = Bytes(kKey), sig = Bytes(kSignature);
  struct Case {
    const char* what;
    std::string key, package, signature;
    SignatureCheck expected;
    // Wine's CNG takes a point off the curve and only its verification fails; either way the
    // key is refused.
    bool orInvalid = false;
  } cases[] = {
      {"good", key, kPackage, sig, SignatureCheck::Valid},
      {"tampered package", key, Flipped(kPackage, 44), sig, SignatureCheck::Invalid},
      {"one byte more", key, kPackage + '\0', sig, SignatureCheck::Invalid},
      {"tampered signature", key, kPackage, Flipped(sig, 10), SignatureCheck::Invalid},
      {"s of the signature", key, kPackage, Flipped(sig, 63), SignatureCheck::Invalid},
      {"wrong key", Bytes(kOtherKey), kPackage, sig, SignatureCheck::Invalid},
      {"point not on the curve", Flipped(key, 63), kPackage, sig, SignatureCheck::BadKey, true},
      {"zero point", std::string(64, '\0'), kPackage, sig, SignatureCheck::BadKey},
      {"short key", key.substr(0, 63), kPackage, sig, SignatureCheck::BadKey},
      {"no signature", key, kPackage, "", SignatureCheck::Invalid},
      {"zero signature", key, kPackage, std::string(64, '\0'), SignatureCheck::Invalid},
      {"big package", key, BigPackage(), Bytes(kBigSignature), SignatureCheck::Valid},
      {"big package cut short", key, BigPackage().substr(0, 65536), Bytes(kBigSignature),
       SignatureCheck::Invalid},
  };
  ASSERT_NE(pf().signatures, nullptr);
  for (const Case& c : cases) {
    Write("签名 包\\setup.rar", c.package);
    const SignatureCheck got = pf().signatures->Verify(c.key, P("签名 包\\setup.rar"), c.signature);
    if (c.orInvalid && got == SignatureCheck::Invalid) continue;
    EXPECT_EQ(got, c.expected) << c.what;
  }
  EXPECT_EQ(pf().signatures->Verify(key, P("missing.rar"), sig), SignatureCheck::Unreadable);
}

class SignedPackageTest : public ContractTest {
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
  }
  void TearDown() override {
    if (!data_.empty()) fs::remove(data_ / "uploads" / "soft" / "setup.rar.sig");
    ContractTest::TearDown();
  }

  std::string url_;
  fs::path data_;
};

TEST_F(SignedPackageTest, OnlyAPackageSignedByTheConfiguredKeyIsKept) {
  struct Case {
    const char* what;
    std::string pubkey;
    std::optional<std::string> sigFile;  // nothing: the server has none (404)
    bool accepted;
  } cases[] = {
      {"no key, no signature", "", std::nullopt, true},
      {"good", kKey, std::string(kSignature) + "\r\n", true},
      {"wrapped lines", kKey, std::string(kSignature, 40) + "\n" + (kSignature + 40) + "\n", true},
      {"missing signature", kKey, std::nullopt, false},
      {"wrong key", kOtherKey, std::string(kSignature), false},
      {"malformed key", std::string(kKey).substr(4), std::string(kSignature), false},
      // 64 bytes, but not a point of the curve: refused whatever the backend reports for it.
      {"key off the curve", std::string(kKey).substr(0, 84) + "Ow==", std::string(kSignature),
       false},
      {"garbage signature", kKey, std::string("not a signature"), false},
      {"empty signature", kKey, std::string(), false},
      {"signature twice", kKey, std::string(kSignature) + kSignature, false},
      {"oversized signature", kKey, std::string(kSignature) + std::string(8192, ' '), false},
  };
  for (const Case& c : cases) {
    Write("client.ini", "[initInfo]\r\nitem_id=\r\npubkey=" + c.pubkey + "\r\n");
    Write("tmp\\setup.rar", kPackage);
    const fs::path sig = data_ / "uploads" / "soft" / "setup.rar.sig";
    fs::remove(sig);
    if (c.sigFile) std::ofstream(sig, std::ios::binary | std::ios::trunc) << *c.sigFile;
    EXPECT_EQ(updater::PackageSignatureAccepted(pf(), P(""), url_ + "/uploads/soft/setup.rar",
                                                P("tmp\\setup.rar")),
              c.accepted)
        << c.what;
    // A rejected package is gone, so nothing can unpack it.
    EXPECT_EQ(IsFile("tmp\\setup.rar"), c.accepted) << c.what;
  }
}

}  // namespace
}  // namespace contract
