#include "upgrade/PackageSignature.h"

#include <array>

#include "helpers/Module1.h"
#include "ports/errors.h"

namespace updater {

namespace {

constexpr std::size_t kKeyAndSignatureBytes = 64;
constexpr std::size_t kChunk = 1024;

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The signature file's text, or nothing when it is larger than a signature file can be. An
// error page or a body cut short comes back as it is and fails the decoding.
std::optional<std::string> FetchSignature(Platform& pf, const std::string& url) {
  auto transfer = pf.io->NewTransfer();
  transfer->Execute(url, "get");
  while (transfer->StillExecuting()) pf.ui->DoEvents();
  std::string body;
  for (std::string chunk; !(chunk = transfer->GetChunk(kChunk)).empty();) {
    body += chunk;
    if (body.size() > kMaxSignatureFile) return std::nullopt;
    pf.ui->DoEvents();
  }
  return body;
}

bool SignatureValid(Platform& pf, const std::string& key, const std::string& packageUrl,
                    const std::string& packagePath) {
  // A key that cannot be used fails closed, before anything is fetched.
  const auto publicKey = Decode64ByteValue(key);
  if (!publicKey || pf.signatures == nullptr) return false;
  const auto text = FetchSignature(pf, packageUrl + ".sig");
  if (!text) return false;
  const auto signature = Decode64ByteValue(*text);
  if (!signature) return false;
  return pf.signatures->Verify(*publicKey, packagePath, *signature) == ports::SignatureCheck::Valid;
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string out;
  std::array<unsigned, 4> quad{};
  std::size_t filled = 0, padding = 0;
  for (const char c : text) {
    if (IsBlank(c)) continue;
    // Nothing but blanks follows a group that ends in padding.
    if (padding > 0 && filled == 0) return std::nullopt;
    if (c == '=') {
      // Padding fills only the last one or two places of a group.
      if (filled < 2) return std::nullopt;
      ++padding;
      quad[filled++] = 0;
    } else {
      const int value = Base64Value(c);
      if (value < 0 || padding > 0) return std::nullopt;
      quad[filled++] = static_cast<unsigned>(value);
    }
    if (filled == 4) {
      const unsigned group = (quad[0] << 18) | (quad[1] << 12) | (quad[2] << 6) | quad[3];
      out += static_cast<char>((group >> 16) & 0xFF);
      if (padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
      if (padding < 1) out += static_cast<char>(group & 0xFF);
      filled = 0;
    }
  }
  if (filled != 0) return std::nullopt;
  return out;
}

std::optional<std::string> Decode64ByteValue(std::string_view base64) {
  auto bytes = DecodeBase64(base64);
  if (!bytes || bytes->size() != kKeyAndSignatureBytes) return std::nullopt;
  return bytes;
}

bool PackageSignatureAccepted(Platform& pf, const std::string& programFolder,
                              const std::string& packageUrl, const std::string& packagePath) {
  const std::string key =
      Module1::ReadIniValue(pf, programFolder + "\\client.ini", "initInfo", "pubkey");
  if (key.empty() || !pf.files->FileExists(packagePath)) return true;
  bool valid = false;
  try {
    valid = SignatureValid(pf, key, packageUrl, packagePath);
  } catch (const RuntimeError&) {
    // A signature that cannot be fetched is a missing signature.
  }
  if (!valid) {
    try {
      pf.io->Kill(packagePath);
    } catch (const RuntimeError&) {
    }
  }
  return valid;
}

}  // namespace updater
