// A download of only what changed: the package is rebuilt from the one the last update left in
// the program folder and the byte ranges that the block index beside it says are new. Whatever
// goes wrong here, the caller downloads the whole package as it always did.
#include <chrono>
#include <deque>

#include "helpers/SupportLog.h"
#include "ports/errors.h"
#include "upgrade/BlockIndex.h"
#include "upgrade/KeptDownload.h"
#include "upgrade/PackageSignature.h"
#include "upgrade/frmUpgrade.h"

namespace updater {

namespace {

// Bytes taken from the network, or read from the earlier package, at a time.
constexpr std::size_t kPiece = 64 * 1024;
// Times a range that broke off is asked for again from where it broke.
constexpr int kRangeRetries = 1;
// Ranges asked for at once: a distant server's latency is paid once for several ranges.
constexpr std::size_t kAhead = 4;

// Why the rebuild was given up, for the log.
struct GiveUp {
  std::string why;
};

std::unique_ptr<ports::Transfer> Request(Platform& pf, const std::string& url,
                                         const std::vector<std::string>& headers) {
  auto transfer = pf.io->NewTransfer();
  transfer->Execute(url, "get", headers);
  while (transfer->StillExecuting()) pf.ui->DoEvents();
  return transfer;
}

BlockIndex FetchIndex(Platform& pf, const std::string& url) {
  auto transfer = Request(pf, url, {});
  if (transfer->StatusCode() != 200) {
    throw GiveUp{"no block index (status " + std::to_string(transfer->StatusCode()) + ")"};
  }
  std::string body;
  for (std::string chunk; !(chunk = transfer->GetChunk(kPiece)).empty();) {
    body += chunk;
    if (body.size() > kMaxBlockIndex) throw GiveUp{"the block index is too large"};
    pf.ui->DoEvents();
  }
  auto index = ParseBlockIndex(body);
  if (!index)
    throw GiveUp{"the block index does not read (" + std::to_string(body.size()) + " bytes)"};
  return std::move(*index);
}

// Writes the new package in order: blocks read from the earlier package, ranges fetched.
class Rebuild {
 public:
  Rebuild(Platform& pf, const BlockIndex& index, const std::vector<std::int64_t>& found,
          ports::ReadableFile& old, ports::BinaryFile& out, const std::string& url,
          ui::ProgressBar& bar)
      : pf_(pf), index_(index), found_(found), old_(old), out_(out), url_(url), bar_(bar) {}

  void Run(const std::vector<ByteRange>& ranges) {
    const std::size_t bs = index_.blockSize;
    std::size_t r = 0;
    for (std::size_t i = 0; i < index_.blocks.size();) {
      const std::int64_t start = static_cast<std::int64_t>(i) * index_.blockSize;
      if (r < ranges.size() && ranges[r].first == start) {
        Fetch(ranges, r);
        i = static_cast<std::size_t>((ranges[r].last + 1 + index_.blockSize - 1) / bs);
        ++r;
        continue;
      }
      // A run of blocks that lie one behind another in the earlier package is one read.
      std::size_t n = index_.SizeOf(i);
      std::size_t j = i + 1;
      while (j < index_.blocks.size() &&
             found_[j] == found_[j - 1] + static_cast<std::int64_t>(bs) &&
             n + index_.SizeOf(j) <= kPiece &&
             !(r < ranges.size() &&
               ranges[r].first == static_cast<std::int64_t>(j) * index_.blockSize)) {
        n += index_.SizeOf(j);
        ++j;
      }
      std::string bytes(n, '\0');
      if (old_.ReadAt(found_[i], reinterpret_cast<unsigned char*>(bytes.data()), n) != n) {
        throw GiveUp{"the earlier package changed while it was read"};
      }
      Write(bytes);
      reused += static_cast<std::int64_t>(n);
      i = j;
    }
  }

  std::int64_t reused = 0;
  std::int64_t fetched = 0;
  int requests = 0;

 private:
  // Asks for bytes first to last of the package, on condition that it is the one seen so far.
  std::unique_ptr<ports::Transfer> Start(std::int64_t first, std::int64_t last) {
    std::vector<std::string> headers{"Range: bytes=" + std::to_string(first) + "-" +
                                     std::to_string(last)};
    if (!validator_.empty()) headers.push_back("If-Range: " + validator_);
    auto transfer = pf_.io->NewTransfer();
    transfer->Execute(url_, "get", headers);
    ++requests;
    return transfer;
  }

  // Fetches range r, checking every block as it completes; a range that breaks off is asked
  // for again from the first block not yet written. The next ranges are asked for meanwhile,
  // so that the server's time to answer each is spent once, not once per range.
  void Fetch(const std::vector<ByteRange>& ranges, std::size_t r) {
    while (started_ < ranges.size() && started_ < r + kAhead) {
      ahead_.push_back(Start(ranges[started_].first, ranges[started_].last));
      ++started_;
    }
    const ByteRange& range = ranges[r];
    std::unique_ptr<ports::Transfer> transfer = std::move(ahead_.front());
    ahead_.pop_front();
    std::int64_t from = range.first;
    for (int attempt = 0; from <= range.last; ++attempt) {
      if (attempt > kRangeRetries) throw GiveUp{"a range broke off again"};
      if (attempt > 0) transfer = Start(from, range.last);
      while (transfer->StillExecuting()) pf_.ui->DoEvents();
      Check(*transfer, from, range.last);
      std::string block;
      std::size_t k = static_cast<std::size_t>(from / index_.blockSize);
      while (from <= range.last) {
        const std::size_t want = index_.SizeOf(k) - block.size();
        const std::string chunk = transfer->GetChunk(std::min(want, kPiece));
        if (chunk.empty()) break;
        block += chunk;
        fetched += static_cast<std::int64_t>(chunk.size());
        if (block.size() < index_.SizeOf(k)) continue;
        const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
        if (StrongSum(bytes, block.size()) != index_.blocks[k].strong) {
          throw GiveUp{"block " + std::to_string(k) + " fetched is not the block indexed"};
        }
        Write(block);
        from += static_cast<std::int64_t>(block.size());
        block.clear();
        ++k;
      }
    }
  }

