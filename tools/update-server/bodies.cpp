#include "bodies.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

namespace update_server {
namespace {

class Text final : public Body {
 public:
  explicit Text(std::string text) : text_(std::move(text)) {}
  std::uint64_t Size() const override { return text_.size(); }
  std::size_t Read(std::uint64_t offset, char* out, std::size_t n) const override {
    if (offset >= text_.size()) return 0;
    n = std::min<std::uint64_t>(n, text_.size() - offset);
    std::memcpy(out, text_.data() + offset, n);
    return n;
  }

 private:
  std::string text_;
};

class Padded final : public Body {
 public:
  Padded(std::string head, char fill, std::uint64_t fill_count, std::string tail)
      : head_(std::move(head)), fill_(fill), fill_count_(fill_count), tail_(std::move(tail)) {}
  std::uint64_t Size() const override { return head_.size() + fill_count_ + tail_.size(); }
  std::size_t Read(std::uint64_t offset, char* out, std::size_t n) const override {
    std::size_t done = 0;
    while (done < n && offset < Size()) {
      std::size_t piece;
      if (offset < head_.size()) {
        piece = std::min<std::uint64_t>(n - done, head_.size() - offset);
        std::memcpy(out + done, head_.data() + offset, piece);
      } else if (offset < head_.size() + fill_count_) {
        piece = std::min<std::uint64_t>(n - done, head_.size() + fill_count_ - offset);
        std::memset(out + done, fill_, piece);
      } else {
        std::uint64_t at = offset - head_.size() - fill_count_;
        piece = std::min<std::uint64_t>(n - done, tail_.size() - at);
        std::memcpy(out + done, tail_.data() + at, piece);
      }
      done += piece;
      offset += piece;
    }
    return done;
  }

 private:
  std::string head_;
  char fill_;
  std::uint64_t fill_count_;
  std::string tail_;
};

class File final : public Body {
 public:
  File(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~File() override { ::close(fd_); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::uint64_t Size() const override { return size_; }
  std::size_t Read(std::uint64_t offset, char* out, std::size_t n) const override {
    if (offset >= size_) return 0;
    n = std::min<std::uint64_t>(n, size_ - offset);
    ssize_t got;
    do {
      got = ::pread(fd_, out, n, static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

class Slice final : public Body {
 public:
  Slice(std::shared_ptr<Body> body, std::uint64_t offset, std::uint64_t length)
      : body_(std::move(body)), offset_(offset), length_(length) {}
  std::uint64_t Size() const override { return length_; }
  std::size_t Read(std::uint64_t offset, char* out, std::size_t n) const override {
    if (offset >= length_) return 0;
    return body_->Read(offset_ + offset, out, std::min<std::uint64_t>(n, length_ - offset));
  }

 private:
  std::shared_ptr<Body> body_;
  std::uint64_t offset_;
  std::uint64_t length_;
};

}  // namespace

std::shared_ptr<Body> SliceBody(std::shared_ptr<Body> body, std::uint64_t offset,
                                std::uint64_t length) {
  return std::make_shared<Slice>(std::move(body), offset, length);
}

Validators FileValidators(const std::filesystem::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) return {};
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx%09lx\"",
                static_cast<unsigned long long>(info.st_size),
                static_cast<unsigned long long>(info.st_mtim.tv_sec),
                static_cast<unsigned long>(info.st_mtim.tv_nsec));
  std::tm utc{};
  ::gmtime_r(&info.st_mtim.tv_sec, &utc);
  char date[64];
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return {etag, date};
}

std::shared_ptr<Body> TextBody(std::string text) { return std::make_shared<Text>(std::move(text)); }

std::shared_ptr<Body> PaddedBody(std::string head, char fill, std::uint64_t fill_count,
                                 std::string tail) {
  return std::make_shared<Padded>(std::move(head), fill, fill_count, std::move(tail));
}

std::shared_ptr<Body> FileBody(const std::filesystem::path& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  // The length is fixed here: it is the Content-Length announced for this answer.
  return std::make_shared<File>(fd, static_cast<std::uint64_t>(info.st_size));
}

}  // namespace update_server
