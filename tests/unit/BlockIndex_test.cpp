// The block index is untrusted input read strictly; the block finder must find what the earlier
// package shares with the new one wherever it lies, and never claim a block it does not hold.
#include "upgrade/BlockIndex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace updater {
namespace {

constexpr std::uint32_t kBlock = 1024;

std::string Random(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random() & 0xFF);
  return out;
}

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

BlockIndex IndexOf(const std::string& package, std::uint32_t blockSize = kBlock) {
  BlockIndex index;
  index.release = "2.1";
  index.length = static_cast<std::int64_t>(package.size());
  index.sha256 = std::string(32, '\x5a');
  index.blockSize = blockSize;
  for (std::size_t at = 0; at < package.size(); at += blockSize) {
    const std::size_t n = std::min<std::size_t>(blockSize, package.size() - at);
    index.blocks.push_back({WeakSum(Bytes(package) + at, n), StrongSum(Bytes(package) + at, n)});
  }
  return index;
}

// The finder over an earlier package in memory, read in pieces as small as the reader likes.
std::vector<std::int64_t> Find(const BlockIndex& index, const std::string& old) {
  return FindBlocks(index, static_cast<std::int64_t>(old.size()),
                    [&](std::int64_t at, unsigned char* out, std::size_t size) {
                      const std::size_t from = static_cast<std::size_t>(at);
                      if (from >= old.size()) return std::size_t{0};
                      const std::size_t n = std::min({size, old.size() - from, std::size_t{777}});
                      std::memcpy(out, old.data() + from, n);
                      return n;
                    });
}

TEST(BlockFinder, FindsWhatTheEarlierPackageSharesWhereverItLies) {
  // Eight whole blocks and a last one of 100 bytes.
  const std::string pkg = Random(8 * kBlock + 100, 1);
  const std::string junk = Random(50, 2);
  std::string repeated = pkg;  // block 5 holds the bytes of block 1
  repeated.replace(5 * kBlock, kBlock, pkg.substr(kBlock, kBlock));
  std::string repeatedOld = repeated;
  repeatedOld.replace(5 * kBlock, kBlock, Random(kBlock, 3));
  std::string lastByteChanged = pkg;
  lastByteChanged.back() ^= 1;
  const std::string small = pkg.substr(0, 500);

  struct Row {
    const char* name;
    std::string package, old;
    std::vector<ByteRange> missing;
  };
  const Row rows[] = {
      {"the same", pkg, pkg, {}},
      {"inserted at the start", pkg, junk.substr(0, 7) + pkg, {}},
      {"removed at the start", pkg, pkg.substr(5), {{0, 1023}}},
      {"inserted in the middle",
       pkg,
       pkg.substr(0, 3000) + junk + pkg.substr(3000),
       {{2048, 3071}}},
      {"removed in the middle", pkg, pkg.substr(0, 3000) + pkg.substr(3050), {{2048, 3071}}},
      {"inserted at the end", pkg, pkg + junk, {}},
      {"removed at the end", pkg, pkg.substr(0, pkg.size() - 10), {{8192, 8291}}},
      {"blocks moved", pkg, pkg.substr(4096, 4096) + pkg.substr(0, 4096) + pkg.substr(8192), {}},
      {"a block repeated", repeated, repeatedOld, {}},
      {"the last partial block changed", pkg, lastByteChanged, {{8192, 8291}}},
      {"two changes, ranges apart",
       pkg,
       pkg.substr(0, 1500) + junk + pkg.substr(1500, 5000) + junk + pkg.substr(6500),
       {{1024, 2047}, {6144, 7167}}},
      {"adjacent changes in one range",
       pkg,
       pkg.substr(0, 1500) + junk + pkg.substr(2600),
       {{1024, 3071}}},
      {"an empty earlier package", pkg, "", {{0, 8291}}},
      {"a shorter earlier package", pkg, pkg.substr(0, 2500), {{2048, 8291}}},
      {"a longer earlier package", pkg, pkg + pkg, {}},
      {"nothing in common", pkg, Random(pkg.size(), 4), {{0, 8291}}},
      {"a package shorter than a block", small, junk + small, {}},
      {"a package shorter than a block, changed", small, small.substr(0, 400), {{0, 499}}},
      {"an empty package", "", pkg, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const BlockIndex index = IndexOf(row.package);
    const auto found = Find(index, row.old);
    ASSERT_EQ(found.size(), index.blocks.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (found[i] < 0) continue;
      // A block found is the block's bytes, never merely a checksum's.
      EXPECT_EQ(row.old.substr(static_cast<std::size_t>(found[i]), index.SizeOf(i)),
                row.package.substr(i * kBlock, index.SizeOf(i)))
          << "block " << i;
    }
    EXPECT_EQ(MissingRanges(index, found), row.missing);
  }
}

TEST(BlockFinder, AWeakChecksumThatMatchesAloneIsNoMatch) {
  // +1, -2, +1 on three bytes in a row keeps both of rsync's sums: only the strong one tells.
  std::string pkg = Random(2 * kBlock, 5);
  pkg.replace(10, 3, "ddd");
  std::string old = pkg;
  old.replace(10, 3, "ebe");
  const BlockIndex index = IndexOf(pkg);
  ASSERT_EQ(WeakSum(Bytes(old), kBlock), index.blocks[0].weak);
  EXPECT_EQ(MissingRanges(index, Find(index, old)), (std::vector<ByteRange>{{0, 1023}}));
}

TEST(BlockFinder, RollingGivesTheSumOfEveryWindow) {
  const std::string data = Random(5000, 6);
  std::uint32_t weak = WeakSum(Bytes(data), kBlock);
  for (std::size_t p = 1; p + kBlock <= data.size(); ++p) {
    weak = RollWeak(weak, Bytes(data)[p - 1], Bytes(data)[p + kBlock - 1], kBlock);
    ASSERT_EQ(weak, WeakSum(Bytes(data) + p, kBlock)) << p;
  }
}

TEST(BlockIndexFormat, AnIndexReadsBackAsWritten) {
  const BlockIndex index = IndexOf(Random(3 * kBlock + 1, 7));
  const auto read = ParseBlockIndex(WriteBlockIndex(index));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->release, "2.1");
  EXPECT_EQ(read->length, 3 * kBlock + 1);
  EXPECT_EQ(read->sha256, index.sha256);
  EXPECT_EQ(read->blockSize, kBlock);
  EXPECT_EQ(read->blocks, index.blocks);
  EXPECT_EQ(read->SizeOf(3), 1u);
  // An empty package has no blocks.
  EXPECT_TRUE(ParseBlockIndex(WriteBlockIndex(IndexOf(""))).has_value());
}

