// The exact-name file services of the installation: wide-character calls only (no pattern, no
// code-page conversion), whatever the read-only, hidden or system attributes, and a durable
// whole-file replace.
#include <algorithm>
#include <string>
#include <vector>

#include "backends/win32/ansi.h"
#include "backends/win32/files.h"
#include "backends/win32/windows_api.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

constexpr DWORD kInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::wstring Wide(const std::string& path) {
  std::wstring wide = Utf8ToWide(path);
  while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
  return wide;
}

// The entries of a folder by their exact names: the search pattern is the folder's "\*" alone.
std::vector<std::wstring> Entries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return names;
}

// The attributes of path with the ones that stop a removal cleared; INVALID_FILE_ATTRIBUTES when
// it does not exist.
DWORD Clear(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kInTheWay) != 0) {
    const DWORD rest = attributes & ~(kInTheWay | FILE_ATTRIBUTE_DIRECTORY);
    SetFileAttributesW(path.c_str(), rest == 0 ? FILE_ATTRIBUTE_NORMAL : rest);
  }
  return attributes;
}

bool IsFolderToEnter(DWORD attributes) {
  // A junction or link is removed as itself: what it leads to is not the program's.
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void ClearTree(const std::wstring& path) {
  const DWORD attributes = Clear(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !IsFolderToEnter(attributes)) return;
  for (const std::wstring& name : Entries(path)) ClearTree(path + L"\\" + name);
}

bool IsMissing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

bool RemoveTree(const std::wstring& path) {
  const DWORD attributes = Clear(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return IsMissing(GetLastError());
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return DeleteFileW(path.c_str()) || IsMissing(GetLastError());
  }
  bool removed = true;
  if (IsFolderToEnter(attributes)) {
    for (const std::wstring& name : Entries(path)) {
      removed = RemoveTree(path + L"\\" + name) && removed;
    }
  }
  return removed && (RemoveDirectoryW(path.c_str()) || IsMissing(GetLastError()));
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, part, &written, nullptr)) return false;
    done += written;
  }
  return true;
}

}  // namespace

void Win32Files::ClearAttributes(const std::string& path) { ClearTree(Wide(path)); }

void Win32Files::Remove(const std::string& path) {
  if (!RemoveTree(Wide(path))) throw RuntimeError(kErrPathFileAccess);
}

void Win32Files::WriteWhole(const std::string& path, const std::string& bytes) {
  const std::wstring target = Wide(path);
  const std::wstring temp = target + L".new";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw RuntimeError(kErrPathFileAccess);
  const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
  const bool closed = CloseHandle(file);
  // Write-through: the rename is on the disk when the call returns.
  if (!written || !closed ||
      !MoveFileExW(temp.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temp.c_str());
    throw RuntimeError(kErrPathFileAccess);
  }
  // The folder's entry too, where the file system lets a folder be flushed.
  const std::wstring folder = target.substr(0, target.find_last_of(L"\\/"));
  HANDLE dir = CreateFileW(folder.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir != INVALID_HANDLE_VALUE) {
    FlushFileBuffers(dir);
    CloseHandle(dir);
  }
}

bool Win32Files::FitsAnsiCodePage(const std::string& text) {
  const std::wstring wide = Utf8ToWide(text);
  if (WideToUtf8(wide) != text) return false;  // not UTF-8 to begin with
  if (GetACP() == CP_UTF8) return true;
  BOOL usedDefault = FALSE;
  const int length = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0,
                                    nullptr, &usedDefault);
  return (n > 0 || wide.empty()) && !usedDefault;
}

}  // namespace updater::win32
