#include "backends/common/buffered_file.h"

#include "ports/errors.h"

namespace updater {

void BufferedBinaryFile::Write(const std::string& bytes) {
  if (!IsOpen()) throw RuntimeError(kErrBadFileName);
  if (pending_.size() + bytes.size() > kBlock) Flush();
  if (bytes.size() >= kBlock) {
    WriteAll(bytes.data(), bytes.size());
  } else {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  }
}

void BufferedBinaryFile::Close() {
  if (!IsOpen()) return;
  try {
    Flush();
  } catch (const RuntimeError&) {
    pending_.clear();
    Release(false);
    throw;
  }
  Release(true);
}

void BufferedBinaryFile::CloseQuietly() noexcept {
  try {
    Close();
  } catch (const RuntimeError&) {
  }
}

void BufferedBinaryFile::Flush() {
  if (pending_.empty()) return;
  WriteAll(pending_.data(), pending_.size());
  pending_.clear();
}

}  // namespace updater
