#pragma once
// What a package download that ended short leaves for the next try: the bytes received, kept
// beside the program's tmp folder (which is emptied before every download), and what names
// them, so that the next download of the same package asks only for the rest.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ports/platform.h"

namespace updater {

struct KeptPart {
  std::string url;
  std::string version;  // the release the bytes belong to: version number and release time
  std::string time;
  std::string validator;      // the server's strong ETag, else its Last-Modified
  std::int64_t length = 0;    // the whole package, as its first response announced it
  std::int64_t received = 0;  // the bytes kept, always fewer than length
};

class KeptDownload {
 public:
  KeptDownload(Platform& pf, const std::string& programFolder);

  // The part kept for this package URL and release when it can be continued; a part kept for
  // anything else, or one that does not read back whole, is thrown away.
  std::optional<KeptPart> Find(const std::string& url, const std::string& version,
                               const std::string& time);
  // Moves the kept bytes to path, to be continued there.
  void MoveTo(const std::string& path);
  // Keeps the closed file at path as the bytes received of part; false, leaving the file where
  // it is, when part cannot be continued later (no validator) or the disk refuses.
  bool Keep(const std::string& path, const KeptPart& part) noexcept;
  // Throws away whatever is kept. Raises nothing.
  void Forget() noexcept;
  // Throws away a part kept for anything but this package URL and release: one of a release the
  // server no longer offers would never be continued. Raises nothing.
  void ForgetAllBut(const std::string& url, const std::string& version,
                    const std::string& time) noexcept;

 private:
  Platform& pf_;
  const std::string folder_;
  const std::string bytes_;
  const std::string record_;
};

// The request headers that ask for the rest of part, on condition that the package is unchanged.
std::vector<std::string> RangeRequest(const KeptPart& part);
// Whether the response to RangeRequest(part) continues part: a 206 for exactly the rest of the
// same package.
bool ContinuesPart(ports::Transfer& response, const KeptPart& part);
// The validator of a response that a later request may name in If-Range; "" when it has none.
std::string ValidatorOf(ports::Transfer& response);
// The Content-Range a 206 carries for bytes first to last of a file of length bytes.
std::string ContentRange(std::int64_t first, std::int64_t last, std::int64_t length);

}  // namespace updater
