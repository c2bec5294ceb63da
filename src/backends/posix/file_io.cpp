#include "backends/posix/file_io.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "backends/common/buffered_file.h"
#include "backends/posix/errors.h"
#include "backends/posix/transfer.h"
#include "ports/errors.h"

namespace updater::posix {

namespace {

class PosixBinaryFile final : public BufferedBinaryFile {
 public:
  explicit PosixBinaryFile(int fd) : fd_(fd) {}
  ~PosixBinaryFile() override { CloseQuietly(); }

 private:
  bool IsOpen() const override { return fd_ >= 0; }
  void WriteAll(const char* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowWriteError(errno);
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }
  void Release(bool report) override {
    const int closed = ::close(fd_);
    const int error = errno;
    fd_ = -1;
    if (report && closed != 0 && error != EINTR) ThrowWriteError(error);
  }

  int fd_;
};

class PosixReadableFile final : public ports::ReadableFile {
 public:
  explicit PosixReadableFile(int fd) : fd_(fd) {}
  ~PosixReadableFile() override { ::close(fd_); }
  std::size_t ReadAt(std::int64_t offset, unsigned char* out, std::size_t size) override {
    std::size_t got = 0;
    while (got < size) {
      const ssize_t n = ::pread(fd_, out + got, size - got, static_cast<off_t>(offset) + got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw RuntimeError(kErrPathFileAccess);
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    return got;
  }

 private:
  int fd_;
};

// A regular file opened for reading; 53 when there is none.
int OpenForReading(const std::string& host) {
  struct stat info {};
  if (::stat(host.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw RuntimeError(kErrFileNotFound);
  }
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw RuntimeError(kErrPathFileAccess);
  return fd;
}

}  // namespace

std::unique_ptr<ports::ReadableFile> PosixFileIO::OpenRead(const std::string& path) {
  return std::make_unique<PosixReadableFile>(OpenForReading(mapper_.Map(path).string()));
}

std::string PosixFileIO::Sha256(const std::string& path) {
  PosixReadableFile file(OpenForReading(mapper_.Map(path).string()));
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!md || EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr) != 1) {
    throw RuntimeError(kErrPathFileAccess);
  }
  std::vector<unsigned char> block(1 << 20);
  std::int64_t at = 0;
  for (std::size_t n; (n = file.ReadAt(at, block.data(), block.size())) > 0;) {
    if (EVP_DigestUpdate(md.get(), block.data(), n) != 1) throw RuntimeError(kErrPathFileAccess);
    at += static_cast<std::int64_t>(n);
  }
  std::string digest(EVP_MAX_MD_SIZE, '\0');
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(md.get(), reinterpret_cast<unsigned char*>(digest.data()), &size) != 1) {
    throw RuntimeError(kErrPathFileAccess);
  }
  digest.resize(size);
  return digest;
}

std::unique_ptr<ports::Transfer> PosixFileIO::NewTransfer() {
  return std::make_unique<CurlTransfer>(limits_, pump_, caFile_);
}

std::unique_ptr<ports::BinaryFile> PosixFileIO::OpenBinary(const std::string& path) {
  const std::string host = mapper_.Map(path).string();
  // Never truncated: bytes beyond the last one written stay as they were.
  const int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) ThrowFileError(errno);
  return std::make_unique<PosixBinaryFile>(fd);
}

std::unique_ptr<ports::BinaryFile> PosixFileIO::OpenAppend(const std::string& path) {
  const std::string host = mapper_.Map(path).string();
  const int fd = ::open(host.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw RuntimeError(kErrFileNotFound);
    ThrowFileError(errno);
  }
  return std::make_unique<PosixBinaryFile>(fd);
}

std::int64_t PosixFileIO::FileLen(const std::string& path) {
  struct stat info {};
  if (::stat(mapper_.Map(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw RuntimeError(kErrFileNotFound);
  }
  return static_cast<std::int64_t>(info.st_size);
}

void PosixFileIO::Name(const std::string& from, const std::string& to) {
  const std::string source = mapper_.Map(from).string();
  const std::string target = mapper_.Map(to).string();
  struct stat info {};
  if (::stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw RuntimeError(kErrFileNotFound);
  }
  // As on Windows, an existing name is never replaced.
  if (::lstat(target.c_str(), &info) == 0) throw RuntimeError(kErrPathFileAccess);
  if (::rename(source.c_str(), target.c_str()) != 0) ThrowFileError(errno);
}

void PosixFileIO::Kill(const std::string& path) {
  const std::string host = mapper_.Map(path).string();
  struct stat info {};
  if (::stat(host.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw RuntimeError(kErrFileNotFound);
  }
  if (::unlink(host.c_str()) != 0) {
    if (errno == ENOENT) throw RuntimeError(kErrFileNotFound);
    throw RuntimeError(kErrPathFileAccess);
  }
}

std::string PosixFileIO::ReadAll(const std::string& path) {
  const std::string host = mapper_.Map(path).string();
  struct stat info {};
  if (::stat(host.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw RuntimeError(kErrFileNotFound);
  }
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw RuntimeError(kErrPathFileAccess);
  std::string content;
  char block[65536];
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      throw RuntimeError(kErrPathFileAccess);
    }
    if (n == 0) break;
    content.append(block, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

}  // namespace updater::posix
