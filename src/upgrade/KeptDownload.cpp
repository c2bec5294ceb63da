#include "upgrade/KeptDownload.h"

#include <algorithm>
#include <climits>
#include <iterator>

#include "ports/errors.h"

namespace updater {

namespace {

constexpr const char* kFields[] = {"url", "version", "time", "validator", "length"};

bool OneLine(const std::string& value) { return value.find_first_of("\r\n") == std::string::npos; }

// A header value that can be sent back as it came: printable ASCII, nothing else.
bool Sendable(const std::string& value) {
  return !value.empty() &&
         std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

std::optional<std::int64_t> Number(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != text.npos) {
    return std::nullopt;
  }
  return std::stoll(text);
}

}  // namespace

KeptDownload::KeptDownload(Platform& pf, const std::string& programFolder)
    : pf_(pf),
      folder_(programFolder + "\\tmp.part"),
      bytes_(folder_ + "\\setup.rar"),
      record_(folder_ + "\\setup.rar.txt") {}

std::optional<KeptPart> KeptDownload::Find(const std::string& url, const std::string& version,
                                           const std::string& time) {
  KeptPart part;
  try {
    const std::string text = pf_.io->ReadAll(record_);
    std::string length;
    std::string* values[] = {&part.url, &part.version, &part.time, &part.validator, &length};
    std::size_t at = 0;
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
      const std::string key = std::string(kFields[i]) + "=";
      const std::size_t end = text.find('\n', at);
      if (end == std::string::npos || text.compare(at, key.size(), key) != 0) {
        throw RuntimeError(kErrPathFileAccess);
      }
      *values[i] = text.substr(at + key.size(), end - at - key.size());
      at = end + 1;
    }
    part.length = Number(length).value_or(0);
    part.received = pf_.io->FileLen(bytes_);
  } catch (const RuntimeError&) {
    Forget();
    return std::nullopt;
  }
  // Bytes of another package or release, or a record that cannot be checked, are of no use.
  if (part.url != url || part.version != version || part.time != time ||
      !Sendable(part.validator) || part.length > INT32_MAX || part.received <= 0 ||
      part.received >= part.length) {
    Forget();
    return std::nullopt;
  }
  return part;
}

void KeptDownload::MoveTo(const std::string& path) {
  pf_.io->Name(bytes_, path);
  Forget();
}

bool KeptDownload::Keep(const std::string& path, const KeptPart& part) noexcept {
  Forget();
  if (!Sendable(part.validator) || part.received <= 0 || part.received >= part.length ||
      !OneLine(part.url) || !OneLine(part.version) || !OneLine(part.time)) {
    return false;
  }
  try {
    if (!pf_.files->FolderExists(folder_)) pf_.files->MakeFolder(folder_);
    // The record first: bytes without one are never continued.
    const std::string values[] = {part.url, part.version, part.time, part.validator,
                                  std::to_string(part.length)};
    std::string text;
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
      text += std::string(kFields[i]) + "=" + values[i] + "\n";
    }
    auto record = pf_.io->OpenBinary(record_);
    record->Write(text);
    record->Close();
    pf_.io->Name(path, bytes_);
    return true;
  } catch (const RuntimeError&) {
    Forget();
    return false;
  }
}

void KeptDownload::ForgetAllBut(const std::string& url, const std::string& version,
                                const std::string& time) noexcept {
  try {
    if (pf_.files->FolderExists(folder_)) Find(url, version, time);
  } catch (const RuntimeError&) {
  }
}

void KeptDownload::Forget() noexcept {
  for (const std::string* path : {&bytes_, &record_}) {
    try {
      pf_.io->Kill(*path);
    } catch (const RuntimeError&) {
    }
  }
}

std::vector<std::string> RangeRequest(const KeptPart& part) {
  return {"Range: bytes=" + std::to_string(part.received) + "-", "If-Range: " + part.validator};
}

bool ContinuesPart(ports::Transfer& response, const KeptPart& part) {
  if (response.StatusCode() != 206) return false;
  const std::string range = ContentRange(part.received, part.length - 1, part.length);
  const std::string length = response.GetHeader("Content-Length");
  const std::string validator = ValidatorOf(response);
  return response.GetHeader("Content-Range") == range &&
         (length.empty() || length == std::to_string(part.length - part.received)) &&
         (validator.empty() || validator == part.validator);
}

std::string ContentRange(std::int64_t first, std::int64_t last, std::int64_t length) {
  return "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
         std::to_string(length);
}

std::string ValidatorOf(ports::Transfer& response) {
  // A weak ETag does not promise the same bytes, so it cannot join two halves of a file.
  const std::string etag = response.GetHeader("ETag");
  if (Sendable(etag) && etag.rfind("W/", 0) != 0) return etag;
  const std::string modified = response.GetHeader("Last-Modified");
  return Sendable(modified) ? modified : "";
}

}  // namespace updater
