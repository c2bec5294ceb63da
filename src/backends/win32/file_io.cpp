#include "backends/win32/file_io.h"

#include <vector>

#include "backends/common/buffered_file.h"
#include "backends/win32/ansi.h"
#include "backends/win32/errors.h"
#include "backends/win32/signatures.h"
#include "backends/win32/transfer.h"
#include "backends/win32/windows_api.h"
#include "ports/errors.h"

namespace updater::win32 {

namespace {

class Win32BinaryFile final : public BufferedBinaryFile {
 public:
  explicit Win32BinaryFile(HANDLE file) : file_(file) {}
  ~Win32BinaryFile() override { CloseQuietly(); }

 private:
  bool IsOpen() const override { return file_ != INVALID_HANDLE_VALUE; }
  void WriteAll(const char* data, std::size_t size) override {
    while (size > 0) {
      const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(file_, data, part, &written, nullptr)) ThrowWriteError(GetLastError());
      data += written;
      size -= written;
    }
  }
  void Release(bool) override {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }

  HANDLE file_;
};

class Win32ReadableFile final : public ports::ReadableFile {
 public:
  explicit Win32ReadableFile(HANDLE file) : file_(file) {}
  ~Win32ReadableFile() override { CloseHandle(file_); }
  std::size_t ReadAt(std::int64_t offset, unsigned char* out, std::size_t size) override {
    std::size_t got = 0;
    while (got < size) {
      // The offset goes with each read, so no file pointer is shared between reads.
      const std::int64_t at = offset + static_cast<std::int64_t>(got);
      OVERLAPPED where{};
      where.Offset = static_cast<DWORD>(at & 0xFFFFFFFF);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size - got, 1u << 30));
      DWORD n = 0;
      if (!ReadFile(file_, out + got, part, &n, &where)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        throw RuntimeError(kErrPathFileAccess, "Path/File access error");
      }
      if (n == 0) break;
      got += n;
    }
    return got;
  }

 private:
  HANDLE file_;
};

// A file opened for reading, shared with writers and deleters as a reader should be.
HANDLE OpenForReading(const std::string& path) {
  HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
      throw RuntimeError(kErrFileNotFound, "File not found");
    }
    throw RuntimeError(kErrPathFileAccess, "Path/File access error");
  }
  return file;
}

}  // namespace

std::unique_ptr<ports::ReadableFile> Win32FileIO::OpenRead(const std::string& path) {
  HANDLE file = OpenForReading(path);
  return std::make_unique<Win32ReadableFile>(file);
}

std::string Win32FileIO::Sha256(const std::string& path) {
  const auto digest = Sha256OfFile(path);
  if (!digest) throw RuntimeError(kErrFileNotFound, "File not found");
  // Without CNG there is no check, and what cannot be checked is not taken.
  if (digest->empty()) throw RuntimeError(kErrPathFileAccess, "Path/File access error");
  return *digest;
}

std::unique_ptr<ports::Transfer> Win32FileIO::NewTransfer() {
  return std::make_unique<WinInetTransfer>(limits_, pump_);
}

std::unique_ptr<ports::BinaryFile> Win32FileIO::OpenBinary(const std::string& path) {
  // OPEN_ALWAYS: created when missing, never truncated.
  HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) ThrowFileError(GetLastError());
  return std::make_unique<Win32BinaryFile>(file);
}

std::unique_ptr<ports::BinaryFile> Win32FileIO::OpenAppend(const std::string& path) {
  HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
      throw RuntimeError(kErrFileNotFound, "File not found");
    }
    ThrowFileError(code);
  }
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(file, end, nullptr, FILE_END)) {
    const DWORD code = GetLastError();
    CloseHandle(file);
    ThrowFileError(code);
  }
  return std::make_unique<Win32BinaryFile>(file);
}

std::int64_t Win32FileIO::FileLen(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw RuntimeError(kErrFileNotFound, "File not found");
  }
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void Win32FileIO::Name(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING an existing name is never replaced.
  if (MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), 0)) return;
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
      throw RuntimeError(kErrFileNotFound, "File not found");
    default:
      throw RuntimeError(kErrPathFileAccess, "Path/File access error");
  }
}

void Win32FileIO::Kill(const std::string& path) {
  if (DeleteFileW(Utf8ToWide(path).c_str())) return;
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      throw RuntimeError(kErrFileNotFound);
    default:
      throw RuntimeError(kErrPathFileAccess);
  }
}

std::string Win32FileIO::AnsiToUtf8(const std::string& bytes) {
  return updater::win32::AnsiToUtf8(bytes);
}

std::string Win32FileIO::ReadAll(const std::string& path) {
  HANDLE file = OpenForReading(path);
  std::string content;
  char block[65536];
  DWORD read = 0;
  BOOL good = TRUE;
  while ((good = ReadFile(file, block, sizeof block, &read, nullptr)) && read > 0) {
    content.append(block, read);
  }
  CloseHandle(file);
  if (!good) throw RuntimeError(kErrPathFileAccess, "Path/File access error");
  return content;
}

}  // namespace updater::win32
