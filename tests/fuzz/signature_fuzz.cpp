// Arbitrary texts against the base64 reading of the public key and of a fetched signature file:
// what decodes must encode back to text that decodes the same, and only exactly 64 bytes count
// as a key or a signature.

#include <cstddef>
#include <cstdint>
#include <string>

#include "upgrade/PackageSignature.h"

namespace {

std::string Encode(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto decoded = updater::DecodeBase64(text);
  const auto value = updater::Decode64ByteValue(text);
  if (value.has_value() != (decoded.has_value() && decoded->size() == 64)) __builtin_trap();
  if (!decoded) return 0;
  if (decoded->size() * 4 > size * 3) __builtin_trap();
  const auto again = updater::DecodeBase64(Encode(*decoded));
  if (!again || *again != *decoded) __builtin_trap();
  return 0;
}
