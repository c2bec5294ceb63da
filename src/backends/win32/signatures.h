#pragma once
// The package signature check on CNG. bcrypt.dll is loaded from the system folder when a check
// is asked for, so the program still starts on a Windows without it; a check there fails.

#include <optional>
#include <string>

#include "ports/signatures.h"

namespace updater::win32 {

class CngSignatures final : public ports::Signatures {
 public:
  ports::SignatureCheck Verify(const std::string& publicKey, const std::string& path,
                               const std::string& signature) override;
};

// The SHA-256 of a file's bytes: nothing when the file cannot be read, "" when CNG is missing.
std::optional<std::string> Sha256OfFile(const std::string& path);

}  // namespace updater::win32
