// Arbitrary files against the undo journal's reader, which every start runs on what it finds:
// what reads as a journal writes back the same, and no single changed byte of it still reads.

#include <cstddef>
#include <cstdint>
#include <string>

#include "upgrade/JournalFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto journal = updater::ParseJournal(text);
  if (!journal) return 0;
  if (journal->entries.empty()) __builtin_trap();
  const std::string again = updater::SerializeJournal(*journal);
  const auto reread = updater::ParseJournal(again);
  if (!reread || reread->committed != journal->committed ||
      reread->entries.size() != journal->entries.size()) {
    __builtin_trap();
  }
  for (std::size_t i = 0; i < journal->entries.size(); ++i) {
    const auto& a = journal->entries[i];
    const auto& b = reread->entries[i];
    if (a.op != b.op || a.aside != b.aside || a.root != b.root || a.path != b.path)
      __builtin_trap();
  }
  std::string changed = again;
  const std::size_t at = (size * 7919u) % changed.size();
  changed[at] = static_cast<char>(changed[at] ^ (1 + data[size / 2] % 255));
  if (updater::ParseJournal(changed)) __builtin_trap();
  return 0;
}