TEST(BlockIndexFormat, NothingButExactlyOneIndexReads) {
  const BlockIndex good = IndexOf(Random(2 * kBlock, 8));
  const std::string whole = WriteBlockIndex(good);
  const auto with = [&](auto change) {
    BlockIndex index = good;
    change(index);
    return WriteBlockIndex(index);
  };
  const auto patched = [&](std::size_t at, std::string bytes) {
    std::string out = whole;
    out.replace(at, bytes.size(), bytes);
    return out;
  };
  const std::string rows[] = {
      "",
      whole.substr(0, 57),                                 // a header cut short
      whole.substr(0, whole.size() - 1),                   // a block cut short
      whole + '\0',                                        // more behind the last block
      whole + std::string(12, '\0'),                       // a block more than the length has
      patched(0, "AUBLKIDY"),                              // another magic
      patched(8, std::string("\2\0\0\0", 4)),              // another format version
      with([](BlockIndex& i) { i.blockSize = 1000; }),     // not a power of two
      with([](BlockIndex& i) { i.blockSize = 512; }),      // too small
      with([](BlockIndex& i) { i.blockSize = 2 << 20; }),  // too large
      patched(16, std::string("\0\0\0\x80\0\0\0\0", 8)),   // longer than a download can be
      patched(16, std::string("\0\0\0\0\1\0\0\0", 8)),     // longer still: the count wraps
      with([](BlockIndex& i) { i.length += kBlock; }),     // a block fewer than the length
      with([](BlockIndex& i) { i.release = std::string(256, 'v'); }),
      patched(56, std::string("\xff\xff", 2)),  // a release longer than the index
      std::string(kMaxBlockIndex + 1, 'A'),
  };
  for (const std::string& bytes : rows) {
    EXPECT_FALSE(ParseBlockIndex(bytes).has_value()) << testing::PrintToString(bytes.substr(0, 64));
  }
}

}  // namespace
}  // namespace updater
