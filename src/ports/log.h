#pragma once
// The support log: what each run did, step by step, for whoever must find out later why an
// upgrade failed on a machine they cannot see. It lives outside the program folder and is never
// a reason for a run to fail.

#include <string>

namespace updater::ports {

class SupportLog {
 public:
  virtual ~SupportLog() = default;
  // Appends text (UTF-8, one line) with the local time and the process id. Never throws: a log
  // that cannot be written is skipped.
  virtual void Write(const std::string& text) = 0;
};

}  // namespace updater::ports
