#include "backends/posix/errors.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "ports/errors.h"

namespace updater::posix {

namespace {
constexpr int kErrDiskFull = 61;
constexpr int kErrDeviceIo = 57;
}  // namespace

void ThrowFileError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      throw RuntimeError(kErrPathNotFound, "Path not found");
    case ENAMETOOLONG:
      throw RuntimeError(kErrBadFileName, "Bad file name or number");
    default:  // EEXIST, EACCES, EPERM, EROFS, EISDIR, ETXTBSY, ...
      throw RuntimeError(kErrPathFileAccess, "Path/File access error");
  }
}

void ThrowWriteError(int error) {
  if (error == ENOSPC || error == EDQUOT) throw RuntimeError(kErrDiskFull, "Disk full");
  throw RuntimeError(kErrDeviceIo, std::string("Device I/O error: ") + std::strerror(error));
}

}  // namespace updater::posix
