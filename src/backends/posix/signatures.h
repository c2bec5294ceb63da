#pragma once
// The package signature check on OpenSSL's libcrypto.

#include <string>

#include "backends/posix/emulation/path_mapper.h"
#include "ports/signatures.h"

namespace updater::posix {

class OpensslSignatures final : public ports::Signatures {
 public:
  explicit OpensslSignatures(const PathMapper& mapper) : mapper_(mapper) {}

  ports::SignatureCheck Verify(const std::string& publicKey, const std::string& path,
                               const std::string& signature) override;

 private:
  const PathMapper& mapper_;
};

}  // namespace updater::posix
