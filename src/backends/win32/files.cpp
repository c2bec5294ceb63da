// Files: the existence tests as directory searches, making one folder, listing a folder.
#include <algorithm>

#include "backends/win32/ansi.h"
#include "backends/win32/errors.h"
#include "backends/win32/files.h"
#include "backends/win32/windows_api.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

constexpr DWORD kNotOrdinary =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

template <typename Char>
bool IsDotEntry(const Char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// A directory search for path: true when an entry matches whose attributes (of directory,
// hidden, system) are all in `allowed`. A path ending in a separator searches its content, so
// the "." entry of an existing folder matches it. The separator is tested on the UTF-8 text: in
// a double-byte code page a trailing byte may be 0x5C.
bool Search(const std::string& path, DWORD allowed) {
  if (path.empty()) return false;
  std::string pattern = Utf8ToAnsi(path);
  if (EndsWithSeparator(path)) pattern += '*';
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    found = (entry.dwFileAttributes & kNotOrdinary & ~allowed) == 0;
  } while (!found && FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

std::wstring WideFolder(const std::string& folder) {
  std::wstring wide = Utf8ToWide(folder);
  while (wide.size() > 1 && (wide.back() == L'\\' || wide.back() == L'/') &&
         wide[wide.size() - 2] != L':') {
    wide.pop_back();
  }
  return wide;
}

std::wstring Upper(std::wstring s) {
  if (!s.empty()) CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
}

}  // namespace

bool Win32Files::FileExists(const std::string& path) { return Search(path, 0); }

bool Win32Files::FolderExists(const std::string& path) {
  return Search(path, FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32Files::FolderIsEmpty(const std::string& path) {
  if (path.empty()) return false;
  std::string pattern = Utf8ToAnsi(path);
  pattern += EndsWithSeparator(path) ? "*" : "\\*";
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool empty = true;
  do {
    empty = IsDotEntry(entry.cFileName);
  } while (empty && FindNextFileA(search, &entry));
  FindClose(search);
  return empty;
}

void Win32Files::MakeFolder(const std::string& path) {
  if (CreateDirectoryA(Utf8ToAnsi(path).c_str(), nullptr)) return;
  ThrowFileError(GetLastError());
}

namespace {
// The names of the entries directly in folder that take(entry) keeps, in the order Windows
// keeps a folder: by the upper-cased UTF-16 name.
template <typename Take>
std::vector<std::string> ListEntries(const std::string& folder, Take take) {
  const std::wstring wide = WideFolder(folder);
  const DWORD attributes =
      wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw RuntimeError(kErrPathNotFound);
  }
  std::wstring pattern = wide;
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';

  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (take(entry)) names.emplace_back(entry.cFileName);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  std::vector<std::pair<std::wstring, std::wstring>> keyed;
  keyed.reserve(names.size());
  for (auto& name : names) keyed.emplace_back(Upper(name), std::move(name));
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::string> out;
  out.reserve(keyed.size());
  for (const auto& entryName : keyed) out.push_back(WideToUtf8(entryName.second));
  return out;
}

bool IsFolderEntry(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::vector<std::string> Win32Files::ListFiles(const std::string& folder) {
  return ListEntries(folder, [](const WIN32_FIND_DATAW& entry) { return !IsFolderEntry(entry); });
}

std::vector<std::string> Win32Files::ListFolders(const std::string& folder) {
  return ListEntries(folder, [](const WIN32_FIND_DATAW& entry) {
    return IsFolderEntry(entry) && !IsDotEntry(entry.cFileName);
  });
}

std::vector<std::string> Win32Files::ListOthers(const std::string& folder) {
  // Symbolic links and junctions; devices cannot lie in a folder here.
  return ListEntries(folder, [](const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  });
}

ports::Files::Kind Win32Files::KindOf(const std::string& path) {
  const std::wstring wide = WideFolder(path);
  const DWORD attributes =
      wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::File;
  }
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return Kind::None;
    default:
      throw RuntimeError(kErrPathFileAccess, "Path/File access error");
  }
}

void Win32Files::Rename(const std::string& from, const std::string& to) {
  // Without MOVEFILE_COPY_ALLOWED: another volume fails instead of copying.
  if (MoveFileExW(WideFolder(from).c_str(), WideFolder(to).c_str(), 0)) return;
  ThrowFileError(GetLastError());
}

}  // namespace updater::win32
