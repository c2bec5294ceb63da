// Arbitrary server-list texts against the splitting the upgrade window fills its list from:
// every entry keeps both pieces, no piece holds a separator, and nothing is made up.

#include <cstddef>
#include <cstdint>
#include <string>

#include "upgrade/ServerList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto entries = updater::SplitServerList(text);
  std::size_t separators = 0;
  for (std::size_t at = 0; (at = text.find("||", at)) != std::string::npos; at += 2) ++separators;
  if (entries.size() > separators + 1) __builtin_trap();
  std::size_t total = 0;
  for (const auto& entry : entries) {
    for (const std::string* piece : {&entry.address, &entry.name}) {
      if (piece->find("||") != std::string::npos || piece->find("^^") != std::string::npos) {
        __builtin_trap();
      }
      if (text.find(*piece) == std::string::npos) __builtin_trap();
      total += piece->size();
    }
  }
  if (total > size) __builtin_trap();
  return 0;
}
