#pragma once
// The block index a publisher serves beside the package (setup.rar.blocks): the package's
// length and SHA-256, and per block of a fixed size a weak checksum that rolls one byte at a
// time and a strong one. A client that holds an earlier package finds in it, at any offset, the
// blocks the new package shares, and asks the server only for the rest.
//
// Layout, integers little-endian:
//   "AUBLKIDX"  magic, 8 bytes
//   u32         format version, 1
//   u32         block size: a power of two from 1 KiB to 1 MiB
//   u64         package length, at most 2^31 - 1 (the download's own limit)
//   32 bytes    SHA-256 of the package
//   u16         length of the release text (at most 255), then its bytes: the version number
//               the package was published as, so an index left behind by another release is
//               never taken for this one
//   per block   u32 weak checksum, u64 strong checksum (XXH3 64-bit) of the block's bytes; the
//               last block holds what remains (it may be shorter)
// Nothing may follow the last block.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

// An index larger than this is no index of a package the download can take: not read further.
inline constexpr std::size_t kMaxBlockIndex = 8u << 20;
// The block size publish uses: the index stays near 0.3 % of the package.
inline constexpr std::uint32_t kDefaultBlockSize = 4096;

struct BlockSums {
  std::uint32_t weak = 0;
  std::uint64_t strong = 0;
  bool operator==(const BlockSums&) const = default;
};

struct BlockIndex {
  std::string release;
  std::int64_t length = 0;
  std::string sha256;  // 32 bytes
  std::uint32_t blockSize = kDefaultBlockSize;
  std::vector<BlockSums> blocks;

  // The bytes of block i: blockSize, or what remains for the last one.
  std::size_t SizeOf(std::size_t i) const;
};

// The weak checksum of size bytes (rsync's two 16-bit sums), and the strong one.
std::uint32_t WeakSum(const unsigned char* data, std::size_t size);
std::uint64_t StrongSum(const unsigned char* data, std::size_t size);
// The weak checksum of the window one byte further: out leaves it, in enters; size is the
// window's length.
inline std::uint32_t RollWeak(std::uint32_t weak, unsigned char out, unsigned char in,
                              std::size_t size) {
  const std::uint32_t a = ((weak & 0xFFFF) - out + in) & 0xFFFF;
  const std::uint32_t b = ((weak >> 16) - static_cast<std::uint32_t>(size) * out + a) & 0xFFFF;
  return a | (b << 16);
}

std::string WriteBlockIndex(const BlockIndex& index);
// The index in bytes, or nothing when they are not exactly one index of the layout above.
std::optional<BlockIndex> ParseBlockIndex(std::string_view bytes);

// Reads up to size bytes of the earlier package at offset into out; fewer only at its end.
using ReadOld =
    std::function<std::size_t(std::int64_t offset, unsigned char* out, std::size_t size)>;
// Called between reads of the earlier package, so a long scan lets the window's events run.
using Pump = std::function<void()>;

// For every block of the index, an offset of the earlier package (oldLength bytes) where the
// same bytes lie, or -1 when it holds them nowhere.
std::vector<std::int64_t> FindBlocks(const BlockIndex& index, std::int64_t oldLength,
                                     const ReadOld& read, const Pump& pump = {});

struct ByteRange {
  std::int64_t first = 0;
  std::int64_t last = 0;  // inclusive, as in a Range header
  bool operator==(const ByteRange&) const = default;
};
// The bytes of the package that FindBlocks did not find, adjacent blocks joined into one range.
std::vector<ByteRange> MissingRanges(const BlockIndex& index,
                                     const std::vector<std::int64_t>& found);

}  // namespace updater
