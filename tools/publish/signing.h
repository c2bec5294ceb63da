// Detached package signatures as the clients check them: ECDSA P-256 over SHA-256 of the
// package bytes, written as base64 of r||s (64 bytes); the public key as base64 of X||Y.
#pragma once

#include <filesystem>
#include <string>

struct evp_pkey_st;  // OpenSSL's EVP_PKEY

namespace publish {

struct SigningError {
  std::string message;
};

// A new P-256 private key written as PEM to `key_file` (which must not exist yet, readable by
// its owner only); returns the public key in the clients' form. Throws SigningError.
std::string MakeKey(const std::filesystem::path& key_file);

class Signer {
 public:
  // Reads a PEM private key; throws SigningError unless it is an ECDSA P-256 key.
  explicit Signer(const std::filesystem::path& key_file);
  ~Signer();
  Signer(const Signer&) = delete;
  Signer& operator=(const Signer&) = delete;

  // base64 of X||Y, the value of pubkey in client.ini.
  std::string PublicKey() const;
  // base64 of r||s over SHA-256 of the file's bytes. Throws SigningError.
  std::string Sign(const std::filesystem::path& file) const;

 private:
  ::evp_pkey_st* key_ = nullptr;
};

}  // namespace publish
