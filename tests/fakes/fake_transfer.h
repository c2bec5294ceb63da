#pragma once
// Fakes of the download and file-writing ports: a scripted response, files kept in memory.

#include <openssl/evp.h>

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ports/errors.h"
#include "ports/platform.h"

namespace fakes {

struct TransferReply {
  int status = 200;  // 0: no answer at all
  std::map<std::string, std::string> headers;
  std::string body;
  std::size_t cutAfter = std::string::npos;  // the body ends early here
};

// Every request gets the reply of the script's own fields, unless replies holds one for it.
struct TransferScript : TransferReply {
  std::deque<TransferReply> replies;  // taken in turn, one per request
  // When set, answers every request instead: a server with pages and ranges.
  std::function<TransferReply(const std::string& url, const std::vector<std::string>& headers)>
      serve;
  int pollsBeforeDone = 2;
  std::vector<std::string> executed;  // "url|operation"
  std::vector<std::vector<std::string>> requestHeaders;
  std::vector<std::size_t> chunkSizes;
};

class FakeTransfer : public updater::ports::Transfer {
 public:
  explicit FakeTransfer(TransferScript* s) : s_(s) {}
  using updater::ports::Transfer::Execute;
  void Execute(const std::string& url, const std::string& op,
               const std::vector<std::string>& headers) override {
    s_->executed.push_back(url + "|" + op);
    s_->requestHeaders.push_back(headers);
    polls_ = s_->pollsBeforeDone;
    reply_ = *s_;
    if (s_->serve) {
      reply_ = s_->serve(url, headers);
    } else if (!s_->replies.empty()) {
      reply_ = s_->replies.front();
      s_->replies.pop_front();
    }
    pos_ = 0;
  }
  bool StillExecuting() override { return polls_-- > 0; }
  int StatusCode() override { return reply_.status; }
  std::string GetHeader(const std::string& name) override {
    auto it = reply_.headers.find(name);
    return reply_.status == 0 || it == reply_.headers.end() ? "" : it->second;
  }
  std::string GetChunk(std::size_t size) override {
    s_->chunkSizes.push_back(size);
    const std::size_t end = std::min(reply_.body.size(), reply_.cutAfter);
    if (reply_.status == 0 || pos_ >= end) return "";
    const std::string out = reply_.body.substr(pos_, std::min(size, end - pos_));
    pos_ += out.size();
    return out;
  }

 private:
  TransferScript* s_;
  TransferReply reply_;
  int polls_ = 0;
  std::size_t pos_ = 0;
};

struct IoState {
  std::map<std::string, std::string> files;  // path -> content on the disk
  std::vector<std::string> killed;
  bool failOpen = false;
  std::size_t failWriteAt = std::string::npos;  // the disk is full from this offset on
  int closes = 0;
  std::map<std::string, int> reads;  // path -> ReadAt calls
};

// Buffers like the real file: bytes reach the disk in blocks of 256 KiB or on Close, so a full
// disk is reported by the Write that fills a block or else only by Close. A flush that fails
// keeps its bytes pending; Close releases the file even when its flush fails.
class FakeBinaryFile : public updater::ports::BinaryFile {
 public:
  static constexpr std::size_t kBlock = 256 * 1024;
  FakeBinaryFile(IoState* s, std::string path, std::size_t at = 0)
      : s_(s), path_(std::move(path)), pos_(at) {}
  void Write(const std::string& bytes) override {
    if (!open_) throw updater::RuntimeError(updater::kErrBadFileName);
    if (pending_.size() + bytes.size() > kBlock) Flush();
    pending_ += bytes;
    if (pending_.size() >= kBlock) Flush();
  }
  void Close() override {
    if (!open_) return;
    open_ = false;
    ++s_->closes;
    Flush();
  }

 private:
  void Flush() {
    if (pos_ + pending_.size() > s_->failWriteAt) {
      if (!open_) pending_.clear();
      throw updater::RuntimeError(updater::kErrDiskFull);
    }
    std::string& content = s_->files[path_];
    content.replace(
        pos_, std::min(pending_.size(), content.size() - std::min(pos_, content.size())), pending_);
    pos_ += pending_.size();
    pending_.clear();
  }
  IoState* s_;
  std::string path_;
  std::string pending_;
  std::size_t pos_;  // where the next flush lands
  bool open_ = true;
};

// Reads what the file held when it was opened, and counts the reads.
class FakeReadableFile : public updater::ports::ReadableFile {
 public:
  FakeReadableFile(IoState* s, std::string path, std::string content)
      : s_(s), path_(std::move(path)), content_(std::move(content)) {}
  std::size_t ReadAt(std::int64_t offset, unsigned char* out, std::size_t size) override {
    ++s_->reads[path_];
    const auto from = static_cast<std::size_t>(offset);
    if (from >= content_.size()) return 0;
    const std::size_t n = std::min(size, content_.size() - from);
    std::memcpy(out, content_.data() + from, n);
    return n;
  }

 private:
  IoState* s_;
  std::string path_;
  std::string content_;
};

inline std::string Sha256Of(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<const char*>(digest), size);
}

class FakeIo : public updater::ports::FileIO {
 public:
  TransferScript transfer;
  IoState state;
  std::unique_ptr<updater::ports::Transfer> NewTransfer() override {
    return std::make_unique<FakeTransfer>(&transfer);
  }
  std::unique_ptr<updater::ports::BinaryFile> OpenBinary(const std::string& path) override {
    if (state.failOpen) throw updater::RuntimeError(updater::kErrPathNotFound);
    state.files.emplace(path, "");
    return std::make_unique<FakeBinaryFile>(&state, path);
  }
  std::unique_ptr<updater::ports::BinaryFile> OpenAppend(const std::string& path) override {
    auto it = state.files.find(path);
    if (it == state.files.end()) throw updater::RuntimeError(updater::kErrFileNotFound);
    return std::make_unique<FakeBinaryFile>(&state, path, it->second.size());
  }
  std::int64_t FileLen(const std::string& path) override {
    return static_cast<std::int64_t>(ReadAll(path).size());
  }
  void Name(const std::string& from, const std::string& to) override {
    auto it = state.files.find(from);
    if (it == state.files.end()) throw updater::RuntimeError(updater::kErrFileNotFound);
    if (state.files.count(to) > 0) throw updater::RuntimeError(updater::kErrPathFileAccess);
    state.files[to] = std::move(it->second);
    state.files.erase(from);
  }
  void Kill(const std::string& path) override {
    if (!state.files.erase(path)) throw updater::RuntimeError(updater::kErrFileNotFound);
    state.killed.push_back(path);
  }
  std::string ReadAll(const std::string& path) override {
    auto it = state.files.find(path);
    if (it == state.files.end()) throw updater::RuntimeError(updater::kErrFileNotFound);
    return it->second;
  }
  std::unique_ptr<updater::ports::ReadableFile> OpenRead(const std::string& path) override {
    return std::make_unique<FakeReadableFile>(&state, path, ReadAll(path));
  }
  std::string Sha256(const std::string& path) override { return Sha256Of(ReadAll(path)); }
  std::string AnsiToUtf8(const std::string& bytes) override { return bytes; }
};

}  // namespace fakes
