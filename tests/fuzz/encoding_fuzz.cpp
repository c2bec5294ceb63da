// Arbitrary reply bodies against the reader of the encoding declaration, which the Windows
// backend runs on every reply before MSXML sees it: what it finds must lie inside the
// declaration, and cutting it out must leave the rest of the body as it was.

#include <cstddef>
#include <cstdint>
#include <string>

#include "backends/common/encoding_declaration.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const auto found = updater::FindDeclaredEncoding(body);
  if (!found) return 0;
  const std::size_t end = body.find("?>");
  if (body.rfind("<?xml", 0) != 0 || end == std::string::npos) __builtin_trap();
  if (found->start < 5 || found->length == 0 || found->start + found->length > end) {
    __builtin_trap();
  }
  for (const char c : found->name) {
    if (c >= 'A' && c <= 'Z') __builtin_trap();
  }
  const std::string rest = updater::WithoutDeclaredEncoding(body, *found);
  if (rest.size() != body.size() - found->length ||
      rest.compare(0, found->start, body, 0, found->start) != 0 ||
      rest.compare(found->start, std::string::npos, body, found->start + found->length) != 0) {
    __builtin_trap();
  }
  return 0;
}
