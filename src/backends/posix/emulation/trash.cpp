#include "backends/posix/emulation/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace updater::posix {

namespace fs = std::filesystem;

namespace {
std::string PercentEncode(const std::string& path) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
  return buf;
}

std::error_code Errno() { return {errno, std::generic_category()}; }
}  // namespace

fs::path TrashFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return fs::path(data) / "Trash";
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : "/") / ".local/share/Trash";
}

std::error_code MoveToTrash(const fs::path& item, fs::path* trashed) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(item, ec);
  if (ec) return ec;
  const fs::path trash = TrashFolder();
  fs::create_directories(trash / "files", ec);
  if (!ec) fs::create_directories(trash / "info", ec);
  if (ec) return ec;
  ::chmod(trash.c_str(), 0700);

  // Claim a name by creating its info record exclusively; "name", "name.2", "name.3", ...
  const std::string base = absolute.filename().string();
  fs::path info, target;
  int fd = -1;
  for (int n = 1; n < 10000 && fd < 0; ++n) {
    const std::string name = n == 1 ? base : base + "." + std::to_string(n);
    info = trash / "info" / (name + ".trashinfo");
    target = trash / "files" / name;
    if (fs::exists(fs::symlink_status(target, ec))) continue;
    fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) return Errno();
  }
  if (fd < 0) return std::make_error_code(std::errc::file_exists);
  const std::string record =
      "[Trash Info]\nPath=" + PercentEncode(absolute.string()) + "\nDeletionDate=" + Now() + "\n";
  const bool written =
      ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
  ::close(fd);
  if (!written) {
    ::unlink(info.c_str());
    return std::make_error_code(std::errc::io_error);
  }

  if (::rename(absolute.c_str(), target.c_str()) != 0) {
    ec = Errno();
    const bool crossDevice = errno == EXDEV;
    if (crossDevice) {
      // Another file system: copy, then remove the original only when the copy is whole.
      ec.clear();
      fs::copy(absolute, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
      if (!ec) fs::remove_all(absolute, ec);
    }
    if (ec) {
      std::error_code ignored;
      if (crossDevice && fs::exists(absolute, ignored)) fs::remove_all(target, ignored);
      ::unlink(info.c_str());
      return ec;
    }
  }
  if (trashed != nullptr) *trashed = target;
  return {};
}

}  // namespace updater::posix
