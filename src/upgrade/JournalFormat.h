#pragma once
// The undo journal's file: a header that names it, the length of its body and the body's
// CRC-32, then the body: whether the copies stand, and one line per entry. A journal is read
// whole or not at all: a file cut short, zero-filled by a power cut or written by anything else
// reads as nothing, and nothing is undone or removed on its word.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

struct JournalEntry {
  char op = 0;        // 'M' moved aside, 'C' created by the copy
  std::string aside;  // for 'M': its path in the undo folder ("folder\number")
  std::string path;
};

struct JournalContent {
  // True once the copies stand: what was moved aside is no longer wanted.
  bool committed = false;
  std::vector<JournalEntry> entries;
};

std::string SerializeJournal(const JournalContent& journal);
// Empty unless text is a whole journal with at least one entry, every line of it well formed.
std::optional<JournalContent> ParseJournal(std::string_view text);

std::uint32_t Crc32(std::string_view bytes);

}  // namespace updater
