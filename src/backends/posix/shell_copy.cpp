#include "backends/posix/shell_copy.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "backends/posix/emulation/path_mapper.h"

namespace updater::posix {

namespace fs = std::filesystem;

fs::file_status Lstat(const fs::path& p) {
  std::error_code ec;
  return fs::symlink_status(p, ec);
}

bool Exists(const fs::path& p) { return fs::exists(Lstat(p)); }

bool IsFolder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

namespace {

fs::path TempBeside(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  fs::path temp = target;
  temp += ".copy-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  return temp;
}

std::error_code LastError() { return {errno, std::generic_category()}; }

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // close() reports what a delayed write could not store; the caller must see it.
  std::error_code Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) != 0 ? LastError() : std::error_code();
  }

 private:
  int fd_;
};

std::error_code CopyData(int in, int out, off_t size) {
  off_t done = 0;
  bool kernelCopy = true;
  std::vector<char> buffer;
  while (done < size) {
    if (kernelCopy) {
      const ssize_t n =
          ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(size - done), 0);
      if (n > 0) {
        done += n;
        continue;
      }
      if (n == 0) return {};  // the source shrank while being copied
      // File systems (and kernels) without it: copy through a buffer instead.
      if (done == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                        errno == EOPNOTSUPP || errno == EBADF)) {
        kernelCopy = false;
        continue;
      }
      if (errno == EINTR) continue;
      return LastError();
    }
    buffer.resize(1 << 17);
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastError();
    if (n == 0) return {};
    for (ssize_t put = 0; put < n;) {
      const ssize_t w = ::write(out, buffer.data() + put, static_cast<size_t>(n - put));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return LastError();
      put += w;
    }
    done += n;
  }
  return {};
}

// Copies files for one shell operation. A file that replaces another is written to a temporary
// sibling and then swapped into place, so a target is either the old file or the whole new one;
// a new file is written where it goes (a rename less per file). The swap leaves
// the old file under the temporary name, and the next file is written into it: on file systems
// where making and freeing inodes is dear (ext4 without a journal checks every recently freed
// inode), an upgrade of thousands of files then costs no more than overwriting them in place.
}  // namespace

class FileCopier {
 public:
  FileCopier() = default;
  FileCopier(const FileCopier&) = delete;
  FileCopier& operator=(const FileCopier&) = delete;
  ~FileCopier() { DropSpare(); }

  std::error_code CopyFile(const fs::path& source, const fs::path& target) {
    struct stat targetStat {};
    const bool targetExists = ::lstat(target.c_str(), &targetStat) == 0;
    if (targetExists && S_ISDIR(targetStat.st_mode)) {
      return std::make_error_code(std::errc::is_a_directory);
    }
    if (targetExists && S_ISLNK(targetStat.st_mode) && IsFolder(target)) {
      return std::make_error_code(std::errc::is_a_directory);
    }
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return LastError();
    struct stat sourceStat {};
    if (::fstat(in.get(), &sourceStat) != 0) return LastError();
    if (!S_ISREG(sourceStat.st_mode)) return std::make_error_code(std::errc::invalid_argument);

    if (!targetExists) {
      // Nothing is replaced: the file is written where it goes, as the Windows shell writes it.
      // A copy that fails removes it; one cut short with the process is the installation's to
      // undo.
      Fd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      if (out.get() >= 0) return Fill(in.get(), sourceStat, out, target);
      if (errno != EEXIST) return LastError();
      // It came meanwhile: it is replaced as any other.
    }
    fs::path temp;
    Fd out(OpenTemp(target, temp));
    if (out.get() < 0) return LastError();
    std::error_code ec = Fill(in.get(), sourceStat, out, temp);
    if (ec) return ec;
    if (targetExists && exchange_) {
      if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        spare_ = temp;  // now the old file, free to be written over
        return {};
      }
      if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) exchange_ = false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      ec = LastError();
      ::unlink(temp.c_str());
    }
    return ec;
  }

 private:
  // Writes the source's content and mode into out and closes it; removes path when that fails.
  static std::error_code Fill(int in, const struct stat& source, Fd& out, const fs::path& path) {
    std::error_code ec = CopyData(in, out.get(), source.st_size);
    if (!ec && ::fchmod(out.get(), source.st_mode & 07777) != 0) ec = LastError();
    const std::error_code closed = out.Close();
    if (!ec) ec = closed;
    if (ec) ::unlink(path.c_str());
    return ec;
  }

  // A file open for writing under a temporary name beside target: the spare when it can be
  // reused safely, a new file otherwise.
  int OpenTemp(const fs::path& target, fs::path& temp) {
    temp = TempBeside(target);
    if (!spare_.empty()) {
      const bool here = spare_.parent_path() == target.parent_path();
      if (here || ::rename(spare_.c_str(), temp.c_str()) == 0) {
        if (here) temp = spare_;
        spare_.clear();
        // Only a plain file with no other name is written over: the old target may have been a
        // link, or a hard link whose other names must keep their content. Nor one with extended
        // attributes (ACLs, labels): they belonged to the old file, not to the new one.
        const int fd = ::open(temp.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
            ::flistxattr(fd, nullptr, 0) == 0 && ::ftruncate(fd, 0) == 0) {
          return fd;
        }
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        temp = TempBeside(target);
      } else {
        DropSpare();
      }
    }
    return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  }

  void DropSpare() {
    if (!spare_.empty()) ::unlink(spare_.c_str());
    spare_.clear();
  }

  fs::path spare_;
  bool exchange_ = true;
};

