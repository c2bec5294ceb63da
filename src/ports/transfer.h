#pragma once
// The package download as the upgrade window drives it: start a GET and return at once, ask
// whether it still runs, read a response header, take the body in small chunks. The backend
// reads the network in large blocks and hands out chunks from its own bounded buffer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace updater::ports {

class Transfer {
 public:
  virtual ~Transfer() = default;
  // Starts the request, with extra request headers ("Name: value" each), and returns at once.
  // Throws RuntimeError when the URL cannot be used.
  virtual void Execute(const std::string& url, const std::string& operation,
                       const std::vector<std::string>& headers) = 0;
  void Execute(const std::string& url, const std::string& operation) {
    Execute(url, operation, {});
  }
  // True until the response headers have arrived or the request has failed. Waits a little
  // (well under 100 ms) before answering true, so a caller's polling loop does not spin.
  virtual bool StillExecuting() = 0;
  // The status code of the response once its headers came; 0 before, and when no response
  // came at all (no answer, refused, reset, timed out, a redirect that was not followed).
  virtual int StatusCode() = 0;
  // A response header's value; "" when there is no such header or no response.
  virtual std::string GetHeader(const std::string& name) = 0;
  // The next at most size bytes of the body, waiting for them; "" when the body is exhausted,
  // the connection failed, or no data came for 60 s.
  virtual std::string GetChunk(std::size_t size) = 0;
};

// A file opened for binary writing (created when missing, never truncated).
class BinaryFile {
 public:
  virtual ~BinaryFile() = default;
  // Writes behind the last byte written (the first write starts at the file's first byte).
  // Throws RuntimeError when the disk refuses.
  virtual void Write(const std::string& bytes) = 0;
  virtual void Close() = 0;
};

// A file opened for reading at any offset; it is never changed through this.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to size bytes from offset into out; fewer only at the end of the file. Throws
  // RuntimeError 75 when the disk refuses.
  virtual std::size_t ReadAt(std::int64_t offset, unsigned char* out, std::size_t size) = 0;
};

class FileIO {
 public:
  virtual ~FileIO() = default;
  virtual std::unique_ptr<Transfer> NewTransfer() = 0;
  // Throws RuntimeError 76 when the folder is missing, 75 when access is denied.
  virtual std::unique_ptr<BinaryFile> OpenBinary(const std::string& path) = 0;
  // An existing file opened for writing behind its last byte. Throws RuntimeError 53 when it is
  // missing, 75 when access is denied.
  virtual std::unique_ptr<BinaryFile> OpenAppend(const std::string& path) = 0;
  // The length of a file in bytes; throws RuntimeError 53 when it is missing.
  virtual std::int64_t FileLen(const std::string& path) = 0;
  // Gives a file another name, in another folder of the same volume too; throws RuntimeError
  // 53 when it is missing, 75 when the new name exists or the rename is refused.
  virtual void Name(const std::string& from, const std::string& to) = 0;
  // Deletes one file; throws RuntimeError 53 when it is missing.
  virtual void Kill(const std::string& path) = 0;
  // An existing file opened for reading. Throws RuntimeError 53 when it is missing, 75 when it
  // cannot be read.
  virtual std::unique_ptr<ReadableFile> OpenRead(const std::string& path) = 0;
  // The SHA-256 of a file's bytes (32 bytes), read in blocks. Throws RuntimeError 53 when it is
  // missing, 75 when it cannot be read.
  virtual std::string Sha256(const std::string& path) = 0;
  // The whole content of a file; throws RuntimeError 53 when it is missing, 75 when it cannot
  // be read.
  virtual std::string ReadAll(const std::string& path) = 0;
  // Text in the ANSI code page as UTF-8.
  virtual std::string AnsiToUtf8(const std::string& bytes) = 0;
};

}  // namespace updater::ports
