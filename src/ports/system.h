#pragma once
// The ports: what the core expects of the machine, in its own terms. Each backend (win32, the
// product; posix, the stand-in used to build and test on Linux) implements them. Text is UTF-8;
// paths are written the Windows way (backslashes, drive letters), as the core builds them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace updater::ports {

// GetPrivateProfileStringA / WritePrivateProfileStringA.
class ProfileStrings {
 public:
  virtual ~ProfileStrings() = default;
  // The value of key in section of file, cut to bufferSize - 1 bytes in the ANSI code page, or
  // defaultValue when the file, the section or the key is missing.
  virtual std::string GetString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, std::size_t bufferSize,
                                const std::string& file) = 0;
  // Stores value (creating the section and the key when missing); false when the service refuses.
  virtual bool WriteString(const std::string& section, const std::string& key,
                           const std::string& value, const std::string& file) = 0;
};

// IsWow64Process and GetSystemDirectoryA.
class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // The call's own result; wow64 is written only when it succeeds.
  virtual bool IsWow64Process(bool& wow64) = 0;
  // The system directory as the service writes it into a buffer of bufferSize characters;
  // empty when the service fails or the buffer is too small.
  virtual std::string GetSystemDirectory(std::size_t bufferSize) = 0;
  // The folder of the running program, without a trailing separator.
  virtual std::string ProgramFolder() = 0;
};

// Existence tests, making one folder, listing a folder.
class Files {
 public:
  virtual ~Files() = default;
  // A directory search with no attribute bits: true for an ordinary file (folders, hidden and
  // system files do not count). A wildcard in the last component matches as the search does.
  virtual bool FileExists(const std::string& path) = 0;
  // A directory search with the directory attribute: true for a folder or an ordinary file.
  virtual bool FolderExists(const std::string& path) = 0;
  // True for an existing folder that holds no files and no folders.
  virtual bool FolderIsEmpty(const std::string& path) = 0;
  // Makes one folder (the parent must exist); throws RuntimeError on failure (75 when it exists
  // or access is denied, 76 when the path is not found, 52 for a bad name).
  virtual void MakeFolder(const std::string& path) = 0;
  // Names of the files (not folders) directly in folder, in the order the scripting file-system
  // object yields them (sorted without regard to case); throws RuntimeError 76 when missing.
  virtual std::vector<std::string> ListFiles(const std::string& folder) = 0;

  // What a path names, hidden and system entries included. Throws RuntimeError 75 when the
  // file system cannot tell.
  enum class Kind { None, File, Folder };
  virtual Kind KindOf(const std::string& path) = 0;
  // Names of the folders directly in folder, hidden ones included, sorted as ListFiles sorts;
  // throws RuntimeError 76 when missing.
  virtual std::vector<std::string> ListFolders(const std::string& folder) = 0;
  // Gives a file or folder another name on the same volume, without copying; to must not
  // exist. A file held open by a running program can be renamed; a file opened without delete
  // sharing cannot. Throws RuntimeError 76 when from or the folder of to is missing, 75 when
  // the rename is refused (to exists, sharing, another volume).
  virtual void Rename(const std::string& from, const std::string& to) = 0;

  // What the installation does to its own folders and to what it created: exact names only (no
  // patterns, no code-page conversion), whatever the read-only, hidden or system attributes.
  // Clears those attributes on path and everything below it; links are not followed. Raises
  // nothing: what cannot be changed shows when it is removed.
  virtual void ClearAttributes(const std::string& path) = 0;
  // Removes a file, or a folder with everything in it; nothing happens when path names nothing.
  // Throws RuntimeError 75 when something stays.
  virtual void Remove(const std::string& path) = 0;
  // Replaces path with bytes as a whole: written under a temporary name beside it, flushed to
  // the disk, renamed into place, and the folder flushed, so that after a power cut path is
  // either the old file (or none) or all of bytes. Throws RuntimeError 75 on failure.
  virtual void WriteWhole(const std::string& path, const std::string& bytes) = 0;
  // True when text passes through the ANSI code page unchanged, so that the shell's copy writes
  // the name the installation planned.
  virtual bool FitsAnsiCodePage(const std::string& text) = 0;
  // Names directly in folder of what is neither an ordinary file nor an ordinary folder:
  // symbolic links and junctions (whatever they lead to, if anything), devices, sockets. The
  // listings above follow such an entry or pass it by, while a copy carries it as it is.
  // Throws RuntimeError 76 when folder is missing.
  virtual std::vector<std::string> ListOthers(const std::string& folder) = 0;
};

// SHFileOperationA: the request record, field for field.
enum : std::uint32_t { FO_MOVE = 1, FO_COPY = 2, FO_DELETE = 3, FO_RENAME = 4 };
enum : std::uint16_t {
  FOF_SILENT = 0x0004,
  FOF_NOCONFIRMATION = 0x0010,
  FOF_ALLOWUNDO = 0x0040,
  FOF_NOCONFIRMMKDIR = 0x0200,
  FOF_NO_CONNECTED_ELEMENTS = 0x2000,
};

struct ShellFileOperation {
  std::uintptr_t hwnd = 0;
  std::uint32_t wFunc = 0;
  // Lists of paths, each path ended by a zero character and the list by a second one. The
  // backend appends the two closing zero bytes itself, so a plain path is a list of one.
  std::string pFrom;
  std::optional<std::string> pTo;  // absent (null) for a delete
  std::uint16_t fFlags = 0;
  bool fAnyOperationsAborted = false;
  std::uintptr_t hNameMappings = 0;
  std::optional<std::string> lpszProgressTitle;
};

class Shell {
 public:
  virtual ~Shell() = default;
  // The shell's result, unchanged: 0 on success, otherwise its error code.
  virtual std::int32_t SHFileOperation(ShellFileOperation& request) = 0;
};

// Show states of a started program.
enum class ShowState : int { Hidden = 0, Normal = 1, MinimizedFocus = 2 };

constexpr std::uint32_t SYNCHRONIZE = 0x00100000;
constexpr std::uint32_t INFINITE = 0xFFFFFFFF;
constexpr std::uint32_t WAIT_OBJECT_0 = 0;
constexpr std::uint32_t WAIT_TIMEOUT = 258;
constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFF;

// An opened process; closing it (destroying the object) is CloseHandle.
class ProcessHandle {
 public:
  virtual ~ProcessHandle() = default;
  // WaitForSingleObject: WAIT_OBJECT_0 when the process has ended, WAIT_TIMEOUT or WAIT_FAILED.
  virtual std::uint32_t Wait(std::uint32_t milliseconds) = 0;
  // The exit code of an ended process; empty while it runs or when it cannot be read.
  virtual std::optional<std::uint32_t> ExitCode() = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts a command line (program and arguments as typed at a command prompt) with a show
  // state and returns the process id. Throws RuntimeError 53 when it cannot be started.
  virtual std::uint32_t Start(const std::string& commandLine, ShowState show) = 0;
  // OpenProcess: null when the process cannot be opened.
  virtual std::unique_ptr<ProcessHandle> OpenProcess(std::uint32_t access, std::uint32_t pid) = 0;
};

}  // namespace updater::ports
