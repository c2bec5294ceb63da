#pragma once
// A file opened for binary writing that collects the small chunks it is given into large
// blocks before they reach the system. Backends supply the raw write and close.

#include <cstddef>
#include <string>
#include <vector>

#include "ports/transfer.h"

namespace updater {

class BufferedBinaryFile : public ports::BinaryFile {
 public:
  static constexpr std::size_t kBlock = 256 * 1024;

  void Write(const std::string& bytes) final;
  // Writes what is pending and closes; the file is closed even when the last write fails.
  void Close() final;

 protected:
  BufferedBinaryFile() { pending_.reserve(kBlock); }
  // For the backends' destructors: closing on the way out of an error reports nothing, the
  // first error is the one that counts.
  void CloseQuietly() noexcept;

  virtual bool IsOpen() const = 0;
  // Writes all of data or throws RuntimeError (61 for a full disk, 57 otherwise).
  virtual void WriteAll(const char* data, std::size_t size) = 0;
  // Releases the system's file; throws only when report is true and closing failed.
  virtual void Release(bool report) = 0;

 private:
  void Flush();
  std::vector<char> pending_;
};

}  // namespace updater
