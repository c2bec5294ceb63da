#include "backends/posix/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "backends/posix/emulation/wildcard.h"
#include "backends/posix/errors.h"
#include "ports/errors.h"
#include "util/text.h"

namespace updater::posix {

namespace fs = std::filesystem;

namespace {

// Wine shows files whose names start with a dot as hidden, and the search skips hidden files.
bool IsHidden(const std::string& name) { return !name.empty() && name.front() == '.'; }

// A directory search: the entry the last component names (wildcards allowed), tested by wanted.
template <typename Wanted>
bool Search(const PathMapper& mapper, const std::string& corePath, Wanted wanted) {
  std::string folder, name;
  SplitLast(corePath, folder, name);
  if (HasWildcard(name)) {
    const fs::path host = mapper.Map(folder);
    for (const std::string& entry : MatchingEntries(host, name)) {
      std::error_code ec;
      if (wanted(fs::status(host / entry, ec), entry)) return true;
    }
    return false;
  }
  std::error_code ec;
  const fs::path host = mapper.Map(corePath);
  return wanted(fs::status(host, ec), host.filename().string());
}
}  // namespace

void SplitLast(const std::string& corePath, std::string& folder, std::string& name) {
  const std::size_t sep = corePath.find_last_of("\\/");
  if (sep == std::string::npos) {
    // "C:name" lies in the drive's root for our purposes; a bare name in the current folder.
    const bool drive = HasDriveLetter(corePath);
    folder = drive ? corePath.substr(0, 2) : "";
    name = drive ? corePath.substr(2) : corePath;
    return;
  }
  folder = corePath.substr(0, sep == 0 ? 1 : sep);
  name = corePath.substr(sep + 1);
}

void SortNoCase(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string la = text::AsciiLower(a), lb = text::AsciiLower(b);
    return la != lb ? la < lb : a < b;
  });
}

std::vector<std::string> MatchingEntries(const fs::path& folder, const std::string& pattern) {
  std::vector<std::string> out;
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
  if (ec) return out;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (WildcardMatch(pattern, name)) out.push_back(name);
  }
  SortNoCase(out);
  return out;
}

bool PosixFiles::FileExists(const std::string& path) {
  return Search(mapper_, path, [](const fs::file_status& st, const std::string& name) {
    return fs::is_regular_file(st) && !IsHidden(name);
  });
}

bool PosixFiles::FolderExists(const std::string& path) {
  return Search(mapper_, path, [](const fs::file_status& st, const std::string& name) {
    return (fs::is_directory(st) || fs::is_regular_file(st)) && !IsHidden(name);
  });
}

bool PosixFiles::FolderIsEmpty(const std::string& path) {
  std::error_code ec;
  const fs::path host = mapper_.Map(path);
  return fs::is_directory(host, ec) && fs::is_empty(host, ec) && !ec;
}

void PosixFiles::MakeFolder(const std::string& path) {
  std::string trimmed = path;
  while (!trimmed.empty() && (trimmed.back() == '\\' || trimmed.back() == '/')) trimmed.pop_back();
  std::string folder, name;
  SplitLast(trimmed, folder, name);
  // Names Windows refuses: empty, or holding a character reserved in file names.
  if (trimmed.empty() || name.empty() || name.find_first_of("<>:\"|?*") != std::string::npos ||
      (HasDriveLetter(trimmed) && trimmed.size() == 2)) {
    throw RuntimeError(kErrBadFileName);
  }
  const fs::path host = mapper_.Map(trimmed);
  if (::mkdir(host.c_str(), 0777) == 0) return;
  ThrowFileError(errno);
}

namespace {
// The names of the entries directly in folder that take(entry) keeps, sorted as Windows lists
// them.
template <typename Take>
std::vector<std::string> ListEntries(const PathMapper& mapper, const std::string& folder,
                                     Take take) {
  const fs::path host = mapper.Map(folder);
  std::error_code ec;
  if (!fs::is_directory(host, ec)) throw RuntimeError(kErrPathNotFound);
  std::vector<std::string> names;
  fs::directory_iterator it(host, ec);
  if (ec) throw RuntimeError(kErrPathNotFound);
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    if (take(*it)) names.push_back(it->path().filename().string());
  }
  SortNoCase(names);
  return names;
}
}  // namespace

std::vector<std::string> PosixFiles::ListFiles(const std::string& folder) {
  return ListEntries(mapper_, folder, [](const fs::directory_entry& entry) {
    std::error_code ec;
    return entry.is_regular_file(ec);
  });
}

std::vector<std::string> PosixFiles::ListFolders(const std::string& folder) {
  return ListEntries(mapper_, folder, [](const fs::directory_entry& entry) {
    std::error_code ec;
    return entry.is_directory(ec);
  });
}

std::vector<std::string> PosixFiles::ListOthers(const std::string& folder) {
  return ListEntries(mapper_, folder, [](const fs::directory_entry& entry) {
    std::error_code ec;
    const fs::file_status st = entry.symlink_status(ec);
    return !fs::is_regular_file(st) && !fs::is_directory(st);
  });
}

ports::Files::Kind PosixFiles::KindOf(const std::string& path) {
  std::error_code ec;
  const fs::path host = mapper_.Map(path);
  const fs::file_status link = fs::symlink_status(host, ec);
  if (!fs::exists(link)) {
    if (ec && ec.value() != ENOENT && ec.value() != ENOTDIR) {
      throw RuntimeError(kErrPathFileAccess);
    }
    return Kind::None;
  }
  // A link counts as what it leads to, as the copy treats it; a dangling one as a file.
  return fs::is_directory(fs::status(host, ec)) ? Kind::Folder : Kind::File;
}

void PosixFiles::Rename(const std::string& from, const std::string& to) {
  const fs::path source = mapper_.Map(from);
  const fs::path target = mapper_.Map(to);
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(source, ec))) {
    throw RuntimeError(kErrPathNotFound);
  }
  // rename(2) would replace an existing file; Windows refuses.
  if (fs::exists(fs::symlink_status(target, ec))) {
    throw RuntimeError(kErrPathFileAccess);
  }
  if (::rename(source.c_str(), target.c_str()) == 0) return;
  if (errno == ENOENT || errno == ENOTDIR) throw RuntimeError(kErrPathNotFound);
  throw RuntimeError(kErrPathFileAccess);  // EXDEV, EACCES, ...
}

}  // namespace updater::posix
