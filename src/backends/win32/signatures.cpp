#include "backends/win32/signatures.h"

// clang-format off
#include "backends/win32/windows_api.h"
#include <bcrypt.h>
// clang-format on

#include <cstring>
#include <optional>
#include <vector>

#include "backends/win32/ansi.h"

namespace updater::win32 {

namespace {

using ports::SignatureCheck;

constexpr std::size_t kCoordinate = 32;
constexpr std::size_t kDigest = 32;
constexpr DWORD kBlock = 64 * 1024;
constexpr NTSTATUS kSuccess = 0;

// The entry points, found at run time: the program links no CNG import.
struct Cng {
  decltype(&BCryptOpenAlgorithmProvider) OpenAlgorithmProvider = nullptr;
  decltype(&BCryptCloseAlgorithmProvider) CloseAlgorithmProvider = nullptr;
  decltype(&BCryptGetProperty) GetProperty = nullptr;
  decltype(&BCryptCreateHash) CreateHash = nullptr;
  decltype(&BCryptHashData) HashData = nullptr;
  decltype(&BCryptFinishHash) FinishHash = nullptr;
  decltype(&BCryptDestroyHash) DestroyHash = nullptr;
  decltype(&BCryptImportKeyPair) ImportKeyPair = nullptr;
  decltype(&BCryptDestroyKey) DestroyKey = nullptr;
  decltype(&BCryptVerifySignature) VerifySignature = nullptr;
};

template <class F>
bool Find(HMODULE module, const char* name, F& entry) {
  entry = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return entry != nullptr;
}

class Library {
 public:
  Library() {
    // From the system folder only: a bcrypt.dll beside the program must not be loaded.
    char folder[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    module_ = LoadLibraryA((std::string(folder, n) + "\\bcrypt.dll").c_str());
    if (module_ == nullptr) return;
    complete_ = Find(module_, "BCryptOpenAlgorithmProvider", cng_.OpenAlgorithmProvider) &&
                Find(module_, "BCryptCloseAlgorithmProvider", cng_.CloseAlgorithmProvider) &&
                Find(module_, "BCryptGetProperty", cng_.GetProperty) &&
                Find(module_, "BCryptCreateHash", cng_.CreateHash) &&
                Find(module_, "BCryptHashData", cng_.HashData) &&
                Find(module_, "BCryptFinishHash", cng_.FinishHash) &&
                Find(module_, "BCryptDestroyHash", cng_.DestroyHash) &&
                Find(module_, "BCryptImportKeyPair", cng_.ImportKeyPair) &&
                Find(module_, "BCryptDestroyKey", cng_.DestroyKey) &&
                Find(module_, "BCryptVerifySignature", cng_.VerifySignature);
  }
  ~Library() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  const Cng* get() const { return complete_ ? &cng_ : nullptr; }

 private:
  HMODULE module_ = nullptr;
  Cng cng_;
  bool complete_ = false;
};

class Algorithm {
 public:
  Algorithm(const Cng& cng, LPCWSTR name) : cng_(cng) {
    if (cng_.OpenAlgorithmProvider(&handle_, name, nullptr, 0) != kSuccess) handle_ = nullptr;
  }
  ~Algorithm() {
    if (handle_ != nullptr) cng_.CloseAlgorithmProvider(handle_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  const Cng& cng_;
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class File {
 public:
  explicit File(const std::string& path)
      : handle_(CreateFileA(Utf8ToAnsi(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~File() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

PUCHAR Bytes(std::string& s) { return reinterpret_cast<PUCHAR>(s.data()); }

// The SHA-256 of the file, hashed block by block (BCryptHash, the one-call form, is Windows 10
// only). Nothing when the file cannot be read; empty when CNG refuses.
std::optional<std::vector<UCHAR>> HashFile(const Cng& cng, const std::string& path) {
  File file(path);
  if (file.get() == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<UCHAR> digest;
  Algorithm sha256(cng, BCRYPT_SHA256_ALGORITHM);
  DWORD objectLength = 0, got = 0;
  if (sha256.get() == nullptr ||
      cng.GetProperty(sha256.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                      sizeof objectLength, &got, 0) != kSuccess) {
    return digest;
  }
  // Windows Vista wants the hash object's memory from the caller.
  std::vector<UCHAR> object(objectLength);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (cng.CreateHash(sha256.get(), &hash, object.data(), objectLength, nullptr, 0, 0) != kSuccess) {
    return digest;
  }
  std::vector<UCHAR> block(kBlock);
  bool read = true, hashed = true;
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file.get(), block.data(), kBlock, &n, nullptr)) {
      read = false;
      break;
    }
    if (n == 0) break;
    if (cng.HashData(hash, block.data(), n, 0) != kSuccess) {
      hashed = false;
      break;
    }
  }
  std::vector<UCHAR> out(kDigest);
  if (read && hashed && cng.FinishHash(hash, out.data(), kDigest, 0) == kSuccess) digest = out;
  cng.DestroyHash(hash);
  if (!read) return std::nullopt;
  return digest;
}

}  // namespace

std::optional<std::string> Sha256OfFile(const std::string& path) {
  Library library;
  if (library.get() == nullptr) return std::string();
  const auto digest = HashFile(*library.get(), path);
  if (!digest) return std::nullopt;
  return std::string(digest->begin(), digest->end());
}

SignatureCheck CngSignatures::Verify(const std::string& publicKey, const std::string& path,
                                     const std::string& signature) {
  if (publicKey.size() != 2 * kCoordinate) return SignatureCheck::BadKey;
  Library library;
  const Cng* cng = library.get();
  if (cng == nullptr) return SignatureCheck::Unavailable;

  Algorithm ecdsa(*cng, BCRYPT_ECDSA_P256_ALGORITHM);
  if (ecdsa.get() == nullptr) return SignatureCheck::Unavailable;
  std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinate};
  std::memcpy(blob.data(), &header, sizeof header);
  blob += publicKey;
  BCRYPT_KEY_HANDLE key = nullptr;
  // CNG refuses a point that is not on the curve.
  if (cng->ImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, Bytes(blob),
                         static_cast<ULONG>(blob.size()), 0) != kSuccess) {
    return SignatureCheck::BadKey;
  }
  SignatureCheck result = SignatureCheck::Invalid;
  if (signature.size() == 2 * kCoordinate) {
    const auto digest = HashFile(*cng, path);
    if (!digest) {
      result = SignatureCheck::Unreadable;
    } else if (digest->empty()) {
      result = SignatureCheck::Unavailable;
    } else {
      std::string rs = signature;
      std::vector<UCHAR> hash = *digest;
      const NTSTATUS status =
          cng->VerifySignature(key, nullptr, hash.data(), static_cast<ULONG>(hash.size()),
                               Bytes(rs), static_cast<ULONG>(rs.size()), 0);
      if (status == kSuccess) result = SignatureCheck::Valid;
    }
  }
  cng->DestroyKey(key);
  return result;
}

}  // namespace updater::win32
