#include "backends/posix/signatures.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <fstream>
#include <memory>
#include <optional>
#include <vector>

namespace updater::posix {

namespace {

constexpr std::size_t kCoordinate = 32;
constexpr std::size_t kBlock = 64 * 1024;

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
  void operator()(BIGNUM* p) const { BN_free(p); }
  void operator()(OSSL_PARAM_BLD* p) const { OSSL_PARAM_BLD_free(p); }
  void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// The key from its point, uncompressed: OpenSSL checks that the point lies on the curve.
Owned<EVP_PKEY> ImportKey(const std::string& xy) {
  const std::string point = '\x04' + xy;
  Owned<OSSL_PARAM_BLD> build(OSSL_PARAM_BLD_new());
  if (!build ||
      !OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
      !OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                        point.size())) {
    return nullptr;
  }
  Owned<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(build.get()));
  Owned<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return nullptr;
  }
  Owned<EVP_PKEY> owned(key);
  // fromdata takes any octets; the check of the point is a step of its own.
  Owned<EVP_PKEY_CTX> check(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return owned;
}

// r||s as the DER sequence OpenSSL verifies.
std::optional<std::vector<unsigned char>> DerSignature(const std::string& rs) {
  Owned<ECDSA_SIG> sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(Bytes(rs), kCoordinate, nullptr);
  BIGNUM* s = BN_bin2bn(Bytes(rs) + kCoordinate, kCoordinate, nullptr);
  if (!sig || r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return std::nullopt;
  }
  const int size = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (size <= 0) return std::nullopt;
  std::vector<unsigned char> der(static_cast<std::size_t>(size));
  unsigned char* out = der.data();
  if (i2d_ECDSA_SIG(sig.get(), &out) != size) return std::nullopt;
  return der;
}

}  // namespace

ports::SignatureCheck OpensslSignatures::Verify(const std::string& publicKey,
                                                const std::string& path,
                                                const std::string& signature) {
  using ports::SignatureCheck;
  if (publicKey.size() != 2 * kCoordinate) return SignatureCheck::BadKey;
  Owned<EVP_PKEY> key = ImportKey(publicKey);
  if (!key) return SignatureCheck::BadKey;
  if (signature.size() != 2 * kCoordinate) return SignatureCheck::Invalid;
  const auto der = DerSignature(signature);
  if (!der) return SignatureCheck::Invalid;

  std::ifstream file(mapper_.Map(path), std::ios::binary);
  if (!file) return SignatureCheck::Unreadable;
  Owned<EVP_MD_CTX> md(EVP_MD_CTX_new());
  if (!md || EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    return SignatureCheck::Unavailable;
  }
  std::vector<char> block(kBlock);
  while (file) {
    file.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    if (got > 0 && EVP_DigestVerifyUpdate(md.get(), block.data(), got) != 1) {
      return SignatureCheck::Unavailable;
    }
  }
  if (!file.eof()) return SignatureCheck::Unreadable;
  return EVP_DigestVerifyFinal(md.get(), der->data(), der->size()) == 1 ? SignatureCheck::Valid
                                                                        : SignatureCheck::Invalid;
}

}  // namespace updater::posix
