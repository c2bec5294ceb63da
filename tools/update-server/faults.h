// Fault rules: the file `fault` of the data folder, read for every request.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace update_server {

enum class FaultMode {
  kHtml404,
  kHtml500,
  kNotXml,
  kEmpty,
  kXml500,
  kRoot,
  kGb2312,
  kChunked,
  kShort,
  kDelay,
  kStall,
  kHang,
  kNotFoundText,
  kOversize,
  kRedirect,
  kBreakOnce,
  kTrickle,
  kLink,
  kIgnoreRange,
  kRefuseRange,
  kDrop,
};

struct Fault {
  FaultMode mode;
  std::string rule;  // the line as written, which names a kBreakOnce rule
  std::string name;  // kRoot: the root element; kNotFoundText: the encoding ("" or "gb2312");
                     // kRedirect: the Location
  std::uint64_t count = 0;  // kShort, kStall, kBreakOnce, kTrickle: bytes of the body at full
                            // speed; kOversize: size of the body; kRedirect: the status
  std::uint64_t ms = 0;     // kDelay, kStall, kTrickle
  std::uint64_t piece = 0;  // kTrickle: bytes sent every ms milliseconds after the first count
};

// The first rule of `file` whose pattern matches `path`, or nullopt (also when there is no file).
// Malformed lines are reported on stderr and skipped, so a typo never takes the server down.
std::optional<Fault> FindFault(const std::filesystem::path& file, std::string_view path);

}  // namespace update_server
