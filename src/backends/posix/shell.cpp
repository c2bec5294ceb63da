#include "backends/posix/shell.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "backends/posix/emulation/trash.h"
#include "backends/posix/emulation/wildcard.h"
#include "backends/posix/files.h"
#include "backends/posix/shell_copy.h"

namespace updater::posix {

namespace fs = std::filesystem;

namespace {

bool EndsWithSeparator(const std::string& s) {
  return !s.empty() && (s.back() == '\\' || s.back() == '/');
}

std::string StripSeparators(std::string s) {
  while (s.size() > 1 && EndsWithSeparator(s)) s.pop_back();
  return s;
}

std::int32_t FromError(const std::error_code& ec) {
  if (!ec) return kShellOk;
  switch (ec.value()) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return kShellAccessDenied;
    case ENOSPC:
    case EDQUOT:
      return kShellDiskFull;
    case ENOENT:
    case ENOTDIR:
      return kShellPathNotFound;
    case EEXIST:
    case ENOTEMPTY:
    case EISDIR:
      return kShellAlreadyExists;
    case ENAMETOOLONG:
      return kShellInvalidName;
    default:
      return kShellAccessDenied;
  }
}

// True when inner is outer or lies below it.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(inner, ec);
  const fs::path b = fs::weakly_canonical(outer, ec);
  auto ia = a.begin();
  for (auto ib = b.begin(); ib != b.end(); ++ib, ++ia) {
    if (ib->empty()) continue;  // the empty name after a trailing separator
    if (ia == a.end() || *ia != *ib) return false;
  }
  return true;
}

// A read-only file (no write bit) cannot be deleted, as the read-only attribute prevents it on
// Windows.
bool IsReadOnlyFile(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

std::error_code DeleteItem(const fs::path& item, bool toTrash) {
  if (IsReadOnlyFile(item)) return std::make_error_code(std::errc::permission_denied);
  if (toTrash) return MoveToTrash(item);
  std::error_code ec;
  // remove_all never follows a link: only what the path names goes.
  fs::remove_all(item, ec);
  return ec;
}

// The source of a request: either one item or the entries a pattern (or a trailing separator,
// meaning "the content of this folder") selects in a folder.
struct Source {
  bool many = false;
  fs::path folder;                 // for many: where the entries lie
  std::vector<std::string> names;  // for many: the selected entries
  fs::path item;                   // for one: the host path
  std::string writtenName;         // for one: the last component as the caller wrote it
};

Source ParseSource(const PathMapper& mapper, const std::string& from, bool contentOnTrailing) {
  Source src;
  std::string folder, name;
  const bool trailing = EndsWithSeparator(from);
  const std::string stripped = StripSeparators(from);
  SplitLast(stripped, folder, name);
  if (HasWildcard(name)) {
    src.many = true;
    src.folder = mapper.Map(folder);
    src.names = MatchingEntries(src.folder, name);
  } else if (trailing && contentOnTrailing && IsFolder(mapper.Map(stripped))) {
    src.many = true;
    src.folder = mapper.Map(stripped);
    src.names = MatchingEntries(src.folder, "*");
  } else {
    src.item = mapper.Map(stripped);
    src.writtenName = name;
  }
  return src;
}

}  // namespace

std::int32_t PosixShell::SHFileOperation(ports::ShellFileOperation& request) {
  // Each list holds one path: the text up to the first zero character.
  const std::string from = request.pFrom.substr(0, request.pFrom.find('\0'));
  const std::string to = request.pTo ? request.pTo->substr(0, request.pTo->find('\0')) : "";
  request.fAnyOperationsAborted = false;
  if (from.empty()) return kShellAccessDenied;
  std::int32_t result = kShellInvalidParameter;
  switch (request.wFunc) {
    case ports::FO_COPY:
      result = Copy(from, to, false);
      break;
    case ports::FO_MOVE:
      result = Copy(from, to, true);
      break;
    case ports::FO_RENAME:
      result = Rename(from, to);
      break;
    case ports::FO_DELETE:
      result = Delete(from, (request.fFlags & ports::FOF_ALLOWUNDO) != 0);
      break;
    default:
      break;
  }
  if (result == kShellCancelled) request.fAnyOperationsAborted = true;
  return result;
}

