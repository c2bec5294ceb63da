#include "upgrade/BlockIndex.h"

#include <algorithm>
#include <cstring>

// Header-only, so the Windows program carries it and links no library for it.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace updater {

namespace {

constexpr std::string_view kMagic = "AUBLKIDX";
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kMinBlock = 1024;
constexpr std::uint32_t kMaxBlock = 1u << 20;
constexpr std::int64_t kMaxLength = 0x7FFFFFFF;
constexpr std::size_t kMaxRelease = 255;
constexpr std::size_t kEntry = 12;
// The earlier package is read in pieces of this size: the scan's memory stays small.
constexpr std::size_t kReadPiece = 1u << 20;

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t Get(std::string_view in, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

std::size_t BlockCount(std::int64_t length, std::uint32_t blockSize) {
  return static_cast<std::size_t>((length + blockSize - 1) / blockSize);
}

// Where a weak checksum may be among the index's blocks: a bitmap small enough to stay in the
// cache answers most positions of the scan without a search.
class WeakTable {
 public:
  WeakTable(const BlockIndex& index, std::size_t full) {
    std::size_t bits = 1u << 16;
    while (bits < full * 16 && bits < (1u << 24)) bits <<= 1;
    shift_ = 32;
    for (std::size_t b = bits; b > 1; b >>= 1) --shift_;
    bitmap_.assign(bits / 64, 0);
    entries_.reserve(full);
    for (std::size_t i = 0; i < full; ++i) {
      entries_.push_back({index.blocks[i].weak, static_cast<std::uint32_t>(i)});
      const std::uint32_t slot = Slot(index.blocks[i].weak);
      bitmap_[slot / 64] |= std::uint64_t{1} << (slot % 64);
    }
    std::sort(entries_.begin(), entries_.end());
  }
  bool MayHold(std::uint32_t weak) const {
    const std::uint32_t slot = Slot(weak);
    return (bitmap_[slot / 64] >> (slot % 64)) & 1;
  }
  // The blocks with this weak checksum.
  std::pair<const std::pair<std::uint32_t, std::uint32_t>*,
            const std::pair<std::uint32_t, std::uint32_t>*>
  Find(std::uint32_t weak) const {
    const auto range = std::equal_range(
        entries_.begin(), entries_.end(), std::pair<std::uint32_t, std::uint32_t>{weak, 0},
        [](const auto& a, const auto& b) { return a.first < b.first; });
    return {entries_.data() + (range.first - entries_.begin()),
            entries_.data() + (range.second - entries_.begin())};
  }

 private:
  // The checksum's halves are sums: mixing spreads them over the whole bitmap.
  std::uint32_t Slot(std::uint32_t weak) const { return (weak * 0x9E3779B1u) >> shift_; }
  int shift_ = 0;
  std::vector<std::uint64_t> bitmap_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries_;
};

}  // namespace

std::size_t BlockIndex::SizeOf(std::size_t i) const {
  const std::int64_t start = static_cast<std::int64_t>(i) * blockSize;
  return static_cast<std::size_t>(std::min<std::int64_t>(blockSize, length - start));
}

std::uint32_t WeakSum(const unsigned char* data, std::size_t size) {
  std::uint32_t a = 0, b = 0;
  for (std::size_t i = 0; i < size; ++i) {
    a += data[i];
    b += static_cast<std::uint32_t>(size - i) * data[i];
  }
  return (a & 0xFFFF) | ((b & 0xFFFF) << 16);
}

std::uint64_t StrongSum(const unsigned char* data, std::size_t size) {
  return XXH3_64bits(data, size);
}

std::string WriteBlockIndex(const BlockIndex& index) {
  std::string out(kMagic);
  Put(out, kVersion, 4);
  Put(out, index.blockSize, 4);
  Put(out, static_cast<std::uint64_t>(index.length), 8);
  out += index.sha256;
  Put(out, index.release.size(), 2);
  out += index.release;
  for (const BlockSums& block : index.blocks) {
    Put(out, block.weak, 4);
    Put(out, block.strong, 8);
  }
  return out;
}

std::optional<BlockIndex> ParseBlockIndex(std::string_view bytes) {
  constexpr std::size_t kHeader = 8 + 4 + 4 + 8 + 32 + 2;
  if (bytes.size() < kHeader || bytes.size() > kMaxBlockIndex ||
      bytes.substr(0, kMagic.size()) != kMagic || Get(bytes, 8, 4) != kVersion) {
    return std::nullopt;
  }
  BlockIndex index;
  const std::uint64_t blockSize = Get(bytes, 12, 4);
  const std::uint64_t length = Get(bytes, 16, 8);
  // A power of two within bounds, and a length the download can take.
  if (blockSize < kMinBlock || blockSize > kMaxBlock || (blockSize & (blockSize - 1)) != 0 ||
      length > static_cast<std::uint64_t>(kMaxLength)) {
    return std::nullopt;
  }
  index.blockSize = static_cast<std::uint32_t>(blockSize);
  index.length = static_cast<std::int64_t>(length);
  index.sha256 = std::string(bytes.substr(24, 32));
  const std::size_t releaseSize = static_cast<std::size_t>(Get(bytes, 56, 2));
  const std::size_t count = BlockCount(index.length, index.blockSize);
  // The size must be exactly what the header promises: nothing missing, nothing behind.
  if (releaseSize > kMaxRelease || bytes.size() - kHeader < releaseSize ||
      (bytes.size() - kHeader - releaseSize) / kEntry != count ||
      (bytes.size() - kHeader - releaseSize) % kEntry != 0) {
    return std::nullopt;
  }
  index.release = std::string(bytes.substr(kHeader, releaseSize));
  index.blocks.reserve(count);
  for (std::size_t at = kHeader + releaseSize; at < bytes.size(); at += kEntry) {
    index.blocks.push_back({static_cast<std::uint32_t>(Get(bytes, at, 4)), Get(bytes, at + 4, 8)});
  }
  return index;
}

std::vector<std::int64_t> FindBlocks(const BlockIndex& index, std::int64_t oldLength,
                                     const ReadOld& read, const Pump& pump) {
  std::vector<std::int64_t> found(index.blocks.size(), -1);
  if (index.blocks.empty() || oldLength <= 0) return found;
  const std::size_t bs = index.blockSize;
  // The full blocks are looked for at every offset; a shorter last one only where it is likely.
  const std::size_t full = static_cast<std::size_t>(index.length / index.blockSize);
  std::size_t missing = full;
  const WeakTable table(index, full);

  // buffer holds the earlier package's bytes [bufferStart, bufferStart + filled).
  std::vector<unsigned char> buffer(kReadPiece + bs + 1);
  std::int64_t bufferStart = 0;
  std::size_t filled = 0;
  const auto fill = [&](std::int64_t at) {
    // Keeps the bytes from at on, and reads behind them.
    const std::size_t keep = static_cast<std::size_t>(at - bufferStart);
    std::memmove(buffer.data(), buffer.data() + keep, filled - keep);
    filled -= keep;
    bufferStart = at;
    while (filled < buffer.size()) {
      const std::size_t n = read(bufferStart + static_cast<std::int64_t>(filled),
                                 buffer.data() + filled, buffer.size() - filled);
      if (n == 0) break;
      filled += n;
    }
    if (pump) pump();
  };

  std::int64_t p = 0;
  bool haveWeak = false;
  std::uint32_t weak = 0;
  while (missing > 0 && p + static_cast<std::int64_t>(bs) <= oldLength) {
    // The window and the byte behind it, for the roll.
    if (p + static_cast<std::int64_t>(bs) + 1 > bufferStart + static_cast<std::int64_t>(filled) &&
        bufferStart + static_cast<std::int64_t>(filled) < oldLength) {
      fill(p);
    }
    const std::size_t at = static_cast<std::size_t>(p - bufferStart);
    if (at + bs > filled) break;  // the earlier package ended sooner than it said
    const unsigned char* window = buffer.data() + at;
    if (!haveWeak) {
      weak = WeakSum(window, bs);
      haveWeak = true;
    }
    bool matched = false;
    if (table.MayHold(weak)) {
      const auto [first, last] = table.Find(weak);
      if (first != last) {
        const std::uint64_t strong = StrongSum(window, bs);
        for (auto it = first; it != last; ++it) {
          if (index.blocks[it->second].strong != strong) continue;
          matched = true;
          if (found[it->second] < 0) {
            found[it->second] = p;
            --missing;
          }
        }
      }
    }
    if (matched) {
      // Blocks of the earlier package follow one another: look for the next one behind it.
      p += static_cast<std::int64_t>(bs);
      haveWeak = false;
      continue;
    }
    if (at + bs >= filled) break;
    weak = RollWeak(weak, window[0], window[bs], bs);
    ++p;
  }

  // The last block, when shorter: behind the block before it, or at the package's end.
  const std::size_t last = index.blocks.size() - 1;
  const std::size_t tail = index.SizeOf(last);
  if (tail < bs) {
    std::vector<std::int64_t> candidates;
    if (last > 0 && found[last - 1] >= 0) candidates.push_back(found[last - 1] + bs);
    candidates.push_back(oldLength - static_cast<std::int64_t>(tail));
    if (last == 0) candidates.push_back(0);
    std::vector<unsigned char> bytes(tail);
    for (const std::int64_t c : candidates) {
      if (c < 0 || c + static_cast<std::int64_t>(tail) > oldLength) continue;
      std::size_t got = 0;
      while (got < tail) {
        const std::size_t n =
            read(c + static_cast<std::int64_t>(got), bytes.data() + got, tail - got);
        if (n == 0) break;
        got += n;
      }
      if (got == tail && WeakSum(bytes.data(), tail) == index.blocks[last].weak &&
          StrongSum(bytes.data(), tail) == index.blocks[last].strong) {
        found[last] = c;
        break;
      }
    }
  }
  return found;
}

std::vector<ByteRange> MissingRanges(const BlockIndex& index,
                                     const std::vector<std::int64_t>& found) {
  std::vector<ByteRange> ranges;
  for (std::size_t i = 0; i < index.blocks.size() && i < found.size(); ++i) {
    if (found[i] >= 0) continue;
    const std::int64_t first = static_cast<std::int64_t>(i) * index.blockSize;
    const std::int64_t last = first + static_cast<std::int64_t>(index.SizeOf(i)) - 1;
    if (!ranges.empty() && ranges.back().last + 1 == first) {
      ranges.back().last = last;
    } else {
      ranges.push_back({first, last});
    }
  }
  return ranges;
}

}  // namespace updater
