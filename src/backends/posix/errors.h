#pragma once
// System error numbers (errno) as the program reports them: the run-time errors the Windows
// build raises for the same failures.

namespace updater::posix {

// Throws the run-time error a failed file or folder creation stands for: 76 when the path is not
// found, 52 for a bad name, 75 otherwise (it exists, access is denied, ...).
[[noreturn]] void ThrowFileError(int error);

// Throws the run-time error a failed write or close stands for: 61 for a full disk, 57 otherwise.
[[noreturn]] void ThrowWriteError(int error);

}  // namespace updater::posix
