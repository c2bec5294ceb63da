#pragma once
// Trusting the test authority of the https cases: its certificate (PEM) goes into the machine's
// Root store, which in the test run is the store of the test's own wine prefix. It stays there
// (wine 8 does not take a root out of the registry again), which is harmless: the authority's
// key was deleted as soon as it had signed the server's certificate.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// clang-format off
#include "backends/win32/windows_api.h"
#include <wincrypt.h>
// clang-format on

namespace contract {

inline HCERTSTORE OpenMachineRoot() {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
}

inline bool AddRootCertificate(const std::filesystem::path& pemFile) {
  std::ifstream in(pemFile, std::ios::binary);
  const std::string pem{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  DWORD size = 0;
  if (pem.empty() ||
      !CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            nullptr, &size, nullptr, nullptr)) {
    return false;
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            der.data(), &size, nullptr, nullptr)) {
    return false;
  }
  HCERTSTORE root = OpenMachineRoot();
  if (root == nullptr) return false;
  // No context is kept: the store is written back when its last reference goes.
  const BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(root, 0);
  return added != FALSE;
}

}  // namespace contract