std::int32_t PosixShell::Copy(const std::string& from, const std::string& to, bool move) {
  if (to.empty()) return kShellInvalidParameter;
  const Source src = ParseSource(mapper_, from, true);
  const bool targetTrailing = EndsWithSeparator(to);
  const fs::path target = mapper_.Map(StripSeparators(to));
  std::error_code ec;
  CopySession files;
  auto transfer = [move, &files](const fs::path& a, const fs::path& b) {
    return move ? files.Move(a, b) : files.Copy(a, b);
  };

  if (src.many) {
    // A pattern that selects nothing (or lies in a missing folder) is no failure.
    if (src.names.empty()) return kShellOk;
    if (!Exists(target)) {
      const fs::path one = src.folder / src.names.front();
      if (!targetTrailing && src.names.size() == 1 && !IsFolder(one)) {
        // One file to a missing name: the shell makes a file of that name.
        fs::create_directories(target.parent_path(), ec);
        return FromError(ec ? ec : transfer(one, target));
      }
      fs::create_directories(target, ec);
      if (ec) return FromError(ec);
    }
    if (!IsFolder(target)) return kShellAlreadyExists;
    std::error_code first;
    FolderEntries entries(target);
    for (const std::string& name : src.names) {
      const fs::path item = src.folder / name;
      const fs::path dest = entries.Entry(name);
      if (IsWithin(dest, item)) {
        if (!first) first = std::make_error_code(std::errc::invalid_argument);
        continue;
      }
      const std::error_code e = transfer(item, dest);
      if (e && !first) first = e;
    }
    return first.value() == EINVAL ? kShellDestSubtree : FromError(first);
  }

  const fs::file_status st = fs::status(src.item, ec);
  if (!fs::exists(st)) return kShellSourceNotFound;
  fs::path dest;
  if (IsFolder(target)) {
    dest = target / PathMapper::MatchEntry(target, src.writtenName);
  } else if (Exists(target)) {
    if (fs::is_directory(st)) return kShellAlreadyExists;
    dest = target;
  } else if (targetTrailing) {
    if (move) return kShellCancelled;
    // A missing folder: the shell makes a folder for a folder, but for a file it leaves an empty
    // folder behind and gives up.
    fs::create_directories(target, ec);
    if (ec) return FromError(ec);
    if (!fs::is_directory(st)) return kShellCancelled;
    dest = target / src.writtenName;
  } else {
    // A move gives up where the target's folder is missing; a copy makes it.
    if (move && !IsFolder(target.parent_path())) return kShellCancelled;
    fs::create_directories(target.parent_path(), ec);
    if (ec) return FromError(ec);
    dest = target;
  }
  if (fs::exists(dest, ec) && fs::equivalent(src.item, dest, ec)) return kShellSameFile;
  if (IsWithin(dest, src.item)) return kShellDestSubtree;
  if (!fs::is_directory(st) && IsFolder(dest)) return kShellAlreadyExists;
  if (fs::is_directory(st) && Exists(dest) && !IsFolder(dest)) return kShellAlreadyExists;
  return FromError(transfer(src.item, dest));
}

std::int32_t PosixShell::Rename(const std::string& from, const std::string& to) {
  if (to.empty()) return kShellInvalidParameter;
  const fs::path source = mapper_.Map(StripSeparators(from));
  const fs::path target = mapper_.Map(StripSeparators(to));
  if (!Exists(source)) return kShellSourceNotFound;
  std::error_code ec;
  // A new name that is taken is refused, unless it is the same item in another case.
  if (Exists(target) && !fs::equivalent(source, target, ec)) return kShellAlreadyExists;
  if (!IsFolder(target.parent_path())) return kShellSourceNotFound;
  fs::rename(source, target, ec);
  if (ec.value() == EXDEV) ec = CopySession().Move(source, target);
  return FromError(ec);
}

std::int32_t PosixShell::Delete(const std::string& from, bool toTrash) {
  std::string folder, name;
  const std::string stripped = StripSeparators(from);
  SplitLast(stripped, folder, name);
  if (HasWildcard(name)) {
    const fs::path host = mapper_.Map(folder);
    std::error_code first;
    for (const std::string& entry : MatchingEntries(host, name)) {
      const std::error_code e = DeleteItem(host / entry, toTrash);
      if (e && !first) first = e;
    }
    return FromError(first);
  }
  const fs::path item = mapper_.Map(stripped);
  if (!Exists(item)) {
    return IsFolder(item.parent_path()) ? kShellFileNotFound : kShellFolderMissing;
  }
  return FromError(DeleteItem(item, toTrash));
}

}  // namespace updater::posix
