#include "backends/posix/errors.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "ports/errors.h"

namespace updater::posix {

void ThrowFileError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      throw RuntimeError(kErrPathNotFound);
    case ENAMETOOLONG:
      throw RuntimeError(kErrBadFileName);
    default:  // EEXIST, EACCES, EPERM, EROFS, EISDIR, ETXTBSY, ...
      throw RuntimeError(kErrPathFileAccess);
  }
}

void ThrowWriteError(int error) {
  if (error == ENOSPC || error == EDQUOT) throw RuntimeError(kErrDiskFull);
  throw RuntimeError(kErrDeviceIo, std::string("Device I/O error: ") + std::strerror(error));
}

}  // namespace updater::posix
