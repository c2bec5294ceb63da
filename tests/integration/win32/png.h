#pragma once
// A minimal PNG writer for screenshots: 8-bit RGB, the image data in stored (uncompressed)
// deflate blocks, so it needs no compression library. scripts/screenshots recompresses the
// copies kept in the repository.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace wholerun {

inline std::uint32_t Crc32(const std::string& bytes, std::uint32_t crc = 0) {
  crc = ~crc;
  for (const char ch : bytes) {
    crc ^= static_cast<unsigned char>(ch);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline void PutBig32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

inline void PutChunk(std::string& out, const char* type, const std::string& data) {
  PutBig32(out, static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  out += body;
  PutBig32(out, Crc32(body));
}

// rgb: width * height pixels, 3 bytes each, top row first.
inline std::string EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb) {
  std::string raw;  // each row behind its filter byte (0: none)
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    raw.append(reinterpret_cast<const char*>(rgb.data()) + static_cast<std::size_t>(y) * width * 3,
               static_cast<std::size_t>(width) * 3);
  }
  std::string z = "\x78\x01";  // deflate, 32 KiB window, no preset dictionary
  constexpr std::size_t kMaxStored = 65535;
  for (std::size_t pos = 0; pos < raw.size() || pos == 0; pos += kMaxStored) {
    const std::size_t n = std::min(kMaxStored, raw.size() - pos);
    const bool last = pos + n >= raw.size();
    z += static_cast<char>(last ? 1 : 0);
    z += static_cast<char>(n & 0xFF);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFF);
    z += static_cast<char>((~n >> 8) & 0xFF);
    z.append(raw, pos, n);
    if (last) break;
  }
  std::uint32_t a = 1, b = 0;  // Adler-32 of the uncompressed data
  for (const char ch : raw) {
    a = (a + static_cast<unsigned char>(ch)) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(z, (b << 16) | a);

  std::string header;
  PutBig32(header, static_cast<std::uint32_t>(width));
  PutBig32(header, static_cast<std::uint32_t>(height));
  header +=
      std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", z);
  PutChunk(png, "IEND", "");
  return png;
}

}  // namespace wholerun
