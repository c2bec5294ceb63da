// sign-package: the key pair and the detached signatures of signed update packages.
//
//   sign-package keygen KEY_FILE               a new ECDSA P-256 key pair; the private key goes
//                                              to KEY_FILE (PEM, readable by the owner only),
//                                              the client.ini line of the public key to stdout
//   sign-package pubkey KEY_FILE               prints that line again
//   sign-package sign KEY_FILE PACKAGE [SIG]   writes the signature of PACKAGE to SIG (default
//                                              PACKAGE.sig): base64 of r||s over the SHA-256 of
//                                              the package's bytes, and a line feed
//
// The public key line is "pubkey=" and the base64 of the 64 bytes X||Y of the point; it belongs
// in the [initInfo] section of client.ini.
//
// Exit codes: 0 done; 1 failed; 2 bad command line.

#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kCoordinate = 32;

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
  void operator()(FILE* f) const { std::fclose(f); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

std::string Base64(const std::vector<unsigned char>& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "sign-package: %s\n", what.c_str());
  return 1;
}

Owned<EVP_PKEY> ReadKey(const std::string& path) {
  Owned<FILE> file(std::fopen(path.c_str(), "rb"));
  if (!file) return nullptr;
  return Owned<EVP_PKEY>(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
}

// "pubkey=" and the base64 of X||Y, the point without its leading 04 byte.
bool PrintPublicKey(EVP_PKEY* key) {
  std::vector<unsigned char> point(1 + 2 * kCoordinate);
  std::size_t size = 0;
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(),
                                      point.size(), &size) != 1 ||
      size != point.size() || point[0] != 0x04) {
    return false;
  }
  point.erase(point.begin());
  std::printf("pubkey=%s\n", Base64(point).c_str());
  return true;
}

int Keygen(const std::string& keyFile) {
  Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
  if (!key) return Fail("cannot make a key");
  const int fd = ::open(keyFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return Fail("cannot create " + keyFile + " (it must not exist yet)");
  Owned<FILE> file(::fdopen(fd, "wb"));
  if (!file) {
    ::close(fd);
    return Fail("cannot write " + keyFile);
  }
  if (PEM_write_PrivateKey(file.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      std::fflush(file.get()) != 0) {
    return Fail("cannot write " + keyFile);
  }
  return PrintPublicKey(key.get()) ? 0 : Fail("cannot read the public key");
}

int Pubkey(const std::string& keyFile) {
  Owned<EVP_PKEY> key = ReadKey(keyFile);
  if (!key) return Fail("cannot read the private key in " + keyFile);
  return PrintPublicKey(key.get()) ? 0 : Fail("not a P-256 key: " + keyFile);
}

int Sign(const std::string& keyFile, const std::string& package, const std::string& sigFile) {
  Owned<EVP_PKEY> key = ReadKey(keyFile);
  if (!key) return Fail("cannot read the private key in " + keyFile);
  std::ifstream in(package, std::ios::binary);
  if (!in) return Fail("cannot read " + package);
  Owned<EVP_MD_CTX> md(EVP_MD_CTX_new());
  if (!md || EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    return Fail("cannot sign with " + keyFile);
  }
  std::vector<char> block(64 * 1024);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    if (in.gcount() > 0 &&
        EVP_DigestSignUpdate(md.get(), block.data(), static_cast<std::size_t>(in.gcount())) != 1) {
      return Fail("cannot sign");
    }
  }
  if (!in.eof()) return Fail("cannot read " + package);
  std::size_t size = 0;
  if (EVP_DigestSignFinal(md.get(), nullptr, &size) != 1) return Fail("cannot sign");
  std::vector<unsigned char> der(size);
  if (EVP_DigestSignFinal(md.get(), der.data(), &size) != 1) return Fail("cannot sign");
  // OpenSSL writes a DER sequence; the package's signature is the two numbers side by side.
  const unsigned char* p = der.data();
  Owned<ECDSA_SIG> sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(size)));
  if (!sig) return Fail("cannot read the signature");
  std::vector<unsigned char> rs(2 * kCoordinate);
  if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), rs.data(), kCoordinate) != kCoordinate ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), rs.data() + kCoordinate, kCoordinate) !=
          kCoordinate) {
    return Fail("cannot write the signature");
  }
  std::ofstream out(sigFile, std::ios::binary | std::ios::trunc);
  out << Base64(rs) << '\n';
  out.close();
  if (!out) return Fail("cannot write " + sigFile);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: sign-package keygen KEY_FILE\n"
               "       sign-package pubkey KEY_FILE\n"
               "       sign-package sign KEY_FILE PACKAGE [SIG_FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "keygen") return Keygen(args[1]);
  if (args.size() == 2 && args[0] == "pubkey") return Pubkey(args[1]);
  if ((args.size() == 3 || args.size() == 4) && args[0] == "sign") {
    return Sign(args[1], args[2], args.size() == 4 ? args[3] : args[2] + ".sig");
  }
  return Usage();
}