  // The answer must be exactly the range asked for, of the package indexed, of one version.
  void Check(ports::Transfer& response, std::int64_t first, std::int64_t last) {
    if (response.StatusCode() != 206) {
      throw GiveUp{"a range was answered with status " + std::to_string(response.StatusCode())};
    }
    const std::string range = ContentRange(first, last, index_.length);
    if (response.GetHeader("Content-Range") != range) {
      throw GiveUp{"a range came as \"" + response.GetHeader("Content-Range") + "\", not \"" +
                   range + "\""};
    }
    const std::string validator = ValidatorOf(response);
    if (validator.empty()) throw GiveUp{"the package has no validator"};
    if (validator_.empty()) validator_ = validator;
    if (validator != validator_) throw GiveUp{"the package changed between two ranges"};
  }

  void Write(const std::string& bytes) {
    out_.Write(bytes);
    written_ += static_cast<std::int64_t>(bytes.size());
    if (written_ < index_.length) bar_.Value = static_cast<int>(written_);
    pf_.ui->DoEvents();
  }

  Platform& pf_;
  const BlockIndex& index_;
  const std::vector<std::int64_t>& found_;
  ports::ReadableFile& old_;
  ports::BinaryFile& out_;
  const std::string& url_;
  ui::ProgressBar& bar_;
  std::string validator_;
  std::int64_t written_ = 0;
  std::deque<std::unique_ptr<ports::Transfer>> ahead_;  // asked for, not yet read
  std::size_t started_ = 0;                             // ranges asked for so far
};

}  // namespace

bool frmUpgrade::RebuildPackage(const std::string& local) {
  const std::string earlier = programFolder_ + "\\setup.rar";
  std::int64_t earlierLength = 0;
  try {
    earlierLength = pf_.io->FileLen(earlier);
  } catch (const RuntimeError&) {
    return false;  // nothing to rebuild from: the first update of this folder
  }
  const auto started = std::chrono::steady_clock::now();
  const std::string url = txtUrl.Text;
  std::unique_ptr<ports::BinaryFile> file;
  try {
    const BlockIndex index = FetchIndex(pf_, url + ".blocks");
    // An index left behind by another release would rebuild that release.
    if (index.release != Text1.Text) {
      throw GiveUp{"the block index is of release \"" + index.release + "\""};
    }
    if (index.blocks.empty()) throw GiveUp{"the block index is of an empty package"};
    auto old = pf_.io->OpenRead(earlier);
    const auto scanStarted = std::chrono::steady_clock::now();
    const auto found = FindBlocks(
        index, earlierLength,
        [&](std::int64_t at, unsigned char* out, std::size_t size) {
          return old->ReadAt(at, out, size);
        },
        [&] { pf_.ui->DoEvents(); });
    const auto scanned = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - scanStarted)
                             .count();
    const std::vector<ByteRange> ranges = MissingRanges(index, found);
    // Only fetched bytes show that the server's package is the one indexed: an index that
    // names nothing new could be of any package assembled from the earlier one (the earlier
    // package itself, under the new release's name), so it is not taken.
    if (ranges.empty()) throw GiveUp{"the block index names no byte the earlier package lacks"};
    file = pf_.io->OpenBinary(local);
    ProgressBar1.Max = static_cast<int>(index.length);
    Rebuild rebuild(pf_, index, found, *old, *file, url, ProgressBar1);
    rebuild.Run(ranges);
    file->Close();
    file.reset();
    if (pf_.io->FileLen(local) != index.length || pf_.io->Sha256(local) != index.sha256) {
      throw GiveUp{"the package rebuilt is not the package indexed"};
    }
    if (!PackageSignatureAccepted(pf_, programFolder_, url, local)) {
      throw GiveUp{"the package rebuilt has no valid signature"};
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    SupportLog::Write(
        pf_, "download " + url + " by blocks: " + std::to_string(index.length) + " bytes, " +
                 std::to_string(rebuild.reused) + " reused from the earlier package, " +
                 std::to_string(rebuild.fetched) + " fetched in " +
                 std::to_string(rebuild.requests) + " requests, in " + std::to_string(ms) +
                 " ms (" + std::to_string(earlierLength) +
                 " bytes of the earlier package scanned in " + std::to_string(scanned) + " ms)");
    return true;
  } catch (const GiveUp& e) {
    SupportLog::Write(pf_, "download " + url + " by blocks given up: " + e.why);
  } catch (const RuntimeError& e) {
    SupportLog::Write(pf_, "download " + url + " by blocks given up: " + SupportLog::Error(e));
  }
  // Nothing of a rebuild that did not check out is left for the installation.
  if (file) {
    try {
      file->Close();
    } catch (...) {
    }
  }
  try {
    pf_.io->Kill(local);
  } catch (const RuntimeError&) {
  }
  return false;
}

}  // namespace updater
