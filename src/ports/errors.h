#pragma once
// Run-time errors as the updater reports them: a number and a description. Platform calls that
// fail "untrapped" throw RuntimeError; operations that continue after an error catch it into an
// ErrorRecord and test that record at fixed points.

#include <stdexcept>
#include <string>

namespace updater {

// Numbers of the run-time errors the program raises itself.
enum RuntimeErrorNumber : int {
  kErrInvalidCall = 5,        // invalid procedure call or argument
  kErrBadFileName = 52,       // bad file name or number
  kErrFileNotFound = 53,      // file not found
  kErrPermissionDenied = 70,  // permission denied
  kErrPathFileAccess = 75,    // path/file access error
  kErrPathNotFound = 76,      // path not found
};

class RuntimeError : public std::runtime_error {
 public:
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
// written to the record (replacing an earlier one) and the operation goes on.
template <class F>
void ResumeNext(ErrorRecord& record, F&& step) {
  try {
    step();
  } catch (const RuntimeError& e) {
    record.Set(e);
  }
}

}  // namespace updater