namespace {

std::error_code CopyOneLink(const fs::path& source, const fs::path& target) {
  std::error_code ec;
  if (IsFolder(target) && !fs::is_symlink(Lstat(target))) {
    return std::make_error_code(std::errc::is_a_directory);
  }
  const fs::path temp = TempBeside(target);
  fs::copy_symlink(source, temp, ec);
  if (!ec) fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
  }
  return ec;
}

// Copies source (file or folder) to target, merging into an existing folder. Links inside a
// folder are copied as links, never followed, so the copy holds only what the source names.
std::error_code CopyItem(FileCopier& files, const fs::path& source, const fs::path& target,
                         bool top) {
  std::error_code ec;
  const fs::file_status st = top ? fs::status(source, ec) : Lstat(source);
  if (fs::is_symlink(st)) return CopyOneLink(source, target);
  if (fs::is_regular_file(st)) return files.CopyFile(source, target);
  if (!fs::is_directory(st))
    return top ? std::make_error_code(std::errc::no_such_file_or_directory)
               : std::error_code();  // sockets, devices: skipped
  if (!IsFolder(target)) {
    if (Exists(target)) return std::make_error_code(std::errc::file_exists);
    fs::create_directory(target, ec);
    if (ec) return ec;
  }
  std::error_code first;
  fs::directory_iterator it(source, ec);
  if (ec) return ec;
  FolderEntries entries(target);
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) return ec;
    const fs::path dest = entries.Entry(it->path().filename().string());
    const std::error_code e = CopyItem(files, it->path(), dest, false);
    if (e && !first) first = e;  // go on with the rest, report the first failure
  }
  return first;
}

std::error_code MoveItem(FileCopier& files, const fs::path& source, const fs::path& target) {
  std::error_code ec;
  if (IsFolder(source) && IsFolder(target)) {
    // Moving a folder onto a folder of that name merges the two.
    ec = CopyItem(files, source, target, true);
    if (!ec) fs::remove_all(source, ec);
    return ec;
  }
  fs::rename(source, target, ec);
  if (ec.value() == EXDEV) {
    ec = CopyItem(files, source, target, true);
    if (!ec) fs::remove_all(source, ec);
  }
  return ec;
}

}  // namespace

CopySession::CopySession() : files_(std::make_unique<FileCopier>()) {}
CopySession::~CopySession() = default;

std::error_code CopySession::Copy(const fs::path& source, const fs::path& target) {
  return CopyItem(*files_, source, target, true);
}

std::error_code CopySession::Move(const fs::path& source, const fs::path& target) {
  return MoveItem(*files_, source, target);
}

}  // namespace updater::posix
