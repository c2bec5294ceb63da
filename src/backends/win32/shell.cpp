// Shell: SHFileOperationA with the request record the core fills.
#include "backends/win32/shell.h"
#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"

namespace updater::win32 {

namespace {
// A path list in the ANSI code page, closed by two zero bytes whatever the text already ends
// with (extra zeros after the closing pair are never read).
std::string AnsiList(const std::string& utf8) {
  std::string list = Utf8ToAnsi(utf8);
  list.append(2, '\0');
  return list;
}
}  // namespace

std::int32_t Win32Shell::SHFileOperation(ports::ShellFileOperation& request) {
  const std::string from = AnsiList(request.pFrom);
  const std::optional<std::string> to =
      request.pTo ? std::optional<std::string>(AnsiList(*request.pTo)) : std::nullopt;
  const std::optional<std::string> title =
      request.lpszProgressTitle ? std::optional<std::string>(Utf8ToAnsi(*request.lpszProgressTitle))
                                : std::nullopt;

  SHFILEOPSTRUCTA op{};
  op.hwnd = reinterpret_cast<HWND>(request.hwnd);
  op.wFunc = request.wFunc;
  op.pFrom = from.c_str();
  op.pTo = to ? to->c_str() : nullptr;
  op.fFlags = request.fFlags;
  op.fAnyOperationsAborted = request.fAnyOperationsAborted ? TRUE : FALSE;
  op.hNameMappings = reinterpret_cast<LPVOID>(request.hNameMappings);
  op.lpszProgressTitle = title ? title->c_str() : nullptr;

  const int result = SHFileOperationA(&op);
  request.fAnyOperationsAborted = op.fAnyOperationsAborted != FALSE;
  request.hNameMappings = reinterpret_cast<std::uintptr_t>(op.hNameMappings);
  return result;
}

}  // namespace updater::win32
