// The exact-name file services of the installation: no wildcard, whatever the write bits (the
// stand-in for the read-only attribute), and a durable whole-file replace.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "backends/posix/emulation/path_mapper.h"
#include "backends/posix/files.h"
#include "ports/errors.h"

namespace updater::posix {

namespace {

// Collected before anything is removed: a folder is not read while its entries go.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  ForEachEntry(folder, [&](std::string_view name) { names.emplace_back(name); });
  return names;
}

// Gives the owner every right on a folder (to list and empty it) and the write bit on a file.
void MakeWritable(const std::string& path, const struct stat& st) {
  const mode_t wanted = S_ISDIR(st.st_mode) ? S_IRWXU : S_IWUSR;
  if ((st.st_mode & wanted) != wanted) ::chmod(path.c_str(), (st.st_mode & 07777) | wanted);
}

void ClearTree(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return;
  MakeWritable(path, st);
  if (!S_ISDIR(st.st_mode)) return;
  for (const std::string& name : Entries(path)) ClearTree(path + "/" + name);
}

bool RemoveTree(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0 || errno == ENOENT;
  MakeWritable(path, st);
  bool removed = true;
  for (const std::string& name : Entries(path)) removed = RemoveTree(path + "/" + name) && removed;
  return removed && (::rmdir(path.c_str()) == 0 || errno == ENOENT);
}

bool WriteAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Sync(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  return ::close(fd) == 0 && synced;
}

// Valid UTF-8, the posix backend's ANSI code page.
bool IsUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || (n == 2 && c < 0xC2) || i + n > s.size()) return false;
    unsigned long cp = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

void PosixFiles::ClearAttributes(const std::string& path) { ClearTree(mapper_.Map(path)); }

void PosixFiles::Remove(const std::string& path) {
  if (!RemoveTree(mapper_.Map(path))) throw RuntimeError(kErrPathFileAccess);
}

void PosixFiles::WriteWhole(const std::string& path, const std::string& bytes) {
  const std::filesystem::path host = mapper_.Map(path);
  const std::string temp = host.string() + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw RuntimeError(kErrPathFileAccess);
  const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), host.c_str()) != 0 ||
      !Sync(host.parent_path(), O_RDONLY | O_DIRECTORY)) {
    ::unlink(temp.c_str());
    throw RuntimeError(kErrPathFileAccess);
  }
}

bool PosixFiles::FitsAnsiCodePage(const std::string& text) { return IsUtf8(text); }

}  // namespace updater::posix
