// Arbitrary bytes against the block index's reader, which every update by blocks runs on what
// the server sends: what reads as an index writes back byte for byte, and the block finder run
// with it over the same bytes as an earlier package claims only blocks it really holds.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "upgrade/BlockIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const auto index = updater::ParseBlockIndex(bytes);
  if (!index) return 0;
  if (updater::WriteBlockIndex(*index) != bytes) __builtin_trap();
  if (index->sha256.size() != 32 || index->length < 0) __builtin_trap();
  const auto found =
      updater::FindBlocks(*index, static_cast<std::int64_t>(size),
                          [&](std::int64_t at, unsigned char* out, std::size_t n) -> std::size_t {
                            const auto from = static_cast<std::size_t>(at);
                            if (from >= size) return 0;
                            const std::size_t got = n < size - from ? n : size - from;
                            std::memcpy(out, data + from, got);
                            return got;
                          });
  if (found.size() != index->blocks.size()) __builtin_trap();
  std::int64_t missing = 0;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (found[i] < 0) {
      missing += static_cast<std::int64_t>(index->SizeOf(i));
      continue;
    }
    const std::size_t n = index->SizeOf(i);
    if (static_cast<std::size_t>(found[i]) + n > size ||
        updater::StrongSum(data + found[i], n) != index->blocks[i].strong) {
      __builtin_trap();
    }
  }
  std::int64_t ranged = 0;
  for (const auto& r : updater::MissingRanges(*index, found)) ranged += r.last - r.first + 1;
  if (ranged != missing) __builtin_trap();
  return 0;
}
