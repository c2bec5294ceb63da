#pragma once
// Run-time errors as the updater reports them: a number and a description. Platform calls that
// fail "untrapped" throw RuntimeError; operations that continue after an error catch it into an
// ErrorRecord and test that record at fixed points.

#include <stdexcept>
#include <string>
#include <type_traits>

namespace updater {

// Numbers of the run-time errors the program raises itself. Each has its standard description
// in StandardDescription below.
enum RuntimeErrorNumber : int {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrTypeMismatch = 13,
  kErrBadFileName = 52,
  kErrFileNotFound = 53,
  kErrDeviceIo = 57,
  kErrDiskFull = 61,
  kErrPermissionDenied = 70,
  kErrPathFileAccess = 75,
  kErrPathNotFound = 76,
  kErrObjectNotSet = 91,
  kErrCannotCreateObject = 429,
};

constexpr const char* StandardDescription(RuntimeErrorNumber number) {
  switch (number) {
    case kErrInvalidCall:
      return "Invalid procedure call or argument";
    case kErrOverflow:
      return "Overflow";
    case kErrTypeMismatch:
      return "Type mismatch";
    case kErrBadFileName:
      return "Bad file name or number";
    case kErrFileNotFound:
      return "File not found";
    case kErrDeviceIo:
      return "Device I/O error";
    case kErrDiskFull:
      return "Disk full";
    case kErrPermissionDenied:
      return "Permission denied";
    case kErrPathFileAccess:
      return "Path/File access error";
    case kErrPathNotFound:
      return "Path not found";
    case kErrObjectNotSet:
      return "Object variable or With block variable not set";
    case kErrCannotCreateObject:
      return "ActiveX component can't create object";
  }
  return "Application-defined or object-defined error";
}

class RuntimeError : public std::runtime_error {
 public:
  // An error of the program's own, with its standard description.
  explicit RuntimeError(RuntimeErrorNumber number)
      : RuntimeError(number, StandardDescription(number)) {}
  // An error whose text comes from the service that raised it (ADO, WinINet, the system).
  RuntimeError(int number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  int number() const { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

// The most recent error of an operation that runs in continue-after-error style.
struct ErrorRecord {
  int number = 0;
  std::string description;

  void Set(const RuntimeError& e) {
    number = e.number();
    description = e.description();
  }
  void Clear() {
    number = 0;
    description.clear();
  }
  bool IsSet() const { return number != 0; }
};

// Runs one step of an operation in continue-after-error style: an error the step raises is
// written to the record (replacing an earlier one) and the operation goes on. The step's value
// is its result, or onError when it failed: the caller says there what a failed step means,
// e.g. a failed end-of-data test that must run the step the branch guards.
template <class Step, class Result = std::invoke_result_t<Step&>>
Result Try(ErrorRecord& record, std::type_identity_t<Result> onError, Step&& step) {
  try {
    return step();
  } catch (const RuntimeError& e) {
    record.Set(e);
    return onError;
  }
}

// The same for a step without a value.
template <class Step>
void Try(ErrorRecord& record, Step&& step) {
  try {
    step();
  } catch (const RuntimeError& e) {
    record.Set(e);
  }
}

}  // namespace updater
