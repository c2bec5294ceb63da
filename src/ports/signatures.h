#pragma once
// The check of a detached package signature: ECDSA on the curve P-256 over the SHA-256 of a
// file's bytes. The win32 backend uses CNG (bcrypt.dll, loaded when first needed); the posix
// backend uses OpenSSL.

#include <string>

namespace updater::ports {

enum class SignatureCheck {
  Valid,
  Invalid,      // the signature does not match the file and the key (or is not 64 bytes)
  BadKey,       // the key is not 64 bytes or not a point of the curve
  Unreadable,   // the file cannot be read
  Unavailable,  // the platform offers no such check
};

class Signatures {
 public:
  virtual ~Signatures() = default;
  // publicKey: the 64 bytes X||Y of the point; signature: the 64 bytes r||s. Reads the file at
  // path in blocks, so a package of any size is never held in memory.
  virtual SignatureCheck Verify(const std::string& publicKey, const std::string& path,
                                const std::string& signature) = 0;
};

}  // namespace updater::ports
