#include "signing.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace publish {
namespace {

std::string Base64(const unsigned char* bytes, std::size_t n) {
  std::string out(4 * ((n + 2) / 3) + 1, '\0');
  const int written =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes, static_cast<int>(n));
  out.resize(static_cast<std::size_t>(written));
  return out;
}

std::string PublicKeyOf(EVP_PKEY* key) {
  // The uncompressed point 04||X||Y; the clients take X||Y.
  unsigned char point[65];
  std::size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point, sizeof point,
                                      &length) != 1 ||
      length != 65 || point[0] != 0x04) {
    throw SigningError{"the public key cannot be written as an uncompressed P-256 point"};
  }
  return Base64(point + 1, 64);
}

bool IsP256(EVP_PKEY* key) {
  char group[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
         EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                        &length) == 1 &&
         std::string(group) == "prime256v1";
}

}  // namespace

std::string MakeKey(const std::filesystem::path& key_file) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (!key) throw SigningError{"OpenSSL could not make a P-256 key"};
  // O_EXCL: never overwrite a key that clients may already trust.
  const int fd = ::open(key_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw SigningError{"cannot create " + key_file.string() + " (it must not exist)"};
  FILE* out = ::fdopen(fd, "w");
  if (out == nullptr) {
    ::close(fd);
    throw SigningError{"cannot write " + key_file.string()};
  }
  const bool written =
      PEM_write_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  if (std::fclose(out) != 0 || !written) {
    std::filesystem::remove(key_file);
    throw SigningError{"cannot write " + key_file.string()};
  }
  return PublicKeyOf(key.get());
}

Signer::Signer(const std::filesystem::path& key_file) {
  FILE* in = std::fopen(key_file.c_str(), "r");
  if (in == nullptr) throw SigningError{"cannot read the key " + key_file.string()};
  key_ = PEM_read_PrivateKey(in, nullptr, nullptr, nullptr);
  std::fclose(in);
  if (key_ == nullptr) {
    throw SigningError{key_file.string() + " holds no PEM private key"};
  }
  if (!IsP256(key_)) {
    EVP_PKEY_free(key_);
    key_ = nullptr;
    throw SigningError{key_file.string() + " is not an ECDSA P-256 key"};
  }
}

Signer::~Signer() { EVP_PKEY_free(key_); }

std::string Signer::PublicKey() const { return PublicKeyOf(key_); }

std::string Signer::Sign(const std::filesystem::path& file) const {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key_) != 1) {
    throw SigningError{"OpenSSL could not start a signature"};
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw SigningError{"cannot read " + file.string()};
  std::vector<char> block(1 << 16);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    if (in.gcount() > 0 &&
        EVP_DigestSignUpdate(ctx.get(), block.data(), static_cast<std::size_t>(in.gcount())) != 1) {
      throw SigningError{"OpenSSL could not hash the package"};
    }
  }
  if (in.bad()) throw SigningError{"cannot read " + file.string()};
  std::size_t length = 0;
  if (EVP_DigestSignFinal(ctx.get(), nullptr, &length) != 1) {
    throw SigningError{"OpenSSL could not sign the package"};
  }
  std::vector<unsigned char> der(length);
  if (EVP_DigestSignFinal(ctx.get(), der.data(), &length) != 1) {
    throw SigningError{"OpenSSL could not sign the package"};
  }
  // OpenSSL writes the DER sequence of r and s; the clients take them as two 32-byte numbers.
  const unsigned char* at = der.data();
  std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> sig(
      d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length)), ECDSA_SIG_free);
  unsigned char rs[64];
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), rs, 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), rs + 32, 32) != 32) {
    throw SigningError{"OpenSSL gave a signature of an unexpected form"};
  }
  return Base64(rs, sizeof rs);
}

}  // namespace publish
