#include "filesystem/CFileSystem.h"

#include "ports/errors.h"
#include "util/text.h"

namespace updater {

using namespace ports;

namespace {
constexpr std::uint16_t kQuiet = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NO_CONNECTED_ELEMENTS;
}

std::int32_t CFileSystem::Run(std::uint32_t wFunc, std::uint16_t fFlags, const std::string& from,
                              const std::string* to) {
  ShellFileOperation request;  // a zeroed record, filled afresh for every call
  request.hwnd = 0;
  request.wFunc = wFunc;
  request.pFrom = from;
  if (to != nullptr) request.pTo = *to;
  request.fFlags = fFlags;
  return pf_.shell->SHFileOperation(request);
}

std::int32_t CFileSystem::DelFolderOrFile(const std::string& strFileOrFolderName) {
  return Run(FO_DELETE, kQuiet, strFileOrFolderName, nullptr);
}

std::int32_t CFileSystem::DelFolderOrFileToRecycled(const std::string& strFileOrFolderName) {
  return Run(FO_DELETE, kQuiet | FOF_ALLOWUNDO, strFileOrFolderName, nullptr);
}

std::int32_t CFileSystem::CopyFolderOrFile(const std::string& strFileorFolderFrom,
                                           const std::string& strFileorFolderto) {
  return Run(FO_COPY, kQuiet, strFileorFolderFrom, &strFileorFolderto);
}

std::int32_t CFileSystem::ReNameFolderOrFile(const std::string& strFileorFolderFrom,
                                             const std::string& strFileorFolderto) {
  // Not silent: the shell may show its progress window here.
  return Run(FO_RENAME, FOF_NOCONFIRMATION | FOF_NO_CONNECTED_ELEMENTS, strFileorFolderFrom,
             &strFileorFolderto);
}

std::int32_t CFileSystem::MoveFolderOrFile(const std::string& strFileorFolderFrom,
                                           const std::string& strFileorFolderto) {
  return Run(FO_MOVE, kQuiet, strFileorFolderFrom, &strFileorFolderto);
}

std::int32_t CFileSystem::CreateFolder(const std::string& strfolder) {
  try {
    pf_.files->MakeFolder(strfolder);
    return 0;
  } catch (const RuntimeError& e) {
    return e.number();
  }
}

std::int32_t CFileSystem::ClearOrCreateFolder(const std::string& pcFolderName) {
  ErrorRecord error;
  std::string name = text::TrimSpaces(pcFolderName);
  if (!name.empty() && name.back() == '\\') name.pop_back();  // one separator only

  // A failed test goes on with the step the branch guards: the folder is made.
  const bool exists = Try(error, /*onError=*/false, [&] { return pf_.files->FolderExists(name); });

  std::int32_t result = 0;
  if (!exists) {
    result = CreateFolder(name);
  } else {
    // Everything inside goes; the folder itself stays.
    result = DelFolderOrFile(name + "\\*");
    // A folder that was empty already is what the caller asked for, whatever the shell answers
    // for a pattern that matched nothing.
    if (result != 0 && pf_.files->FolderIsEmpty(name)) result = 0;
  }
  return error.IsSet() ? error.number : result;
}

std::int32_t CFileSystem::CopyFolder(const std::string& strFileorFolderFrom,
                                     const std::string& strFileorFolderto) {
  std::string from = strFileorFolderFrom;
  std::string to = strFileorFolderto;
  from.append(2, '\0');
  to.append(2, '\0');
  return Run(FO_COPY, FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR, from, &to);
}

}  // namespace updater
