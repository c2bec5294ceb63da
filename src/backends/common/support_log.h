#pragma once
// The support log file as both backends keep it: one per program folder, named after the folder,
// in a folder of the user's own (never the program folder, which an installation keeps whole);
// at most kLimit bytes, with one older file kept beside it. A backend supplies the clock, the
// process id and the appending of bytes to a file.

#include <cstdint>
#include <filesystem>
#include <string>

#include "ports/log.h"

namespace updater {

struct LogTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  int utcOffsetMinutes = 0;  // east of UTC is positive
};

// "autoupdate-<16 hex digits>.log": the same name for a folder whatever its letter case.
std::string SupportLogName(const std::string& programFolder);
// One line as the log holds it, ended by "\n". A line break inside text is written as "\n" so
// that a step stays one line; bytes that are not UTF-8 (or other control characters) become '?'.
std::string SupportLogLine(const LogTime& time, unsigned long pid, const std::string& text);

class SupportLogFile : public ports::SupportLog {
 public:
  static constexpr std::uintmax_t kLimit = 1024 * 1024;

  void Write(const std::string& text) final;

  // The file this log writes; empty when it writes none.
  const std::filesystem::path& File() const { return file_; }

 protected:
  // Writes the log of programFolder (as the core writes it; programHost is the same folder on
  // the host) into folder, unless folder is empty or lies within the program folder.
  void Place(const std::filesystem::path& folder, const std::string& programFolder,
             const std::filesystem::path& programHost, bool ignoreCase);

  virtual LogTime Now() = 0;
  virtual unsigned long ProcessId() = 0;
  // Appends bytes to file, creating it when missing; false when it cannot.
  virtual bool Append(const std::filesystem::path& file, const std::string& bytes) = 0;

 private:
  std::filesystem::path file_;
  std::filesystem::path old_;
  bool folderMade_ = false;
};

}  // namespace updater
