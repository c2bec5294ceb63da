#include "blocks.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace publish {

namespace fs = std::filesystem;

namespace {

const unsigned char* Bytes(const std::vector<char>& v) {
  return reinterpret_cast<const unsigned char*>(v.data());
}

// A RAR 5 variable-length integer at at; false when the header ends first.
bool ReadVint(std::string_view head, std::size_t& at, std::uint64_t& value) {
  value = 0;
  for (int shift = 0; at < head.size() && shift < 64; shift += 7) {
    const auto byte = static_cast<unsigned char>(head[at++]);
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

}  // namespace

updater::BlockIndex IndexPackage(const fs::path& path, const std::string& release) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  updater::BlockIndex index;
  index.release = release;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!md || EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("no SHA-256");
  }
  std::vector<char> block(index.blockSize);
  for (;;) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto n = static_cast<std::size_t>(in.gcount());
    if (n == 0) break;
    index.blocks.push_back(
        {updater::WeakSum(Bytes(block), n), updater::StrongSum(Bytes(block), n)});
    EVP_DigestUpdate(md.get(), block.data(), n);
    index.length += static_cast<std::int64_t>(n);
    if (n < block.size()) break;
  }
  if (in.bad()) throw std::runtime_error("cannot read " + path.string());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(md.get(), digest, &size);
  index.sha256.assign(reinterpret_cast<const char*>(digest), size);
  return index;
}

std::int64_t BytesToFetch(const updater::BlockIndex& index, const fs::path& earlier) {
  std::ifstream in(earlier, std::ios::binary);
  std::error_code error;
  const auto length = fs::file_size(earlier, error);
  if (!in || error) throw std::runtime_error("cannot read " + earlier.string());
  const auto found = updater::FindBlocks(
      index, static_cast<std::int64_t>(length),
      [&](std::int64_t at, unsigned char* out, std::size_t size) -> std::size_t {
        in.clear();
        in.seekg(at);
        in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
        return static_cast<std::size_t>(in.gcount());
      });
  std::int64_t fetched = 0;
  for (const auto& range : updater::MissingRanges(index, found)) {
    fetched += range.last - range.first + 1;
  }
  return fetched;
}

bool SolidRar(std::string_view head) {
  // RAR 4: the main header's flags (after its CRC and type 0x73); bit 0x0008 is solid.
  if (head.starts_with(std::string_view("Rar!\x1A\x07\x00", 7))) {
    return head.size() >= 12 && static_cast<unsigned char>(head[9]) == 0x73 &&
           (static_cast<unsigned char>(head[10]) & 0x08) != 0;
  }
  // RAR 5: CRC32, header size, type 1 (main), header flags, the optional extra and data sizes,
  // then the archive flags; bit 0x0004 is solid.
  if (head.starts_with(std::string_view("Rar!\x1A\x07\x01\x00", 8))) {
    std::size_t at = 12;
    std::uint64_t size = 0, type = 0, flags = 0, skip = 0, archive = 0;
    if (!ReadVint(head, at, size) || !ReadVint(head, at, type) || type != 1 ||
        !ReadVint(head, at, flags)) {
      return false;
    }
    if ((flags & 0x1) != 0 && !ReadVint(head, at, skip)) return false;
    if ((flags & 0x2) != 0 && !ReadVint(head, at, skip)) return false;
    return ReadVint(head, at, archive) && (archive & 0x4) != 0;
  }
  return false;
}

std::string Size(std::int64_t bytes) {
  char text[32];
  if (bytes >= (1 << 20)) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  } else if (bytes >= (1 << 10)) {
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / (1 << 10));
  } else {
    std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
  }
  return text;
}

}  // namespace publish
