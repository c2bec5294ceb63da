// Response bodies read piece by piece, so that a package of any size is never held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace update_server {

class Body {
 public:
  virtual ~Body() = default;
  virtual std::uint64_t Size() const = 0;
  // Copies up to `n` bytes from `offset` into `out`; 0 at the end or on a read error.
  virtual std::size_t Read(std::uint64_t offset, char* out, std::size_t n) const = 0;
};

std::shared_ptr<Body> TextBody(std::string text);

// `head`, then `fill_count` copies of `fill`, then `tail`.
std::shared_ptr<Body> PaddedBody(std::string head, char fill, std::uint64_t fill_count,
                                 std::string tail);

// The file as it is when opened; nullptr when it cannot be opened as a regular file.
std::shared_ptr<Body> FileBody(const std::filesystem::path& file);

// `length` bytes of `body` from `offset` on.
std::shared_ptr<Body> SliceBody(std::shared_ptr<Body> body, std::uint64_t offset,
                                std::uint64_t length);

// What a web server names a static file by: a strong ETag made of its size and modification
// time (so any change of the file changes it), and its modification time as an HTTP date.
struct Validators {
  std::string etag;
  std::string last_modified;
};
Validators FileValidators(const std::filesystem::path& file);

}  // namespace update_server
