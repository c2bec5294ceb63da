#pragma once
// The package signature check on CNG. bcrypt.dll is loaded from the system folder when a check
// is asked for, so the program still starts on a Windows without it; a check there fails.

#include <string>

#include "ports/signatures.h"

namespace updater::win32 {

class CngSignatures final : public ports::Signatures {
 public:
  ports::SignatureCheck Verify(const std::string& publicKey, const std::string& path,
                               const std::string& signature) override;
};

}  // namespace updater::win32
