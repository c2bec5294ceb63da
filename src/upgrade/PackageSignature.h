#pragma once
// Signed packages, when client.ini names a public key (key pubkey of [initInfo]): the package
// must come with a detached signature at its URL + ".sig", checked before anything is unpacked.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "ports/platform.h"

namespace updater {

// A signature file larger than this is no signature: it is not read further.
inline constexpr std::size_t kMaxSignatureFile = 4096;

// Standard base64 with its padding; blanks and line breaks anywhere are passed over. Nothing
// when the text holds anything else or does not decode to whole bytes.
std::optional<std::string> DecodeBase64(std::string_view text);

// The 64 bytes X||Y of a P-256 public key, or r||s of a signature, from their base64 text;
// nothing when the text does not decode to exactly 64 bytes.
std::optional<std::string> Decode64ByteValue(std::string_view base64);

// True when no key is configured, when the package is missing (the unpacking reports that), or
// when the signature fetched from packageUrl + ".sig" is valid for the package. Otherwise the
// package is removed, so nothing unsigned is ever unpacked, and false is returned.
bool PackageSignatureAccepted(Platform& pf, const std::string& programFolder,
                              const std::string& packageUrl, const std::string& packagePath);

}  // namespace updater
