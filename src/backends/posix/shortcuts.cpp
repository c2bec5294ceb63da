#include "backends/posix/shortcuts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "ports/errors.h"
#include "util/text.h"

namespace updater::posix {

namespace fs = std::filesystem;

namespace {

// A value as a desktop entry's string types hold it: \ and control characters escaped, and a
// leading blank kept (it would otherwise be dropped as layout).
std::string EscapeValue(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case ' ':
        out += i == 0 ? "\\s" : " ";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// One argument of an Exec line: quoted, with the characters that are special inside the quotes
// escaped, and % doubled so that it is not read as a field code.
std::string QuoteExecArgument(std::string_view argument) {
  std::string quoted = "\"";
  for (const char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return quoted + "\"";
}

[[noreturn]] void Fail(const std::string& what, int error) {
  const int number = error == ENOENT || error == ENOTDIR ? kErrPathNotFound : kErrPathFileAccess;
  throw RuntimeError(number, what + ": " + std::strerror(error));
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string PosixShortcuts::LauncherText(const std::string& name, const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" +
         EscapeValue(name) +
         "\n"
         "Exec=" +
         EscapeValue(QuoteExecArgument(program)) +
         "\n"
         "Icon=" +
         EscapeValue(program) +
         "\n"
         "Terminal=false\n";
}

std::string PosixShortcuts::DesktopFolder() {
  std::string folder;
  if (const char* xdg = std::getenv("XDG_DESKTOP_DIR"); xdg != nullptr && xdg[0] != '\0') {
    folder = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    folder = (fs::path(home) / "Desktop").string();
  } else {
    throw RuntimeError(kErrPathNotFound, "No desktop folder: HOME is not set");
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    throw RuntimeError(kErrPathNotFound, "Desktop folder not found: " + folder);
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

void PosixShortcuts::SaveShortcut(const std::string& link, const std::string& target) {
  fs::path file = mapper_.Map(link);
  std::string name = file.filename().string();
  if (name.size() >= 4 &&
      text::EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".lnk"))
    name.resize(name.size() - 4);
  if (name.empty()) throw RuntimeError(kErrBadFileName, "Bad file name");
  file.replace_filename(name + ".desktop");
  const std::string text = LauncherText(name, mapper_.Map(target).string());

  // Written beside the launcher and renamed over it, so a desktop never shows a half-written one.
  std::string temp = (file.parent_path() / ("." + name + ".desktop-XXXXXX")).string();
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) Fail("Cannot write " + file.string(), errno);
  // Desktops start only launchers marked executable.
  const bool written = ::fchmod(fd, 0755) == 0 && WriteAll(fd, text);
  const int writeError = errno;
  if (::close(fd) != 0 || !written) {
    ::unlink(temp.c_str());
    Fail("Cannot write " + file.string(), written ? errno : writeError);
  }
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    Fail("Cannot write " + file.string(), error);
  }
}

}  // namespace updater::posix
